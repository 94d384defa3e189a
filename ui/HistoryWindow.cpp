#include "ui/HistoryWindow.h"

#include "report/Prompter.h"
#include "report/ReportText.h"
#include "run/HistoryFormat.h"
#include "run/HistoryRecorder.h"
#include "store/Connection.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "ui/EntryFilter.h"
#include "ui/FormHelpers.h"
#include "ui/HistoryModel.h"
#include "ui/SaveFileDialog.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QShowEvent>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

HistoryWindow::HistoryWindow(Query *list, Connection *connection, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_list(list)
    , m_connection(connection)
    , m_model(new HistoryModel(this))
    , m_filter(new EntryFilter(this))
    , m_selectedOnly(new QCheckBox(tr("只显示选中的程序"), this))
    , m_count(new QLabel(this))
    , m_save(new QPushButton(tr("保存为CSV…"), this))
    , m_view(new QTableView(this))
    , m_copyAction(new QAction(tr("复制"), this))
    , m_saveAction(new QAction(tr("保存为CSV…"), this))
    , m_poll(new QTimer(this))
    , m_saveDialog(std::make_unique<SaveFileDialog>())
    , m_fileChooser(m_saveDialog.get())
    , m_folder(QDir::homePath())
{
    setObjectName(u"HistoryWindow"_s);
    setWindowTitle(tr("运行记录"));
    setFont(windowFont());
    resize(960, 480);

    m_filter->setSourceModel(m_model);
    m_view->setObjectName(u"HistoryView"_s);
    m_view->setAccessibleName(tr("运行记录"));
    m_view->setAccessibleDescription(
        tr("程序的每次运行，最新的在上：开始时间、程序、运行时长和结束方式"));
    m_view->setModel(m_filter);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->hide();
    // Rows as high as the schedule grid's.
    m_view->verticalHeader()->setMinimumSectionSize(18);
    m_view->verticalHeader()->setDefaultSectionSize(18);
    m_view->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {130, 70, 170, 130, 84};
    for (int column = 0; column < int(std::size(widths)); ++column)
        m_view->setColumnWidth(column, widths[column]);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);

    m_copyAction->setShortcut(QKeySequence::Copy);
    m_copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(m_copyAction);
    m_saveAction->setShortcut(QKeySequence::Save);
    addAction(m_saveAction);
    m_save->setFocusPolicy(Qt::NoFocus);
    m_save->setCursor(Qt::PointingHandCursor);

    auto *top = new QHBoxLayout;
    top->addWidget(m_selectedOnly);
    top->addStretch();
    top->addWidget(m_count);
    top->addSpacing(12);
    top->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view);

    connectHandler(m_copyAction, &QAction::triggered, this, &HistoryWindow::copySelected);
    connectHandler(m_saveAction, &QAction::triggered, this, &HistoryWindow::saveAsCsv);
    connectHandler(m_save, &QPushButton::clicked, this, &HistoryWindow::saveAsCsv);
    connectHandler(m_selectedOnly, &QCheckBox::toggled, this, &HistoryWindow::followSelection);
    connect(m_view, &QWidget::customContextMenuRequested, this, &HistoryWindow::showContextMenu);
    if (m_list) {
        connectHandler(m_list.data(), &Query::cursorMoved, this, &HistoryWindow::followSelection);
        connectHandler(m_list.data(), &Query::dataChanged, this, &HistoryWindow::followSelection);
    }
    connect(m_filter, &QAbstractItemModel::rowsInserted, this, &HistoryWindow::showCount);
    connect(m_filter, &QAbstractItemModel::rowsRemoved, this, &HistoryWindow::showCount);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &HistoryWindow::showCount);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &HistoryWindow::showCount);
    showCount();

    m_poll->setInterval(pollMs);
    connectHandler(m_poll, &QTimer::timeout, this, &HistoryWindow::followFile);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::setRecorder(HistoryRecorder *recorder)
{
    if (m_recorder)
        disconnect(m_recorder, nullptr, this, nullptr);
    m_recorder = recorder;
    if (m_recorder)
        connectHandler(m_recorder.data(), &HistoryRecorder::written, this, &HistoryWindow::readNew);
}

