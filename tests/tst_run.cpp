#include "engine/OutputLog.h"
#include "engine/ProcessLauncher.h"
#include "engine/ProcessTable.h"
#include "report/ErrorReport.h"
#include "run/HistoryRecorder.h"
#include "run/RunEngine.h"
#include "run/RunHistory.h"
#include "run/ScheduleRunner.h"
#include "store/Connection.h"
#include "store/FileIdentity.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "support/FakeLauncher.h"
#include "support/RecordingPrompter.h"
#include "support/TestDatabase.h"
#include "support/TraceCapture.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The engine's state after a tick: the process state, the ticks counted in the current run, the
// runs done of the current entry, the current entry's name and the run state.
struct EngineState
{
    RunEngine::ProcessState process = RunEngine::ProcessState::Closed;
    int elapsed = 0;
    int runsDone = 0;
    QString entry;
    RunEngine::RunState run = RunEngine::RunState::Stopped;

    bool operator==(const EngineState &) const = default;
};

// Lets QCOMPARE print an engine state.
char *toString(const EngineState &state)
{
    const auto key = [](auto value) {
        return QString::fromLatin1(QMetaEnum::fromType<decltype(value)>().valueToKey(int(value)));
    };
    return qstrdup(qUtf8Printable(QStringLiteral("%1, %2, %3, %4, %5")
                                      .arg(key(state.process))
                                      .arg(state.elapsed)
                                      .arg(state.runsDone)
                                      .arg(state.entry, key(state.run))));
}

constexpr auto open = RunEngine::ProcessState::Open;
constexpr auto closed = RunEngine::ProcessState::Closed;
constexpr auto running = RunEngine::RunState::Running;
constexpr auto stopped = RunEngine::RunState::Stopped;

} // namespace

Q_DECLARE_METATYPE(EngineState)
Q_DECLARE_METATYPE(RunRecord)

// The run engine on its own: a schedule database, the list query as its cursor, a fake launcher
// (a real one where it says so) and the tick called directly.
class TestRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void tickByTick_data();
    void tickByTick();
    void launchRecord();
    void emptyList_data();
    void emptyList();
    void startAtEndOfData();
    void timeZeroOrNegative_data();
    void timeZeroOrNegative();
    void countZeroNegativeOrNull_data();
    void countZeroNegativeOrNull();
    void unreadableValues_data();
    void unreadableValues();
    void stopInMidRun();
    void anotherRowSelectedMidRun();
    void reloadMidRun_data();
    void reloadMidRun();
    void loop();
    void closedListStops();
    void missingColumnIsReportedOnce_data();
    void missingColumnIsReportedOnce();
    void reloadKeepsARealProgramRunning();
    void realProgramOnRealTicks();
    void historyOfEachEnding_data();
    void historyOfEachEnding();
    void fileHeldByAnotherProgram();
    void recordWrittenBeforeTheStart();
    void historyAtTheEnd_data();
    void historyAtTheEnd();
    void leftRunning_data();
    void leftRunning();
    void followsTheSchedule_data();
    void followsTheSchedule();
    void oneRunnerPerSchedule_data();
    void oneRunnerPerSchedule();
    void commandsFromOutside_data();
    void commandsFromOutside();
    void nextOnAProgramThatCannotBeEnded();
    void optionsOnTicks_data();
    void optionsOnTicks();

private:
    // Fills the table with (name, time, count) entries and loads the list.
    void start(const QList<std::tuple<QString, QVariant, QVariant>> &entries);
    void tick(int times = 1);
    void select(int row);
    EngineState state() const;
    // The schedule's run as the window and the run without a window own it, on the same list and
    // launcher, with its history; replaces the bare engine for the test.
    ScheduleRunner &runner();

    // The state folder, which holds the logs of the entries' output.
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<Query> m_list;
    std::unique_ptr<FakeLauncher> m_launcher;
    // The engine under test: a bare one, or the runner's once a test asks for the runner.
    std::unique_ptr<RunEngine> m_bareEngine;
    RunEngine *m_engine = nullptr;
    std::unique_ptr<ScheduleRunner> m_runner;
    RecordingPrompter m_prompter;
    std::unique_ptr<ScopedPrompter> m_prompterInForce;
};

void TestRun::init()
{
    m_state = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_state->path()));
    m_database = std::make_unique<TestDatabase>();
    m_connection = std::make_unique<Connection>(m_database->path());
    m_list = std::make_unique<Query>(QStringLiteral("ADOQuery1"));
    m_list->setConnection(m_connection.get());
    m_launcher = std::make_unique<FakeLauncher>();
    m_bareEngine = std::make_unique<RunEngine>(m_list.get(), m_launcher.get());
    m_engine = m_bareEngine.get();
    m_prompter = RecordingPrompter();
    m_prompterInForce = std::make_unique<ScopedPrompter>(m_prompter);
}

void TestRun::cleanup()
{
    m_prompterInForce.reset();
    m_runner.reset();
    m_engine = nullptr;
    m_bareEngine.reset();
    m_launcher.reset();
    m_list.reset();
    m_connection.reset();
    m_database.reset();
}

void TestRun::start(const QList<std::tuple<QString, QVariant, QVariant>> &entries)
{
    QList<TestDatabase::Entry> rows;
    for (const auto &[name, time, count] : entries)
        rows.append({name, QString(QStringLiteral("-p ") + name), time, count});
    m_database->addEntries(rows);
    QVERIFY(m_engine->reloadList());
}

// Ticks as the timer does: an error ends the tick and goes to the report.
void TestRun::tick(int times)
{
    for (int i = 0; i < times; ++i) {
        if (m_runner)
            runHandler([this] { m_runner->tick(); });
        else
            runHandler([this] { m_engine->tick(); });
    }
}

ScheduleRunner &TestRun::runner()
{
    if (!m_runner) {
        m_runner = std::make_unique<ScheduleRunner>(m_list.get());
        m_runner->setLauncher(m_launcher.get());
        m_runner->open(m_database->path());
        m_engine = &m_runner->engine();
    }
    return *m_runner;
}

// Makes a row the current entry, as a click on the grid does.
void TestRun::select(int row)
{
    m_list->first();
    m_list->moveBy(row);
}

EngineState TestRun::state() const
{
    const QString entry = m_list->isActive() && m_list->recordCount() > 0
        ? m_list->fieldByName(QStringLiteral("ProgramName")).asString()
        : QString();
    return {m_engine->processState(), m_engine->elapsedTicks(), m_engine->runsDone(), entry,
            m_engine->runState()};
}

// Two entries, A (3 s, twice) and B (1 s, once), run from the start: the state after each tick,
// what was launched so far and how many launches were ended.
void TestRun::tickByTick_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<EngineState>("after");
    QTest::addColumn<QStringList>("launched");
    QTest::addColumn<int>("terminated");

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
        {{open, 1, 0, A, running}, a1, 0},   {{open, 2, 0, A, running}, a1, 0},
        {{open, 3, 0, A, running}, a1, 0},   {{closed, 0, 1, A, running}, a1, 1},
        {{open, 1, 1, A, running}, a2, 1},   {{open, 2, 1, A, running}, a2, 1},
        {{open, 3, 1, A, running}, a2, 1},   {{closed, 0, 2, A, running}, a2, 2},
        {{closed, 0, 0, B, running}, a2, 2}, {{open, 1, 0, B, running}, b1, 2},
        {{closed, 0, 1, B, running}, b1, 3}, {{closed, 0, 0, B, running}, b1, 3},
        {{closed, 0, 0, B, stopped}, b1, 3},
    };
    int ticks = 0;
    for (const auto &row : table) {
        ++ticks;
        QTest::addRow("tick %d", ticks) << ticks << row.after << row.launched << row.terminated;
    }
}

