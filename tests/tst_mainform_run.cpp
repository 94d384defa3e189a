#include "report/ErrorReport.h"
#include "run/ControlChannel.h"
#include "run/ScheduleRunner.h"
#include "store/Connection.h"
#include "store/Query.h"
#include "support/GuiSteps.h"
#include "support/ProgramFixture.h"
#include "ui/DBGridEh.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"
#include "ui/WidgetPrompter.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <future>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestMainFormRun : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void startAndStopSwitchButtons();
    void gridFollowsTheRun();
    void addingDuringARunKeepsItsPlace();
    void timerSettings();
    void ticksGoOnWhileABoxIsOpen();
    void startRefusedWhileAnotherRuns();
    void unreadableEntryReportedOnce();
    void commandsFromOutside();

private:
    QString currentEntry() const;
};

QString TestMainFormRun::currentEntry() const
{
    return FormMain->ADOQuery1->fieldByName(QStringLiteral("ProgramName")).asString();
}

void TestMainFormRun::startAndStopSwitchButtons()
{
    start({{QStringLiteral("A"), 5, 1}});
    QCOMPARE(FormMain->RunState(), QStringLiteral("停止"));
    QCOMPARE(FormMain->ProcessState(), QStringLiteral("关闭"));
    FormMain->ActionBegin->trigger();
    QVERIFY(!FormMain->SpeedButton4->isVisible());
    QVERIFY(FormMain->SpeedButton5->isVisible());
    QCOMPARE(FormMain->RunState(), QStringLiteral("运行"));
    QVERIFY(m_launcher->launches.isEmpty()); // the first launch waits for the next tick
    FormMain->ActionStop->trigger();
    QVERIFY(FormMain->SpeedButton4->isVisible());
    QVERIFY(!FormMain->SpeedButton5->isVisible());
    QCOMPARE(FormMain->RunState(), QStringLiteral("停止"));
    tick(3);
    QVERIFY(m_launcher->launches.isEmpty());
}

// The grid's current row is the run's entry, and Start shows again once the run stops by itself.
void TestMainFormRun::gridFollowsTheRun()
{
    start({{QStringLiteral("A"), 1, 1}, {QStringLiteral("B"), 1, 1}});
    FormMain->ActionBegin->trigger();
    for (int ticks = 1; ticks <= 7; ++ticks) {
        tick();
        QCOMPARE(FormMain->DBGridEh1->currentRow(), FormMain->ADOQuery1->recNo());
    }
    QCOMPARE(FormMain->RunState(), QStringLiteral("停止"));
    QVERIFY(FormMain->SpeedButton4->isVisible());
    QVERIFY(!FormMain->SpeedButton5->isVisible());
    QCOMPARE(m_launcher->launchedFiles(), (QStringList {QStringLiteral("A"), QStringLiteral("B")}));
}

