// The writing half of Query: the row being inserted or edited, and the statements that write
// rows to their table and find them again there.
#include "store/Query.h"

#include "report/DataError.h"
#include "store/Connection.h"
#include "store/ScheduleSql.h"
#include "store/Statement.h"
#include "store/Transaction.h"

#include <algorithm>

namespace {

QString quotedIdentifier(const QString &name)
{
    QString escaped = name;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

QString quotedText(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\'', QStringLiteral("''"));
    return u'\'' + escaped + u'\'';
}

// The condition that a column holds exactly a value as the store read it: the same type and the
// same number or bytes, whatever the column's affinity or collation ("+" takes the affinity away,
// COLLATE BINARY the collation). An empty text or blob in an integer column reads as NULL, so it
// matches NULL there.
QString holdsExactly(const QString &column, const ValueView &value, bool integerColumn)
{
    switch (value.type) {
    case ValueView::Type::Null:
        return integerColumn ? QStringLiteral("(%1 IS NULL OR (typeof(%1) IN ('text', 'blob') AND "
                                              "length(CAST(%1 AS BLOB)) = 0))")
                                   .arg(column)
                             : column + QStringLiteral(" IS NULL");
    case ValueView::Type::Integer:
        return QStringLiteral("typeof(%1) = 'integer' AND +%1 = ?").arg(column);
    case ValueView::Type::Real:
        return QStringLiteral("typeof(%1) = 'real' AND +%1 = ?").arg(column);
    case ValueView::Type::Text:
        return QStringLiteral("typeof(%1) = 'text' AND +%1 = ? COLLATE BINARY").arg(column);
    case ValueView::Type::Blob:
        break;
    }
    return QStringLiteral("typeof(%1) = 'blob' AND +%1 = ?").arg(column);
}

// Runs a change, or the reading that begins one; when another program held the file up, the
// person is told that nothing was saved, which a read on its own does not say.
template<typename Change> void refusedWhenHeld(Change &&change)
{
    try {
        change();
    } catch (const DatabaseBusyError &) {
        throw DatabaseBusyError(ScheduleSql::inUse);
    }
}

} // namespace

void Query::checkEditing(int column) const
{
    checkActive();
    if (m_state != State::Insert && m_state != State::Edit)
        fail(QStringLiteral("Dataset not in edit or insert mode (setting field '%1')")
                 .arg(fieldName(column)));
}

void Query::setFieldValue(int column, StoredValue value)
{
    checkEditing(column);
    m_buffer.at(size_t(column)) = std::move(value);
    m_modified.at(size_t(column)) = true;
}

void Query::insert()
{
    checkBrowseMode();
    // Without a key column, rows posted now could not be told apart from the result read later.
    if (keyColumn() < 0)
        refusedWhenHeld([this] { readAll(); });
    m_buffer.assign(m_columns.size(), StoredValue());
    m_modified.assign(m_columns.size(), false);
    m_state = State::Insert;
}

void Query::edit()
{
    checkActive();
    if (m_state == State::Insert || m_state == State::Edit)
        return;
    refusedWhenHeld([this] { readAll(); });
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
        refusedWhenHeld([this] { insertRow(); });
    else if (m_state == State::Edit)
        refusedWhenHeld([this] { updateRow(); });
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

void Query::checkRowsCanBeChanged() const
{
    checkActive();
    refusedWhenHeld([this] { rowAddress(); });
}

// The result's one column of its table's primary key, or -1 when it has none or several.
int Query::keyColumn() const
{
    int key = -1;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].isKey) {
            if (key >= 0)
                return -1;
            key = int(i);
        }
    }
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

