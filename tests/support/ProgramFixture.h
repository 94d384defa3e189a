#pragma once

#include "app/Startup.h"
#include "support/FakeLauncher.h"
#include "support/ModalSteps.h"
#include "support/RecordingPrompter.h"
#include "support/TestDatabase.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <tuple>

// What the suites that run the program's windows stand on: a throw-away schedule database, a
// prompter that answers for the person, the program's three start-up objects on that database
// and the helper for modal windows, and a fake launcher for the window's runs. A suite derives from
// it; Qt Test runs its init() and cleanup() around each test, or the suite's own, which call them.
class ProgramFixture : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgramFixture)

public:
    ProgramFixture();
    ~ProgramFixture() override;

protected Q_SLOTS:
    void init();
    // Ends what the test made, then fails the test when the program's objects outlived it or a
    // top-level window was left open.
    void cleanup();

protected:
    // Creates the main window, the data module and the hidden entry dialog on the database.
    void createObjects();
    // Fills the schedule with (name, time, count) entries and shows the main window on it, its
    // programs started by the fake launcher and its timer held so that only the test ticks.
    void start(const QList<std::tuple<QString, QVariant, QVariant>> &entries);
    // Ticks as the timer does: an error ends the tick and goes to the report.
    static void tick(int times = 1);

    std::unique_ptr<TestDatabase> m_database;
    RecordingPrompter m_prompter;
    std::unique_ptr<AutoRunObjects> m_objects;
    std::unique_ptr<ModalSteps> m_modal;
    std::unique_ptr<FakeLauncher> m_launcher;

private:
    std::unique_ptr<ScopedPrompter> m_prompterInForce;
};
