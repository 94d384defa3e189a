#include "report/ErrorReport.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "support/FakeLauncher.h"
#include "support/GuiSteps.h"
#include "support/ProgramFixture.h"
#include "support/TraceCapture.h"
#include "ui/DBGridEh.h"
#include "ui/MainForm.h"
#include "ui/WidgetPrompter.h"

#include <QAction>
#include <QApplication>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <sys/wait.h>

namespace {

// The engine's state after a tick: the process state, the ticks counted in the current run, the
// runs done of the current entry, the current entry's name and the run state.
struct EngineState
{
    QString process;
    int elapsed = 0;
    int runsDone = 0;
    QString entry;
    QString run;

    bool operator==(const EngineState &) const = default;
};

// Lets QCOMPARE print an engine state.
char *toString(const EngineState &state)
{
    return qstrdup(qUtf8Printable(QStringLiteral("%1, %2, %3, %4, %5")
                                      .arg(state.process)
                                      .arg(state.elapsed)
                                      .arg(state.runsDone)
                                      .arg(state.entry, state.run)));
}

} // namespace

Q_DECLARE_METATYPE(EngineState)

class TestEngine : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void tickByTick_data();
    void tickByTick();
    void launchRecord();
    void startAndStopSwitchButtons();
    void emptyListStopsOnFirstTick();
    void startAtEndOfData();
    void timeZeroOrNegative_data();
    void timeZeroOrNegative();
    void countZeroNegativeOrNull_data();
    void countZeroNegativeOrNull();
    void stopInMidRun();
    void anotherRowSelectedMidRun();
    void reloadMidRun();
    void closedListStops();
    void missingColumnIsReportedEachTick();
    void timerSettings();
    void ticksGoOnWhileABoxIsOpen();
    void realProgramOnRealTicks();

private:
    void start(const QList<std::tuple<QString, QVariant, QVariant>> &entries);
    void tick(int times = 1);
    EngineState state() const;

    std::unique_ptr<FakeLauncher> m_launcher;
};

void TestEngine::init()
{
    ProgramFixture::init();
    m_launcher = std::make_unique<FakeLauncher>();
}

// Fills the table with (name, time, count) entries and shows the main window on it, with the
// real timer held so that only the test ticks.
void TestEngine::start(const QList<std::tuple<QString, QVariant, QVariant>> &entries)
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

// Ticks as the timer does: an error ends the tick and goes to the report.
void TestEngine::tick(int times)
{
    for (int i = 0; i < times; ++i)
        runHandler([] { FormMain->Timer1Timer(); });
}

EngineState TestEngine::state() const
{
    Query *list = FormMain->ADOQuery1;
    const QString entry = list->isActive() && list->recordCount() > 0
        ? list->fieldByName(QStringLiteral("ProgramName")).asString()
        : QString();
    return {FormMain->ProcessState, FormMain->ElapsedTicks, FormMain->RunsDone, entry,
            FormMain->RunState};
}

// Two entries, A (3 s, twice) and B (1 s, once), run from the start: the state after each tick,
// what was launched so far and how many launches were ended.
void TestEngine::tickByTick_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<EngineState>("after");
    QTest::addColumn<QStringList>("launched");
    QTest::addColumn<int>("terminated");

    const QString open = QStringLiteral("打开");
    const QString closed = QStringLiteral("关闭");
    const QString running = QStringLiteral("运行");
    const QString A = QStringLiteral("A");
    const QString B = QStringLiteral("B");
    const QStringList a1 {A};
    const QStringList a2 {A, A};
    const QStringList b1 {A, A, B};
    const struct
    {
        EngineState after;
        QStringList launched;
        int terminated;
    } table[] = {
        {{open, 1, 0, A, running}, a1, 0},
        {{open, 2, 0, A, running}, a1, 0},
        {{open, 3, 0, A, running}, a1, 0},
        {{closed, 0, 1, A, running}, a1, 1},
        {{open, 1, 1, A, running}, a2, 1},
        {{open, 2, 1, A, running}, a2, 1},
        {{open, 3, 1, A, running}, a2, 1},
        {{closed, 0, 2, A, running}, a2, 2},
        {{closed, 0, 0, B, running}, a2, 2},
        {{open, 1, 0, B, running}, b1, 2},
        {{closed, 0, 1, B, running}, b1, 3},
        {{closed, 0, 0, B, running}, b1, 3},
        {{closed, 0, 0, B, QStringLiteral("停止")}, b1, 3},
    };
    int ticks = 0;
    for (const auto &row : table) {
        ++ticks;
        QTest::addRow("tick %d", ticks) << ticks << row.after << row.launched << row.terminated;
    }
}

