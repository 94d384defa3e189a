#include "engine/OutputLog.h"
#include "support/Deadline.h"
#include "support/OrdinaryUser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString shell = u"/bin/sh"_s;
const QString entryKey = u"12"_s;
// 2025-03-04 05:06:07 in the zone the test sets (eight hours east of UTC).
const QDateTime runStart(QDate(2025, 3, 3), QTime(21, 6, 7), Qt::UTC);

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray heading(const QByteArray &pid)
{
    return "=== 2025-03-04T05:06:07+08:00 pid " + pid.leftJustified(7, ' ')
        + " entry 12 \"/bin/sh\"\n";
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "(none)"_ba;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The test's open descriptors and their flags (FD_CLOEXEC).
QHash<int, int> descriptorFlags()
{
    QHash<int, int> flags;
    const QStringList names =
        QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        // The listing's own descriptor is gone by now.
        if (const int flag = ::fcntl(name.toInt(), F_GETFD); flag >= 0)
            flags.insert(name.toInt(), flag);
    }
    return flags;
}

// Ended, and not yet collected: WNOWAIT leaves that to waitpid().
bool hasEnded(pid_t pid)
{
    siginfo_t state {};
    return ::waitid(P_PID, id_t(pid), &state, WEXITED | WNOHANG | WNOWAIT) == 0
        && state.si_pid == pid;
}

} // namespace

class OutputLogTest final : public QObject
{
    Q_OBJECT

public:
    OutputLogTest() = default;
    Q_DISABLE_COPY_MOVE(OutputLogTest)

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void namesTheLog_data();
    void namesTheLog();
    void keepsBothStreamsAndTheTail_data();
    void keepsBothStreamsAndTheTail();
    void givesTheProgramItsOwnDescriptors_data();
    void givesTheProgramItsOwnDescriptors();
    void appendsAndRotatesRunByRun_data();
    void appendsAndRotatesRunByRun();
    void rotatesOlderLogs_data();
    void rotatesOlderLogs();
    void saysWhyItCannotOpen_data();
    void saysWhyItCannotOpen();
    void neverHoldsUpAGreatWriter();
    void keepsWritingAfterItsRunner();

private:
    QString logPath() const { return m_dir->filePath(u"state/vantrel-autorun/x.log"_s); }
    // Starts the script with the output's descriptors as its 1 and 2, as the launcher does, but
    // without closing the test's other descriptors: any that is not close-on-exec shows.
    pid_t start(RunOutput &output, const QByteArray &script);
    // Runs the script to its end and gives its heading's pid; 0 when it failed. A busy loop
    // handles no events until the program has ended.
    enum class Loop { Free, Busy };
    pid_t runToEnd(RunOutput &output, const QByteArray &script, Loop loop = Loop::Free);

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<pid_t> m_started;
};

void OutputLogTest::initTestCase()
{
    // Headings name local time; a zone of fixed offset makes them the same on every machine.
    qputenv("TZ", "CST-8");
    QVERIFY(QFile::exists(shell));
}

void OutputLogTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void OutputLogTest::cleanup()
{
    // What a failed test left running is ended, so that the next test neither waits nor sees it.
    for (const pid_t pid : std::exchange(m_started, {})) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

pid_t OutputLogTest::start(RunOutput &output, const QByteArray &script)
{
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return 0;
    const auto destroy = qScopeGuard([&] { ::posix_spawn_file_actions_destroy(&actions); });
    QByteArray program = QFile::encodeName(shell);
    QByteArray option = "-c";
    QByteArray text = script;
    char *argv[] = {program.data(), option.data(), text.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn_file_actions_adddup2(&actions, output.outputDescriptor(), STDOUT_FILENO) != 0
        || ::posix_spawn_file_actions_adddup2(&actions, output.errorDescriptor(), STDERR_FILENO)
            != 0
        || ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) != 0)
        return 0;
    m_started.append(pid);
    output.closeChildEnds();
    output.setProcessId(pid);
    return pid;
}

