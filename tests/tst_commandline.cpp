#include "run/RunHistory.h"
#include "store/Connection.h"
#include "support/Csv.h"
#include "support/JetFixture.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString program = QStringLiteral(VANTREL_PROGRAM);

// The program as started from a terminal without a display, its output and exit status.
struct Finished
{
    int status = -1;
    QString out;
    QString err;
};

QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);
    return environment;
}

// Starts the program; the caller waits for it with a deadline.
std::unique_ptr<QProcess> started(const QStringList &arguments,
                                  const QProcessEnvironment &environment = withoutDisplay())
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->start(program, arguments);
    return process;
}

Finished finish(QProcess &process, int deadlineMs)
{
    if (!process.waitForFinished(deadlineMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QString(), u"did not end in time"_s};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Finished run(const QStringList &arguments,
             const QProcessEnvironment &environment = withoutDisplay())
{
    auto process = started(arguments, environment);
    return finish(*process, 30000);
}

// Runs the program (or another file of it) in a folder with arguments given as bytes, which need
// not be UTF-8: QProcess passes only texts, so the child it makes starts the program itself.
Finished runWithBytes(const QList<QByteArray> &arguments, const QByteArray &folder,
                      const QProcessEnvironment &environment,
                      const QByteArray &executable = QFile::encodeName(program))
{
    QList<QByteArray> words = QList<QByteArray> {executable} + arguments;
    QList<QByteArray> variables;
    for (const QString &variable : environment.toStringList())
        variables.append(variable.toUtf8());
    std::vector<char *> argv;
    std::vector<char *> envp;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    for (QByteArray &variable : variables)
        envp.push_back(variable.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    QProcess process;
    process.setChildProcessModifier([&] {
        if (::chdir(folder.constData()) == 0)
            ::execve(argv.front(), argv.data(), envp.data());
        ::_exit(127);
    });
    process.start(program, {});
    return finish(process, 30000);
}

// The environment with the stand-in for systemctl first on PATH, so that no test reaches the
// user's own service manager: it records its calls in the file `calls` and fails the command
// `fail` ("all": every one, as when there is no manager to reach).
QProcessEnvironment withStandInManager(QProcessEnvironment environment, const QString &calls,
                                       const QString &fail = QString())
{
    environment.insert(u"PATH"_s,
                       QStringLiteral(VANTREL_FAKE_SYSTEMD) + u':' + environment.value(u"PATH"_s));
    environment.insert(u"VANTREL_FAKE_SYSTEMCTL_CALLS"_s, calls);
    if (!fail.isEmpty())
        environment.insert(u"VANTREL_FAKE_SYSTEMCTL_FAIL"_s, fail);
    // The stand-in's next start and stop, as the program says them.
    environment.insert(u"TZ"_s, u"UTC"_s);
    return environment;
}

// The calls made to the stand-in since the last look, one line of arguments each.
QStringList callsMade(const QString &calls)
{
    QFile file(calls);
    if (!file.open(QIODevice::ReadWrite))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    file.resize(0);
    return lines;
}

// The trace lines of started programs, as "entry N" in order, and each end's time in seconds.
QStringList startedEntries(const QString &trace)
{
    static const QRegularExpression line(u"^vantrel\\.run: started (entry \\d+) "_s,
                                         QRegularExpression::MultilineOption);
    QStringList entries;
    for (auto match = line.globalMatch(trace); match.hasNext();)
        entries.append(match.next().captured(1));
    return entries;
}

QList<double> lifetimes(const QString &trace)
{
    static const QRegularExpression line(u"^vantrel\\.run: ended .* after ([0-9.]+) s: killed$"_s,
                                         QRegularExpression::MultilineOption);
    QList<double> seconds;
    for (auto match = line.globalMatch(trace); match.hasNext();)
        seconds.append(match.next().captured(1).toDouble());
    return seconds;
}

bool groupIsGone(pid_t group)
{
    return ::kill(-group, 0) != 0 && errno == ESRCH;
}

} // namespace

// The program's command line, run as a person or a service manager would run it: each option,
// each bad combination, and runs without a window of real programs on real seconds.
class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void commandLines_data();
    void commandLines();
    void headlessRunsTheList();
    void headlessStopsOnASignal_data();
    void headlessStopsOnASignal();
    void loopAndServiceNotifications_data();
    void loopAndServiceNotifications();
    void headlessFollowsTheSchedule();
    void headlessOutlivesItsReader();
    void secondRunnerIsRefused();
    void steering_data();
    void steering();
    void steeringRequestsThatAreNoRequests();
    void steeringAnotherUsersRunner();
    void socketLeftByAKilledRunner();
    void autostart_data();
    void autostart();
    void timetable_data();
    void timetable();
    void timetableRefused_data();
    void timetableRefused();
    void historyFormats_data();
    void historyFormats();

private:
    QString schedule(const QList<TestDatabase::Entry> &entries);

    // A headless looping run of the schedule, its first program started.
    std::unique_ptr<QProcess> startedRunner(const QString &database);

    std::unique_ptr<TestDatabase> m_database;
    // This user's folder for the runners' sockets, the tests' own.
    QTemporaryDir m_runtime;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestCommandLine::init()
{
    m_database = std::make_unique<TestDatabase>();
}

std::unique_ptr<QProcess> TestCommandLine::startedRunner(const QString &database)
{
    auto runner = started({u"--headless"_s, u"--loop"_s, u"--database"_s, database});
    QString trace;
    QElapsedTimer waited;
    waited.start();
    while (startedEntries(trace).isEmpty() && waited.elapsed() < 10000) {
        runner->waitForReadyRead(100);
        trace += QString::fromUtf8(runner->readAllStandardError());
    }
    return runner;
}

QString TestCommandLine::schedule(const QList<TestDatabase::Entry> &entries)
{
    m_database->addEntries(entries);
    return m_database->path();
}

// What each command line does when it ends at once: its exit status and what it says. "@DB" is a
// good schedule with two entries ("@HELD" the same, held by another program meanwhile),
// "@MISSING" a file that does not exist; the other files are made as the row's name says. The
// program runs in a folder whose name is not UTF-8.
void TestCommandLine::commandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");

    const QString none;
    const auto row = [](const char *name, const QStringList &arguments, const QString &display,
                        int status, const QString &says) {
        QTest::newRow(name) << arguments << display << status << says;
    };
    row("help", {u"--help"_s}, none, 0, u"--headless"_s);
    row("help, short", {u"-h"_s}, none, 0, u"Exit status: 0 done; 64"_s);
    row("version", {u"--version"_s}, none, 0, u"vantrel-autorun-e2e 1.0"_s);
    row("version, short", {u"-v"_s}, none, 0, u"vantrel-autorun-e2e 1.0"_s);
    row("unknown option", {u"--bogus"_s}, none, 64, u"Unknown option 'bogus'."_s);
    row("an argument that is no option", {u"ProgramRun.mdb"_s}, none, 64,
        u"Unexpected argument 'ProgramRun.mdb'."_s);
    row("--from without a run", {u"--from"_s, u"1"_s}, none, 64,
        u"--from goes only with --start, --headless, --autostart or --history."_s);
    row("--from that is no number", {u"--headless"_s, u"--from"_s, u"abc"_s}, none, 64,
        u"--from needs an entry's number (程序编号), not 'abc'."_s);
    row("--from an entry that is not there",
        {u"--headless"_s, u"--database"_s, u"@DB"_s, u"--from"_s, u"99"_s}, none, 64,
        u"the schedule has no entry 99 to begin at"_s);
    row("--start with --headless", {u"--start"_s, u"--headless"_s}, none, 64,
        u"--start and --headless cannot be given together."_s);
    row("--autostart with --no-autostart", {u"--autostart"_s, u"--no-autostart"_s}, none, 64,
        u"--autostart and --no-autostart cannot be given together."_s);
    row("--headless with --history", {u"--headless"_s, u"--history"_s}, none, 64,
        u"--headless and --history cannot be given together."_s);
    row("--format without --history", {u"--format"_s, u"csv"_s}, none, 64,
        u"--format goes only with --history, --status, --next, --pause, --resume or --stop."_s);
    row("--format that is not known", {u"--history"_s, u"--format"_s, u"xml"_s}, none, 64,
        u"--format is table, csv or json, not 'xml'."_s);
    row("--dry-run without --import", {u"--dry-run"_s}, none, 64,
        u"--dry-run goes only with --import."_s);
    row("--loop with --history", {u"--history"_s, u"--loop"_s}, none, 64,
        u"--loop goes only with the window, --start, --headless, --autostart or --at."_s);
    row("--loop with --until alone", {u"--until"_s, u"daily"_s, u"--loop"_s}, none, 64,
        u"--loop goes only with the window, --start, --headless, --autostart or --at."_s);
    row("--from with --at", {u"--at"_s, u"daily"_s, u"--from"_s, u"1"_s}, none, 64,
        u"--from goes only with --start, --headless, --autostart or --history."_s);
    row("--start with --at", {u"--start"_s, u"--at"_s, u"daily"_s}, none, 64,
        u"--start and --at cannot be given together."_s);
    row("--at with --autostart", {u"--at"_s, u"daily"_s, u"--autostart"_s}, none, 64,
        u"--autostart and --at cannot be given together."_s);
    row("--until with --no-at", {u"--until"_s, u"daily"_s, u"--no-at"_s}, none, 64,
        u"--until and --no-at cannot be given together."_s);
    row("--headless with --no-at", {u"--headless"_s, u"--no-at"_s}, none, 64,
        u"--headless and --no-at cannot be given together."_s);
    row("--at that is empty", {u"--at="_s}, none, 64,
        u"--at needs a calendar, such as 'Mon..Fri 08:00'."_s);
    row("--until holding a line break", {u"--until"_s, u"daily\nExecStart=/bin/sh"_s}, none, 64,
        u"--until cannot hold a line break."_s);
    // The reason is systemd-analyze's own, on the same line.
    row("--at with a calendar systemd refuses", {u"--at"_s, u"Mon..Fry 08:00"_s}, none, 64,
        u"vantrel-autorun-e2e: --at: Failed to parse calendar "_s);
    row("--until with a timestamp, not a calendar", {u"--at"_s, u" daily "_s, u"--until=-1"_s},
        none, 64, u"vantrel-autorun-e2e: --until: Failed to parse calendar "_s);
    row("--database with --headless and --at",
        {u"--headless"_s, u"--at"_s, u"daily"_s, u"--database"_s, u"@DB"_s}, none, 64,
        u"--database cannot be given with --headless and --at: the user service runs the "
        "schedule the program was built for."_s);
    row("--at without a user service manager", {u"--at"_s, u"Mon..Fri 08:00"_s}, none, 69,
        u"vantrel-autorun-e2e: there is no user service manager to keep the timers: Failed to "
        "connect to bus: No medium found\n"_s);
    row("--no-at with nothing to remove, without a user service manager", {u"--no-at"_s}, none, 0,
        u"; nothing to remove.\n"_s);
    row("--database with --no-autostart", {u"--no-autostart"_s, u"--database"_s, u"x"_s}, none, 64,
        u"--database goes only with a schedule to use."_s);
    row("--database with --no-at", {u"--no-at"_s, u"--database"_s, u"x"_s}, none, 64,
        u"--database goes only with a schedule to use."_s);
    row("--database that is empty", {u"--headless"_s, u"--database="_s}, none, 64,
        u"--database needs the name of a file."_s);
    row("no such database", {u"--headless"_s, u"--database"_s, u"@MISSING"_s}, none, 66,
        u"cannot open the schedule: Could not find file"_s);
    row("not a database", {u"--headless"_s, u"--database"_s, u"@TEXT"_s}, none, 66,
        u"the file is not an SQLite database"_s);
    row("no schedule table", {u"--headless"_s, u"--database"_s, u"@NOTABLE"_s}, none, 65,
        u"cannot read the schedule's table QZProgram: no such table: QZProgram"_s);
    row("a column missing", {u"--headless"_s, u"--database"_s, u"@NOCOUNT"_s}, none, 65,
        u"the schedule's table QZProgram has no column ProgramCount"_s);
    row("--import of a file that is not there",
        {u"--import"_s, u"@MISSING"_s, u"--database"_s, u"@DB"_s}, none, 66, u"Cannot open '"_s);
    row("--import of a file that is not a Jet file",
        {u"--import"_s, u"@TEXT"_s, u"--database"_s, u"@DB"_s, u"--dry-run"_s}, none, 65,
        u"is not a Jet database file"_s);
    row("--headless on a named pipe", {u"--headless"_s, u"--database"_s, u"@FIFO"_s}, none, 66,
        u"fifo': it is a named pipe (FIFO), not a regular file\n"_s);
    row("--history on a named pipe", {u"--history"_s, u"--database"_s, u"@FIFO"_s}, none, 66,
        u"fifo': it is a named pipe (FIFO), not a regular file\n"_s);
    row("--headless on a folder", {u"--headless"_s, u"--database"_s, u"@FOLDER"_s}, none, 66,
        u"folder': it is a folder, not a regular file\n"_s);
    row("--import of a named pipe", {u"--import"_s, u"@FIFO"_s, u"--database"_s, u"@DB"_s}, none,
        66, u"fifo': it is a named pipe (FIFO), not a regular file.\n"_s);
    row("--import into a named pipe", {u"--import"_s, u"@JET"_s, u"--database"_s, u"@FIFO"_s}, none,
        66, u"fifo': it is a named pipe (FIFO), not a regular file.\n"_s);
    row("--history on a schedule held by another program",
        {u"--history"_s, u"--database"_s, u"@HELD"_s}, none, 66,
        u"cannot read the run history: another program is using the database; try again "
        "later\n"_s);
    row("--headless on a schedule whose name is not UTF-8",
        {u"--headless"_s, u"--database"_s, u"@NONUTF8DB"_s}, none, 0, QString());
    row("--history on a schedule named from a folder whose name is not UTF-8",
        {u"--history"_s, u"--database"_s, u"@NONUTF8NAME"_s}, none, 0, u"Started"_s);
    row("--import between files whose names are not UTF-8",
        {u"--import"_s, u"@NONUTF8JET"_s, u"--database"_s, u"@NONUTF8DB"_s}, none, 0,
        u"Imported 6 entries from '"_s);
    row("--autostart --from an entry that is not there",
        {u"--autostart"_s, u"--from"_s, u"99"_s, u"--database"_s, u"@DB"_s}, none, 64,
        u"the schedule has no entry 99 to begin at\n"_s);
    row("--autostart --from in a schedule that is not there",
        {u"--autostart"_s, u"--from"_s, u"1"_s, u"--database"_s, u"@MISSING"_s}, none, 66,
        u"cannot open the schedule: Could not find file '"_s);
    row("--autostart on a schedule whose name holds a line break",
        {u"--autostart"_s, u"--database"_s, u"/srv/a\nb.mdb"_s}, none, 64,
        u"--autostart cannot start a schedule whose name holds a line break.\n"_s);
    row("--autostart on a schedule whose name holds a carriage return",
        {u"--autostart"_s, u"--database"_s, u"/srv/a\rb.mdb"_s}, none, 64,
        u"--autostart cannot start a schedule whose name holds a line break.\n"_s);
    row("--autostart on a schedule whose name is not UTF-8",
        {u"--autostart"_s, u"--database"_s, u"@NONUTF8DB"_s}, none, 64,
        u"--autostart cannot start a schedule whose name is not UTF-8.\n"_s);
    row("--until on a schedule whose name holds a line break",
        {u"--until"_s, u"daily"_s, u"--database"_s, u"/srv/a\nb.mdb"_s}, none, 64,
        u"--until cannot stop a schedule whose name holds a line break.\n"_s);
    row("--at on a schedule whose name is not UTF-8",
        {u"--at"_s, u"daily"_s, u"--database"_s, u"@NONUTF8DB"_s}, none, 64,
        u"--at cannot start a schedule whose name is not UTF-8.\n"_s);
    row("window without a display", {}, none, 69,
        u"vantrel-autorun-e2e: there is no display to open the window on; vantrel-autorun-e2e "
        "--headless runs the schedule without one\n"_s);
    row("window with a display that is not there", {u"--start"_s}, u":987"_s, 69,
        u"vantrel-autorun-e2e: there is no display to open the window on; vantrel-autorun-e2e "
        "--headless runs the schedule without one\n"_s);
}

void TestCommandLine::commandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, status);
    QFETCH(QString, says);

    m_database->addEntries({{u"true"_s, QString(), 0, 1}, {u"true"_s, QString(), 0, 1}});
    QTemporaryDir files;
    const QString text = files.filePath(u"text.mdb"_s);
    QFile textFile(text);
    QVERIFY(textFile.open(QIODevice::WriteOnly));
    textFile.write("This is not a database, just a text someone saved under the name.\n");
    textFile.close();
    TestDatabase noTable;
    noTable.exec(u"DROP TABLE QZProgram; CREATE TABLE Other (a)"_s);
    TestDatabase noCount;
    noCount.exec(u"DROP TABLE QZProgram; CREATE TABLE QZProgram (ProgramIndex INTEGER PRIMARY "
                 "KEY, ProgramName, ProgramParameter, ProgramTime)"_s);
    const QString fifo = files.filePath(u"fifo"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(QDir(files.path()).mkdir(u"folder"_s));
    const QString jet = files.filePath(u"windows.mdb"_s);
    if (arguments.contains(u"@JET"_s) || arguments.contains(u"@NONUTF8JET"_s))
        QVERIFY(writeJetFile(jet));
    // A folder and files named in an old Chinese Windows encoding, which is not UTF-8.
    const QByteArray nonUtf8Folder = QFile::encodeName(files.path()) + "/\xB3\xCC";
    const QByteArray nonUtf8Name = "\xB3\xCC.mdb";
    const QByteArray nonUtf8Database = nonUtf8Folder + '/' + nonUtf8Name;
    const QByteArray nonUtf8Jet = nonUtf8Folder + "/\xB3\xCC.jet";
    // QTemporaryDir cannot remove what it cannot name.
    const auto removeNonUtf8 = qScopeGuard([&] {
        ::unlink(nonUtf8Database.constData());
        ::unlink(QByteArray(nonUtf8Database + "-journal").constData());
        ::unlink(nonUtf8Jet.constData());
        ::rmdir(nonUtf8Folder.constData());
    });
    QCOMPARE(::mkdir(nonUtf8Folder.constData(), 0700), 0);
    QCOMPARE(::link(QFile::encodeName(m_database->path()).constData(), nonUtf8Database.constData()),
             0);
    if (arguments.contains(u"@NONUTF8JET"_s))
        QCOMPARE(::rename(QFile::encodeName(jet).constData(), nonUtf8Jet.constData()), 0);
    std::unique_ptr<HeldFile> holder;
    if (arguments.contains(u"@HELD"_s))
        holder = m_database->hold();
    const QList<std::pair<QString, QByteArray>> names = {
        {u"@DB"_s, QFile::encodeName(m_database->path())},
        {u"@HELD"_s, QFile::encodeName(m_database->path())},
        {u"@MISSING"_s, QFile::encodeName(files.filePath(u"missing.mdb"_s))},
        {u"@TEXT"_s, QFile::encodeName(text)},
        {u"@NOTABLE"_s, QFile::encodeName(noTable.path())},
        {u"@NOCOUNT"_s, QFile::encodeName(noCount.path())},
        {u"@FIFO"_s, QFile::encodeName(fifo)},
        {u"@FOLDER"_s, QFile::encodeName(files.filePath(u"folder"_s))},
        {u"@JET"_s, QFile::encodeName(jet)},
        {u"@NONUTF8DB"_s, nonUtf8Database},
        {u"@NONUTF8NAME"_s, nonUtf8Name},
        {u"@NONUTF8JET"_s, nonUtf8Jet},
    };
    QList<QByteArray> bytes;
    for (const QString &argument : arguments) {
        const auto name = std::find_if(names.cbegin(), names.cend(),
                                       [&](const auto &pair) { return pair.first == argument; });
        bytes.append(name == names.cend() ? argument.toUtf8() : name->second);
    }
    QProcessEnvironment environment =
        withStandInManager(withoutDisplay(), files.filePath(u"calls"_s), u"all"_s);
    if (!display.isEmpty())
        environment.insert(u"DISPLAY"_s, display);
    const QString config = files.filePath(u"config"_s);
    environment.insert(u"XDG_CONFIG_HOME"_s, config);

    // A name relative to the current folder is taken in the folder that is not UTF-8.
    const Finished finished = runWithBytes(bytes, nonUtf8Folder, environment);
    QCOMPARE(finished.status, status);
    const QString said = status == 0 ? finished.out : finished.err;
    QVERIFY2(said.contains(says), qPrintable(said));
    if (says.startsWith(u"vantrel-autorun-e2e: "_s)) {
        // One line, and nothing of the toolkit's own.
        QVERIFY2(finished.err.startsWith(says), qPrintable(finished.err));
        QCOMPARE(finished.err.count(u'\n'), 1);
    } else if (status == 64 && !arguments.contains(u"--database"_s))
        QVERIFY(finished.err.endsWith(u"Try 'vantrel-autorun-e2e --help' for the options.\n"_s));
    if (status != 0)
        QVERIFY(!QFileInfo::exists(config));
}

