#include "engine/ProcessLauncher.h"
#include "support/OrdinaryUser.h"
#include "support/TraceCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString helperPath = QString::fromUtf8(VANTREL_TEST_CHILD);
const QString helperName = QFileInfo(helperPath).fileName();
const QString helperDir = QFileInfo(helperPath).absolutePath();

// How the trace shows the reasons the system gives, in whatever language it speaks.
const QString notPermitted = QString::fromLocal8Bit(std::strerror(EPERM));
QString signalName(int signal)
{
    return QString::fromLocal8Bit(::strsignal(signal));
}

// What the stand-in program wrote about how it was started.
struct ChildReport
{
    QByteArrayList arguments;
    QList<int> descriptors;
    QByteArray directory;
    qint64 pid = 0;
    qint64 pgid = 0;
    qint64 sid = 0;
    qint64 grandchild = 0;
    QByteArray grandchildUids; // real, effective and saved
    quint64 blocked = ~0ULL;
    quint64 ignored = ~0ULL;
    QByteArray uids; // real, effective and saved
    QByteArrayList environment; // its VANTREL_TEST_… variables
    QByteArray runId;
};

ChildReport readReport(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    ChildReport report;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        if (key == "arg")
            report.arguments.append(QByteArray::fromHex(value));
        else if (key == "fd")
            report.descriptors.append(value.toInt());
        else if (key == "cwd")
            report.directory = QByteArray::fromHex(value);
        else if (key == "pid")
            report.pid = value.toLongLong();
        else if (key == "pgid")
            report.pgid = value.toLongLong();
        else if (key == "sid")
            report.sid = value.toLongLong();
        else if (key == "grandchild")
            report.grandchild = value.toLongLong();
        else if (key == "grandchilduids")
            report.grandchildUids = value;
        else if (key == "sigblk")
            report.blocked = value.toULongLong(nullptr, 16);
        else if (key == "sigign")
            report.ignored = value.toULongLong(nullptr, 16);
        else if (key == "uids")
            report.uids = value;
        else if (key == "env")
            report.environment.append(QByteArray::fromHex(value));
        else if (key == "runid")
            report.runId = value;
    }
    return report;
}

// Gone, or a zombie that only its new parent still has to collect.
bool hasEnded(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

QByteArray canonical(const QByteArray &path)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(path.constData(), nullptr), &std::free);
    return resolved ? QByteArray(resolved.get()) : QByteArray();
}

bool hasUnreapedChild()
{
    siginfo_t info {};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

qsizetype openDescriptors()
{
    return QDir(u"/proc/self/fd"_s)
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

bool writeFile(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        && file.setPermissions(permissions);
}

} // namespace

class LauncherTest final : public QObject
{
    Q_OBJECT

public:
    LauncherTest() = default;
    Q_DISABLE_COPY_MOVE(LauncherTest)

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void passesParameters_data();
    void passesParameters();
    void findsProgramAndDirectory_data();
    void findsProgramAndDirectory();
    void passesEnvironment_data();
    void passesEnvironment();
    void endsWithGrace_data();
    void endsWithGrace();
    void startsClean();
    void endsWholeGroup();
    void reapsProgramThatEndedItself_data();
    void reapsProgramThatEndedItself();
    void keepsRunningWhatItCannotEnd_data();
    void keepsRunningWhatItCannotEnd();
    void repeatedCyclesLeaveNothingBehind();
    void handsOthersToOpener_data();
    void handsOthersToOpener();
    void refusesWhatCannotStart_data();
    void refusesWhatCannotStart();
    void ignoresHandlesItMustNotKill_data();
    void ignoresHandlesItMustNotKill();

private:
    QString reportPath() const { return m_dir->filePath(u"report"_s); }
    QString expand(QString text) const
    {
        return text.replace(u"@helperDir@"_s, helperDir)
            .replace(u"@helper@"_s, helperPath)
            .replace(u"@tmp@"_s, m_dir->path());
    }
    QByteArray expand(QByteArray bytes) const
    {
        return bytes.replace("@helperDir@", QFile::encodeName(helperDir))
            .replace("@helper@", QFile::encodeName(helperPath))
            .replace("@tmp@", QFile::encodeName(m_dir->path()));
    }
    void prependPath(const QString &directories)
    {
        qputenv("PATH", QFile::encodeName(directories) + ':' + m_path);
    }

    ProcessLauncher m_launcher;
    LaunchInfo m_info;
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_path;
    QString m_currentDir;
};

void LauncherTest::initTestCase()
{
    QVERIFY(QFileInfo(helperPath).isExecutable());
    m_path = qgetenv("PATH");
    m_currentDir = QDir::currentPath();
}

void LauncherTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("VANTREL_CHILD_REPORT", QFile::encodeName(reportPath()));
    m_info = {};
}

