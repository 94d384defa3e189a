#pragma once

#include <QString>

// Tells the service manager how a run without a window stands, when it was started as a service
// that waits to be told (NOTIFY_SOCKET is set); otherwise nothing is sent.
namespace ServiceStatus {

// The schedule is open and the run begins.
void ready(const QString &status);
void status(const QString &status);
void stopping();

} // namespace ServiceStatus
