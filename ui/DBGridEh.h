#pragma once

#include <QAbstractTableModel>
#include <QFrame>
#include <QList>
#include <QPointer>
#include <QString>

#include "Query.h"

class QScrollBar;
class QTableView;
class GridFooter;
class IndicatorHeader;

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

// The schedule grid: a title row, an indicator column that marks the current row, the rows of
// its data source and one footer row that follows the columns as they are resized or moved.
// Its current row and the query's cursor are one.
class DBGridEh final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DBGridEh)

public:
    explicit DBGridEh(QWidget *parent = nullptr);

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    QTableView *view() const { return m_view; }
    QWidget *footer() const;

    // The footer's text under a column (logical index), as shown.
    QString footerText(int column) const;
    // Where the footer draws a column's cell, in the footer's coordinates.
    QRect footerCellRect(int column) const;
    // The row the grid shows as current, or -1.
    int currentRow() const;

Q_SIGNALS:
    void doubleClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void followCursor();
    void currentRowChanged(int row);
    void syncScrollBar();

    QTableView *m_view;
    IndicatorHeader *m_indicator;
    GridFooter *m_footer;
    QScrollBar *m_scrollBar;
    DataSource *m_source = nullptr;
    bool m_following = false;
};
