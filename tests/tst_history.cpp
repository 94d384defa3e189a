#include "run/HistoryRecorder.h"
#include "run/RunHistory.h"
#include "store/Connection.h"
#include "store/Query.h"
#include "support/Csv.h"
#include "support/GuiSteps.h"
#include "support/ProgramFixture.h"
#include "ui/HistoryModel.h"
#include "ui/HistoryWindow.h"
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Milliseconds of a local time on 2026-12-08, so that the texts a person reads are fixed.
qint64 localMs(int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(2026, 12, 8), QTime(hour, minute, second, ms)).toMSecsSinceEpoch();
}

RunRecord run(const QString &entry, const QByteArray &program, RunRecord::Ending ending,
              std::optional<int> status = std::nullopt, const QString &detail = QString())
{
    RunRecord record;
    record.entry = entry;
    record.program = program;
    record.parameters = "-n 1";
    record.startedMs = localMs(10, 30, 0);
    record.lifetimeMs = 10003;
    record.ending = ending;
    record.status = status;
    record.detail = detail;
    return record;
}

const QStringList csvHeader {u"entry"_s,   u"program"_s, u"parameters"_s, u"started"_s,
                             u"seconds"_s, u"ended"_s,   u"status"_s,     u"detail"_s};

// Answers the save chooser in place of a person.
class FakeSaveChooser final : public SaveFileChooser
{
public:
    std::optional<QString> answer;
    QStringList suggested;

    std::optional<QString> chooseSaveFile(QWidget *, const QString &name) override
    {
        suggested.append(name);
        return answer;
    }
};

} // namespace

Q_DECLARE_METATYPE(RunRecord)

class TestHistory : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void rows_data();
    void rows();
    void newestFirst();
    void followsNewRecords_data();
    void followsNewRecords();
    void selectedOnly();
    void readFailures_data();
    void readFailures();
    void copy();
    void save_data();
    void save();

private:
    void append(const std::vector<RunRecord> &records);
    HistoryWindow *open(const std::vector<RunRecord> &records);
    QStringList column(int column) const;

    FakeSaveChooser m_chooser;
};

void TestHistory::append(const std::vector<RunRecord> &records)
{
    // Another connection, as another copy of the program or the service without a window.
    Connection other(m_database->path());
    for (const RunRecord &record : records)
        RunHistory::append(other, record);
}

HistoryWindow *TestHistory::open(const std::vector<RunRecord> &records)
{
    m_database->addEntries({{u"prog1"_s, u"-n 1"_s, 10, 1}, {u"prog2"_s, u"-n 2"_s, 10, 1}});
    append(records);
    createObjects();
    FormMain->show();
    FormMain->ActionHistory->trigger();
    m_chooser = FakeSaveChooser();
    HistoryWindow *window = FormMain->historyWindow();
    window->setFileChooser(&m_chooser);
    return window;
}

QStringList TestHistory::column(int column) const
{
    QStringList texts;
    const QAbstractItemModel *model = FormMain->historyWindow()->view()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts.append(model->index(row, column).data().toString());
    return texts;
}

