#include "ui/EntryOptionsText.h"

#include "store/EntryOptions.h"

#include <QStringList>

using namespace Qt::StringLiterals;

QString entryOptionsText(const EntryOptions &options)
{
    QStringList lines;
    if (!options.workingDirectory.isEmpty())
        lines.append(u"工作文件夹：%1"_s.arg(options.workingDirectory));
    if (!options.environment.isEmpty()) {
        QStringList names;
        for (const QString &line : options.environment)
            names.append(line.section(u'=', 0, 0));
        lines.append(u"环境变量：%1"_s.arg(names.join(u"、"_s)));
    }
    if (options.endGrace > 0)
        lines.append(u"结束方式：先请求结束，%1 秒后强制结束"_s.arg(options.endGrace));
    switch (options.earlyExit) {
    case EntryOptions::EarlyExit::Wait:
        break;
    case EntryOptions::EarlyExit::Restart:
        lines.append(u"提前退出时：重新启动，最多 %1 次"_s.arg(options.maxRestarts));
        break;
    case EntryOptions::EarlyExit::Next:
        lines.append(u"提前退出时：开始下一次运行"_s);
        break;
    case EntryOptions::EarlyExit::Stop:
        lines.append(u"提前退出时：停止运行"_s);
        break;
    }
    if (options.keepOutput)
        lines.append(u"保留输出"_s);
    if (options.ownScope) {
        QStringList limits;
        if (!options.memoryMax.isEmpty())
            limits.append(u"内存上限 %1"_s.arg(options.memoryMax));
        if (!options.cpuQuota.isEmpty())
            limits.append(u"处理器配额 %1"_s.arg(options.cpuQuota));
        lines.append(limits.isEmpty() ? u"独立范围"_s
                                      : u"独立范围：%1"_s.arg(limits.join(u"，"_s)));
    }
    return lines.join(u'\n');
}
