#include "report/DataError.h"
#include "run/RunHistory.h"
#include "store/Connection.h"
#include "store/ShareDM.h"
#include "support/FaultInjectingVfs.h"
#include "support/GuiSteps.h"
#include "support/ProgramFixture.h"
#include "ui/MainForm.h"
#include "ui/ProgramForm.h"

#include <QAction>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {

enum class Operation { Add, Change, Delete, FirstRecord, Record, RecordUpdate };
using Call = FaultInjectingVfs::Call;
using Span = FaultInjectingVfs::Span;

const QString added = u"记录新增成功"_s;
const QString changed = u"记录修改成功"_s;
const QList<QStringList> integrityOk {{u"ok"_s}};

bool throughWindow(Operation operation)
{
    return operation == Operation::Add || operation == Operation::Change
        || operation == Operation::Delete;
}

RunRecord runRecord(RunRecord::Ending ending)
{
    RunRecord record;
    record.entry = u"2"_s;
    record.program = "/usr/bin/su";
    record.parameters = "-c true";
    record.startedMs = 1796725854573;
    record.lifetimeMs = 10003;
    record.ending = ending;
    if (ending == RunRecord::Ending::NotEnded)
        record.detail = u"Operation not permitted"_s;
    return record;
}

// Whether another connection could take the file for itself at once: no lock is held on it. A
// journal left behind is replayed on the way.
bool fileIsFree(const QString &path)
{
    sqlite3 *db = nullptr;
    // The window's history looks at the file now and then, which holds it for a moment: that is
    // waited out as the program waits, a lock left held is not.
    const bool free =
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
        && sqlite3_busy_timeout(db, 250) == SQLITE_OK
        && sqlite3_exec(db, "BEGIN EXCLUSIVE; ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return free;
}

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Span)

// Every write and every sync of an operation fails once, each in a run of its own: the file stays
// sound, holds the operation wholly or not at all (wholly only when the person was told it was
// saved), the person is told of the failure, and the same operation then works.
class TestIoFaults : public ProgramFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void cleanupTestCase();

    void failureAtEachStep_data();
    void failureAtEachStep();

private:
    // What an attempt left behind.
    struct Outcome
    {
        bool saved = false;
        QStringList errors;
        QStringList messages;
        bool transactionOpen = false;
        bool fileFree = false;
        QList<QList<QStringList>> file; // its integrity check, then its contents
    };

    bool prepare(Operation operation);
    // Runs the operation as a person would, with `attempt` where its writing steps come: in the
    // entry dialog once the entry is typed in, else at once.
    void perform(Operation operation, const std::function<void()> &attempt);
    void write(Operation operation);
    // What the person was told and how the connection stands; how the file stands as well, read
    // by a connection of another program, unless it is to be left alone.
    Outcome observe(Operation operation, bool readTheFile = true);
    QList<QList<QStringList>> readFile() const;
    Connection *connection() const;

    std::unique_ptr<FaultInjectingVfs> m_vfs;
    std::unique_ptr<Connection> m_history;
    int m_injected = 0;
};

void TestIoFaults::init()
{
    ProgramFixture::init();
    m_vfs = std::make_unique<FaultInjectingVfs>();
}

void TestIoFaults::cleanup()
{
    if (FormProgram && FormProgram->isVisible())
        FormProgram->done(mrCancel);
    m_history.reset();
    ProgramFixture::cleanup();
    m_vfs.reset();
}

void TestIoFaults::cleanupTestCase()
{
    qInfo() << "injected faults:" << m_injected;
}

Connection *TestIoFaults::connection() const
{
    return m_history ? m_history.get() : ShareDataModule->ADOConnection1;
}

// A new file of three entries (and two history records unless the first is to be written), and
// the window on it with the second entry selected, or the history's own connection.
bool TestIoFaults::prepare(Operation operation)
{
    m_objects.reset();
    m_history.reset();
    m_database = std::make_unique<TestDatabase>();
    m_database->addEntries({{u"prog1"_s, u"-n 1"_s, 10, 1},
                            {u"prog2"_s, u"-n 2"_s, 20, 1},
                            {u"prog3"_s, u"-n 3"_s, 30, 1}});
    m_prompter = RecordingPrompter();
    m_prompter.defaultAnswer = true;
    if (!throughWindow(operation)) {
        m_history = std::make_unique<Connection>(m_database->path());
        if (operation != Operation::FirstRecord) {
            RunHistory::append(*m_history, runRecord(RunRecord::Ending::AtTime));
            RunHistory::append(*m_history, runRecord(RunRecord::Ending::NotEnded));
        } else {
            // A file made before there was a history: its first record makes the table.
            m_database->exec(u"DROP TABLE QZRunLog"_s);
        }
        return true;
    }
    createObjects();
    FormMain->show();
    if (!QTest::qWaitForWindowExposed(FormMain))
        return false;
    clickGridRow(FormMain->DBGridEh1, 1);
    return true;
}

void TestIoFaults::perform(Operation operation, const std::function<void()> &attempt)
{
    if (!throughWindow(operation) || operation == Operation::Delete) {
        attempt();
        return;
    }
    m_modal->whenModal([&] {
        if (operation == Operation::Add) {
            FormProgram->Edit1->setText(u"/usr/bin/added"_s);
            FormProgram->Edit4->setText(u"-x"_s);
        }
        FormProgram->Edit3->setText(u"7"_s);
        attempt();
    });
    (operation == Operation::Add ? FormMain->ActionNew : FormMain->ActionEdit)->trigger();
}