void HistoryWindow::setFileChooser(SaveFileChooser *chooser)
{
    m_fileChooser = chooser ? chooser : m_saveDialog.get();
}

void HistoryWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Whatever changed while it was closed, an older record collected at last included.
    runHandler([this] { reload(); });
    m_poll->start();
}

void HistoryWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        m_poll->stop();
}

void HistoryWindow::reload()
{
    read(true);
}

void HistoryWindow::readNew()
{
    if (isVisible())
        read(false);
}

void HistoryWindow::followFile()
{
    if (!m_connection || !isVisible())
        return;
    if (!m_readFailing) {
        try {
            if (m_connection->dataVersion() == m_dataVersion)
                return;
        } catch (const std::exception &) {
            // The read below fails as well, and says so once.
        }
    }
    read(false);
}

void HistoryWindow::read(bool whole)
{
    if (!m_connection) {
        m_model->setRecords({});
        return;
    }
    try {
        // The version first: a change committed while the records are read is read next time.
        const qint64 version = m_connection->dataVersion();
        std::vector<RunRecord> records =
            RunHistory::read(*m_connection, whole ? 0 : m_model->readAfter());
        if (whole)
            m_model->setRecords(std::move(records));
        else
            m_model->addRecords(std::move(records));
        m_dataVersion = version;
        m_readFailing = false;
    } catch (const std::exception &error) {
        if (whole)
            m_model->setRecords({});
        if (m_readFailing)
            return;
        // Set before the box opens: the polls meanwhile stay quiet.
        m_readFailing = true;
        ShowMessage(tr("运行记录读取失败：\n") + errorReportText(error));
    }
}

void HistoryWindow::followSelection()
{
    if (!m_selectedOnly->isChecked()) {
        m_filter->keepEntry(std::nullopt);
        return;
    }
    std::optional<QString> entry;
    if (m_list && m_list->isActive() && m_list->recordCount() > 0) {
        const int column = m_list->fieldIndex(ScheduleSql::programIndex);
        if (column >= 0)
            entry = m_list->text(m_list->recNo(), column);
    }
    m_filter->keepEntry(entry);
}

void HistoryWindow::showCount()
{
    m_count->setText(tr("共 %1 条").arg(m_filter->rowCount()));
}

void HistoryWindow::showContextMenu(const QPoint &position)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(m_copyAction);
    menu->addAction(m_saveAction);
    menu->popup(m_view->viewport()->mapToGlobal(position));
}

QString HistoryWindow::csvText(const QList<int> &rows) const
{
    QList<int> sourceRows;
    for (int row : rows)
        sourceRows.append(m_filter->mapToSource(m_filter->index(row, 0)).row());
    // Newest first on screen, oldest first in the file, as the command line writes it.
    std::sort(sourceRows.begin(), sourceRows.end(), std::greater<>());
    QString text = HistoryFormat::csvHeader() + u'\n';
    for (int row : sourceRows)
        text += HistoryFormat::csvLine(m_model->record(row)) + u'\n';
    return text;
}

void HistoryWindow::copySelected()
{
    QList<int> rows;
    for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty())
        return;
    QApplication::clipboard()->setText(csvText(rows));
}

void HistoryWindow::saveAsCsv()
{
    const std::optional<QString> path =
        m_fileChooser->chooseSaveFile(this, QDir(m_folder).filePath(tr("运行记录.csv")));
    if (!path)
        return;
    QList<int> rows;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        rows.append(row);
    // Written whole or not at all: a file that was there stays as it was when anything fails.
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csvText(rows).toUtf8()) < 0
        || !file.commit()) {
        ShowMessage(
            tr("无法保存文件 %1：\n%2").arg(QDir::toNativeSeparators(*path), file.errorString()));
        return;
    }
    m_folder = QFileInfo(*path).absolutePath();
}
