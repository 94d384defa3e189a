#include "ui/EntryOptionsText.h"

#include "store/EntryOptions.h"

#include <QCoreApplication>
#include <QStringList>

using namespace Qt::StringLiterals;

QString entryOptionsText(const EntryOptions &options)
{
    QStringList lines;
    if (!options.workingDirectory.isEmpty())
        lines.append(QCoreApplication::translate("EntryOptionsText", "工作文件夹：%1")
                         .arg(options.workingDirectory));
    if (!options.environment.isEmpty()) {
        QStringList names;
        for (const QString &line : options.environment)
            names.append(line.section(u'=', 0, 0));
        lines.append(QCoreApplication::translate("EntryOptionsText", "环境变量：%1")
                         .arg(names.join(QCoreApplication::translate("EntryOptionsText", "、"))));
    }
    if (options.endGrace > 0)
        lines.append(
            QCoreApplication::translate("EntryOptionsText", "结束方式：先请求结束，%1 秒后强制结束")
                .arg(options.endGrace));
    switch (options.earlyExit) {
    case EntryOptions::EarlyExit::Wait:
        break;
    case EntryOptions::EarlyExit::Restart:
        lines.append(
            QCoreApplication::translate("EntryOptionsText", "提前退出时：重新启动，最多 %1 次")
                .arg(options.maxRestarts));
        break;
    case EntryOptions::EarlyExit::Next:
        lines.append(QCoreApplication::translate("EntryOptionsText", "提前退出时：开始下一次运行"));
        break;
    case EntryOptions::EarlyExit::Stop:
        lines.append(QCoreApplication::translate("EntryOptionsText", "提前退出时：停止运行"));
        break;
    }
    if (options.keepOutput)
        lines.append(QCoreApplication::translate("EntryOptionsText", "保留输出"));
    if (options.ownScope) {
        QStringList limits;
        if (!options.memoryMax.isEmpty())
            limits.append(QCoreApplication::translate("EntryOptionsText", "内存上限 %1")
                              .arg(options.memoryMax));
        if (!options.cpuQuota.isEmpty())
            limits.append(QCoreApplication::translate("EntryOptionsText", "处理器配额 %1")
                              .arg(options.cpuQuota));
        lines.append(
            limits.isEmpty()
                ? QCoreApplication::translate("EntryOptionsText", "独立范围")
                : QCoreApplication::translate("EntryOptionsText", "独立范围：%1")
                      .arg(limits.join(QCoreApplication::translate("EntryOptionsText", "，"))));
    }
    return lines.join(u'\n');
}