pid_t OutputLogTest::runToEnd(RunOutput &output, const QByteArray &script, Loop loop)
{
    const pid_t pid = start(output, script);
    if (pid == 0)
        return 0;
    if (loop == Loop::Busy) {
        const Deadline deadline(std::chrono::seconds(10), "the program");
        siginfo_t state {};
        ::waitid(P_PID, id_t(pid), &state, WEXITED | WNOWAIT);
    }
    if (!QTest::qWaitFor([pid] { return hasEnded(pid); }, 10000))
        return 0;
    ::waitpid(pid, nullptr, 0);
    m_started.removeOne(pid);
    return pid;
}

void OutputLogTest::namesTheLog_data()
{
    QTest::addColumn<QByteArray>("stateHome");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("in the state home")
        << "/var/state"_ba << u"12"_s << u"/var/state/vantrel-autorun/2049-131-entry-12.log"_s;
    QTest::newRow("state home unset: in the home folder")
        << QByteArray() << u"12"_s
        << u"@home@/.local/state/vantrel-autorun/2049-131-entry-12.log"_s;
    QTest::newRow("a relative state home is ignored")
        << "state"_ba << u"12"_s << u"@home@/.local/state/vantrel-autorun/2049-131-entry-12.log"_s;
    QTest::newRow("a key that is not a name is percent-encoded")
        << "/s"_ba << u"../a b/程"_s
        << u"/s/vantrel-autorun/2049-131-entry-..%2Fa%20b%2F%E7%A8%8B.log"_s;
    QTest::newRow("a key too long for a name goes by its hash")
        << "/s"_ba << QString(200, u'x')
        << u"/s/vantrel-autorun/2049-131-entry-sha256-"
           u"aa20c23e3201834050679e1d88941b9a6fed0557c9a705cb2c315e2e63fd486d.log"_s;
}

void OutputLogTest::namesTheLog()
{
    QFETCH(QByteArray, stateHome);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldState = qgetenv("XDG_STATE_HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", oldHome);
        if (oldState.isNull())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", oldState);
    });
    qputenv("HOME", QFile::encodeName(m_dir->path()));
    if (stateHome.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", stateHome);
    QCOMPARE(OutputLog::pathFor(2049, 131, key), expected.replace(u"@home@"_s, m_dir->path()));
}

void OutputLogTest::keepsBothStreamsAndTheTail_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("tail");

    // Standard output goes first in each script: it reaches the log at once, standard error when
    // the runner has read it.
    QTest::newRow("both streams, the last two lines of standard error")
        << "echo out; echo err1 >&2; echo err2 >&2; echo err3 >&2"_ba
        << "out\nerr1\nerr2\nerr3\n"_ba << u"err2\nerr3"_s;
    QTest::newRow("nothing on standard error") << "echo out"_ba
                                               << "out\n"_ba << QString();
    QTest::newRow("a single line") << "echo only >&2"_ba
                                   << "only\n"_ba << u"only"_s;
    QTest::newRow("blank lines do not count, an unended last line does")
        << "printf 'a\\nb\\n\\n  \\nc' >&2"_ba
        << "a\nb\n\n  \nc"_ba << u"b\nc"_s;
    QTest::newRow("what a carriage return overwrote is gone")
        << "printf '10%%\\r50%%\\r100%%\\r\\ndone\\r\\n' >&2"_ba
        << "10%\r50%\r100%\r\ndone\r\n"_ba << u"100%\ndone"_s;
    QTest::newRow("controls dropped, tabs as blanks, Chinese and bad UTF-8 kept readable")
        << "printf 'a\\tb\\001c\\n错误：\\377找不到\\n' >&2"_ba
        << "a\tb\001c\n错误：\377找不到\n"_ba << u"a bc\n错误：\uFFFD找不到"_s;
    QTest::newRow("a long line is cut")
        << "printf '%0400d\\n' 0 >&2"_ba << QByteArray(400, '0') + '\n'
        << QString(300, u'0') + u'…';
    QTest::newRow("a line longer than what is kept shows it began before")
        << "printf 'first\\n%05000d' 0 >&2"_ba
        << "first\n" + QByteArray(5000, '0') << u'…' + QString(300, u'0') + u'…';
}