void LauncherTest::cleanup()
{
    m_launcher.terminate(m_info.process);
    qputenv("PATH", m_path);
    qunsetenv("VANTREL_CHILD_MODE");
    QVERIFY(QDir::setCurrent(m_currentDir));
    // What was ended is collected soon after, and nothing is left for the next test.
    QTRY_VERIFY_WITH_TIMEOUT(!hasUnreapedChild(), 5000);
}

void LauncherTest::passesParameters_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("parameters");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<QString>("trace");

    QTest::newRow("none") << "@helper@"_ba
                          << ""_ba << QByteArrayList() << uR"("@helper@" [])"_s;
    QTest::newRow("blanks only") << "@helper@"_ba
                                 << " \t "_ba << QByteArrayList() << uR"("@helper@" [])"_s;
    QTest::newRow("words") << "@helper@"_ba
                           << "one  two"_ba << QByteArrayList {"one", "two"}
                           << uR"("@helper@" ["one", "two"])"_s;
    QTest::newRow("quoted and empty") << "@helper@"_ba
                                      << "'a b' \"\" c\\ d"_ba << QByteArrayList {"a b", "", "c d"}
                                      << uR"("@helper@" ["a b", "", "c d"])"_s;
    QTest::newRow("shell characters")
        << "@helper@"_ba
        << "$HOME *.txt ; | > #x"_ba << QByteArrayList {"$HOME", "*.txt", ";", "|", ">", "#x"}
        << uR"("@helper@" ["$HOME", "*.txt", ";", "|", ">", "#x"])"_s;
    QTest::newRow("chinese") << "@helper@"_ba
                             << "\"我的 文档.txt\" 文件"_ba
                             << QByteArrayList {"我的 文档.txt", "文件"}
                             << uR"("@helper@" ["我的 文档.txt", "文件"])"_s;
    QTest::newRow("code page 936 bytes in name and parameter")
        << "@tmp@/\xB3\xCC\xD0\xF2"_ba
        << "\xB3\xCC\xD0\xF2 'x\xB3\xCC'"_ba << QByteArrayList {"\xB3\xCC\xD0\xF2", "x\xB3\xCC"}
        << uR"("@tmp@/\xB3\xCC\xD0\xF2" ["\xB3\xCC\xD0\xF2", "x\xB3\xCC"])"_s;
    QTest::newRow("line break, quotes and backslash stay on one line")
        << "@helper@"_ba
        << "'a\nb' \"say \\\"hi\\\"\" back\\\\slash '\x7F\x1B'"_ba
        << QByteArrayList {"a\nb", "say \"hi\"", "back\\slash", "\x7F\x1B"}
        << uR"("@helper@" ["a\nb", "say \"hi\"", "back\\slash", "\x7F\x1B"])"_s;
    QTest::newRow("line and paragraph separators and direction overrides stay on one line")
        << "@helper@"_ba
        << "a\u2028b c\u2029d \u202Ee\u200Dg"_ba
        << QByteArrayList {"a\u2028b", "c\u2029d", "\u202Ee\u200Dg"}
        << uR"("@helper@" ["a\xE2\x80\xA8b", "c\xE2\x80\xA9d", "\xE2\x80\xAEe\xE2\x80\x8Dg"])"_s;
}

void LauncherTest::passesParameters()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, parameters);
    QFETCH(QByteArrayList, expected);
    QFETCH(QString, trace);

    m_info.file = expand(file);
    // A name of the row's own is a link to the stand-in program; the temporary folder could not
    // remove it by itself when the name is not UTF-8.
    auto removeLink = qScopeGuard([this] { ::unlink(m_info.file.constData()); });
    if (m_info.file != QFile::encodeName(helperPath))
        QCOMPARE(::symlink(QFile::encodeName(helperPath).constData(), m_info.file.constData()), 0);
    else
        removeLink.dismiss();
    m_info.parameters = parameters;
    TraceCapture lines;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    QCOMPARE(readReport(reportPath()).arguments, QByteArrayList {m_info.file} + expected);
    QCOMPARE(lines.lines(),
             QStringList {
                 u"vantrel.run: started %1 pid %2"_s.arg(expand(trace)).arg(m_info.process.id)});
}

