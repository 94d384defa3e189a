#include "report/ApplicationTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

QString applicationTitleFromPath(const QString &executablePath)
{
    QString title = QFileInfo(executablePath).fileName();
    const qsizetype dot = title.indexOf(u'.');
    if (dot >= 0)
        title.truncate(dot);
    // The first letter stays as it is; only the later ones are lowered.
    return title.left(1) + title.mid(1).toLower();
}

QString applicationTitle()
{
    return applicationTitleFromPath(QCoreApplication::applicationFilePath());
}