// A real two-entry schedule without a window: each program runs its time, in order, and the
// program exits by itself after the last entry.
void TestCommandLine::headlessRunsTheList()
{
    const QString database = schedule({{u"sleep"_s, u"60"_s, 1, 2}, {u"sleep"_s, u"61"_s, 2, 1}});
    const Finished finished = run({u"--headless"_s, u"--database"_s, database});
    QCOMPARE(finished.status, 0);
    QCOMPARE(startedEntries(finished.err),
             (QStringList {u"entry 1"_s, u"entry 1"_s, u"entry 2"_s}));
    const QList<double> seconds = lifetimes(finished.err);
    QCOMPARE(seconds.size(), 3);
    const double expected[] = {1, 1, 2};
    for (qsizetype i = 0; i < seconds.size(); ++i)
        QVERIFY2(qAbs(seconds[i] - expected[i]) < 0.5, qPrintable(finished.err));

    // From the second entry on, only the second entry runs.
    const Finished fromSecond =
        run({u"--headless"_s, u"--database"_s, database, u"--from"_s, u"2"_s});
    QCOMPARE(fromSecond.status, 0);
    QCOMPARE(startedEntries(fromSecond.err), QStringList {u"entry 2"_s});

    // A time that cannot be read: the entry is said once and passed over, and the run ends.
    m_database->exec(u"UPDATE QZProgram SET ProgramTime = 'abc' WHERE ProgramIndex = 1"_s);
    const Finished passedOver = run({u"--headless"_s, u"--database"_s, database});
    QCOMPARE(passedOver.status, 0);
    QCOMPARE(startedEntries(passedOver.err), QStringList {u"entry 2"_s});
    QCOMPARE(passedOver.err.count(u"cannot start entry 1 \"sleep\": 'abc' is not a valid integer "
                                  "value for field 'ProgramTime'"_s),
             1);
    Connection reader(m_database->path());
    const RunRecord refused = RunHistory::read(reader).at(4);
    QCOMPARE(refused.entry, u"1"_s);
    QCOMPARE(int(refused.ending), int(RunRecord::Ending::NotStarted));
}