void TestRun::tickByTick()
{
    QFETCH(int, ticks);
    start({{QStringLiteral("A"), 3, 2}, {QStringLiteral("B"), 1, 1}});
    QSignalSpy runStates(m_engine, &RunEngine::runStateChanged);
    m_engine->begin();
    tick(ticks);
    QTEST(state(), "after");
    QTEST(m_launcher->launchedFiles(), "launched");
    QTEST(int(m_launcher->terminations.size()), "terminated");
    QVERIFY(m_prompter.errors.isEmpty());
    if (ticks >= 12)
        QVERIFY(m_list->eof());
    if (ticks == 13) {
        // The run said so when it stopped by itself, so that a window shows Start again.
        QCOMPARE(runStates.size(), 2);
        QCOMPARE(runStates.last().value(0).toBool(), false);
        // Every launch was ended with its own handle.
        QCOMPARE(m_launcher->terminations, (QList<qint64> {100, 101, 102}));
    }
}

void TestRun::launchRecord()
{
    m_database->addEntry(QStringLiteral("/usr/bin/prog"), QVariant(), 2, 1);
    const qint64 key = m_database->addEntry(QStringLiteral("/usr/bin/程序"),
                                            QStringLiteral("'我的 文档' 2"), 2, 1);
    QVERIFY(m_engine->reloadList());
    QSignalSpy launched(m_engine, &RunEngine::runLaunched);
    m_engine->begin();
    tick();
    QCOMPARE(m_launcher->launches.size(), 1);
    const FakeLauncher::Launch &launch = m_launcher->launches.first();
    QCOMPARE(launch.file, QByteArray("/usr/bin/prog"));
    QCOMPARE(launch.parameters, QByteArray());
    QVERIFY(launch.directory.isEmpty());
    QCOMPARE(m_engine->launchInfo().process.id, 100);

    // The second entry: its key names it in the trace, its texts go out as UTF-8 bytes.
    tick(4);
    QCOMPARE(m_launcher->launches.size(), 2);
    QCOMPARE(m_launcher->launches.last().entry, QString::number(key));
    QCOMPARE(m_launcher->launches.last().file, QByteArray("/usr/bin/\xE7\xA8\x8B\xE5\xBA\x8F"));
    QCOMPARE(m_launcher->launches.last().parameters,
             QByteArray("'\xE6\x88\x91\xE7\x9A\x84 \xE6\x96\x87\xE6\xA1\xA3' 2"));
    QCOMPARE(launched.size(), 2);
    QCOMPARE(launched.last(), (QVariantList {QString::number(key), 1, 1}));
}

// An empty list stops the run on its first tick; a looping run waits for entries instead, runs
// them once there are some, and waits again when they are gone, its program ended.
void TestRun::emptyList_data()
{
    QTest::addColumn<bool>("loop");
    QTest::newRow("stops on its first tick") << false;
    QTest::newRow("looping: waits, then runs what is added") << true;
}

void TestRun::emptyList()
{
    QFETCH(bool, loop);
    start({});
    m_engine->setLoop(loop);
    QSignalSpy waiting(m_engine, &RunEngine::waitingChanged);
    m_engine->begin();
    tick(3);
    QVERIFY(m_launcher->launches.isEmpty());
    QVERIFY(m_prompter.errors.isEmpty());
    if (!loop) {
        QCOMPARE(m_engine->runState(), stopped);
        QVERIFY(waiting.isEmpty());
        return;
    }
    QCOMPARE(m_engine->runState(), running);
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(m_engine->waitingFor(), u"the schedule has no entries"_s);

    m_database->addEntry(u"A"_s, QString(), 5, 1);
    QVERIFY(m_engine->reloadList());
    tick();
    QCOMPARE(m_launcher->launchedFiles(), QStringList {u"A"_s});
    QVERIFY(m_engine->waitingFor().isEmpty());
    m_database->exec(u"DELETE FROM QZProgram"_s);
    QVERIFY(m_engine->reloadList());
    tick();
    QCOMPARE(m_launcher->terminations.size(), 1);
    QCOMPARE(m_engine->runState(), running);
    QCOMPARE(waiting.size(), 3);
}

void TestRun::startAtEndOfData()
{
    start({{QStringLiteral("A"), 0, 1}, {QStringLiteral("B"), 0, 1}});
    m_engine->begin();
    tick(20);
    QCOMPARE(m_engine->runState(), stopped);
    QCOMPARE(m_launcher->launches.size(), 2);

    // Started again at the end: the next tick stops at once.
    m_engine->begin();
    tick();
    QCOMPARE(m_engine->runState(), stopped);
    QCOMPARE(m_launcher->launches.size(), 2);

    // Selecting the last row again does not help; an earlier one does.
    m_list->moveBy(0);
    m_engine->begin();
    tick();
    QCOMPARE(m_engine->runState(), stopped);
    select(0);
    m_engine->begin();
    tick();
    QCOMPARE(m_engine->runState(), running);
    QCOMPARE(m_launcher->launchedFiles().last(), QStringLiteral("A"));
}

void TestRun::timeZeroOrNegative_data()
{
    QTest::addColumn<int>("time");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -4;
}

void TestRun::timeZeroOrNegative()
{
    QFETCH(int, time);
    start({{QStringLiteral("A"), time, 2}});
    m_engine->begin();
    // Each run is launched and ended on one tick: two runs, then the move, then the stop.
    tick();
    QCOMPARE(m_launcher->launches.size(), 1);
    QCOMPARE(m_launcher->terminations.size(), 1);
    QCOMPARE(state(), (EngineState {closed, 0, 1, QStringLiteral("A"), running}));
    tick();
    QCOMPARE(m_launcher->launches.size(), 2);
    QCOMPARE(m_launcher->terminations.size(), 2);
    tick(2);
    QCOMPARE(m_engine->runState(), stopped);
}

void TestRun::countZeroNegativeOrNull_data()
{
    QTest::addColumn<QVariant>("count");
    QTest::newRow("zero") << QVariant(0);
    QTest::newRow("negative") << QVariant(-3);
    QTest::newRow("NULL") << QVariant();
}

void TestRun::countZeroNegativeOrNull()
{
    QFETCH(QVariant, count);
    start({{QStringLiteral("skipped"), 5, count}, {QStringLiteral("B"), 1, 1}});
    m_engine->begin();
    tick();
    QVERIFY(m_launcher->launches.isEmpty());
    QCOMPARE(state().entry, QStringLiteral("B"));
    tick();
    QCOMPARE(m_launcher->launchedFiles(), QStringList {QStringLiteral("B")});
}

// A run time or count that another tool stored and that does not fit: the entry starts nothing,
// leaves a record that says why, is reported once in a run, and the run goes on with the next
// entry; a program it had running is ended, not left running.
void TestRun::unreadableValues_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("error");

    QTest::newRow("time beyond 64 bits' half")
        << QStringLiteral("ProgramTime") << QStringLiteral("9223372036854775807")
        << QStringLiteral("'9223372036854775807' is not a valid "
                          "integer value for field "
                          "'ProgramTime'");
    QTest::newRow("count beyond 32 bits")
        << QStringLiteral("ProgramCount") << QStringLiteral("3000000000")
        << QStringLiteral("'3000000000' is not a valid integer "
                          "value for field 'ProgramCount'");
    QTest::newRow("time as text") << QStringLiteral("ProgramTime") << QStringLiteral("'abc'")
                                  << QStringLiteral("'abc' is not a valid integer value for field "
                                                    "'ProgramTime'");
}