void OutputLogTest::keepsBothStreamsAndTheTail()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, output);
    QFETCH(QString, tail);

    QString problem;
    const auto run = RunOutput::open(logPath(), {runStart, entryKey, "/bin/sh"}, &problem);
    QVERIFY2(run, qPrintable(problem));
    const pid_t pid = runToEnd(*run, script);
    QVERIFY(pid > 0);
    QCOMPARE(run->errorTail(), tail);
    QCOMPARE(readAll(logPath()), heading(QByteArray::number(pid)) + output);
}

void OutputLogTest::givesTheProgramItsOwnDescriptors_data()
{
    QTest::addColumn<bool>("inputClosed");

    QTest::newRow("a runner with its three standard descriptors") << false;
    // Its first descriptors would be numbered 0, which the program's dup2 onto 1 and 2 would
    // leave standing as its standard input.
    QTest::newRow("a runner started with standard input closed") << true;
}

void OutputLogTest::givesTheProgramItsOwnDescriptors()
{
    QFETCH(bool, inputClosed);

    const int input = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 100);
    QVERIFY(input >= 0);
    const auto restoreInput = qScopeGuard([input] {
        ::dup2(input, STDIN_FILENO);
        ::close(input);
    });
    if (inputClosed)
        QCOMPARE(::close(STDIN_FILENO), 0);
    const QHash<int, int> before = descriptorFlags();
    QString problem;
    auto run = RunOutput::open(logPath(), {runStart, entryKey, "/bin/sh"}, &problem);
    QVERIFY2(run, qPrintable(problem));
    // Every descriptor the runner opened stays out of whatever it starts, and none is one of the
    // three the program's dup2 would overwrite.
    const QHash<int, int> opened = descriptorFlags();
    for (auto it = opened.cbegin(); it != opened.cend(); ++it) {
        if (before.contains(it.key()))
            continue;
        QVERIFY2(it.key() > STDERR_FILENO && (it.value() & FD_CLOEXEC) != 0,
                 qPrintable(u"descriptor %1"_s.arg(it.key())));
    }
    QVERIFY((::fcntl(run->outputDescriptor(), F_GETFL) & O_APPEND) != 0);
    // The program's end of the pipe blocks when full rather than fail the program's writes.
    QCOMPARE(::fcntl(run->errorDescriptor(), F_GETFL) & O_NONBLOCK, 0);

    const pid_t pid = runToEnd(*run, "echo \"$(readlink /proc/$$/fd/1 /proc/$$/fd/2)\" >&2"_ba);
    QVERIFY(pid > 0);
    const QStringList targets = run->errorTail().split(u'\n');
    QCOMPARE(targets.value(0), logPath());
    QVERIFY2(targets.value(1).startsWith(u"pipe:"), qPrintable(targets.value(1)));
    run.reset();
    QList<int> left = descriptorFlags().keys();
    QList<int> had = before.keys();
    std::sort(left.begin(), left.end());
    std::sort(had.begin(), had.end());
    QCOMPARE(left, had);
    struct stat status
    {
    };
    QCOMPARE(::stat(QFile::encodeName(logPath()).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0600u);
    for (const QString &folder : {u"state"_s, u"state/vantrel-autorun"_s}) {
        QCOMPARE(::stat(QFile::encodeName(m_dir->filePath(folder)).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0700u);
    }
}

void OutputLogTest::appendsAndRotatesRunByRun_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QByteArrayList>("scripts");
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("older");

    // @1@ and @2@ stand for the headings of the first and second run.
    QTest::newRow("run after run")
        << OutputLog::sizeLimit << QByteArrayList {"echo one", "echo two >&2"}
        << "@1@one\n@2@two\n"_ba
        << "(none)"_ba;
    QTest::newRow("output without a last newline: the next heading on a line of its own")
        << OutputLog::sizeLimit << QByteArrayList {"printf partial", "echo next"}
        << "@1@partial\n@2@next\n"_ba
        << "(none)"_ba;
    QTest::newRow("one run grows past the limit, the next begins a new log")
        << qint64(64) << QByteArrayList {"printf '%0200d\\n' 0", "echo after"} << "@2@after\n"_ba
        << "@1@" + QByteArray(200, '0') + '\n';
}

