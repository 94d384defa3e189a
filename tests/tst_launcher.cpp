#include "Launcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString helperPath = QString::fromUtf8(VANTREL_TEST_CHILD);
const QString helperName = QFileInfo(helperPath).fileName();
const QString helperDir = QFileInfo(helperPath).absolutePath();

// What the stand-in program wrote about how it was started.
struct ChildReport
{
    QStringList arguments;
    QList<int> descriptors;
    QString directory;
    qint64 pid = 0;
    qint64 pgid = 0;
    qint64 sid = 0;
    qint64 grandchild = 0;
    quint64 blocked = ~0ULL;
    quint64 ignored = ~0ULL;
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
            report.arguments.append(QString::fromUtf8(QByteArray::fromHex(value)));
        else if (key == "fd")
            report.descriptors.append(value.toInt());
        else if (key == "cwd")
            report.directory = QString::fromUtf8(QByteArray::fromHex(value));
        else if (key == "pid")
            report.pid = value.toLongLong();
        else if (key == "pgid")
            report.pgid = value.toLongLong();
        else if (key == "sid")
            report.sid = value.toLongLong();
        else if (key == "grandchild")
            report.grandchild = value.toLongLong();
        else if (key == "sigblk")
            report.blocked = value.toULongLong(nullptr, 16);
        else if (key == "sigign")
            report.ignored = value.toULongLong(nullptr, 16);
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

// Sends standard error to a file while alive, so the launcher's complaints can be read back.
class StderrCapture final
{
public:
    explicit StderrCapture(const QString &path)
        : m_path(path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    Q_DISABLE_COPY_MOVE(StderrCapture)

    QStringList lines()
    {
        restore();
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QString m_path;
    int m_saved = -1;
};

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
    void startsClean();
    void endsWholeGroup();
    void reapsProgramThatEndedItself();
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
    void prependPath(const QString &directories)
    {
        qputenv("PATH", QFile::encodeName(directories) + ':' + m_path);
    }

    ShellLauncher m_launcher;
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
    m_info.show = 5;
}

void LauncherTest::cleanup()
{
    m_launcher.terminate(m_info.process);
    qputenv("PATH", m_path);
    qunsetenv("VANTREL_CHILD_MODE");
    QDir::setCurrent(m_currentDir);
}

void LauncherTest::passesParameters_data()
{
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("none") << u""_s << QStringList();
    QTest::newRow("blanks only") << u" \t "_s << QStringList();
    QTest::newRow("words") << u"one  two"_s << QStringList {u"one"_s, u"two"_s};
    QTest::newRow("quoted and empty")
        << u"'a b' \"\" c\\ d"_s << QStringList {u"a b"_s, u""_s, u"c d"_s};
    QTest::newRow("shell characters")
        << u"$HOME *.txt ; | > #x"_s
        << QStringList {u"$HOME"_s, u"*.txt"_s, u";"_s, u"|"_s, u">"_s, u"#x"_s};
    QTest::newRow("chinese") << u"\"我的 文档.txt\" 文件"_s
                             << QStringList {u"我的 文档.txt"_s, u"文件"_s};
}

void LauncherTest::passesParameters()
{
    QFETCH(QString, parameters);
    QFETCH(QStringList, expected);

    m_info.file = helperPath;
    m_info.parameters = parameters;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    QCOMPARE(readReport(reportPath()).arguments, QStringList {helperPath} + expected);
}

void LauncherTest::findsProgramAndDirectory_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("currentDir");
    QTest::addColumn<QString>("pathPrefix");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("expectedDir");

    QTest::newRow("absolute path") << u"@helper@"_s << u"@tmp@"_s << u""_s << u""_s << u"@tmp@"_s;
    QTest::newRow("absolute path, given directory")
        << u"@helper@"_s << u"@tmp@"_s << u""_s << u"/"_s << u"/"_s;
    QTest::newRow("name in current directory")
        << helperName << u"@helperDir@"_s << u""_s << u""_s << u"@helperDir@"_s;
    QTest::newRow("relative path is ours, not the given directory's")
        << u"./"_s + helperName << u"@helperDir@"_s << u""_s << u"@tmp@"_s << u"@tmp@"_s;
    QTest::newRow("name on PATH") << helperName << u"@tmp@"_s << u"@helperDir@"_s << u""_s
                                  << u"@tmp@"_s;
    QTest::newRow("name on a later PATH entry")
        << helperName << u"@tmp@"_s << u"@tmp@::/nonexistent:@helperDir@"_s << u""_s << u"@tmp@"_s;
}

void LauncherTest::findsProgramAndDirectory()
{
    QFETCH(QString, file);
    QFETCH(QString, currentDir);
    QFETCH(QString, pathPrefix);
    QFETCH(QString, directory);
    QFETCH(QString, expectedDir);

    QVERIFY(QDir::setCurrent(expand(currentDir)));
    if (!pathPrefix.isEmpty())
        prependPath(expand(pathPrefix));
    m_info.file = expand(file);
    m_info.directory = expand(directory);
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const ChildReport report = readReport(reportPath());
    QCOMPARE(report.arguments.value(0), m_info.file);
    QCOMPARE(QFileInfo(report.directory).canonicalFilePath(),
             QFileInfo(expand(expectedDir)).canonicalFilePath());
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
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
    struct sigaction ignore = {};
    struct sigaction previousAction = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &previousAction);
    const auto restore = qScopeGuard([&] {
        ::close(held);
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        ::sigaction(SIGINT, &previousAction, nullptr);
    });

