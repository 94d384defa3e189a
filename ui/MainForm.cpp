#include "ui/MainForm.h"

#include "report/ApplicationTitle.h"
#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "report/Prompter.h"
#include "report/ReportText.h"
#include "run/HistoryRecorder.h"
#include "store/EntryOptions.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"
#include "ui/ColumnTitles.h"
#include "ui/DBGridEh.h"
#include "ui/EntryOptionsText.h"
#include "ui/FormHelpers.h"
#include "ui/HistoryWindow.h"
#include "ui/Images.h"
#include "ui/OptionsWithEntry.h"
#include "ui/ProgramForm.h"
#include "ui/StateTexts.h"
#include "ui/WindowFont.h"
#include "ui/WindowSettings.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <utility>

TFormMain *FormMain = nullptr;

TFormMain::TFormMain(QWidget *parent)
    : QWidget(parent)
    , ADOQuery1(new Query(QStringLiteral("ADOQuery1"), this))
    , DataSource1(new DataSource(this))
    , ImageList1(imageList({Picture::Add, Picture::Change, Picture::Delete, Picture::Start,
                            Picture::Stop, Picture::History}))
    , Timer1(new QTimer(this))
    , m_runner(ADOQuery1)
    , m_paused(new QLabel(tr("已暂停"), this))
    , m_optionsMark(pictureIcon(Picture::Options))
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(tr("Vantrel程序自动运行器"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(747, 454);
    setFont(windowFont());

    ActionNew = makeAction(this, ImageList1.value(0), tr("新增记录"), &TFormMain::ActionNewExecute);
    ActionEdit =
        makeAction(this, ImageList1.value(1), tr("修改记录"), &TFormMain::ActionEditExecute);
    ActionDelete =
        makeAction(this, ImageList1.value(2), tr("删除记录"), &TFormMain::ActionDeleteExecute);
    ActionBegin =
        makeAction(this, ImageList1.value(3), tr("开始运行"), &TFormMain::ActionBeginExecute);
    ActionStop =
        makeAction(this, ImageList1.value(4), tr("停止运行"), &TFormMain::ActionStopExecute);
    ActionHistory =
        makeAction(this, ImageList1.value(5), tr("运行记录"), &TFormMain::ActionHistoryExecute);
    ActionHistory->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    addAction(ActionHistory);
    ActionNext = makeAction(this, QIcon(), tr("下一个"), &TFormMain::ActionNextExecute);
    ActionNext->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    ActionPause = makeAction(this, QIcon(), tr("暂停"), &TFormMain::ActionPauseExecute);
    ActionPause->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    for (QAction *action : {ActionNext, ActionPause}) {
        action->setEnabled(false);
        addAction(action);
    }

    SpeedButton1 = makeSpeedButton(ActionNew, 24);
    SpeedButton2 = makeSpeedButton(ActionEdit, 144);
    SpeedButton3 = makeSpeedButton(ActionDelete, 264);
    SpeedButton4 = makeSpeedButton(ActionBegin, 608);
    SpeedButton5 = makeSpeedButton(ActionStop, 608);
    // In the free space after the record commands, one step further in their rhythm.
    SpeedButton6 = makeSpeedButton(ActionHistory, 384);
    // What a screen reader says of each command.
    const std::pair<QToolButton *, QString> described[] = {
        {SpeedButton1, tr("在日程中新增一个程序")},
        {SpeedButton2, tr("修改选中的记录")},
        {SpeedButton3, tr("从日程中删除选中的记录")},
        {SpeedButton4, tr("从选中的记录开始，按日程依次运行程序")},
        {SpeedButton5, tr("结束正在运行的程序，停止运行日程")},
        {SpeedButton6, tr("打开运行记录窗口")},
    };
    for (const auto &[button, description] : described) {
        button->setAccessibleName(button->defaultAction()->text());
        button->setAccessibleDescription(description);
    }
    // In the free space before Start and Stop, only while the run is paused.
    m_paused->setObjectName(QStringLiteral("PausedLabel"));
    m_paused->setGeometry(504, 24, 97, 49);
    m_paused->setAlignment(Qt::AlignCenter);
    m_paused->setStyleSheet(QStringLiteral("color: #9a5b00; font-weight: bold;"));
    m_paused->hide();

    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->setColumns({
        {ScheduleSql::programIndex, columnTitle(ScheduleSql::programIndex), 80,
         GridColumn::Footer::Text, tr("合计")},
        {ScheduleSql::programName, columnTitle(ScheduleSql::programName), 150,
         GridColumn::Footer::RecordCount, QString()},
        {ScheduleSql::programParameter, columnTitle(ScheduleSql::programParameter), 280,
         GridColumn::Footer::None, QString()},
        {ScheduleSql::programTime, columnTitle(ScheduleSql::programTime), 70,
         GridColumn::Footer::None, QString()},
        {ScheduleSql::programCount, columnTitle(ScheduleSql::programCount), 70,
         GridColumn::Footer::None, QString()},
    });
    DataSource1->setDataSet(ADOQuery1);
    DataSource1->setRowNotes(ScheduleSql::programIndex,
                             [this](const QString &key) { return optionsNote(key); });
    DBGridEh1 = new DBGridEh(this);
    DBGridEh1->setObjectName(QStringLiteral("DBGridEh1"));
    DBGridEh1->setGeometry(24, 88, 697, 337);
    DBGridEh1->setDataSource(DataSource1);
    DBGridEh1->view()->setAccessibleName(tr("日程"));
    DBGridEh1->view()->setAccessibleDescription(
        tr("日程中的程序，每行一个，按编号运行；双击一行可修改"));
    connectHandler(DBGridEh1, &DBGridEh::doubleClicked, this, &TFormMain::ActionEditExecute);
    DBGridEh1->view()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DBGridEh1->view(), &QWidget::customContextMenuRequested, this,
            &TFormMain::showGridMenu);

    centreWindowOn(this, screenArea());

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    // Ticks are not compensated for lateness; a precise timer at least does not drift on its own.
    Timer1->setTimerType(Qt::PreciseTimer);
    connectHandler(Timer1, &QTimer::timeout, this, &TFormMain::Timer1Timer);
    Timer1->start();
    connect(&engine(), &RunEngine::runStateChanged, this, &TFormMain::showRunButtons);
    connect(&engine(), &RunEngine::pausedChanged, this, &TFormMain::showPause);
    // After the tick that found it, as a box runs ticks of its own while it is open.
    connect(
        &engine(), &RunEngine::problem, this,
        [](const QString &text) {
            runHandler(
                [&text] { prompter().showError(applicationTitle(), withFinalPeriod(text)); });
        },
        Qt::QueuedConnection);
    connect(
        &m_runner, &ScheduleRunner::refused, this,
        [this](const OtherRunner &other) { runHandler([this, &other] { refuseRun(other); }); },
        Qt::QueuedConnection);

    FormCreate();
}