void TestCommandLine::headlessStopsOnASignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("options"); // the entry's, as sqlite3 sets them
    QTest::newRow("SIGTERM") << int(SIGTERM) << QString();
    QTest::newRow("SIGINT") << int(SIGINT) << QString();
    QTest::newRow("SIGHUP") << int(SIGHUP) << QString();
    QTest::newRow("SIGTERM, its program given a grace")
        << int(SIGTERM) << u"EndGrace = 5, WorkingDirectory = '/tmp'"_s;
}

// A signal in the middle of a run stops it as Stop does: the running program is ended with
// everything it started (asked first, where its entry gives it a grace), and the program exits 0.
void TestCommandLine::headlessStopsOnASignal()
{
    QFETCH(int, signal);
    QFETCH(QString, options);
    const QString database =
        schedule({{u"sh"_s, u"-c 'trap \"exit 7\" TERM; sleep 300 & sleep 301 & wait'"_s, 60, 1}});
    if (!options.isEmpty())
        m_database->exec(u"INSERT INTO QZProgramOption (ProgramIndex) VALUES (1); "
                         "UPDATE QZProgramOption SET %1"_s.arg(options));
    auto process = started({u"--headless"_s, u"--database"_s, database});
    QString trace;
    static const QRegularExpression startedLine(u"started entry 1 .* pid (\\d+)"_s);
    QTRY_VERIFY_WITH_TIMEOUT(
        (trace += QString::fromUtf8(process->readAllStandardError())).contains(startedLine), 5000);
    const auto pid = static_cast<pid_t>(startedLine.match(trace).captured(1).toInt());
    // The wrapper's own children are up too before the signal comes.
    QTRY_VERIFY_WITH_TIMEOUT(
        QProcess::execute(u"pgrep"_s, {u"-g"_s, QString::number(pid), u"-f"_s, u"sleep 301"_s})
            == 0,
        5000);
    QCOMPARE(::kill(pid_t(process->processId()), signal), 0);
    const Finished finished = finish(*process, 10000);
    QCOMPARE(finished.status, 0);
    QTRY_VERIFY_WITH_TIMEOUT(groupIsGone(pid), 5000);
    Connection reader(m_database->path());
    const RunRecord record = RunHistory::read(reader).at(0);
    QCOMPARE(int(record.ending), int(RunRecord::Ending::Stopped));
    // Asked, it left as it chose to.
    QCOMPARE(record.detail, options.isEmpty() ? QString() : u"it left when asked, with status 7"_s);
}

