#include "support/UserManager.h"

#include "engine/UserScope.h"

#include <QByteArrayList>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int startMs = 15000;
constexpr int stopMs = 5000;

// Joins the cgroup given first, puts the mark of a system booted with systemd where only this
// namespace sees it, and becomes the manager. It starts dbus.socket alone, which gives it its bus
// and nothing else.
constexpr char startScript[] = R"sh(set -e
echo $$ > "$1/cgroup.procs"
if [ -d /run/systemd ]; then mount -t tmpfs -o mode=0755 vantrel-test /run/systemd
else mount -t tmpfs -o mode=0755 vantrel-test /run; mkdir /run/systemd; fi
mkdir /run/systemd/system
exec "$2" --user --unit=dbus.socket --log-target=null
)sh";

QByteArray readLine(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
}

struct CgroupMount
{
    QString point;
    QByteArray root;
    bool unified = false;
};

std::vector<CgroupMount> cgroupMounts()
{
    std::vector<CgroupMount> mounts;
    QFile mountInfo(u"/proc/self/mountinfo"_s);
    if (!mountInfo.open(QIODevice::ReadOnly))
        return mounts;
    for (const QByteArray &line : mountInfo.readAll().split('\n')) {
        const QByteArrayList fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash >= 5 && dash + 1 < fields.size()
            && (fields[dash + 1] == "cgroup2" || fields[dash + 1] == "cgroup"))
            mounts.push_back({QFile::decodeName(fields[4]), fields[3] == "/" ? "" : fields[3],
                              fields[dash + 1] == "cgroup2"});
    }
    return mounts;
}

// Where a cgroup of the unified hierarchy is in a mount, or "" when the mount does not hold it.
QString folderOf(const CgroupMount &mount, const QByteArray &cgroup)
{
    if (!cgroup.startsWith(mount.root))
        return {};
    return mount.point + QFile::decodeName(cgroup.mid(mount.root.size()));
}

} // namespace

ScopedUserManager::ScopedUserManager(Controllers controllers)
{
    m_failure = start(controllers, m_skipReason);
    if (!m_failure.isEmpty() || !m_skipReason.isEmpty())
        stop();
}

ScopedUserManager::~ScopedUserManager()
{
    stop();
}

QString ScopedUserManager::start(Controllers controllers, QString &skipReason)
{
    const auto skip = [&skipReason](const QString &why) {
        skipReason = why;
        return QString();
    };
    if (::geteuid() != 0)
        return skip(
            u"a user manager of the test's own needs root, for a private mount namespace and "
            "a cgroup of its own"_s);
    const QString systemd = u"/usr/lib/systemd/systemd"_s;
    const QString unshare = QStandardPaths::findExecutable(u"unshare"_s);
    if (!QFileInfo(systemd).isExecutable() || unshare.isEmpty()
        || !QFileInfo::exists(u"/usr/lib/systemd/user/dbus.socket"_s))
        return skip(u"needs systemd, unshare and a user bus for systemd (dbus-user-session)"_s);
    if (!m_folder.isValid() || !QDir(m_folder.path()).mkpath(u"home"_s)
        || !QDir(m_folder.path()).mkpath(u"run"_s)
        || !QFile::setPermissions(m_folder.filePath(u"run"_s),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return skip(u"cannot make a scratch folder"_s);

    // A cgroup beside the test's own, which the test can empty and remove whole at the end.
    QByteArray own;
    QFile self(u"/proc/self/cgroup"_s);
    if (self.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : self.readAll().split('\n')) {
            if (line.startsWith("0::"))
                own = line.mid(3);
        }
    }
    const auto mounts = cgroupMounts();
    const auto unified = std::find_if(mounts.begin(), mounts.end(),
                                      [](const CgroupMount &mount) { return mount.unified; });
    if (own.isEmpty() || unified == mounts.end())
        return skip(u"no unified cgroup hierarchy to give the manager a cgroup of its own"_s);
    static int made = 0;
    m_cgroup = (own == "/" ? QByteArray() : own) + "/vantrel-test-manager-"
        + QByteArray::number(::getpid()) + '-' + QByteArray::number(++made);
    const QString top = folderOf(*unified, m_cgroup);
    if (top.isEmpty() || !QDir().mkpath(top + u"/manager"))
        return skip(u"cannot make a cgroup for the manager under "_s + unified->point);
    // The manager uses a controller where its own cgroup offers it: in the unified hierarchy, what
    // the cgroup above hands on (no more than the test's own cgroup has); in an old controller's
    // own hierarchy, where a cgroup of its path exists there too.
    if (controllers == Controllers::AsOffered) {
        writeText(top + u"/cgroup.subtree_control", "+memory");
        writeText(top + u"/cgroup.subtree_control", "+cpu");
        for (const CgroupMount &mount : mounts) {
            if (const QString folder = folderOf(mount, m_cgroup);
                !mount.unified && !folder.isEmpty())
                QDir().mkpath(folder + u"/manager");
        }
    }

    const QString runtime = m_folder.filePath(u"run"_s);
    m_address = "unix:path=" + QFile::encodeName(runtime) + "/bus";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"XDG_CONFIG_HOME"_s, u"XDG_DATA_HOME"_s, u"XDG_STATE_HOME"_s,
                                u"XDG_CACHE_HOME"_s, u"NOTIFY_SOCKET"_s})
        environment.remove(name);
    environment.insert(u"HOME"_s, m_folder.filePath(u"home"_s));
    environment.insert(u"XDG_RUNTIME_DIR"_s, runtime);
    environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, QString::fromUtf8(m_address));
    m_manager.setProcessEnvironment(environment);
    m_manager.setProcessChannelMode(QProcess::MergedChannels);
    m_manager.start(unshare,
                    {u"--mount"_s, u"--propagation"_s, u"private"_s, u"sh"_s, u"-c"_s,
                     QString::fromLatin1(startScript), u"sh"_s, top + u"/manager", systemd});
    if (!m_manager.waitForStarted())
        return u"cannot start unshare: "_s + m_manager.errorString();

    // The first call starts the bus by its socket; the manager joins the bus a moment later.
    const QByteArray savedAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const bool hadAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
    QString answer;
    const bool answered = QTest::qWaitFor(
        [&] {
            answer = UserScope::unavailable();
            return answer.isEmpty() || m_manager.state() == QProcess::NotRunning;
        },
        startMs);
    if (hadAddress)
        qputenv("DBUS_SESSION_BUS_ADDRESS", savedAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (m_manager.state() == QProcess::NotRunning)
        return u"systemd --user ended at once (exit status %1): %2"_s.arg(m_manager.exitCode())
            .arg(QString::fromLocal8Bit(m_manager.readAll().trimmed()));
    if (!answered)
        return u"systemd --user did not answer within %1 s: %2"_s.arg(startMs / 1000).arg(answer);
    return {};
}