TFormMain::~TFormMain() = default;

QToolButton *TFormMain::makeSpeedButton(QAction *action, int left)
{
    auto *button = new QToolButton(this);
    button->setDefaultAction(action);
    button->setGeometry(left, 24, 113, 49);
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(false);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void TFormMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runHandler([this] { FormShow(); });
}

// The run engine starts stopped, with its counters at 0 and nothing launched.
void TFormMain::FormCreate() { }

void TFormMain::FormShow()
{
    SpeedButton5->hide();
    RefreshProgramList();
}

bool TFormMain::RefreshProgramList()
{
    return m_runner.reloadList();
}

QString TFormMain::RunState() const
{
    return runStateText(engine().runState());
}

QString TFormMain::ProcessState() const
{
    return processStateText(engine().processState());
}

void TFormMain::ActionNewExecute()
{
    FormProgram->EditMode = TFormProgram::Mode::Add;
    if (FormProgram->ShowModal() == mrOk)
        RefreshProgramList();
}

namespace {

// The entry the person chose is no longer what the list shows: they are told so, and the list is
// read again.
void reportChangedElsewhere(TFormMain *form)
{
    ShowMessage(ScheduleSql::changedElsewhere);
    form->RefreshProgramList();
}

} // namespace

void TFormMain::ActionEditExecute()
{
    if (ADOQuery1->isActive() && !ADOQuery1->fieldByName(ScheduleSql::programIndex).isNull()) {
        if (!ADOQuery1->isFromCurrentFile()) {
            reportChangedElsewhere(this);
            return;
        }
        // Rows that cannot be found again to be changed are said to be so before the dialog.
        ADOQuery1->checkRowsCanBeChanged();
        FormProgram->EditMode = TFormProgram::Mode::Change;
        FormProgram->EditIndex = ADOQuery1->fieldByName(ScheduleSql::programIndex).asLargeInt();
        const int result = FormProgram->ShowModal();
        if (result == mrOk || result == mrAbort)
            RefreshProgramList();
    } else {
        ShowMessage(tr("请先选中要修改的记录"));
    }
}

