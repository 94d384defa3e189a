#pragma once

#include "run/RunHistory.h"

#include <QAbstractTableModel>
#include <QString>

#include <deque>
#include <vector>

// The run history as a table for the history window, newest first, keeping the latest records
// the history itself keeps. Runs that failed stand out more than runs that only ended before their
// time.
class HistoryModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HistoryModel)

public:
    enum Column { Started, Entry, Program, Parameters, Seconds, Ended, ColumnCount };
    using Mark = RunRecord::Mark;
    // The row's Mark, as an int; its entry's key.
    static constexpr int markRole = Qt::UserRole;
    static constexpr int entryRole = Qt::UserRole + 1;

    explicit HistoryModel(QObject *parent = nullptr);

    // Shows these records (oldest first) instead of what was shown.
    void setRecords(std::vector<RunRecord> records);
    // Adds the records read after readAfter() (oldest first): new ones on top, and what became
    // known later of one already shown in its place. The oldest go beyond the history's limit.
    void addRecords(std::vector<RunRecord> records);
    // The number after which a record may be new or changed: the newest shown, or just before
    // the oldest shown that may still change (running, or not ended and not collected yet).
    qint64 readAfter() const;
    const RunRecord &record(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void trim();

    // Oldest first, by number; the last is row 0.
    std::deque<RunRecord> m_records;
};
