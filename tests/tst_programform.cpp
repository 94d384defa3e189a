#include "store/EntryOptions.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "support/GuiSteps.h"
#include "support/OrdinaryUser.h"
#include "support/ProgramFixture.h"
#include "ui/DBGridEh.h"
#include "ui/EntryOptionsForm.h"
#include "ui/FileChooser.h"
#include "ui/Language.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

constexpr auto addMode = TFormProgram::Mode::Add;
constexpr auto changeMode = TFormProgram::Mode::Change;
const QString added = QStringLiteral("记录新增成功");
const QString changed = QStringLiteral("记录修改成功");
const QString notFound = QStringLiteral("找不到要修改的记录");
const QString changedElsewhere = u"该记录已被其他程序修改或删除，未做任何更改，列表已重新读入"_s;
const QString inUse = u"数据库正被其他程序使用，未保存任何更改，请稍后再试"_s;
const QString heldUp = u"数据库正被其他程序使用，请稍后再试"_s;

// Answers the file chooser in place of a person.
class FakeFileChooser final : public FileChooser
{
public:
    QList<std::optional<QString>> answers;
    QList<QWidget *> parents;

    std::optional<QString> chooseFile(QWidget *parent) override
    {
        parents.append(parent);
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
};

// One of the options dialog's controls, by name.
template<typename Widget> Widget *part(const QWidget *dialog, const char *name)
{
    auto *widget = dialog->findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("the options dialog has no %s", name);
    return widget;
}

// Types options into the options dialog as a person would.
void typeOptions(const QWidget *dialog, const EntryOptions &options)
{
    part<QLineEdit>(dialog, "FolderEdit")->setText(options.workingDirectory);
    part<QPlainTextEdit>(dialog, "EnvironmentEdit")->setPlainText(options.environment.join(u'\n'));
    part<QRadioButton>(dialog, options.endGrace > 0 ? "EndAfterGrace" : "EndAtOnce")
        ->setChecked(true);
    if (options.endGrace > 0)
        part<QLineEdit>(dialog, "GraceEdit")->setText(QString::number(options.endGrace));
    const char *exits[] = {"ExitWait", "ExitRestart", "ExitNext", "ExitStop"};
    part<QRadioButton>(dialog, exits[int(options.earlyExit)])->setChecked(true);
    part<QLineEdit>(dialog, "RestartsEdit")->setText(QString::number(options.maxRestarts));
    part<QCheckBox>(dialog, "KeepOutput")->setChecked(options.keepOutput);
    part<QCheckBox>(dialog, "OwnScope")->setChecked(options.ownScope);
    part<QLineEdit>(dialog, "MemoryEdit")->setText(options.memoryMax);
    part<QLineEdit>(dialog, "QuotaEdit")->setText(options.cpuQuota);
}

// Everything the options dialog shows a person typed or chose.
QStringList typedInDialog(const QWidget *dialog)
{
    QStringList typed;
    for (const QLineEdit *edit : dialog->findChildren<QLineEdit *>())
        typed.append(edit->text());
    for (const QPlainTextEdit *edit : dialog->findChildren<QPlainTextEdit *>())
        typed.append(edit->toPlainText());
    for (const QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
        typed.append(button->isChecked() ? u"checked"_s : u"unchecked"_s);
    return typed;
}

// What is wrong with a window's visible texts and controls: a text cut off, a control without a
// name for a screen reader, and in English a text left in Chinese.
QStringList textFaults(const QWidget *window, bool english)
{
    static const QRegularExpression chinese(u"[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"_s);
    QStringList faults;
    const auto check = [&](const QString &where, const QString &text, bool fits) {
        if (!fits)
            faults.append(where + u": \"" + text + u"\" is cut off");
        if (english && text.contains(chinese))
            faults.append(where + u": \"" + text + u"\" is not translated");
    };
    check(window->objectName(), window->windowTitle(), true);
    for (const QWidget *widget : window->findChildren<QWidget *>()) {
        // The views' own parts (headers, corner button) are seen through the view.
        bool inView = false;
        for (const QWidget *up = widget->parentWidget(); up != window; up = up->parentWidget())
            inView = inView || qobject_cast<const QAbstractScrollArea *>(up);
        if (!widget->isVisibleTo(window) || inView)
            continue;
        const QString where = window->objectName() + u'/' + widget->objectName() + u'/'
            + QString::fromLatin1(widget->metaObject()->className());
        if (const auto *label = qobject_cast<const QLabel *>(widget)) {
            const QRect room = label->contentsRect();
            check(where, label->text(),
                  label->wordWrap()
                      ? label->heightForWidth(room.width()) <= room.height()
                      : label->fontMetrics().horizontalAdvance(label->text()) <= room.width());
        } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget)) {
            check(where, button->text(), button->sizeHint().width() <= button->width());
        } else if (const auto *edit = qobject_cast<const QLineEdit *>(widget)) {
            check(where, edit->placeholderText(), true);
        } else if (const auto *edit = qobject_cast<const QPlainTextEdit *>(widget)) {
            check(where, edit->placeholderText(), true);
        } else if (const auto *view = qobject_cast<const QTableView *>(widget)) {
            const QHeaderView *header = view->horizontalHeader();
            for (int column = 0; column < header->count(); ++column) {
                check(where + u" column " + QString::number(column),
                      view->model()->headerData(column, Qt::Horizontal).toString(),
                      header->sectionSizeHint(column) <= header->sectionSize(column));
            }
        } else {
            continue;
        }
        check(where + u" tooltip", widget->toolTip(), true);
        check(where + u" description", widget->accessibleDescription(), true);
        check(where + u" name", widget->accessibleName(), true);
        if (!qobject_cast<const QLabel *>(widget) && widget->accessibleName().isEmpty())
            faults.append(where + u": no accessible name");
    }
    return faults;
}

} // namespace

Q_DECLARE_METATYPE(EntryOptions)
Q_DECLARE_METATYPE(Language)

