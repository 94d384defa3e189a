#pragma once

#include <QString>

// The user's configuration folder, where the desktop looks for autostart entries and the service
// manager for user units: $XDG_CONFIG_HOME, else ~/.config.
QString userConfigFolder();