void LauncherTest::findsProgramAndDirectory_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("currentDir");
    QTest::addColumn<QByteArray>("pathPrefix");
    QTest::addColumn<QByteArray>("directory");
    QTest::addColumn<QByteArray>("expectedDir");

    const auto row = [](const char *name, const QByteArray &file, const char *currentDir,
                        const char *pathPrefix, const char *directory, const char *expectedDir) {
        QTest::newRow(name) << file << QByteArray(currentDir) << QByteArray(pathPrefix)
                            << QByteArray(directory) << QByteArray(expectedDir);
    };
    const QByteArray name = QFile::encodeName(helperName);
    row("absolute path", "@helper@", "@tmp@", "", "", "@tmp@");
    row("absolute path, given directory", "@helper@", "@tmp@", "", "/", "/");
    row("name in current directory", name, "@helperDir@", "", "", "@helperDir@");
    row("relative path is ours, not the given directory's", "./" + name, "@helperDir@", "", "@tmp@",
        "@tmp@");
    row("name on PATH", name, "@tmp@", "@helperDir@", "", "@tmp@");
    row("name on a later PATH entry", name, "@tmp@", "@tmp@::/nonexistent:@helperDir@", "",
        "@tmp@");
    // Each row has a directory named in another encoding below the temporary one, with a link to
    // the stand-in program in it.
    row("name in a current directory not named in UTF-8", name, "@tmp@/\xB3\xCC", "", "",
        "@tmp@/\xB3\xCC");
    row("relative path in it, given directory", "./" + name, "@tmp@/\xB3\xCC", "", "@tmp@",
        "@tmp@");
}

void LauncherTest::findsProgramAndDirectory()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, currentDir);
    QFETCH(QByteArray, pathPrefix);
    QFETCH(QByteArray, directory);
    QFETCH(QByteArray, expectedDir);

    // Made and removed here: the temporary directory cannot remove names that are not UTF-8.
    const QByteArray madeDir = expand("@tmp@/\xB3\xCC"_ba);
    const QByteArray link = madeDir + '/' + QFile::encodeName(helperName);
    QCOMPARE(::mkdir(madeDir.constData(), 0700), 0);
    QCOMPARE(::symlink(QFile::encodeName(helperPath).constData(), link.constData()), 0);
    const auto removeMade = qScopeGuard([&] {
        QVERIFY(QDir::setCurrent(m_currentDir));
        QCOMPARE(::unlink(link.constData()), 0);
        QCOMPARE(::rmdir(madeDir.constData()), 0);
    });

    QCOMPARE(::chdir(expand(currentDir).constData()), 0);
    if (!pathPrefix.isEmpty())
        qputenv("PATH", expand(pathPrefix) + ':' + m_path);
    m_info.file = expand(file);
    m_info.directory = expand(directory);
    TraceCapture trace;
    m_launcher.launch(m_info);
    QVERIFY2(!m_info.process.isEmpty(), qPrintable(trace.lines().join(u'\n')));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const ChildReport report = readReport(reportPath());
    QCOMPARE(report.arguments.value(0), m_info.file);
    QCOMPARE(canonical(report.directory), canonical(expand(expectedDir)));
}

// An entry's environment lines over the runner's own: the variables the program finds.
void LauncherTest::passesEnvironment_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArrayList>("expected");

    const QByteArray kept = "VANTREL_TEST_KEPT=runner's";
    QTest::newRow("none") << QByteArrayList() << QByteArrayList {kept};
    QTest::newRow("added") << QByteArrayList {"VANTREL_TEST_NEW=a b=c 程序"}
                           << QByteArrayList {kept, "VANTREL_TEST_NEW=a b=c 程序"};
    QTest::newRow("replaced, and emptied")
        << QByteArrayList {"VANTREL_TEST_KEPT=entry's", "VANTREL_TEST_EMPTY="}
        << QByteArrayList {"VANTREL_TEST_KEPT=entry's", "VANTREL_TEST_EMPTY="};
    QTest::newRow("a name that only begins the same is not replaced")
        << QByteArrayList {"VANTREL_TEST_KEP=x"} << QByteArrayList {kept, "VANTREL_TEST_KEP=x"};
    QTest::newRow("the run's id is the runner's")
        << QByteArrayList {"VANTREL_RUN_ID=forged"} << QByteArrayList {kept};
}

void LauncherTest::passesEnvironment()
{
    QFETCH(QByteArrayList, lines);
    qputenv("VANTREL_TEST_KEPT", "runner's");
    const auto restore = qScopeGuard([] { qunsetenv("VANTREL_TEST_KEPT"); });
    m_info.file = QFile::encodeName(helperPath);
    m_info.runId = "0123456789abcdef0123456789abcdef";
    m_info.environment = lines;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const ChildReport report = readReport(reportPath());
    QTEST(report.environment, "expected");
    QCOMPARE(report.runId, m_info.runId);
}

