#include "run/RunHistory.h"

#include "engine/ProcessTable.h"
#include "store/Connection.h"
#include "store/Schema.h"
#include "store/Statement.h"
#include "store/Transaction.h"

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const QString columns = u"RunIndex, ProgramIndex, ProgramName, ProgramParameter, Opener, Started, "
                        "Lifetime, Ending, Status, Detail, Collected, RunId, Process, "
                        "ProcessStart"_s;

ValueView text(const QByteArray &bytes)
{
    return {ValueView::Type::Text, 0, 0, bytes};
}

ValueView number(qint64 value)
{
    return {ValueView::Type::Integer, value, 0, {}};
}

template<typename T> ValueView optionalNumber(const std::optional<T> &value)
{
    return value ? number(*value) : ValueView();
}

ValueView optionalText(const QByteArray &bytes)
{
    return bytes.isEmpty() ? ValueView() : text(bytes);
}

ValueView optionalProcess(qint64 value)
{
    return value == 0 ? ValueView() : number(value);
}

// A key that is a whole number is kept as one, so that it reads back as the list shows it.
ValueView entryValue(const QString &entry, QByteArray &bytes)
{
    bool isNumber = false;
    const qint64 key = entry.toLongLong(&isNumber);
    if (isNumber && QString::number(key) == entry)
        return number(key);
    if (entry.isEmpty())
        return {};
    bytes = entry.toUtf8();
    return text(bytes);
}

// The connection open on the file there is now, and the number of columns of its history: 0 when
// it has none yet.
int historyColumns(Connection &connection)
{
    connection.dropIfReplaced();
    connection.open();
    sqlite3 *db = connection.handle();
    Statement exists(db, u"SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?"_s);
    const QByteArray name = RunHistory::tableName;
    exists.bind(1, text(name));
    if (!exists.step())
        return 0;
    return Statement(db, u"SELECT * FROM QZRunLog LIMIT 0"_s).columnCount();
}

// What becomes known of a run as it goes on, in the order of outcomeColumns.
const QString outcomeColumns = u"Opener, Lifetime, Ending, Status, Detail, Collected, Process, "
                               "ProcessStart"_s;

class Outcome final
{
public:
    explicit Outcome(const RunRecord &record)
        : m_record(record)
        , m_ending(RunEndings::name(record.ending).toUtf8())
        , m_detail(record.detail.toUtf8())
    { }

    void bindTo(Statement &statement, int first) const
    {
        statement.bind(first, optionalText(m_record.opener));
        statement.bind(first + 1, number(m_record.lifetimeMs));
        statement.bind(first + 2, text(m_ending));
        statement.bind(first + 3, optionalNumber(m_record.status));
        statement.bind(first + 4, optionalText(m_detail));
        statement.bind(first + 5, optionalNumber(m_record.collectedMs));
        statement.bind(first + 6, optionalProcess(m_record.process));
        statement.bind(first + 7, optionalProcess(m_record.processStart));
    }

private:
    const RunRecord &m_record;
    // The texts the statement reads until it is stepped.
    QByteArray m_ending;
    QByteArray m_detail;
};

RunRecord recordFrom(const Statement &select)
{
    RunRecord record;
    const auto value = [&](int column) {
        return select.column(column, false);
    };
    record.id = value(0).integer;
    record.entry = value(1).toString();
    record.program = value(2).toBytes();
    record.parameters = value(3).toBytes();
    record.opener = value(4).isNull() ? QByteArray() : value(4).toBytes();
    record.startedMs = value(5).integer;
    record.lifetimeMs = value(6).integer;
    record.ending = RunEndings::fromName(value(7).toString()).value_or(RunRecord::Ending::AtTime);
    if (!value(8).isNull())
        record.status = int(value(8).integer);
    record.detail = value(9).toString();
    if (!value(10).isNull())
        record.collectedMs = value(10).integer;
    record.runId = value(11).isNull() ? QByteArray() : value(11).toBytes();
    record.process = value(12).integer;
    record.processStart = value(13).integer;
    return record;
}

} // namespace