class TestProgramForm : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void window();
    void tabOrder();
    void textsFitAndAreNamed_data();
    void textsFitAndAreNamed();
    void keysLeaveItOpen_data();
    void keysLeaveItOpen();
    void shownTexts_data();
    void shownTexts();
    void save_data();
    void save();
    void keepsWhatWasNotChanged_data();
    void keepsWhatWasNotChanged();
    void refusedInteger_data();
    void refusedInteger();
    void refusedOptions_data();
    void refusedOptions();
    void failures_data();
    void failures();
    void missingEntryClosesModalShowByItself();
    void chooseFile_data();
    void chooseFile();
    void platformFileDialog();
    void addFromMainWindow();
    void changeByDoubleClick();
    void changeMissingFromMainWindow_data();
    void changeMissingFromMainWindow();
    void changeWithoutSelection_data();
    void changeWithoutSelection();

private:
    void start(int entries);
    void openDialog(TFormProgram::Mode mode, qint64 index = 1);
    QStringList entryTexts() const;
    void typeEntry(const QStringList &texts);
    void doubleClickGrid(int row);
    // Opens the options dialog with 更多选项…, runs the steps on it, and leaves it closed.
    void inOptionsDialog(const std::function<void(EntryOptionsForm *)> &steps);
    // The entries' options as the main window reads them with the list.
    QHash<QString, EntryOptionsTable::Stored> listedOptions() const;

    FakeFileChooser m_chooser;
};

void TestProgramForm::init()
{
    ProgramFixture::init();
    m_chooser = FakeFileChooser();
}

void TestProgramForm::cleanup()
{
    if (FormProgram)
        FormProgram->done(mrCancel);
    ProgramFixture::cleanup();
}

void TestProgramForm::start(int entries)
{
    QList<TestDatabase::Entry> rows;
    for (int i = 1; i <= entries; ++i)
        rows.append({QStringLiteral("prog%1").arg(i), QStringLiteral("-n %1").arg(i), i * 10, i});
    m_database->addEntries(rows);
    createObjects();
    FormProgram->setFileChooser(&m_chooser);
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
}

void TestProgramForm::openDialog(TFormProgram::Mode mode, qint64 index)
{
    FormProgram->EditMode = mode;
    FormProgram->EditIndex = index;
    FormProgram->show();
}

QStringList TestProgramForm::entryTexts() const
{
    return {FormProgram->Edit1->text(), FormProgram->Edit4->text(), FormProgram->Edit2->text(),
            FormProgram->Edit3->text()};
}

void TestProgramForm::typeEntry(const QStringList &texts)
{
    FormProgram->Edit1->setText(texts.at(0));
    FormProgram->Edit4->setText(texts.at(1));
    FormProgram->Edit2->setText(texts.at(2));
    FormProgram->Edit3->setText(texts.at(3));
}

void TestProgramForm::doubleClickGrid(int row)
{
    QTableView *view = FormMain->DBGridEh1->view();
    QPoint spot(20, 20);
    if (row < view->model()->rowCount()) {
        spot = view->visualRect(view->model()->index(row, 1)).center();
        // A person's double-click starts with a click that makes the row current.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, spot);
    }
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, spot);
}

void TestProgramForm::inOptionsDialog(const std::function<void(EntryOptionsForm *)> &steps)
{
    bool opened = false;
    m_modal->whenModal([&] {
        auto *dialog = qobject_cast<EntryOptionsForm *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        opened = true;
        steps(dialog);
    });
    QTest::mouseClick(FormProgram->SpeedButton5, Qt::LeftButton);
    QVERIFY(opened);
    QVERIFY(!m_modal->forcedClose());
}

QHash<QString, EntryOptionsTable::Stored> TestProgramForm::listedOptions() const
{
    if (!FormMain->RefreshProgramList())
        return {};
    return FormMain->engine().options();
}

void TestProgramForm::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("Label1") << "Label1" << QRect(32, 48, 73, 21) << "程序名称：";
    QTest::newRow("Edit1") << "Edit1" << QRect(112, 48, 337, 20) << "Edit1";
    QTest::newRow("SpeedButton3") << "SpeedButton3" << QRect(464, 48, 25, 21) << "...";
    QTest::newRow("Label4") << "Label4" << QRect(32, 88, 73, 21) << "运行参数：";
    QTest::newRow("Edit4") << "Edit4" << QRect(112, 88, 337, 20) << "Edit4";
    QTest::newRow("SpeedButton4") << "SpeedButton4" << QRect(464, 88, 25, 21) << "...";
    QTest::newRow("Label2") << "Label2" << QRect(32, 128, 73, 21) << "运行时间：";
    QTest::newRow("Edit2") << "Edit2" << QRect(112, 128, 105, 20) << "Edit2";
    QTest::newRow("Label3") << "Label3" << QRect(264, 128, 73, 21) << "运行次数：";
    QTest::newRow("Edit3") << "Edit3" << QRect(344, 128, 105, 20) << "Edit3";
    QTest::newRow("SpeedButton1") << "SpeedButton1" << QRect(160, 176, 97, 41) << "确定";
    QTest::newRow("SpeedButton2") << "SpeedButton2" << QRect(304, 176, 97, 41) << "取消";
}

void TestProgramForm::controls()
{
    QFETCH(QString, name);
    start(0);
    auto *widget = FormProgram->findChild<QWidget *>(name);
    QVERIFY(widget);
    QTEST(widget->geometry(), "geometry");
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QTEST(label->text(), "text");
        QCOMPARE(label->alignment(), Qt::AlignCenter);
    } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        QTEST(edit->text(), "text");
    } else {
        auto *button = qobject_cast<QToolButton *>(widget);
        QVERIFY(button);
        QTEST(button->text(), "text");
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!button->autoRaise());
        if (QAction *action = button->defaultAction()) {
            QVERIFY(!action->icon().isNull());
            QVERIFY(drawsPicture(action->icon(), QSize(32, 32)));
            QVERIFY(action->shortcut().isEmpty());
            QCOMPARE(button->iconSize(), QSize(32, 32));
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        }
    }
}

