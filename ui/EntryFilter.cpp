#include "ui/EntryFilter.h"

#include "ui/HistoryModel.h"

void EntryFilter::keepEntry(const std::optional<std::optional<QString>> &entry)
{
    if (entry == m_entry)
        return;
    m_entry = entry;
    invalidateFilter();
}

bool EntryFilter::filterAcceptsRow(int row, const QModelIndex &parent) const
{
    if (!m_entry)
        return true;
    return *m_entry
        && sourceModel()->index(row, 0, parent).data(HistoryModel::entryRole).toString()
        == **m_entry;
}
