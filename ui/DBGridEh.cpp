#include "ui/DBGridEh.h"

#include "report/ErrorReport.h"
#include "store/Query.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int rowHeight = 18;
constexpr int indicatorWidth = 12;
constexpr int markSide = 12;

// Draws a cell's mark (its decoration) small at the cell's right end, over the text centred in the
// whole cell as it is without one: a marked row's values stay in line with the others.
class MarkDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        const QIcon mark = cell.icon;
        cell.icon = QIcon();
        cell.features &= ~QStyleOptionViewItem::HasDecoration;
        const QWidget *widget = cell.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        if (mark.isNull())
            return;
        const QRect place(cell.rect.right() - 2 - markSide,
                          cell.rect.center().y() - markSide / 2 + 1, markSide, markSide);
        mark.paint(painter, place);
    }
};

} // namespace

// The indicator column: a blank cell per row, with a mark on the current one.
class IndicatorHeader final : public QHeaderView
{
public:
    explicit IndicatorHeader(QWidget *parent)
        : QHeaderView(Qt::Vertical, parent)
    {
        setSectionsClickable(false);
        setSectionResizeMode(QHeaderView::Fixed);
        setMinimumSectionSize(rowHeight);
        setDefaultSectionSize(rowHeight);
        setMinimumWidth(indicatorWidth);
        setMaximumWidth(indicatorWidth);
    }

    // Its width is fixed, so the one its empty cells would ask for is never used.
    QSize sizeHint() const override { return {indicatorWidth, length()}; }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        // The base leaves an empty clip region behind it; keep our own state around it.
        painter->save();
        QHeaderView::paintSection(painter, rect, logicalIndex);
        painter->restore();
        if (!selectionModel() || selectionModel()->currentIndex().row() != logicalIndex)
            return;
        const QPointF centre = QRectF(rect).center();
        const QPointF mark[] = {centre + QPointF(-2.5, -4.5), centre + QPointF(2.5, 0),
                                centre + QPointF(-2.5, 4.5)};
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette().windowText());
        painter->drawPolygon(mark, 3);
        painter->restore();
    }
};

// The title row. Its height is fixed and its columns' widths are set, so the size its titles'
// text would ask for is never used: measuring it shaped every title again and again while the
// window was being built, before it could show.
class TitleHeader final : public QHeaderView
{
public:
    explicit TitleHeader(QWidget *parent)
        : QHeaderView(Qt::Horizontal, parent)
    {
        setFixedHeight(rowHeight + 2);
    }

    QSize sizeHint() const override { return {length(), rowHeight + 2}; }
};

// The footer row, drawn cell by cell under the columns wherever the title row has put them.
class GridFooter final : public QWidget
{
public:
    GridFooter(DBGridEh *grid, QTableView *view)
        : QWidget(grid)
        , m_grid(grid)
        , m_view(view)
    {
        setFixedHeight(rowHeight + 1);
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Window);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QColor line = palette().color(QPalette::Mid);
        const QHeaderView *header = m_view->horizontalHeader();
        const int left = m_view->viewport()->x();
        painter.setPen(line);
        painter.drawLine(0, 0, width(), 0);
        painter.drawLine(left - 1, 0, left - 1, height());
        painter.setClipRect(left, 0, width() - left, height());
        for (int column = 0; column < header->count(); ++column) {
            if (header->isSectionHidden(column))
                continue;
            const QRect cell = m_grid->footerCellRect(column);
            painter.setPen(line);
            painter.drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(cell.adjusted(2, 0, -2, 0), Qt::AlignCenter,
                             m_grid->footerText(column));
        }
    }

private:
    DBGridEh *m_grid;
    QTableView *m_view;
};

DBGridEh::DBGridEh(QWidget *parent)
    : QFrame(parent)
    , m_view(new QTableView(this))
    , m_indicator(new IndicatorHeader(m_view))
    , m_footer(new GridFooter(this, m_view))
    , m_scrollBar(new QScrollBar(Qt::Horizontal, this))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_view->setFrameStyle(QFrame::NoFrame);
    m_view->setVerticalHeader(m_indicator);
    m_view->setHorizontalHeader(new TitleHeader(m_view));
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSortingEnabled(false);
    m_view->setShowGrid(true);
    m_view->setWordWrap(false);
    m_view->setCornerButtonEnabled(false);
    m_view->setItemDelegate(new MarkDelegate(m_view));
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView *titles = m_view->horizontalHeader();
    titles->setSectionsClickable(false);
    titles->setSectionsMovable(true);
    titles->setHighlightSections(false);
    titles->setStretchLastSection(false);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setDefaultAlignment(Qt::AlignCenter);

    // The view's own horizontal bar stays hidden; this one sits under the footer instead.
    m_scrollBar->hide();
    QScrollBar *inner = m_view->horizontalScrollBar();
    connect(inner, &QScrollBar::rangeChanged, this, &DBGridEh::syncScrollBar);
    connect(inner, &QScrollBar::valueChanged, m_scrollBar, &QScrollBar::setValue);
    connect(inner, &QScrollBar::valueChanged, m_footer, qOverload<>(&QWidget::update));
    connect(m_scrollBar, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);

    connect(titles, &QHeaderView::sectionResized, m_footer, qOverload<>(&QWidget::update));
    connect(titles, &QHeaderView::sectionMoved, m_footer, qOverload<>(&QWidget::update));
    connect(titles, &QHeaderView::geometriesChanged, m_footer, qOverload<>(&QWidget::update));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    layout->addWidget(m_footer);
    layout->addWidget(m_scrollBar);

    m_view->viewport()->installEventFilter(this);
}

