#include "store/ScheduleLock.h"

#include "store/PathName.h"

#include <QByteArrayList>
#include <QFile>
#include <QHash>
#include <QMutex>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

struct FileKey
{
    quint64 device;
    quint64 number;
    bool operator==(const FileKey &) const = default;
};

size_t qHash(const FileKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.device, key.number);
}

// One descriptor per schedule file for the whole process, never closed: closing any descriptor of
// a file drops every record lock this process holds on it, and so SQLite's own locks of the
// connections to that file. Whether this process's lock is taken is counted here, as flock knows
// no difference between two takers in one process.
struct LockedFiles
{
    QMutex mutex;
    QHash<FileKey, int> descriptors;
    QList<int> spare;
    QHash<FileKey, bool> taken;
};

LockedFiles &lockedFiles()
{
    static LockedFiles files;
    return files;
}

QByteArray readAll(const QByteArray &path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The process that holds a flock on the file, from the kernel's list of locks.
qint64 flockHolder(const FileKey &key)
{
    for (const QByteArray &line : readAll("/proc/locks").split('\n')) {
        const QByteArrayList fields = line.simplified().split(' ');
        // "1: FLOCK ADVISORY WRITE 4242 fd:01:1234567 0 EOF"
        if (fields.size() < 6 || fields.at(1) != "FLOCK")
            continue;
        const QByteArrayList device = fields.at(5).split(':');
        bool ok[3] = {};
        if (device.size() == 3 && device.at(0).toUInt(&ok[0], 16) == major(key.device)
            && device.at(1).toUInt(&ok[1], 16) == minor(key.device)
            && device.at(2).toULongLong(&ok[2]) == key.number && ok[0] && ok[1] && ok[2])
            return fields.at(4).toLongLong();
    }
    return 0;
}

OtherRunner describe(qint64 pid)
{
    OtherRunner other;
    other.pid = pid;
    if (pid <= 0)
        return other;
    const QByteArray folder = "/proc/" + QByteArray::number(pid);
    for (const QByteArray &line : readAll(folder + "/status").split('\n')) {
        if (line.startsWith("Uid:")) {
            const uid_t uid = uid_t(line.mid(4).simplified().split(' ').value(0).toUInt());
            other.uid = uid;
            const passwd *user = ::getpwuid(uid);
            other.user = user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
        }
    }
    other.withoutWindow = readAll(folder + "/cmdline").split('\0').contains("--headless");
    return other;
}

} // namespace

ScheduleLock::~ScheduleLock()
{
    release();
}

ScheduleLock::Result ScheduleLock::take(const QString &path, OtherRunner *other)
{
    // Without waiting: a FIFO would wait for a writer, a lock for its holder.
    const int descriptor =
        ::open(PathName::toNative(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return Result::Unavailable;
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        // No schedule, so no SQLite connection to it either: this one may be closed.
        ::close(descriptor);
        return Result::Unavailable;
    }
    const FileKey key {quint64(status.st_dev), quint64(status.st_ino)};
    LockedFiles &files = lockedFiles();
    QMutexLocker locker(&files.mutex);
    // A second descriptor of a file is kept as well: SQLite may have it open in this process.
    int kept = files.descriptors.value(key, -1);
    if (kept < 0)
        files.descriptors.insert(key, kept = descriptor);
    else
        files.spare.append(descriptor);
    if (m_file.exists && m_file == FileIdentity {key.device, key.number, true})
        return Result::Taken;
    if (files.taken.value(key) || ::flock(kept, LOCK_EX | LOCK_NB) != 0) {
        if (other)
            *other = describe(files.taken.value(key) ? qint64(::getpid()) : flockHolder(key));
        return Result::Held;
    }
    files.taken.insert(key, true);
    locker.unlock();
    // The lock of a file that was replaced since goes.
    release();
    m_file = {key.device, key.number, true};
    return Result::Taken;
}

void ScheduleLock::release()
{
    if (!m_file.exists)
        return;
    const FileKey key {m_file.device, m_file.number};
    LockedFiles &files = lockedFiles();
    QMutexLocker locker(&files.mutex);
    files.taken.remove(key);
    if (const int descriptor = files.descriptors.value(key, -1); descriptor >= 0)
        ::flock(descriptor, LOCK_UN);
    m_file = {};
}
