#pragma once

#include <QLoggingCategory>

// The trace of what ran: one line for each start, end, late collection and failure. Info is on
// by default, debug off.
Q_DECLARE_LOGGING_CATEGORY(runLog)