void OutputLogTest::appendsAndRotatesRunByRun()
{
    QFETCH(qint64, limit);
    QFETCH(QByteArrayList, scripts);
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, older);

    for (qsizetype i = 0; i < scripts.size(); ++i) {
        QString problem;
        const auto run =
            RunOutput::open(logPath(), {runStart, entryKey, "/bin/sh"}, &problem, limit);
        QVERIFY2(run, qPrintable(problem));
        // Nothing of standard error is read while the program runs: what it wrote reaches the log
        // when the run's output is closed.
        const pid_t pid = runToEnd(*run, scripts.at(i), Loop::Busy);
        QVERIFY(pid > 0);
        const QByteArray mark = '@' + QByteArray::number(i + 1) + '@';
        log.replace(mark, heading(QByteArray::number(pid)));
        older.replace(mark, heading(QByteArray::number(pid)));
    }
    QCOMPARE(readAll(logPath()), log);
    QCOMPARE(readAll(logPath() + u".1"), older);
}

void OutputLogTest::rotatesOlderLogs_data()
{
    QTest::addColumn<QByteArrayList>("before"); // NAME.log, .1, .2, .3; "(none)" for no file
    QTest::addColumn<QByteArrayList>("after"); // @H@ for the new run's heading

    const QByteArray none = "(none)";
    const QByteArray full = "123456789\n"; // the limit of 10 bytes
    QTest::newRow("below the limit: appended")
        << QByteArrayList {"12345678\n", none, none, none}
        << QByteArrayList {"12345678\n@H@", none, none, none};
    QTest::newRow("at the limit: rotated")
        << QByteArrayList {full, none, none, none} << QByteArrayList {"@H@", full, none, none};
    QTest::newRow("the older logs move up and the oldest is dropped")
        << QByteArrayList {full, "B\n", "C\n", "D\n"} << QByteArrayList {"@H@", full, "B\n", "C\n"};
    QTest::newRow("a missing older log leaves its place empty")
        << QByteArrayList {full, none, "C\n", none} << QByteArrayList {"@H@", full, none, "C\n"};
    QTest::newRow("only the newest log's size counts")
        << QByteArrayList {"A\n", full, full, full} << QByteArrayList {"A\n@H@", full, full, full};
}

void OutputLogTest::rotatesOlderLogs()
{
    QFETCH(QByteArrayList, before);
    QFETCH(QByteArrayList, after);

    const QString path = m_dir->filePath(u"x.log"_s);
    const QStringList names = {path, path + u".1", path + u".2", path + u".3"};
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (before.at(i) != "(none)")
            QVERIFY(writeFile(names.at(i), before.at(i)));
    }
    QString problem;
    QVERIFY2(RunOutput::open(path, {runStart, entryKey, "/bin/sh"}, &problem, 10),
             qPrintable(problem));
    for (qsizetype i = 0; i < names.size(); ++i)
        QCOMPARE(readAll(names.at(i)), QByteArray(after.at(i)).replace("@H@", heading("?")));
    QVERIFY(!QFile::exists(path + u".4"));
}

void OutputLogTest::saysWhyItCannotOpen_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<int>("error");

    QTest::newRow("a file where a folder above the log's goes")
        << u"file blocker"_s << u"blocker/sub/x.log"_s
        << u"cannot make the folder \"@tmp@/blocker/sub\": "_s << ENOTDIR;
    QTest::newRow("a file where the log's folder goes")
        << u"file blocker"_s << u"blocker/x.log"_s
        << u"cannot make the folder \"@tmp@/blocker\": "_s << ENOTDIR;
    QTest::newRow("a folder where the log goes")
        << u"folder x.log"_s << u"x.log"_s << u"cannot open the log \"@tmp@/x.log\": "_s << EISDIR;
    // Opened without waiting for a reader that never comes.
    QTest::newRow("a named pipe where the log goes")
        << u"pipe x.log"_s << u"x.log"_s << u"cannot open the log \"@tmp@/x.log\": "_s << ENXIO;
    QTest::newRow("a folder this user may not write")
        << u"locked"_s << u"locked/x.log"_s << u"cannot open the log \"@tmp@/locked/x.log\": "_s
        << EACCES;
    QTest::newRow("a full log in a folder this user may not write")
        << u"locked, full log"_s << u"locked/x.log"_s
        << u"cannot rotate the log \"@tmp@/locked/x.log\": "_s << EACCES;
}

