#pragma once

#include <QString>

// The names the windows give the schedule's columns.
namespace ColumnTitles {

inline const QString programIndex = QStringLiteral("程序编号");
inline const QString programName = QStringLiteral("程序名称");
inline const QString programParameter = QStringLiteral("运行参数");
inline const QString programTime = QStringLiteral("运行时间");
inline const QString programCount = QStringLiteral("运行次数");

} // namespace ColumnTitles
