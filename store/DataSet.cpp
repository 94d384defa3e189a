#include "DataSet.h"

#include "DataError.h"
#include "IntegerText.h"

#include <QFileInfo>

#include <limits>

#include <sqlite3.h>

namespace {

// Splits "key=value;key=value" into items; a value may be enclosed in double quotes to hold ";".
QList<std::pair<QString, QString>> connectionItems(const QString &text)
{
    QList<std::pair<QString, QString>> items;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype equals = text.indexOf(u'=', i);
        const qsizetype semicolon = text.indexOf(u';', i);
        if (equals < 0)
            break;
        if (semicolon >= 0 && semicolon < equals) {
            i = semicolon + 1;
            continue;
        }
        const QString key = text.mid(i, equals - i).trimmed();
        i = equals + 1;
        while (i < text.size() && text.at(i) == u' ')
            ++i;
        QString value;
        qsizetype end;
        if (i < text.size() && text.at(i) == u'"') {
            qsizetype closing = text.indexOf(u'"', i + 1);
            if (closing < 0)
                closing = text.size();
            value = text.mid(i + 1, closing - i - 1);
            end = text.indexOf(u';', closing);
        } else {
            end = text.indexOf(u';', i);
            value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
        }
        if (!key.isEmpty())
            items.append({key, value});
        i = end < 0 ? text.size() : end + 1;
    }
    return items;
}

QString quotedIdentifier(const QString &name)
{
    QString escaped = name;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

QString engineMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
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

} // namespace