// A program asked to end first: how it ended, when the launcher said so, and that nothing of its
// group is left. A row names the stand-in's mode, the grace, how it ends, the least and most
// milliseconds until it is heard of, and the detail.
void LauncherTest::endsWithGrace_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<int>("graceMs");
    QTest::addColumn<ProcessEnd::How>("how");
    QTest::addColumn<bool>("bySignal");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("leastMs");
    QTest::addColumn<int>("mostMs");
    QTest::addColumn<QString>("detail");

    using How = ProcessEnd::How;
    const QString killed = u"it did not end within its grace and was killed"_s;
    QTest::newRow("leaves at once when asked")
        << ""_ba << 5000 << How::EndedWhenAsked << true << int(SIGTERM) << 0 << 2500 << QString();
    QTest::newRow("takes a second to leave")
        << "trapterm"_ba << 5000 << How::EndedWhenAsked << false << 0 << 900 << 4000 << QString();
    QTest::newRow("ignores it: killed once its grace is over")
        << "ignoreterm"_ba << 1000 << How::Killed << false << 0 << 950 << 4000 << killed;
    QTest::newRow("leaves, its child ignoring it: the child is killed")
        << "grandchild trapterm"_ba << 5000 << How::EndedWhenAsked << false << 0 << 900 << 4000
        << QString();
    QTest::newRow("already gone: no grace needed")
        << "exit"_ba << 5000 << How::Exited << false << 0 << 0 << 0 << QString();
}

void LauncherTest::endsWithGrace()
{
    QFETCH(QByteArray, mode);
    QFETCH(int, graceMs);
    QFETCH(ProcessEnd::How, how);
    QFETCH(int, leastMs);
    QFETCH(int, mostMs);

    qputenv("VANTREL_CHILD_MODE", mode);
    m_info.file = QFile::encodeName(helperPath);
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    const qint64 pid = m_info.process.id;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const qint64 grandchild = readReport(reportPath()).grandchild;
    if (mode == "exit")
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(pid), 5000);
    else if (grandchild != 0)
        // The child ignores what its parent's grace asks of it.
        QCOMPARE(::kill(pid_t(grandchild), 0), 0);

    std::optional<ProcessEnd> later;
    m_launcher.setEndedLater([&later, pid](qint64 id, const ProcessEnd &end) {
        QCOMPARE(id, pid);
        later = end;
    });
    const auto forget = qScopeGuard([this] { m_launcher.setEndedLater({}); });
    QElapsedTimer clock;
    clock.start();
    ProcessEnd end = m_launcher.terminate(m_info.process, graceMs);
    QVERIFY(m_info.process.isEmpty());
    if (mostMs > 0) {
        QCOMPARE(end.how, ProcessEnd::How::Ending);
        QTRY_VERIFY_WITH_TIMEOUT(later.has_value(), mostMs);
        QVERIFY2(clock.elapsed() >= leastMs, qPrintable(QString::number(clock.elapsed())));
        end = *later;
    }
    QCOMPARE(end.how, how);
    QTEST(end.bySignal, "bySignal");
    QTEST(end.status, "status");
    QTEST(end.detail, "detail");
    QTRY_VERIFY_WITH_TIMEOUT(!hasUnreapedChild(), 5000);
    if (grandchild != 0)
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(grandchild), 5000);
}

void LauncherTest::startsClean()
{
    // Held without close-on-exec, like the schedule database.
    const int held = ::open(QFile::encodeName(m_dir->filePath(u"schedule.db"_s)).constData(),
                            O_RDWR | O_CREAT, 0600);
    QVERIFY(held > STDERR_FILENO);
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    QCOMPARE(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore = {};
    struct sigaction previousAction = {};
    ignore.sa_handler = SIG_IGN;
    QCOMPARE(::sigaction(SIGINT, &ignore, &previousAction), 0);
    const auto undo = [&] {
        return ::close(held) == 0 && ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr) == 0
            && ::sigaction(SIGINT, &previousAction, nullptr) == 0;
    };
    auto restore = qScopeGuard([&] { undo(); });

    m_info.file = QFile::encodeName(helperPath);
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const ChildReport report = readReport(reportPath());
    QCOMPARE(report.pid, m_info.process.id);
    QCOMPARE(report.pgid, report.pid);
    QCOMPARE(report.sid, report.pid);
    for (const int fd : report.descriptors)
        QVERIFY2(fd <= STDERR_FILENO, qPrintable(u"descriptor %1 leaked"_s.arg(fd)));
    QCOMPARE(report.blocked, 0ULL);
    // glibc's posix_spawn leaves its two reserved signals (32 and 33) ignored; programs cannot
    // claim those through glibc anyway.
    QCOMPARE(report.ignored & ~0x180000000ULL, 0ULL);
    restore.dismiss();
    QVERIFY(undo());
}

