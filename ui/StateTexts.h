#pragma once

#include <QString>

// The texts the windows keep their modes in. A mode is compared by its text, so each is spelled
// here once: a typo on one side would silently turn one into another.

// The entry dialog's mode: any text other than "add" means change.
namespace EditModes {
inline const QString add = QStringLiteral("新增");
inline const QString change = QStringLiteral("修改");
} // namespace EditModes