void TestProgramForm::window()
{
    start(0);
    QCOMPARE(FormProgram->windowTitle(), QStringLiteral("FormProgram"));
    QCOMPARE(FormProgram->size(), QSize(518, 261));
    QCOMPARE(FormProgram->minimumSize(), FormProgram->maximumSize());
    const Qt::WindowFlags flags = FormProgram->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    for (Qt::WindowType button :
         {Qt::WindowSystemMenuHint, Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
          Qt::WindowMaximizeButtonHint, Qt::WindowContextHelpButtonHint})
        QVERIFY(!(flags & button));
    QCOMPARE(FormProgram->font().pixelSize(), 12);
    QCOMPARE(FormProgram->ImageList1.size(), 2);
    QCOMPARE(FormProgram->SpeedButton1->defaultAction(), FormProgram->ActionYes);
    QCOMPARE(FormProgram->SpeedButton2->defaultAction(), FormProgram->ActionCancel);
    // No push button, so nothing for Enter to press.
    QVERIFY(FormProgram->findChildren<QPushButton *>().isEmpty());

    FormMain->move(30, 20);
    openDialog(addMode);
    QVERIFY(QTest::qWaitForWindowExposed(FormProgram));
    QCOMPARE(FormProgram->frameGeometry().center(), FormMain->frameGeometry().center());
}

void TestProgramForm::textsFitAndAreNamed_data()
{
    QTest::addColumn<Language>("language");
    QTest::newRow("Chinese") << Language::Chinese;
    QTest::newRow("English") << Language::English;
}

void TestProgramForm::textsFitAndAreNamed()
{
    QFETCH(Language, language);
    const bool english = language == Language::English;
    // The windows take their texts when they are made.
    const Translations translations(language);
    start(1);
    QCOMPARE(FormMain->ActionNew->text() == u"新增记录", !english);
    QStringList faults = textFaults(FormMain, english);
    DBGridEh *grid = FormMain->DBGridEh1;
    for (int column = 0; column < grid->view()->model()->columnCount(); ++column) {
        const QString total = grid->footerText(column);
        if (grid->footer()->fontMetrics().horizontalAdvance(total)
            > grid->footerCellRect(column).width())
            faults.append(u"total line: \"" + total + u"\" is cut off");
    }
    openDialog(changeMode);
    QVERIFY(QTest::qWaitForWindowExposed(FormProgram));
    faults += textFaults(FormProgram, english);
    FormProgram->done(mrCancel);
    // Both the choices and the scope's reason shown.
    EntryOptions options;
    options.ownScope = true;
    EntryOptionsForm dialog(
        options, u"x"_s, [] { return u"x"_s; }, FormProgram);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    faults += textFaults(&dialog, english);
    dialog.hide();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

void TestProgramForm::tabOrder()
{
    start(0);
    openDialog(addMode);
    QApplication::setActiveWindow(FormProgram);
    QVERIFY(QTest::qWaitForWindowActive(FormProgram));
    QCOMPARE(QApplication::focusWidget(), FormProgram->Edit1);
    for (QLineEdit *next :
         {FormProgram->Edit2, FormProgram->Edit3, FormProgram->Edit4, FormProgram->Edit1}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    QTest::keyClick(FormProgram->Edit1, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), FormProgram->Edit4);
}

void TestProgramForm::keysLeaveItOpen_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("key");

    QTest::newRow("Enter in the name") << "Edit1" << int(Qt::Key_Return);
    QTest::newRow("keypad Enter in the run count") << "Edit3" << int(Qt::Key_Enter);
    QTest::newRow("Esc in the parameters") << "Edit4" << int(Qt::Key_Escape);
    QTest::newRow("Esc on the dialog") << "FormProgram" << int(Qt::Key_Escape);
}

