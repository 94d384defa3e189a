#include "ui/ProgramForm.h"

#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "report/Prompter.h"
#include "store/Connection.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"
#include "ui/FormHelpers.h"
#include "ui/Images.h"
#include "ui/MainForm.h"
#include "ui/StateTexts.h"
#include "ui/WindowFont.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QToolButton>

#include <limits>
#include <utility>

TFormProgram *FormProgram = nullptr;

namespace {

const QString notFound = QStringLiteral("找不到要修改的记录");

// The visible name stays "*.* Files (*.*)", but the dialog applies the patterns of the last
// bracketed group only: "*", because "*.*" would hide every file without a dot, which is how
// most programs here are named.
const QString fileFilter = QStringLiteral("*.* Files (*.*) (*)");

// Qt's own file dialog, so that it looks and filters the same on every desktop.
class OpenFileDialog final : public QFileDialog
{
public:
    explicit OpenFileDialog(QWidget *parent)
        : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::HideNameFilterDetails);
        setAcceptMode(QFileDialog::AcceptOpen);
        // One file, and a typed name that does not exist yet is taken as it is.
        setFileMode(QFileDialog::AnyFile);
        setNameFilter(fileFilter);
        selectFile(QStringLiteral("*.*"));
    }

    void accept() override
    {
        // A typed pattern (the offered "*.*" above all) names no file: taking it would put a
        // path ending in "*.*" into the entry.
        const QString chosen = selectedFiles().value(0);
        const QString name = QFileInfo(chosen).fileName();
        if ((name.contains(u'*') || name.contains(u'?')) && !QFileInfo::exists(chosen))
            return;
        QFileDialog::accept();
    }
};

class OpenFileChooser final : public FileChooser
{
public:
    std::optional<QString> chooseFile(QWidget *parent) override
    {
        OpenFileDialog dialog(parent);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first();
    }
};

} // namespace

