#include "engine/ProcessLauncher.h"
#include "engine/UserScope.h"
#include "support/UserManager.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Controllers = ScopedUserManager::Controllers;

namespace {

const QByteArray helperPath = VANTREL_TEST_CHILD;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The fields after the name in /proc/PID/stat: state, parent, process group, session, …
QByteArrayList statFields(qint64 pid)
{
    const QByteArray text = readAll(u"/proc/%1/stat"_s.arg(pid));
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 ? QByteArrayList() : text.mid(close + 2).split(' ');
}

// Gone, or a zombie that only its parent still has to collect.
bool hasEnded(qint64 pid)
{
    const QByteArrayList fields = statFields(pid);
    return fields.isEmpty() || fields.first() == "Z";
}

qint64 processGroup(qint64 pid)
{
    const QByteArrayList fields = statFields(pid);
    return fields.size() > 2 ? fields.at(2).toLongLong() : 0;
}

// The limits the kernel holds a process to in the cgroup of the unit, read from each hierarchy
// that has its controller: bytes of memory (0 for none) and a share of one processor (0 for none).
struct KernelLimits
{
    quint64 memory = 0;
    double processor = 0;
};

KernelLimits kernelLimits(qint64 pid, const QString &unit)
{
    KernelLimits limits;
    for (const QByteArray &line : readAll(u"/proc/%1/cgroup"_s.arg(pid)).split('\n')) {
        const QByteArrayList parts = line.split(':');
        if (parts.size() != 3 || !parts[2].endsWith(QByteArray('/' + unit.toUtf8())))
            continue;
        const QString path = QString::fromUtf8(parts[2]);
        const QByteArrayList controllers = parts[1].split(',');
        QStringList memoryMax, cpuMax;
        if (parts[1].isEmpty()) {
            for (const QString &mount : {u"/sys/fs/cgroup"_s, u"/sys/fs/cgroup/unified"_s}) {
                memoryMax << QString::fromLatin1(readAll(mount + path + u"/memory.max").trimmed());
                cpuMax << QString::fromLatin1(readAll(mount + path + u"/cpu.max").trimmed());
            }
        }
        const QString legacy = u"/sys/fs/cgroup/"_s + QString::fromLatin1(parts[1]) + path;
        for (const QString &bytes : memoryMax) {
            if (!bytes.isEmpty() && bytes != u"max")
                limits.memory = bytes.toULongLong();
        }
        const quint64 legacyBytes = readAll(legacy + u"/memory.limit_in_bytes").toULongLong();
        if (controllers.contains("memory") && legacyBytes < (1ULL << 62))
            limits.memory = legacyBytes;
        for (const QString &quota : cpuMax) {
            const QStringList words = quota.split(u' ');
            if (words.size() == 2 && words[0] != u"max")
                limits.processor = words[0].toDouble() / words[1].toDouble();
        }
        const double legacyQuota = readAll(legacy + u"/cpu.cfs_quota_us").toDouble();
        if (controllers.contains("cpu") && legacyQuota > 0)
            limits.processor = legacyQuota / readAll(legacy + u"/cpu.cfs_period_us").toDouble();
    }
    return limits;
}

// A socket that takes connections and never says a word.
class SilentPeer final
{
public:
    explicit SilentPeer(const QString &path)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        if (m_socket < 0 || name.size() >= qsizetype(sizeof address.sun_path))
            return;
        std::copy(name.begin(), name.end(), address.sun_path);
        m_listening = ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_socket, 8) == 0;
    }
    ~SilentPeer() { ::close(m_socket); }
    SilentPeer(const SilentPeer &) = delete;
    SilentPeer &operator=(const SilentPeer &) = delete;
    bool listening() const { return m_listening; }

private:
    int m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool m_listening = false;
};

quint64 machineMemory()
{
    for (const QByteArray &line : readAll(u"/proc/meminfo"_s).split('\n')) {
        if (line.startsWith("MemTotal:"))
            return line.mid(9).trimmed().split(' ').first().toULongLong() * 1024;
    }
    return 0;
}

} // namespace