void TestHistory::rows_data()
{
    QTest::addColumn<RunRecord>("record");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("mark");

    const auto texts = [](const QString &program, const QString &ended) {
        return QStringList {
            u"2026-12-08 10:30:00"_s, u"1"_s, program, u"-n 1"_s, u"10.003"_s, ended};
    };
    using Ending = RunRecord::Ending;
    QTest::newRow("ended at its time")
        << run(u"1"_s, "sleep", Ending::AtTime) << texts(u"sleep"_s, u"按时结束"_s) << "";
    QTest::newRow("exited by itself with 0: early")
        << run(u"1"_s, "true", Ending::Exited, 0) << texts(u"true"_s, u"自行退出，退出状态 0"_s)
        << "early";
    QTest::newRow("exited with 3: failed")
        << run(u"1"_s, "false", Ending::Exited, 3) << texts(u"false"_s, u"自行退出，退出状态 3"_s)
        << "failed";
    QTest::newRow("killed by a signal: failed")
        << run(u"1"_s, "crash", Ending::Signal, 11) << texts(u"crash"_s, u"被信号 11 终止"_s)
        << "failed";
    QTest::newRow("could not start, with why")
        << run(u"1"_s, "foo", Ending::NotStarted, std::nullopt, u"no such file"_s)
        << texts(u"foo"_s, u"无法启动：no such file"_s) << "failed";
    QTest::newRow("could not be ended, not collected yet")
        << run(u"1"_s, "/usr/bin/su", Ending::NotEnded, std::nullopt, u"Operation not permitted"_s)
        << texts(u"/usr/bin/su"_s, u"无法结束：Operation not permitted"_s) << "failed";
    RunRecord collected =
        run(u"1"_s, "/usr/bin/su", Ending::NotEnded, std::nullopt, u"Operation not permitted"_s);
    collected.collectedMs = localMs(10, 31, 5, 300);
    QTest::newRow("could not be ended, collected later")
        << collected
        << texts(u"/usr/bin/su"_s,
                 u"无法结束：Operation not permitted（于 2026-12-08 10:31:05 回收）"_s)
        << "failed";
    QTest::newRow("exited, with its last error lines on one line")
        << run(u"1"_s, "false", Ending::Exited, 1, u"cannot open /dev/fb0\nno screen"_s)
        << texts(u"false"_s, u"自行退出，退出状态 1：cannot open /dev/fb0 / no screen"_s)
        << "failed";
    QTest::newRow("at its time, having left when asked")
        << run(u"1"_s, "sleep", Ending::AtTime, std::nullopt,
               u"it left when asked, with status 0"_s)
        << texts(u"sleep"_s, u"按时结束：it left when asked, with status 0"_s) << "";
    QTest::newRow("stopped: early")
        << run(u"1"_s, "sleep", Ending::Stopped) << texts(u"sleep"_s, u"被停止"_s) << "early";
    QTest::newRow("bytes that are not UTF-8 as \\xHH")
        << run(u"1"_s, "caf\xe9 \xe4\xb8\xad", Ending::AtTime)
        << texts(u"caf\\xE9 中"_s, u"按时结束"_s) << "";
}

void TestHistory::rows()
{
    QFETCH(RunRecord, record);
    QFETCH(QString, mark);
    HistoryWindow *window = open({record});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QAbstractItemModel *model = window->view()->model();
    QCOMPARE(model->rowCount(), 1);
    QStringList texts;
    for (int column = 0; column < model->columnCount(); ++column)
        texts.append(model->index(0, column).data().toString());
    QTEST(texts, "texts");

    const QModelIndex cell = model->index(0, HistoryModel::Ended);
    const auto shownMark = HistoryModel::Mark(cell.data(HistoryModel::markRole).toInt());
    QCOMPARE(shownMark == HistoryModel::Mark::Failed, mark == u"failed");
    QCOMPARE(shownMark == HistoryModel::Mark::Early, mark == u"early");
    // Marked rows have a colour of their own; failures are bold as well.
    QCOMPARE(cell.data(Qt::ForegroundRole).isValid(), !mark.isEmpty());
    QCOMPARE(qvariant_cast<QFont>(cell.data(Qt::FontRole)).bold(), mark == u"failed");
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestHistory::newestFirst()
{
    std::vector<RunRecord> records;
    for (int i = 0; i < 3; ++i) {
        records.push_back(run(QString::number(1 + i % 2), "sleep", RunRecord::Ending::AtTime));
        records.back().startedMs = localMs(10, 30 + i, 0);
    }
    RunRecord document = run(u"2"_s, "report.pdf", RunRecord::Ending::AtTime);
    document.opener = "/usr/bin/xdg-open";
    document.startedMs = localMs(11, 0, 0);
    records.push_back(document);
    HistoryWindow *window = open(records);
    QVERIFY(QTest::qWaitForWindowExposed(window));

    QCOMPARE(window->windowTitle(), u"运行记录"_s);
    QVERIFY(window->isWindow());
    QCOMPARE(window->parentWidget(), FormMain);
    QCOMPARE(window->font().pixelSize(), 12);
    QVERIFY(!window->isModal());
    QCOMPARE(column(HistoryModel::Started),
             (QStringList {u"2026-12-08 11:00:00"_s, u"2026-12-08 10:32:00"_s,
                           u"2026-12-08 10:31:00"_s, u"2026-12-08 10:30:00"_s}));
    QCOMPARE(column(HistoryModel::Entry), (QStringList {u"2"_s, u"1"_s, u"2"_s, u"1"_s}));
    QCOMPARE(window->countLabel()->text(), u"共 4 条"_s);
    const QModelIndex program = window->view()->model()->index(0, HistoryModel::Program);
    QCOMPARE(program.data(Qt::ToolTipRole).toString(),
             u"report.pdf\n经由 /usr/bin/xdg-open 打开"_s);
}

void TestHistory::followsNewRecords_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<int>("shownBefore");

    QTest::newRow("the window's own recorder") << "recorder" << 1;
    QTest::newRow("another connection, found by the poll") << "other" << 1;
    QTest::newRow("a late collection changes its row in place") << "collection" << 1;
    QTest::newRow("the oldest go beyond the history's limit") << "other" << RunHistory::limit;
}

