#include "ui/MainForm.h"

#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "report/Prompter.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"
#include "ui/DBGridEh.h"
#include "ui/FormHelpers.h"
#include "ui/Images.h"
#include "ui/ProgramForm.h"
#include "ui/StateTexts.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>

TFormMain *FormMain = nullptr;

TFormMain::TFormMain(QWidget *parent)
    : QWidget(parent)
    , ADOQuery1(new Query(QStringLiteral("ADOQuery1"), this))
    , DataSource1(new DataSource(this))
    , ImageList1(imageList(
          {Picture::Add, Picture::Change, Picture::Delete, Picture::Start, Picture::Stop}))
    , Timer1(new QTimer(this))
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Vantrel程序自动运行器"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(747, 454);
    setFont(windowFont());

    ActionNew = makeAction(this, ImageList1.value(0), QStringLiteral("新增记录"),
                           &TFormMain::ActionNewExecute);
    ActionEdit = makeAction(this, ImageList1.value(1), QStringLiteral("修改记录"),
                            &TFormMain::ActionEditExecute);
    ActionDelete = makeAction(this, ImageList1.value(2), QStringLiteral("删除记录"),
                              &TFormMain::ActionDeleteExecute);
    ActionBegin = makeAction(this, ImageList1.value(3), QStringLiteral("开始运行"),
                             &TFormMain::ActionBeginExecute);
    ActionStop = makeAction(this, ImageList1.value(4), QStringLiteral("停止运行"),
                            &TFormMain::ActionStopExecute);

    SpeedButton1 = makeSpeedButton(ActionNew, 24);
    SpeedButton2 = makeSpeedButton(ActionEdit, 144);
    SpeedButton3 = makeSpeedButton(ActionDelete, 264);
    SpeedButton4 = makeSpeedButton(ActionBegin, 608);
    SpeedButton5 = makeSpeedButton(ActionStop, 608);

    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->setColumns({
        {ScheduleSql::programIndex, QStringLiteral("程序编号"), 80, GridColumn::Footer::Text,
         QStringLiteral("合计")},
        {ScheduleSql::programName, QStringLiteral("程序名称"), 150, GridColumn::Footer::RecordCount,
         QString()},
        {ScheduleSql::programParameter, QStringLiteral("运行参数"), 280, GridColumn::Footer::None,
         QString()},
        {ScheduleSql::programTime, QStringLiteral("运行时间"), 70, GridColumn::Footer::None,
         QString()},
        {ScheduleSql::programCount, QStringLiteral("运行次数"), 70, GridColumn::Footer::None,
         QString()},
    });
    DataSource1->setDataSet(ADOQuery1);
    DBGridEh1 = new DBGridEh(this);
    DBGridEh1->setObjectName(QStringLiteral("DBGridEh1"));
    DBGridEh1->setGeometry(24, 88, 697, 337);
    DBGridEh1->setDataSource(DataSource1);
    connectHandler(DBGridEh1, &DBGridEh::doubleClicked, this, &TFormMain::ActionEditExecute);

    centreWindowOn(this, screenArea());

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    // Ticks are not compensated for lateness; a precise timer at least does not drift by design.
    Timer1->setTimerType(Qt::PreciseTimer);
    connectHandler(Timer1, &QTimer::timeout, this, &TFormMain::Timer1Timer);
    Timer1->start();

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

void TFormMain::FormCreate()
{
    RunState = RunStates::stopped;
    LaunchInfo = {};
    ElapsedTicks = 0;
    RunsDone = 0;
    ProcessState = ProcessStates::closed;
}

void TFormMain::FormShow()
{
    SpeedButton5->hide();
    RefreshProgramList();
}

bool TFormMain::RefreshProgramList()
{
    return OpenQuery(ADOQuery1, ScheduleSql::list, ScheduleSql::openFailed);
}

