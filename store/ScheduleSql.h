#pragma once

#include <QString>

// The schedule table: its columns, the SQL texts issued on it, and the texts the person reads when
// a command on it fails.
namespace ScheduleSql {

// The texts are kept in Chinese, as the layers below the window compare and record them; the
// message boxes show them in the person's language (see shownText in report/ReportText.h).
inline QString message(const char *text)
{
    return QString::fromUtf8(text);
}

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
inline const QString openFailed = message(QT_TRANSLATE_NOOP("Messages", "数据库打开失败"));
inline const QString readFailed = message(QT_TRANSLATE_NOOP("Messages", "记录读入失败"));
// Another program holds the file: the text of a DatabaseBusyError that held up a read, and of
// one that refused a change.
inline const QString heldUp =
    message(QT_TRANSLATE_NOOP("Messages", "数据库正被其他程序使用，请稍后再试"));
inline const QString inUse =
    message(QT_TRANSLATE_NOOP("Messages", "数据库正被其他程序使用，未保存任何更改，请稍后再试"));
// The row no longer holds what the window showed: the text of every StaleRowError.
inline const QString changedElsewhere = message(
    QT_TRANSLATE_NOOP("Messages", "该记录已被其他程序修改或删除，未做任何更改，列表已重新读入"));

} // namespace ScheduleSql
