#include "store/Connection.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ShareDM.h"
#include "support/GuiSteps.h"
#include "support/ProgramFixture.h"
#include "ui/DBGridEh.h"
#include "ui/HistoryWindow.h"
#include "ui/MainForm.h"
#include "ui/PlainMessageBox.h"
#include "ui/ProgramForm.h"
#include "ui/WidgetPrompter.h"
#include "ui/WindowSettings.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

const QString askDelete = QStringLiteral("确实要删除该记录吗？");
const QString selectFirst = QStringLiteral("请先选中要删除的记录");
const QString changedElsewhere = u"该记录已被其他程序修改或删除，未做任何更改，列表已重新读入"_s;
const QString inUse = u"数据库正被其他程序使用，未保存任何更改，请稍后再试"_s;

} // namespace

class TestMainForm : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void windowAndControls();
    void gridColumns();
    void footerCount_data();
    void footerCount();
    void footerFollowsColumns();
    void historyWaysIn_data();
    void historyWaysIn();
    void cursorAndHighlightAreOne();
    void deleteWithYes();
    void deleteWithNo();
    void deleteFailures_data();
    void deleteFailures();
    void tablesMadeElsewhere_data();
    void tablesMadeElsewhere();
    void twoCopiesWriteInTurn();
    void plainMessageBoxEndToEnd();
    void deleteQuestionIsModalToTheApplication();

private:
    void start(int entries);
    void clickRow(int row);
    QStringList names() const;
};

void TestMainForm::start(int entries)
{
    QList<TestDatabase::Entry> rows;
    for (int i = 1; i <= entries; ++i)
        rows.append({QStringLiteral("prog%1").arg(i), QStringLiteral("-n %1").arg(i), i, 1});
    m_database->addEntries(rows);
    createObjects();
    FormMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(FormMain));
}

void TestMainForm::clickRow(int row)
{
    clickGridRow(FormMain->DBGridEh1, row);
}

QStringList TestMainForm::names() const
{
    QStringList result;
    for (const QStringList &row : m_database->rows())
        result.append(row.at(1));
    return result;
}