class UserScopeTest final : public QObject
{
    Q_OBJECT

public:
    UserScopeTest() = default;
    Q_DISABLE_COPY_MOVE(UserScopeTest)

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void unavailableSaysWhy_data();
    void unavailableSaysWhy();
    void refusesBeforeAsking_data();
    void refusesBeforeAsking();
    void endsWhatLeftItsGroup_data();
    void endsWhatLeftItsGroup();
    void limitsAsTheKernelHoldsThem_data();
    void limitsAsTheKernelHoldsThem();
    void refusesAProcessThatHasEnded();

private:
    // A manager of the test's own, started on first use.
    ScopedUserManager &manager(Controllers controllers);
    // Starts the stand-in program, in a scope of its own where the launcher is to make one.
    qint64 launch(const QByteArray &mode, bool ownScope = false);

    std::unique_ptr<ScopedUserManager> m_managers[2];
    std::unique_ptr<QTemporaryDir> m_dir;
    ProcessLauncher m_launcher;
    LaunchInfo m_info;
    ProcessHandle m_process;
    QString m_unit;
    QByteArray m_address;
    QByteArray m_runtime;
};

void UserScopeTest::initTestCase()
{
    m_address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    m_runtime = qgetenv("XDG_RUNTIME_DIR");
}

void UserScopeTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("VANTREL_CHILD_REPORT", QFile::encodeName(m_dir->filePath(u"report"_s)));
    qputenv("VANTREL_CHILD_GO", QFile::encodeName(m_dir->filePath(u"go"_s)));
}

void UserScopeTest::cleanup()
{
    // A test that failed half-way leaves nothing running.
    if (!m_unit.isEmpty())
        UserScope::end(m_unit, false);
    m_unit.clear();
    if (!m_process.isEmpty())
        m_launcher.terminate(m_process);
    for (const auto &[name, value] : {std::pair {"DBUS_SESSION_BUS_ADDRESS", &m_address},
                                      std::pair {"XDG_RUNTIME_DIR", &m_runtime}}) {
        if (value->isNull())
            qunsetenv(name);
        else
            qputenv(name, *value);
    }
}

ScopedUserManager &UserScopeTest::manager(Controllers controllers)
{
    auto &manager = m_managers[int(controllers)];
    if (!manager)
        manager = std::make_unique<ScopedUserManager>(controllers);
    qputenv("DBUS_SESSION_BUS_ADDRESS", manager->address());
    return *manager;
}

qint64 UserScopeTest::launch(const QByteArray &mode, bool ownScope)
{
    qputenv("VANTREL_CHILD_MODE", mode);
    m_info = LaunchInfo();
    m_info.file = helperPath;
    m_info.entry = u"test"_s;
    m_info.ownScope = ownScope;
    m_launcher.launch(m_info);
    m_process = m_info.process;
    return m_info.failure.isEmpty() ? m_info.process.id : 0;
}

void UserScopeTest::unavailableSaysWhy_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("runtime");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("expected");

    QTest::newRow("neither variable") << QByteArray() << QByteArray() << QString()
                                      << u"neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR"_s;
    QTest::newRow("an address where nothing listens")
        << "unix:path=@tmp@/nothing"_ba << QByteArray() << QString()
        << u"the session bus cannot be reached"_s;
    QTest::newRow("a runtime folder without a bus")
        << QByteArray() << "@tmp@"_ba << QString() << u"the session bus cannot be reached"_s;
    QTest::newRow("a bus without a manager")
        << "unix:path=@tmp@/bus"_ba << QByteArray() << u"dbus"_s
        << u"no user service manager on the session bus"_s;
    QTest::newRow("a peer that never answers") << "unix:path=@tmp@/silent"_ba << QByteArray()
                                               << u"silent"_s << u"did not answer within 2 s"_s;
}