void TestRun::unreadableValues()
{
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, error);
    start({{u"A"_s, 1, 1}, {u"bad"_s, 1, 1}, {u"C"_s, 1, 1}});
    m_database->exec(QStringLiteral("UPDATE QZProgram SET %1 = %2 WHERE ProgramName = 'bad'")
                         .arg(column, value));
    QVERIFY(m_engine->reloadList());
    QSignalSpy ended(m_engine, &RunEngine::runEnded);
    QSignalSpy problems(m_engine, &RunEngine::problem);
    m_engine->setLoop(true);
    m_engine->begin();
    // Two rounds: A's launch, end and move, the bad entry's one tick, C's three, back to A.
    tick(16);
    QCOMPARE(m_launcher->launchedFiles(), (QStringList {u"A"_s, u"C"_s, u"A"_s, u"C"_s}));
    QCOMPARE(m_engine->runState(), running);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.first().first().toString(), error);
    QCOMPARE(ended.size(), 6);
    const auto record = qvariant_cast<RunRecord>(ended.at(1).at(1));
    QCOMPARE(record.program, QByteArray("bad"));
    QCOMPARE(int(record.ending), int(RunRecord::Ending::NotStarted));
    QCOMPARE(record.detail, error);
    QVERIFY(m_prompter.errors.isEmpty());

    // The same value arriving while the entry's program runs: that program is ended.
    tick();
    QCOMPARE(m_engine->processState(), open);
    m_database->exec(
        QStringLiteral("UPDATE QZProgram SET %1 = %2 WHERE ProgramName = 'A'").arg(column, value));
    QVERIFY(m_engine->reloadList());
    tick();
    QCOMPARE(m_engine->processState(), closed);
    QCOMPARE(m_launcher->terminations.last(), m_launcher->launches.last().id);
    QCOMPARE(state().entry, u"bad"_s);
}

void TestRun::stopInMidRun()
{
    start({{QStringLiteral("A"), 1, 1}, {QStringLiteral("B"), 10, 3}});
    m_engine->begin();
    tick(4); // A runs and ends, the move to B, B is launched and counts one tick
    QCOMPARE(state(), (EngineState {open, 1, 0, QStringLiteral("B"), running}));
    m_engine->stop();
    QCOMPARE(m_launcher->terminations.size(), 2);
    QCOMPARE(m_launcher->terminations.last(), m_launcher->launches.last().id);
    QCOMPARE(state(), (EngineState {closed, 0, 0, QStringLiteral("B"), stopped}));
    // The next start begins with the entry that was running.
    m_engine->begin();
    tick();
    QCOMPARE(m_launcher->launchedFiles().last(), QStringLiteral("B"));
}

void TestRun::anotherRowSelectedMidRun()
{
    start(
        {{QStringLiteral("A"), 10, 1}, {QStringLiteral("B"), 10, 1}, {QStringLiteral("C"), 3, 1}});
    m_engine->begin();
    tick(4);
    QCOMPARE(state().elapsed, 4);
    select(2);
    // C's time of 3 now governs the open launch of A, whose 4 ticks carry on.
    tick();
    QCOMPARE(state(), (EngineState {closed, 0, 1, QStringLiteral("C"), running}));
    QCOMPARE(m_launcher->launchedFiles(), QStringList {QStringLiteral("A")});
    QCOMPARE(m_launcher->terminations.size(), 1);
}

// A reload in the middle of B's first run (A 2 s once, B 4 s twice, C 1 s once): what another
// program or the window changed, and where the run is then. The running entry keeps its place,
// counters and program; when it is gone, its program is ended and the run goes on after it.
void TestRun::reloadMidRun_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("duringRun");
    QTest::addColumn<EngineState>("after");
    QTest::addColumn<int>("terminated");
    QTest::addColumn<QStringList>("launchedNext");

    const QString A = QStringLiteral("A");
    const QString B = QStringLiteral("B");
    const QString C = QStringLiteral("C");
    const QString D = QStringLiteral("D");
    const QString addD = QStringLiteral("INSERT INTO QZProgram (ProgramName, ProgramTime, "
                                        "ProgramCount) VALUES ('D', 1, 1)");

    QTest::newRow("an entry added")
        << addD << true << EngineState {open, 1, 0, B, running} << 1 << QStringList {A, B, B, C, D};
    QTest::newRow("the running entry changed")
        << QStringLiteral("UPDATE QZProgram SET ProgramParameter = 'x' WHERE ProgramName = 'B'")
        << true << EngineState {open, 1, 0, B, running} << 1 << QStringList {A, B, B, C};
    QTest::newRow("an entry before it deleted")
        << QStringLiteral("DELETE FROM QZProgram WHERE ProgramName = 'A'") << true
        << EngineState {open, 1, 0, B, running} << 1 << QStringList {A, B, B, C};
    QTest::newRow("an entry put before it")
        << QStringLiteral("UPDATE QZProgram SET ProgramIndex = -1 WHERE ProgramName = 'C'") << true
        << EngineState {open, 1, 0, B, running} << 1 << QStringList {A, B, B};
    QTest::newRow("the running entry deleted")
        << QStringLiteral("DELETE FROM QZProgram WHERE ProgramName = 'B'") << true
        << EngineState {closed, 0, 0, C, running} << 2 << QStringList {A, B, C};
    QTest::newRow("it and the one after deleted")
        << QStringLiteral("DELETE FROM QZProgram WHERE ProgramName IN ('B', 'C'); ") + addD << true
        << EngineState {closed, 0, 0, D, running} << 2 << QStringList {A, B, D};
    QTest::newRow("every entry from it on deleted")
        << QStringLiteral("DELETE FROM QZProgram WHERE ProgramName <> 'A'") << true
        << EngineState {closed, 0, 0, A, running} << 2 << QStringList {A, B};
    QTest::newRow("stopped: the first entry")
        << addD << false << EngineState {closed, 0, 0, A, stopped} << 2
        << QStringList {A, B, A, B, B, C, D};
}

void TestRun::reloadMidRun()
{
    QFETCH(QString, change);
    QFETCH(bool, duringRun);
    QFETCH(EngineState, after);
    start({{QStringLiteral("A"), 2, 1}, {QStringLiteral("B"), 4, 2}, {QStringLiteral("C"), 1, 1}});
    m_engine->begin();
    tick(5); // A's run and the move, then B launched with one tick counted
    QCOMPARE(state(), (EngineState {open, 1, 0, QStringLiteral("B"), running}));
    if (!duringRun)
        m_engine->stop();
    m_database->exec(change);
    QVERIFY(m_engine->reloadList());
    QCOMPARE(state(), after);
    QTEST(int(m_launcher->terminations.size()), "terminated");

    // The rest of the run from there.
    m_engine->begin();
    tick(30);
    QCOMPARE(m_engine->runState(), stopped);
    QTEST(m_launcher->launchedFiles(), "launchedNext");
    QCOMPARE(m_launcher->terminations.size(), m_launcher->launches.size());
}

// Looping: after the last entry's move, one tick goes back to the first, the next launches it.
void TestRun::loop()
{
    start({{QStringLiteral("A"), 1, 1}, {QStringLiteral("B"), 1, 1}});
    m_engine->setLoop(true);
    m_engine->begin();
    tick(6); // A: launch, end, move; B: launch, end, move past the last entry
    QVERIFY(m_list->eof());
    tick();
    QCOMPARE(state(), (EngineState {closed, 0, 0, QStringLiteral("A"), running}));
    QCOMPARE(m_launcher->launches.size(), 2);
    tick();
    QCOMPARE(m_launcher->launchedFiles(),
             (QStringList {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("A")}));
    tick(14); // twice round again
    QCOMPARE(m_launcher->launches.size(), 7);
    m_engine->stop();
    QCOMPARE(m_launcher->terminations.size(), 7);
}