void LauncherTest::endsWholeGroup()
{
    qputenv("VANTREL_CHILD_MODE", "grandchild");
    m_info.file = QFile::encodeName(helperPath);
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const qint64 child = m_info.process.id;
    const qint64 grandchild = readReport(reportPath()).grandchild;
    QVERIFY(grandchild > 0);
    QVERIFY(!hasEnded(grandchild));

    const ProcessEnd end = m_launcher.terminate(m_info.process);
    QCOMPARE(end.how, ProcessEnd::How::Killed);
    QVERIFY(m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(child), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!hasUnreapedChild(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(grandchild), 5000);
}

void LauncherTest::reapsProgramThatEndedItself_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("how");
    QTest::addColumn<ProcessEnd::How>("expectedHow");
    QTest::addColumn<int>("status");

    const QString terminated =
        u"had already ended by signal %1 (%2)"_s.arg(SIGTERM).arg(signalName(SIGTERM));
    const QString leftChild = u"; killed 1 process it left in its group"_s;
    QTest::newRow("exited") << "exit"_ba << 0 << u"had already exited with status 0"_s
                            << ProcessEnd::How::Exited << 0;
    QTest::newRow("ended by someone else's signal")
        << ""_ba << int(SIGTERM) << terminated << ProcessEnd::How::Signalled << int(SIGTERM);
    // What a wrapper leaves in its group ends with it all the same.
    QTest::newRow("wrapper that exited at once, leaving its child")
        << "grandchild exit"_ba << 0 << u"had already exited with status 0"_s + leftChild
        << ProcessEnd::How::Exited << 0;
    QTest::newRow("wrapper ended halfway, leaving its child")
        << "grandchild"_ba << int(SIGTERM) << terminated + leftChild << ProcessEnd::How::Signalled
        << int(SIGTERM);
}

void LauncherTest::reapsProgramThatEndedItself()
{
    QFETCH(QByteArray, mode);
    QFETCH(int, signal);
    QFETCH(QString, how);
    QFETCH(ProcessEnd::How, expectedHow);
    QFETCH(int, status);

    qputenv("VANTREL_CHILD_MODE", mode);
    m_info.file = QFile::encodeName(helperPath);
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    const qint64 pid = m_info.process.id;
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const qint64 grandchild = readReport(reportPath()).grandchild;
    if (signal != 0)
        QCOMPARE(::kill(pid_t(pid), signal), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(pid), 5000);
    QVERIFY(hasUnreapedChild());
    if (grandchild != 0)
        QVERIFY(!hasEnded(grandchild));

    TraceCapture trace;
    const ProcessEnd end = m_launcher.terminate(m_info.process);
    QVERIFY(m_info.process.isEmpty());
    QCOMPARE(end.how, expectedHow);
    QCOMPARE(end.status, status);
    // Collected at once, not left for later.
    QVERIFY(!hasUnreapedChild());
    const QStringList lines = trace.lines();
    QCOMPARE(lines.size(), 1);
    const QRegularExpression ended(
        u"^vantrel\\.run: ended \"%1\" pid %2 after [0-9]+\\.[0-9] s: %3$"_s.arg(
            QRegularExpression::escape(helperPath), QString::number(pid),
            QRegularExpression::escape(how)));
    QVERIFY2(ended.match(lines.first()).hasMatch(), qPrintable(lines.first()));
    if (grandchild != 0)
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(grandchild), 5000);
}

void LauncherTest::keepsRunningWhatItCannotEnd_data()
{
    QTest::addColumn<bool>("byKernel");
    QTest::addColumn<QByteArray>("mode");
    // The program's own child cannot be ended rather than the program.
    QTest::addColumn<bool>("childRefuses");
    // How the program itself has ended by the time everything is collected.
    QTest::addColumn<ProcessEnd::How>("finalHow");
    QTest::addColumn<int>("finalStatus");

    const auto killed = ProcessEnd::How::Signalled;
    QTest::newRow("kill refused") << false << ""_ba << false << killed << int(SIGKILL);
    QTest::newRow("program that took another user's id")
        << true << "otheruser"_ba << false << killed << int(SIGKILL);
    QTest::newRow("child's kill refused")
        << false << "grandchild"_ba << true << killed << int(SIGKILL);
    // As a set-user-ID program started by a wrapper script.
    QTest::newRow("child that took another user's id, wrapper still running")
        << true << "grandchild-otheruser ordinary"_ba << true << killed << int(SIGKILL);
    QTest::newRow("child that took another user's id, wrapper left first")
        << true << "grandchild-otheruser ordinary exit"_ba << true << ProcessEnd::How::Exited << 0;
}