void UserScopeTest::unavailableSaysWhy()
{
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, runtime);
    QFETCH(QString, peer);
    QFETCH(QString, expected);

    const QByteArray folder = QFile::encodeName(m_dir->path());
    QProcess bus;
    const auto endBus = qScopeGuard([&bus] {
        bus.kill();
        bus.waitForFinished();
    });
    std::unique_ptr<SilentPeer> silent;
    if (peer == u"dbus") {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        bus.start(daemon,
                  {u"--session"_s, u"--nofork"_s, u"--nopidfile"_s,
                   u"--address=unix:path="_s + m_dir->filePath(u"bus"_s)});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(u"bus"_s)), 5000);
    } else if (peer == u"silent") {
        // Takes the connection and never says a word.
        silent = std::make_unique<SilentPeer>(m_dir->filePath(u"silent"_s));
        QVERIFY(silent->listening());
    }
    const auto set = [&folder](const char *name, QByteArray value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.replace("@tmp@", folder));
    };
    set("DBUS_SESSION_BUS_ADDRESS", address);
    set("XDG_RUNTIME_DIR", runtime);

    QElapsedTimer clock;
    clock.start();
    const QString why = UserScope::unavailable();
    QVERIFY2(why.contains(expected), qPrintable(why));
    QVERIFY2(!why.contains(u'\n'), qPrintable(why));
    QCOMPARE_LT(clock.elapsed(), 4000);
    // The others say the same from the same connection, at once where it fails at once.
    if (peer != u"silent") {
        // No process has this id: the kernel's ids stay below 2^22.
        const UserScope::Entered entered = UserScope::enter(qint64(1) << 22, u"e"_s, {}, {});
        QCOMPARE(entered.problem, why);
        QVERIFY(entered.unit.isEmpty());
        QCOMPARE(UserScope::end(u"vantrel-run-1-1.scope"_s, false), why);
        QVERIFY(!UserScope::isEmpty(u"vantrel-run-1-1.scope"_s));
    }
}

void UserScopeTest::refusesBeforeAsking_data()
{
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<QString>("memoryMax");
    QTest::addColumn<QString>("cpuQuota");
    QTest::addColumn<QString>("expected");

    const qint64 self = ::getpid();
    const auto size = [&](const char *row, const QString &memory) {
        QTest::newRow(row) << self << memory << QString() << u"MemoryMax="_s + memory;
    };
    size("a word for a size", u"lots"_s);
    size("an unknown suffix", u"12Q"_s);
    size("a negative size", u"-1M"_s);
    size("no memory at all", u"0"_s);
    size("two points", u"1.5.5G"_s);
    size("a point and nothing after", u"2.G"_s);
    size("more than 64 bits", u"20000000000E"_s);
    size("no share of memory", u"0%"_s);
    size("more than all memory", u"100.01%"_s);
    size("a share in thousandths", u"12.345%"_s);
    const auto quota = [&](const char *row, const QString &cpu) {
        QTest::newRow(row) << self << QString() << cpu << u"CPUQuota="_s + cpu;
    };
    quota("a quota without percent", u"50"_s);
    quota("no processor at all", u"0%"_s);
    quota("a word for a quota", u"half%"_s);
    quota("a quota in thousandths", u"1.234%"_s);
    QTest::newRow("init") << qint64(1) << QString() << QString() << u"no process 1"_s;
    QTest::newRow("no process") << qint64(0) << QString() << QString() << u"no process 0"_s;
}

void UserScopeTest::refusesBeforeAsking()
{
    QFETCH(qint64, pid);
    QFETCH(QString, memoryMax);
    QFETCH(QString, cpuQuota);
    QFETCH(QString, expected);

    // Where the bus would answer that it cannot be reached: a refusal here was made before.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(m_dir->filePath(u"nothing"_s)));
    const UserScope::Entered entered = UserScope::enter(pid, u"e"_s, memoryMax, cpuQuota);
    QVERIFY2(entered.problem.startsWith(expected), qPrintable(entered.problem));
    QVERIFY(entered.unit.isEmpty());
}

