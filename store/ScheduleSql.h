#pragma once

#include <QString>

// The SQL texts issued on the schedule table, and the failure texts OpenQuery shows with them.
namespace ScheduleSql {

inline const QString list = QStringLiteral("Select * From QZProgram");
// Followed by the entry's key in decimal, with nothing after it.
inline const QString byKey = QStringLiteral("Select * From QZProgram Where ProgramIndex = ");
inline const QString openFailed = QStringLiteral("数据库打开失败");
inline const QString readFailed = QStringLiteral("记录读入失败");

} // namespace ScheduleSql