// A program may not be ours to end, as a set-user-ID program that took another user's id is not:
// the window must not wait for it, and it is collected once it ends by other means. Until then
// the program's id stays reserved, so that its group's id cannot come to name another group.
void LauncherTest::keepsRunningWhatItCannotEnd()
{
    QFETCH(bool, byKernel);
    QFETCH(QByteArray, mode);
    QFETCH(bool, childRefuses);
    QFETCH(ProcessEnd::How, finalHow);
    QFETCH(int, finalStatus);

    if (byKernel) {
        if (::geteuid() != 0)
            QSKIP("Only root can make the kernel refuse a kill here: it needs two other users");
        // The stand-in writes its report after it has become the other user.
        QVERIFY(QFile::setPermissions(m_dir->path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                          | QFileDevice::WriteOther | QFileDevice::ExeOther));
    }
    qputenv("VANTREL_CHILD_MODE", mode);
    int signalsSent = 0;
    QList<qint64> group;
    qint64 refusing = 0;
    ProcessLauncher launcher([&](qint64 target, int signal) {
        ++signalsSent;
        if (byKernel)
            return ::kill(pid_t(target), signal) == 0 ? 0 : errno;
        // As the kernel does for a process that took another user's id: a signal to the group
        // reaches the others.
        int answer = EPERM;
        for (const qint64 each : target < 0 ? group : QList<qint64> {target}) {
            if (each != refusing && ::kill(pid_t(each), signal) == 0)
                answer = 0;
        }
        return answer;
    });
    QList<std::pair<qint64, ProcessEnd>> lateCollections;
    launcher.setLateCollection([&](qint64 id, const ProcessEnd &end) {
        lateCollections.append({id, end});
    });
    TraceCapture trace;
    m_info.file = QFile::encodeName(helperPath);
    launcher.launch(m_info);
    const ProcessHandle started = m_info.process;
    QVERIFY(!started.isEmpty());
    const auto pid = pid_t(started.id);
    qint64 child = 0;
    // Whatever fails below, everything ends and is collected before the next test.
    auto endChild = qScopeGuard([pid, &child] {
        if (child > 0)
            ::kill(pid_t(child), SIGKILL);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const ChildReport report = readReport(reportPath());
    child = report.grandchild;
    if (byKernel && !childRefuses && report.uids != "65533 65533 65533")
        QSKIP("The stand-in program could not take another user's id");
    if (byKernel && childRefuses
        && (report.uids != "65534 65534 65534" || report.grandchildUids != "65533 65533 65533"))
        QSKIP("The stand-in program and its child could not take other users' ids");
    group = {pid};
    if (child > 0)
        group.append(child);
    refusing = childRefuses ? child : pid;
    QVERIFY(refusing > 0);
    if (mode.contains("exit"))
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(pid), 5000);

    ProcessEnd end;
    {
        // As an ordinary user, as whom the kernel refuses to signal another user's program.
        std::optional<ScopedOrdinaryUser> user;
        if (byKernel && !user.emplace().switched())
            QSKIP("Could not act as another user for a moment");
        end = launcher.terminate(m_info.process);
    }
    if (byKernel)
        QCOMPARE(::geteuid(), uid_t(0));
    QVERIFY(m_info.process.isEmpty());
    QCOMPARE(end.how, ProcessEnd::How::NotEnded);
    QCOMPARE(end.detail, notPermitted);
    QVERIFY(!hasEnded(refusing));
    if (childRefuses) {
        // The program itself has ended, but stays uncollected while its child runs on.
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(pid), 5000);
        QCoreApplication::processEvents();
        QVERIFY(hasUnreapedChild());
        QVERIFY(!hasEnded(child));
    }
    // Handed back, so never signalled again.
    const int sentBefore = signalsSent;
    ProcessHandle copy = started;
    launcher.terminate(copy);
    QCOMPARE(signalsSent, sentBefore);
    QVERIFY(lateCollections.isEmpty());

    endChild.dismiss();
    QCOMPARE(::kill(pid_t(refusing), SIGKILL), 0);
    if (childRefuses && !mode.contains("exit"))
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(child), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!hasUnreapedChild(), 5000);
    const QStringList lines = trace.lines();
    QCOMPARE(lines.size(), 3);
    const QString which = childRefuses ? u" for pid %1 in its group"_s.arg(child) : QString();
    QCOMPARE(lines.at(1),
             u"vantrel.run: cannot end \"%1\" pid %2: %3%4; it keeps running"_s.arg(
                 helperPath, QString::number(pid), notPermitted, which));
    const QString how = finalHow == ProcessEnd::How::Exited
        ? u"exited with status %1"_s.arg(finalStatus)
        : u"ended by signal %1 (%2)"_s.arg(finalStatus).arg(signalName(finalStatus));
    const QRegularExpression collected(
        u"^vantrel\\.run: collected \"%1\" pid %2 after [0-9]+\\.[0-9] s: %3$"_s.arg(
            QRegularExpression::escape(helperPath), QString::number(pid),
            QRegularExpression::escape(how)));
    QVERIFY2(collected.match(lines.at(2)).hasMatch(), qPrintable(lines.at(2)));
    QCOMPARE(lateCollections.size(), 1);
    QCOMPARE(lateCollections.first().first, started.id);
    QCOMPARE(lateCollections.first().second.how, finalHow);
    QCOMPARE(lateCollections.first().second.status, finalStatus);
    QVERIFY(lateCollections.first().second.lifetimeMs >= end.lifetimeMs);
}

