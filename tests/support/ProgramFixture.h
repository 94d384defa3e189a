#pragma once

#include "ModalSteps.h"
#include "RecordingPrompter.h"
#include "Startup.h"
#include "TestDatabase.h"

#include <memory>

// What the suites that run the program's windows stand on: a throw-away schedule database, a
// prompter that answers for the person, the program's three start-up objects on that database
// and the helper for modal windows. A suite derives from it and calls initFixture() and
// cleanupFixture() from its own init() and cleanup().
class ProgramFixture
{
public:
    ProgramFixture();
    ~ProgramFixture();
    ProgramFixture(const ProgramFixture &) = delete;
    ProgramFixture &operator=(const ProgramFixture &) = delete;

protected:
    void initFixture();
    // Ends what the test made, then fails the test when the program's objects outlived it or a
    // top-level window was left open.
    void cleanupFixture();
    // Creates the main window, the data module and the hidden entry dialog on the database.
    void createObjects();

    std::unique_ptr<TestDatabase> m_database;
    RecordingPrompter m_prompter;
    std::unique_ptr<AutoRunObjects> m_objects;
    std::unique_ptr<ModalSteps> m_modal;

private:
    std::unique_ptr<ScopedPrompter> m_prompterInForce;
};