void TestProgramForm::keysLeaveItOpen()
{
    QFETCH(QString, target);
    QFETCH(int, key);
    start(1);
    openDialog(addMode);
    auto *widget = target == FormProgram->objectName() ? FormProgram
                                                       : FormProgram->findChild<QWidget *>(target);
    QTest::keyClick(widget, Qt::Key(key));
    QVERIFY(FormProgram->isVisible());
    QCOMPARE(FormProgram->result(), int(mrNone));
    QCOMPARE(m_database->rowCount(), 1);
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestProgramForm::shownTexts_data()
{
    QTest::addColumn<TFormProgram::Mode>("mode");
    QTest::addColumn<QVariantList>("stored");
    QTest::addColumn<QStringList>("texts");

    const QVariantList entry {QStringLiteral("/usr/bin/backup"), QStringLiteral("--all"), 30, 2};
    QTest::newRow("add mode starts afresh")
        << addMode << entry << QStringList {u""_s, u""_s, u"10"_s, u"1"_s};
    QTest::newRow("stored values as text")
        << changeMode << entry << QStringList {u"/usr/bin/backup"_s, u"--all"_s, u"30"_s, u"2"_s};
    QTest::newRow("NULLs as empty texts")
        << changeMode << QVariantList {QStringLiteral("tool"), QVariant(), QVariant(), QVariant()}
        << QStringList {u"tool"_s, u""_s, u""_s, u""_s};
    const QString longText(40000, u'参');
    QTest::newRow("a text of 40,000 characters shows whole")
        << changeMode << QVariantList {QStringLiteral("tool"), longText, 1, 1}
        << QStringList {u"tool"_s, longText, u"1"_s, u"1"_s};
}

void TestProgramForm::shownTexts()
{
    QFETCH(TFormProgram::Mode, mode);
    QFETCH(QVariantList, stored);
    const qint64 key = m_database->addEntry(stored.at(0), stored.at(1), stored.at(2), stored.at(3));
    start(0);
    openDialog(mode, key);
    QTEST(entryTexts(), "texts");
    QCOMPARE(FormProgram->focusWidget(), FormProgram->Edit1);
    QVERIFY(FormProgram->isVisible());
    QVERIFY(m_prompter.messages.isEmpty());
    QVERIFY(m_prompter.errors.isEmpty());
}

void TestProgramForm::save_data()
{
    QTest::addColumn<TFormProgram::Mode>("mode");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("message");
    QTest::addColumn<EntryOptions>("options"); // chosen with 更多选项… unless the default

    QTest::newRow("add typed values")
        << addMode << QStringList {u"/opt/a b/run"_s, u"-v 'x y'"_s, u"45"_s, u"3"_s}
        << QStringList {u"/opt/a b/run"_s, u"-v 'x y'"_s, u"45"_s, u"3"_s} << added
        << EntryOptions();
    QTest::newRow("add with every field empty")
        << addMode << QStringList {u""_s, u""_s, u""_s, u""_s}
        << QStringList {u""_s, u""_s, u"NULL"_s, u"NULL"_s} << added << EntryOptions();
    QTest::newRow("change typed values")
        << changeMode << QStringList {u"/bin/true"_s, u""_s, u"5"_s, u"-1"_s}
        << QStringList {u"/bin/true"_s, u""_s, u"5"_s, u"-1"_s} << changed << EntryOptions();
    QTest::newRow("change to empty run time and count")
        << changeMode << QStringList {u"prog1"_s, u"-n 1"_s, u""_s, u""_s}
        << QStringList {u"prog1"_s, u"-n 1"_s, u"NULL"_s, u"NULL"_s} << changed << EntryOptions();

    EntryOptions folderAndRestarts;
    folderAndRestarts.workingDirectory = QDir::tempPath();
    folderAndRestarts.environment = {u"LANG=zh_CN.UTF-8"_s, u"EMPTIED="_s, u"_A1=x=y"_s};
    folderAndRestarts.endGrace = 60;
    folderAndRestarts.earlyExit = EntryOptions::EarlyExit::Restart;
    folderAndRestarts.maxRestarts = 0;
    folderAndRestarts.keepOutput = true;
    QTest::newRow("add with options")
        << addMode << QStringList {u"/bin/sleep"_s, u"5"_s, u"10"_s, u"1"_s}
        << QStringList {u"/bin/sleep"_s, u"5"_s, u"10"_s, u"1"_s} << added << folderAndRestarts;
    EntryOptions scope;
    scope.earlyExit = EntryOptions::EarlyExit::Stop;
    scope.ownScope = true;
    scope.memoryMax = u"1.5G"_s;
    scope.cpuQuota = u"200%"_s;
    QTest::newRow("change nothing but the options")
        << changeMode << QStringList {u"prog1"_s, u"-n 1"_s, u"10"_s, u"1"_s}
        << QStringList {u"prog1"_s, u"-n 1"_s, u"10"_s, u"1"_s} << changed << scope;
}

void TestProgramForm::save()
{
    QFETCH(TFormProgram::Mode, mode);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, stored);
    QFETCH(QString, message);
    QFETCH(EntryOptions, options);
    start(2);
    const QList<QStringList> before = m_database->rows();
    openDialog(mode, 1);
    typeEntry(typed);
    if (!options.isDefault()) {
        inOptionsDialog([&](EntryOptionsForm *dialog) {
            typeOptions(dialog, options);
            QTest::mouseClick(part<QToolButton>(dialog, "OkButton"), Qt::LeftButton);
        });
    }
    QTest::mouseClick(FormProgram->SpeedButton1, Qt::LeftButton);

    QCOMPARE(m_prompter.messages, QStringList {message});
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(!FormProgram->isVisible());
    QCOMPARE(FormProgram->result(), int(mrOk));
    const QList<QStringList> rows = m_database->rows();
    if (mode == addMode) {
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.mid(0, 2), before);
        QCOMPARE(rows.at(2).mid(1), stored);
    } else {
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0), QStringList {u"1"_s} + stored);
        QCOMPARE(rows.at(1), before.at(1));
    }
    const QHash<QString, EntryOptionsTable::Stored> listed = listedOptions();
    QCOMPARE(listed.size(), options.isDefault() ? 0 : 1);
    if (!options.isDefault()) {
        const EntryOptionsTable::Stored read = listed.value(rows.at(mode == addMode ? 2 : 0).at(0));
        QCOMPARE(read.problem, QString());
        QVERIFY(read.options == options);
    }
}

void TestProgramForm::keepsWhatWasNotChanged_data()
{
    QTest::addColumn<QString>("table"); // the table's column types, when not the usual ones
    QTest::addColumn<QStringList>("values"); // SQL expressions for the four columns
    QTest::addColumn<QString>("runTime"); // typed into the run time, or "" for no change

    const QStringList codePage936 {u"CAST(X'B3CCD0F2' AS TEXT)"_s,
                                   u"CAST(X'CEC4BCFE2E747874' AS TEXT)"_s, u"10"_s, u"1"_s};
    const QStringList longText {u"'tool'"_s, u"replace(hex(zeroblob(50000)), '0', '参')"_s, u"10"_s,
                                u"1"_s};
    const QStringList controls {u"'a' || char(9) || 'b' || char(10) || 'c' || char(13, 1, 127)"_s,
                                u"char(10) || '-v' || char(9)"_s, u"10"_s, u"1"_s};
    const QStringList numbers {u"'tool'"_s, u"42"_s, u"'7'"_s, u"'abc'"_s};
    const QString typeless = u"ProgramName, ProgramParameter, ProgramTime, ProgramCount"_s;
    QTest::newRow("code page 936 bytes, run time changed") << "" << codePage936 << "30";
    QTest::newRow("code page 936 bytes, nothing changed") << "" << codePage936 << "";
    QTest::newRow("100,000 characters, run time changed") << "" << longText << "30";
    QTest::newRow("100,000 characters, nothing changed") << "" << longText << "";
    QTest::newRow("tabs, newlines and control characters") << "" << controls << "30";
    QTest::newRow("numbers in columns without type, run time changed")
        << typeless << numbers << "30";
    QTest::newRow("numbers in columns without type, nothing changed") << typeless << numbers << "";
    QTest::newRow("a count another tool stored as text")
        << "" << QStringList {u"'tool'"_s, u"''"_s, u"5"_s, u"'abc'"_s} << "30";
}

// Change keeps every value the person did not change exactly as it was stored: same bytes, same
// type. With nothing changed the file stays the same to the byte.
void TestProgramForm::keepsWhatWasNotChanged()
{
    QFETCH(QString, table);
    QFETCH(QStringList, values);
    QFETCH(QString, runTime);
    if (!table.isEmpty())
        m_database->exec(u"DROP TABLE QZProgram; CREATE TABLE QZProgram (ProgramIndex INTEGER "
                         "PRIMARY KEY AUTOINCREMENT, %1)"_s.arg(table));
    m_database->exec(u"INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime, "
                     "ProgramCount) VALUES (%1)"_s.arg(values.join(u',')));
    const QList<QStringList> before = m_database->storedRows();
    QFile file(m_database->path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray fileBefore = file.readAll();
    file.close();
    start(0);
    openDialog(changeMode, 1);
    if (!runTime.isEmpty())
        FormProgram->Edit2->setText(runTime);
    FormProgram->ActionYes->trigger();

    QVERIFY(m_prompter.errors.isEmpty());
    QCOMPARE(m_prompter.messages, QStringList {changed});
    QVERIFY(!FormProgram->isVisible());
    QList<QStringList> expected = before;
    if (runTime.isEmpty()) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == fileBefore);
    } else {
        // A column without type keeps what the dialog writes as text.
        expected[0][3] = (table.isEmpty() ? u"integer:"_s : u"text:"_s)
            + QString::fromLatin1(runTime.toLatin1().toHex().toUpper());
    }
    QCOMPARE(m_database->storedRows(), expected);
}