void TestMainForm::windowAndControls()
{
    start(0);
    QCOMPARE(FormMain->windowTitle(), QStringLiteral("Vantrel程序自动运行器"));
    QCOMPARE(FormMain->size(), QSize(747, 454));
    QCOMPARE(FormMain->minimumSize(), FormMain->maximumSize());
    QVERIFY(!(FormMain->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(FormMain->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(FormMain->font().pixelSize(), 12);
    QCOMPARE(FormMain->font().families().first(), QStringLiteral("宋体"));

    const struct
    {
        QToolButton *button;
        QAction *action;
        QRect geometry;
        QString caption;
        QKeySequence shortcut = {};
    } buttons[] = {
        {FormMain->SpeedButton1,
         FormMain->ActionNew,
         {24, 24, 113, 49},
         QStringLiteral("新增记录")},
        {FormMain->SpeedButton2,
         FormMain->ActionEdit,
         {144, 24, 113, 49},
         QStringLiteral("修改记录")},
        {FormMain->SpeedButton3,
         FormMain->ActionDelete,
         {264, 24, 113, 49},
         QStringLiteral("删除记录")},
        {FormMain->SpeedButton4,
         FormMain->ActionBegin,
         {608, 24, 113, 49},
         QStringLiteral("开始运行")},
        {FormMain->SpeedButton5,
         FormMain->ActionStop,
         {608, 24, 113, 49},
         QStringLiteral("停止运行")},
        // In the free space between 删除记录 and 开始运行, moving nothing.
        {FormMain->SpeedButton6,
         FormMain->ActionHistory,
         {384, 24, 113, 49},
         QStringLiteral("运行记录"),
         QKeySequence(Qt::CTRL | Qt::Key_H)},
    };
    for (const auto &expected : buttons) {
        QCOMPARE(expected.button->defaultAction(), expected.action);
        QCOMPARE(expected.button->geometry(), expected.geometry);
        QCOMPARE(expected.action->text(), expected.caption);
        QCOMPARE(expected.button->iconSize(), QSize(32, 32));
        QCOMPARE(expected.button->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        QCOMPARE(expected.button->focusPolicy(), Qt::NoFocus);
        QCOMPARE(expected.button->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(expected.action->shortcut(), expected.shortcut);
        QVERIFY(!expected.action->icon().isNull());
        QVERIFY(drawsPicture(expected.action->icon(), QSize(32, 32)));
    }
    QVERIFY(FormMain->SpeedButton4->isVisible());
    QVERIFY(!FormMain->SpeedButton5->isVisible());
    QCOMPARE(FormMain->DBGridEh1->geometry(), QRect(24, 88, 697, 337));
    QCOMPARE(FormMain->ImageList1.size(), 6);
}

void TestMainForm::gridColumns()
{
    start(1);
    QTableView *view = FormMain->DBGridEh1->view();
    const QStringList titles {QStringLiteral("程序编号"), QStringLiteral("程序名称"),
                              QStringLiteral("运行参数"), QStringLiteral("运行时间"),
                              QStringLiteral("运行次数")};
    const QList<int> widths {80, 150, 280, 70, 70};
    QCOMPARE(view->model()->columnCount(), 5);
    for (int column = 0; column < 5; ++column) {
        QCOMPARE(view->model()->headerData(column, Qt::Horizontal).toString(), titles.at(column));
        QCOMPARE(view->columnWidth(column), widths.at(column));
        QCOMPARE(view->model()->index(0, column).data(Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignCenter));
        QVERIFY(!(view->model()->index(0, column).flags() & Qt::ItemIsEditable));
    }
    const QStringList cells {QStringLiteral("1"), QStringLiteral("prog1"), QStringLiteral("-n 1"),
                             QStringLiteral("1"), QStringLiteral("1")};
    for (int column = 0; column < 5; ++column)
        QCOMPARE(view->model()->index(0, column).data().toString(), cells.at(column));
    QVERIFY(!view->isSortingEnabled());
    QVERIFY(!view->horizontalHeader()->sectionsClickable());
    QVERIFY(view->horizontalHeader()->sectionsMovable());
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);

    // A click on a title sorts nothing.
    const QHeaderView *header = view->horizontalHeader();
    QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 20, 5));
    QCOMPARE(view->model()->index(0, 1).data().toString(), QStringLiteral("prog1"));
}

void TestMainForm::footerCount_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("closeList");
    QTest::addColumn<QString>("count");

    QTest::newRow("empty table") << 0 << false << "0";
    QTest::newRow("one entry") << 1 << false << "1";
    QTest::newRow("several entries") << 7 << false << "7";
    QTest::newRow("list closed by a failed reload") << 3 << true << "0";
}

void TestMainForm::footerCount()
{
    QFETCH(int, entries);
    QFETCH(bool, closeList);
    start(entries);
    if (closeList) {
        m_database->exec(QStringLiteral("ALTER TABLE QZProgram RENAME TO Elsewhere"));
        QVERIFY(!FormMain->RefreshProgramList());
        QCOMPARE(m_prompter.messages, QStringList {QStringLiteral("数据库打开失败")});
    }
    QTEST(FormMain->DBGridEh1->footerText(1), "count");
    QCOMPARE(FormMain->DBGridEh1->footerText(0), QStringLiteral("合计"));
    for (int column = 2; column < 5; ++column)
        QCOMPARE(FormMain->DBGridEh1->footerText(column), QString());
    QCOMPARE(FormMain->DBGridEh1->view()->model()->rowCount(), closeList ? 0 : entries);
}

void TestMainForm::footerFollowsColumns()
{
    start(2);
    DBGridEh *grid = FormMain->DBGridEh1;
    QHeaderView *header = grid->view()->horizontalHeader();
    auto titleLeft = [&](int column) {
        return header->mapTo(grid, QPoint(header->sectionViewportPosition(column), 0)).x();
    };
    auto footerLeft = [&](int column) {
        return grid->footer()->mapTo(grid, grid->footerCellRect(column).topLeft()).x();
    };
    for (int column = 0; column < 5; ++column)
        QCOMPARE(footerLeft(column), titleLeft(column));

    header->resizeSection(0, 140);
    header->moveSection(header->visualIndex(1), 4);
    for (int column = 0; column < 5; ++column) {
        QCOMPARE(footerLeft(column), titleLeft(column));
        QCOMPARE(grid->footerCellRect(column).width(), header->sectionSize(column));
    }
    // The count stays under the name column wherever it was moved.
    QVERIFY(grid->footerCellRect(1).left() > grid->footerCellRect(4).left());
}

void TestMainForm::historyWaysIn_data()
{
    QTest::addColumn<QString>("way");

    QTest::newRow("the button") << "button";
    QTest::newRow("the keyboard shortcut") << "shortcut";
    QTest::newRow("the grid's context menu") << "menu";
}

void TestMainForm::historyWaysIn()
{
    QFETCH(QString, way);
    start(2);
    QVERIFY(!FormMain->historyWindow());
    const auto openIt = [&] {
        if (way == u"button") {
            QTest::mouseClick(FormMain->SpeedButton6, Qt::LeftButton);
        } else if (way == u"shortcut") {
            FormMain->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(FormMain));
            QTest::keyClick(FormMain->DBGridEh1->view(), Qt::Key_H, Qt::ControlModifier);
        } else {
            // On another row than the current one, which stays current: during a run it is the
            // entry being run.
            QTableView *view = FormMain->DBGridEh1->view();
            const QPoint at = view->visualRect(view->model()->index(1, 1)).center();
            QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
            QCOMPARE(FormMain->ADOQuery1->recNo(), 0);
            QCOMPARE(FormMain->DBGridEh1->currentRow(), 0);
            // What the windowing system sends with the click.
            QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                    view->viewport()->mapToGlobal(at));
            QApplication::sendEvent(view->viewport(), &event);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            // The history first; Next and Pause after it, which only a run enables; then the
            // setting of notifications, also for a desktop without a tray.
            QCOMPARE(menu->actions().size(), 6);
            QAction *item = menu->actions().first();
            QCOMPARE(item->text(), QStringLiteral("运行记录…"));
            QCOMPARE(menu->actions().at(2), FormMain->ActionNext);
            QCOMPARE(menu->actions().at(3)->isEnabled(), FormMain->engine().isRunning());
            QAction *notify = menu->actions().at(5);
            QVERIFY(notify->isCheckable());
            QCOMPARE(notify->isChecked(), WindowSettings::notifications());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
            QVERIFY(!QApplication::activePopupWidget());
        }
    };
    openIt();
    QWidget *window = FormMain->historyWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(window->isWindow());
    // Opened again it is the same window, not a second one.
    window->close();
    openIt();
    QCOMPARE(FormMain->historyWindow(), window);
    QVERIFY(window->isVisible());
    // The list underneath still works as before.
    QCOMPARE(FormMain->DBGridEh1->geometry(), QRect(24, 88, 697, 337));
    QCOMPARE(FormMain->ADOQuery1->recordCount(), 2);
}