// A prepared statement that is finalised however the code leaves its scope.
class Statement final
{
public:
    Statement(sqlite3 *db, const QString &sql)
        : m_db(db)
    {
        const QByteArray text = sql.toUtf8();
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, nullptr)
            != SQLITE_OK)
            throw ProviderError(engineMessage(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return m_stmt; }

    void bind(int index, const QVariant &value)
    {
        int rc = SQLITE_OK;
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            rc = sqlite3_bind_null(m_stmt, index);
            break;
        case QMetaType::LongLong:
        case QMetaType::Int:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(m_stmt, index, bytes.constData(), quint64(bytes.size()),
                                     SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(m_stmt, index, text.constData(), quint64(text.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        }
        }
        if (rc != SQLITE_OK)
            throw ProviderError(engineMessage(m_db));
    }

    // Steps once; true while there is a row.
    bool step()
    {
        m_result = sqlite3_step(m_stmt);
        if (m_result == SQLITE_ROW)
            return true;
        if (m_result == SQLITE_DONE)
            return false;
        throw ProviderError(engineMessage(m_db));
    }
    // The primary result code of the last step.
    int result() const { return m_result & 0xff; }

    // Texts and blobs are kept as their stored bytes; an empty text in an integer column is
    // NULL, as the store itself writes an empty text there.
    QVariant column(int index, bool integerColumn) const
    {
        switch (sqlite3_column_type(m_stmt, index)) {
        case SQLITE_INTEGER:
            return qint64(sqlite3_column_int64(m_stmt, index));
        case SQLITE_FLOAT:
            return sqlite3_column_double(m_stmt, index);
        case SQLITE_BLOB:
        case SQLITE_TEXT: {
            // Text as UTF-8 bytes (the file's own bytes unless the file stores UTF-16).
            const void *bytes = sqlite3_column_type(m_stmt, index) == SQLITE_TEXT
                ? static_cast<const void *>(sqlite3_column_text(m_stmt, index))
                : sqlite3_column_blob(m_stmt, index);
            const int size = sqlite3_column_bytes(m_stmt, index);
            if (size == 0 && integerColumn)
                return QVariant();
            return QByteArray(static_cast<const char *>(bytes), size);
        }
        default:
            return QVariant();
        }
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    int m_result = SQLITE_OK;
};

namespace {

QString textOf(const QVariant &value)
{
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    return value.toString();
}

QByteArray bytesOf(const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    return textOf(value).toUtf8();
}

const QVariant nullValue;

} // namespace

// ---------------------------------------------------------------------------------------------

Connection::Connection(const QString &connectionString, QObject *parent)
    : QObject(parent)
    , m_connectionString(connectionString)
{ }

Connection::~Connection()
{
    close();
}

QString Connection::connectionItem(const QString &key) const
{
    for (const auto &[itemKey, value] : connectionItems(m_connectionString)) {
        if (itemKey.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QString();
}

void Connection::open()
{
    if (m_db)
        return;
    const QString provider = connectionItem(QStringLiteral("Provider"));
    if (provider.compare(QLatin1StringView(providerName), Qt::CaseInsensitive) != 0) {
        throw ProviderError(QStringLiteral("Provider '%1' is not known; the schedule database is "
                                           "opened with the provider '%2'")
                                .arg(provider, QLatin1StringView(providerName)));
    }
    const QString path = connectionItem(QStringLiteral("Data Source"));
    if (path.isEmpty())
        throw ProviderError(QStringLiteral("The connection string names no Data Source"));
    if (!QFileInfo::exists(path))
        throw ProviderError(QStringLiteral("Could not find file '%1'").arg(path));

    sqlite3 *db = nullptr;
    // Read-write on an existing file only: a missing database is an error, not a new empty one.
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = db ? engineMessage(db) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        throw ProviderError(QStringLiteral("Cannot open file '%1': %2").arg(path, reason));
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    // Opening is lazy; reading the schema proves the file is a database at all.
    const int check = sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    if (check != SQLITE_OK) {
        const QString reason = check == SQLITE_NOTADB
            ? QStringLiteral("the file is not an SQLite database")
            : engineMessage(db);
        sqlite3_close(db);
        throw ProviderError(QStringLiteral("Cannot open file '%1': %2").arg(path, reason));
    }
    m_db = db;
}

void Connection::close()
{
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

QString Connection::databasePath() const
{
    return connectionItem(QStringLiteral("Data Source"));
}

void Connection::dropIfReplaced()
{
    if (!m_db)
        return;
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
        close();
}

sqlite3 *Connection::handleForWriting()
{
    dropIfReplaced();
    open();
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        close();
        open();
    }
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        const QString reason = notWritableReason();
        throw DatabaseError(reason.isEmpty()
                                ? QStringLiteral("The schedule database '%1' is open read-only; "
                                                 "the change was not saved")
                                      .arg(databasePath())
                                : reason);
    }
    return m_db;
}

QString Connection::notWritableReason() const
{
    const QFileInfo file(databasePath());
    if (!file.isWritable()) {
        return QStringLiteral("The schedule database '%1' is read-only for this user; the change "
                              "was not saved")
            .arg(file.filePath());
    }
    const QFileInfo folder(file.absolutePath());
    if (!folder.isWritable()) {
        return QStringLiteral("The folder '%1' cannot be written by this user, and the schedule "
                              "database there needs it for its journal; the change was not saved")
            .arg(folder.filePath());
    }
    return QString();
}

// ---------------------------------------------------------------------------------------------

const QString &Field::name() const
{
    return m_query->m_columns.at(m_column).name;
}

bool Field::isNull() const
{
    return m_query->currentValue(m_column).isNull();
}

QString Field::asString() const
{
    return textOf(m_query->currentValue(m_column));
}

QByteArray Field::asBytes() const
{
    return bytesOf(m_query->currentValue(m_column));
}

qint32 Field::asInteger() const
{
    const QVariant &value = m_query->currentValue(m_column);
    if (value.isNull())
        return 0;
    if (value.typeId() == QMetaType::LongLong) {
        const qint64 number = value.toLongLong();
        if (number >= std::numeric_limits<qint32>::min()
            && number <= std::numeric_limits<qint32>::max())
            return qint32(number);
    } else if (value.typeId() == QMetaType::Double) {
        const double number = value.toDouble();
        if (number >= std::numeric_limits<qint32>::min()
            && number <= std::numeric_limits<qint32>::max() && qint32(number) == number)
            return qint32(number);
    } else if (const auto number = integerFromText(textOf(value))) {
        return *number;
    }
    throw DatabaseError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                            .arg(textOf(value), name()));
}

void Field::setAsString(const QString &text)
{
    m_query->checkEditing(*this);
    QVariant value = text;
    if (m_query->m_columns.at(m_column).isInteger) {
        if (text.isEmpty()) {
            value = QVariant();
        } else if (const auto number = integerFromText(text)) {
            value = qint64(*number);
        } else {
            throw DatabaseError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                                    .arg(text, name()));
        }
    }
    m_query->m_buffer[m_column] = value;
    m_query->m_modified[m_column] = true;
}

// ---------------------------------------------------------------------------------------------

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

const QVariant &Query::currentValue(int column) const
{
    checkActive();
    if (m_state == State::Insert || m_state == State::Edit)
        return m_buffer.at(column);
    if (m_rows.isEmpty())
        return nullValue;
    return m_rows.at(m_cursor).at(column);
}

void Query::setCursor(int row, bool eof)
{
    const bool moved = row != m_cursor;
    m_cursor = row;
    m_eof = eof;
    if (moved)
        Q_EMIT cursorMoved(row);
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
    const int columnCount = sqlite3_column_count(stmt);
    if (columnCount == 0)
        fail(QStringLiteral("The SQL text returns no rows"));

    QList<Column> columns;
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
        columns.append(column);
    }
    QList<QList<QVariant>> rows;
    while (statement.step()) {
        QList<QVariant> row;
        row.reserve(columnCount);
        for (int i = 0; i < columnCount; ++i)
            row.append(statement.column(i, columns.at(i).isInteger));
        rows.append(std::move(row));
    }

    m_columns = std::move(columns);
    m_rows = std::move(rows);
    m_state = State::Browse;
    m_cursor = 0;
    m_eof = m_rows.isEmpty();
    Q_EMIT dataChanged();
    Q_EMIT cursorMoved(0);
}