void TestProgramForm::refusedInteger_data()
{
    QTest::addColumn<TFormProgram::Mode>("mode");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("corrected");

    QTest::newRow("add, run time 'abc'")
        << addMode << "Edit2"
        << "abc"
        << "'abc' is not a valid integer value for field 'ProgramTime'"
        << "15";
    QTest::newRow("add, run count '1.5'")
        << addMode << "Edit3"
        << "1.5"
        << "'1.5' is not a valid integer value for field 'ProgramCount'"
        << "4";
    QTest::newRow("change, run time with a trailing blank")
        << changeMode << "Edit2"
        << "7 "
        << "'7 ' is not a valid integer value for field 'ProgramTime'"
        << "7";
}

void TestProgramForm::refusedInteger()
{
    QFETCH(TFormProgram::Mode, mode);
    QFETCH(QString, edit);
    QFETCH(QString, refused);
    QFETCH(QString, error);
    QFETCH(QString, corrected);
    start(1);
    const QList<QStringList> before = m_database->rows();
    openDialog(mode, 1);
    typeEntry(
        {QStringLiteral("tool"), QStringLiteral("-p"), QStringLiteral("20"), QStringLiteral("3")});
    FormProgram->findChild<QLineEdit *>(edit)->setText(refused);
    const QStringList typed = entryTexts();

    FormProgram->ActionYes->trigger();
    QCOMPARE(m_prompter.errorTexts(), QStringList {error});
    QVERIFY(m_prompter.messages.isEmpty());
    QCOMPARE(m_database->rows(), before);
    QVERIFY(FormProgram->isVisible());
    QCOMPARE(entryTexts(), typed);

    FormProgram->findChild<QLineEdit *>(edit)->setText(corrected);
    FormProgram->ActionYes->trigger();
    QCOMPARE(m_prompter.messages, QStringList {mode == addMode ? added : changed});
    QCOMPARE(m_prompter.errors.size(), 1);
    QVERIFY(!FormProgram->isVisible());
    const QList<QStringList> rows = m_database->rows();
    QCOMPARE(rows.size(), mode == addMode ? 2 : 1);
    QCOMPARE(rows.last().mid(1), entryTexts());
}

void TestProgramForm::refusedOptions_data()
{
    QTest::addColumn<EntryOptions>("options");
    QTest::addColumn<QString>("message");

    EntryOptions options;
    options.workingDirectory = u"/no such folder"_s;
    QTest::newRow("a working folder that is not there")
        << options << u"工作文件夹“/no such folder”不存在或不是文件夹"_s;
    options = EntryOptions();
    options.workingDirectory = u"tmp"_s;
    QTest::newRow("a working folder without its full path")
        << options << u"工作文件夹“tmp”不是完整路径，请写以 / 开头的路径"_s;
    options = EntryOptions();
    options.environment = {u"PATH=/bin"_s, u"1ST=x"_s};
    QTest::newRow("a name of the environment that starts with a digit")
        << options
        << u"环境变量第 2 行“1ST=x”不是“名称=值”的形式：名称由字母、数字和下划线组成，不以数字开头"_s;
    options = EntryOptions();
    options.environment = {u"LANG"_s};
    QTest::newRow("an environment line without =")
        << options
        << u"环境变量第 1 行“LANG”不是“名称=值”的形式：名称由字母、数字和下划线组成，不以数字开头"_s;
    options = EntryOptions();
    options.endGrace = 900;
    QTest::newRow("a grace of 900 s")
        << options << u"等待结束的时间“900”不是 1 到 60 之间的整数（秒）"_s;
    options = EntryOptions();
    options.earlyExit = EntryOptions::EarlyExit::Restart;
    options.maxRestarts = 101;
    QTest::newRow("101 restarts") << options << u"重新启动的次数“101”不是 0 到 100 之间的整数"_s;
    options = EntryOptions();
    options.ownScope = true;
    options.memoryMax = u"512MB"_s;
    QTest::newRow("a memory limit systemd does not write so")
        << options << u"内存上限“512MB”不是 systemd 的写法，应如 512M、2G、50% 或 infinity"_s;
    options = EntryOptions();
    options.ownScope = true;
    options.cpuQuota = u"0%"_s;
    QTest::newRow("a processor quota of nothing")
        << options << u"处理器配额“0%”不是 systemd 的写法，应如 50% 或 200%"_s;
}

// A value the options cannot have is said in a box; the dialog stays open with everything as
// typed, and nothing of what was refused is written with the entry.
void TestProgramForm::refusedOptions()
{
    QFETCH(EntryOptions, options);
    QFETCH(QString, message);
    start(1);
    const QList<QStringList> before = m_database->contents();
    openDialog(changeMode, 1);
    bool stayedOpen = false;
    inOptionsDialog([&](EntryOptionsForm *dialog) {
        typeOptions(dialog, options);
        const QStringList typed = typedInDialog(dialog);
        QTest::mouseClick(part<QToolButton>(dialog, "OkButton"), Qt::LeftButton);
        stayedOpen = dialog->isVisible();
        QCOMPARE(typedInDialog(dialog), typed);
        QTest::mouseClick(part<QToolButton>(dialog, "CancelButton"), Qt::LeftButton);
    });
    QVERIFY(stayedOpen);
    QCOMPARE(m_prompter.messages, QStringList {message});

    FormProgram->ActionYes->trigger();
    QCOMPARE(m_prompter.messages, (QStringList {message, changed}));
    QCOMPARE(m_database->contents(), before);
}

