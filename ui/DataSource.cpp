#include "ui/DataSource.h"

#include <utility>

DataSource::DataSource(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void DataSource::setDataSet(Query *query)
{
    if (m_query)
        disconnect(m_query, nullptr, this, nullptr);
    m_query = query;
    if (m_query)
        connect(m_query, &Query::dataChanged, this, &DataSource::reload);
    reload();
}

void DataSource::setColumns(const QList<GridColumn> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
    reload();
}

void DataSource::setRowNotes(const QString &fieldName, RowNotes notes)
{
    beginResetModel();
    m_notedField = fieldName;
    m_notes = std::move(notes);
    endResetModel();
}

void DataSource::reload()
{
    beginResetModel();
    m_fieldIndexes.clear();
    const bool active = m_query && m_query->isActive();
    for (const GridColumn &column : m_columns)
        m_fieldIndexes.append(active ? m_query->fieldIndex(column.fieldName) : -1);
    m_rowCount = active ? m_query->recordCount() : 0;
    endResetModel();
}

int DataSource::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int DataSource::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DataSource::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_query)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    const int field = m_fieldIndexes.value(index.column(), -1);
    if ((role == Qt::DecorationRole || role == Qt::ToolTipRole) && m_notes && field >= 0
        && m_columns.at(index.column()).fieldName == m_notedField) {
        const RowNote note = m_notes(m_query->text(index.row(), field));
        if (role == Qt::DecorationRole)
            return note.mark.isNull() ? QVariant() : QVariant(note.mark);
        return note.text.isEmpty() ? QVariant() : QVariant(note.text);
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    return m_query->text(index.row(), field);
}

QVariant DataSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    if (role == Qt::DisplayRole && section >= 0 && section < m_columns.size())
        return m_columns.at(section).title;
    return QVariant();
}

Qt::ItemFlags DataSource::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
