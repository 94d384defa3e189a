#pragma once

#include "store/RunHistory.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

// Writes the record of each run into the history, on a thread of its own with a connection of its
// own, so that a history that is slow or impossible to write (a file locked by another program, a
// read-only file) never holds up a run. A record that cannot be written waits and is tried again;
// the trace says once that the history cannot be written, and the runs go on.
class HistoryRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryRecorder)

public:
    explicit HistoryRecorder(const QString &connectionString, QObject *parent = nullptr);
    // Writes what is still waiting, for a short while at most, then stops.
    ~HistoryRecorder() override;

    // A run that has ended; `ticket` names it for a later update.
    void record(quint64 ticket, const RunRecord &record);
    // What became known of that run later.
    void update(quint64 ticket, const RunRecord &record);
    // Waits until everything handed over so far has been written or has failed to be.
    void flush();

Q_SIGNALS:
    // New records are in the history.
    void written();

private:
    class Writer;
    QThread m_thread;
    Writer *m_writer;
};
