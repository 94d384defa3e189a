#include "store/Query.h"

#include "report/DataError.h"
#include "store/Connection.h"
#include "store/Statement.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

QString quotedIdentifier(const QString &name)
{
    QString escaped = name;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

// SQLite's affinity rules for a declared column type: INTEGER and NUMERIC affinity are the ones
// that hold whole numbers, so those columns take the store's integer conversion.
bool hasIntegerAffinity(const char *declared)
{
    if (!declared)
        return false;
    const QByteArray type = QByteArray(declared).toUpper();
    if (type.contains("INT"))
        return true;
    for (const char *other : {"CHAR", "CLOB", "TEXT", "BLOB", "REAL", "FLOA", "DOUB"}) {
        if (type.contains(other))
            return false;
    }
    return !type.trimmed().isEmpty();
}

bool sameValue(const ValueView &a, const ValueView &b)
{
    return a.type == b.type && a.integer == b.integer && a.real == b.real && a.bytes == b.bytes;
}

} // namespace

Query::Query(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
{
    setObjectName(name);
}

Query::~Query() = default;

void Query::fail(const QString &text) const
{
    throw DatabaseError(m_name + QStringLiteral(": ") + text);
}

void Query::checkActive() const
{
    if (m_state == State::Inactive)
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void Query::checkBrowseMode()
{
    checkActive();
    if (m_state == State::Insert || m_state == State::Edit)
        post();
}

void Query::checkEditing(const Field &field) const
{
    checkActive();
    if (m_state != State::Insert && m_state != State::Edit)
        fail(QStringLiteral("Dataset not in edit or insert mode (setting field '%1')")
                 .arg(field.name()));
}

ValueView Query::currentValue(int column) const
{
    checkActive();
    if (m_state == State::Insert || m_state == State::Edit)
        return m_buffer.at(size_t(column)).view();
    if (m_rows.isEmpty())
        return {};
    if (m_currentRow != m_cursor || m_currentRevision != m_rows.revision()) {
        m_current.resize(m_columns.size());
        m_rows.row(m_cursor, m_current);
        m_currentRow = m_cursor;
        m_currentRevision = m_rows.revision();
    }
    return m_current[size_t(column)];
}

void Query::setCursor(int row, bool eof)
{
    const bool moved = row != m_cursor;
    m_cursor = row;
    m_eof = eof;
    if (moved)
        Q_EMIT cursorMoved(row);
}

void Query::readRow(const Statement &statement, std::vector<ValueView> &row) const
{
    row.resize(m_columns.size());
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = statement.column(int(i), m_columns[i].isInteger);
}

void Query::open()
{
    if (isActive())
        return;
    if (!m_connection)
        fail(QStringLiteral("Missing Connection or ConnectionString"));
    if (m_sql.join(QString()).trimmed().isEmpty())
        fail(QStringLiteral("The query has no SQL text"));
    m_connection->dropIfReplaced();
    m_connection->open();
    sqlite3 *db = m_connection->handle();

    Statement statement(db, m_sql.join(u'\n'));
    sqlite3_stmt *stmt = statement.get();
    const int columnCount = statement.columnCount();
    if (columnCount == 0)
        fail(QStringLiteral("The SQL text returns no rows"));

    std::vector<Column> columns;
    for (int i = 0; i < columnCount; ++i) {
        Column column;
        column.name = QString::fromUtf8(sqlite3_column_name(stmt, i));
        column.table = QString::fromUtf8(sqlite3_column_table_name(stmt, i));
        column.origin = QString::fromUtf8(sqlite3_column_origin_name(stmt, i));
        column.isInteger = hasIntegerAffinity(sqlite3_column_decltype(stmt, i));
        if (!column.table.isEmpty()) {
            int primaryKey = 0;
            sqlite3_table_column_metadata(db, sqlite3_column_database_name(stmt, i),
                                          sqlite3_column_table_name(stmt, i),
                                          sqlite3_column_origin_name(stmt, i), nullptr, nullptr,
                                          nullptr, &primaryKey, nullptr);
            column.isKey = primaryKey != 0;
        }
        columns.push_back(std::move(column));
    }
    m_columns = std::move(columns);
    // The first row answers a query read only at its start; a second row says the rest is left
    // to read when it is needed.
    m_rows.reuse();
    m_wholeResult = true;
    if (statement.step()) {
        std::vector<ValueView> row;
        readRow(statement, row);
        m_rows.append(row);
        m_wholeResult = !statement.step();
    }
    m_state = State::Browse;
    m_cursor = 0;
    m_eof = m_rows.isEmpty();
    Q_EMIT dataChanged();
    Q_EMIT cursorMoved(0);
}

// Reads the whole result in place of its first row. Rows posted since the query opened are found
// in it by their key and the cursor stays on the row it was on.
void Query::readAll() const
{
    if (m_wholeResult)
        return;
    m_connection->open();
    Statement statement(m_connection->handle(), m_sql.join(u'\n'));
    if (statement.columnCount() != int(m_columns.size()))
        fail(QStringLiteral("The table's columns changed while the query was open"));
    // The rows posted since the query opened, kept aside while the result takes their place.
    std::vector<std::vector<StoredValue>> posted;
    for (qsizetype i = 1; i < m_rows.size(); ++i) {
        posted.emplace_back();
        for (int column = 0; column < int(m_columns.size()); ++column)
            posted.back().push_back(StoredValue::copyOf(m_rows.value(i, column)));
    }
    const int postedKey = posted.empty() ? -1 : keyColumn();

    m_rows.reuse();
    std::vector<ValueView> row;
    while (statement.step()) {
        readRow(statement, row);
        m_rows.append(row);
    }
    int cursor = 0;
    for (size_t i = 0; i < posted.size(); ++i) {
        const ValueView key = posted[i][size_t(postedKey)].view();
        qsizetype found = 0;
        while (found < m_rows.size() && !sameValue(m_rows.value(found, postedKey), key))
            ++found;
        if (found == m_rows.size()) {
            row.clear();
            for (const StoredValue &value : posted[i])
                row.push_back(value.view());
            m_rows.append(row);
        }
        if (qsizetype(i) + 1 == m_cursor)
            cursor = int(found);
    }
    m_rows.releaseUnused();
    m_cursor = cursor;
    m_wholeResult = true;
    // Another process may have emptied the table since the query opened.
    if (m_rows.isEmpty())
        m_eof = true;
}

void Query::close()
{
    if (!isActive())
        return;
    m_state = State::Inactive;
    m_columns.clear();
    // The memory stays for the next open: a list is reloaded far more often than it is dropped.
    m_rows.reuse();
    m_wholeResult = true;
    m_buffer.clear();
    m_modified.clear();
    m_cursor = 0;
    m_eof = true;
    Q_EMIT dataChanged();
}

void Query::first()
{
    checkBrowseMode();
    // The first row of the result is always held, read or not.
    if (!m_rows.isEmpty())
        setCursor(0, false);
}

void Query::next()
{
    moveBy(1);
}

void Query::prior()
{
    moveBy(-1);
}

void Query::moveBy(int distance)
{
    checkBrowseMode();
    if (distance == 0)
        return;
    readAll();
    if (m_rows.isEmpty())
        return;
    if (distance < 0) {
        setCursor(qMax(0, m_cursor + distance), false);
        return;
    }
    if (m_eof)
        return;
    const qint64 target = qint64(m_cursor) + distance;
    if (target >= m_rows.size())
        setCursor(int(m_rows.size() - 1), true);
    else
        setCursor(int(target), false);
}

bool Query::eof() const
{
    return !isActive() || m_eof;
}

int Query::recordCount() const
{
    checkActive();
    readAll();
    return int(m_rows.size());
}

int Query::recNo() const
{
    if (m_cursor != 0)
        readAll();
    return m_cursor;
}

int Query::fieldCount() const
{
    return int(m_columns.size());
}

QString Query::fieldName(int column) const
{
    return column >= 0 && size_t(column) < m_columns.size() ? m_columns[size_t(column)].name
                                                            : QString();
}

int Query::fieldIndex(const QString &name) const
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

Field Query::fieldByName(const QString &name)
{
    checkActive();
    const int column = fieldIndex(name);
    if (column < 0)
        fail(QStringLiteral("Field '%1' not found").arg(name));
    return Field(this, column);
}

QString Query::text(int row, int column) const
{
    if (!isActive() || column < 0 || size_t(column) >= m_columns.size())
        return QString();
    readAll();
    if (row < 0 || row >= m_rows.size())
        return QString();
    return m_rows.value(row, column).toString();
}

void Query::insert()
{
    checkBrowseMode();
    // Without a key, rows posted now could not be told apart from the result read later.
    if (std::none_of(m_columns.begin(), m_columns.end(), [](const Column &c) { return c.isKey; }))
        readAll();
    m_buffer.assign(m_columns.size(), StoredValue());
    m_modified.assign(m_columns.size(), false);
    m_state = State::Insert;
}

void Query::edit()
{
    checkActive();
    if (m_state == State::Insert || m_state == State::Edit)
        return;
    readAll();
    if (m_rows.isEmpty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    m_buffer.clear();
    for (size_t i = 0; i < m_columns.size(); ++i)
        m_buffer.push_back(StoredValue::copyOf(m_rows.value(m_cursor, int(i))));
    m_modified.assign(m_columns.size(), false);
    m_state = State::Edit;
}

void Query::post()
{
    checkActive();
    if (m_state == State::Insert)
        insertRow();
    else if (m_state == State::Edit)
        updateRow();
    else
        fail(QStringLiteral("Dataset not in edit or insert mode"));
}

void Query::cancel()
{
    if (m_state == State::Insert || m_state == State::Edit) {
        m_state = State::Browse;
        m_buffer.clear();
        m_modified.clear();
    }
}

int Query::keyColumn() const
{
    int key = -1;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].isKey) {
            if (key >= 0)
                fail(QStringLiteral("The table's key has more than one column"));
            key = int(i);
        }
    }
    if (key < 0)
        fail(QStringLiteral("The rows hold no key column to find them again by"));
    return key;
}