const Query::TableFacts &Query::tableFacts() const
{
    if (m_tableFacts)
        return *m_tableFacts;
    const QString table = tableName();
    QString database;
    for (const Column &column : m_columns) {
        if (column.table == table)
            database = column.database;
    }
    const QString pragma = QStringLiteral("PRAGMA %1.%2(%3)").arg(quotedIdentifier(database));
    m_connection->open();
    sqlite3 *db = m_connection->handle();

    bool withoutRowid = false;
    Statement list(db, pragma.arg(QStringLiteral("table_list"), quotedText(table)));
    while (list.step())
        withoutRowid = list.column(4, true).integer != 0;

    struct KeyPart
    {
        qint64 position;
        QString name;
        QByteArray type;
        bool hasDefault;
    };
    std::vector<KeyPart> key;
    QStringList names;
    Statement columns(db, pragma.arg(QStringLiteral("table_xinfo"), quotedText(table)));
    while (columns.step()) {
        const QString name = columns.column(1, false).toString();
        names.append(name.toLower());
        if (const qint64 position = columns.column(5, true).integer; position > 0)
            key.push_back({position, name, columns.column(2, false).toBytes(),
                           !columns.column(4, false).isNull()});
    }
    std::sort(key.begin(), key.end(),
              [](const KeyPart &a, const KeyPart &b) { return a.position < b.position; });

    TableFacts facts;
    for (const KeyPart &part : key)
        facts.key.append(part.name);
    if (!withoutRowid) {
        // A column of the table may take any of the rowid's names for itself.
        for (const char *name : {"rowid", "_rowid_", "oid"}) {
            if (!names.contains(QLatin1StringView(name))) {
                facts.rowid = QLatin1StringView(name);
                break;
            }
        }
    }
    // A lone key declared INTEGER in a table with a rowid is the rowid itself, which the table
    // fills in; any other whole-number key is left NULL unless someone fills it in.
    const bool rowidAlias =
        !withoutRowid && key.size() == 1 && key.front().type.toUpper() == "INTEGER";
    if (key.size() == 1 && !rowidAlias && hasIntegerAffinity(key.front().type)
        && !key.front().hasDefault)
        facts.nextKey = key.front().name;
    m_tableFacts = std::move(facts);
    return *m_tableFacts;
}

Query::RowAddress Query::rowAddress() const
{
    const QString table = tableName();
    for (const Column &column : m_columns) {
        if (column.origin.isEmpty())
            fail(QStringLiteral("The column '%1' is not read from the table '%2', so its rows "
                                "cannot be found again to be changed")
                     .arg(column.name, table));
    }
    const TableFacts &facts = tableFacts();
    if (!facts.rowid.isEmpty())
        return {table, {facts.rowid}};
    if (facts.key.isEmpty())
        fail(QStringLiteral("The table '%1' has neither a key nor a rowid to find its rows "
                            "again by")
                 .arg(table));
    return {table, facts.key};
}

// The condition that picks the one row of the table that holds every value of the given row as
// the query read it, or none when no row does; its values to bind are appended to `values`.
QString Query::rowCondition(const RowAddress &address, qsizetype row,
                            std::vector<ValueView> &values) const
{
    QStringList identity;
    for (const QString &name : address.identity)
        identity.append(quotedIdentifier(name));
    const QString identityList =
        identity.size() == 1 ? identity.front() : u'(' + identity.join(QStringLiteral(", ")) + u')';
    QStringList terms;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        const Column &column = m_columns[i];
        const QString name = quotedIdentifier(column.origin);
        const ValueView value = m_rows.value(row, int(i));
        // A plain comparison first, which the key's index can answer.
        if (column.isKey && !value.isNull()) {
            terms.append(name + QStringLiteral(" = ?"));
            values.push_back(value);
        }
        terms.append(holdsExactly(name, value, column.isInteger));
        if (!value.isNull())
            values.push_back(value);
    }
    return QStringLiteral("%1 IN (SELECT %1 FROM %2 WHERE %3 LIMIT 1)")
        .arg(identityList, quotedIdentifier(address.table), terms.join(QStringLiteral(" AND ")));
}

QString Query::returnedColumns() const
{
    QStringList names;
    for (const Column &column : m_columns)
        names.append(column.origin.isEmpty() ? QStringLiteral("NULL")
                                             : quotedIdentifier(column.origin));
    return QStringLiteral(" RETURNING ") + names.join(u',');
}

// Runs a statement that writes one row and returns it: false when it wrote none. The row, as the
// table returned it (with the values the database filled in, the key above all), takes the place
// of `row` once the statement has ended well, or is appended when `row` is past the end.
std::optional<RowValues> Query::writeRow(Statement &statement)
{
    if (!m_connection->write(statement))
        return std::nullopt;
    RowValues written;
    for (size_t i = 0; i < m_columns.size(); ++i)
        written.push_back(m_columns[i].origin.isEmpty() ? m_buffer[i]
                                                        : StoredValue::copyOf(statement.column(
                                                            int(i), m_columns[i].isInteger)));
    // The change is only made once the statement has ended: it may yet fail to be committed.
    while (m_connection->write(statement)) { }
    return written;
}

// Takes the written row in place of `row`, or appends it when `row` is past the end: only once
// everything written with it is in the file too.
void Query::keepWritten(qsizetype row, const RowValues &written)
{
    std::vector<ValueView> values;
    for (const StoredValue &value : written)
        values.push_back(value.view());
    if (row < m_rows.size())
        m_rows.replace(row, values);
    else
        m_rows.append(values);
}

void Query::setWrittenWith(const QString &keyName, WrittenWith writtenWith)
{
    m_writtenWithKey = keyName;
    m_writtenWith = std::move(writtenWith);
}

