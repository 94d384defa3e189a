#include "store/FileIdentity.h"

#include "store/PathName.h"

#include <sys/stat.h>

FileIdentity FileIdentity::ofPath(const QString &path)
{
    struct stat status
    {
    };
    if (::stat(PathName::toNative(path).constData(), &status) != 0)
        return {};
    return {quint64(status.st_dev), quint64(status.st_ino), true};
}