void TestRun::closedListStops()
{
    start({{QStringLiteral("A"), 5, 1}});
    m_engine->begin();
    tick();
    m_database->exec(QStringLiteral("ALTER TABLE QZProgram RENAME TO Elsewhere"));
    QVERIFY(!m_engine->reloadList());
    tick();
    QCOMPARE(m_engine->runState(), stopped);
    QCOMPARE(m_launcher->terminations.size(), 1);
}

// A list that lacks a column a run reads cannot be run: that is said once; the run stops, or,
// looping, waits until the table has the column again.
void TestRun::missingColumnIsReportedOnce_data()
{
    QTest::addColumn<bool>("loop");
    QTest::newRow("stops") << false;
    QTest::newRow("looping: waits for the column") << true;
}

void TestRun::missingColumnIsReportedOnce()
{
    QFETCH(bool, loop);
    m_database->exec(QStringLiteral(
        "DROP TABLE QZProgram; CREATE TABLE QZProgram (ProgramIndex INTEGER PRIMARY KEY, "
        "ProgramName TEXT, ProgramParameter TEXT, ProgramTime INTEGER); "
        "INSERT INTO QZProgram (ProgramName, ProgramTime) VALUES ('A', 1)"));
    start({});
    QSignalSpy problems(m_engine, &RunEngine::problem);
    m_engine->setLoop(loop);
    m_engine->begin();
    tick(3);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.first().first().toString(), u"ADOQuery1: Field 'ProgramCount' not found"_s);
    QCOMPARE(m_engine->runState(), loop ? running : stopped);
    QVERIFY(m_launcher->launches.isEmpty());
    if (!loop)
        return;
    m_database->exec(u"ALTER TABLE QZProgram ADD COLUMN ProgramCount INTEGER DEFAULT 1"_s);
    QVERIFY(m_engine->reloadList());
    tick();
    QCOMPARE(m_launcher->launchedFiles(), QStringList {u"A"_s});
}

// An entry added during a real program's run: the program runs on to its own time, once.
void TestRun::reloadKeepsARealProgramRunning()
{
    ProcessLauncher launcher;
    m_engine->setLauncher(&launcher);
    m_database->addEntry(QStringLiteral("sleep"), QStringLiteral("1"), 0, 1);
    m_database->addEntry(QStringLiteral("sleep"), QStringLiteral("60"), 4, 1);
    QVERIFY(m_engine->reloadList());
    m_engine->begin();
    tick(4); // the first entry's run and the move, then the second launched, 2 ticks counted
    const auto pid = static_cast<pid_t>(m_engine->launchInfo().process.id);
    QVERIFY(pid > 1);
    const qint64 added = m_database->addEntry(QStringLiteral("sleep"), QStringLiteral("60"), 1, 1);
    QVERIFY(m_engine->reloadList());
    tick();
    QCOMPARE(::kill(pid, 0), 0);
    QCOMPARE(m_engine->elapsedTicks(), 3);
    tick(2);
    // Ended at its own time, and the entry after it follows rather than the first.
    siginfo_t state {};
    QTRY_COMPARE_WITH_TIMEOUT(::waitid(P_PID, id_t(pid), &state, WEXITED | WNOHANG | WNOWAIT), -1,
                              5000);
    tick(2);
    QCOMPARE(m_engine->processState(), open);
    QCOMPARE(m_engine->launchInfo().entry, QString::number(added));
    m_engine->stop();
}

// The whole chain with nothing faked: a real timer's seconds, a real program started and ended.
void TestRun::realProgramOnRealTicks()
{
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("report"));
    qputenv("VANTREL_CHILD_REPORT", report.toUtf8());
    const auto restore = qScopeGuard([] { qunsetenv("VANTREL_CHILD_REPORT"); });
    const qint64 key = m_database->addEntry(QStringLiteral(VANTREL_TEST_CHILD),
                                            QStringLiteral("'one two' 3"), 1, 1);
    TraceCapture trace;
    ProcessLauncher launcher;
    m_engine->setLauncher(&launcher);
    QVERIFY(m_engine->reloadList());
    QTimer timer;
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, [this] { tick(); });
    timer.start();
    m_engine->begin();

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
    // Its run's id, by which what it leaves is found again, in its environment.
    QVERIFY(text.contains(u"\nrunid "_s + QString::fromLatin1(m_engine->launchInfo().runId)));

    // Ended after its one second, and collected: the id no longer names a child of ours.
    QTRY_VERIFY_WITH_TIMEOUT(m_engine->processState() == closed, 3000);
    siginfo_t state {};
    QTRY_COMPARE_WITH_TIMEOUT(::waitid(P_PID, id_t(pid), &state, WEXITED | WNOHANG | WNOWAIT), -1,
                              3000);
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->runState(), stopped, 5000);
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

// Every way a run can end, with real programs: the record each leaves in the history. A row names
// the program and its parameters, the entry's options (as sqlite3 would set them), the entry's
// time, whether the run is stopped after its first tick, and the record expected: its ending,
// status, detail, and the least and most it lived.
void TestRun::historyOfEachEnding_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("time");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<bool>("refuseKill");
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");

    using Ending = RunRecord::Ending;
    QTest::newRow("exits 0") << u"sh"_s << u"-c 'exit 0'"_s << QString() << 2 << false << false
                             << int(Ending::Exited) << 0 << QString();
    QTest::newRow("exits 3") << u"sh"_s << u"-c 'exit 3'"_s << QString() << 2 << false << false
                             << int(Ending::Exited) << 3 << QString();
    QTest::newRow("killed by a signal")
        << u"sh"_s << u"-c 'kill -TERM $$'"_s << QString() << 2 << false << false
        << int(Ending::Signal) << int(SIGTERM) << QString();
    QTest::newRow("cannot start") << u"/nonexistent/program"_s << QString() << QString() << 2
                                  << false << false << int(Ending::NotStarted) << -1
                                  << u"no such file"_s;
    QTest::newRow("ended at its time") << u"sleep"_s << u"60"_s << QString() << 2 << false << false
                                       << int(Ending::AtTime) << -1 << QString();
    QTest::newRow("stopped") << u"sleep"_s << u"60"_s << QString() << 5 << true << false
                             << int(Ending::Stopped) << -1 << QString();
    QTest::newRow("cannot be ended") << u"sleep"_s << u"60"_s << QString() << 2 << false << true
                                     << int(Ending::NotEnded) << -1 << u"Operation not permitted"_s;
    const QString child = QStringLiteral(VANTREL_TEST_CHILD);
    QTest::newRow("output kept: its last error lines")
        << u"sh"_s << u"-c 'echo out; echo first >&2; echo second >&2; echo third >&2; exit 3'"_s
        << u"KeepOutput = 1"_s << 2 << false << false << int(Ending::Exited) << 3
        << u"second\nthird"_s;
    QTest::newRow("the folder and environment its entry gives")
        << u"sh"_s << u"-c 'echo \"$PWD $VANTREL_TEST_A$HOME\" >&2; exit 1'"_s
        << u"WorkingDirectory = '/tmp', KeepOutput = 1, "
           "Environment = 'VANTREL_TEST_A=one' || char(10) || 'HOME='"_s
        << 2 << false << false << int(Ending::Exited) << 1 << u"/tmp one"_s;
    QTest::newRow("grace: it leaves when asked")
        << child << QString() << u"EndGrace = 3, Environment = 'VANTREL_CHILD_MODE=trapterm'"_s << 1
        << false << false << int(Ending::AtTime) << -1 << u"it left when asked, with status 0"_s;
    QTest::newRow("grace: it ignores the request")
        << child << QString() << u"EndGrace = 1, Environment = 'VANTREL_CHILD_MODE=ignoreterm'"_s
        << 1 << false << false << int(Ending::AtTime) << -1
        << u"it did not end within its grace and was killed"_s;
    // As on a machine without a session bus, and so without a user service manager.
    QTest::newRow("own scope: none to be had")
        << u"sleep"_s << u"60"_s << u"OwnScope = 1"_s << 1 << false << false << int(Ending::AtTime)
        << -1
        << u"it runs without a scope of its own: no session bus: neither "
           "DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set"_s;
}

