#pragma once

#include "engine/Launcher.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <unordered_map>

// Starts programs directly, never through a shell, and hands documents and URLs to the desktop's
// opener. A program stays uncollected until terminate(), even once it has ended, so that its id,
// which is also its process group's, cannot name another process when the group is ended. One that
// has not gone by the time terminate() returns is collected once the kernel reports it ended.
class ProcessLauncher final : public Launcher
{
public:
    // Sends a signal to a process (positive target) or a process group (negative target);
    // returns 0 or the reason as an errno value. Signal 0 only asks whether one may be sent.
    using SignalSender = std::function<int(qint64 target, int signal)>;

    ProcessLauncher();
    // For tests: every signal goes through sendSignal instead of straight to the kernel.
    explicit ProcessLauncher(SignalSender sendSignal);
    // Kills nothing: closing the scheduler leaves the programs it launched running.
    ~ProcessLauncher() override;
    Q_DISABLE_COPY_MOVE(ProcessLauncher)

    void launch(LaunchInfo &info) override;
    ProcessEnd terminate(ProcessHandle &process, int graceMs = 0) override;
    void endAtOnce(qint64 id) override;

private:
    struct Child
    {
        QString entry;
        QByteArray file;
        QElapsedTimer clock;
        // When the kernel said it had ended by itself, on its clock; -1 until then.
        qint64 endedMs = -1;
        // Something in its group could not be ended: it is collected only once the whole group
        // has gone, and that goes into the trace.
        bool refused = false;
        // Its transient scope under the user's service manager, or "".
        QString scope;
    };

    ProcessEnd endNow(qint64 id);
    void enterScope(LaunchInfo &info, Child &child);
    void endWhenAsked(qint64 id, bool graceOver);
    bool watch(qint64 pid);
    void waitFor(qint64 pid);
    void dropWatch(qint64 pid);
    void collectEnded();

    SignalSender m_sendSignal;
    // Started and not yet handed back: the only ids terminate() may ever signal.
    QHash<qint64, Child> m_running;
    // Handed back but not yet collected; never signalled again.
    QHash<qint64, Child> m_leftRunning;
    // Asked to end, each with the timer of its grace; still the launcher's to end.
    QHash<qint64, std::pair<Child, std::shared_ptr<QTimer>>> m_ending;
    // The kernel's word that a process has ended, for those left running and for what runs on in
    // their groups; where there is none (an old kernel), the timer looks from time to time instead.
    std::unordered_map<qint64, std::unique_ptr<QSocketNotifier>> m_exitWatches;
    QTimer m_collector;
    // The system's latest process id, kept open since terminate() reads it every time; -1 when the
    // kernel does not offer it.
    int m_lastProcessId = -1;
};
