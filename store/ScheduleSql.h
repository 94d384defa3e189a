#pragma once

#include <QString>

// The schedule table: its columns, the SQL texts issued on it, and the failure texts OpenQuery
// shows with them.
namespace ScheduleSql {

inline const QString table = QStringLiteral("QZProgram");
inline const QString programIndex = QStringLiteral("ProgramIndex");
inline const QString programName = QStringLiteral("ProgramName");
inline const QString programParameter = QStringLiteral("ProgramParameter");
inline const QString programTime = QStringLiteral("ProgramTime");
inline const QString programCount = QStringLiteral("ProgramCount");

inline const QString list = QStringLiteral("Select * From QZProgram");
// Followed by the entry's key in decimal, with nothing after it.
inline const QString byKey =
    list + QStringLiteral(" Where ") + programIndex + QStringLiteral(" = ");
inline const QString openFailed = QStringLiteral("数据库打开失败");
inline const QString readFailed = QStringLiteral("记录读入失败");

} // namespace ScheduleSql