void LauncherTest::repeatedCyclesLeaveNothingBehind()
{
    qunsetenv("VANTREL_CHILD_REPORT");
    const qsizetype descriptorsBefore = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        m_info.file = QFile::encodeName(helperPath);
        m_launcher.launch(m_info);
        QVERIFY(!m_info.process.isEmpty());
        m_launcher.terminate(m_info.process);
        QVERIFY(m_info.process.isEmpty());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!hasUnreapedChild(), 5000);
    QCOMPARE(openDescriptors(), descriptorsBefore);
}

void LauncherTest::handsOthersToOpener_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("fromTmp");
    QTest::addColumn<QString>("expected");

    QTest::newRow("document") << u"@tmp@/notes.txt"_s << false << u"@tmp@/notes.txt"_s;
    QTest::newRow("document in current directory")
        << u"notes.txt"_s << true << u"@tmp@/notes.txt"_s;
    QTest::newRow("folder") << u"@tmp@"_s << false << u"@tmp@"_s;
    QTest::newRow("script without execute permission")
        << u"@tmp@/script.sh"_s << false << u"@tmp@/script.sh"_s;
    QTest::newRow("web address") << u"https://example.org/a?b=c&d=e f"_s << false
                                 << u"https://example.org/a?b=c&d=e f"_s;
    QTest::newRow("mail address") << u"mailto:someone@example.org"_s << false
                                  << u"mailto:someone@example.org"_s;
    QTest::newRow("file URL") << u"file:///srv/music/list.m3u"_s << false
                              << u"file:///srv/music/list.m3u"_s;
}

void LauncherTest::handsOthersToOpener()
{
    QFETCH(QString, file);
    QFETCH(bool, fromTmp);
    QFETCH(QString, expected);

    const QString bin = m_dir->filePath(u"bin"_s);
    QVERIFY(QDir().mkpath(bin));
    const auto executable =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QVERIFY(writeFile(bin + u"/xdg-open"_s,
                      "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$VANTREL_CHILD_REPORT.tmp\"\n"
                      "mv \"$VANTREL_CHILD_REPORT.tmp\" \"$VANTREL_CHILD_REPORT\"\n",
                      executable));
    QVERIFY(writeFile(m_dir->filePath(u"notes.txt"_s), "notes\n", readable));
    QVERIFY(writeFile(m_dir->filePath(u"script.sh"_s), "#!/bin/sh\nexit 0\n", readable));
    prependPath(bin);
    if (fromTmp)
        QVERIFY(QDir::setCurrent(m_dir->path()));

    m_info.file = QFile::encodeName(expand(file));
    m_info.parameters = "--not-for-the-opener";
    TraceCapture trace;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    QFile report(reportPath());
    QVERIFY(report.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(report.readAll()), expand(expected) + u'\n');
    // The trace says the parameters were left out.
    QCOMPARE(trace.lines(),
             QStringList {u"vantrel.run: started \"%1\" through \"%2/xdg-open\" without its "
                          "parameters pid %3"_s.arg(expand(file), bin)
                              .arg(m_info.process.id)});
}

void LauncherTest::refusesWhatCannotStart_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("parameters");
    QTest::addColumn<QByteArray>("directory");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("shown");

    // Most names show in the trace as they are.
    const auto row = [](const char *name, const QByteArray &file, const QByteArray &parameters,
                        const QByteArray &directory, const QString &reason,
                        const QString &shown = QString()) {
        QTest::newRow(name) << file << parameters << directory << reason
                            << (shown.isNull() ? QString::fromUtf8(file) : shown);
    };
    const QString missing = u"no such file"_s;
    row("missing name", "vantrel-no-such-program"_ba, {}, {}, missing);
    row("missing path", "@tmp@/absent"_ba, {}, {}, missing);
    row("empty name", {}, {}, {}, missing);
    row("drive letter path", "C:\\Tools\\run.exe"_ba, {}, {}, missing, uR"(C:\\Tools\\run.exe)"_s);
    row("unclosed quote", "@helper@"_ba, "'open"_ba, {}, u"quote"_s);
    row("not a program", "@tmp@/garbage"_ba, {}, {}, u""_s);
    row("document without opener on PATH, only in the current directory", "@tmp@/notes.txt"_ba, {},
        {}, u"xdg-open"_s);
    row("missing directory", "@helper@"_ba, {}, "@tmp@/absent"_ba,
        u"no such directory \"@tmp@/absent\""_s);
    row("name with other bytes and a line break", "vantrel-\xB3\xCC\n\"x"_ba, {}, {}, missing,
        uR"(vantrel-\xB3\xCC\n\"x)"_s);
    // Cut short at the zero byte, the name would start the stand-in program instead.
    row("zero byte in the name", "@helper@\0-not"_ba, {}, {}, u"zero byte"_s,
        uR"(@helper@\x00-not)"_s);
    row("zero byte in a parameter", "@helper@"_ba, "one t\0wo"_ba, {}, u"zero byte"_s);
    // The kernel's own answer for both would be that the script does not exist.
    row("script with Windows line ends", "@tmp@/windows.sh"_ba, {}, {},
        uR"(its interpreter line names a program that does not exist: "/bin/sh\r" (the file may )"
        uR"(have Windows line ends))"_s);
    row("script whose interpreter is missing", "@tmp@/orphan.sh"_ba, {}, {},
        uR"(its interpreter line names a program that does not exist: "/nonexistent/sh")"_s);
}