TFormProgram::TFormProgram(QWidget *parent)
    : QDialog(parent)
    , ImageList1(imageList({Picture::Confirm, Picture::Cancel}))
    , m_openDialog(std::make_unique<OpenFileChooser>())
    , m_fileChooser(m_openDialog.get())
{
    setObjectName(QStringLiteral("FormProgram"));
    setWindowTitle(QStringLiteral("FormProgram"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(518, 261);
    setSizeGripEnabled(false);
    setFont(windowFont());

    Label1 = makeLabel(QStringLiteral("Label1"), QStringLiteral("程序名称："), 32, 48);
    Edit1 = makeEdit(QStringLiteral("Edit1"), 112, 48, 337);
    SpeedButton3 = makeSpeedButton(QStringLiteral("SpeedButton3"), {464, 48, 25, 21});
    Label4 = makeLabel(QStringLiteral("Label4"), QStringLiteral("运行参数："), 32, 88);
    Edit4 = makeEdit(QStringLiteral("Edit4"), 112, 88, 337);
    SpeedButton4 = makeSpeedButton(QStringLiteral("SpeedButton4"), {464, 88, 25, 21});
    Label2 = makeLabel(QStringLiteral("Label2"), QStringLiteral("运行时间："), 32, 128);
    Edit2 = makeEdit(QStringLiteral("Edit2"), 112, 128, 105);
    Label3 = makeLabel(QStringLiteral("Label3"), QStringLiteral("运行次数："), 264, 128);
    Edit3 = makeEdit(QStringLiteral("Edit3"), 344, 128, 105);
    SpeedButton3->setText(QStringLiteral("..."));
    SpeedButton4->setText(QStringLiteral("..."));
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);

    ActionYes = makeAction(this, ImageList1.value(0), QStringLiteral("确定"),
                           &TFormProgram::ActionYesExecute);
    ActionCancel = makeAction(this, ImageList1.value(1), QStringLiteral("取消"),
                              &TFormProgram::ActionCancelExecute);
    SpeedButton1 = makeSpeedButton(QStringLiteral("SpeedButton1"), {160, 176, 97, 41});
    SpeedButton2 = makeSpeedButton(QStringLiteral("SpeedButton2"), {304, 176, 97, 41});
    for (QToolButton *button : {SpeedButton1, SpeedButton2}) {
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
    SpeedButton1->setDefaultAction(ActionYes);
    SpeedButton2->setDefaultAction(ActionCancel);

    connectHandler(SpeedButton3, &QToolButton::clicked, this, &TFormProgram::SpeedButton3Click);
    connectHandler(SpeedButton4, &QToolButton::clicked, this, &TFormProgram::SpeedButton4Click);

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
    m_fileChooser = chooser ? chooser : m_openDialog.get();
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

bool TFormProgram::isAddMode() const
{
    return EditMode == EditModes::add;
}

void TFormProgram::writeEntry(Query *query) const
{
    const std::pair<QString, const QLineEdit *> fields[] = {
        {ScheduleSql::programName, Edit1},
        {ScheduleSql::programParameter, Edit4},
        {ScheduleSql::programTime, Edit2},
        {ScheduleSql::programCount, Edit3},
    };
    for (const auto &[name, edit] : fields) {
        // A text left as it was shown is not written back: the edit can only show what was
        // stored, so writing it would turn bytes that are not UTF-8 into replacement characters,
        // a number into a text, or refuse a value another tool stored, none of which the person
        // asked for.
        const auto shown = m_shownTexts.constFind(edit);
        if (shown != m_shownTexts.cend() && *shown == edit->text())
            continue;
        query->fieldByName(name).setAsString(edit->text());
    }
}

void TFormProgram::chooseFileInto(QLineEdit *edit)
{
    if (const std::optional<QString> path = m_fileChooser->chooseFile(this))
        edit->setText(*path);
}

void TFormProgram::FormCreate() { }

void TFormProgram::FormShow()
{
    m_shownTexts.clear();
    m_shownRow.clear();
    if (isAddMode()) {
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
    Edit1->setFocus();
}

void TFormProgram::readEntry()
{
    Query *query = ShareDataModule->ADOQueryTemp;
    if (!OpenQuery(query, ScheduleSql::byKey + QString::number(EditIndex),
                   ScheduleSql::readFailed)) {
        setModalResult(mrCancel);
        return;
    }
    if (query->recordCount() <= 0) {
        ShowMessage(notFound);
        setModalResult(mrCancel);
        return;
    }
    Edit1->setText(query->fieldByName(ScheduleSql::programName).asString());
    Edit4->setText(query->fieldByName(ScheduleSql::programParameter).asString());
    Edit2->setText(query->fieldByName(ScheduleSql::programTime).asString());
    Edit3->setText(query->fieldByName(ScheduleSql::programCount).asString());
    for (const QLineEdit *edit : {Edit1, Edit4, Edit2, Edit3})
        m_shownTexts.insert(edit, edit->text());
    m_shownRow = query->currentRow();
    m_shownSource = query->source();
}

void TFormProgram::ActionYesExecute()
{
    Query *query = ShareDataModule->ADOQueryTemp;
    if (isAddMode()) {
        if (!OpenQuery(query, ScheduleSql::list, ScheduleSql::openFailed, ScheduleSql::inUse))
            return;
        query->insert();
        writeEntry(query);
        query->post();
        ShowMessage(QStringLiteral("记录新增成功"));
        setModalResult(mrOk);
        return;
    }
    if (!OpenQuery(query, ScheduleSql::byKey + QString::number(EditIndex), ScheduleSql::openFailed,
                   ScheduleSql::inUse))
        return;
    try {
        // The entry must still be exactly the one shown, in the same file; the write itself
        // refuses a row changed in between.
        if (query->source() != m_shownSource || !query->locate(m_shownRow))
            throw StaleRowError(ScheduleSql::changedElsewhere);
        query->edit();
        writeEntry(query);
        query->post();
    } catch (const StaleRowError &error) {
        query->cancel();
        ShowMessage(error.message());
        setModalResult(mrAbort);
        return;
    }
    ShowMessage(QStringLiteral("记录修改成功"));
    setModalResult(mrOk);
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
