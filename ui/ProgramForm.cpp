#include "ui/ProgramForm.h"

#include "store/ScheduleSql.h"
#include "ui/ColumnTitles.h"

#include "report/ErrorReport.h"
#include "ui/EntryOptionsForm.h"
#include "ui/EntryOptionsText.h"
#include "ui/FileChooser.h"
#include "ui/FormHelpers.h"
#include "ui/Images.h"
#include "ui/MainForm.h"
#include "ui/OpenFileDialog.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QToolButton>

#include <limits>
#include <optional>
#include <utility>

TFormProgram *FormProgram = nullptr;

namespace {

// A column's title as the caption of its edit.
QString caption(const QString &column)
{
    return TFormProgram::tr("%1：").arg(columnTitle(column));
}

// What a screen reader says of a control: its name and what it is for.
void describe(QWidget *widget, const QString &name, const QString &description)
{
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(description);
}

} // namespace

TFormProgram::TFormProgram(QWidget *parent)
    : QDialog(parent)
    , ImageList1(imageList({Picture::Confirm, Picture::Cancel}))
{
    setObjectName(QStringLiteral("FormProgram"));
    setWindowTitle(QStringLiteral("FormProgram"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(518, 261);
    setSizeGripEnabled(false);
    setFont(windowFont());

    Label1 = makeLabel(QStringLiteral("Label1"), caption(ScheduleSql::programName), 32, 48);
    Edit1 = makeEdit(QStringLiteral("Edit1"), 112, 48, 337);
    SpeedButton3 = makeSpeedButton(QStringLiteral("SpeedButton3"), {464, 48, 25, 21});
    Label4 = makeLabel(QStringLiteral("Label4"), caption(ScheduleSql::programParameter), 32, 88);
    Edit4 = makeEdit(QStringLiteral("Edit4"), 112, 88, 337);
    SpeedButton4 = makeSpeedButton(QStringLiteral("SpeedButton4"), {464, 88, 25, 21});
    Label2 = makeLabel(QStringLiteral("Label2"), caption(ScheduleSql::programTime), 32, 128);
    Edit2 = makeEdit(QStringLiteral("Edit2"), 112, 128, 105);
    Label3 = makeLabel(QStringLiteral("Label3"), caption(ScheduleSql::programCount), 264, 128);
    Edit3 = makeEdit(QStringLiteral("Edit3"), 344, 128, 105);
    SpeedButton3->setText(QStringLiteral("..."));
    SpeedButton4->setText(QStringLiteral("..."));
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);

    ActionYes = makeAction(this, ImageList1.value(0), tr("确定"), &TFormProgram::ActionYesExecute);
    ActionCancel =
        makeAction(this, ImageList1.value(1), tr("取消"), &TFormProgram::ActionCancelExecute);
    SpeedButton1 = makeSpeedButton(QStringLiteral("SpeedButton1"), {160, 176, 97, 41});
    SpeedButton2 = makeSpeedButton(QStringLiteral("SpeedButton2"), {304, 176, 97, 41});
    for (QToolButton *button : {SpeedButton1, SpeedButton2}) {
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    SpeedButton1->setDefaultAction(ActionYes);
    SpeedButton2->setDefaultAction(ActionCancel);
    // In the free space left of OK, in line with the captions, moving nothing.
    SpeedButton5 = makeSpeedButton(QStringLiteral("SpeedButton5"), {32, 185, 81, 23});
    SpeedButton5->setText(tr("更多选项…"));

    for (const auto &[label, edit] :
         {std::pair {Label1, Edit1}, {Label4, Edit4}, {Label2, Edit2}, {Label3, Edit3}})
        label->setBuddy(edit);
    describe(Edit1, columnTitle(ScheduleSql::programName), tr("要运行的程序：完整路径或命令名"));
    describe(Edit4, columnTitle(ScheduleSql::programParameter), tr("传给程序的参数，以空格分隔"));
    describe(Edit2, columnTitle(ScheduleSql::programTime), tr("每次运行的秒数"));
    describe(Edit3, columnTitle(ScheduleSql::programCount), tr("程序运行的次数"));
    describe(SpeedButton3, tr("选择程序"), tr("在文件对话框中选择要运行的程序"));
    describe(SpeedButton4, tr("选择参数文件"), tr("在文件对话框中选择一个文件作为运行参数"));
    describe(SpeedButton1, ActionYes->text(), tr("保存此记录并关闭对话框"));
    describe(SpeedButton2, ActionCancel->text(), tr("不保存，关闭对话框"));
    describe(SpeedButton5, tr("更多选项"), tr("此记录的工作文件夹、环境变量、结束方式等选项"));

    connectHandler(SpeedButton3, &QToolButton::clicked, this, &TFormProgram::SpeedButton3Click);
    connectHandler(SpeedButton4, &QToolButton::clicked, this, &TFormProgram::SpeedButton4Click);
    connectHandler(SpeedButton5, &QToolButton::clicked, this, &TFormProgram::SpeedButton5Click);

    FormCreate();
}

TFormProgram::~TFormProgram() = default;

QLabel *TFormProgram::makeLabel(const QString &name, const QString &caption, int left, int top)
{
    auto *label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setGeometry(left, top, 73, 21);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLineEdit *TFormProgram::makeEdit(const QString &name, int left, int top, int width)
{
    auto *edit = new QLineEdit(name, this);
    edit->setObjectName(name);
    edit->setGeometry(left, top, width, 20);
    // A stored text of any length must come back whole, not cut at the edit's default limit.
    edit->setMaxLength(std::numeric_limits<int>::max());
    return edit;
}

QToolButton *TFormProgram::makeSpeedButton(const QString &name, const QRect &geometry)
{
    auto *button = new QToolButton(this);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoRaise(false);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

int TFormProgram::ShowModal()
{
    return exec();
}

void TFormProgram::setModalResult(int result)
{
    if (result == mrNone)
        return;
    if (m_inShowHandler) {
        // exec() shows the dialog before it starts its event loop; closing now would leave that
        // loop waiting for a close that has already happened.
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                if (isVisible())
                    done(result);
            },
            Qt::QueuedConnection);
        return;
    }
    done(result);
}

void TFormProgram::setFileChooser(FileChooser *chooser)
{
    m_fileChooser = chooser;
}

void TFormProgram::setFolderChooser(FolderChooser *chooser)
{
    m_folderChooser = chooser;
}

void TFormProgram::setScopeCheck(std::function<QString()> unavailable)
{
    m_scopeCheck = std::move(unavailable);
}

void TFormProgram::reject()
{
    // Only a close request from the window system gets here, since the keys are not handled.
    done(mrCancel);
}

void TFormProgram::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    centreWindowOn(this,
                   FormMain && FormMain->isVisible() ? FormMain->frameGeometry() : screenArea());
    const QScopedValueRollback<bool> inShowHandler(m_inShowHandler, true);
    runHandler([this] { FormShow(); });
}

void TFormProgram::keyPressEvent(QKeyEvent *event)
{
    // Skips the dialog's own keys: neither Enter nor Esc may end an entry by accident.
    QWidget::keyPressEvent(event);
}

void TFormProgram::chooseFileInto(QLineEdit *edit)
{
    const std::optional<QString> path =
        m_fileChooser ? m_fileChooser->chooseFile(this) : OpenFileDialog::chooseFile(this);
    if (path)
        edit->setText(*path);
}

void TFormProgram::FormCreate() { }

void TFormProgram::FormShow()
{
    m_shownTexts.clear();
    m_shownRow.clear();
    m_options = EntryOptions();
    m_optionsChosen = false;
    m_optionsProblem.clear();
    m_canHaveOptions = true;
    if (EditMode == Mode::Add) {
        Edit1->clear();
        Edit4->clear();
        Edit2->setText(QStringLiteral("10"));
        Edit3->setText(QStringLiteral("1"));
    } else {
        // Nothing of an entry shown before may stay for this one, whatever the read gives.
        for (QLineEdit *edit : {Edit1, Edit4, Edit2, Edit3})
            edit->clear();
        try {
            readEntry();
        } catch (...) {
            // A dialog that could not show its entry must not be able to write one.
            setModalResult(mrCancel);
            throw;
        }
    }
    showOptionsButton();
    Edit1->setFocus();
}

void TFormProgram::ActionCancelExecute()
{
    setModalResult(mrCancel);
}

void TFormProgram::SpeedButton3Click()
{
    chooseFileInto(Edit1);
}

void TFormProgram::SpeedButton4Click()
{
    chooseFileInto(Edit4);
}

void TFormProgram::SpeedButton5Click()
{
    if (!canHaveOptions())
        return;
    // Once chosen, the options are what the person saw and took, whatever was stored.
    EntryOptionsForm form(m_options, m_optionsChosen ? QString() : m_optionsProblem, m_scopeCheck,
                          this);
    form.setFolderChooser(m_folderChooser);
    if (form.exec() != QDialog::Accepted)
        return;
    m_options = form.options();
    m_optionsChosen = true;
    showOptionsButton();
}

void TFormProgram::showOptionsButton()
{
    const QString options = entryOptionsText(m_options);
    SpeedButton5->setToolTip(options.isEmpty() ? tr("未设选项") : tr("已设选项：\n") + options);
}