void TestHistory::followsNewRecords()
{
    QFETCH(QString, writer);
    QFETCH(int, shownBefore);
    RunRecord first = run(u"1"_s, "/usr/bin/su", RunRecord::Ending::NotEnded, std::nullopt,
                          u"Operation not permitted"_s);
    HistoryWindow *window = open({first});
    if (shownBefore > 1) {
        m_database->exec(
            u"WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO QZRunLog (ProgramIndex, ProgramName, ProgramParameter, Started, "
            "Lifetime, Ending) SELECT 2, 'old', '', i, 1000, 'at-time' FROM n"_s.arg(shownBefore));
        window->reload();
    }
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QAbstractItemModel *model = window->view()->model();
    QCOMPARE(model->rowCount(), shownBefore);

    RunRecord next = run(u"2"_s, "sleep", RunRecord::Ending::AtTime);
    next.startedMs = localMs(10, 40, 0);
    if (writer == u"recorder") {
        FormMain->runHistory()->record(1, next);
        // Written and announced; the window reads at once, long before its next poll.
        FormMain->runHistory()->flush();
        QCoreApplication::sendPostedEvents();
    } else if (writer == u"other") {
        append({next, next});
        QTRY_COMPARE_WITH_TIMEOUT(model->index(0, HistoryModel::Started).data().toString(),
                                  u"2026-12-08 10:40:00"_s, 5 * HistoryWindow::pollMs);
    } else {
        Connection other(m_database->path());
        first.id = 1;
        first.collectedMs = localMs(10, 31, 5);
        RunHistory::update(other, first);
        QTRY_COMPARE_WITH_TIMEOUT(
            model->index(0, HistoryModel::Ended).data().toString(),
            u"无法结束：Operation not permitted（于 2026-12-08 10:31:05 回收）"_s,
            5 * HistoryWindow::pollMs);
        QCOMPARE(model->rowCount(), 1);
        return;
    }
    QCOMPARE(model->index(0, HistoryModel::Started).data().toString(), u"2026-12-08 10:40:00"_s);
    const int added = writer == u"recorder" ? 1 : 2;
    QCOMPARE(model->rowCount(), std::min(shownBefore + added, RunHistory::limit));
    // The oldest row is the first record, or the oldest of those left within the limit.
    const int last = model->rowCount() - 1;
    QCOMPARE(model->index(last, HistoryModel::Program).data().toString(),
             shownBefore < RunHistory::limit ? u"/usr/bin/su"_s : u"old"_s);
    QVERIFY(m_prompter.messages.isEmpty());
}

