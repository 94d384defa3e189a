#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

// Identifies a started process; empty (id 0) when nothing was started.
struct ProcessHandle
{
    qint64 id = 0;
    bool isEmpty() const { return id == 0; }
};

// The record of the latest launch, reused for every launch. The texts are the bytes as stored,
// since file names and parameters need not be valid UTF-8.
struct LaunchInfo
{
    QByteArray file; // the entry's program
    QByteArray parameters; // the entry's parameter text
    QByteArray directory; // "" = the program's current directory
    QString entry; // the schedule entry's key, only to name it in the trace
    QByteArray runId; // goes into the program's environment, to find what it left later
    QByteArrayList environment; // NAME=value added to (or replacing in) the runner's own
    // The program's standard output and error, or -1 for the runner's own; the caller keeps them.
    int outputDescriptor = -1;
    int errorDescriptor = -1;
    // Moved into a transient scope of its own under the user's service manager, so that it is
    // ended with everything it started; with the limits as systemd writes them, or "".
    bool ownScope = false;
    QString memoryMax;
    QString cpuQuota;
    ProcessHandle process; // filled in by launch()
    qint64 startTicks = 0; // filled in by launch(): when the kernel says it started
    QString failure; // filled in by launch(): why nothing was started, "" when it was
    QByteArray opener; // filled in by launch(): the opener a document or URL went to, or ""
    // Filled in by launch() with ownScope: why it runs without a scope of its own ("" when it has
    // one), and the limits that were asked for and are not in force ("MemoryMax=512M").
    QString scopeProblem;
    QStringList limitsNotApplied;
};

// How one run of a program ended, as far as the launcher knows.
struct ProcessEnd
{
    enum class How {
        None, // nothing was started, or there was nothing left to end
        Killed, // still running when it was ended, with its whole process group
        Exited, // had ended by itself before; status is its exit status
        Signalled, // had been ended by a signal before; status is the signal
        NotEnded, // could not be ended (detail says why); it is collected later
        Ending, // asked to end: how it ended follows once it is gone or its grace is over
        EndedWhenAsked, // left when asked; status and signal say how, as for Exited and Signalled
    };
    How how = How::None;
    int status = 0;
    // For EndedWhenAsked: whether it was ended by a signal (status is then the signal).
    bool bySignal = false;
    QString detail;
    // From the start to its end when the launcher saw it end by itself, else to terminate(), or
    // to the late collection of one that could not be ended.
    qint64 lifetimeMs = 0;
};

// Starts and ends the schedule's programs; abstract so the scheduler can run against a fake.
class Launcher
{
public:
    // Called once for each program that terminate() could not end, when it is finally gone: how
    // its leader ended then, and its lifetime until then.
    using LateCollection = std::function<void(qint64 id, const ProcessEnd &end)>;
    // Called once for a program that terminate() asked to end, when it has ended (EndedWhenAsked),
    // or was killed with what was left of its group once its grace was over (Killed).
    using EndedLater = std::function<void(qint64 id, const ProcessEnd &end)>;
    // Called once when a started program leaves by itself, before terminate(); terminate() then
    // says how it ended.
    using EndedByItself = std::function<void(qint64 id)>;

    Launcher() = default;
    virtual ~Launcher() = default;
    Q_DISABLE_COPY_MOVE(Launcher)

    // Never throws and never reports failure to the caller other than by info.process staying
    // empty and info.failure saying why.
    virtual void launch(LaunchInfo &info) = 0;
    // Never throws and never waits: ends the process and its group if it can, then empties the
    // handle and says how the program ended. With a grace, a program still running is asked to
    // end first (SIGTERM to its group) and the answer is Ending: what became of it comes through
    // EndedLater, the rest of its group killed once it is gone or the grace is over.
    virtual ProcessEnd terminate(ProcessHandle &process, int graceMs = 0) = 0;
    // Ends at once a program that terminate() asked to end and that has not gone yet, as when its
    // grace is over; EndedLater is heard before this returns.
    virtual void endAtOnce(qint64 id) = 0;

    void setLateCollection(LateCollection report) { m_lateCollection = std::move(report); }
    void setEndedLater(EndedLater report) { m_endedLater = std::move(report); }
    void setEndedByItself(EndedByItself report) { m_endedByItself = std::move(report); }

protected:
    void collectedLate(qint64 id, const ProcessEnd &end) const
    {
        if (m_lateCollection)
            m_lateCollection(id, end);
    }
    void endedLater(qint64 id, const ProcessEnd &end) const
    {
        if (m_endedLater)
            m_endedLater(id, end);
    }
    void endedByItself(qint64 id) const
    {
        if (m_endedByItself)
            m_endedByItself(id);
    }

private:
    LateCollection m_lateCollection;
    EndedLater m_endedLater;
    EndedByItself m_endedByItself;
};