QString Query::tableName() const
{
    QString table;
    for (const Column &column : m_columns) {
        if (column.table.isEmpty())
            continue;
        if (!table.isEmpty() && column.table != table)
            fail(QStringLiteral("Rows joined from several tables cannot be changed"));
        table = column.table;
    }
    if (table.isEmpty())
        fail(QStringLiteral("The rows come from no table and cannot be changed"));
    return table;
}

// Reads a written row back from the table, by rowid when no key is given, so that values the
// database filled in (the key above all) are in the result: in place of `row`, or appended
// when `row` is past the end.
void Query::readBack(const ValueView &key, qsizetype row)
{
    QStringList names;
    for (const Column &column : m_columns)
        names.append(column.origin.isEmpty() ? QStringLiteral("NULL")
                                             : quotedIdentifier(column.origin));
    const bool byKey = !key.isNull();
    const QString where = byKey ? quotedIdentifier(m_columns.at(size_t(keyColumn())).origin)
                                : QStringLiteral("rowid");
    sqlite3 *db = m_connection->handle();
    Statement statement(db,
                        QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                            .arg(names.join(u','), quotedIdentifier(tableName()), where));
    statement.bind(
        1,
        byKey ? key : ValueView {ValueView::Type::Integer, sqlite3_last_insert_rowid(db), 0, {}});
    std::vector<ValueView> values(m_columns.size());
    const bool found = statement.step();
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = !found || m_columns[i].origin.isEmpty()
            ? m_buffer[i].view()
            : statement.column(int(i), m_columns[i].isInteger);
    if (row < m_rows.size())
        m_rows.replace(row, values);
    else
        m_rows.append(values);
}

