#include "store/RunHistory.h"

#include "store/Connection.h"
#include "store/Statement.h"

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The columns are declared without types, so that every value keeps its own: the program's bytes
// as stored, a key that is not a number as its text.
const QString createTable =
    u"CREATE TABLE IF NOT EXISTS QZRunLog ("
    "RunIndex INTEGER PRIMARY KEY AUTOINCREMENT, "
    "ProgramIndex, ProgramName, ProgramParameter, Opener, "
    "Started INTEGER NOT NULL, Lifetime INTEGER NOT NULL, "
    "Ending TEXT NOT NULL, Status INTEGER, Detail TEXT, Collected INTEGER)"_s;
const QString columns = u"RunIndex, ProgramIndex, ProgramName, ProgramParameter, Opener, Started, "
                        "Lifetime, Ending, Status, Detail, Collected"_s;

constexpr std::array<std::pair<RunRecord::Ending, const char16_t *>, 6> endingNames = {{
    {RunRecord::Ending::AtTime, u"at-time"},
    {RunRecord::Ending::Exited, u"exited"},
    {RunRecord::Ending::Signal, u"signal"},
    {RunRecord::Ending::NotStarted, u"not-started"},
    {RunRecord::Ending::NotEnded, u"not-ended"},
    {RunRecord::Ending::Stopped, u"stopped"},
}};

void run(sqlite3 *db, const QString &sql)
{
    Statement statement(db, sql);
    while (statement.step()) { }
}

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

// Undoes a transaction that did not come to its end.
class Transaction final
{
public:
    explicit Transaction(sqlite3 *db)
        : m_db(db)
    {
        // The write lock at once: the trim reads what the insert wrote.
        run(m_db, u"BEGIN IMMEDIATE"_s);
    }
    ~Transaction()
    {
        if (m_open) {
            try {
                run(m_db, u"ROLLBACK"_s);
            } catch (...) {
                // The engine has rolled back already when it failed inside the transaction.
            }
        }
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    void commit()
    {
        run(m_db, u"COMMIT"_s);
        m_open = false;
    }

private:
    sqlite3 *m_db;
    bool m_open = true;
};

} // namespace

namespace RunHistory {

QString endingName(RunRecord::Ending ending)
{
    for (const auto &[value, name] : endingNames) {
        if (value == ending)
            return QString::fromUtf16(name);
    }
    return QString();
}

std::optional<RunRecord::Ending> endingFromName(const QString &name)
{
    for (const auto &[value, text] : endingNames) {
        if (name == QStringView(text))
            return value;
    }
    return std::nullopt;
}

qint64 append(Connection &connection, const RunRecord &record)
{
    sqlite3 *db = connection.handleForWriting();
    Transaction transaction(db);
    run(db, createTable);
    Statement insert(db,
                     u"INSERT INTO QZRunLog (ProgramIndex, ProgramName, ProgramParameter, Opener, "
                     "Started, Lifetime, Ending, Status, Detail, Collected) "
                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING RunIndex"_s);
    QByteArray entryBytes;
    const QByteArray ending = endingName(record.ending).toUtf8();
    const QByteArray detail = record.detail.toUtf8();
    insert.bind(1, entryValue(record.entry, entryBytes));
    insert.bind(2, text(record.program));
    insert.bind(3, text(record.parameters));
    insert.bind(4, record.opener.isEmpty() ? ValueView() : text(record.opener));
    insert.bind(5, number(record.startedMs));
    insert.bind(6, number(record.lifetimeMs));
    insert.bind(7, text(ending));
    insert.bind(8, optionalNumber(record.status));
    insert.bind(9, record.detail.isEmpty() ? ValueView() : text(detail));
    insert.bind(10, optionalNumber(record.collectedMs));
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

void update(Connection &connection, const RunRecord &record)
{
    sqlite3 *db = connection.handleForWriting();
    Statement statement(db,
                        u"UPDATE QZRunLog SET Lifetime = ?, Ending = ?, Status = ?, Detail = ?, "
                        "Collected = ? WHERE RunIndex = ?"_s);
    const QByteArray ending = endingName(record.ending).toUtf8();
    const QByteArray detail = record.detail.toUtf8();
    statement.bind(1, number(record.lifetimeMs));
    statement.bind(2, text(ending));
    statement.bind(3, optionalNumber(record.status));
    statement.bind(4, record.detail.isEmpty() ? ValueView() : text(detail));
    statement.bind(5, optionalNumber(record.collectedMs));
    statement.bind(6, number(record.id));
    while (statement.step()) { }
}

std::vector<RunRecord> read(Connection &connection, qint64 after,
                            const std::optional<QString> &entry)
{
    connection.dropIfReplaced();
    connection.open();
    sqlite3 *db = connection.handle();
    std::vector<RunRecord> records;
    {
        Statement exists(db, u"SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?"_s);
        const QByteArray name = tableName;
        exists.bind(1, text(name));
        if (!exists.step())
            return records;
    }
    Statement select(db,
                     u"SELECT "_s + columns
                         + u" FROM QZRunLog WHERE RunIndex > ?"
                           " AND (? IS NULL OR CAST(ProgramIndex AS TEXT) = ?) ORDER BY RunIndex");
    const QByteArray entryBytes = entry ? entry->toUtf8() : QByteArray();
    select.bind(1, number(after));
    select.bind(2, entry ? text(entryBytes) : ValueView());
    select.bind(3, entry ? text(entryBytes) : ValueView());
    while (select.step()) {
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
        record.ending = endingFromName(value(7).toString()).value_or(RunRecord::Ending::AtTime);
        if (!value(8).isNull())
            record.status = int(value(8).integer);
        record.detail = value(9).toString();
        if (!value(10).isNull())
            record.collectedMs = value(10).integer;
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace RunHistory