void TestProgramForm::failures_data()
{
    QTest::addColumn<TFormProgram::Mode>("mode");
    QTest::addColumn<bool>("beforeShow");
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("result"); // mrNone while the dialog stays open

    // Before a failed show the dialog showed entry 2: nothing of it may stay.
    const QStringList noTexts {u""_s, u""_s, u""_s, u""_s};
    const QStringList entryOne {u"prog1"_s, u"-n 1"_s, u"10"_s, u"1"_s};
    const QStringList countTyped {u"prog1"_s, u"-n 1"_s, u"10"_s, u"7"_s};
    QTest::newRow("keyed load fails on show")
        << changeMode << true << "table renamed" << QStringList {u"记录读入失败"_s} << QStringList()
        << noTexts << int(mrCancel);
    QTest::newRow("file briefly not a database on show")
        << changeMode << true << "not a database" << QStringList {u"记录读入失败"_s}
        << QStringList() << noTexts << int(mrCancel);
    QTest::newRow("file locked on show")
        << changeMode << true << "file locked" << QStringList {heldUp} << QStringList() << noTexts
        << int(mrCancel);
    QTest::newRow("save query fails in add mode")
        << addMode << false << "table renamed" << QStringList {u"数据库打开失败"_s} << QStringList()
        << QStringList {u""_s, u""_s, u"10"_s, u"1"_s} << int(mrNone);
    QTest::newRow("save query fails in change mode")
        << changeMode << false << "table renamed" << QStringList {u"数据库打开失败"_s}
        << QStringList() << entryOne << int(mrNone);
    const QString unwritable = u"The folder '@folder@' cannot be written by this user, and the "
                               "schedule database there needs it for its journal; the change was "
                               "not saved."_s;
    QTest::newRow("folder not writable in add mode")
        << addMode << false << "folder not writable" << QStringList() << QStringList {unwritable}
        << QStringList {u"typed"_s, u""_s, u"10"_s, u"1"_s} << int(mrNone);
    QTest::newRow("folder not writable in change mode")
        << changeMode << false << "folder not writable" << QStringList() << QStringList {unwritable}
        << QStringList {u"typed"_s, u"-n 1"_s, u"10"_s, u"1"_s} << int(mrNone);
    QTest::newRow("file locked at OK in add mode")
        << addMode << false << "file locked" << QStringList {inUse} << QStringList()
        << QStringList {u""_s, u""_s, u"10"_s, u"7"_s} << int(mrNone);
    QTest::newRow("file locked at OK in change mode")
        << changeMode << false << "file locked" << QStringList {inUse} << QStringList()
        << countTyped << int(mrNone);
    QTest::newRow("entry deleted by another process before OK")
        << changeMode << false << "entry deleted" << QStringList {changedElsewhere} << QStringList()
        << countTyped << int(mrAbort);
    QTest::newRow("entry changed by another process before OK")
        << changeMode << false << "entry changed" << QStringList {changedElsewhere} << QStringList()
        << countTyped << int(mrAbort);
    QTest::newRow("file replaced by a copy before OK")
        << changeMode << false << "file replaced" << QStringList {changedElsewhere} << QStringList()
        << countTyped << int(mrAbort);
}

// Nothing is written when anything fails, and a dialog that could not read its entry closes with
// empty fields.
void TestProgramForm::failures()
{
    QFETCH(TFormProgram::Mode, mode);
    QFETCH(bool, beforeShow);
    QFETCH(QString, breakage);
    QFETCH(QStringList, errors);
    QFETCH(QStringList, texts);
    QFETCH(int, result);
    start(2);
    QList<QStringList> expected = m_database->rows();
    // A folder this user may read but not write: the journal cannot be made there.
    const bool folderBarred = breakage == u"folder not writable";
    const QString folder = QFileInfo(m_database->path()).absolutePath();
    const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const auto restore = qScopeGuard([&] { QFile::setPermissions(folder, writable); });
    std::unique_ptr<HeldFile> holder;
    auto breakDatabase = [&] {
        if (folderBarred) {
            QVERIFY(QFile::setPermissions(m_database->path(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                              | QFile::WriteGroup | QFile::ReadOther
                                              | QFile::WriteOther)
                    && QFile::setPermissions(folder,
                                             QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                                 | QFile::ExeGroup | QFile::ReadOther
                                                 | QFile::ExeOther));
        } else if (breakage == u"file locked") {
            holder = m_database->hold();
        } else if (breakage == u"file replaced") {
            m_database->replaceWith(
                {{u"prog1"_s, u"-n 1"_s, 10, 1}, {u"prog2"_s, u"-n 2"_s, 20, 2}});
        } else if (breakage == u"not a database") {
            const QString garbage = m_database->path() + u".new"_s;
            QFile file(garbage);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(QByteArray(4096, 'x')) == 4096);
            file.close();
            QCOMPARE(std::rename(QFile::encodeName(garbage).constData(),
                                 QFile::encodeName(m_database->path()).constData()),
                     0);
        } else if (breakage == u"table renamed") {
            m_database->exec(QStringLiteral("ALTER TABLE QZProgram RENAME TO Elsewhere"));
        } else {
            m_database->exec(
                breakage == u"entry deleted"
                    ? u"DELETE FROM QZProgram WHERE ProgramIndex = 1"_s
                    : u"UPDATE QZProgram SET ProgramTime = 99 WHERE ProgramIndex = 1"_s);
            expected = m_database->rows();
        }
    };
    QElapsedTimer timer;
    if (beforeShow) {
        openDialog(mode, 2);
        FormProgram->ActionCancel->trigger();
        breakDatabase();
        timer.start();
        openDialog(mode, 1);
    } else {
        openDialog(mode, 1);
        breakDatabase();
        if (folderBarred) {
            FormProgram->Edit1->setText(u"typed"_s);
            ScopedOrdinaryUser user;
            FormProgram->ActionYes->trigger();
        } else {
            if (breakage != u"table renamed")
                FormProgram->Edit3->setText(u"7"_s);
            timer.start();
            FormProgram->ActionYes->trigger();
        }
    }
    const qint64 waited = timer.isValid() ? timer.elapsed() : 0;
    holder.reset();
    QVERIFY(QFile::setPermissions(folder, writable));

    QTEST(m_prompter.messages, "messages");
    QCOMPARE(m_prompter.errorTexts(), errors.replaceInStrings(u"@folder@"_s, folder));
    QVERIFY2(waited < 2000, qPrintable(u"waited %1 ms"_s.arg(waited)));
    if (result == mrNone) {
        QVERIFY(FormProgram->isVisible());
        QCOMPARE(entryTexts(), texts);
        FormProgram->ActionCancel->trigger();
        result = mrCancel;
    }
    QTRY_VERIFY(!FormProgram->isVisible());
    QCOMPARE(FormProgram->result(), result);
    QCOMPARE(entryTexts(), texts);
    if (breakage == u"table renamed")
        m_database->exec(QStringLiteral("ALTER TABLE Elsewhere RENAME TO QZProgram"));
    if (breakage == u"not a database")
        m_database->replaceWith({{u"prog1"_s, u"-n 1"_s, 10, 1}, {u"prog2"_s, u"-n 2"_s, 20, 2}});
    QCOMPARE(m_database->rows(), expected);
}

