#pragma once

#include <QByteArray>
#include <QString>

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
    ProcessHandle process; // filled in by launch()
    qint64 startTicks = 0; // filled in by launch(): when the kernel says it started
    QString failure; // filled in by launch(): why nothing was started, "" when it was
    QByteArray opener; // filled in by launch(): the opener a document or URL went to, or ""
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
    };
    How how = How::None;
    int status = 0;
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

    Launcher() = default;
    virtual ~Launcher() = default;
    Q_DISABLE_COPY_MOVE(Launcher)

    // Never throws and never reports failure to the caller other than by info.process staying
    // empty and info.failure saying why.
    virtual void launch(LaunchInfo &info) = 0;
    // Never throws and never waits: ends the process and its group if it can, then empties the
    // handle and says how the program ended.
    virtual ProcessEnd terminate(ProcessHandle &process) = 0;

    void setLateCollection(LateCollection report) { m_lateCollection = std::move(report); }

protected:
    void collectedLate(qint64 id, const ProcessEnd &end) const
    {
        if (m_lateCollection)
            m_lateCollection(id, end);
    }

private:
    LateCollection m_lateCollection;
};
