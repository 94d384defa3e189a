#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What the program was asked to do on its command line. Without options it opens the window on
// the built-in schedule, as it always has.
struct CommandLine
{
    enum class Action {
        Window,
        Headless,
        Autostart,
        RemoveAutostart,
        Timetable,
        RemoveTimetable,
        History,
        Import,
        // Commands to the runner of the schedule.
        Status,
        Next,
        Pause,
        Resume,
        Stop,
        Help,
        Version
    };

    Action action = Action::Window;
    // The schedule database as given (made absolute); empty for the one the program was built for.
    QString database;
    // Open the window and begin the run at once.
    bool start = false;
    // After the last entry begin again at the first, until stopped.
    bool loop = false;
    // The calendars (systemd's) on which timers begin and end a run; empty for none.
    QString at;
    QString until;
    // With --at or --until: the timers start and stop the user service instead of the window's
    // run.
    bool headless = false;
    // The key of the entry to begin at (with a run), or whose history to show.
    std::optional<qint64> from;
    // How to print the history ("table", "csv" or "json") or a runner's answer ("text", "json").
    QString format = QStringLiteral("table");
    // The Jet file to import, and whether to write nothing.
    QString importFile;
    bool dryRun = false;

    // The options that make another start of the program do the same run (for the autostart
    // entry): --start, and --loop, --from and --database when they were given.
    QStringList runOptions() const;
    // Whether the command line asks the runner of the schedule something.
    bool steers() const { return action >= Action::Status && action <= Action::Stop; }
    // The options that make another start of the program stop that run (for the timers): --stop,
    // and --database when it was given.
    QStringList stopOptions() const;
};

// Reads the arguments (the program's name first). Options of the toolkit's own (such as
// -platform NAME) are left for the window and are not an error. Gives the reason a command line
// cannot be used instead.
std::variant<CommandLine, QString> parseCommandLine(const QStringList &arguments);

// The text that --help prints, for a program of that name.
QString commandLineHelp(const QString &programName);

// What the program says when the entry a run is to begin at is not in the schedule, and when
// another program holds the schedule it is to read.
QString noEntryToBeginAt(qint64 key);
QString scheduleHeldText();