// Looping begins again at the first entry, and an empty schedule waits for entries instead of
// ending; as a service, the program says when it is ready, which entry it runs and that it waits.
void TestCommandLine::loopAndServiceNotifications_data()
{
    QTest::addColumn<bool>("empty");
    QTest::newRow("one entry") << false;
    QTest::newRow("empty: waits, then runs the entry added") << true;
}

void TestCommandLine::loopAndServiceNotifications()
{
    QFETCH(bool, empty);
    const QString database =
        schedule(empty ? QList<TestDatabase::Entry>()
                       : QList<TestDatabase::Entry> {{u"sleep"_s, u"60"_s, 0, 1}});
    QTemporaryDir folder;
    const QByteArray socketPath = QFile::encodeName(folder.filePath(u"notify"_s));
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    QVERIFY(listener >= 0);
    const auto closeListener = qScopeGuard([listener] { ::close(listener); });
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

    QProcessEnvironment environment = withoutDisplay();
    environment.insert(u"NOTIFY_SOCKET"_s, QString::fromUtf8(socketPath));
    auto process = started({u"--headless"_s, u"--loop"_s, u"--database"_s, database}, environment);
    QStringList notifications;
    const auto receive = [&] {
        char buffer[4096];
        for (ssize_t size; (size = ::recv(listener, buffer, sizeof buffer, 0)) > 0;)
            notifications.append(QString::fromUtf8(buffer, size));
        return notifications.join(u'|');
    };
    if (empty) {
        QTRY_VERIFY_WITH_TIMEOUT(
            receive().contains(u"STATUS=Waiting: the schedule has no entries ("_s + database
                               + u')'),
            10000);
        QCOMPARE(process->state(), QProcess::Running);
        m_database->addEntry(u"sleep"_s, u"60"_s, 0, 1);
    }
    QString trace;
    QTRY_VERIFY_WITH_TIMEOUT(
        startedEntries(trace += QString::fromUtf8(process->readAllStandardError())).size() >= 2,
        10000);
    QCOMPARE(::kill(pid_t(process->processId()), SIGTERM), 0);
    QCOMPARE(finish(*process, 10000).status, 0);
    QTRY_VERIFY_WITH_TIMEOUT(receive().contains(u"STOPPING=1"_s), 5000);
    QCOMPARE(notifications.first(),
             u"READY=1\nSTATUS=Running the schedule "_s + database
                 + (empty ? u" (0 entries)"_s : u" (1 entry)"_s));
    QVERIFY(notifications.contains(u"STATUS=Running entry 1, run 1 of 1"_s));
}

// Entry 2 deleted and entry 3 added by another program while a looping run goes on: from then on
// the run starts entry 1 and entry 3, never entry 2.
void TestCommandLine::headlessFollowsTheSchedule()
{
    const QString database = schedule({{u"sleep"_s, u"60"_s, 2, 1}, {u"sleep"_s, u"61"_s, 0, 1}});
    auto process = started({u"--headless"_s, u"--loop"_s, u"--database"_s, database});
    QString trace;
    const auto read = [&] {
        trace += QString::fromUtf8(process->readAllStandardError());
        return startedEntries(trace);
    };
    // Entry 1 started for the second time: entry 2 has run once.
    QTRY_VERIFY_WITH_TIMEOUT(read().count(u"entry 1"_s) >= 2, 15000);
    m_database->exec(u"DELETE FROM QZProgram WHERE ProgramIndex = 2; INSERT INTO QZProgram "
                     "(ProgramName, ProgramParameter, ProgramTime, ProgramCount) "
                     "VALUES ('sleep', '62', 0, 1)"_s);
    const qsizetype before = read().size();
    QTRY_VERIFY_WITH_TIMEOUT(read().mid(before).count(u"entry 3"_s) >= 2, 20000);
    QCOMPARE(read().mid(before).count(u"entry 2"_s), 0);
    QCOMPARE(::kill(pid_t(process->processId()), SIGTERM), 0);
    QCOMPARE(finish(*process, 10000).status, 0);
}

// A reader of the runner's output that goes away (`| head`) neither ends nor disturbs the run: it
// goes on, records every run, and stops as asked.
void TestCommandLine::headlessOutlivesItsReader()
{
    const QString database = schedule({{u"sleep"_s, u"60"_s, 0, 1}});
    int pipe[2] = {-1, -1};
    QCOMPARE(::pipe2(pipe, O_CLOEXEC), 0);
    QProcess process;
    process.setProcessEnvironment(withoutDisplay());
    process.setChildProcessModifier([&pipe] {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(pipe[1], STDERR_FILENO);
    });
    process.start(program, {u"--headless"_s, u"--loop"_s, u"--database"_s, database});
    QVERIFY(process.waitForStarted());
    ::close(pipe[1]);
    ::close(pipe[0]);
    Connection reader(m_database->path());
    QTRY_VERIFY_WITH_TIMEOUT(RunHistory::read(reader).size() >= 3, 15000);
    QCOMPARE(process.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(process.processId()), SIGTERM), 0);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    for (const RunRecord &record : RunHistory::read(reader))
        QVERIFY(record.ending != RunRecord::Ending::Running);
}

// A second runner of a schedule is refused, saying who runs it; the first runs on.
void TestCommandLine::secondRunnerIsRefused()
{
    const QString database = schedule({{u"sleep"_s, u"60"_s, 30, 1}});
    auto first = started({u"--headless"_s, u"--database"_s, database});
    QString trace;
    QTRY_VERIFY_WITH_TIMEOUT(
        !startedEntries(trace += QString::fromUtf8(first->readAllStandardError())).isEmpty(),
        10000);
    const Finished second = run({u"--headless"_s, u"--loop"_s, u"--database"_s, database});
    QCOMPARE(second.status, 75);
    const passwd *user = ::getpwuid(::getuid());
    QVERIFY(user);
    QVERIFY2(second.err.contains(u"the schedule %1 is already run by another runner: process %2 "
                                 "(user %3, without a window); not started"_s.arg(database)
                                     .arg(first->processId())
                                     .arg(QString::fromLocal8Bit(user->pw_name))),
             qPrintable(second.err));
    QCOMPARE(startedEntries(second.err), QStringList());
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(first->processId()), SIGTERM), 0);
    QCOMPARE(finish(*first, 10000).status, 0);
}

// The autostart entry for each way of asking for it: its Exec line, the validator's word on it,
// and its removal.
void TestCommandLine::autostart_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("exec");

    QTest::newRow("plain") << QStringList() << u"@PROGRAM --start"_s;
    QTest::newRow("looping") << QStringList {u"--loop"_s} << u"@PROGRAM --start --loop"_s;
    QTest::newRow("from an entry, another schedule")
        << QStringList {u"--from"_s, u"3"_s, u"--database"_s, u"@DB"_s}
        << u"@PROGRAM --start --from 3 --database @DB"_s;
    QTest::newRow("a schedule whose name needs quoting")
        << QStringList {u"--database"_s, u"/srv/my \"lists\"/$100% \\ 程序.mdb"_s}
        << u"@PROGRAM --start --database \"/srv/my \\\\\"lists\\\\\"/\\\\$100%% \\\\\\\\ "
           "程序.mdb\""_s;
}