void TestMainForm::cursorAndHighlightAreOne()
{
    start(4);
    Query *list = FormMain->ADOQuery1;
    DBGridEh *grid = FormMain->DBGridEh1;
    QCOMPARE(grid->currentRow(), 0);

    clickRow(2);
    QCOMPARE(list->recNo(), 2);
    QCOMPARE(list->fieldByName(QStringLiteral("ProgramName")).asString(), QStringLiteral("prog3"));

    list->next();
    QCOMPARE(grid->currentRow(), 3);
    list->next(); // past the last row: end of data, the highlight stays on the last row
    QVERIFY(list->eof());
    QCOMPARE(grid->currentRow(), 3);

    clickRow(3); // the current row again leaves end of data set
    QVERIFY(list->eof());
    clickRow(1); // a move backwards clears it
    QVERIFY(!list->eof());
    QCOMPARE(list->recNo(), 1);

    QTest::keyClick(grid->view(), Qt::Key_Down);
    QCOMPARE(list->recNo(), 2);
    list->first();
    QCOMPARE(grid->currentRow(), 0);
    QVERIFY(FormMain->RefreshProgramList());
    QCOMPARE(grid->currentRow(), 0);
    QCOMPARE(list->recNo(), 0);
}

void TestMainForm::deleteWithYes()
{
    start(3);
    clickRow(1);
    m_prompter.answers = {true};
    FormMain->ActionDelete->trigger();
    QCOMPARE(m_prompter.questions.size(), 1);
    QCOMPARE(m_prompter.questions.first().caption, QStringLiteral("删除警告"));
    QCOMPARE(m_prompter.questions.first().text, askDelete);
    QCOMPARE(names(), (QStringList {QStringLiteral("prog1"), QStringLiteral("prog3")}));
    QCOMPARE(FormMain->DBGridEh1->footerText(1), QStringLiteral("2"));
    QCOMPARE(FormMain->ADOQuery1->recNo(), 0);
    QCOMPARE(FormMain->DBGridEh1->currentRow(), 0);
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestMainForm::deleteWithNo()
{
    start(3);
    clickRow(2);
    m_prompter.answers = {false};
    FormMain->ActionDelete->trigger();
    QCOMPARE(m_prompter.questions.size(), 1);
    QCOMPARE(m_database->rowCount(), 3);
    // Not reloaded: the cursor stays where it was, and the scratch query stays on the row.
    QCOMPARE(FormMain->ADOQuery1->recNo(), 2);
    QVERIFY(ShareDataModule->ADOQueryTemp->isActive());
    QCOMPARE(ShareDataModule->ADOQueryTemp->sql(),
             QStringList {QStringLiteral("Select * From QZProgram Where ProgramIndex = 3")});
}

void TestMainForm::deleteFailures_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QStringList>("left"); // the names in the file after
    QTest::addColumn<QStringList>("listed"); // the names the list shows after

    const QStringList both {u"prog1"_s, u"prog2"_s};
    QTest::newRow("empty list") << 0 << "" << QStringList {selectFirst} << 0 << QStringList()
                                << QStringList() << QStringList();
    QTest::newRow("list closed") << 2 << "list closed"
                                 << QStringList {QStringLiteral("数据库打开失败"), selectFirst} << 0
                                 << QStringList() << both << QStringList();
    QTest::newRow("entry deleted by another process")
        << 2 << "row vanished" << QStringList {changedElsewhere} << 0 << QStringList()
        << QStringList {u"prog1"_s} << QStringList {u"prog1"_s};
    QTest::newRow("scratch query cannot open")
        << 2 << "table renamed" << QStringList {QStringLiteral("数据库打开失败")} << 0
        << QStringList() << both << both;
    QTest::newRow("entry changed by another process")
        << 2 << "row changed" << QStringList {changedElsewhere} << 0 << QStringList()
        << QStringList {u"prog1"_s, u"other"_s} << QStringList {u"prog1"_s, u"other"_s};
    QTest::newRow("key taken by a new entry")
        << 2 << "key reused" << QStringList {changedElsewhere} << 0 << QStringList()
        << QStringList {u"prog1"_s, u"other"_s} << QStringList {u"prog1"_s, u"other"_s};
    const QStringList replacement {u"XXX"_s, u"YYY"_s, u"ZZZ"_s};
    QTest::newRow("file replaced by another tool")
        << 3 << "file replaced" << QStringList {changedElsewhere} << 0 << QStringList()
        << replacement << replacement;
    QTest::newRow("entry changed while the question is open")
        << 2 << "changed while asked" << QStringList {changedElsewhere} << 1 << QStringList()
        << QStringList {u"prog1"_s, u"other"_s} << QStringList {u"prog1"_s, u"other"_s};
    QTest::newRow("file locked") << 2 << "file locked" << QStringList {inUse} << 0 << QStringList()
                                 << both << both;
    QTest::newRow("file locked once the table is known")
        << 2 << "table known, then locked" << QStringList {inUse} << 0 << QStringList() << both
        << both;
    QTest::newRow("file locked while the question is open")
        << 2 << "locked while asked" << QStringList {inUse} << 1 << QStringList() << both << both;
}