void TestRun::historyOfEachEnding()
{
    QFETCH(QString, program);
    QFETCH(QString, parameters);
    QFETCH(QString, options);
    QFETCH(int, time);
    QFETCH(bool, stop);
    QFETCH(bool, refuseKill);
    QFETCH(int, ending);
    QFETCH(int, status);
    QFETCH(QString, detail);

    // The kill refused as the kernel refuses it for another user's program.
    ProcessLauncher launcher([refuseKill](qint64 target, int signal) {
        if (refuseKill && signal == SIGKILL)
            return EPERM;
        return ::kill(pid_t(target), signal) == 0 ? 0 : errno;
    });
    runner().setLauncher(&launcher);
    HistoryRecorder &history = *runner().history();
    const qint64 key = m_database->addEntry(program, parameters, time, 1);
    if (!options.isEmpty())
        m_database->exec(u"INSERT INTO QZProgramOption (ProgramIndex) VALUES (%1); "
                         "UPDATE QZProgramOption SET %2 WHERE ProgramIndex = %1"_s.arg(key)
                             .arg(options));
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] {
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        qputenv("XDG_RUNTIME_DIR", runtime);
        qunsetenv("VANTREL_CHILD_REPORT");
    });
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("XDG_RUNTIME_DIR");
    const QString report = m_state->filePath(u"report"_s);
    qputenv("VANTREL_CHILD_REPORT", QFile::encodeName(report));
    QVERIFY(runner().reloadList());
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(!runner().begin());
    tick();
    const auto pid = static_cast<pid_t>(m_engine->launchInfo().process.id);
    // The stand-in program is ready for a request to end once it has said how it was started.
    if (program == QStringLiteral(VANTREL_TEST_CHILD))
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 5000);
    if (ending == int(RunRecord::Ending::Exited) || ending == int(RunRecord::Ending::Signal)) {
        // Gone before its time is up, and seen to go.
        siginfo_t state {};
        QTRY_VERIFY_WITH_TIMEOUT(::waitid(P_PID, id_t(pid), &state, WEXITED | WNOHANG | WNOWAIT)
                                         == 0
                                     && state.si_pid == pid,
                                 5000);
        QCoreApplication::processEvents();
    }
    if (stop)
        runner().stop();
    else
        tick(time);
    // One given a grace is waited for.
    QTRY_VERIFY_WITH_TIMEOUT(!m_engine->isEnding(), 5000);
    history.flush();

    Connection reader(m_database->path());
    std::vector<RunRecord> records = RunHistory::read(reader);
    QCOMPARE(records.size(), size_t(1));
    RunRecord record = records.front();
    QCOMPARE(record.entry, QString::number(key));
    QCOMPARE(record.program, program.toUtf8());
    QCOMPARE(record.parameters, parameters.toUtf8());
    QCOMPARE(int(record.ending), ending);
    QCOMPARE(record.status.value_or(-1), status);
    QCOMPARE(record.detail, detail);
    QVERIFY(record.startedMs >= before && record.startedMs <= QDateTime::currentMSecsSinceEpoch());
    QVERIFY(record.lifetimeMs >= 0 && record.lifetimeMs < 5000);
    QVERIFY(!record.collectedMs);
    // What finds the program again if its runner dies: its run's id, its process and start.
    QCOMPARE(record.runId.size(), 32);
    QCOMPARE(record.process, ending == int(RunRecord::Ending::NotStarted) ? 0 : qint64(pid));
    QCOMPARE(record.processStart != 0, record.process != 0);
    if (options.contains(u"KeepOutput = 1")) {
        // Both of its outputs in its entry's log, after a line naming the run.
        const FileIdentity file = FileIdentity::ofPath(m_database->path());
        QFile log(OutputLog::pathFor(file.device, file.number, record.entry));
        QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
        const QByteArray text = log.readAll();
        QVERIFY2(text.contains(u"pid %1"_s.arg(pid).toUtf8())
                     && text.endsWith(QByteArray(record.detail.toUtf8() + "\n")),
                 text.constData());
    }

    if (refuseKill) {
        // Collected once someone who may ends it, and the record says when.
        QCOMPARE(::kill(pid, SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT((history.flush(), records = RunHistory::read(reader),
                                  records.front().collectedMs.has_value()),
                                 5000);
        QCOMPARE(int(records.front().ending), ending);
        QVERIFY(*records.front().collectedMs >= record.startedMs);
    }
    runner().stop();
}

// Another program holds the file: the ticks go on at once, since they read only the list already
// in memory; the history cannot be written, which the trace says once, and its records are
// written once the file is free again.
void TestRun::fileHeldByAnotherProgram()
{
    HistoryRecorder &history = *runner().history();
    start({{QStringLiteral("A"), 0, 3}, {QStringLiteral("B"), 0, 2}});
    TraceCapture trace;
    std::unique_ptr<HeldFile> lock = m_database->hold();
    QVERIFY(!runner().begin());
    QElapsedTimer ticking;
    ticking.start();
    tick(8);
    const qint64 spent = ticking.elapsed();
    QCOMPARE(m_launcher->launches.size(), 5);
    QCOMPARE(m_launcher->terminations.size(), 5);
    QVERIFY(m_prompter.errors.isEmpty() && m_prompter.messages.isEmpty());
    // Each record waits a quarter of a second for the file in vain; on the ticks' thread that
    // would have been more than a second.
    QVERIFY2(spent < 1000, qPrintable(QString::number(spent)));
    QTRY_COMPARE_WITH_TIMEOUT(trace.lines().size(), 1, 5000);
    QVERIFY2(trace.lines().constFirst().contains(u"cannot write the run history into "_s),
             qPrintable(trace.lines().constFirst()));
    // The records wait to be written: the line does not say that nothing was saved.
    QVERIFY2(trace.lines().constFirst().contains(u": another program is using it; "_s),
             qPrintable(trace.lines().constFirst()));
    lock.reset();
    Connection reader(m_database->path());
    QTRY_COMPARE_WITH_TIMEOUT((history.flush(), RunHistory::read(reader).size()), size_t(5), 15000);
    QCOMPARE(trace.lines().size(), 2); // and once that it is written again
    for (const RunRecord &record : RunHistory::read(reader))
        QCOMPARE(int(record.ending), int(RunRecord::Ending::AtTime));
}

// A program starts only once its run's record is in the file, saying that it runs, so that a
// runner that dies at any moment leaves no program unrecorded; the record then follows the run.
void TestRun::recordWrittenBeforeTheStart()
{
    HistoryRecorder &history = *runner().history();
    start({{u"A"_s, 1, 1}});
    Connection reader(m_database->path());
    std::vector<RunRecord> atLaunch;
    m_launcher->onLaunch = [&] {
        atLaunch = RunHistory::read(reader);
    };
    QVERIFY(!runner().begin());
    tick();
    QCOMPARE(atLaunch.size(), size_t(1));
    QCOMPARE(int(atLaunch.front().ending), int(RunRecord::Ending::Running));
    QCOMPARE(atLaunch.front().runId, m_launcher->launches.first().runId);
    QCOMPARE(atLaunch.front().process, 0);
    history.flush();
    QCOMPARE(RunHistory::read(reader).front().process, m_launcher->launches.first().id);
    tick(2);
    history.flush();
    const std::vector<RunRecord> after = RunHistory::read(reader);
    QCOMPARE(after.size(), size_t(1));
    QCOMPARE(int(after.front().ending), int(RunRecord::Ending::AtTime));
}

// Records that wait because another program holds the file when the runner ends: written if the
// file is free by then, else the trace says how many could not be.
void TestRun::historyAtTheEnd_data()
{
    QTest::addColumn<bool>("freed");
    QTest::newRow("the file freed before the end: written") << true;
    QTest::newRow("held to the end: the trace says how many are lost") << false;
}

void TestRun::historyAtTheEnd()
{
    QFETCH(bool, freed);
    TraceCapture trace;
    std::unique_ptr<HeldFile> lock = m_database->hold();
    {
        HistoryRecorder history(m_database->path());
        RunRecord record;
        record.entry = u"1"_s;
        record.program = "sleep";
        history.record(1, record);
        history.record(2, record);
        QTRY_VERIFY_WITH_TIMEOUT(!trace.lines().isEmpty(), 5000);
        if (freed)
            lock.reset();
    }
    lock.reset();
    Connection reader(m_database->path());
    QCOMPARE(RunHistory::read(reader).size(), size_t(freed ? 2 : 0));
    QCOMPARE(
        trace.lines().last().endsWith(u"2 records of the run history could not be written into "_s
                                      + m_database->path() + u" before the end"),
        !freed);
}

// Records left running by a runner that is gone: what is left of their programs is ended, matched
// by process id and start time or by the run's id, never a process that only reuses the id, and
// the records say the runs were interrupted. A runner that is alive, or of another machine, is
// left alone.
void TestRun::leftRunning_data()
{
    QTest::addColumn<QString>("runner");
    QTest::addColumn<QString>("process");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("detail");

    const QString interrupted = u"interrupted"_s;
    QTest::newRow("runner gone: its program ended")
        << "gone"
        << "known" << true << interrupted << u"killed 1 process it left running"_s;
    QTest::newRow("runner gone, its program's id now another's: untouched")
        << "gone"
        << "reused" << false << interrupted << u"nothing of it was running any more"_s;
    QTest::newRow("runner gone before it wrote the program's id: found by the run's id")
        << "gone"
        << "unknown" << true << interrupted << u"killed 1 process it left running"_s;
    QTest::newRow("runner gone: what its program put in a session of its own ended too")
        << "gone"
        << "escaped" << true << interrupted << u"killed 2 processes it left running"_s;
    QTest::newRow("runner of an earlier boot: nothing signalled")
        << "earlier boot"
        << "known" << false << interrupted << u"the machine has started again since"_s;
    QTest::newRow("runner alive: left alone") << "alive"
                                              << "known" << false << u"running"_s << "";
    QTest::newRow("runner of another machine: left alone")
        << "other machine"
        << "known" << false << u"running"_s << "";
}

void TestRun::leftRunning()
{
    QFETCH(QString, runner);
    QFETCH(QString, process);
    QFETCH(bool, ended);
    QFETCH(QString, ending);
    QFETCH(QString, detail);
    ProcessLauncher launcher;
    LaunchInfo program;
    program.file = "sleep";
    program.parameters = "60";
    program.runId = "0123456789abcdef0123456789abcdef";
    // The stand-in program starts a child that leaves its group for a session of its own.
    const QString report = m_state->filePath(u"report"_s);
    if (process == u"escaped") {
        program.file = VANTREL_TEST_CHILD;
        program.parameters.clear();
        program.environment = {"VANTREL_CHILD_MODE=setsid",
                               "VANTREL_CHILD_REPORT=" + report.toUtf8()};
    }
    launcher.launch(program);
    const auto pid = pid_t(program.process.id);
    QVERIFY(pid > 1);
    const auto reap = qScopeGuard([&] { launcher.terminate(program.process); });
    pid_t escaped = 0;
    if (process == u"escaped") {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 5000);
        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("grandchild "))
                escaped = pid_t(line.mid(11).toInt());
        }
        QVERIFY(escaped > 1);
    }

    RunRecord record;
    record.entry = u"1"_s;
    record.program = "sleep";
    record.ending = RunRecord::Ending::Running;
    record.runId = process == u"reused" ? QByteArray("another run") : program.runId;
    record.process = process == u"unknown" ? 0 : pid;
    record.processStart =
        process == u"known" || process == u"escaped" ? program.startTicks : program.startTicks + 1;
    const ProcessIdentity self = ProcessTable::self();
    const QByteArray boot = ProcessTable::bootIdentity();
    const QByteArray machine = boot.left(boot.indexOf('/'));
    const QByteArray runners[] = {ProcessTable::describe({self.pid, self.startTicks + 1}),
                                  ProcessTable::describe(self), machine + "/earlier:1:1",
                                  "elsewhere/boot:1:1"};
    const QStringList names {u"gone"_s, u"alive"_s, u"earlier boot"_s, u"other machine"_s};
    {
        Connection writer(m_database->path());
        record.id = RunHistory::append(writer, record);
    }
    m_database->exec(u"UPDATE QZRunLog SET Runner = '%1'"_s.arg(
        QString::fromUtf8(runners[names.indexOf(runner)])));

    TraceCapture trace;
    HistoryRecorder history(m_database->path());
    history.recoverLeftRunning();
    history.flush();
    Connection reader(m_database->path());
    const RunRecord after = RunHistory::read(reader).front();
    QCOMPARE(RunEndings::name(after.ending), ending);
    QCOMPARE(after.detail, detail);
    siginfo_t state {};
    QTRY_COMPARE_WITH_TIMEOUT(::waitid(P_PID, id_t(pid), &state, WEXITED | WNOHANG | WNOWAIT) == 0
                                  && state.si_pid == pid,
                              ended, 5000);
    if (escaped > 0) {
        // Gone, or a zombie that no one it belonged to is left to collect.
        const auto gone = [escaped] {
            QFile stat(u"/proc/%1/stat"_s.arg(escaped));
            if (!stat.open(QIODevice::ReadOnly))
                return true;
            const QByteArray text = stat.readAll();
            return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
        };
        QTRY_VERIFY_WITH_TIMEOUT(gone(), 5000);
    }
    if (ended) {
        QCOMPARE(state.si_status, SIGKILL);
        QCOMPARE(after.process, qint64(pid));
        QVERIFY2(trace.lines().constFirst().startsWith(
                     u"vantrel.run: ended entry 1 \"sleep\" pid "_s + QString::number(pid)),
                 qPrintable(trace.lines().constFirst()));
    }
}

