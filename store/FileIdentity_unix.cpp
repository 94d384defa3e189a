#include "store/FileIdentity.h"

#include <QFile>

#include <sys/stat.h>

FileIdentity FileIdentity::ofPath(const QString &path)
{
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {quint64(status.st_dev), quint64(status.st_ino), true};
}