// Nothing is deleted but the entry the list shows, exactly as it shows it; one box says why not.
void TestMainForm::deleteFailures()
{
    QFETCH(int, entries);
    QFETCH(QString, situation);
    QFETCH(QStringList, listed);
    start(entries);
    // The second entry is the one to delete.
    if (entries > 1)
        clickRow(1);
    std::unique_ptr<HeldFile> holder;
    const QString changeIt = u"UPDATE QZProgram SET ProgramName = 'other' WHERE ProgramIndex = 2"_s;
    if (situation == u"list closed") {
        const QString aside = m_database->path() + QStringLiteral(".aside");
        QVERIFY(QFile::rename(m_database->path(), aside));
        ShareDataModule->ADOConnection1->close();
        QVERIFY(!FormMain->RefreshProgramList());
        QVERIFY(QFile::rename(aside, m_database->path()));
    } else if (situation == u"row vanished") {
        m_database->exec(QStringLiteral("DELETE FROM QZProgram WHERE ProgramIndex = 2"));
    } else if (situation == u"row changed") {
        m_database->exec(changeIt);
    } else if (situation == u"key reused") {
        m_database->exec(u"DELETE FROM QZProgram WHERE ProgramIndex = 2; INSERT INTO QZProgram "
                         "VALUES (2, 'other', '-n 2', 2, 1)"_s);
    } else if (situation == u"table renamed") {
        m_database->exec(QStringLiteral("ALTER TABLE QZProgram RENAME TO Elsewhere"));
    } else if (situation == u"file replaced") {
        m_database->replaceWith({{u"XXX"_s, QString(), 1, 1},
                                 {u"YYY"_s, QString(), 1, 1},
                                 {u"ZZZ"_s, QString(), 1, 1}});
    } else if (situation.endsWith(u"locked")) {
        // How its rows are found again is read once, before the first change.
        if (situation != u"file locked")
            FormMain->ADOQuery1->checkRowsCanBeChanged();
        holder = m_database->hold();
    } else if (situation == u"changed while asked") {
        m_prompter.whileOpen = [&] {
            m_database->exec(changeIt);
        };
    } else if (situation == u"locked while asked") {
        // Only while the question is open, not the box that follows it.
        m_prompter.whileOpen = [&] {
            if (!holder)
                holder = m_database->hold();
        };
    }
    m_prompter.defaultAnswer = true;
    QElapsedTimer timer;
    timer.start();
    FormMain->ActionDelete->trigger();
    const qint64 waited = timer.elapsed();
    holder.reset();
    QTEST(m_prompter.messages, "messages");
    QTEST(int(m_prompter.questions.size()), "questions");
    QTEST(m_prompter.errorTexts(), "errors");
    QVERIFY2(waited < 2000, qPrintable(u"waited %1 ms"_s.arg(waited)));
    if (situation == u"table renamed")
        m_database->exec(QStringLiteral("ALTER TABLE Elsewhere RENAME TO QZProgram"));
    QTEST(names(), "left");
    QStringList shown;
    for (int row = 0; FormMain->ADOQuery1->isActive() && row < FormMain->ADOQuery1->recordCount();
         ++row)
        shown.append(FormMain->ADOQuery1->text(row, 1));
    QCOMPARE(shown, listed);
}