// A program that starts a child which leaves its group for a session of its own, in a scope of its
// own: ended by ending the scope, at once or asked first, directly or by the launcher at its time
// (0: at once; else with a grace of that many milliseconds).
void UserScopeTest::endsWhatLeftItsGroup_data()
{
    QTest::addColumn<bool>("ask");
    QTest::addColumn<int>("launcherGrace");
    QTest::newRow("killed at once") << false << -1;
    QTest::newRow("asked to end") << true << -1;
    QTest::newRow("by the launcher at its time") << false << 0;
    QTest::newRow("by the launcher, with a grace") << false << 2000;
}

void UserScopeTest::endsWhatLeftItsGroup()
{
    QFETCH(bool, ask);
    QFETCH(int, launcherGrace);
    const ScopedUserManager &manager = this->manager(Controllers::AsOffered);
    if (!manager.skipReason().isEmpty())
        QSKIP(qPrintable(manager.skipReason()));
    QVERIFY2(manager.failure().isEmpty(), qPrintable(manager.failure()));
    // The program waits until it is in its scope, as the launcher holds it, then starts a child
    // that leaves its process group for a session of its own.
    const bool byLauncher = launcherGrace >= 0;
    const qint64 pid = launch("hold setsid", byLauncher);
    QVERIFY(pid > 0);
    if (!byLauncher) {
        const UserScope::Entered entered = UserScope::enter(pid, u"escaper"_s, {}, {});
        QVERIFY2(entered.problem.isEmpty(), qPrintable(entered.problem));
        QVERIFY(entered.limitsNotApplied.isEmpty());
        m_unit = entered.unit;
    } else {
        QCOMPARE(m_info.scopeProblem, QString());
        for (const QByteArray &line : readAll(u"/proc/%1/cgroup"_s.arg(pid)).split('\n')) {
            if (line.endsWith(".scope"))
                m_unit = QString::fromUtf8(line.mid(line.lastIndexOf('/') + 1));
        }
    }
    QVERIFY2(m_unit.startsWith(u"vantrel-run-%1-"_s.arg(pid)) && m_unit.endsWith(u".scope"),
             qPrintable(m_unit));
    QVERIFY(QFile(m_dir->filePath(u"go"_s)).open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(u"report"_s)), 10000);
    qint64 grandchild = 0;
    for (const QByteArray &line : readAll(m_dir->filePath(u"report"_s)).split('\n')) {
        if (line.startsWith("grandchild "))
            grandchild = line.mid(11).toLongLong();
    }
    QVERIFY(grandchild > 0);
    // Out of reach of the program's group, and in the scope all the same.
    QCOMPARE(processGroup(grandchild), grandchild);
    QCOMPARE(processGroup(pid), pid);
    QVERIFY(
        readAll(u"/proc/%1/cgroup"_s.arg(grandchild)).contains(QByteArray('/' + m_unit.toUtf8())));
    QVERIFY(!UserScope::isEmpty(m_unit));

    if (byLauncher) {
        bool endedLater = false;
        m_launcher.setEndedLater([&endedLater](qint64, const ProcessEnd &) { endedLater = true; });
        const ProcessEnd end = m_launcher.terminate(m_process, launcherGrace);
        // The stand-in leaves at once when asked; everything of its scope goes with it.
        if (launcherGrace > 0)
            QTRY_VERIFY_WITH_TIMEOUT(endedLater, 5000);
        else
            QCOMPARE(end.how, ProcessEnd::How::Killed);
    } else {
        QCOMPARE(UserScope::end(m_unit, ask), QString());
    }
    QTRY_VERIFY_WITH_TIMEOUT(hasEnded(pid) && hasEnded(grandchild), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(UserScope::isEmpty(m_unit), 5000);
    // Once the scope has gone, ending it again is no failure.
    QCOMPARE(UserScope::end(m_unit, false), QString());
}