QWidget *DBGridEh::footer() const
{
    return m_footer;
}

void DBGridEh::setDataSource(DataSource *source)
{
    m_source = source;
    m_view->setModel(source);
    const QList<GridColumn> &columns = source->columns();
    for (int i = 0; i < columns.size(); ++i)
        m_view->setColumnWidth(i, columns.at(i).width);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { currentRowChanged(current.row()); });
    connect(source, &QAbstractItemModel::modelReset, this, &DBGridEh::followCursor);
    connect(source, &QAbstractItemModel::modelReset, m_footer, qOverload<>(&QWidget::update));
    if (source->dataSet())
        connect(source->dataSet(), &Query::cursorMoved, this, &DBGridEh::followCursor);
    followCursor();
}

QString DBGridEh::footerText(int column) const
{
    if (!m_source || column < 0 || column >= m_source->columns().size())
        return QString();
    const GridColumn &definition = m_source->columns().at(column);
    switch (definition.footer) {
    case GridColumn::Footer::Text:
        return definition.footerText;
    case GridColumn::Footer::RecordCount: {
        const Query *query = m_source->dataSet();
        return QString::number(query && query->isActive() ? query->recordCount() : 0);
    }
    case GridColumn::Footer::None:
        break;
    }
    return QString();
}

QRect DBGridEh::footerCellRect(int column) const
{
    // The footer spans the grid as the view does, so the viewport's offset is the indicator's.
    const QHeaderView *header = m_view->horizontalHeader();
    return QRect(m_view->viewport()->x() + header->sectionViewportPosition(column), 1,
                 header->sectionSize(column), m_footer->height() - 1);
}

int DBGridEh::currentRow() const
{
    return m_view->currentIndex().row();
}

// Moves the highlight to the query's cursor.
void DBGridEh::followCursor()
{
    const Query *query = m_source ? m_source->dataSet() : nullptr;
    m_following = true;
    if (query && query->isActive() && m_source->rowCount() > 0) {
        const int column = qMax(m_view->currentIndex().column(), 0);
        m_view->selectionModel()->setCurrentIndex(m_source->index(query->recNo(), column),
                                                  QItemSelectionModel::ClearAndSelect
                                                      | QItemSelectionModel::Rows);
        m_view->scrollTo(m_view->currentIndex());
    } else {
        m_view->selectionModel()->clear();
    }
    m_following = false;
    m_indicator->viewport()->update();
}

// Moves the query's cursor to the row the person chose.
void DBGridEh::currentRowChanged(int row)
{
    m_indicator->viewport()->update();
    Query *query = m_source ? m_source->dataSet() : nullptr;
    if (m_following || row < 0 || !query || !query->isActive())
        return;
    try {
        query->moveBy(row - query->recNo());
    } catch (...) {
        HandleCurrentException();
    }
    if (query->isActive() && query->recNo() != row)
        followCursor();
}

void DBGridEh::syncScrollBar()
{
    const QScrollBar *inner = m_view->horizontalScrollBar();
    m_scrollBar->setRange(inner->minimum(), inner->maximum());
    m_scrollBar->setPageStep(inner->pageStep());
    m_scrollBar->setSingleStep(inner->singleStep());
    m_scrollBar->setVisible(inner->maximum() > inner->minimum());
}

bool DBGridEh::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        // Handled here: the view would otherwise make the clicked row current again after
        // the command has reloaded the list.
        Q_EMIT doubleClicked();
        return true;
    }
    if (watched == m_view->viewport()
        && (event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonRelease)
        && static_cast<QMouseEvent *>(event)->button() == Qt::RightButton) {
        // A right click opens the context menu only: making its row current would move a run
        // to that entry.
        return true;
    }
    return QFrame::eventFilter(watched, event);
}
