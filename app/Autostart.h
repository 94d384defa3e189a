#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// The entry in the desktop's autostart folder that opens the window and begins its run at every
// log-in: $XDG_CONFIG_HOME/autostart/<application id>.desktop (~/.config/autostart by default).
namespace Autostart {

// Where the entry is kept for this user.
QString entryPath();
// The text of the entry that starts the program with these options.
QString entryText(const QString &program, const QStringList &options);
// Writes the entry (replacing an earlier one) or removes it, and says on `out` what was done or
// on `err` why it could not be; gives the exit status.
int write(const QString &program, const QStringList &options, std::FILE *out, std::FILE *err);
int remove(std::FILE *out, std::FILE *err);

} // namespace Autostart
