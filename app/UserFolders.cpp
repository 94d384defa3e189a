#include "app/UserFolders.h"

#include <QDir>

QString userConfigFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is to be ignored, as the base folders are always absolute.
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config;
}