    m_info.file = helperPath;
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
}

void LauncherTest::endsWholeGroup()
{
    qputenv("VANTREL_CHILD_MODE", "grandchild");
    m_info.file = helperPath;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    const qint64 child = m_info.process.id;
    const qint64 grandchild = readReport(reportPath()).grandchild;
    QVERIFY(grandchild > 0);
    QVERIFY(!hasEnded(grandchild));

    m_launcher.terminate(m_info.process);
    QVERIFY(m_info.process.isEmpty());
    QVERIFY(hasEnded(child));
    QVERIFY(!hasUnreapedChild());
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(grandchild), 500);
}

void LauncherTest::reapsProgramThatEndedItself()
{
    qputenv("VANTREL_CHILD_MODE", "exit");
    m_info.file = helperPath;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(m_info.process.id), 5000);
    QVERIFY(hasUnreapedChild());

    StderrCapture errors(m_dir->filePath(u"stderr"_s));
    m_launcher.terminate(m_info.process);
    QVERIFY(m_info.process.isEmpty());
    QVERIFY(!hasUnreapedChild());
    QCOMPARE(errors.lines(), QStringList());
}

void LauncherTest::repeatedCyclesLeaveNothingBehind()
{
    qunsetenv("VANTREL_CHILD_REPORT");
    const qsizetype descriptorsBefore = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        m_info.file = helperPath;
        m_launcher.launch(m_info);
        QVERIFY(!m_info.process.isEmpty());
        m_launcher.terminate(m_info.process);
        QVERIFY(m_info.process.isEmpty());
    }
    QVERIFY(!hasUnreapedChild());
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

    m_info.file = expand(file);
    m_info.parameters = u"--not-for-the-opener"_s;
    m_launcher.launch(m_info);
    QVERIFY(!m_info.process.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(reportPath()), 5000);
    QFile report(reportPath());
    QVERIFY(report.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(report.readAll()), expand(expected) + u'\n');
}

void LauncherTest::refusesWhatCannotStart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("reason");

    const QString missing = u"no such file"_s;
    QTest::newRow("missing name") << u"vantrel-no-such-program"_s << u""_s << u""_s << missing;
    QTest::newRow("missing path") << u"@tmp@/absent"_s << u""_s << u""_s << missing;
    QTest::newRow("empty name") << u""_s << u""_s << u""_s << missing;
    QTest::newRow("drive letter path") << u"C:\\Tools\\run.exe"_s << u""_s << u""_s << missing;
    QTest::newRow("unclosed quote") << u"@helper@"_s << u"'open"_s << u""_s << u"quote"_s;
    QTest::newRow("not a program") << u"@tmp@/garbage"_s << u""_s << u""_s << u""_s;
    QTest::newRow("document without opener")
        << u"@tmp@/notes.txt"_s << u""_s << u""_s << u"xdg-open"_s;
    QTest::newRow("missing directory")
        << u"@helper@"_s << u""_s << u"@tmp@/absent"_s << u"no such directory"_s;
}

void LauncherTest::refusesWhatCannotStart()
{
    QFETCH(QString, file);
    QFETCH(QString, parameters);
    QFETCH(QString, directory);
    QFETCH(QString, reason);

    const auto all = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QVERIFY(writeFile(m_dir->filePath(u"garbage"_s), "this is not a program\n", all));
    QVERIFY(writeFile(m_dir->filePath(u"notes.txt"_s), "notes\n", QFileDevice::ReadOwner));
    QVERIFY(QDir().mkpath(m_dir->filePath(u"empty"_s)));
    qputenv("PATH", QFile::encodeName(m_dir->filePath(u"empty"_s)));

    m_info.file = expand(file);
    m_info.parameters = parameters;
    m_info.directory = expand(directory);
    StderrCapture errors(m_dir->filePath(u"stderr"_s));
    m_launcher.launch(m_info);
    const QStringList lines = errors.lines();
    QVERIFY(m_info.process.isEmpty());
    QVERIFY(!hasUnreapedChild());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(u'"' + m_info.file + u'"'), qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(reason), qPrintable(lines.first()));
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

// Every row would kill this test, or hit a process that is no longer ours, if it got signalled.
void LauncherTest::ignoresHandlesItMustNotKill()
{
    QFETCH(qint64, id);
    QFETCH(bool, alreadyReaped);

    ProcessHandle handle {id};
    if (alreadyReaped) {
        m_info.file = helperPath;
        m_launcher.launch(m_info);
        handle = m_info.process;
        QVERIFY(!handle.isEmpty());
        m_launcher.terminate(m_info.process);
    }
    m_launcher.terminate(handle);
    QVERIFY(handle.isEmpty());
    m_launcher.terminate(handle);
    QVERIFY(handle.isEmpty());
    QVERIFY(!hasUnreapedChild());
}

QTEST_GUILESS_MAIN(LauncherTest)
#include "tst_launcher.moc"