void LauncherTest::refusesWhatCannotStart()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, parameters);
    QFETCH(QByteArray, directory);
    QFETCH(QString, reason);
    QFETCH(QString, shown);

    const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QVERIFY(writeFile(m_dir->filePath(u"garbage"_s), "this is not a program\n", all));
    QVERIFY(writeFile(m_dir->filePath(u"windows.sh"_s), "#!/bin/sh\r\nexit 0\r\n", all));
    QVERIFY(writeFile(m_dir->filePath(u"orphan.sh"_s), "#!/nonexistent/sh -e\nexit 0\n", all));
    QVERIFY(writeFile(m_dir->filePath(u"notes.txt"_s), "notes\n", QFileDevice::ReadOwner));
    QVERIFY(QDir().mkpath(m_dir->filePath(u"empty"_s)));
    // An opener in the current directory, which the empty entry that ends PATH must not find.
    QVERIFY(writeFile(m_dir->filePath(u"xdg-open"_s), "#!/bin/sh\nexit 0\n", all));
    QVERIFY(QDir::setCurrent(m_dir->path()));
    qputenv("PATH", QFile::encodeName(m_dir->filePath(u"empty"_s)) + ':');

    m_info.file = expand(file);
    m_info.parameters = parameters;
    m_info.directory = expand(directory);
    TraceCapture trace;
    m_launcher.launch(m_info);
    const QStringList lines = trace.lines();
    QVERIFY(m_info.process.isEmpty());
    QVERIFY(!hasUnreapedChild());
    QCOMPARE(lines.size(), 1);
    const QString start = u"vantrel.run: cannot start \"%1\": "_s.arg(expand(shown));
    QVERIFY2(lines.first().startsWith(start), qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(expand(reason)), qPrintable(lines.first()));
    QCOMPARE(start + m_info.failure, lines.first());
    // The hint is given only where it may help.
    QCOMPARE(m_info.failure.contains(u"Windows"_s), reason.contains(u"Windows"_s));
}

void LauncherTest::ignoresHandlesItMustNotKill_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<bool>("alreadyReaped");

    QTest::newRow("empty") << qint64(0) << false;
    QTest::newRow("our own process") << qint64(::getpid()) << false;
    QTest::newRow("our own process group") << qint64(::getpgrp()) << false;
    QTest::newRow("negated own process") << -qint64(::getpid()) << false;
    QTest::newRow("child already ended and reaped") << qint64(0) << true;
}

// Every row would hit this test, or a process that is no longer ours, if it got signalled; the
// sender records each signal, and passes on only those for the stand-in program while it runs.
void LauncherTest::ignoresHandlesItMustNotKill()
{
    QFETCH(qint64, id);
    QFETCH(bool, alreadyReaped);

    QList<qint64> signalled;
    qint64 child = 0;
    ProcessLauncher launcher([&](qint64 target, int signal) {
        signalled.append(target);
        // Only the stand-in program's own group is ever really signalled.
        return child > 1 && target == -child && ::kill(pid_t(target), signal) == 0 ? 0 : EPERM;
    });
    ProcessHandle handle {id};
    if (alreadyReaped) {
        m_info.file = QFile::encodeName(helperPath);
        launcher.launch(m_info);
        handle = m_info.process;
        child = handle.id;
        QVERIFY(!handle.isEmpty());
        launcher.terminate(m_info.process);
        QTRY_VERIFY_WITH_TIMEOUT(!hasUnreapedChild(), 5000);
    }
    const qsizetype before = signalled.size();
    QCOMPARE(launcher.terminate(handle).how, ProcessEnd::How::None);
    QVERIFY(handle.isEmpty());
    launcher.terminate(handle);
    QVERIFY(handle.isEmpty());
    QCOMPARE(signalled.size(), before);
    QVERIFY(!hasUnreapedChild());
}

QTEST_GUILESS_MAIN(LauncherTest)
#include "tst_launcher.moc"