void TestEngine::tickByTick()
{
    QFETCH(int, ticks);
    start({{QStringLiteral("A"), 3, 2}, {QStringLiteral("B"), 1, 1}});
    FormMain->ActionBegin->trigger();
    tick(ticks);
    QTEST(state(), "after");
    QTEST(m_launcher->launchedFiles(), "launched");
    QTEST(int(m_launcher->terminations.size()), "terminated");
    QCOMPARE(FormMain->DBGridEh1->currentRow(), FormMain->ADOQuery1->recNo());
    QVERIFY(m_prompter.errors.isEmpty());
    if (ticks >= 12)
        QVERIFY(FormMain->ADOQuery1->eof());
    if (ticks == 13) {
        QVERIFY(FormMain->SpeedButton4->isVisible());
        QVERIFY(!FormMain->SpeedButton5->isVisible());
        // Every launch was ended with its own handle.
        QCOMPARE(m_launcher->terminations, (QList<qint64> {100, 101, 102}));
    }
}

void TestEngine::launchRecord()
{
    start({{QStringLiteral("/usr/bin/prog"), 2, 1}});
    const qint64 key = m_database->addEntry(QStringLiteral("/usr/bin/程序"),
                                            QStringLiteral("'我的 文档' 2"), 2, 1);
    m_database->exec(QStringLiteral("UPDATE QZProgram SET ProgramParameter = NULL WHERE "
                                    "ProgramName = '/usr/bin/prog'"));
    FormMain->RefreshProgramList();
    FormMain->ActionBegin->trigger();
    tick();
    QCOMPARE(m_launcher->launches.size(), 1);
    const FakeLauncher::Launch &launch = m_launcher->launches.first();
    QCOMPARE(launch.file, QByteArray("/usr/bin/prog"));
    QCOMPARE(launch.parameters, QByteArray());
    QVERIFY(launch.verb.isEmpty());
    QVERIFY(launch.directory.isEmpty());
    QCOMPARE(launch.show, 5);
    QCOMPARE(FormMain->LaunchInfo.process.id, 100);

    // The second entry: its key names it in the trace, its texts go out as UTF-8 bytes.
    tick(4);
    QCOMPARE(m_launcher->launches.size(), 2);
    QCOMPARE(m_launcher->launches.last().entry, QString::number(key));
    QCOMPARE(m_launcher->launches.last().file, QByteArray("/usr/bin/\xE7\xA8\x8B\xE5\xBA\x8F"));
    QCOMPARE(m_launcher->launches.last().parameters,
             QByteArray("'\xE6\x88\x91\xE7\x9A\x84 \xE6\x96\x87\xE6\xA1\xA3' 2"));
}

void TestEngine::startAndStopSwitchButtons()
{
    start({{QStringLiteral("A"), 5, 1}});
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    QCOMPARE(FormMain->ProcessState, QStringLiteral("关闭"));
    FormMain->ActionBegin->trigger();
    QVERIFY(!FormMain->SpeedButton4->isVisible());
    QVERIFY(FormMain->SpeedButton5->isVisible());
    QCOMPARE(FormMain->RunState, QStringLiteral("运行"));
    QVERIFY(m_launcher->launches.isEmpty()); // the first launch waits for the next tick
    FormMain->ActionStop->trigger();
    QVERIFY(FormMain->SpeedButton4->isVisible());
    QVERIFY(!FormMain->SpeedButton5->isVisible());
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    tick(3);
    QVERIFY(m_launcher->launches.isEmpty());
}

