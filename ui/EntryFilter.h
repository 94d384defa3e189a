#pragma once

#include <QSortFilterProxyModel>
#include <QString>

#include <optional>

// Keeps the rows of the run history of one entry, or every row.
class EntryFilter final : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    // Nothing keeps every row; an entry keeps its rows, and no entry at all (nothing selected)
    // keeps none.
    void keepEntry(const std::optional<std::optional<QString>> &entry);

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override;

private:
    std::optional<std::optional<QString>> m_entry;
};