// The one step of the operation that writes: OK in the entry dialog, the delete command answered
// Yes, or the history's call.
void TestIoFaults::write(Operation operation)
{
    try {
        switch (operation) {
        case Operation::Add:
        case Operation::Change:
            QTest::mouseClick(FormProgram->SpeedButton1, Qt::LeftButton);
            break;
        case Operation::Delete:
            FormMain->ActionDelete->trigger();
            break;
        case Operation::FirstRecord:
        case Operation::Record:
            RunHistory::append(*m_history, runRecord(RunRecord::Ending::Exited));
            break;
        case Operation::RecordUpdate: {
            RunRecord record = runRecord(RunRecord::Ending::NotEnded);
            record.id = 2;
            record.collectedMs = record.startedMs + 65300;
            RunHistory::update(*m_history, record);
            break;
        }
        }
    } catch (const DatabaseError &error) {
        // The history's caller reports it.
        m_prompter.errors.append({QString(), error.message()});
    }
}

QList<QList<QStringList>> TestIoFaults::readFile() const
{
    return {m_database->query(u"PRAGMA integrity_check"_s), m_database->contents()};
}

TestIoFaults::Outcome TestIoFaults::observe(Operation operation, bool readTheFile)
{
    Outcome outcome;
    outcome.errors = m_prompter.errorTexts();
    outcome.messages = m_prompter.messages;
    m_prompter.errors.clear();
    m_prompter.messages.clear();
    switch (operation) {
    case Operation::Add:
        outcome.saved = outcome.messages == QStringList {added};
        break;
    case Operation::Change:
        outcome.saved = outcome.messages == QStringList {changed};
        break;
    default:
        outcome.saved = outcome.errors.isEmpty() && outcome.messages.isEmpty();
    }
    sqlite3 *db = connection()->handle();
    outcome.transactionOpen = db && !sqlite3_get_autocommit(db);
    if (!readTheFile)
        return outcome;
    outcome.fileFree = fileIsFree(m_database->path());
    // A file still held would keep the reading waiting; its failure has been noted.
    if (outcome.fileFree)
        outcome.file = readFile();
    return outcome;
}

void TestIoFaults::failureAtEachStep_data()
{
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("failure");
    QTest::addColumn<Span>("span");

    const struct
    {
        const char *name;
        Operation operation;
    } operations[] = {
        {"add in the entry dialog", Operation::Add},
        {"change in the entry dialog", Operation::Change},
        {"delete", Operation::Delete},
        {"the history's first record", Operation::FirstRecord},
        {"a history record", Operation::Record},
        {"a history record's update", Operation::RecordUpdate},
    };
    const struct
    {
        const char *name;
        Call call;
        int failure;
        Span span;
    } faults[] = {
        {"a write fails", Call::Write, SQLITE_IOERR_WRITE, Span::Once},
        {"the disk is full from a write on", Call::Write, SQLITE_FULL, Span::FromThenOn},
        {"a sync fails", Call::Sync, SQLITE_IOERR_FSYNC, Span::Once},
    };
    for (const auto &operation : operations) {
        for (const auto &fault : faults)
            QTest::addRow("%s, %s", operation.name, fault.name)
                << operation.operation << fault.call << fault.failure << fault.span;
    }
}

void TestIoFaults::failureAtEachStep()
{
    QFETCH(Operation, operation);
    QFETCH(Call, call);
    QFETCH(int, failure);
    QFETCH(Span, span);

    // Without a fault: how many calls the operation makes, and the file before and after it.
    QVERIFY(prepare(operation));
    const QList<QList<QStringList>> before = readFile();
    m_vfs->count();
    perform(operation, [&] { write(operation); });
    m_vfs->stop();
    const int calls = m_vfs->calls(call);
    const Outcome clean = observe(operation);
    QVERIFY(clean.saved);
    const QList<QList<QStringList>> after = clean.file;
    QCOMPARE(after.value(0), integrityOk);
    QVERIFY(after != before);
    QVERIFY(calls > 0);

    for (int k = 1; k <= calls; ++k) {
        // Where a journal is left behind, the fault comes once more, and this time the program is
        // the first to come back to the file.
        for (const bool lookFirst : {true, false}) {
            const auto where = qScopeGuard([&] {
                if (QTest::currentTestFailed())
                    qWarning("with call %d of %d failing%s", k, calls,
                             lookFirst ? "" : ", the program the first to come back");
            });
            QVERIFY(prepare(operation));
            int failedCalls = 0;
            bool journalLeft = false;
            Outcome failed;
            Outcome retried;
            perform(operation, [&] {
                m_vfs->failAt(call, k, failure, span);
                write(operation);
                failedCalls = m_vfs->failed();
                m_vfs->stop();
                journalLeft = QFile::exists(m_database->path() + u"-journal"_s);
                failed = observe(operation, lookFirst);
                if (!failed.saved) {
                    write(operation);
                    retried = observe(operation);
                }
            });
            QVERIFY(failedCalls > 0);
            ++m_injected;

            QVERIFY(!failed.transactionOpen);
            if (lookFirst) {
                QVERIFY(failed.fileFree);
                QCOMPARE(failed.file.value(0), integrityOk);
                QCOMPARE(failed.file, failed.saved ? after : before);
            }
            QVERIFY(!failed.saved);
            QVERIFY(failed.messages.isEmpty());
            QCOMPARE(failed.errors.size(), 1);
            QVERIFY(!failed.errors.first().isEmpty());

            QVERIFY(retried.saved);
            QVERIFY(retried.errors.isEmpty());
            QVERIFY(!retried.transactionOpen);
            QVERIFY(retried.fileFree);
            QCOMPARE(retried.file, after);

            // And as the next start of the program finds it.
            m_objects.reset();
            m_history.reset();
            QCOMPARE(readFile(), after);
            if (!journalLeft)
                break;
        }
    }
    QVERIFY(!m_modal->forcedClose());
}

QTEST_MAIN(TestIoFaults)
#include "tst_iofaults.moc"