void TestHistory::selectedOnly()
{
    HistoryWindow *window = open({run(u"1"_s, "a", RunRecord::Ending::AtTime),
                                  run(u"2"_s, "b", RunRecord::Ending::AtTime),
                                  run(u"1"_s, "c", RunRecord::Ending::AtTime),
                                  run(u"12"_s, "d", RunRecord::Ending::AtTime)});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(column(HistoryModel::Program), (QStringList {u"d"_s, u"c"_s, u"b"_s, u"a"_s}));

    window->selectedOnlyBox()->click();
    QCOMPARE(column(HistoryModel::Program), (QStringList {u"c"_s, u"a"_s}));
    QCOMPARE(window->countLabel()->text(), u"共 2 条"_s);
    // It follows the selection in the list while checked.
    clickGridRow(FormMain->DBGridEh1, 1);
    QCOMPARE(column(HistoryModel::Program), QStringList {u"b"_s});
    append({run(u"2"_s, "e", RunRecord::Ending::AtTime)});
    window->readNew();
    QCOMPARE(column(HistoryModel::Program), (QStringList {u"e"_s, u"b"_s}));
    // An empty list selects nothing, and nothing is shown.
    m_database->exec(u"DELETE FROM QZProgram"_s);
    QVERIFY(FormMain->RefreshProgramList());
    QCOMPARE(column(HistoryModel::Program), QStringList());

    window->selectedOnlyBox()->click();
    QCOMPARE(column(HistoryModel::Program).size(), 5);
}

void TestHistory::readFailures_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("says"); // how the box begins

    const QString failed = u"运行记录读取失败：\n"_s;
    QTest::newRow("no history yet: an empty list") << "none" << 0 << QString();
    QTest::newRow("a history table of another shape") << "other shape" << 1 << failed;
    QTest::newRow("the file gone") << "gone" << 1 << failed;
    QTest::newRow("the file held by another program: nothing was being saved")
        << "held" << 1 << failed + u"数据库正被其他程序使用，请稍后再试"_s;
}

void TestHistory::readFailures()
{
    QFETCH(QString, situation);
    QFETCH(int, boxes);
    m_database->addEntries({{u"prog1"_s, u""_s, 10, 1}});
    if (situation == u"other shape")
        m_database->exec(u"DROP TABLE QZRunLog; CREATE TABLE QZRunLog (Something)"_s);
    createObjects();
    FormMain->show();
    const QString aside = m_database->path() + u".aside"_s;
    if (situation == u"gone") {
        QVERIFY(QFile::rename(m_database->path(), aside));
        FormMain->ADOQuery1->connection()->close();
    }
    std::unique_ptr<HeldFile> holder;
    if (situation == u"held")
        holder = m_database->hold();
    FormMain->ActionHistory->trigger();
    HistoryWindow *window = FormMain->historyWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->view()->model()->rowCount(), 0);
    QCOMPARE(m_prompter.messages.size(), boxes);
    QFETCH(QString, says);
    if (boxes)
        QVERIFY2(m_prompter.messages.first().startsWith(says),
                 qPrintable(m_prompter.messages.first()));
    // Every later look fails quietly until the history reads again.
    window->followFile();
    window->followFile();
    QCOMPARE(m_prompter.messages.size(), boxes);
    if (situation == u"gone")
        QVERIFY(QFile::rename(aside, m_database->path()));
    if (situation == u"other shape")
        m_database->exec(u"DROP TABLE QZRunLog"_s);
    holder.reset();
    append({run(u"1"_s, "sleep", RunRecord::Ending::AtTime)});
    window->followFile();
    QCOMPARE(window->view()->model()->rowCount(), 1);
    QCOMPARE(m_prompter.messages.size(), boxes);
}

