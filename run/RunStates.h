#pragma once

#include <QString>

// The texts the run engine keeps its states in. A state is compared by its text, so each is
// spelled here once: a typo on one side would silently turn one into another.

// Whether the run engine runs.
namespace RunStates {
inline const QString running = QStringLiteral("运行");
inline const QString stopped = QStringLiteral("停止");
} // namespace RunStates

// Whether a launched program is taken to be running.
namespace ProcessStates {
inline const QString open = QStringLiteral("打开");
inline const QString closed = QStringLiteral("关闭");
} // namespace ProcessStates
