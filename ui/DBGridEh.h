#pragma once

#include "ui/DataSource.h"

#include <QFrame>
#include <QString>

class QScrollBar;
class QTableView;
class GridFooter;
class IndicatorHeader;

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
