#include "run/RunHistory.h"
#include "store/Connection.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <map>

using namespace Qt::StringLiterals;

namespace {

// What a started program reported of itself: its process and its run's id.
struct Started
{
    qint64 pid = 0;
    QByteArray runId;
};

std::vector<Started> reportsIn(const QString &folder)
{
    std::vector<Started> started;
    const QDir reports(folder);
    for (const QString &name : reports.entryList({u"[0-9]*"_s}, QDir::Files)) {
        if (name.endsWith(u".tmp"))
            continue;
        QFile file(reports.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        Started program;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (line.startsWith("pid "))
                program.pid = line.mid(4).toLongLong();
            else if (line.startsWith("runid "))
                program.runId = line.mid(6);
        }
        started.push_back(program);
    }
    return started;
}

bool allGone(const std::vector<Started> &programs)
{
    return std::all_of(programs.cbegin(), programs.cend(), [](const Started &program) {
        return ::kill(pid_t(program.pid), 0) != 0 && errno == ESRCH;
    });
}

} // namespace

// The runner killed without warning (SIGKILL, as a crash or the out-of-memory killer does) at
// random moments of a short looping run, and started again on the schedule each time, as the
// service manager restarts it: nothing of the schedule is lost, every program that was started
// has exactly one record, ended or interrupted, and none of them runs on once a runner has opened
// the schedule again.
class TestCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedAtRandomMoments();
};

void TestCrash::killedAtRandomMoments()
{
    // Thirty in the suite; a longer trial names more.
    const int kills = qEnvironmentVariableIsSet("VANTREL_CRASH_KILLS")
        ? std::max(1, qEnvironmentVariableIntValue("VANTREL_CRASH_KILLS"))
        : 30;
    const quint32 seed = qEnvironmentVariableIsSet("VANTREL_CRASH_SEED")
        ? quint32(qEnvironmentVariableIntValue("VANTREL_CRASH_SEED"))
        : QRandomGenerator::global()->generate();
    qInfo("seed %u (VANTREL_CRASH_SEED repeats it)", seed);
    QRandomGenerator random(seed);

    TestDatabase database;
    const QString child = QStringLiteral(VANTREL_TEST_CHILD);
    // Programs that live their time, one that leaves a process of its own in its group, and a
    // run of no time at all.
    database.addEntries({{child, u"a b"_s, 1, 2},
                         {u"sh"_s, QString(u"-c '\"$0\" & exit 0' "_s + child), 1, 1},
                         {child, QString(), 0, 1}});
    const QList<QStringList> schedule = database.storedRows();
    QTemporaryDir reports;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"VANTREL_CHILD_REPORT"_s, reports.path() + u'/');
    environment.remove(u"DISPLAY"_s);
    const QStringList arguments {u"--headless"_s, u"--loop"_s, u"--database"_s, database.path()};

    for (int kill = 0; kill <= kills; ++kill) {
        const std::vector<Started> before = reportsIn(reports.path());
        QProcess runner;
        runner.setProcessEnvironment(environment);
        runner.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        runner.setStandardErrorFile(QProcess::nullDevice());
        runner.start(QStringLiteral(VANTREL_PROGRAM), arguments);
        QVERIFY(runner.waitForStarted());
        // What the runner killed before left running is ended now that the schedule is open.
        QTRY_VERIFY2_WITH_TIMEOUT(allGone(before), qPrintable(u"after kill %1"_s.arg(kill)), 10000);
        if (kill == kills) {
            // Stopped as a service is, once it runs.
            QTRY_VERIFY_WITH_TIMEOUT(reportsIn(reports.path()).size() > before.size(), 10000);
            ::kill(pid_t(runner.processId()), SIGTERM);
            QVERIFY(runner.waitForFinished(10000));
            QCOMPARE(runner.exitCode(), 0);
            break;
        }
        // Before, during or after its first programs.
        QTest::qWait(int(random.bounded(3000)));
        ::kill(pid_t(runner.processId()), SIGKILL);
        QVERIFY(runner.waitForFinished(10000));
    }

    QCOMPARE(database.query(u"PRAGMA integrity_check"_s), QList<QStringList> {{u"ok"_s}});
    QCOMPARE(database.storedRows(), schedule);
    Connection reader(database.path());
    std::map<QByteArray, int> records;
    for (const RunRecord &record : RunHistory::read(reader)) {
        QVERIFY2(record.ending != RunRecord::Ending::Running, qPrintable(record.detail));
        ++records[record.runId];
    }
    const std::vector<Started> started = reportsIn(reports.path());
    QVERIFY(!started.empty());
    for (const Started &program : started) {
        QVERIFY2(
            records[program.runId] == 1,
            qPrintable(
                u"pid %1 of run %2"_s.arg(program.pid).arg(QString::fromLatin1(program.runId))));
    }
    QTRY_VERIFY_WITH_TIMEOUT(allGone(started), 10000);
    qInfo("%d kills, %zu programs started, %zu runs recorded, 0 rows lost, 0 programs left "
          "running",
          kills, started.size(), records.size());
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