// The run follows the schedule as any program changes it (here another connection, as `sqlite3`
// or a second window), at the latest when it moves on: A, B and C (1 s once each), looping, with
// the change made while A runs. Then the launches that followed.
void TestRun::followsTheSchedule_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("launched");

    QTest::newRow("B deleted and D added")
        << u"DELETE FROM QZProgram WHERE ProgramName = 'B'; INSERT INTO QZProgram (ProgramName, "
           "ProgramTime, ProgramCount) VALUES ('D', 1, 1)"_s
        << QStringList {u"A"_s, u"C"_s, u"D"_s, u"A"_s, u"C"_s, u"D"_s};
    QTest::newRow("emptied: the program ended, the run waits")
        << u"DELETE FROM QZProgram"_s << QStringList {u"A"_s};
    QTest::newRow("another file put in its place")
        << u"replace"_s << QStringList {u"A"_s, u"F"_s, u"E"_s, u"F"_s, u"E"_s, u"F"_s};
}

void TestRun::followsTheSchedule()
{
    QFETCH(QString, change);
    runner().setLoop(true);
    start({{u"A"_s, 1, 1}, {u"B"_s, 1, 1}, {u"C"_s, 1, 1}});
    QVERIFY(!runner().begin());
    tick();
    if (change == u"replace")
        m_database->replaceWith({{u"E"_s, QString(), 1, 1}, {u"F"_s, QString(), 1, 1}});
    else
        m_database->exec(change);
    // The look that comes every second, at once.
    runner().history()->lookForChanges();
    tick(18);
    QTEST(m_launcher->launchedFiles(), "launched");
    QCOMPARE(m_launcher->terminations.size(),
             m_launcher->launches.size() - (m_engine->processState() == open ? 1 : 0));
    QCOMPARE(m_engine->runState(), running);
    QCOMPARE(m_engine->waitingFor().isEmpty(), change != u"DELETE FROM QZProgram");
}