namespace RunHistory {

qint64 append(Connection &connection, const RunRecord &record)
{
    // The write lock at once: the trim reads what the insert wrote.
    Transaction transaction(connection);
    Schema::prepare(connection, QString::fromLatin1(tableName));
    sqlite3 *db = transaction.handle();
    Statement insert(
        db,
        u"INSERT INTO QZRunLog (ProgramIndex, ProgramName, ProgramParameter, Started, "
        "RunId, Runner, "_s
            + outcomeColumns
            + u") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING RunIndex");
    QByteArray entryBytes;
    const QByteArray runner = ProcessTable::describe(ProcessTable::self());
    insert.bind(1, entryValue(record.entry, entryBytes));
    insert.bind(2, text(record.program));
    insert.bind(3, text(record.parameters));
    insert.bind(4, number(record.startedMs));
    insert.bind(5, optionalText(record.runId));
    insert.bind(6, text(runner));
    const Outcome outcome(record);
    outcome.bindTo(insert, 7);
    if (!insert.step())
        return 0;
    const qint64 id = insert.column(0, true).integer;
    while (insert.step()) { }

    // The numbers only grow, so the records to go are found by the key alone.
    Statement trim(db, u"DELETE FROM QZRunLog WHERE RunIndex <= ?"_s);
    trim.bind(1, number(id - limit));
    while (trim.step()) { }
    transaction.commit();
    return id;
}

bool update(Connection &connection, const RunRecord &record)
{
    sqlite3 *db = connection.handleForWriting();
    // The table may have been made again, or the file replaced, since the record was written.
    Schema::prepare(connection, QString::fromLatin1(tableName));
    QString assignments = outcomeColumns;
    assignments.replace(u", "_s, u" = ?, "_s);
    Statement statement(db,
                        u"UPDATE QZRunLog SET "_s + assignments
                            + u" = ? WHERE RunIndex = ? RETURNING RunIndex");
    const Outcome outcome(record);
    outcome.bindTo(statement, 1);
    statement.bind(9, number(record.id));
    const bool updated = statement.step();
    while (statement.step()) { }
    return updated;
}

std::vector<RunRecord> read(Connection &connection, qint64 after,
                            const std::optional<QString> &entry)
{
    std::vector<RunRecord> records;
    const int columnCount = historyColumns(connection);
    if (columnCount == 0)
        return records;
    // A history of an earlier version has no columns of its runs' processes yet.
    const QString selected = columnCount > 11
        ? columns
        : u"RunIndex, ProgramIndex, ProgramName, ProgramParameter, Opener, Started, Lifetime, "
          "Ending, Status, Detail, Collected, NULL, NULL, NULL"_s;
    Statement select(connection.handle(),
                     u"SELECT "_s + selected
                         + u" FROM QZRunLog WHERE RunIndex > ?"
                           " AND (? IS NULL OR CAST(ProgramIndex AS TEXT) = ?) ORDER BY RunIndex");
    const QByteArray entryBytes = entry ? entry->toUtf8() : QByteArray();
    select.bind(1, number(after));
    select.bind(2, entry ? text(entryBytes) : ValueView());
    select.bind(3, entry ? text(entryBytes) : ValueView());
    while (select.step())
        records.push_back(recordFrom(select));
    return records;
}

std::vector<LeftRunning> leftRunning(Connection &connection)
{
    std::vector<LeftRunning> runs;
    // Only this version writes records while they run, with the column of their runner.
    if (historyColumns(connection) <= 14)
        return runs;
    Statement select(connection.handle(),
                     u"SELECT "_s + columns
                         + u", Runner FROM QZRunLog WHERE Ending = 'running' ORDER BY RunIndex");
    while (select.step()) {
        const ValueView runner = select.column(14, false);
        runs.push_back({recordFrom(select), runner.isNull() ? QByteArray() : runner.toBytes()});
    }
    return runs;
}

bool markInterrupted(Connection &connection, const RunRecord &record)
{
    sqlite3 *db = connection.handleForWriting();
    Statement statement(db,
                        u"UPDATE QZRunLog SET Ending = ?, Detail = ?, Process = ? "
                        "WHERE RunIndex = ? AND Ending = 'running' RETURNING RunIndex"_s);
    const QByteArray ending = RunEndings::name(RunRecord::Ending::Interrupted).toUtf8();
    const QByteArray detail = record.detail.toUtf8();
    statement.bind(1, text(ending));
    statement.bind(2, optionalText(detail));
    statement.bind(3, optionalProcess(record.process));
    statement.bind(4, number(record.id));
    const bool marked = statement.step();
    while (statement.step()) { }
    return marked;
}

} // namespace RunHistory