void UserScopeTest::limitsAsTheKernelHoldsThem_data()
{
    QTest::addColumn<Controllers>("controllers");
    QTest::addColumn<QString>("memoryMax");
    QTest::addColumn<QString>("cpuQuota");
    // The bytes and the share of a processor the limits come to; 0 for none.
    QTest::addColumn<quint64>("leastBytes");
    QTest::addColumn<quint64>("mostBytes");
    QTest::addColumn<double>("processor");

    // A share of memory is of what the manager finds the machine has: at most all of it.
    const quint64 tenthOfMemory = machineMemory() / 10;
    for (const auto &[controllers, name] : {std::pair {Controllers::AsOffered, "as offered"},
                                            std::pair {Controllers::Hidden, "hidden"}}) {
        QTest::addRow("%s: a size and half a processor", name)
            << controllers << u"64M"_s << u"50%"_s << quint64(64 << 20) << quint64(64 << 20) << 0.5;
        QTest::addRow("%s: a share of memory and two processors", name)
            << controllers << u"10%"_s << u"200%"_s << quint64(1) << tenthOfMemory << 2.0;
        QTest::addRow("%s: a part of a size and of a percent", name)
            << controllers << u"1.5G"_s << u"12.5%"_s << quint64(3 << 29) << quint64(3 << 29)
            << 0.125;
        QTest::addRow("%s: no limit", name)
            << controllers << u"infinity"_s << QString() << quint64(0) << quint64(0) << 0.0;
    }
}

void UserScopeTest::limitsAsTheKernelHoldsThem()
{
    QFETCH(Controllers, controllers);
    QFETCH(QString, memoryMax);
    QFETCH(QString, cpuQuota);
    QFETCH(quint64, leastBytes);
    QFETCH(quint64, mostBytes);
    QFETCH(double, processor);
    const ScopedUserManager &manager = this->manager(controllers);
    if (!manager.skipReason().isEmpty())
        QSKIP(qPrintable(manager.skipReason()));
    QVERIFY2(manager.failure().isEmpty(), qPrintable(manager.failure()));
    const qint64 pid = launch({});
    QVERIFY(pid > 0);
    const UserScope::Entered entered = UserScope::enter(pid, u"limited"_s, memoryMax, cpuQuota);
    QVERIFY2(entered.problem.isEmpty(), qPrintable(entered.problem));
    m_unit = entered.unit;

    // Each limit is in force as asked, or named as not in force; never in force otherwise.
    const KernelLimits kernel = kernelLimits(pid, m_unit);
    QStringList notInForce;
    if (mostBytes > 0 && (kernel.memory < leastBytes || kernel.memory > mostBytes))
        notInForce << u"MemoryMax="_s + memoryMax;
    if (processor > 0 && !qFuzzyCompare(kernel.processor, processor))
        notInForce << u"CPUQuota="_s + cpuQuota;
    QCOMPARE(entered.limitsNotApplied, notInForce);
    if (controllers == Controllers::Hidden)
        QCOMPARE(notInForce.size(), (mostBytes > 0) + (processor > 0));
    if (controllers == Controllers::AsOffered && !notInForce.isEmpty())
        qInfo("not in force where the machine offers its controllers: %s",
              qPrintable(notInForce.join(u", ")));
}

void UserScopeTest::refusesAProcessThatHasEnded()
{
    const ScopedUserManager &manager = this->manager(Controllers::AsOffered);
    if (!manager.skipReason().isEmpty())
        QSKIP(qPrintable(manager.skipReason()));
    QVERIFY2(manager.failure().isEmpty(), qPrintable(manager.failure()));
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    QVERIFY(pid > 0);
    QCOMPARE(::waitpid(pid, nullptr, 0), pid);
    const UserScope::Entered entered = UserScope::enter(pid, u"gone"_s, {}, {});
    QVERIFY(entered.unit.isEmpty());
    QVERIFY(!entered.problem.isEmpty());
    QVERIFY2(!entered.problem.contains(u'\n'), qPrintable(entered.problem));
}

QTEST_GUILESS_MAIN(UserScopeTest)
#include "tst_userscope.moc"
