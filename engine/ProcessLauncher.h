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
// opener. A program that has not gone by the time terminate() returns is collected once the
// kernel reports it ended, so its id stays reserved until then.
class ProcessLauncher final : public Launcher
{
public:
    // Sends a signal to a process (positive target) or a process group (negative target);
    // returns 0 or the reason as an errno value.
    using SignalSender = std::function<int(qint64 target, int signal)>;

    ProcessLauncher();
    // For tests: every signal goes through sendSignal instead of straight to the kernel.
    explicit ProcessLauncher(SignalSender sendSignal);
    // Kills nothing: closing the scheduler leaves the programs it launched running.
    ~ProcessLauncher() override;
    Q_DISABLE_COPY_MOVE(ProcessLauncher)

    void launch(LaunchInfo &info) override;
    void terminate(ProcessHandle &process) override;

private:
    struct Child
    {
        QString entry;
        QByteArray file;
        QElapsedTimer clock;
        bool refused = false; // the kill was refused, so its collection goes into the trace
    };

    void leaveForLater(qint64 id, Child child);
    void collectEnded();

    SignalSender m_sendSignal;
    // Started and not yet handed back: the only ids terminate() may ever signal.
    QHash<qint64, Child> m_running;
    // Handed back but not yet gone; never signalled again, only collected.
    QHash<qint64, Child> m_leftRunning;
    // For each of those, the kernel's word that it has ended; where there is none (an old
    // kernel), the timer looks from time to time instead.
    std::unordered_map<qint64, std::unique_ptr<QSocketNotifier>> m_exitWatches;
    QTimer m_collector;
};
