#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

// Where an entry's program output is kept: one log for each entry of each schedule, in the
// user's state folder.
namespace OutputLog {

// A log that has reached this size when a run starts is rotated first. One run may still grow it
// past the limit, since the program's standard output goes straight into the file.
inline constexpr qint64 sizeLimit = 1024 * 1024;
// Older logs kept beside NAME.log: NAME.log.1 (the newest) to NAME.log.3.
inline constexpr int olderLogs = 3;

// $XDG_STATE_HOME/vantrel-autorun, or ~/.local/state/vantrel-autorun when that is unset or
// relative. Made (0700) when a run's output is opened, not here.
QString folder();
// The log of one entry, named by the schedule file's device and number (as FileIdentity tells
// them) and the entry's key: "<device>-<number>-entry-<key>.log", the key percent-encoded.
QString pathFor(quint64 scheduleDevice, quint64 scheduleNumber, const QString &entryKey);

} // namespace OutputLog

// What the line before a run's output names.
struct RunHeading
{
    QDateTime start; // shown in local time
    QString entry; // the entry's key
    QByteArray program; // the bytes as stored
};

// One run's output: standard output goes straight into the entry's log, standard error through a
// pipe that this object reads on the thread it lives in, appends to the log and keeps the end of.
class RunOutput final : public QObject
{
    Q_OBJECT

public:
    // Makes the log's folder when needed, rotates the log when it has reached sizeLimit, opens
    // it for appending and writes the run's heading. Null, with problem saying why, when any of
    // that fails; then nothing is to be started.
    static std::unique_ptr<RunOutput> open(const QString &logPath, const RunHeading &run,
                                           QString *problem,
                                           qint64 sizeLimit = OutputLog::sizeLimit);
    ~RunOutput() override;
    Q_DISABLE_COPY_MOVE(RunOutput)

    // For the program's descriptors 1 and 2. Both are close-on-exec and above 2, so that
    // dup2 onto 1 and 2 in the child never overwrites one with the other.
    int outputDescriptor() const { return m_log; }
    int errorDescriptor() const { return m_errorWrite; }
    // Once the program is started (or not): the pipe ends only when no one else holds its write
    // end.
    void closeChildEnds();
    // Fills in the pid in the run's heading, which was written before the program started.
    void setProcessId(qint64 pid);
    // The last one or two lines (not blank) the program wrote to standard error, joined by "\n",
    // as a person would have seen them on a terminal; "…" marks a line cut. Reads first what is
    // waiting in the pipe, without waiting for more. Closing the output also puts what is waiting
    // into the log.
    QString errorTail();
    // The program runs on after its runner (the window closed and left it running): what it
    // still writes to standard error goes on into the log through `cat`, which holds the pipe
    // from now on and ends once the program has closed its end; without a reader, the program's
    // next line there would end it. False, with the trace saying why, when cat cannot be started.
    bool handOver();

private:
    RunOutput(int log, int errorRead, int errorWrite, qint64 pidOffset);
    void readErrors(qint64 atMost);
    void append(QByteArrayView bytes);

    int m_log = -1;
    int m_errorRead = -1;
    int m_errorWrite = -1;
    qint64 m_pidOffset = -1; // where the pid goes in the heading
    QSocketNotifier *m_errorWatch = nullptr;
    QByteArray m_tail; // the end of standard error
    bool m_tailCut = false; // whether m_tail begins within a line
    bool m_writeFailed = false;
};