void TestCommandLine::autostart()
{
    QFETCH(QStringList, options);
    QFETCH(QString, exec);
    QTemporaryDir config;
    // Another schedule, with the entries 1 to 3, in a folder whose name needs no quoting.
    QTemporaryDir folder(QDir::tempPath() + u"/vantrel-XXXXXX"_s);
    const QString database = folder.filePath(u"ProgramRun.mdb"_s);
    m_database->addEntries(
        {{u"a"_s, QString(), 1, 1}, {u"b"_s, QString(), 1, 1}, {u"c"_s, QString(), 1, 1}});
    QVERIFY(QFile::copy(m_database->path(), database));
    for (QString &option : options)
        option.replace(u"@DB"_s, database);
    exec.replace(u"@DB"_s, database);
    QProcessEnvironment environment = withoutDisplay();
    environment.insert(u"XDG_CONFIG_HOME"_s, config.path());
    const QString entry = config.filePath(u"autostart/org.vantrel.AutoRun.desktop"_s);

    const Finished written = run(QStringList {u"--autostart"_s} + options, environment);
    QCOMPARE(written.status, 0);
    QVERIFY2(written.out.startsWith(u"Wrote "_s + entry), qPrintable(written.out));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    exec.replace(u"@PROGRAM"_s, QFileInfo(program).canonicalFilePath());
    QVERIFY2(text.contains(u"\nExec="_s + exec + u'\n'), qPrintable(text));
    const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {entry});
        QVERIFY(validate.waitForFinished(30000));
        QCOMPARE(validate.readAll(), QByteArray());
        QCOMPARE(validate.exitCode(), 0);
    }

    const Finished removed = run({u"--no-autostart"_s}, environment);
    QCOMPARE(removed.status, 0);
    QVERIFY(!QFile::exists(entry));
    QVERIFY(run({u"--no-autostart"_s}, environment).out.contains(u"nothing to remove"_s));

    // A configuration folder that cannot hold the entry.
    environment.insert(u"XDG_CONFIG_HOME"_s, program);
    const Finished refused = run({u"--autostart"_s}, environment);
    QCOMPARE(refused.status, 73);
    QVERIFY2(refused.err.startsWith(u"Cannot write the autostart entry "_s),
             qPrintable(refused.err));
}

// The timers for each way of asking for them: the units written, the service manager's own word
// on them, the calls made to it, and their removal. "@PROGRAM" is the program's file and "@DB"
// another schedule; "before" is a timetable written earlier, which this one replaces.
void TestCommandLine::timetable_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("startExec");
    QTest::addColumn<QString>("stopExec");

    const QString window = u"systemd-run --user --collect @PROGRAM --start"_s;
    const QString service = u"systemctl --user %1 vantrel-autorun.service"_s;
    QTest::newRow("start only, the window")
        << QStringList() << QStringList {u"--at"_s, u"Mon..Fri 08:00"_s} << window << QString();
    QTest::newRow("stop only, the window, another schedule")
        << QStringList()
        << QStringList {u"--until"_s, u"*-*-* 18:00:00"_s, u"--database"_s, u"@DB"_s} << QString()
        << u"@PROGRAM --stop --database @DB"_s;
    // systemd-run expands "$" once more before the window's program gets it.
    QTest::newRow("both, looping, a schedule whose name needs quoting")
        << QStringList()
        << QStringList {u"--at"_s,
                        u"Mon..Fri 08:00"_s,
                        u"--until"_s,
                        u"Mon..Fri 18:00"_s,
                        u"--loop"_s,
                        u"--database"_s,
                        u"/srv/my \"lists\"/$100% \\ ${HOME}\t程序.mdb"_s}
        << window
            + u" --loop --database \"/srv/my \\\"lists\\\"/$$$$100%% \\\\ $$$${HOME}\\x09程序.mdb\""_s
        << u"@PROGRAM --stop --database \"/srv/my \\\"lists\\\"/$$100%% \\\\ $${HOME}\\x09程序.mdb\""_s;
    QTest::newRow("both, the user service")
        << QStringList()
        << QStringList {u"--headless"_s, u"--at"_s, u"daily"_s, u"--until"_s, u"*-*-* 18:00"_s}
        << service.arg(u"start"_s) << service.arg(u"stop"_s);
    QTest::newRow("start only, the user service, which loops anyway")
        << QStringList()
        << QStringList {u"--headless"_s, u"--loop"_s, u"--at"_s, u"Sat,Sun 10:00"_s}
        << service.arg(u"start"_s) << QString();
    QTest::newRow("both for the user service replaced by a start for the window")
        << QStringList {u"--headless"_s, u"--at"_s, u"daily"_s, u"--until"_s, u"*-*-* 18:00"_s}
        << QStringList {u"--at"_s, u"*-*-* 09:30"_s, u"--loop"_s} << window + u" --loop"_s
        << QString();
}

void TestCommandLine::timetable()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, options);
    QFETCH(QString, startExec);
    QFETCH(QString, stopExec);
    const QString analyze = QStandardPaths::findExecutable(u"systemd-analyze"_s);
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is not installed (Debian package systemd)");
    QTemporaryDir config;
    const QString calls = config.filePath(u"calls"_s);
    QProcessEnvironment environment = withStandInManager(withoutDisplay(), calls);
    environment.insert(u"XDG_CONFIG_HOME"_s, config.path());
    const QString folder = config.filePath(u"systemd/user"_s);
    const auto substituted = [&](QString text) {
        return text.replace(u"@PROGRAM"_s, QFileInfo(program).canonicalFilePath())
            .replace(u"@DB"_s, config.filePath(u"ProgramRun.mdb"_s));
    };
    for (QString &option : options)
        option = substituted(option);
    const auto timersOf = [](const QStringList &options) {
        QStringList timers;
        if (options.contains(u"--at"_s))
            timers.append(u"vantrel-autorun-at.timer"_s);
        if (options.contains(u"--until"_s))
            timers.append(u"vantrel-autorun-until.timer"_s);
        return timers;
    };
    // What takes down the timers written before: the start timer also forgets its last run.
    const auto takeDown = [](const QStringList &timers) {
        QStringList lines;
        if (!timers.isEmpty())
            lines.append(u"--user disable --now "_s + timers.join(u' '));
        if (timers.contains(u"vantrel-autorun-at.timer"_s))
            lines.append(u"--user clean --what=state vantrel-autorun-at.timer"_s);
        return lines;
    };
    const QString probe = u"--user show --property=LoadState --value vantrel-autorun.service"_s;
    if (!before.isEmpty())
        QCOMPARE(run(before, environment).status, 0);
    callsMade(calls);

    const Finished written = run(options, environment);
    QCOMPARE(written.status, 0);
    const QStringList timers = timersOf(options);
    QVERIFY2(written.out.startsWith(u"Wrote "_s + timers.join(u" and "_s) + u" in "_s + folder),
             qPrintable(written.out));
    if (!startExec.isEmpty())
        QVERIFY2(written.out.contains(u"next on Wed 2026-12-09 08:00:00 UTC"_s),
                 qPrintable(written.out));
    if (!stopExec.isEmpty())
        QVERIFY2(written.out.contains(u"next on Wed 2026-12-09 18:00:00 UTC"_s),
                 qPrintable(written.out));
    const QStringList enabled {u"--user daemon-reload"_s,
                               u"--user enable --now "_s + timers.join(u' '),
                               u"--user list-timers --output=json --no-pager "
                               "vantrel-autorun-at.timer vantrel-autorun-until.timer"_s};
    QCOMPARE(callsMade(calls), QStringList {probe} + takeDown(timersOf(before)) + enabled);

    // Each timer with its calendar, and its service with the command it runs.
    QStringList units;
    for (const auto &[unit, option, exec] :
         {std::tuple {u"vantrel-autorun-at"_s, u"--at"_s, startExec},
          std::tuple {u"vantrel-autorun-until"_s, u"--until"_s, stopExec}}) {
        QFile timer(folder + u'/' + unit + u".timer"_s);
        QFile service(folder + u'/' + unit + u".service"_s);
        if (exec.isEmpty()) {
            QVERIFY(!timer.exists());
            QVERIFY(!service.exists());
            continue;
        }
        QVERIFY(timer.open(QIODevice::ReadOnly));
        QVERIFY(service.open(QIODevice::ReadOnly));
        const QString timerText = QString::fromUtf8(timer.readAll());
        const QString serviceText = QString::fromUtf8(service.readAll());
        const QString calendar = options.at(options.indexOf(option) + 1).trimmed();
        QVERIFY2(timerText.contains(u"\nOnCalendar="_s + calendar + u'\n'), qPrintable(timerText));
        // A start missed while the machine was off comes at the next boot; a stop does not.
        QCOMPARE(timerText.contains(u"\nPersistent=true\n"_s), option == u"--at");
        QVERIFY2(serviceText.contains(u"\nExecStart="_s + substituted(exec) + u'\n'),
                 qPrintable(serviceText));
        if (option == u"--at")
            QVERIFY(serviceText.contains(u"\nAfter=vantrel-autorun-until.service\n"_s));
        QProcess check;
        check.start(analyze, {u"calendar"_s, u"--"_s, calendar});
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.exitCode(), 0);
        units << timer.fileName() << service.fileName();
    }
    // The service manager's own check: a key it does not know is only a warning, so the check
    // is that it has nothing to say about the units.
    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start(analyze, QStringList {u"verify"_s, u"--man=no"_s} + units);
    QVERIFY(verify.waitForFinished(30000));
    const QString verdict = QString::fromUtf8(verify.readAll());
    QVERIFY2(verify.exitCode() == 0 && !verdict.contains(u"vantrel-autorun-"_s),
             qPrintable(verdict));

    // The status names the next start and stop, also when nothing runs the schedule now.
    const Finished status = run({u"--status"_s, u"--database"_s, m_database->path()}, environment);
    QCOMPARE(status.status, 3);
    QCOMPARE(status.out.contains(u"; next start Wed 2026-12-09 08:00:00 UTC"_s),
             !startExec.isEmpty());
    QCOMPARE(status.out.contains(u"; next stop Wed 2026-12-09 18:00:00 UTC"_s),
             !stopExec.isEmpty());
    callsMade(calls);

    const Finished removed = run({u"--no-at"_s}, environment);
    QCOMPARE(removed.status, 0);
    QVERIFY2(removed.out.startsWith(u"Removed "_s), qPrintable(removed.out));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    QCOMPARE(callsMade(calls),
             QStringList {probe} + takeDown(timers) + QStringList {u"--user daemon-reload"_s});
    QVERIFY(run({u"--no-at"_s}, environment).out.contains(u"nothing to remove"_s));
    QCOMPARE(callsMade(calls), QStringList());
}