// What is written with the row, then the transaction's end.
void Query::writeWith(Transaction *transaction, const RowValues &row)
{
    if (!transaction)
        return;
    const int key = fieldIndex(m_writtenWithKey);
    m_writtenWith(*transaction, key < 0 ? ValueView() : row.at(size_t(key)).view());
    transaction->commit();
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
    std::optional<Transaction> transaction;
    if (m_writtenWith)
        transaction.emplace(*m_connection);
    // A whole-number key that the table does not fill in gets the next key in the same
    // statement, so that no other writer can take it in between.
    if (const QString key = tableFacts().nextKey;
        !key.isEmpty() && !names.contains(quotedIdentifier(key), Qt::CaseInsensitive)) {
        const QString column = quotedIdentifier(key);
        names.append(column);
        marks.append(QStringLiteral("coalesce((SELECT %1 FROM %2 WHERE typeof(%1) = 'integer' "
                                    "ORDER BY %1 DESC LIMIT 1), 0) + 1")
                         .arg(column, quotedIdentifier(table)));
    }
    const QString sql = names.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quotedIdentifier(table))
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
              .arg(quotedIdentifier(table), names.join(u','), marks.join(u','));
    Statement statement(db, sql + returnedColumns());
    for (size_t i = 0; i < values.size(); ++i)
        statement.bind(int(i) + 1, values[i]);
    const std::optional<RowValues> written = writeRow(statement);
    if (!written)
        fail(QStringLiteral("The new row was not written"));
    writeWith(transaction ? &*transaction : nullptr, *written);
    keepWritten(m_rows.size(), *written);

    m_state = State::Browse;
    m_buffer.clear();
    m_modified.clear();
    m_eof = false;
    Q_EMIT dataChanged();
    setCursor(int(m_rows.size() - 1), false);
}

void Query::updateRow()
{
    QStringList assignments;
    std::vector<ValueView> values;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_modified[i] && !m_columns[i].origin.isEmpty()) {
            assignments.append(quotedIdentifier(m_columns[i].origin) + QStringLiteral(" = ?"));
            values.push_back(m_buffer[i].view());
        }
    }
    if (!assignments.isEmpty() || m_writtenWith) {
        const RowAddress address = rowAddress();
        sqlite3 *db = m_connection->handleForWriting();
        if (m_connection->fileIdentity() != m_source)
            throw StaleRowError(ScheduleSql::changedElsewhere);
        std::optional<Transaction> transaction;
        if (m_writtenWith)
            transaction.emplace(*m_connection);
        // With nothing of its own to change, the row is only checked to be as it was read.
        if (assignments.isEmpty())
            assignments.append(quotedIdentifier(m_columns.front().origin) + u" = "
                               + quotedIdentifier(m_columns.front().origin));
        const QString condition = rowCondition(address, m_cursor, values);
        Statement statement(
            db,
            QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                    .arg(quotedIdentifier(address.table), assignments.join(u','), condition)
                + returnedColumns());
        for (size_t i = 0; i < values.size(); ++i)
            statement.bind(int(i) + 1, values[i]);
        const std::optional<RowValues> written = writeRow(statement);
        if (!written)
            throw StaleRowError(ScheduleSql::changedElsewhere);
        writeWith(transaction ? &*transaction : nullptr, *written);
        keepWritten(m_cursor, *written);
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
    refusedWhenHeld([this] { deleteRow(); });
}

void Query::deleteRow()
{
    readAll();
    if (m_rows.isEmpty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    cancel();
    const RowAddress address = rowAddress();
    sqlite3 *db = m_connection->handleForWriting();
    if (m_connection->fileIdentity() != m_source)
        throw StaleRowError(ScheduleSql::changedElsewhere);
    std::optional<Transaction> transaction;
    if (m_writtenWith)
        transaction.emplace(*m_connection);
    std::vector<ValueView> values;
    const QString condition = rowCondition(address, m_cursor, values);
    Statement statement(db,
                        QStringLiteral("DELETE FROM %1 WHERE %2 RETURNING 1")
                            .arg(quotedIdentifier(address.table), condition));
    for (size_t i = 0; i < values.size(); ++i)
        statement.bind(int(i) + 1, values[i]);
    if (!m_connection->write(statement))
        throw StaleRowError(ScheduleSql::changedElsewhere);
    while (m_connection->write(statement)) { }
    writeWith(transaction ? &*transaction : nullptr, currentRow());
    m_rows.remove(m_cursor);
    const int row = qMin(m_cursor, int(m_rows.size()) - 1);
    m_cursor = qMax(row, 0);
    m_eof = m_rows.isEmpty();
    Q_EMIT dataChanged();
    Q_EMIT cursorMoved(m_cursor);
}