void TestProgramForm::missingEntryClosesModalShowByItself()
{
    start(1);
    FormProgram->EditMode = changeMode;
    FormProgram->EditIndex = 99;
    for (int show = 0; show < 2; ++show) {
        m_modal->armDeadline(FormProgram);
        QCOMPARE(FormProgram->ShowModal(), int(mrCancel));
    }
    QVERIFY(!m_modal->forcedClose());
    QCOMPARE(m_prompter.messages, (QStringList {notFound, notFound}));

    // The next show waits for its answer again.
    FormProgram->EditMode = addMode;
    bool stayedOpen = false;
    m_modal->whenModal([&] {
        stayedOpen = FormProgram->isVisible();
        FormProgram->ActionCancel->trigger();
    });
    QCOMPARE(FormProgram->ShowModal(), int(mrCancel));
    QVERIFY(stayedOpen);
    QVERIFY(!m_modal->forcedClose());
}

void TestProgramForm::chooseFile_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parameters");

    const QString path = QStringLiteral("/opt/my tools/run.sh");
    QTest::newRow("name button takes the path") << "SpeedButton3" << true << path << "-n 1";
    QTest::newRow("parameter button replaces the parameters")
        << "SpeedButton4" << true << "prog1" << path;
    QTest::newRow("name button cancelled") << "SpeedButton3" << false << "prog1"
                                           << "-n 1";
    QTest::newRow("parameter button cancelled") << "SpeedButton4" << false << "prog1"
                                                << "-n 1";
}

void TestProgramForm::chooseFile()
{
    QFETCH(QString, button);
    QFETCH(bool, confirmed);
    start(1);
    openDialog(changeMode, 1);
    m_chooser.answers = {confirmed ? std::optional(QStringLiteral("/opt/my tools/run.sh"))
                                   : std::nullopt};
    QTest::mouseClick(FormProgram->findChild<QToolButton *>(button), Qt::LeftButton);
    QCOMPARE(m_chooser.parents, QList<QWidget *> {FormProgram});
    QTEST(FormProgram->Edit1->text(), "name");
    QTEST(FormProgram->Edit4->text(), "parameters");
    QCOMPARE(FormProgram->Edit2->text(), QStringLiteral("10"));
}

void TestProgramForm::platformFileDialog()
{
    QTemporaryDir folder;
    for (const QString &name : {QStringLiteral("noext"), QStringLiteral("a.txt")}) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    start(0);
    FormProgram->setFileChooser(nullptr);
    openDialog(addMode);

    QString filterShown;
    QString nameOffered;
    bool patternTakenAsFile = true;
    auto answer = [&](const std::function<void(QFileDialog *, QLineEdit *)> &steps) {
        m_modal->whenModal([&, steps] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setDirectory(folder.path());
            steps(dialog, dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")));
        });
    };
    answer([&](QFileDialog *dialog, QLineEdit *nameEdit) {
        filterShown =
            dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentText();
        nameOffered = nameEdit->text();
        QCOMPARE(dialog->fileMode(), QFileDialog::AnyFile);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
        auto listed = [list] {
            QStringList names;
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
                names.append(list->model()->index(row, 0, list->rootIndex()).data().toString());
            names.sort();
            return names;
        };
        QTRY_COMPARE(listed(), (QStringList {u"a.txt"_s, u"noext"_s}));
        QTest::keyClick(nameEdit, Qt::Key_Return);
        patternTakenAsFile = !dialog->isVisible();
        nameEdit->setText(QStringLiteral("noext"));
        QTest::keyClick(nameEdit, Qt::Key_Return);
    });
    QTest::mouseClick(FormProgram->SpeedButton3, Qt::LeftButton);
    QCOMPARE(filterShown, QStringLiteral("*.* Files (*.*)"));
    QCOMPARE(nameOffered, QStringLiteral("*.*"));
    QVERIFY(!patternTakenAsFile);
    QCOMPARE(FormProgram->Edit1->text(), folder.filePath(QStringLiteral("noext")));

    // A name that does not exist yet is taken as typed; cancel changes nothing.
    answer([](QFileDialog *, QLineEdit *nameEdit) {
        nameEdit->setText(QStringLiteral("not there yet"));
        QTest::keyClick(nameEdit, Qt::Key_Return);
    });
    QTest::mouseClick(FormProgram->SpeedButton4, Qt::LeftButton);
    QCOMPARE(FormProgram->Edit4->text(), folder.filePath(QStringLiteral("not there yet")));
    answer([](QFileDialog *dialog, QLineEdit *) { dialog->reject(); });
    QTest::mouseClick(FormProgram->SpeedButton4, Qt::LeftButton);
    QCOMPARE(FormProgram->Edit4->text(), folder.filePath(QStringLiteral("not there yet")));
    QVERIFY(!m_modal->forcedClose());
}