void TFormMain::ActionNewExecute()
{
    FormProgram->EditMode = EditModes::add;
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
        FormProgram->EditMode = EditModes::change;
        FormProgram->EditIndex = ADOQuery1->fieldByName(ScheduleSql::programIndex).asLargeInt();
        const int result = FormProgram->ShowModal();
        if (result == mrOk || result == mrAbort)
            RefreshProgramList();
    } else {
        ShowMessage(QStringLiteral("请先选中要修改的记录"));
    }
}

void TFormMain::ActionDeleteExecute()
{
    if (!ADOQuery1->isActive() || ADOQuery1->fieldByName(ScheduleSql::programIndex).isNull()) {
        ShowMessage(QStringLiteral("请先选中要删除的记录"));
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
    if (!OpenQuery(scratch, ScheduleSql::byKey + key, ScheduleSql::openFailed))
        return;
    // The entry must still be exactly what the list shows, in the same file; the delete itself
    // refuses a row changed while the question is open.
    if (scratch->source() != ADOQuery1->source() || !scratch->locate(shown)) {
        reportChangedElsewhere(this);
        return;
    }
    if (!prompter().askYesNo(QStringLiteral("确实要删除该记录吗？"), QStringLiteral("删除警告")))
        return;
    try {
        scratch->deleteRecord();
    } catch (const StaleRowError &) {
        reportChangedElsewhere(this);
        return;
    }
    RefreshProgramList();
}

void TFormMain::setLauncher(Launcher *launcher)
{
    m_launcher = launcher ? launcher : &m_processLauncher;
}

void TFormMain::ActionBeginExecute()
{
    SpeedButton4->hide();
    SpeedButton5->show();
    RunState = RunStates::running;
}

void TFormMain::ActionStopExecute()
{
    SpeedButton4->show();
    SpeedButton5->hide();
    RunState = RunStates::stopped;
    ElapsedTicks = 0;
    RunsDone = 0;
    CloseLaunchedProcess();
}

void TFormMain::CloseLaunchedProcess()
{
    if (ProcessState == ProcessStates::open)
        m_launcher->terminate(LaunchInfo.process);
    ProcessState = ProcessStates::closed;
}

void TFormMain::launchCurrentEntry()
{
    // The stored bytes, whatever their encoding: a file name on this system is bytes.
    LaunchInfo.verb = QByteArray();
    LaunchInfo.file = ADOQuery1->fieldByName(ScheduleSql::programName).asBytes();
    LaunchInfo.parameters = ADOQuery1->fieldByName(ScheduleSql::programParameter).asBytes();
    LaunchInfo.directory = QByteArray();
    LaunchInfo.show = 5;
    // Only for the trace, so a table without the key column still runs.
    const int key = ADOQuery1->fieldIndex(ScheduleSql::programIndex);
    LaunchInfo.entry =
        key < 0 ? QString() : ADOQuery1->fieldByName(ScheduleSql::programIndex).asString();
    m_launcher->launch(LaunchInfo);
}

// One tick of a run. The current entry's columns are read afresh on every tick, so an entry
// changed, reloaded or selected during a run governs it from the next tick on.
void TFormMain::Timer1Timer()
{
    if (RunState != RunStates::running)
        return;
    if (!ADOQuery1->isActive()) {
        ActionStopExecute();
        return;
    }
    if (ADOQuery1->recordCount() < 1 || ADOQuery1->eof()) {
        ActionStopExecute();
        return;
    }
    const qint32 count = ADOQuery1->fieldByName(ScheduleSql::programCount).asInteger();
    if (RunsDone < count) {
        if (ProcessState == ProcessStates::closed) {
            ProcessState = ProcessStates::open;
            launchCurrentEntry();
        }
        const qint32 time = ADOQuery1->fieldByName(ScheduleSql::programTime).asInteger();
        if (ElapsedTicks < time) {
            ++ElapsedTicks;
        } else {
            CloseLaunchedProcess();
            ElapsedTicks = 0;
            ++RunsDone;
        }
    } else {
        CloseLaunchedProcess();
        RunsDone = 0;
        ElapsedTicks = 0;
        if (!ADOQuery1->eof())
            ADOQuery1->next();
    }
}