// One runner at a time per schedule: a second one is refused, naming the first, until the first
// stops; two paths to one file are one schedule.
void TestRun::oneRunnerPerSchedule_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("the same path") << "same";
    QTest::newRow("a hard link to the file") << "link";
    QTest::newRow("a symbolic link to the file") << "symlink";
}

void TestRun::oneRunnerPerSchedule()
{
    QFETCH(QString, path);
    start({{u"A"_s, 5, 1}});
    QVERIFY(!runner().begin());
    QString other = m_database->path();
    if (path == u"link") {
        other += u".link"_s;
        QCOMPARE(::link(QFile::encodeName(m_database->path()).constData(),
                        QFile::encodeName(other).constData()),
                 0);
    } else if (path == u"symlink") {
        other += u".symlink"_s;
        QVERIFY(QFile::link(m_database->path(), other));
    }
    Connection connection(other);
    Query list(u"ADOQuery1"_s);
    list.setConnection(&connection);
    ScheduleRunner second(&list);
    FakeLauncher launcher;
    second.setLauncher(&launcher);
    second.open(connection.databasePath());
    QVERIFY(second.reloadList());
    const std::optional<OtherRunner> refused = second.begin();
    QVERIFY(refused);
    QCOMPARE(refused->pid, qint64(::getpid()));
    QVERIFY(!second.engine().isRunning());
    runner().stop();
    QVERIFY(!second.begin());
    QVERIFY(runner().begin());
    second.stop();
}

// The commands a runner takes from outside, on A (3 s, twice) and B (1 s once) after A's first
// tick: what each answers, the engine's state a few ticks later, the launches and the ends.
void TestRun::commandsFromOutside_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<EngineState>("after");
    QTest::addColumn<QStringList>("launched");
    QTest::addColumn<int>("terminated");

    const QString A = u"A"_s;
    QTest::newRow("next: A's run ends now and counts, the next run of A follows")
        << QStringList {u"next"_s} << 1 << u"ended the running program early; the run goes on"_s
        << EngineState {open, 1, 1, A, running} << QStringList {A, A} << 1;
    QTest::newRow("pause across A's end: its clock stands, its program runs on")
        << QStringList {u"pause"_s} << 6 << u"paused the run; its program runs on"_s
        << EngineState {open, 1, 0, A, running} << QStringList {A} << 0;
    QTest::newRow("pause, then resume: the clock goes on where it stood")
        << QStringList {u"pause"_s, u"resume"_s} << 3 << u"resumed the run"_s
        << EngineState {closed, 0, 1, A, running} << QStringList {A} << 1;
    QTest::newRow("resume without a pause changes nothing")
        << QStringList {u"resume"_s} << 2 << u"the run was not paused; nothing was done"_s
        << EngineState {open, 3, 0, A, running} << QStringList {A} << 0;
    QTest::newRow("stop while paused: stopped, and no longer paused")
        << QStringList {u"pause"_s, u"stop"_s} << 2 << u"stopped the run"_s
        << EngineState {closed, 0, 0, A, stopped} << QStringList {A} << 1;
    QTest::newRow("a command no runner knows")
        << QStringList {u"jump"_s} << 0 << u"'jump' is no command a runner knows"_s
        << EngineState {open, 1, 0, A, running} << QStringList {A} << 0;
}

void TestRun::commandsFromOutside()
{
    QFETCH(QStringList, commands);
    QFETCH(int, ticks);
    QFETCH(QString, answer);
    start({{u"A"_s, 3, 2}, {u"B"_s, 1, 1}});
    QVERIFY(!runner().begin());
    tick();
    QJsonObject answered;
    for (const QString &command : commands)
        answered = runner().command({{u"command"_s, command}});
    const QString said =
        answered.value(answered.value(u"ok"_s).toBool() ? u"message"_s : u"error"_s).toString();
    QCOMPARE(said, answer);
    tick(ticks);
    QTEST(state(), "after");
    QCOMPARE(m_engine->isPaused(), commands.last() == u"pause");
    QTEST(m_launcher->launchedFiles(), "launched");
    QTEST(int(m_launcher->terminations.size()), "terminated");
    const QJsonObject status = runner().status();
    QCOMPARE(status.value(u"paused"_s).toBool(), m_engine->isPaused());
    if (m_engine->isRunning()) {
        QCOMPARE(status.value(u"entry"_s).toString(), u"1"_s);
        QCOMPARE(status.value(u"run"_s).toInt(), m_engine->runsDone() + 1);
        QCOMPARE(status.value(u"runs"_s).toInt(), 2);
    }
    if (commands.first() == u"next") {
        runner().history()->flush();
        Connection reader(m_database->path());
        QCOMPARE(int(RunHistory::read(reader).front().ending), int(RunRecord::Ending::Skipped));
    }
}

// A program that cannot be ended is skipped all the same: its record says it could not be
// ended, and the run goes on.
void TestRun::nextOnAProgramThatCannotBeEnded()
{
    ProcessLauncher launcher([](qint64 target, int signal) {
        if (signal == SIGKILL)
            return EPERM;
        return ::kill(pid_t(target), signal) == 0 ? 0 : errno;
    });
    runner().setLauncher(&launcher);
    m_database->addEntry(u"sleep"_s, u"60"_s, 30, 2);
    QVERIFY(runner().reloadList());
    QVERIFY(!runner().begin());
    tick();
    const auto pid = pid_t(m_engine->launchInfo().process.id);
    QVERIFY(m_engine->next());
    QCOMPARE(m_engine->runsDone(), 1);
    QCOMPARE(m_engine->processState(), closed);
    runner().history()->flush();
    Connection reader(m_database->path());
    QCOMPARE(int(RunHistory::read(reader).front().ending), int(RunRecord::Ending::NotEnded));
    ::kill(pid, SIGKILL);
    runner().stop();
}

