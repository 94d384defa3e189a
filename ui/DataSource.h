#pragma once

#include "store/Query.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

// One column of the grid: the field it shows, its title, its width and its footer text.
struct GridColumn
{
    QString fieldName;
    QString title;
    int width = 64;
    enum class Footer { None, Text, RecordCount } footer = Footer::None;
    QString footerText;
};

// What the grid says of a row beyond its values: a mark in a cell, and its tooltip. A null mark and
// "" say nothing.
struct RowNote
{
    QIcon mark;
    QString text;
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
    // The notes on the rows, in the cells of one column, by the row's text there. Asked for as the
    // cells are drawn and pointed at, so that they say what holds then.
    using RowNotes = std::function<RowNote(const QString &text)>;
    void setRowNotes(const QString &fieldName, RowNotes notes);

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
    QString m_notedField;
    RowNotes m_notes;
};
