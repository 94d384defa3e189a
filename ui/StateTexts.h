#pragma once

#include <QString>

// The texts the windows keep their states in. A mode or state is compared by its text, so each
// is spelled here once: a typo on one side would silently turn one into another.

// The entry dialog's mode: any text other than "add" means change.
namespace EditModes {
inline const QString add = QStringLiteral("新增");
inline const QString change = QStringLiteral("修改");
} // namespace EditModes

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
