#include "ui/ColumnTitles.h"

#include "store/ScheduleSql.h"

#include <array>
#include <utility>

QString columnTitle(const QString &column)
{
    static const std::array<std::pair<QString, QString>, 5> titles = {{
        {ScheduleSql::programIndex, QStringLiteral("程序编号")},
        {ScheduleSql::programName, QStringLiteral("程序名称")},
        {ScheduleSql::programParameter, QStringLiteral("运行参数")},
        {ScheduleSql::programTime, QStringLiteral("运行时间")},
        {ScheduleSql::programCount, QStringLiteral("运行次数")},
    }};
    for (const auto &[name, title] : titles) {
        if (name == column)
            return title;
    }
    return QString();
}
