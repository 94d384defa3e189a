#include "store/Query.h"

#include "report/DataError.h"
#include "store/Connection.h"
#include "store/Statement.h"

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

ValueView Query::decodedValue(int column) const
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

bool Query::isIntegerColumn(int column) const
{
    return m_columns.at(size_t(column)).isInteger;
}

RowValues Query::currentRow() const
{
    checkActive();
    RowValues row;
    if (m_rows.isEmpty() && m_state == State::Browse)
        return row;
    for (int column = 0; column < int(m_columns.size()); ++column)
        row.push_back(StoredValue::copyOf(currentValue(column)));
    return row;
}

bool Query::sameRow(qsizetype row, const RowValues &values) const
{
    if (values.size() != m_columns.size())
        return false;
    for (size_t column = 0; column < values.size(); ++column) {
        if (!m_rows.value(row, int(column)).sameAs(values[column].view()))
            return false;
    }
    return true;
}

bool Query::locate(const RowValues &row)
{
    checkBrowseMode();
    readAll();
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (sameRow(i, row)) {
            setCursor(int(i), false);
            return true;
        }
    }
    return false;
}

void Query::setCursor(int row, bool eof)
{
    const bool moved = row != m_cursor;
    m_cursor = row;
    m_eof = eof;
    if (moved)
        Q_EMIT cursorMoved(row);
}

Query::RowReader::RowReader(const std::vector<Column> &columns)
    : m_values(columns.size())
    , m_integer(std::make_unique<bool[]>(columns.size()))
{
    for (size_t i = 0; i < columns.size(); ++i)
        m_integer[i] = columns[i].isInteger;
}

std::span<const ValueView> Query::RowReader::read(const Statement &statement)
{
    statement.row(m_values, {m_integer.get(), m_values.size()});
    return m_values;
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

    Statement statement(m_connection->handle(), m_sql.join(u'\n'));
    // The first step first: when another connection changed the table since this one last read
    // the schema, the step prepares the statement again, with the columns the table has now.
    const bool hasRow = statement.step();
    const int columnCount = statement.columnCount();
    if (columnCount == 0)
        fail(QStringLiteral("The SQL text returns no rows"));

    std::vector<Column> columns;
    for (int i = 0; i < columnCount; ++i) {
        ColumnSource source = statement.columnSource(i);
        Column column;
        column.isInteger = hasIntegerAffinity(source.declaredType);
        column.isKey = m_connection->isKeyColumn(source);
        column.name = std::move(source.name);
        column.database = std::move(source.database);
        column.table = std::move(source.table);
        column.origin = std::move(source.origin);
        columns.push_back(std::move(column));
    }
    // The first row answers a query read only at its start; a second row says the rest is left
    // to read when it is needed.
    m_columns = std::move(columns);
    m_rows.reuse();
    m_wholeResult = true;
    if (hasRow) {
        m_rows.append(RowReader(m_columns).read(statement));
        m_wholeResult = !statement.step();
    }
    m_source = m_connection->fileIdentity();
    m_tableFacts.reset();
    m_state = State::Browse;
    m_cursor = 0;
    m_eof = m_rows.isEmpty();
    Q_EMIT dataChanged();
    Q_EMIT cursorMoved(0);
}

bool Query::isFromCurrentFile() const
{
    return m_connection && FileIdentity::ofPath(m_connection->databasePath()) == m_source;
}

// Reads the whole result in place of its first row. Rows posted since the query opened are found
// in it by their key and the cursor stays on the row it was on.
void Query::readAll() const
{
    if (m_wholeResult)
        return;
    m_connection->open();
    if (m_connection->fileIdentity() != m_source)
        fail(QStringLiteral("The database file was replaced while the query was open"));
    Statement statement(m_connection->handle(), m_sql.join(u'\n'));
    if (statement.columnCount() != int(m_columns.size()))
        fail(QStringLiteral("The table's columns changed while the query was open"));
    // The rows posted since the query opened, kept aside while the result takes their place.
    std::vector<RowValues> posted;
    for (qsizetype i = 1; i < m_rows.size(); ++i) {
        posted.emplace_back();
        for (int column = 0; column < int(m_columns.size()); ++column)
            posted.back().push_back(StoredValue::copyOf(m_rows.value(i, column)));
    }
    const int postedKey = posted.empty() ? -1 : keyColumn();

    m_rows.reuse();
    RowReader reader(m_columns);
    while (statement.step())
        m_rows.append(reader.read(statement));
    std::vector<ValueView> row;
    int cursor = 0;
    for (size_t i = 0; i < posted.size(); ++i) {
        const ValueView key = posted[i][size_t(postedKey)].view();
        qsizetype found = 0;
        while (found < m_rows.size() && !m_rows.value(found, postedKey).sameAs(key))
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
    m_tableFacts.reset();
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