void TestHistory::copy()
{
    RunRecord quoted = run(u"1"_s, "sh", RunRecord::Ending::Exited, 3);
    quoted.parameters = "-c 'echo \"a, b\"\nexit 3'";
    HistoryWindow *window = open({run(u"1"_s, "a", RunRecord::Ending::AtTime),
                                  run(u"2"_s, "b", RunRecord::Ending::AtTime), quoted});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QApplication::clipboard()->setText(u"before"_s);
    QTableView *view = window->view();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), u"before"_s);

    view->selectRow(0);
    view->selectionModel()->select(view->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    const QList<QStringList> rows = parseCsv(QApplication::clipboard()->text());
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0), csvHeader);
    // Oldest first, as in the file the command line writes.
    QCOMPARE(rows.at(1).value(1), u"a"_s);
    QCOMPARE(
        rows.at(2),
        (QStringList {
            u"1"_s, u"sh"_s, u"-c 'echo \"a, b\"\nexit 3'"_s,
            QDateTime::fromMSecsSinceEpoch(localMs(10, 30, 0), Qt::UTC).toString(Qt::ISODateWithMs),
            u"10.003"_s, u"exited"_s, u"3"_s, QString()}));
}

void TestHistory::save_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("selectedOnly");
    QTest::addColumn<int>("rowsWritten");
    QTest::addColumn<bool>("box");

    QTest::newRow("every row") << "history.csv" << false << 3 << false;
    QTest::newRow("the rows shown only") << "history.csv" << true << 2 << false;
    QTest::newRow("over a file that was there") << "existing.csv" << false << 3 << false;
    QTest::newRow("cancelled writes nothing") << "" << false << -1 << false;
    QTest::newRow("a folder that is not there: a box, nothing lost")
        << "missing/history.csv" << false << -1 << true;
    QTest::newRow("a folder in place of the file: a box, nothing lost")
        << "folder" << false << -1 << true;
    QTest::newRow("through the file dialog, which adds .csv") << "dialog" << false << 3 << false;
}

void TestHistory::save()
{
    QFETCH(QString, answer);
    QFETCH(bool, selectedOnly);
    QFETCH(int, rowsWritten);
    QFETCH(bool, box);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir(u"folder"_s));
    const QString existing = folder.filePath(u"existing.csv"_s);
    {
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("was here\n");
    }
    HistoryWindow *window = open({run(u"1"_s, "a", RunRecord::Ending::AtTime),
                                  run(u"2"_s, "b, \"quoted\"", RunRecord::Ending::Signal, 9),
                                  run(u"1"_s, "c", RunRecord::Ending::AtTime)});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    if (selectedOnly)
        window->selectedOnlyBox()->click();
    const QStringList before =
        QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

    QString written = folder.filePath(answer);
    if (answer == u"dialog") {
        window->setFileChooser(nullptr);
        written = folder.filePath(u"history.csv"_s);
        m_modal->whenModal([&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            dialog->setDirectory(folder.path());
            auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
            QVERIFY(name);
            name->setText(u"history"_s);
            QTest::keyClick(name, Qt::Key_Return);
        });
    } else if (!answer.isEmpty()) {
        m_chooser.answer = written;
    }
    window->saveButton()->click();
    if (answer == u"dialog")
        QVERIFY(!m_modal->forcedClose());
    else
        QCOMPARE(m_chooser.suggested.size(), 1);

    QCOMPARE(m_prompter.messages.size(), box ? 1 : 0);
    if (rowsWritten < 0) {
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), before);
        QFile file(existing);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("was here\n"));
        return;
    }
    QFile file(written);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(file.readAll()));
    QCOMPARE(rows.size(), rowsWritten + 1);
    QCOMPARE(rows.first(), csvHeader);
    QStringList programs;
    for (const QStringList &row : rows.sliced(1))
        programs.append(row.value(1));
    const QStringList expected = selectedOnly ? QStringList {u"a"_s, u"c"_s}
                                              : QStringList {u"a"_s, u"b, \"quoted\""_s, u"c"_s};
    QCOMPARE(programs, expected);
    if (!selectedOnly)
        QCOMPARE(rows.at(2).sliced(5), (QStringList {u"signal"_s, u"9"_s, QString()}));
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