// An entry's options on the engine's ticks, the launcher faked: entry A with the options given (a
// SET clause for its row), followed by B without any. A row names A's time and count, the
// launches (from 1) whose program leaves on the tick after its start, how many ticks a program
// asked to end takes to go (negative: its grace runs out after that many), the ticks before which
// the run is stopped; and after its ticks, those on which programs started, each record's ending,
// whether the run still runs and whether the person was told of something.
void TestRun::optionsOnTicks_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("time");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("leave");
    QTest::addColumn<int>("endingTicks");
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("startedAt");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<bool>("told");

    const QString atTime = u"at-time"_s;
    const QString exited = u"exited"_s;
    const QString notStarted = u"not-started"_s;
    const QString stoppedRun = u"stopped"_s;
    const QStringList asToday {atTime, atTime, atTime};
    QTest::newRow("none: as today") << QString() << 2 << 2 << QList<int>() << 0 << QList<int>()
                                    << 11 << QList<int> {1, 4, 8} << asToday << false << false;
    QTest::newRow("wait: its time waited out")
        << u"EarlyExit = 'wait'"_s << 2 << 2 << QList<int> {1} << 0 << QList<int>() << 11
        << QList<int> {1, 4, 8} << QStringList {exited, atTime, atTime} << false << false;
    QTest::newRow("grace: the next run once it is gone")
        << u"EndGrace = 5"_s << 2 << 2 << QList<int>() << 2 << QList<int>() << 13
        << QList<int> {1, 5, 10} << asToday << false << false;
    QTest::newRow("grace: the next run once the grace is over")
        << u"EndGrace = 5"_s << 2 << 2 << QList<int>() << -3 << QList<int>() << 15
        << QList<int> {1, 6, 12} << asToday << false << false;
    QTest::newRow("grace: a stop waits for it")
        << u"EndGrace = 5"_s << 5 << 1 << QList<int>() << 3 << QList<int> {2} << 6 << QList<int> {1}
        << QStringList {stoppedRun} << false << false;
    QTest::newRow("grace: a second stop ends it at once")
        << u"EndGrace = 5"_s << 5 << 1 << QList<int>() << 30 << QList<int> {2, 3} << 5
        << QList<int> {1} << QStringList {stoppedRun} << false << false;
    QTest::newRow("next: the next run at once")
        << u"EarlyExit = 'next'"_s << 2 << 2 << QList<int> {1} << 0 << QList<int>() << 9
        << QList<int> {1, 2, 6} << QStringList {exited, atTime, atTime} << false << false;
    QTest::newRow("next: after the last run, the next entry")
        << u"EarlyExit = 'next'"_s << 2 << 2 << QList<int> {2} << 0 << QList<int>() << 9
        << QList<int> {1, 4, 6} << QStringList {atTime, exited, atTime} << false << false;
    QTest::newRow("stop: the run stops and says so")
        << u"EarlyExit = 'stop'"_s << 2 << 2 << QList<int> {1} << 0 << QList<int>() << 3
        << QList<int> {1} << QStringList {exited} << false << true;
    QTest::newRow("restart: waits 1, 2 s, then its time out")
        << u"EarlyExit = 'restart', MaxRestarts = 2"_s << 10 << 1 << QList<int> {1, 2, 3} << 0
        << QList<int>() << 16 << QList<int> {1, 3, 6, 13}
        << QStringList {exited, exited, exited, atTime} << false << false;
    QTest::newRow("restart: never past its time")
        << u"EarlyExit = 'restart'"_s << 3 << 1 << QList<int> {1, 2} << 0 << QList<int>() << 9
        << QList<int> {1, 3, 6} << QStringList {exited, exited, atTime} << false << false;
    QTest::newRow("restart: every run its own restarts")
        << u"EarlyExit = 'restart', MaxRestarts = 1"_s << 3 << 2 << QList<int> {1, 3} << 0
        << QList<int>() << 13 << QList<int> {1, 3, 5, 7, 10}
        << QStringList {exited, atTime, exited, atTime, atTime} << false << false;
    const QStringList passedOver {notStarted, atTime};
    QTest::newRow("unusable: an early-exit choice")
        << u"EarlyExit = 'sometimes'"_s << 2 << 2 << QList<int>() << 0 << QList<int>() << 5
        << QList<int> {2} << passedOver << false << true;
    QTest::newRow("unusable: a grace")
        << u"EndGrace = 900"_s << 2 << 2 << QList<int>() << 0 << QList<int>() << 5 << QList<int> {2}
        << passedOver << false << true;
    QTest::newRow("unusable: an environment line")
        << u"Environment = 'A=1' || char(10) || '2B=2'"_s << 2 << 2 << QList<int>() << 0
        << QList<int>() << 5 << QList<int> {2} << passedOver << false << true;
    QTest::newRow("unusable: a memory limit")
        << u"OwnScope = 1, MemoryMax = '100.5%'"_s << 2 << 2 << QList<int>() << 0 << QList<int>()
        << 5 << QList<int> {2} << passedOver << false << true;
    QTest::newRow("unusable: a processor quota")
        << u"OwnScope = 1, CPUQuota = '0%'"_s << 2 << 2 << QList<int>() << 0 << QList<int>() << 5
        << QList<int> {2} << passedOver << false << true;
    QTest::newRow("unusable: limits without a scope")
        << u"MemoryMax = '512M'"_s << 2 << 2 << QList<int>() << 0 << QList<int>() << 5
        << QList<int> {2} << passedOver << false << true;
    QTest::newRow("unusable: a folder that is not there")
        << u"WorkingDirectory = '/nonexistent/folder'"_s << 1 << 2 << QList<int>() << 0
        << QList<int>() << 9 << QList<int> {6} << QStringList {notStarted, notStarted, atTime}
        << false << false;
}

void TestRun::optionsOnTicks()
{
    QFETCH(QString, options);
    QFETCH(int, time);
    QFETCH(int, count);
    QFETCH(QList<int>, leave);
    QFETCH(int, endingTicks);
    QFETCH(QList<int>, stops);
    QFETCH(int, ticks);

    const qint64 key = m_database->addEntry(u"A"_s, QVariant(), time, count);
    m_database->addEntry(u"B"_s, QVariant(), 1, 1);
    if (!options.isEmpty()) {
        m_database->exec(u"INSERT INTO QZProgramOption (ProgramIndex) VALUES (%1); "
                         "UPDATE QZProgramOption SET %2 WHERE ProgramIndex = %1"_s.arg(key)
                             .arg(options));
    }
    QVERIFY(m_engine->reloadList());
    QSignalSpy ended(m_engine, &RunEngine::runEnded);
    QSignalSpy told(m_engine, &RunEngine::problem);
    m_engine->begin();
    QList<int> startedAt;
    // The ticks before which each program asked to end goes.
    QHash<qint64, int> goneAt;
    for (int at = 1; at <= ticks; ++at) {
        for (const qint64 id : std::as_const(m_launcher->ending)) {
            if (!goneAt.contains(id))
                goneAt.insert(id, at - 1 + qAbs(endingTicks));
        }
        for (auto gone = goneAt.cbegin(); gone != goneAt.cend(); ++gone) {
            if (gone.value() != at)
                continue;
            if (endingTicks < 0)
                m_launcher->endAtOnce(gone.key());
            else
                m_launcher->endAsked(gone.key(),
                                     {ProcessEnd::How::EndedWhenAsked, 0, false, {}, 0});
        }
        const qsizetype launched = m_launcher->launches.size();
        if (launched > 0 && leave.contains(int(launched)) && startedAt.last() == at - 1)
            m_launcher->leaveEarly(m_launcher->launches.last().id);
        if (stops.contains(at))
            m_engine->stop();
        tick();
        if (m_launcher->launches.size() > launched)
            startedAt.append(at);
    }
    QTEST(startedAt, "startedAt");
    QStringList records;
    for (const QList<QVariant> &signal : std::as_const(ended))
        records.append(RunEndings::name(signal.at(1).value<RunRecord>().ending));
    QTEST(records, "records");
    QTEST(m_engine->isRunning(), "runs");
    QTEST(!told.isEmpty(), "told");
    // Nothing is left being ended, and a grace was given only where the entry gives one.
    QVERIFY(m_launcher->ending.isEmpty());
    QCOMPARE(m_launcher->graces.contains(5000), options.startsWith(u"EndGrace = 5"_s));
}

QTEST_GUILESS_MAIN(TestRun)
#include "tst_run.moc"
