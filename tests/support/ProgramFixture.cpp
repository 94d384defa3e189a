#include "support/ProgramFixture.h"

#include "store/ShareDM.h"
#include "support/GuiSteps.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"

#include <QTest>

ProgramFixture::ProgramFixture() = default;

ProgramFixture::~ProgramFixture() = default;

void ProgramFixture::init()
{
    m_database = std::make_unique<TestDatabase>();
    m_prompter = RecordingPrompter();
    m_prompterInForce = std::make_unique<ScopedPrompter>(m_prompter);
    m_modal = std::make_unique<ModalSteps>();
}

void ProgramFixture::cleanup()
{
    m_modal.reset();
    m_objects.reset();
    m_prompterInForce.reset();
    m_database.reset();
    QVERIFY(!FormMain && !ShareDataModule && !FormProgram);
    QCOMPARE(visibleTopLevelWindow(), QString());
}

void ProgramFixture::createObjects()
{
    m_objects = std::make_unique<AutoRunObjects>();
    m_objects->create(m_database->path());
    // As on a desktop whose user service manager answers: a scope of its own can be chosen.
    FormProgram->setScopeCheck([] { return QString(); });
}
