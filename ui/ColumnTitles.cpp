#include "ui/ColumnTitles.h"

#include "store/ScheduleSql.h"

#include <QCoreApplication>

#include <array>
#include <utility>

QString columnTitle(const QString &column)
{
    static const std::array<std::pair<QString, const char *>, 5> titles = {{
        {ScheduleSql::programIndex, QT_TRANSLATE_NOOP("ColumnTitles", "程序编号")},
        {ScheduleSql::programName, QT_TRANSLATE_NOOP("ColumnTitles", "程序名称")},
        {ScheduleSql::programParameter, QT_TRANSLATE_NOOP("ColumnTitles", "运行参数")},
        {ScheduleSql::programTime, QT_TRANSLATE_NOOP("ColumnTitles", "运行时间")},
        {ScheduleSql::programCount, QT_TRANSLATE_NOOP("ColumnTitles", "运行次数")},
    }};
    for (const auto &[name, title] : titles) {
        if (name == column)
            return QCoreApplication::translate("ColumnTitles", title);
    }
    return QString();
}
