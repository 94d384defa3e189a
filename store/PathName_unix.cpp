#include "store/PathName.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("something other than a file");
}

QString notRegular(const QString &kind)
{
    return QStringLiteral("it is %1, not a regular file").arg(kind);
}

} // namespace

namespace PathName {

QString absolute(const QString &name)
{
    if (name.startsWith(u'/'))
        return QDir::cleanPath(name);
    std::error_code failure;
    const std::filesystem::path folder = std::filesystem::current_path(failure);
    if (failure)
        return QDir::cleanPath(name);
    return QDir::cleanPath(fromNative(folder.native()) + u'/' + name);
}

bool exists(const QString &name)
{
    struct stat status
    {
    };
    return ::stat(toNative(name).constData(), &status) == 0;
}

bool isWritable(const QString &name)
{
    return ::access(toNative(name).constData(), W_OK) == 0;
}

QString irregularKind(const QString &name)
{
    struct stat status
    {
    };
    if (::stat(toNative(name).constData(), &status) != 0)
        return QString();
    return kindOf(status.st_mode);
}

QString openForReading(QFile &file, const QString &name)
{
    // Looked at before it is opened: opening a device may already do something.
    if (const QString kind = irregularKind(name); !kind.isEmpty())
        return notRegular(kind);
    // Without waiting, and looked at again once open, should a pipe have taken the file's place.
    const int descriptor =
        ::open(toNative(name).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat status
    {
    };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        const QString reason = notRegular(kindOf(status.st_mode));
        ::close(descriptor);
        return reason;
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return file.errorString();
    }
    return QString();
}

} // namespace PathName
