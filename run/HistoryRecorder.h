#pragma once

#include "run/RunRecord.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

// The run's own connection to the schedule's file, on a thread of its own, so that a file that is
// slow or impossible to write (locked by another program, read-only) never holds up a run. It
// writes the record of each run: when the program is about to start, and again as more becomes
// known. A record that cannot be written waits and is tried again; the trace says once that the
// history cannot be written, and the runs go on. It also notices when other connections (another
// window, `sqlite3`, an import) have changed the file, and ends what runners that are gone left
// running.
class HistoryRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryRecorder)

public:
    // How long a program's start waits for its record to be written, while the file can be
    // written at all.
    static constexpr int beginWaitMs = 200;
    // How long the recorder's end waits for records that could not be written yet.
    static constexpr int finalWaitMs = 3000;

    explicit HistoryRecorder(const QString &databasePath, QObject *parent = nullptr);
    // Writes what is still waiting, for a short while at most, then stops; the trace says how
    // many records could not be written.
    ~HistoryRecorder() override;

    // A run whose program is about to start: its record is written before this returns, unless
    // the file cannot be written now, in which case it waits with the others.
    void begin(quint64 ticket, const RunRecord &record);
    // The run's record as it stands now: written anew, or in place of what was written for the
    // same ticket.
    void record(quint64 ticket, const RunRecord &record);
    void update(quint64 ticket, const RunRecord &record) { this->record(ticket, record); }
    // Waits until everything handed over so far has been written or has failed to be.
    void flush();

    // Ends what runners that are gone left running, and says in their records that they were
    // interrupted.
    void recoverLeftRunning();
    // A number that grows each time another connection has changed the file or the file was
    // replaced, as far as a look each second tells.
    quint64 changesElsewhere() const { return m_changesElsewhere.load(); }
    // Looks at once whether the file was changed, and waits for the answer.
    void lookForChanges();
    // Waits for the first look at the file, which later looks compare with: before the file is
    // read, so that every change after that read is seen.
    void waitForFirstLook();

Q_SIGNALS:
    // New records are in the history.
    void written();
    // Another connection changed the file.
    void changedElsewhere();

private:
    class Writer;
    QThread m_thread;
    Writer *m_writer;
    std::atomic<quint64> m_changesElsewhere = 0;
    std::atomic<bool> m_looked = false;
    std::atomic<bool> m_failing = false;
    // A start waited for its record in vain; none waits again until a record is written.
    std::atomic<bool> m_waitedInVain = false;
};
