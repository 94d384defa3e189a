#include "ui/HistoryModel.h"

#include "run/HistoryFormat.h"
#include "store/ScheduleSql.h"
#include "ui/ColumnTitles.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// In the language of the window, which is chosen before any window is made.
QString title(int column)
{
    switch (column) {
    case HistoryModel::Started:
        return HistoryModel::tr("开始时间");
    case HistoryModel::Entry:
        return columnTitle(ScheduleSql::programIndex);
    case HistoryModel::Program:
        return columnTitle(ScheduleSql::programName);
    case HistoryModel::Parameters:
        return columnTitle(ScheduleSql::programParameter);
    case HistoryModel::Seconds:
        return HistoryModel::tr("运行时长(秒)");
    case HistoryModel::Ended:
        return HistoryModel::tr("结束方式");
    default:
        return QString();
    }
}

const QColor failedColour(0xc0, 0x1c, 0x1c);
const QColor earlyColour(0x9a, 0x5b, 0x00);

QString cellText(const RunRecord &record, int column)
{
    switch (column) {
    case HistoryModel::Started:
        return HistoryFormat::startedLocal(record.startedMs);
    case HistoryModel::Entry:
        return record.entry;
    case HistoryModel::Program:
        return HistoryFormat::bytesAsText(record.program);
    case HistoryModel::Parameters:
        return HistoryFormat::bytesAsText(record.parameters);
    case HistoryModel::Seconds:
        return record.hasLifetime() ? HistoryFormat::seconds(record.lifetimeMs) : QString();
    case HistoryModel::Ended:
        return RunEndings::text(record);
    default:
        return QString();
    }
}

QString toolTip(const RunRecord &record, int column)
{
    if (column == HistoryModel::Program && !record.opener.isEmpty()) {
        return HistoryModel::tr("%1\n经由 %2 打开")
            .arg(HistoryFormat::bytesAsText(record.program),
                 HistoryFormat::bytesAsText(record.opener));
    }
    // The long texts whole, as a column may cut them.
    if (column == HistoryModel::Program || column == HistoryModel::Parameters
        || column == HistoryModel::Ended)
        return cellText(record, column);
    return QString();
}

} // namespace

HistoryModel::HistoryModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void HistoryModel::setRecords(std::vector<RunRecord> records)
{
    beginResetModel();
    m_records.assign(std::make_move_iterator(records.begin()),
                     std::make_move_iterator(records.end()));
    endResetModel();
    trim();
}

void HistoryModel::addRecords(std::vector<RunRecord> records)
{
    const qint64 newest = m_records.empty() ? 0 : m_records.back().id;
    auto fresh = records.begin();
    for (; fresh != records.end() && fresh->id <= newest; ++fresh) {
        const auto shown =
            std::lower_bound(m_records.begin(), m_records.end(), fresh->id,
                             [](const RunRecord &record, qint64 id) { return record.id < id; });
        if (shown == m_records.end() || shown->id != fresh->id || *shown == *fresh)
            continue;
        *shown = std::move(*fresh);
        const int row = int(m_records.end() - shown) - 1;
        Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    if (fresh == records.end())
        return;
    beginInsertRows(QModelIndex(), 0, int(records.end() - fresh) - 1);
    m_records.insert(m_records.end(), std::make_move_iterator(fresh),
                     std::make_move_iterator(records.end()));
    endInsertRows();
    trim();
}

void HistoryModel::trim()
{
    const int beyond = int(m_records.size()) - RunHistory::limit;
    if (beyond <= 0)
        return;
    const int rows = int(m_records.size());
    beginRemoveRows(QModelIndex(), rows - beyond, rows - 1);
    m_records.erase(m_records.begin(), m_records.begin() + beyond);
    endRemoveRows();
}

qint64 HistoryModel::readAfter() const
{
    if (m_records.empty())
        return 0;
    const auto open = std::find_if(m_records.begin(), m_records.end(),
                                   [](const RunRecord &record) { return record.mayChange(); });
    return open == m_records.end() ? m_records.back().id : open->id - 1;
}

const RunRecord &HistoryModel::record(int row) const
{
    return m_records.at(m_records.size() - 1 - size_t(row));
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const RunRecord &shown = record(index.row());
    const Mark mark = RunEndings::mark(shown);
    switch (role) {
    case Qt::DisplayRole:
        return cellText(shown, index.column());
    case Qt::ToolTipRole:
        return toolTip(shown, index.column());
    case Qt::TextAlignmentRole: {
        const bool text =
            index.column() == Program || index.column() == Parameters || index.column() == Ended;
        return int((text ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter);
    }
    case Qt::ForegroundRole:
        if (mark == Mark::None)
            return QVariant();
        return QBrush(mark == Mark::Failed ? failedColour : earlyColour);
    case Qt::FontRole:
        if (mark != Mark::Failed)
            return QVariant();
        {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
    case markRole:
        return int(mark);
    case entryRole:
        return shown.entry;
    default:
        return QVariant();
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return title(section);
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return QVariant();
}
