#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// A program's own transient scope under the user's service manager, so that everything it
// starts, also what leaves its process group for a session of its own, is ended with it. Every
// call opens its own connection to the session bus and waits on it for at most two seconds.
namespace UserScope {

// "" when a user service manager answers on the session bus ($DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus), else why not, in a few words on one line.
QString unavailable();

struct Entered
{
    // The scope's unit name; empty when no scope was made.
    QString unit;
    // Why no scope was made; "" when one was.
    QString problem;
    // The limits that were asked for and are not in force in the scope, as written
    // ("MemoryMax=512M", "CPUQuota=50%"): the manager ignores those whose controllers were not
    // handed to it.
    QStringList limitsNotApplied;
};

// Moves the running process pid into a new scope of its own named after the entry, with the
// limits where given ("" for none): memoryMax as systemd writes it ("512M", "2G", "10%",
// "infinity"), cpuQuota as a percentage of one processor ("50%", "200%"). Limits that cannot be
// read make no scope. Waits until the manager has started the scope.
Entered enter(qint64 pid, const QString &entryName, const QString &memoryMax,
              const QString &cpuQuota);

// Ends everything in the scope at once (SIGKILL to all of it), or asks it to end (SIGTERM to all
// of it) when ask is true; the scope goes once nothing of it runs. "" when done or when the scope
// is already gone, else why not.
QString end(const QString &unit, bool ask);

// Whether nothing of the scope runs any more (also when it is gone); false when the manager
// cannot be asked.
bool isEmpty(const QString &unit);

} // namespace UserScope
