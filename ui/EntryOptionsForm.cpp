#include "ui/EntryOptionsForm.h"

#include "report/Prompter.h"
#include "ui/FolderChooser.h"
#include "ui/FormHelpers.h"
#include "ui/Images.h"
#include "ui/WindowFont.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QToolButton>

#include <tuple>

using namespace Qt::StringLiterals;

namespace {

// What a grace shows while the program is ended at once: the grace most programs need.
constexpr int offeredGrace = 10;

template<typename Widget> Widget *named(Widget *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

QLineEdit *numberEdit(const QString &name, QWidget *parent)
{
    auto *edit = named(new QLineEdit(parent), name);
    edit->setFixedWidth(41);
    edit->setAlignment(Qt::AlignCenter);
    return edit;
}

// A whole number from least to most, written in digits alone.
std::optional<int> wholeNumber(const QString &text, int least, int most)
{
    static const QRegularExpression digits(u"^[0-9]{1,9}$"_s);
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < least || value > most)
        return std::nullopt;
    return value;
}

std::optional<QString> chooseFolderOnScreen(QWidget *parent, const QString &start)
{
    QFileDialog dialog(parent, EntryOptionsForm::tr("选择工作文件夹"), start);
    // Qt's own dialog, as for the entry's program, so that it looks the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace

EntryOptionsForm::EntryOptionsForm(const EntryOptions &options, const QString &storedProblem,
                                   const ScopeCheck &scopeCheck, QWidget *parent)
    : QDialog(parent)
    , m_options(options)
    , m_folder(named(new QLineEdit(this), u"FolderEdit"_s))
    , m_environment(named(new QPlainTextEdit(this), u"EnvironmentEdit"_s))
    , m_endAtOnce(named(new QRadioButton(tr("立即结束"), this), u"EndAtOnce"_s))
    , m_endAfterGrace(named(new QRadioButton(tr("先请求结束，等待"), this), u"EndAfterGrace"_s))
    , m_grace(numberEdit(u"GraceEdit"_s, this))
    , m_exitWait(named(new QRadioButton(tr("等到运行时间结束"), this), u"ExitWait"_s))
    , m_exitRestart(named(new QRadioButton(tr("重新启动，最多"), this), u"ExitRestart"_s))
    , m_restarts(numberEdit(u"RestartsEdit"_s, this))
    , m_exitNext(named(new QRadioButton(tr("开始下一次运行"), this), u"ExitNext"_s))
    , m_exitStop(named(new QRadioButton(tr("停止运行"), this), u"ExitStop"_s))
    , m_keepOutput(named(new QCheckBox(tr("保留输出，写入日志"), this), u"KeepOutput"_s))
    , m_ownScope(named(new QCheckBox(tr("在独立范围中运行"), this), u"OwnScope"_s))
    , m_memory(named(new QLineEdit(this), u"MemoryEdit"_s))
    , m_quota(named(new QLineEdit(this), u"QuotaEdit"_s))
    , m_scopeReason(named(new QLabel(this), u"ScopeReason"_s))
{
    setObjectName(u"FormEntryOptions"_s);
    setWindowTitle(tr("更多选项"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFont(windowFont());

    auto *grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setContentsMargins(24, 20, 24, 16);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    int row = 0;
    const auto caption = [&](const QString &text) {
        grid->addWidget(new QLabel(text, this), row, 0, Qt::AlignRight | Qt::AlignTop);
    };
    const auto line = [&](std::initializer_list<QWidget *> widgets) {
        auto *box = new QHBoxLayout;
        box->setSpacing(4);
        for (QWidget *widget : widgets)
            box->addWidget(widget);
        box->addStretch();
        grid->addLayout(box, row++, 1, 1, 2);
    };

    if (!storedProblem.isEmpty()) {
        auto *problem = named(
            new QLabel(tr("存储的选项有误，下面显示的是可用的部分：%1").arg(storedProblem), this),
            u"StoredProblem"_s);
        problem->setWordWrap(true);
        problem->setStyleSheet(u"color: #b00020;"_s);
        grid->addWidget(problem, row++, 0, 1, 3);
    }

    caption(tr("工作文件夹："));
    m_folder->setFixedWidth(300);
    m_folder->setPlaceholderText(tr("空：运行器自己的文件夹"));
    auto *folderButton = named(new QToolButton(this), u"FolderButton"_s);
    folderButton->setText(u"..."_s);
    folderButton->setFixedSize(25, 21);
    folderButton->setFocusPolicy(Qt::NoFocus);
    folderButton->setCursor(Qt::PointingHandCursor);
    connectHandler(folderButton, &QToolButton::clicked, this, &EntryOptionsForm::chooseFolder);
    line({m_folder, folderButton});

    caption(tr("环境变量："));
    m_environment->setFixedSize(329, 64);
    m_environment->setTabChangesFocus(true);
    m_environment->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_environment->setPlaceholderText(tr("每行一个：名称=值"));
    line({m_environment});

    caption(tr("结束方式："));
    line({m_endAtOnce});
    line({m_endAfterGrace, m_grace, new QLabel(tr("秒后强制结束（1–60）"), this)});

    caption(tr("提前退出时："));
    line({m_exitWait});
    line({m_exitRestart, m_restarts, new QLabel(tr("次（0–100）"), this)});
    line({m_exitNext});
    line({m_exitStop});

    caption(tr("输出："));
    line({m_keepOutput});

    caption(tr("运行范围："));
    line({m_ownScope});
    m_memory->setFixedWidth(81);
    m_memory->setPlaceholderText(tr("如 512M"));
    m_quota->setFixedWidth(81);
    m_quota->setPlaceholderText(tr("如 50%"));
    line({new QLabel(tr("内存上限："), this), m_memory, new QLabel(tr("处理器配额："), this),
          m_quota});
    m_scopeReason->setWordWrap(true);
    m_scopeReason->setStyleSheet(u"color: #7a5a00;"_s);
    grid->addWidget(m_scopeReason, row++, 1, 1, 2);

    auto *yes = named(new QToolButton(this), u"OkButton"_s);
    auto *cancel = named(new QToolButton(this), u"CancelButton"_s);
    yes->setIcon(pictureIcon(Picture::Confirm));
    yes->setText(tr("确定"));
    cancel->setIcon(pictureIcon(Picture::Cancel));
    cancel->setText(tr("取消"));
    for (QToolButton *button : {yes, cancel}) {
        button->setFixedSize(97, 41);
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
    }
    connectHandler(yes, &QToolButton::clicked, this, &EntryOptionsForm::takeOptions);
    connect(cancel, &QToolButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addSpacing(40);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->setRowMinimumHeight(row++, 6);
    grid->addLayout(buttons, row, 0, 1, 3);

    // Each group its own, though they share the dialog.
    for (const auto &group : {std::initializer_list<QRadioButton *> {m_endAtOnce, m_endAfterGrace},
                              {m_exitWait, m_exitRestart, m_exitNext, m_exitStop}}) {
        auto *buttonGroup = new QButtonGroup(this);
        for (QRadioButton *button : group) {
            buttonGroup->addButton(button);
            connect(button, &QAbstractButton::toggled, this, &EntryOptionsForm::followChoices);
        }
    }
    connect(m_ownScope, &QAbstractButton::toggled, this, &EntryOptionsForm::followChoices);

    // What a screen reader says of each field; a choice is named by its own words.
    const std::tuple<QWidget *, QString, QString> described[] = {
        {m_folder, tr("工作文件夹"), tr("程序在其中启动的文件夹；空则为运行器自己的文件夹")},
        {folderButton, tr("选择工作文件夹"), tr("在对话框中选择工作文件夹")},
        {m_environment, tr("环境变量"), tr("给程序的环境变量，每行一个：名称=值")},
        {m_grace, tr("等待秒数"), tr("请求结束后等待多少秒再强制结束（1–60）")},
        {m_restarts, tr("最多重新启动次数"), tr("程序提前退出时最多重新启动几次（0–100）")},
        {m_memory, tr("内存上限"), tr("独立范围的内存上限，如 512M")},
        {m_quota, tr("处理器配额"), tr("独立范围的处理器配额，如 50%")},
        {yes, yes->text(), tr("采用这些选项并关闭对话框")},
        {cancel, cancel->text(), tr("不采用，关闭对话框")},
    };
    for (const auto &[widget, name, description] : described) {
        widget->setAccessibleName(name);
        widget->setAccessibleDescription(description);
    }
    for (QAbstractButton *choice : findChildren<QAbstractButton *>()) {
        if (choice->accessibleName().isEmpty())
            choice->setAccessibleName(choice->text());
    }

    const QString unavailable = scopeCheck ? scopeCheck() : QString();
    m_scopeAvailable = unavailable.isEmpty();
    m_scopeReason->setText(unavailable.isEmpty() ? QString()
                                                 : tr("不能使用独立范围：") + unavailable);
    m_scopeReason->setVisible(!unavailable.isEmpty());
    showOptions(options);
}

EntryOptionsForm::~EntryOptionsForm() = default;

void EntryOptionsForm::showOptions(const EntryOptions &options)
{
    m_folder->setText(options.workingDirectory);
    m_environment->setPlainText(options.environment.join(u'\n'));
    (options.endGrace > 0 ? m_endAfterGrace : m_endAtOnce)->setChecked(true);
    m_grace->setText(QString::number(options.endGrace > 0 ? options.endGrace : offeredGrace));
    switch (options.earlyExit) {
    case EntryOptions::EarlyExit::Wait:
        m_exitWait->setChecked(true);
        break;
    case EntryOptions::EarlyExit::Restart:
        m_exitRestart->setChecked(true);
        break;
    case EntryOptions::EarlyExit::Next:
        m_exitNext->setChecked(true);
        break;
    case EntryOptions::EarlyExit::Stop:
        m_exitStop->setChecked(true);
        break;
    }
    m_restarts->setText(QString::number(options.maxRestarts));
    m_keepOutput->setChecked(options.keepOutput);
    m_ownScope->setChecked(options.ownScope);
    m_memory->setText(options.memoryMax);
    m_quota->setText(options.cpuQuota);
    followChoices();
}

// Only what the choices made use of can be typed in.
void EntryOptionsForm::followChoices()
{
    m_grace->setEnabled(m_endAfterGrace->isChecked());
    m_restarts->setEnabled(m_exitRestart->isChecked());
    m_ownScope->setEnabled(m_scopeAvailable);
    m_memory->setEnabled(m_scopeAvailable && m_ownScope->isChecked());
    m_quota->setEnabled(m_scopeAvailable && m_ownScope->isChecked());
}

std::optional<EntryOptions> EntryOptionsForm::typedOptions(QString &problem) const
{
    EntryOptions typed = m_options;
    typed.workingDirectory = m_folder->text();
    if (!typed.workingDirectory.isEmpty()) {
        // A relative name would be found from wherever the runner happens to start.
        if (!typed.workingDirectory.startsWith(u'/')) {
            problem =
                tr("工作文件夹“%1”不是完整路径，请写以 / 开头的路径").arg(typed.workingDirectory);
            return std::nullopt;
        }
        if (!typed.folderProblem().isEmpty()) {
            problem = tr("工作文件夹“%1”不存在或不是文件夹").arg(typed.workingDirectory);
            return std::nullopt;
        }
    }

    typed.environment.clear();
    const QStringList lines = m_environment->toPlainText().split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        if (!EntryOptions::isEnvironmentLine(line)) {
            problem = tr("环境变量第 %1 行“%2”不是“名称=值”的形式：名称由字母、数字和下划线组成，"
                         "不以数字开头")
                          .arg(i + 1)
                          .arg(line);
            return std::nullopt;
        }
        typed.environment.append(line);
    }

    typed.endGrace = 0;
    if (m_endAfterGrace->isChecked()) {
        const std::optional<int> grace = wholeNumber(m_grace->text(), 1, EntryOptions::mostGrace);
        if (!grace) {
            problem = tr("等待结束的时间“%1”不是 1 到 %2 之间的整数（秒）")
                          .arg(m_grace->text())
                          .arg(EntryOptions::mostGrace);
            return std::nullopt;
        }
        typed.endGrace = *grace;
    }

    const std::pair<QRadioButton *, EntryOptions::EarlyExit> exits[] = {
        {m_exitWait, EntryOptions::EarlyExit::Wait},
        {m_exitRestart, EntryOptions::EarlyExit::Restart},
        {m_exitNext, EntryOptions::EarlyExit::Next},
        {m_exitStop, EntryOptions::EarlyExit::Stop},
    };
    for (const auto &[button, choice] : exits) {
        if (button->isChecked())
            typed.earlyExit = choice;
    }
    if (typed.earlyExit == EntryOptions::EarlyExit::Restart) {
        const std::optional<int> restarts =
            wholeNumber(m_restarts->text(), 0, EntryOptions::mostRestarts);
        if (!restarts) {
            problem = tr("重新启动的次数“%1”不是 0 到 %2 之间的整数")
                          .arg(m_restarts->text())
                          .arg(EntryOptions::mostRestarts);
            return std::nullopt;
        }
        typed.maxRestarts = *restarts;
    }

    typed.keepOutput = m_keepOutput->isChecked();

    // A scope that cannot be had here is left as it was given, since it could not be changed.
    if (m_scopeAvailable) {
        typed.ownScope = m_ownScope->isChecked();
        typed.memoryMax = typed.ownScope ? m_memory->text().trimmed() : QString();
        typed.cpuQuota = typed.ownScope ? m_quota->text().trimmed() : QString();
        if (!typed.memoryMax.isEmpty() && !EntryOptions::isMemoryLimit(typed.memoryMax)) {
            problem = tr("内存上限“%1”不是 systemd 的写法，应如 512M、2G、50% 或 infinity")
                          .arg(typed.memoryMax);
            return std::nullopt;
        }
        if (!typed.cpuQuota.isEmpty() && !EntryOptions::isProcessorQuota(typed.cpuQuota)) {
            problem = tr("处理器配额“%1”不是 systemd 的写法，应如 50% 或 200%").arg(typed.cpuQuota);
            return std::nullopt;
        }
    }

    // What the checks above do not say in words of their own, the store's rules still refuse.
    if (const QString left = typed.problem(); !left.isEmpty()) {
        problem = tr("选项无法使用：%1").arg(left);
        return std::nullopt;
    }
    return typed;
}

void EntryOptionsForm::takeOptions()
{
    QString problem;
    const std::optional<EntryOptions> typed = typedOptions(problem);
    if (!typed) {
        // What was typed stays, to be put right.
        ShowMessage(problem);
        return;
    }
    m_options = *typed;
    accept();
}

void EntryOptionsForm::chooseFolder()
{
    const QString start = m_folder->text();
    const std::optional<QString> folder = m_folderChooser
        ? m_folderChooser->chooseFolder(this, start)
        : chooseFolderOnScreen(this, start);
    if (folder)
        m_folder->setText(*folder);
}

void EntryOptionsForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous() && parentWidget())
        centreWindowOn(this, parentWidget()->window()->frameGeometry());
}

void EntryOptionsForm::keyPressEvent(QKeyEvent *event)
{
    // As in the entry dialog: neither Enter nor Esc may end it by accident.
    QWidget::keyPressEvent(event);
}