void ScopedUserManager::stop()
{
    if (m_cgroup.isEmpty())
        return;
    const auto mounts = cgroupMounts();
    const auto unified = std::find_if(mounts.begin(), mounts.end(),
                                      [](const CgroupMount &mount) { return mount.unified; });
    const QString top = unified == mounts.end() ? QString() : folderOf(*unified, m_cgroup);
    // Everything in it at once; where the kernel cannot do that, each process that is left.
    if (!top.isEmpty() && !writeText(top + u"/cgroup.kill", "1")) {
        [[maybe_unused]] const bool killed = QTest::qWaitFor(
            [&] {
                bool any = false;
                QDirIterator folders(top, QDir::Dirs | QDir::NoDotAndDotDot,
                                     QDirIterator::Subdirectories);
                for (QString folder = top; !folder.isEmpty();
                     folder = folders.hasNext() ? folders.next() : QString()) {
                    QFile procs(folder + u"/cgroup.procs");
                    if (!procs.open(QIODevice::ReadOnly))
                        continue;
                    for (const QByteArray &pid : procs.readAll().split('\n')) {
                        if (pid.toInt() > 1) {
                            any = true;
                            ::kill(pid.toInt(), SIGKILL);
                        }
                    }
                }
                return !any;
            },
            stopMs);
    }
    if (!top.isEmpty()
        && !QTest::qWaitFor([&] { return readLine(top + u"/cgroup.events") != "populated 1"; },
                            stopMs))
        qWarning("the test's user manager is still running in %s", qPrintable(top));
    m_manager.waitForFinished(stopMs);
    // The manager makes the same folders in the old controllers' hierarchies too.
    for (const CgroupMount &mount : mounts) {
        const QString folder = folderOf(mount, m_cgroup);
        if (folder.isEmpty() || !QFileInfo::exists(folder))
            continue;
        QStringList folders {folder};
        QDirIterator below(folder, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (below.hasNext())
            folders.append(below.next());
        // The deepest first: a cgroup goes only once it has none below it.
        std::sort(folders.begin(), folders.end(),
                  [](const QString &a, const QString &b) { return a.count(u'/') > b.count(u'/'); });
        for (const QString &cgroup : folders) {
            if (::rmdir(QFile::encodeName(cgroup).constData()) != 0)
                qWarning("cannot remove the test's cgroup %s", qPrintable(cgroup));
        }
    }
    m_cgroup.clear();
}
