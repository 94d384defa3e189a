#include "ui/WindowSettings.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace {

const QString keepInTrayKey = u"tray/keepRunning"_s;
const QString notificationsKey = u"notifications/enabled"_s;

} // namespace

bool WindowSettings::keepInTray()
{
    return QSettings().value(keepInTrayKey, false).toBool();
}

void WindowSettings::setKeepInTray(bool keep)
{
    QSettings().setValue(keepInTrayKey, keep);
}

bool WindowSettings::notifications()
{
    return QSettings().value(notificationsKey, true).toBool();
}

void WindowSettings::setNotifications(bool notify)
{
    QSettings().setValue(notificationsKey, notify);
}