void TestMainForm::tablesMadeElsewhere_data()
{
    QTest::addColumn<QString>("table"); // SQL that makes QZProgram and its rows
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("dialogs");
    QTest::addColumn<QString>("readBack"); // the table that holds the rows
    QTest::addColumn<QStringList>("rows"); // its rows after, values joined by "|"
    // The keys of the entries the grid marks as having options.
    QTest::addColumn<QStringList>("marked");

    const QString changed = u"记录修改成功"_s;
    const QString columns = u"ProgramName TEXT, ProgramParameter TEXT, ProgramTime INTEGER, "
                            "ProgramCount INTEGER"_s;
    const QString usual = u"CREATE TABLE QZProgram (ProgramIndex INTEGER PRIMARY KEY "
                          "AUTOINCREMENT, %1);"_s.arg(columns);
    const QString twoRows =
        u"INSERT INTO QZProgram VALUES (1, 'a', '', 1, 1), (2, 'b', '', 1, 1)"_s;
    QTest::newRow("a key above 2^31: change")
        << usual + u"INSERT INTO QZProgram VALUES (3000000000, 'big', '-v', 1, 1)"_s << "change"
        << QStringList {changed} << QStringList() << 0 << 1 << "QZProgram"
        << QStringList {u"3000000000|big|-v|1|7"_s} << QStringList();
    QTest::newRow("a key above 2^31: delete")
        << usual + u"INSERT INTO QZProgram VALUES (3000000000, 'big', '-v', 1, 1)"_s << "delete"
        << QStringList() << QStringList() << 1 << 0 << "QZProgram" << QStringList()
        << QStringList();
    QTest::newRow("a whole-number key the table does not fill in: add, then change")
        << u"CREATE TABLE QZProgram (ProgramIndex INT PRIMARY KEY, %1); INSERT INTO QZProgram "
           "VALUES (5, 'a', '', 1, 1)"_s.arg(columns)
        << "add, change" << QStringList {u"记录新增成功"_s, changed} << QStringList() << 0 << 2
        << "QZProgram" << QStringList {u"5|a||1|1"_s, u"6|new||10|7"_s} << QStringList();
    const QString noKey = u"CREATE TABLE QZProgram (ProgramIndex INTEGER, %1);"_s.arg(columns);
    QTest::newRow("no key: change")
        << noKey + twoRows << "change" << QStringList {changed} << QStringList() << 0 << 1
        << "QZProgram" << QStringList {u"1|a||1|7"_s, u"2|b||1|1"_s} << QStringList();
    QTest::newRow("no key: delete")
        << noKey + twoRows << "delete" << QStringList() << QStringList() << 1 << 0 << "QZProgram"
        << QStringList {u"2|b||1|1"_s} << QStringList();
    const QString twins = u"INSERT INTO QZProgram VALUES (1, 'a', '', 1, 1), (1, 'a', '', 1, 1)"_s;
    QTest::newRow("no key, two equal rows: change")
        << noKey + twins << "change" << QStringList {changed} << QStringList() << 0 << 1
        << "QZProgram" << QStringList {u"1|a||1|7"_s, u"1|a||1|1"_s} << QStringList();
    QTest::newRow("no key, two equal rows: delete")
        << noKey + twins << "delete" << QStringList() << QStringList() << 1 << 0 << "QZProgram"
        << QStringList {u"1|a||1|1"_s} << QStringList();
    const QString noRowid =
        u"CREATE TABLE QZProgram (ProgramIndex INTEGER PRIMARY KEY, %1) WITHOUT ROWID;"_s.arg(
            columns);
    QTest::newRow("no rowid: change")
        << noRowid + twoRows << "change" << QStringList {changed} << QStringList() << 0 << 1
        << "QZProgram" << QStringList {u"1|a||1|7"_s, u"2|b||1|1"_s} << QStringList();
    QTest::newRow("no rowid: delete")
        << noRowid + twoRows << "delete" << QStringList() << QStringList() << 1 << 0 << "QZProgram"
        << QStringList {u"2|b||1|1"_s} << QStringList();
    const QString underlying =
        u"CREATE TABLE Programs (ProgramIndex INTEGER PRIMARY KEY, %1); INSERT INTO Programs "
        "VALUES (1, 'a', '', 1, 1), (2, 'b', '', 1, 1);"_s.arg(columns);
    QTest::newRow("a view of one table: delete")
        << underlying + u"CREATE VIEW QZProgram AS SELECT * FROM Programs"_s << "delete"
        << QStringList() << QStringList() << 1 << 0 << "Programs" << QStringList {u"2|b||1|1"_s}
        << QStringList();
    const QString computed = u"CREATE VIEW QZProgram AS SELECT ProgramIndex, upper(ProgramName) "
                             "AS ProgramName, ProgramParameter, ProgramTime, ProgramCount FROM "
                             "Programs"_s;
    const QString notFromTheTable = u"ADOQuery1: The column 'ProgramName' is not read from the "
                                    "table 'Programs', so its rows cannot be found again to be "
                                    "changed."_s;
    for (const char *command : {"change", "delete"})
        QTest::addRow("a view of computed values: %s", command)
            << underlying + computed << command << QStringList() << QStringList {notFromTheTable}
            << 0 << 0 << "Programs" << QStringList {u"1|a||1|1"_s, u"2|b||1|1"_s} << QStringList();
    QTest::newRow("neither a key nor a rowid: delete")
        << u"CREATE TABLE QZProgram (ProgramIndex INTEGER, %1, rowid, _rowid_, oid);"_s.arg(columns)
            + u"INSERT INTO QZProgram VALUES (1, 'a', '', 1, 1, 0, 0, 0)"_s
        << "delete" << QStringList()
        << QStringList {u"ADOQuery1: The table 'QZProgram' has neither a key nor a rowid to find "
                        "its rows again by."_s}
        << 0 << 0 << "QZProgram" << QStringList {u"1|a||1|1|0|0|0"_s} << QStringList();

    const QString withGrace = u";INSERT INTO QZProgramOption (ProgramIndex, EndGrace) VALUES "_s;
    const auto graceOf5 = [](const char *key) {
        return QStringList {QString::fromLatin1(key)
                            + u"|NULL|NULL|5|NULL|NULL|NULL|NULL|NULL|NULL"_s};
    };
    QTest::newRow("a key above 2^31: options chosen with a change")
        << usual + u"INSERT INTO QZProgram VALUES (3000000000, 'big', '-v', 1, 1)"_s
        << "change with options" << QStringList {changed} << QStringList() << 0 << 2
        << "QZProgramOption" << graceOf5("3000000000") << QStringList {u"3000000000"_s};
    QTest::newRow("no key: no options offered")
        << noKey + twoRows << "change with options"
        << QStringList {u"该记录所在的表没有主键，记录不能有选项"_s, changed} << QStringList() << 0
        << 1 << "QZProgram" << QStringList {u"1|a||1|7"_s, u"2|b||1|1"_s} << QStringList();
    QTest::newRow("options stored: a change keeps them")
        << usual + twoRows + withGrace + u"(1, 5)"_s << "change" << QStringList {changed}
        << QStringList() << 0 << 1 << "QZProgramOption" << graceOf5("1") << QStringList {u"1"_s};
    QTest::newRow("options stored: a delete takes them with the entry, and those of entries gone")
        << usual + twoRows + withGrace + u"(1, 5), (2, 5), (9, 5)"_s << "delete" << QStringList()
        << QStringList() << 1 << 0 << "QZProgramOption" << graceOf5("2") << QStringList {u"2"_s};
}

