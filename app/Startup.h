#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <memory>

struct CommandLine;
class TFormMain;
class TFormProgram;
class TShareDataModule;

// The three long-lived objects of the program, created in their fixed order and owned until
// the program ends.
class AutoRunObjects final
{
public:
    AutoRunObjects();
    ~AutoRunObjects();
    AutoRunObjects(const AutoRunObjects &) = delete;
    AutoRunObjects &operator=(const AutoRunObjects &) = delete;

    // Creates the main window, the data module (opening the database) and the hidden entry
    // dialog, in that order, and opens the schedule for the window's runs.
    void create(const QString &databasePath);

private:
    std::unique_ptr<TFormMain> m_formMain;
    std::unique_ptr<TShareDataModule> m_dataModule;
    std::unique_ptr<TFormProgram> m_formProgram;
};

// The text of the box that reports an error escaping the start-up sequence.
QString startupFailureText(const std::exception &error);

// Runs the start-up sequence, then the event loop. An error escaping the start-up sequence is
// shown in the "Application Error" box and ends the program with exit code 1.
int runGuarded(const std::function<void()> &startUp, const std::function<int()> &eventLoop);

// The window on the database: the application, the three objects, the run begun at once when
// the command line says so, and the event loop. Gives the exit status.
int runWindow(int &argc, char **argv, const CommandLine &line, const QString &program,
              const QString &databasePath);
