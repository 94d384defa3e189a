#include "app/ServiceStatus.h"

#include <systemd/sd-daemon.h>

namespace {

void notify(const QString &state)
{
    // A failure to reach the service manager changes nothing about the run itself.
    sd_notify(0, state.toUtf8().constData());
}

// A status is one line of the message.
QString statusLine(const QString &status)
{
    QString line = status;
    line.replace(u'\n', u' ');
    return QStringLiteral("STATUS=") + line;
}

} // namespace

namespace ServiceStatus {

void ready(const QString &status)
{
    notify(QStringLiteral("READY=1\n") + statusLine(status));
}

void status(const QString &status)
{
    notify(statusLine(status));
}

void stopping()
{
    notify(QStringLiteral("STOPPING=1"));
}

} // namespace ServiceStatus
