#include "support/ProgramFixture.h"

#include "report/ErrorReport.h"
#include "store/ShareDM.h"
#include "support/GuiSteps.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"

#include <QTest>
#include <QTimer>

ProgramFixture::ProgramFixture() = default;

ProgramFixture::~ProgramFixture() = default;

void ProgramFixture::init()
{
    m_database = std::make_unique<TestDatabase>();
    m_prompter = RecordingPrompter();
    m_prompterInForce = std::make_unique<ScopedPrompter>(m_prompter);
    m_modal = std::make_unique<ModalSteps>();
    m_launcher = std::make_unique<FakeLauncher>();
}

void ProgramFixture::cleanup()
{
    m_modal.reset();
    m_objects.reset();
    m_launcher.reset();
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

void ProgramFixture::start(const QList<std::tuple<QString, QVariant, QVariant>> &entries)
{
    QList<TestDatabase::Entry> rows;
    for (const auto &[name, time, count] : entries)
        rows.append({name, QString(QStringLiteral("-p ") + name), time, count});
    m_database->addEntries(rows);
    createObjects();
    FormMain->Timer1->stop();
    FormMain->setLauncher(m_launcher.get());
    FormMain->show();
}

void ProgramFixture::tick(int times)
{
    for (int i = 0; i < times; ++i)
        runHandler([] { FormMain->Timer1Timer(); });
}
