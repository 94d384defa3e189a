#include "ui/RunNotifier.h"

#include "engine/RunLog.h"
#include "run/RunEngine.h"
#include "run/RunRecord.h"
#include "ui/WindowSettings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

// Whether a run's ending is one the person should hear of: its program could not be started or
// ended, or left before its time with a failure.
bool failed(const RunRecord &record)
{
    switch (record.ending) {
    case RunRecord::Ending::NotStarted:
    case RunRecord::Ending::NotEnded:
    case RunRecord::Ending::Signal:
        return true;
    case RunRecord::Ending::Exited:
        return record.status.value_or(0) != 0;
    default:
        return false;
    }
}

} // namespace

RunNotifier::RunNotifier(RunEngine &engine, QWidget *window)
    : QObject(window)
    , m_window(window)
{
    setObjectName(QStringLiteral("RunNotifier"));
    connect(&engine, &RunEngine::runStateChanged, this, [this](bool running) {
        if (running)
            m_told.clear();
    });
    connect(&engine, &RunEngine::runEnded, this,
            [this](quint64, const RunRecord &record) { runEnded(record); });
    connect(&engine, &RunEngine::finished, this, &RunNotifier::runFinished);
}

RunNotifier::~RunNotifier() = default;

void RunNotifier::runEnded(const RunRecord &record)
{
    if (!failed(record))
        return;
    const QString program = QString::fromUtf8(record.program);
    const QString entry = record.entry.isEmpty() ? program : record.entry;
    if (m_told.contains(entry) || !wanted())
        return;
    m_told.insert(entry);
    const QString who = record.entry.isEmpty() ? tr("程序 %1").arg(program)
                                               : tr("条目 %1 的程序 %2").arg(record.entry, program);
    QString summary;
    if (record.ending == RunRecord::Ending::NotStarted)
        summary = tr("%1 无法启动").arg(who);
    else if (record.ending == RunRecord::Ending::NotEnded)
        summary = tr("%1 无法结束").arg(who);
    else
        summary = tr("%1 提前退出").arg(who);
    send(summary, RunEndings::text(record));
}

void RunNotifier::runFinished()
{
    if (wanted())
        send(tr("运行已结束"), tr("日程中的条目都已运行完毕"));
}

// The person is looking at none of the program's windows and has not turned notifications off.
bool RunNotifier::wanted() const
{
    return !QApplication::activeWindow() && WindowSettings::notifications();
}

void RunNotifier::send(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!m_saidNoBus) {
            qCInfo(runLog).noquote() << u"no desktop notifications: there is no session bus ("_s
                    + bus.lastError().message() + u')';
            m_saidNoBus = true;
        }
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.Notifications"_s, u"/org/freedesktop/Notifications"_s,
        u"org.freedesktop.Notifications"_s, u"Notify"_s);
    const QString desktopEntry = QGuiApplication::desktopFileName();
    const QVariantMap hints {{u"desktop-entry"_s, desktopEntry}};
    // Name, nothing to replace, icon, summary, body, no actions, hints, the server's own timeout.
    call << m_window->windowTitle() << 0u << desktopEntry << summary << body << QStringList()
         << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *done) {
                done->deleteLater();
                if (done->isError() && !m_saidRefused) {
                    qCInfo(runLog).noquote()
                        << u"a desktop notification was not shown: "_s + done->error().message();
                    m_saidRefused = true;
                }
            });
}