// Tables that other tools made: whatever their key, the entry shown is the one changed or
// deleted; rows that cannot be found again are said to be so before anything is asked.
void TestMainForm::tablesMadeElsewhere()
{
    QFETCH(QString, table);
    QFETCH(QString, command);
    QFETCH(QString, readBack);
    m_database->exec(u"DROP TABLE QZProgram; "_s + table);
    start(0);
    m_prompter.defaultAnswer = true;
    int dialogs = 0;
    auto change = [&](int row) {
        clickRow(row);
        m_modal->whenModal([&] {
            ++dialogs;
            // A grace chosen with 更多选项…, where the entry's table can have options.
            if (command == u"change with options") {
                m_modal->whenModal([&] {
                    ++dialogs;
                    QWidget *options = QApplication::activeModalWidget();
                    options->findChild<QRadioButton *>(u"EndAfterGrace"_s)->setChecked(true);
                    options->findChild<QLineEdit *>(u"GraceEdit"_s)->setText(u"5"_s);
                    QTest::mouseClick(options->findChild<QToolButton *>(u"OkButton"_s),
                                      Qt::LeftButton);
                });
                QTest::mouseClick(FormProgram->SpeedButton5, Qt::LeftButton);
            }
            FormProgram->Edit3->setText(u"7"_s);
            FormProgram->ActionYes->trigger();
        });
        FormMain->ActionEdit->trigger();
    };
    if (command == u"delete") {
        FormMain->ActionDelete->trigger();
    } else if (command.startsWith(u"change")) {
        change(0);
    } else {
        m_modal->whenModal([&] {
            ++dialogs;
            FormProgram->Edit1->setText(u"new"_s);
            FormProgram->ActionYes->trigger();
        });
        FormMain->ActionNew->trigger();
        change(1);
    }
    QTEST(m_prompter.messages, "messages");
    QTEST(m_prompter.errorTexts(), "errors");
    QTEST(int(m_prompter.questions.size()), "questions");
    QTEST(dialogs, "dialogs");
    QStringList rows;
    for (const QStringList &row : m_database->query(u"SELECT * FROM "_s + readBack))
        rows.append(row.join(u'|'));
    QTEST(rows, "rows");
    QStringList marked;
    const QAbstractItemModel *grid = FormMain->DBGridEh1->view()->model();
    for (int row = 0; row < grid->rowCount(); ++row) {
        for (int column = 0; column < grid->columnCount(); ++column) {
            const QModelIndex cell = grid->index(row, column);
            if (!cell.data(Qt::DecorationRole).isNull()
                && !cell.data(Qt::ToolTipRole).toString().isEmpty())
                marked.append(cell.data().toString());
        }
    }
    QTEST(marked, "marked");
    QVERIFY(!m_modal->forcedClose());
}