// An entry added through the dialog while B runs: the list is read again, but B keeps its place,
// its ticks and its program, and the run goes on after it instead of starting over.
void TestMainFormRun::addingDuringARunKeepsItsPlace()
{
    start({{QStringLiteral("A"), 1, 1}, {QStringLiteral("B"), 4, 1}});
    FormMain->ActionBegin->trigger();
    tick(4); // A's run and the move, then B launched
    QCOMPARE(currentEntry(), QStringLiteral("B"));
    m_modal->whenModal([&] {
        tick(); // the timer goes on while the dialog is open
        FormProgram->Edit1->setText(QStringLiteral("C"));
        FormProgram->Edit2->setText(QStringLiteral("1"));
        FormProgram->ActionYes->trigger();
    });
    FormMain->ActionNew->trigger();
    QVERIFY(!m_modal->forcedClose());
    QCOMPARE(FormMain->ADOQuery1->recordCount(), 3);
    QCOMPARE(currentEntry(), QStringLiteral("B"));
    QCOMPARE(FormMain->DBGridEh1->currentRow(), 1);
    QCOMPARE(FormMain->ElapsedTicks(), 2);
    QCOMPARE(FormMain->ProcessState(), QStringLiteral("打开"));
    tick(2);
    QCOMPARE(m_launcher->terminations.size(), 1);
    tick(6);
    QCOMPARE(m_launcher->launchedFiles(),
             (QStringList {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
}

void TestMainFormRun::timerSettings()
{
    start({});
    m_objects.reset();
    createObjects();
    QVERIFY(FormMain->Timer1->isActive());
    QCOMPARE(FormMain->Timer1->interval(), 1000);
    QCOMPARE(FormMain->Timer1->timerType(), Qt::PreciseTimer);
    FormMain->setLauncher(m_launcher.get());
    FormMain->ActionBegin->trigger();
    FormMain->ActionStop->trigger();
    QVERIFY(FormMain->Timer1->isActive());
}

void TestMainFormRun::ticksGoOnWhileABoxIsOpen()
{
    start({{QStringLiteral("A"), 1, 1}});
    WidgetPrompter boxes;
    ScopedPrompter onScreen(boxes);
    FormMain->Timer1->setInterval(10);
    FormMain->Timer1->start();
    FormMain->ActionBegin->trigger();
    int launchesWhileOpen = -1;
    m_modal->whenModal([&] {
        QTRY_VERIFY(m_launcher->launches.size() == 1);
        launchesWhileOpen = int(m_launcher->launches.size());
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
    });
    ShowMessage(QStringLiteral("a box is open"));
    QCOMPARE(launchesWhileOpen, 1);
    QVERIFY(!m_modal->forcedClose());
}

// Another runner runs the schedule (here one in the same process, as the service or a second
// window would be): Start is refused with a box that names it, and works once it has stopped.
void TestMainFormRun::startRefusedWhileAnotherRuns()
{
    start({{QStringLiteral("A"), 5, 1}});
    Connection connection(m_database->path());
    Query list(QStringLiteral("ADOQuery1"));
    list.setConnection(&connection);
    ScheduleRunner other(&list);
    other.setLauncher(m_launcher.get());
    other.open(connection.databasePath());
    QVERIFY(other.reloadList());
    QVERIFY(!other.begin());

    FormMain->ActionBegin->trigger();
    QCOMPARE(m_prompter.messages,
             QStringList {QStringLiteral("另一个运行器正在运行这个日程：进程 %1（用户 %2，窗口），"
                                         "本窗口未开始运行")
                              .arg(::getpid())
                              .arg(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name))});
    QCOMPARE(FormMain->RunState(), QStringLiteral("停止"));
    QVERIFY(FormMain->SpeedButton4->isVisible());
    other.stop();
    FormMain->ActionBegin->trigger();
    QCOMPARE(FormMain->RunState(), QStringLiteral("运行"));
    FormMain->ActionStop->trigger();
}

// An entry whose time cannot be read is passed over on every round of a looping run, and the
// person is told so once.
void TestMainFormRun::unreadableEntryReportedOnce()
{
    start({{QStringLiteral("A"), 1, 1}, {QStringLiteral("bad"), 1, 1}});
    m_database->exec(
        QStringLiteral("UPDATE QZProgram SET ProgramTime = 'abc' WHERE ProgramIndex = 2"));
    QVERIFY(FormMain->RefreshProgramList());
    FormMain->engine().setLoop(true);
    FormMain->ActionBegin->trigger();
    for (int ticks = 0; ticks < 10; ++ticks) {
        tick();
        QCoreApplication::sendPostedEvents();
    }
    QCOMPARE(m_launcher->launchedFiles(), (QStringList {QStringLiteral("A"), QStringLiteral("A")}));
    QCOMPARE(
        m_prompter.errorTexts(),
        QStringList {QStringLiteral("'abc' is not a valid integer value for field 'ProgramTime'")});
    FormMain->ActionStop->trigger();
}

// Commands from outside, through the schedule's socket, show in the window as if given there: a
// pause, and Start again after a stop. Next and Pause are also in the grid's menu and on keys.
void TestMainFormRun::commandsFromOutside()
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const auto restore = qScopeGuard([] { qunsetenv("XDG_RUNTIME_DIR"); });
    start({{QStringLiteral("A"), 5, 2}});
    FormMain->ActionBegin->trigger();
    tick();
    const QString path = ControlChannel::socketPath(FileIdentity::ofPath(m_database->path()),
                                                    ControlChannel::Listener::Runner);
    // Asked from another thread, as another program asks, while this one serves.
    const auto ask = [&path](const QString &command) {
        std::future<ControlChannel::Answer> answer = std::async(std::launch::async, [&] {
            return ControlChannel::ask(path, {{u"command"_s, command}});
        });
        // The asking thread waits for its answer with a deadline of its own.
        while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
            QCoreApplication::processEvents();
        return answer.get().body;
    };
    QCOMPARE(ask(u"pause"_s).value(u"message"_s).toString(),
             u"paused the run; its program runs on"_s);
    QVERIFY(FormMain->pausedLabel()->isVisible());
    QCOMPARE(FormMain->ActionPause->text(), QStringLiteral("继续"));
    tick(10);
    QCOMPARE(FormMain->ElapsedTicks(), 1);

    FormMain->ActionPause->trigger();
    QVERIFY(!FormMain->pausedLabel()->isVisible());
    FormMain->ActionNext->trigger();
    QCOMPARE(FormMain->RunsDone(), 1);
    QCOMPARE(ask(u"status"_s).value(u"run"_s).toInt(), 2);

    QCOMPARE(ask(u"stop"_s).value(u"message"_s).toString(), u"stopped the run"_s);
    QVERIFY(FormMain->SpeedButton4->isVisible());
    QVERIFY(!FormMain->ActionNext->isEnabled());
    QCOMPARE(m_launcher->terminations.size(), 1);
}

QTEST_MAIN(TestMainFormRun)
#include "tst_mainform_run.moc"