// What the timers refuse, and where the service manager or its tools fail them: the exit status
// and the one line said, and whether units stand in the folder after. "folder" is the name of a
// folder the program's file is linked into and run from; "@FOLDER" its path.
void TestCommandLine::timetableRefused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("written");

    const QStringList daily {u"--at"_s, u"daily"_s};
    QTest::newRow("the user service is not installed")
        << QStringList {u"--headless"_s, u"--at"_s, u"daily"_s}
        << u"VANTREL_FAKE_SYSTEMCTL_SERVICE=not-found"_s << QByteArray() << 69
        << u"vantrel-autorun-e2e: the user service manager has no vantrel-autorun.service for the "
           "timers to start and stop; it comes with the package\n"_s
        << false;
    QTest::newRow("the manager refuses to enable the timers")
        << daily << u"VANTREL_FAKE_SYSTEMCTL_FAIL=enable"_s << QByteArray() << 69
        << u"vantrel-autorun-e2e: the user service manager cannot enable the timers: Failed to "
           "enable: Access denied\n"_s
        << true;
    QTest::newRow("systemd-analyze is not installed")
        << daily << u"PATH=@STANDIN"_s << QByteArray() << 69
        << u"vantrel-autorun-e2e: cannot check the calendar of --at: systemd-analyze is not "
           "installed\n"_s
        << false;
    QTest::newRow("a unit folder that cannot be made")
        << daily << u"XDG_CONFIG_HOME=@PROGRAM"_s << QByteArray() << 73
        << u"vantrel-autorun-e2e: cannot write the timers in @PROGRAM/systemd/user: the folder "
           "cannot be made\n"_s
        << false;
    QTest::newRow("the program's file named with a line break")
        << daily << QString() << "a\nb"_ba << 64
        << u"vantrel-autorun-e2e: the timers cannot run the program from \"@FOLDERa\\n"
           "b/vantrel-autorun-e2e\": its name holds a line break\n"_s
        << false;
    QTest::newRow("the program's file named in an encoding that is not UTF-8")
        << daily << QString() << "\xB3\xCC"_ba << 64
        << u"vantrel-autorun-e2e: the timers cannot run the program from \"@FOLDER\\xB3\\xCC/"
           "vantrel-autorun-e2e\": its name is not UTF-8\n"_s
        << false;
    QTest::newRow("the program's file named with a quote, for the stop")
        << QStringList {u"--until"_s, u"daily"_s} << QString() << "my \"programs\""_ba << 64
        << u"vantrel-autorun-e2e: the timers cannot run the program from \"@FOLDERmy "
           "\\\"programs\\\"/vantrel-autorun-e2e\": its name holds a quote, a backslash or a "
           "control character\n"_s
        << false;
    QTest::newRow("the user service needs no name of the program's file")
        << QStringList {u"--headless"_s, u"--at"_s, u"daily"_s} << QString() << "a\nb"_ba << 0
        << QString() << true;
}

void TestCommandLine::timetableRefused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, environment);
    QFETCH(QByteArray, folder);
    QFETCH(QString, says);
    if (QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty())
        QSKIP("systemd-analyze is not installed (Debian package systemd)");
    QTemporaryDir config;
    QProcessEnvironment variables =
        withStandInManager(withoutDisplay(), config.filePath(u"calls"_s));
    variables.insert(u"XDG_CONFIG_HOME"_s, config.path());
    if (!environment.isEmpty()) {
        const QString value = environment.section(u'=', 1)
                                  .replace(u"@STANDIN"_s, QStringLiteral(VANTREL_FAKE_SYSTEMD))
                                  .replace(u"@PROGRAM"_s, program);
        variables.insert(environment.section(u'=', 0, 0), value);
    }
    says.replace(u"@PROGRAM"_s, program);
    // The program's file linked into a folder of that name, on the same file system.
    QTemporaryDir links(QFileInfo(program).absolutePath() + u"/timers-XXXXXX"_s);
    const QByteArray linkFolder = QFile::encodeName(links.path()) + '/' + folder;
    const QByteArray linked = linkFolder + "/vantrel-autorun-e2e";
    const auto removeLink = qScopeGuard([&] {
        ::unlink(linked.constData());
        ::rmdir(linkFolder.constData());
    });
    if (!folder.isEmpty()) {
        QCOMPARE(::mkdir(linkFolder.constData(), 0700), 0);
        QCOMPARE(::link(QFile::encodeName(program).constData(), linked.constData()), 0);
        says.replace(u"@FOLDER"_s, links.path() + u'/');
    }
    QList<QByteArray> arguments;
    for (const QString &option : options)
        arguments.append(option.toUtf8());

    const Finished finished = runWithBytes(arguments, QFile::encodeName(config.path()), variables,
                                           folder.isEmpty() ? QFile::encodeName(program) : linked);
    QTEST(finished.status, "status");
    if (says.isEmpty())
        QVERIFY2(finished.out.startsWith(u"Wrote "_s), qPrintable(finished.out));
    else
        QCOMPARE(finished.err, says);
    QTEST(QFileInfo::exists(config.filePath(u"systemd/user/vantrel-autorun-at.timer"_s)),
          "written");
}