void OutputLogTest::saysWhyItCannotOpen()
{
    QFETCH(QString, setUp);
    QFETCH(QString, log);
    QFETCH(QString, problem);
    QFETCH(int, error);

    const QString blocker = m_dir->filePath(u"blocker"_s);
    const QString locked = m_dir->filePath(u"locked"_s);
    const QByteArray named = QFile::encodeName(m_dir->filePath(u"x.log"_s));
    if (setUp == u"file blocker")
        QVERIFY(writeFile(blocker, "x"));
    else if (setUp == u"folder x.log")
        QCOMPARE(::mkdir(named.constData(), 0700), 0);
    else if (setUp == u"pipe x.log")
        QCOMPARE(::mkfifo(named.constData(), 0600), 0);
    if (setUp.startsWith(u"locked")) {
        // The ordinary user the test may become must reach the folder, and nothing in it.
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0711), 0);
        QVERIFY(QDir().mkdir(locked));
        if (setUp.endsWith(u"full log"))
            QVERIFY(writeFile(locked + u"/x.log", QByteArray(20, 'x')));
        QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    }

    // Root may write anywhere: where a permission is to refuse, the test runs as an ordinary user.
    std::optional<ScopedOrdinaryUser> user;
    if (setUp.startsWith(u"locked"))
        user.emplace();
    const qsizetype descriptors = descriptorFlags().size();
    QString reason;
    {
        const Deadline deadline(std::chrono::seconds(10), "opening the log");
        QVERIFY(
            !RunOutput::open(m_dir->filePath(log), {runStart, entryKey, "/bin/sh"}, &reason, 10));
    }
    QCOMPARE(reason, problem.replace(u"@tmp@"_s, m_dir->path()) + errorText(error));
    QCOMPARE(descriptorFlags().size(), descriptors);
}

void OutputLogTest::neverHoldsUpAGreatWriter()
{
    // 8 MB in lines of 32 bytes, far more than any pipe holds: the program ends only if the
    // runner reads as it writes.
    constexpr qint64 written = 8 * 1024 * 1024;
    const QByteArray line = "0123456789abcdef0123456789abcde";
    QString problem;
    const auto run = RunOutput::open(logPath(), {runStart, entryKey, "/bin/sh"}, &problem);
    QVERIFY2(run, qPrintable(problem));
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = runToEnd(*run,
                               "yes " + line + " | head -c " + QByteArray::number(written)
                                   + " >&2; echo last line >&2");
    QVERIFY2(pid > 0, "the program did not end within its deadline");
    QCOMPARE(run->errorTail(), QString::fromLatin1(line) + u"\nlast line");
    QCOMPARE(QFileInfo(logPath()).size(),
             heading(QByteArray::number(pid)).size() + written + qint64(sizeof "last line"));
    qInfo("8 MB of standard error went through in %lld ms", qlonglong(clock.elapsed()));
}

// A program left running when its runner goes keeps writing into its log, and is not ended by
// writing where no one reads.
void OutputLogTest::keepsWritingAfterItsRunner()
{
    QString problem;
    auto run = RunOutput::open(logPath(), {runStart, entryKey, "/bin/sh"}, &problem);
    QVERIFY2(run, qPrintable(problem));
    const QByteArray go = QFile::encodeName(m_dir->filePath(u"go"_s));
    const pid_t pid = start(*run,
                            "echo before >&2; while [ ! -e '" + go
                                + "' ]; do sleep 0.01; done; echo after >&2; echo done");
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).endsWith("before\n"), 10000);
    QVERIFY(run->handOver());
    run.reset();
    QVERIFY(writeFile(QFile::decodeName(go), ""));
    QVERIFY(QTest::qWaitFor([pid] { return hasEnded(pid); }, 10000));
    int status = -1;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    m_started.removeOne(pid);
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
    QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).endsWith("before\nafter\ndone\n")
                                 || readAll(logPath()).endsWith("before\ndone\nafter\n"),
                             10000);
}

QTEST_GUILESS_MAIN(OutputLogTest)
#include "tst_outputlog.moc"