void TestProgramForm::addFromMainWindow()
{
    start(2);
    FormMain->ADOQuery1->next();
    QWidget *modal = nullptr;
    QStringList offered;
    bool keysIgnored = false;
    m_modal->whenModal([&] {
        modal = QApplication::activeModalWidget();
        offered = entryTexts();
        QTest::keyClick(FormProgram->Edit1, Qt::Key_Escape);
        QTest::keyClick(FormProgram->Edit2, Qt::Key_Return);
        keysIgnored = FormProgram->isVisible() && m_database->rowCount() == 2;
        QTest::keyClicks(FormProgram->Edit1, QStringLiteral("/usr/bin/xclock"));
        FormProgram->Edit2->setText(QStringLiteral("5"));
        QTest::mouseClick(FormProgram->SpeedButton1, Qt::LeftButton);
    });
    QTest::mouseClick(FormMain->SpeedButton1, Qt::LeftButton);

    QCOMPARE(modal, FormProgram);
    QCOMPARE(offered, (QStringList {u""_s, u""_s, u"10"_s, u"1"_s}));
    QVERIFY(keysIgnored);
    QVERIFY(!m_modal->forcedClose());
    QCOMPARE(m_prompter.messages, QStringList {added});
    QCOMPARE(m_database->rows().last().mid(1),
             (QStringList {u"/usr/bin/xclock"_s, u""_s, u"5"_s, u"1"_s}));
    QCOMPARE(FormMain->ADOQuery1->recordCount(), 3);
    QCOMPARE(FormMain->ADOQuery1->recNo(), 0);
    QCOMPARE(FormMain->DBGridEh1->currentRow(), 0);
}

void TestProgramForm::changeByDoubleClick()
{
    start(3);
    QStringList shown;
    m_modal->whenModal([&] {
        shown = entryTexts();
        FormProgram->Edit3->setText(QStringLiteral("9"));
        FormProgram->ActionYes->trigger();
    });
    doubleClickGrid(1);

    QCOMPARE(shown, (QStringList {u"prog2"_s, u"-n 2"_s, u"20"_s, u"2"_s}));
    QVERIFY(!m_modal->forcedClose());
    QCOMPARE(m_prompter.messages, QStringList {changed});
    QCOMPARE(m_database->rows().at(1),
             (QStringList {u"2"_s, u"prog2"_s, u"-n 2"_s, u"20"_s, u"9"_s}));
    QCOMPARE(FormMain->ADOQuery1->recNo(), 0);
    QCOMPARE(FormMain->ADOQuery1->fieldByName(QStringLiteral("ProgramCount")).asString(), u"1"_s);
}

void TestProgramForm::changeMissingFromMainWindow_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("result"); // the dialog's, mrNone when it never opened
    QTest::addColumn<QStringList>("listed"); // the names the list shows after
    QTest::addColumn<int>("current");

    QTest::newRow("entry deleted before the dialog")
        << "entry deleted" << QStringList {notFound} << int(mrCancel)
        << QStringList {u"prog1"_s, u"prog2"_s} << 1;
    QTest::newRow("file replaced before the dialog")
        << "file replaced" << QStringList {changedElsewhere} << int(mrNone)
        << QStringList {u"XXX"_s, u"YYY"_s, u"ZZZ"_s} << 0;
    QTest::newRow("entry changed while the dialog is open")
        << "entry changed" << QStringList {changedElsewhere} << int(mrAbort)
        << QStringList {u"prog1"_s, u"other"_s} << 0;
}

// The entry moved under the main window: nothing is written, and the list is read again when
// it showed what is no longer there (not when the entry is merely gone).
void TestProgramForm::changeMissingFromMainWindow()
{
    QFETCH(QString, situation);
    QFETCH(int, result);
    QFETCH(QStringList, listed);
    start(2);
    FormMain->ADOQuery1->next();
    if (situation == u"entry deleted")
        m_database->exec(QStringLiteral("DELETE FROM QZProgram WHERE ProgramIndex = 2"));
    else if (situation == u"file replaced")
        m_database->replaceWith({{u"XXX"_s, QString(), 1, 1},
                                 {u"YYY"_s, QString(), 1, 1},
                                 {u"ZZZ"_s, QString(), 1, 1}});
    const QList<QStringList> expected =
        situation == u"entry changed" ? QList<QStringList>() : m_database->rows();
    bool opened = false;
    if (situation == u"entry changed") {
        m_modal->whenModal([&] {
            opened = true;
            m_database->exec(
                u"UPDATE QZProgram SET ProgramName = 'other' WHERE ProgramIndex = 2"_s);
            FormProgram->Edit3->setText(u"7"_s);
            FormProgram->ActionYes->trigger();
        });
    } else {
        m_modal->armDeadline(FormProgram);
    }
    FormMain->ActionEdit->trigger();

    QVERIFY(!m_modal->forcedClose());
    QTEST(m_prompter.messages, "messages");
    QVERIFY(!FormProgram->isVisible());
    if (result != mrNone)
        QCOMPARE(FormProgram->result(), result);
    QCOMPARE(opened, situation == u"entry changed");
    if (!expected.isEmpty())
        QCOMPARE(m_database->rows(), expected);
    else
        QCOMPARE(m_database->rows().at(1),
                 (QStringList {u"2"_s, u"other"_s, u"-n 2"_s, u"20"_s, u"2"_s}));
    QStringList names;
    for (int row = 0; row < FormMain->ADOQuery1->recordCount(); ++row)
        names.append(FormMain->ADOQuery1->text(row, 1));
    QCOMPARE(names, listed);
    QTEST(FormMain->ADOQuery1->recNo(), "current");
}

void TestProgramForm::changeWithoutSelection_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("listClosed");
    QTest::addColumn<bool>("doubleClick");

    QTest::newRow("empty list, button") << 0 << false << false;
    QTest::newRow("empty list, double-click") << 0 << false << true;
    QTest::newRow("list closed, button") << 2 << true << false;
    QTest::newRow("list closed, double-click") << 2 << true << true;
}

void TestProgramForm::changeWithoutSelection()
{
    QFETCH(int, entries);
    QFETCH(bool, listClosed);
    QFETCH(bool, doubleClick);
    start(entries);
    if (listClosed) {
        m_database->exec(QStringLiteral("ALTER TABLE QZProgram RENAME TO Elsewhere"));
        QVERIFY(!FormMain->RefreshProgramList());
        m_database->exec(QStringLiteral("ALTER TABLE Elsewhere RENAME TO QZProgram"));
        m_prompter.messages.clear();
    }
    bool opened = false;
    m_modal->whenModal([&] { opened = FormProgram->isVisible(); });
    if (doubleClick)
        doubleClickGrid(0);
    else
        FormMain->ActionEdit->trigger();
    QCoreApplication::processEvents();

    QCOMPARE(m_prompter.messages, QStringList {u"请先选中要修改的记录"_s});
    QVERIFY(!opened);
    QVERIFY(!FormProgram->isVisible());
}

QTEST_MAIN(TestProgramForm)
#include "tst_programform.moc"