// Records of every kind, printed for a script as JSON lines and as CSV, read back by parsers of
// their own: what each field holds. The columns give the record and then its fields as printed;
// status -1 and an empty detail are null.
void TestCommandLine::historyFormats_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("parameters");
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("programText");
    QTest::addColumn<QString>("parametersText");
    QTest::addColumn<QString>("ended");
    QTest::addColumn<QString>("detailText");

    using Ending = RunRecord::Ending;
    QTest::newRow("at its time") << u"1"_s << "sleep"_ba
                                 << "30"_ba << int(Ending::AtTime) << -1 << QString() << u"sleep"_s
                                 << u"30"_s << u"at-time"_s << QString();
    QTest::newRow("Chinese, quotes, a comma and a line break")
        << u"2"_s << "/usr/bin/\xE7\xA8\x8B\xE5\xBA\x8F"_ba
        << "a,\"b\"\nc"_ba << int(Ending::Exited) << 3 << QString() << u"/usr/bin/程序"_s
        << u"a,\"b\"\nc"_s << u"exited"_s << QString();
    QTest::newRow("bytes that are not UTF-8, a backslash")
        << u"3"_s << "\xB3\xCC.exe"_ba
        << "C:\\temp \xFF"_ba << int(Ending::Signal) << 9 << QString() << u"\\xB3\\xCC.exe"_s
        << u"C:\\temp \\xFF"_s << u"signal"_s << QString();
    QTest::newRow("a line separator, a key that is no number")
        << u"abc"_s << "x"_ba
        << "1\xE2\x80\xA8"
           "2"_ba
        << int(Ending::NotStarted) << -1 << u"no such file"_s << u"x"_s << u"1\u20282"_s
        << u"not-started"_s << u"no such file"_s;
    QTest::newRow("not ended, collected later")
        << u"5"_s << "/usr/bin/su"_ba << QByteArray() << int(Ending::NotEnded) << -1
        << u"Operation not permitted"_s << u"/usr/bin/su"_s << QString() << u"not-ended"_s
        << u"Operation not permitted; collected at 2026-12-08T09:51:00.000Z"_s;
    QTest::newRow("interrupted: no lifetime, what was left")
        << u"6"_s << "sleep"_ba
        << "60"_ba << int(Ending::Interrupted) << -1 << u"killed 1 process it left running"_s
        << u"sleep"_s << u"60"_s << u"interrupted"_s << u"killed 1 process it left running"_s;
    QTest::newRow("a key above 2^53, a zero byte in the program")
        << u"9007199254740993"_s << QByteArray("a\0b", 3) << "1"_ba << int(Ending::NotStarted) << -1
        << u"no such file"_s << u"a\\x00b"_s << u"1"_s << u"not-started"_s << u"no such file"_s;
    QTest::newRow("a key below -2^53, a zero byte in the parameters")
        << u"-9007199254740993"_s << "x"_ba << QByteArray("1\0", 2) << int(Ending::NotStarted) << -1
        << u"no such file"_s << u"x"_s << u"1\\x00"_s << u"not-started"_s << u"no such file"_s;
    QTest::newRow("its last error lines, one that would act on a terminal")
        << u"7"_s << "sh"_ba << QByteArray() << int(Ending::Exited) << 1
        << u"first\n\x1b[2Jsecond"_s << u"sh"_s << QString() << u"exited"_s
        << u"first\n\x1b[2Jsecond"_s;
    QTest::newRow("stopped, from a table without a key")
        << QString() << "sleep"_ba
        << "9"_ba << int(Ending::Stopped) << -1 << QString() << u"sleep"_s << u"9"_s << u"stopped"_s
        << QString();
}

void TestCommandLine::historyFormats()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, program);
    QFETCH(QByteArray, parameters);
    QFETCH(int, ending);
    QFETCH(int, status);
    QFETCH(QString, detail);

    RunRecord record;
    record.entry = entry;
    record.program = program;
    record.parameters = parameters;
    record.startedMs = 1796723454573; // 2026-12-08T09:50:54.573Z
    record.lifetimeMs = 2003;
    record.ending = RunRecord::Ending(ending);
    if (status >= 0)
        record.status = status;
    record.detail = detail;
    if (record.ending == RunRecord::Ending::NotEnded)
        record.collectedMs = 1796723460000;
    Connection connection(m_database->path());
    RunHistory::append(connection, record);
    // Another entry's run, which --from leaves out.
    RunRecord other;
    other.entry = u"99"_s;
    RunHistory::append(connection, other);
    // A key that is no number is no entry --from can name: "0" names none.
    QStringList from;
    if (!entry.isEmpty())
        from << u"--from"_s << QString::number(entry.toLongLong());

    const Finished json = run(QStringList {u"--history"_s, u"--format"_s, u"json"_s,
                                           u"--database"_s, m_database->path()});
    QCOMPARE(json.status, 0);
    const QStringList lines = json.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QJsonParseError error {};
    const QJsonObject object = QJsonDocument::fromJson(lines.first().toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.keys().size(), 8);
    // A key is a number only where a reader's doubles hold it exactly, else a text.
    const qint64 key = entry.toLongLong();
    if (entry.isEmpty())
        QVERIFY(object.value(u"entry").isNull());
    else if (key && key >= -(qint64(1) << 53) && key <= qint64(1) << 53)
        QCOMPARE(object.value(u"entry").toInteger(), key);
    else
        QCOMPARE(object.value(u"entry").toString(), entry);
    QTEST(object.value(u"program").toString(), "programText");
    QTEST(object.value(u"parameters").toString(), "parametersText");
    QCOMPARE(object.value(u"started").toString(), u"2026-12-08T09:50:54.573Z"_s);
    // How long an interrupted run lived is not known.
    const bool lived = record.hasLifetime();
    if (lived)
        QCOMPARE(object.value(u"seconds").toDouble(), 2.003);
    else
        QVERIFY(object.value(u"seconds").isNull());
    QTEST(object.value(u"ended").toString(), "ended");
    if (status < 0)
        QVERIFY(object.value(u"status").isNull());
    else
        QCOMPARE(object.value(u"status").toInt(), status);
    QFETCH(QString, detailText);
    if (detailText.isEmpty())
        QVERIFY(object.value(u"detail").isNull());
    else
        QCOMPARE(object.value(u"detail").toString(), detailText);

    const Finished csv = run(
        QStringList {u"--history"_s, u"--format"_s, u"csv"_s, u"--database"_s, m_database->path()});
    QCOMPARE(csv.status, 0);
    const QList<QStringList> rows = parseCsv(csv.out);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0),
             (QStringList {u"entry"_s, u"program"_s, u"parameters"_s, u"started"_s, u"seconds"_s,
                           u"ended"_s, u"status"_s, u"detail"_s}));
    QCOMPARE(rows.at(1),
             (QStringList {entry, object.value(u"program").toString(),
                           object.value(u"parameters").toString(), u"2026-12-08T09:50:54.573Z"_s,
                           lived ? u"2.003"_s : QString(), object.value(u"ended").toString(),
                           status < 0 ? QString() : QString::number(status), detailText}));

    // One entry's runs only, in a table, oldest first.
    const Finished table =
        run(QStringList {u"--history"_s, u"--database"_s, m_database->path()} + from);
    QCOMPARE(table.status, 0);
    const QStringList tableLines = table.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(tableLines.size(), from.isEmpty() ? 3 : (entry.toLongLong() ? 2 : 1));
    QVERIFY(tableLines.first().startsWith(u"Started"_s));
    // Nothing a program wrote acts on the terminal: one record, one line.
    QVERIFY(!table.out.contains(u'\x1b'));
}

