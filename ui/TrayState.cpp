#include "ui/TrayState.h"

#include "run/ScheduleRunner.h"
#include "store/Query.h"

#include <QCoreApplication>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

// The current entry, its run and the seconds left, as far as the run is on an entry.
QString entryLines(const ScheduleRunner &runner)
{
    const QJsonObject status = runner.status();
    if (!status.contains(u"program"_s))
        return QString();
    const QString entry = status.value(u"entry"_s).toString();
    const QString program = status.value(u"program"_s).toString();
    QString lines = entry.isEmpty()
        ? QCoreApplication::translate("RunTray", "程序 %1").arg(program)
        : QCoreApplication::translate("RunTray", "条目 %1（%2）").arg(entry, program);
    // Its count of runs is known once a tick has read it.
    const int runs = status.value(u"runs"_s).toInt();
    if (runs < 1)
        return lines;
    lines += u'\n'
        + QCoreApplication::translate("RunTray", "第 %1 次，共 %2 次")
              .arg(status.value(u"run"_s).toInt())
              .arg(runs);
    if (status.contains(u"secondsLeft"_s))
        lines += QCoreApplication::translate("RunTray", "，还剩 %1 秒")
                     .arg(status.value(u"secondsLeft"_s).toInt());
    return lines;
}

} // namespace

TrayState trayStateOf(const ScheduleRunner &runner)
{
    const RunEngine &engine = runner.engine();
    if (!engine.isRunning())
        return TrayState::Stopped;
    if (!engine.waitingFor().isEmpty())
        return TrayState::Waiting;
    return engine.isPaused() ? TrayState::Paused : TrayState::Running;
}

Picture trayPicture(TrayState state)
{
    switch (state) {
    case TrayState::Stopped:
        break;
    case TrayState::Running:
        return Picture::TrayRunning;
    case TrayState::Paused:
        return Picture::TrayPaused;
    case TrayState::Waiting:
        return Picture::TrayWaiting;
    }
    return Picture::TrayStopped;
}

QString trayToolTip(const ScheduleRunner &runner)
{
    const RunEngine &engine = runner.engine();
    const TrayState state = trayStateOf(runner);
    switch (state) {
    case TrayState::Stopped:
        return QCoreApplication::translate("RunTray", "已停止");
    case TrayState::Waiting: {
        // The engine says why in the data layer's words, but an empty schedule in the person's.
        const Query *list = engine.list();
        const QString why = list->isActive() && list->recordCount() < 1
            ? QCoreApplication::translate("RunTray", "日程中没有条目")
            : engine.waitingFor();
        return QCoreApplication::translate("RunTray", "正在等待可运行的条目：%1").arg(why);
    }
    case TrayState::Running:
    case TrayState::Paused:
        break;
    }
    const QString heading = state == TrayState::Paused
        ? QCoreApplication::translate("RunTray", "已暂停")
        : QCoreApplication::translate("RunTray", "正在运行");
    const QString lines = entryLines(runner);
    return lines.isEmpty() ? heading : heading + u'\n' + lines;
}