void Query::insertRow()
{
    const QString table = tableName();
    QStringList names;
    QStringList marks;
    std::vector<ValueView> values;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_modified[i] && !m_columns[i].origin.isEmpty()) {
            names.append(quotedIdentifier(m_columns[i].origin));
            marks.append(QStringLiteral("?"));
            values.push_back(m_buffer[i].view());
        }
    }
    sqlite3 *db = m_connection->handleForWriting();
    const QString sql = names.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quotedIdentifier(table))
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
              .arg(quotedIdentifier(table), names.join(u','), marks.join(u','));
    Statement statement(db, sql);
    for (size_t i = 0; i < values.size(); ++i)
        statement.bind(int(i) + 1, values[i]);
    m_connection->write(statement);

    readBack({}, m_rows.size());
    m_state = State::Browse;
    m_buffer.clear();
    m_modified.clear();
    m_eof = false;
    Q_EMIT dataChanged();
    setCursor(int(m_rows.size() - 1), false);
}

void Query::updateRow()
{
    const QString table = tableName();
    const int key = keyColumn();
    QStringList assignments;
    std::vector<ValueView> values;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_modified[i] && !m_columns[i].origin.isEmpty()) {
            assignments.append(quotedIdentifier(m_columns[i].origin) + QStringLiteral(" = ?"));
            values.push_back(m_buffer[i].view());
        }
    }
    if (!assignments.isEmpty()) {
        sqlite3 *db = m_connection->handleForWriting();
        Statement statement(db,
                            QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                .arg(quotedIdentifier(table), assignments.join(u','),
                                     quotedIdentifier(m_columns.at(size_t(key)).origin)));
        for (size_t i = 0; i < values.size(); ++i)
            statement.bind(int(i) + 1, values[i]);
        statement.bind(int(values.size()) + 1, m_rows.value(m_cursor, key));
        m_connection->write(statement);
        if (sqlite3_changes(db) == 0)
            fail(QStringLiteral("The record to change no longer exists; another user may have "
                                "deleted it"));
        readBack(m_buffer[size_t(key)].view(), m_cursor);
    }
    m_state = State::Browse;
    m_buffer.clear();
    m_modified.clear();
    Q_EMIT dataChanged();
}

void Query::deleteRecord()
{
    checkActive();
    if (m_state == State::Insert) {
        cancel();
        return;
    }
    readAll();
    if (m_rows.isEmpty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    cancel();
    const QString table = tableName();
    const int key = keyColumn();
    sqlite3 *db = m_connection->handleForWriting();
    Statement statement(
        db,
        QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
            .arg(quotedIdentifier(table), quotedIdentifier(m_columns.at(size_t(key)).origin)));
    statement.bind(1, m_rows.value(m_cursor, key));
    m_connection->write(statement);
    if (sqlite3_changes(db) == 0)
        fail(QStringLiteral("The record to delete no longer exists; another user may have "
                            "deleted it"));
    m_rows.remove(m_cursor);
    const int row = qMin(m_cursor, int(m_rows.size()) - 1);
    m_cursor = qMax(row, 0);
    m_eof = m_rows.isEmpty();
    Q_EMIT dataChanged();
    Q_EMIT cursorMoved(m_cursor);
}