void TFormMain::ActionDeleteExecute()
{
    if (!ADOQuery1->isActive() || ADOQuery1->fieldByName(ScheduleSql::programIndex).isNull()) {
        ShowMessage(tr("请先选中要删除的记录"));
        return;
    }
    const QString key = ADOQuery1->fieldByName(ScheduleSql::programIndex).asString();
    // The key goes into the SQL text as it stands, so it must be a plain number and nothing else.
    static const QRegularExpression plainNumber(QStringLiteral("^-?[0-9]+$"));
    if (!plainNumber.match(key).hasMatch())
        throw DatabaseError(QStringLiteral("'%1' is not a valid key of a schedule entry").arg(key));
    if (!ADOQuery1->isFromCurrentFile()) {
        reportChangedElsewhere(this);
        return;
    }
    // Rows that cannot be found again to be deleted are said to be so before the question.
    ADOQuery1->checkRowsCanBeChanged();
    const RowValues shown = ADOQuery1->currentRow();
    Query *scratch = ShareDataModule->ADOQueryTemp;
    if (!OpenQuery(scratch, ScheduleSql::byKey + key, ScheduleSql::openFailed, ScheduleSql::inUse))
        return;
    // The entry must still be exactly what the list shows, in the same file; the delete itself
    // refuses a row changed while the question is open.
    if (scratch->source() != ADOQuery1->source() || !scratch->locate(shown)) {
        reportChangedElsewhere(this);
        return;
    }
    if (!prompter().askYesNo(tr("确实要删除该记录吗？"), tr("删除警告")))
        return;
    try {
        // The entry's options go with it, in the same transaction.
        const OptionsWithEntry options(scratch);
        scratch->deleteRecord();
    } catch (const StaleRowError &) {
        reportChangedElsewhere(this);
        return;
    }
    RefreshProgramList();
}

// The grid's note on an entry that has options, as read with the list: they are named, or why they
// cannot be used is said.
RowNote TFormMain::optionsNote(const QString &key) const
{
    const auto found = engine().options().constFind(key);
    if (found == engine().options().cend())
        return {};
    const QString text = found->problem.isEmpty()
        ? tr("此记录有选项：\n") + entryOptionsText(found->options)
        : tr("此记录的选项无法使用：") + found->problem;
    return {m_optionsMark, text};
}

void TFormMain::setLauncher(Launcher *launcher)
{
    m_runner.setLauncher(launcher);
}

void TFormMain::showRunButtons(bool running)
{
    SpeedButton4->setVisible(!running);
    SpeedButton5->setVisible(running);
    ActionNext->setEnabled(running);
    ActionPause->setEnabled(running);
}

void TFormMain::showPause(bool paused)
{
    m_paused->setVisible(paused);
    ActionPause->setText(paused ? tr("继续") : tr("暂停"));
}

void TFormMain::ActionNextExecute()
{
    engine().next();
}

void TFormMain::ActionPauseExecute()
{
    if (engine().isPaused())
        engine().resume();
    else
        engine().pause();
}

void TFormMain::ActionBeginExecute()
{
    if (const std::optional<OtherRunner> other = m_runner.begin())
        refuseRun(*other);
}

// Another runner runs the schedule: this one does not, and says who does as far as it can tell.
void TFormMain::refuseRun(const OtherRunner &other)
{
    QString text = tr("另一个运行器正在运行这个日程");
    if (other.pid != 0) {
        QStringList who;
        if (!other.user.isEmpty())
            who.append(tr("用户 %1").arg(other.user));
        who.append(other.withoutWindow ? tr("无窗口运行") : tr("窗口"));
        text += tr("：进程 %1（%2）").arg(other.pid).arg(who.join(tr("，")));
    }
    ShowMessage(text + tr("，本窗口未开始运行"));
}

void TFormMain::ActionStopExecute()
{
    m_runner.stop();
}

void TFormMain::CloseLaunchedProcess()
{
    engine().closeLaunchedProcess();
}

void TFormMain::Timer1Timer()
{
    m_runner.tick();
}

void TFormMain::ActionHistoryExecute()
{
    if (!m_historyWindow) {
        m_historyWindow = new HistoryWindow(ADOQuery1, ADOQuery1->connection(), this);
        m_historyWindow->setRecorder(m_runner.history());
        centreWindowOn(m_historyWindow, frameGeometry());
    }
    m_historyWindow->setWindowState(m_historyWindow->windowState() & ~Qt::WindowMinimized);
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

HistoryRecorder *TFormMain::runHistory() const
{
    return m_runner.history();
}

void TFormMain::showGridMenu(const QPoint &position)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(ActionHistory->icon(), tr("运行记录…"), ActionHistory, &QAction::trigger);
    menu->addSeparator();
    menu->addAction(ActionNext);
    menu->addAction(ActionPause);
    // Here too, for a desktop without a tray to offer it.
    menu->addSeparator();
    QAction *notify = menu->addAction(tr("桌面通知"));
    notify->setCheckable(true);
    notify->setChecked(WindowSettings::notifications());
    connect(notify, &QAction::toggled, this, &WindowSettings::setNotifications);
    menu->popup(DBGridEh1->view()->viewport()->mapToGlobal(position));
}