void TestEngine::emptyListStopsOnFirstTick()
{
    start({});
    FormMain->ActionBegin->trigger();
    tick();
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    QVERIFY(FormMain->SpeedButton4->isVisible());
    QVERIFY(m_launcher->launches.isEmpty());
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestEngine::startAtEndOfData()
{
    start({{QStringLiteral("A"), 0, 1}, {QStringLiteral("B"), 0, 1}});
    FormMain->ActionBegin->trigger();
    tick(20);
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    QCOMPARE(m_launcher->launches.size(), 2);

    // Started again at the end: the next tick stops at once.
    FormMain->ActionBegin->trigger();
    tick();
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    QCOMPARE(m_launcher->launches.size(), 2);

    // Selecting the last row again does not help; an earlier one does.
    clickGridRow(FormMain->DBGridEh1, 1);
    FormMain->ActionBegin->trigger();
    tick();
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    clickGridRow(FormMain->DBGridEh1, 0);
    FormMain->ActionBegin->trigger();
    tick();
    QCOMPARE(FormMain->RunState, QStringLiteral("运行"));
    QCOMPARE(m_launcher->launchedFiles().last(), QStringLiteral("A"));
}

void TestEngine::timeZeroOrNegative_data()
{
    QTest::addColumn<int>("time");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -4;
}

void TestEngine::timeZeroOrNegative()
{
    QFETCH(int, time);
    start({{QStringLiteral("A"), time, 2}});
    FormMain->ActionBegin->trigger();
    // Each run is launched and ended on one tick: two runs, then the move, then the stop.
    tick();
    QCOMPARE(m_launcher->launches.size(), 1);
    QCOMPARE(m_launcher->terminations.size(), 1);
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("关闭"), 0, 1, QStringLiteral("A"), QStringLiteral("运行")}));
    tick();
    QCOMPARE(m_launcher->launches.size(), 2);
    QCOMPARE(m_launcher->terminations.size(), 2);
    tick(2);
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
}

void TestEngine::countZeroNegativeOrNull_data()
{
    QTest::addColumn<QVariant>("count");
    QTest::newRow("zero") << QVariant(0);
    QTest::newRow("negative") << QVariant(-3);
    QTest::newRow("NULL") << QVariant();
}

void TestEngine::countZeroNegativeOrNull()
{
    QFETCH(QVariant, count);
    start({{QStringLiteral("skipped"), 5, count}, {QStringLiteral("B"), 1, 1}});
    FormMain->ActionBegin->trigger();
    tick();
    QVERIFY(m_launcher->launches.isEmpty());
    QCOMPARE(state().entry, QStringLiteral("B"));
    tick();
    QCOMPARE(m_launcher->launchedFiles(), QStringList {QStringLiteral("B")});
}

void TestEngine::stopInMidRun()
{
    start({{QStringLiteral("A"), 1, 1}, {QStringLiteral("B"), 10, 3}});
    FormMain->ActionBegin->trigger();
    tick(4); // A runs and ends, the move to B, B is launched and counts one tick
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("打开"), 1, 0, QStringLiteral("B"), QStringLiteral("运行")}));
    FormMain->ActionStop->trigger();
    QCOMPARE(m_launcher->terminations.size(), 2);
    QCOMPARE(m_launcher->terminations.last(), m_launcher->launches.last().id);
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("关闭"), 0, 0, QStringLiteral("B"), QStringLiteral("停止")}));
    // The next start begins with the entry that was running.
    FormMain->ActionBegin->trigger();
    tick();
    QCOMPARE(m_launcher->launchedFiles().last(), QStringLiteral("B"));
}

void TestEngine::anotherRowSelectedMidRun()
{
    start(
        {{QStringLiteral("A"), 10, 1}, {QStringLiteral("B"), 10, 1}, {QStringLiteral("C"), 3, 1}});
    FormMain->ActionBegin->trigger();
    tick(4);
    QCOMPARE(state().elapsed, 4);
    clickGridRow(FormMain->DBGridEh1, 2);
    // C's time of 3 now governs the open launch of A, whose 4 ticks carry on.
    tick();
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("关闭"), 0, 1, QStringLiteral("C"), QStringLiteral("运行")}));
    QCOMPARE(m_launcher->launchedFiles(), QStringList {QStringLiteral("A")});
    QCOMPARE(m_launcher->terminations.size(), 1);
}

void TestEngine::reloadMidRun()
{
    start({{QStringLiteral("A"), 2, 1}, {QStringLiteral("B"), 10, 2}});
    FormMain->ActionBegin->trigger();
    tick(5); // A's run and the move, then B launched with one tick counted
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("打开"), 1, 0, QStringLiteral("B"), QStringLiteral("运行")}));
    QVERIFY(FormMain->RefreshProgramList());
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("打开"), 1, 0, QStringLiteral("A"), QStringLiteral("运行")}));
    tick(2); // A's time of 2 governs B's open launch from now on
    QCOMPARE(
        state(),
        (EngineState {QStringLiteral("关闭"), 0, 1, QStringLiteral("A"), QStringLiteral("运行")}));
    QCOMPARE(m_launcher->launchedFiles(), (QStringList {QStringLiteral("A"), QStringLiteral("B")}));
}