void TestMainForm::twoCopiesWriteInTurn()
{
    start(3);
    // A second copy of the program on the same file.
    TShareDataModule second(m_database->connectionString());
    Query secondList(QStringLiteral("ADOQuery1"));
    secondList.setConnection(second.ADOConnection1);
    QVERIFY(OpenQuery(&secondList, QStringLiteral("Select * From QZProgram"),
                      QStringLiteral("数据库打开失败")));

    m_prompter.defaultAnswer = true;
    FormMain->ActionDelete->trigger();

    QVERIFY(OpenQuery(second.ADOQueryTemp, QStringLiteral("Select * From QZProgram"),
                      QStringLiteral("数据库打开失败")));
    second.ADOQueryTemp->insert();
    second.ADOQueryTemp->fieldByName(QStringLiteral("ProgramName"))
        .setAsString(QStringLiteral("from the other copy"));
    second.ADOQueryTemp->post();

    QVERIFY(FormMain->RefreshProgramList());
    FormMain->ADOQuery1->next();
    FormMain->ActionDelete->trigger();

    secondList.close();
    secondList.open();
    QCOMPARE(secondList.recordCount(), 2);
    QCOMPARE(names(),
             (QStringList {QStringLiteral("prog2"), QStringLiteral("from the other copy")}));
    QVERIFY(m_prompter.errors.isEmpty());
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestMainForm::plainMessageBoxEndToEnd()
{
    WidgetPrompter boxes;
    ScopedPrompter onScreen(boxes);
    QString caption;
    QString text;
    QString button;
    Qt::WindowModality modality = Qt::NonModal;
    m_modal->whenModal([&] {
        auto *box = qobject_cast<PlainMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        button = box->okButton()->text();
        modality = box->windowModality();
        QVERIFY(box->okButton()->isDefault());
        QTest::keyClick(box, Qt::Key_Escape);
    });
    ShowMessage(QStringLiteral("记录新增成功"));
    QCOMPARE(caption, QStringLiteral("tst_mainform"));
    QCOMPARE(text, QStringLiteral("记录新增成功"));
    QCOMPARE(button, QStringLiteral("OK"));
    QCOMPARE(modality, Qt::ApplicationModal);

    QVERIFY(!m_modal->forcedClose());

    // Enter presses OK as well.
    int okPresses = 0;
    m_modal->whenModal([&] {
        auto *box = qobject_cast<PlainMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        QObject::connect(box->okButton(), &QPushButton::clicked, box, [&] { ++okPresses; });
        QTest::keyClick(box, Qt::Key_Return);
    });
    ShowMessage(QStringLiteral("a second message"));
    QCOMPARE(okPresses, 1);
    QVERIFY(!m_modal->forcedClose());
}

void TestMainForm::deleteQuestionIsModalToTheApplication()
{
    start(2);
    WidgetPrompter boxes;
    ScopedPrompter onScreen(boxes);
    Qt::WindowModality modality = Qt::NonModal;
    QString defaultButton;
    m_modal->whenModal([&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        modality = box->windowModality();
        defaultButton = box->defaultButton() == box->button(QMessageBox::Yes) ? u"Yes"_qs : u"?"_qs;
        QCOMPARE(box->windowTitle(), QStringLiteral("删除警告"));
        QCOMPARE(box->text(), askDelete);
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
        box->button(QMessageBox::No)->click();
    });
    FormMain->ActionDelete->trigger();
    QCOMPARE(modality, Qt::ApplicationModal);
    QCOMPARE(defaultButton, QStringLiteral("Yes"));
    QCOMPARE(m_database->rowCount(), 2);
    QVERIFY(!m_modal->forcedClose());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
