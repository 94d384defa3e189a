#pragma once

#include "store/Query.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QString>

// One column of the grid: the field it shows, its title, its width and its footer text.
struct GridColumn
{
    QString fieldName;
    QString title;
    int width = 64;
    enum class Footer { None, Text, RecordCount } footer = Footer::None;
    QString footerText;
};

// Binds a grid to a query: the query's rows as a read-only table, cell text centred.
class DataSource final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DataSource)

public:
    explicit DataSource(QObject *parent = nullptr);

    Query *dataSet() const { return m_query; }
    void setDataSet(Query *query);
    void setColumns(const QList<GridColumn> &columns);
    const QList<GridColumn> &columns() const { return m_columns; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void reload();

    QPointer<Query> m_query;
    QList<GridColumn> m_columns;
    QList<int> m_fieldIndexes;
    int m_rowCount = 0;
};