void TestEngine::closedListStops()
{
    start({{QStringLiteral("A"), 5, 1}});
    FormMain->ActionBegin->trigger();
    tick();
    m_database->exec(QStringLiteral("ALTER TABLE QZProgram RENAME TO Elsewhere"));
    QVERIFY(!FormMain->RefreshProgramList());
    tick();
    QCOMPARE(FormMain->RunState, QStringLiteral("停止"));
    QCOMPARE(m_launcher->terminations.size(), 1);
}

void TestEngine::missingColumnIsReportedEachTick()
{
    m_database->exec(QStringLiteral(
        "DROP TABLE QZProgram; CREATE TABLE QZProgram (ProgramIndex INTEGER PRIMARY KEY, "
        "ProgramName TEXT, ProgramParameter TEXT, ProgramTime INTEGER); "
        "INSERT INTO QZProgram (ProgramName, ProgramTime) VALUES ('A', 1)"));
    start({});
    FormMain->ActionBegin->trigger();
    tick(3);
    QCOMPARE(m_prompter.errorTexts(),
             QStringList(3, QStringLiteral("ADOQuery1: Field 'ProgramCount' not found.")));
    QCOMPARE(FormMain->RunState, QStringLiteral("运行"));
    QVERIFY(m_launcher->launches.isEmpty());
}

void TestEngine::timerSettings()
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

void TestEngine::ticksGoOnWhileABoxIsOpen()
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

// The whole chain with nothing faked: the timer's real seconds, a real program started and ended.
void TestEngine::realProgramOnRealTicks()
{
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("report"));
    qputenv("VANTREL_CHILD_REPORT", report.toUtf8());
    const auto restore = qScopeGuard([] { qunsetenv("VANTREL_CHILD_REPORT"); });
    const qint64 key = m_database->addEntry(QStringLiteral(VANTREL_TEST_CHILD),
                                            QStringLiteral("'one two' 3"), 1, 1);
    TraceCapture trace;
    createObjects();
    FormMain->show();
    FormMain->ActionBegin->trigger();

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 5000);
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression pidLine(QStringLiteral("^pid (\\d+)$"),
                                            QRegularExpression::MultilineOption);
    const pid_t pid = pidLine.match(text).captured(1).toInt();
    QVERIFY(pid > 1);
    // Only the standard descriptors: the database stayed with us.
    QCOMPARE(text.count(QStringLiteral("fd ")), 3);
    QVERIFY(
        text.contains(QStringLiteral("arg ") + QString::fromLatin1(QByteArray("one two").toHex())));

    // Ended after its one second, and collected: the id no longer names a child of ours.
    QTRY_VERIFY_WITH_TIMEOUT(FormMain->ProcessState == QStringLiteral("关闭"), 3000);
    siginfo_t state {};
    QTRY_COMPARE_WITH_TIMEOUT(::waitid(P_PID, id_t(pid), &state, WEXITED | WNOHANG | WNOWAIT), -1,
                              3000);
    QTRY_COMPARE_WITH_TIMEOUT(FormMain->RunState, QStringLiteral("停止"), 5000);
    QVERIFY(m_prompter.errors.isEmpty());

    // The trace says what ran, for which entry, and how it ended.
    const QString subject =
        QStringLiteral("entry %1 \"%2\"").arg(key).arg(QStringLiteral(VANTREL_TEST_CHILD));
    const QStringList lines = trace.lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0),
             QStringLiteral("vantrel.run: started %1 [\"one two\", \"3\"] pid %2")
                 .arg(subject)
                 .arg(pid));
    const QRegularExpression ended(
        QStringLiteral("^vantrel\\.run: ended %1 pid %2 after [0-9]+\\.[0-9] s: killed$")
            .arg(QRegularExpression::escape(subject))
            .arg(pid));
    QVERIFY2(ended.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
}

QTEST_MAIN(TestEngine)
#include "tst_engine.moc"
