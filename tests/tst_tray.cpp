#include "run/ScheduleRunner.h"
#include "support/ProgramFixture.h"
#include "ui/MainForm.h"
#include "ui/RunTray.h"
#include "ui/WindowSettings.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

class TestTray : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void menuDrivesTheRun();
    void toolTip_data();
    void toolTip();
    void closingTheWindow_data();
    void closingTheWindow();

private:
    void trigger(const QString &text);

    QTemporaryDir m_config;
    RunTray *m_tray = nullptr;
};

void TestTray::initTestCase()
{
    // The settings go to a folder of the test's own, never the person's.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(u"vantrel-tests"_s);
}

void TestTray::init()
{
    ProgramFixture::init();
    QSettings().clear();
    m_tray = nullptr;
}

void TestTray::cleanup()
{
    QApplication::setQuitOnLastWindowClosed(true);
    ProgramFixture::cleanup();
}

// Chooses the entry of the tray's menu that reads so, as a person does.
void TestTray::trigger(const QString &text)
{
    for (QAction *action : m_tray->menu()->actions()) {
        if (action->text() == text) {
            QVERIFY2(action->isEnabled(), qPrintable(text + u" is disabled"_s));
            action->trigger();
            return;
        }
    }
    QFAIL(qPrintable(u"the tray's menu has no "_s + text));
}

// Each command of the menu, then what the run, the window's buttons, the menu and the icon show.
void TestTray::menuDrivesTheRun()
{
    start({{u"A"_s, 5, 2}, {u"B"_s, 5, 1}});
    m_tray = new RunTray(FormMain, false);
    struct Step
    {
        const char *command;
        int ticks;
        bool running;
        bool paused;
        int launches;
        int runsDone;
        const char *beginOrStop;
        TrayState state;
    };
    const Step steps[] = {
        {"开始运行", 2, true, false, 1, 0, "停止运行", TrayState::Running},
        {"下一个", 1, true, false, 2, 1, "停止运行", TrayState::Running},
        {"暂停", 3, true, true, 2, 1, "停止运行", TrayState::Paused},
        {"继续", 0, true, false, 2, 1, "停止运行", TrayState::Running},
        {"停止运行", 2, false, false, 2, 0, "开始运行", TrayState::Stopped},
        {"开始运行", 1, true, false, 3, 0, "停止运行", TrayState::Running},
    };
    int elapsedBefore = 0;
    for (const Step &step : steps) {
        const QString command = QString::fromUtf8(step.command);
        trigger(command);
        if (step.paused)
            elapsedBefore = FormMain->ElapsedTicks();
        tick(step.ticks);
        const QByteArray where = u"after "_s.append(command).toUtf8();
        QVERIFY2(FormMain->engine().isRunning() == step.running, where);
        QVERIFY2(FormMain->engine().isPaused() == step.paused, where);
        QVERIFY2(FormMain->SpeedButton5->isVisible() == step.running, where);
        QVERIFY2(FormMain->SpeedButton4->isVisible() != step.running, where);
        QVERIFY2(FormMain->pausedLabel()->isVisible() == step.paused, where);
        QVERIFY2(m_launcher->launches.size() == step.launches, where);
        QVERIFY2(FormMain->RunsDone() == step.runsDone, where);
        QVERIFY2(m_tray->beginOrStopAction()->text() == QString::fromUtf8(step.beginOrStop), where);
        QVERIFY2(m_tray->state() == step.state, where);
        if (step.paused)
            QVERIFY2(FormMain->ElapsedTicks() == elapsedBefore, where);
    }
    // The run stopped by the tray started at its first entry again, as Start does.
    QCOMPARE(m_launcher->launchedFiles(), (QStringList {u"A"_s, u"A"_s, u"A"_s}));
}

void TestTray::toolTip_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("begin");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<bool>("pause");
    QTest::addColumn<QString>("expected");

    QTest::newRow("stopped") << 2 << false << false << 0 << false << u"已停止"_s;
    QTest::newRow("begun, before the first tick")
        << 2 << false << true << 0 << false << u"正在运行\n条目 1（A）"_s;
    QTest::newRow("running, seconds left")
        << 2 << false << true << 2 << false
        << u"正在运行\n条目 1（A）\n第 1 次，共 2 次，还剩 3 秒"_s;
    QTest::newRow("second run") << 2 << false << true << 8 << false
                                << u"正在运行\n条目 1（A）\n第 2 次，共 2 次，还剩 3 秒"_s;
    QTest::newRow("paused") << 2 << false << true << 3 << true
                            << u"已暂停\n条目 1（A）\n第 1 次，共 2 次，还剩 2 秒"_s;
    QTest::newRow("waiting for entries")
        << 0 << true << true << 1 << false << u"正在等待可运行的条目：日程中没有条目"_s;
}

void TestTray::toolTip()
{
    QFETCH(int, entries);
    QFETCH(bool, loop);
    QFETCH(bool, begin);
    QFETCH(int, ticks);
    QFETCH(bool, pause);
    QFETCH(QString, expected);

    QList<std::tuple<QString, QVariant, QVariant>> schedule;
    if (entries > 0)
        schedule = {{u"A"_s, 5, 2}, {u"B"_s, 5, 1}};
    start(schedule);
    FormMain->runner().setLoop(loop);
    m_tray = new RunTray(FormMain, false);
    if (begin)
        FormMain->ActionBegin->trigger();
    tick(ticks);
    if (pause)
        FormMain->ActionPause->trigger();
    QCOMPARE(m_tray->toolTip(), FormMain->windowTitle() + u'\n' + expected);
}

void TestTray::closingTheWindow_data()
{
    QTest::addColumn<bool>("desktopHasTray");
    QTest::addColumn<bool>("keepInTray");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("kept");

    QTest::newRow("during a run, kept in the tray") << true << true << true << true;
    QTest::newRow("during a run, setting off") << true << false << true << false;
    QTest::newRow("no run") << true << true << false << false;
    QTest::newRow("no tray on the desktop") << false << true << true << false;
}

// Kept: the window hides, the run goes on, and 显示窗口 brings it back. Otherwise it closes as
// it always has.
void TestTray::closingTheWindow()
{
    QFETCH(bool, desktopHasTray);
    QFETCH(bool, keepInTray);
    QFETCH(bool, running);
    QFETCH(bool, kept);

    start({{u"A"_s, 2, 1}, {u"B"_s, 2, 1}});
    m_tray = new RunTray(FormMain, desktopHasTray);
    // The menu's setting, as the person sets it, is what the next start reads too.
    if (m_tray->keepInTrayAction()->isChecked() != keepInTray)
        m_tray->keepInTrayAction()->trigger();
    QCOMPARE(WindowSettings::keepInTray(), keepInTray);
    if (running)
        FormMain->ActionBegin->trigger();
    tick();

    QCOMPARE(FormMain->close(), !kept);
    QVERIFY(!FormMain->isVisible());
    QCOMPARE(QApplication::quitOnLastWindowClosed(), !kept);
    QCOMPARE(FormMain->engine().isRunning(), running);
    if (!kept)
        return;
    tick(4);
    QCOMPARE(m_launcher->launchedFiles(), (QStringList {u"A"_s, u"B"_s}));
    trigger(u"显示窗口"_s);
    QVERIFY(FormMain->isVisible());
    QVERIFY(QApplication::quitOnLastWindowClosed());
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