void Query::close()
{
    if (!isActive())
        return;
    m_state = State::Inactive;
    m_columns.clear();
    m_rows.clear();
    m_buffer.clear();
    m_modified.clear();
    m_cursor = 0;
    m_eof = true;
    Q_EMIT dataChanged();
}

void Query::first()
{
    checkBrowseMode();
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
    if (distance == 0 || m_rows.isEmpty())
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
    return int(m_rows.size());
}

int Query::recNo() const
{
    return m_cursor;
}

int Query::fieldCount() const
{
    return int(m_columns.size());
}

QString Query::fieldName(int column) const
{
    return m_columns.value(column).name;
}

int Query::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
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

QVariant Query::value(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return QVariant();
    return m_rows.at(row).at(column);
}

void Query::insert()
{
    checkBrowseMode();
    m_buffer = QList<QVariant>(m_columns.size());
    m_modified = QList<bool>(m_columns.size(), false);
    m_state = State::Insert;
}

void Query::edit()
{
    checkActive();
    if (m_state == State::Insert || m_state == State::Edit)
        return;
    if (m_rows.isEmpty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    m_buffer = m_rows.at(m_cursor);
    m_modified = QList<bool>(m_columns.size(), false);
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
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns.at(i).isKey) {
            if (key >= 0)
                fail(QStringLiteral("The table's key has more than one column"));
            key = i;
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

// Runs a statement that changes the file. When the engine could not write because of the file's
// or its folder's permissions, the error names which one, instead of the engine's own words.
void Query::execWrite(Statement &statement) const
{
    try {
        statement.step();
    } catch (const ProviderError &) {
        const int result = statement.result();
        if (result == SQLITE_READONLY || result == SQLITE_CANTOPEN || result == SQLITE_PERM
            || result == SQLITE_IOERR) {
            if (const QString reason = m_connection->notWritableReason(); !reason.isEmpty())
                throw DatabaseError(reason);
        }
        throw;
    }
}

// Reads one row of the table again, by rowid when the key is not given, so that values the
// database filled in (the key above all) are in the result.
QList<QVariant> Query::readRow(const QVariant &key) const
{
    QStringList names;
    for (const Column &column : m_columns)
        names.append(column.origin.isEmpty() ? QStringLiteral("NULL")
                                             : quotedIdentifier(column.origin));
    const QString where = key.isValid() ? quotedIdentifier(m_columns.at(keyColumn()).origin)
                                        : QStringLiteral("rowid");
    sqlite3 *db = m_connection->handle();
    Statement statement(db,
                        QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                            .arg(names.join(u','), quotedIdentifier(tableName()), where));
    statement.bind(1, key.isValid() ? key : QVariant(qint64(sqlite3_last_insert_rowid(db))));
    if (!statement.step())
        return m_buffer;
    QList<QVariant> row;
    for (int i = 0; i < m_columns.size(); ++i)
        row.append(m_columns.at(i).origin.isEmpty()
                       ? m_buffer.at(i)
                       : statement.column(i, m_columns.at(i).isInteger));
    return row;
}

void Query::insertRow()
{
    const QString table = tableName();
    QStringList names;
    QStringList marks;
    QList<QVariant> values;
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_modified.at(i) && !m_columns.at(i).origin.isEmpty()) {
            names.append(quotedIdentifier(m_columns.at(i).origin));
            marks.append(QStringLiteral("?"));
            values.append(m_buffer.at(i));
        }
    }
    sqlite3 *db = m_connection->handleForWriting();
    const QString sql = names.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quotedIdentifier(table))
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
              .arg(quotedIdentifier(table), names.join(u','), marks.join(u','));
    Statement statement(db, sql);
    for (int i = 0; i < values.size(); ++i)
        statement.bind(i + 1, values.at(i));
    execWrite(statement);

    m_rows.append(readRow(QVariant()));
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
    QList<QVariant> values;
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_modified.at(i) && !m_columns.at(i).origin.isEmpty()) {
            assignments.append(quotedIdentifier(m_columns.at(i).origin) + QStringLiteral(" = ?"));
            values.append(m_buffer.at(i));
        }
    }
    if (!assignments.isEmpty()) {
        sqlite3 *db = m_connection->handleForWriting();
        Statement statement(db,
                            QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                .arg(quotedIdentifier(table), assignments.join(u','),
                                     quotedIdentifier(m_columns.at(key).origin)));
        for (int i = 0; i < values.size(); ++i)
            statement.bind(i + 1, values.at(i));
        statement.bind(int(values.size()) + 1, m_rows.at(m_cursor).at(key));
        execWrite(statement);
        if (sqlite3_changes(db) == 0)
            fail(QStringLiteral("The record to change no longer exists; another user may have "
                                "deleted it"));
        m_rows[m_cursor] = readRow(m_buffer.at(key));
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
    if (m_rows.isEmpty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    cancel();
    const QString table = tableName();
    const int key = keyColumn();
    sqlite3 *db = m_connection->handleForWriting();
    Statement statement(
        db,
        QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
            .arg(quotedIdentifier(table), quotedIdentifier(m_columns.at(key).origin)));
    statement.bind(1, m_rows.at(m_cursor).at(key));
    execWrite(statement);
    if (sqlite3_changes(db) == 0)
        fail(QStringLiteral("The record to delete no longer exists; another user may have "
                            "deleted it"));
    m_rows.removeAt(m_cursor);
    const int row = qMin(m_cursor, int(m_rows.size()) - 1);
    m_cursor = qMax(row, 0);
    m_eof = m_rows.isEmpty();
    Q_EMIT dataChanged();
    Q_EMIT cursorMoved(m_cursor);
}