// The commands to a runner, against a real run without a window of `sleep 60` for 30 s: what the
// last command says and its status, and how the first run's record ended after it ("" while it
// runs on). Without a runner the commands say so and exit 3.
void TestCommandLine::steering_data()
{
    QTest::addColumn<bool>("runner");
    QTest::addColumn<QList<QStringList>>("commands");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("ended");

    const QStringList status {u"--status"_s};
    const auto row = [](const char *name, bool runner, const QList<QStringList> &commands,
                        int status, const QString &says, const QString &ended) {
        QTest::newRow(name) << runner << commands << status << says << ended;
    };
    row("status", true, {status}, 0,
        u"^@DB is run by a run without a window \\(process @PID, user \\S+\\) since "
        "[0-9-]+ [0-9:]+, looping: entry 1 \"sleep\" \"60\", run 1 of 1, [0-9]+ s left, "
        "program pid [0-9]+$"_s,
        QString());
    row("status as JSON", true, {status + QStringList {u"--format"_s, u"json"_s}}, 0,
        u"^\\{.*\"paused\":false,\"pid\":@PID,\"program\":\"sleep\",.*\"runner\":"
        "\"headless\".*\\}$"_s,
        QString());
    row("pause: said in the status", true, {{u"--pause"_s}, status}, 0,
        u"^@DB is run by .*, looping, paused: entry 1 "_s, QString());
    row("resume", true, {{u"--pause"_s}, {u"--resume"_s}}, 0, u"^resumed the run$"_s, QString());
    row("next: the program ended, its record says skipped", true, {{u"--next"_s}}, 0,
        u"^ended the running program early; the run goes on$"_s, u"skipped"_s);
    row("next as JSON", true, {{u"--next"_s, u"--format"_s, u"json"_s}}, 0,
        u"^\\{\"message\":\"ended the running program early; the run goes on\",\"ok\":true\\}$"_s,
        u"skipped"_s);
    row("stop: the runner ends, as on SIGTERM", true, {{u"--stop"_s}}, 0, u"^stopped the run$"_s,
        u"stopped"_s);
    row("status without a runner", false, {status}, 3, u"^no runner runs @DB$"_s, QString());
    row("next without a runner", false, {{u"--next"_s}}, 3,
        u"^vantrel-autorun-e2e: no runner runs @DB; nothing was done$"_s, QString());
    row("pause of a schedule that is not there", false,
        {{u"--pause"_s, u"--database"_s, u"/nonexistent/ProgramRun.mdb"_s}}, 66,
        u"^vantrel-autorun-e2e: there is no schedule /nonexistent/ProgramRun.mdb$"_s, QString());
    row("--format that a runner does not speak", false, {{u"--status"_s, u"--format"_s, u"csv"_s}},
        64, u"--format is text or json, not 'csv'\\."_s, QString());
}

void TestCommandLine::steering()
{
    QFETCH(bool, runner);
    QFETCH(QList<QStringList>, commands);
    QFETCH(int, status);
    QFETCH(QString, says);
    QFETCH(QString, ended);
    const QString database = schedule({{u"sleep"_s, u"60"_s, 30, 1}});
    std::unique_ptr<QProcess> running = runner ? startedRunner(database) : nullptr;
    Finished finished;
    for (QStringList command : commands) {
        if (!command.contains(u"--database"_s))
            command << u"--database"_s << database;
        finished = run(command);
    }
    QCOMPARE(finished.status, status);
    says.replace(u"@DB"_s, QRegularExpression::escape(database));
    if (running)
        says.replace(u"@PID"_s, QString::number(running->processId()));
    const QString said =
        (status == 0 || (status == 3 && commands.last().contains(u"--status"_s)) ? finished.out
                                                                                 : finished.err)
            .trimmed();
    QVERIFY2(QRegularExpression(says).match(said).hasMatch(), qPrintable(said));
    if (!running)
        return;
    if (ended == u"stopped") {
        QCOMPARE(finish(*running, 10000).status, 0);
    } else {
        QCOMPARE(running->state(), QProcess::Running);
        ::kill(pid_t(running->processId()), SIGTERM);
        QCOMPARE(finish(*running, 10000).status, 0);
    }
    Connection reader(m_database->path());
    const std::vector<RunRecord> records = RunHistory::read(reader);
    QVERIFY(!records.empty());
    QCOMPARE(RunEndings::name(records.front().ending), ended.isEmpty() ? u"stopped"_s : ended);
}

// What reaches a runner's socket that is no request of this program's: an error answer, and the
// runner runs on and answers the next request.
void TestCommandLine::steeringRequestsThatAreNoRequests()
{
    const QString database = schedule({{u"sleep"_s, u"60"_s, 30, 1}});
    auto running = startedRunner(database);
    const QString folder = m_runtime.filePath(u"vantrel-autorun"_s);
    const QStringList sockets = QDir(folder).entryList({u"*.runner"_s}, QDir::System);
    QCOMPARE(sockets.size(), 1);
    QCOMPARE(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    const QByteArray path = QFile::encodeName(folder + u'/' + sockets.first());
    const QByteArray requests[] = {"garbage\n", "{\"command\":\"status\"}\n",
                                   "{\"version\":99,\"command\":\"status\"}\n", "{\"vers",
                                   QByteArray(70000, 'x')};
    const QString answers[] = {u"the request could not be read"_s,
                               u"the request is of version -1; this program answers version 1"_s,
                               u"the request is of version 99; this program answers version 1"_s,
                               u"the request was cut short"_s, u"the request is too long"_s};
    for (int i = 0; i < 5; ++i) {
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QCOMPARE(::connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::send(socket, requests[i].constData(), size_t(requests[i].size()), MSG_NOSIGNAL);
        ::shutdown(socket, SHUT_WR);
        QByteArray answer;
        char buffer[256];
        for (ssize_t length; (length = ::recv(socket, buffer, sizeof buffer, 0)) > 0;)
            answer.append(buffer, length);
        ::close(socket);
        const QJsonObject body = QJsonDocument::fromJson(answer).object();
        QCOMPARE(body.value(u"ok"_s).toBool(true), false);
        QCOMPARE(body.value(u"error"_s).toString(), answers[i]);
    }
    QCOMPARE(run({u"--status"_s, u"--database"_s, database}).status, 0);
    ::kill(pid_t(running->processId()), SIGTERM);
    QCOMPARE(finish(*running, 10000).status, 0);
}

// Another user's runner of a shared schedule: the status says who runs it, and the commands that
// steer it are refused with 77.
void TestCommandLine::steeringAnotherUsersRunner()
{
    if (::geteuid() != 0)
        QSKIP("only root can ask as another user");
    const QString database = schedule({{u"sleep"_s, u"60"_s, 30, 1}});
    QVERIFY(QFile::setPermissions(database, QFile::permissions(database) | QFile::ReadOther));
    QVERIFY(QFile::setPermissions(QFileInfo(database).path(),
                                  QFile::permissions(QFileInfo(database).path()) | QFile::ExeOther
                                      | QFile::ReadOther));
    auto running = startedRunner(database);
    const auto asNobody = [&](const QString &option) {
        QProcessEnvironment environment = withoutDisplay();
        environment.remove(u"XDG_RUNTIME_DIR"_s);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(u"setpriv"_s,
                      {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, program, option,
                       u"--database"_s, database});
        return finish(process, 30000);
    };
    const Finished status = asNobody(u"--status"_s);
    QCOMPARE(status.status, 0);
    QVERIFY2(status.out.contains(u"is run by a run without a window (process %1, user root); only "
                                 "that user may steer it"_s.arg(running->processId())),
             qPrintable(status.out + status.err));
    const Finished next = asNobody(u"--next"_s);
    QCOMPARE(next.status, 77);
    QVERIFY2(next.err.contains(u"only that user may steer it"_s), qPrintable(next.err));
    QCOMPARE(running->state(), QProcess::Running);
    ::kill(pid_t(running->processId()), SIGTERM);
    QCOMPARE(finish(*running, 10000).status, 0);
}

// A runner killed outright leaves its socket behind: nothing answers there, and the next runner
// of the schedule takes its place.
void TestCommandLine::socketLeftByAKilledRunner()
{
    const QString database = schedule({{u"sleep"_s, u"60"_s, 30, 1}});
    auto killed = startedRunner(database);
    ::kill(pid_t(killed->processId()), SIGKILL);
    QVERIFY(killed->waitForFinished(10000));
    const QString folder = m_runtime.filePath(u"vantrel-autorun"_s);
    QCOMPARE(QDir(folder).entryList({u"*.runner"_s}, QDir::System).size(), 1);
    QCOMPARE(run({u"--status"_s, u"--database"_s, database}).status, 3);
    auto next = startedRunner(database);
    const Finished status = run({u"--status"_s, u"--database"_s, database});
    QCOMPARE(status.status, 0);
    QVERIFY2(status.out.contains(u"(process %1,"_s.arg(next->processId())), qPrintable(status.out));
    ::kill(pid_t(next->processId()), SIGTERM);
    QCOMPARE(finish(*next, 10000).status, 0);
    QCOMPARE(QDir(folder).entryList({u"*.runner"_s}, QDir::System).size(), 0);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
