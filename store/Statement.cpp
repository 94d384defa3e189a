#include "store/Statement.h"

#include "report/DataError.h"
#include "store/ScheduleSql.h"

#include <sqlite3.h>

bool hasIntegerAffinity(const QByteArray &declaredType)
{
    const QByteArray type = declaredType.toUpper();
    if (type.contains("INT"))
        return true;
    for (const char *other : {"CHAR", "CLOB", "TEXT", "BLOB", "REAL", "FLOA", "DOUB"}) {
        if (type.contains(other))
            return false;
    }
    return !type.trimmed().isEmpty();
}

Statement::Statement(sqlite3 *db, const QString &sql)
    : m_db(db)
{
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, nullptr) != SQLITE_OK)
        fail();
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

ColumnSource Statement::columnSource(int index) const
{
    // Each is NULL for a column that is not read straight from a table.
    const auto text = [](const char *name) {
        return QString::fromUtf8(name);
    };
    return {text(sqlite3_column_name(m_stmt, index)),
            text(sqlite3_column_database_name(m_stmt, index)),
            text(sqlite3_column_table_name(m_stmt, index)),
            text(sqlite3_column_origin_name(m_stmt, index)),
            QByteArray(sqlite3_column_decltype(m_stmt, index))};
}

void throwEngineError(sqlite3 *db)
{
    const int code = sqlite3_errcode(db) & 0xff;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw DatabaseBusyError(ScheduleSql::heldUp);
    throw ProviderError(QString::fromUtf8(sqlite3_errmsg(db)));
}

void Statement::fail() const
{
    throwEngineError(m_db);
}

void Statement::bind(int index, const ValueView &value)
{
    int rc = SQLITE_OK;
    switch (value.type) {
    case ValueView::Type::Null:
        rc = sqlite3_bind_null(m_stmt, index);
        break;
    case ValueView::Type::Integer:
        rc = sqlite3_bind_int64(m_stmt, index, value.integer);
        break;
    case ValueView::Type::Real:
        rc = sqlite3_bind_double(m_stmt, index, value.real);
        break;
    case ValueView::Type::Text:
        // The engine binds NULL for a text without bytes; an empty text has none when it was
        // made from a null string, and must still be an empty text.
        rc = sqlite3_bind_text64(m_stmt, index, value.bytes.isNull() ? "" : value.bytes.data(),
                                 quint64(value.bytes.size()), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    case ValueView::Type::Blob:
        rc = sqlite3_bind_blob64(m_stmt, index, value.bytes.data(), quint64(value.bytes.size()),
                                 SQLITE_TRANSIENT);
        break;
    }
    if (rc != SQLITE_OK)
        fail();
}

bool Statement::step()
{
    m_result = sqlite3_step(m_stmt);
    if (m_result == SQLITE_ROW)
        return true;
    if (m_result == SQLITE_DONE)
        return false;
    fail();
}

namespace {

// A column of the current row, read through its value: see Statement::column.
ValueView columnValue(sqlite3_stmt *statement, int index, bool integerColumn)
{
    sqlite3_value *const value = sqlite3_column_value(statement, index);
    const int type = sqlite3_value_type(value);
    switch (type) {
    case SQLITE_INTEGER:
        return {ValueView::Type::Integer, sqlite3_value_int64(value), 0, {}};
    case SQLITE_FLOAT:
        return {ValueView::Type::Real, 0, sqlite3_value_double(value), {}};
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const bool text = type == SQLITE_TEXT;
        // UTF-8 is the file's own encoding unless another tool made a UTF-16 file. The bytes are
        // asked for first: their count is that of the form they were last asked in.
        const auto *bytes = text ? reinterpret_cast<const char *>(sqlite3_value_text(value))
                                 : static_cast<const char *>(sqlite3_value_blob(value));
        const int size = sqlite3_value_bytes(value);
        if (size == 0 && integerColumn)
            return {};
        return {text ? ValueView::Type::Text : ValueView::Type::Blob, 0, 0,
                QByteArrayView(bytes, size)};
    }
    default:
        return {};
    }
}

} // namespace

// The column is looked up once and read through its value: each sqlite3_column_* call would look
// it up again and check the connection's state on the way out, which is most of the cost of
// reading a long list. A connection is used by one thread only, so the value needs no lock of its
// own.
ValueView Statement::column(int index, bool integerColumn) const
{
    return columnValue(m_stmt, index, integerColumn);
}

void Statement::row(std::span<ValueView> values, std::span<const bool> integerColumns) const
{
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = columnValue(m_stmt, int(i), integerColumns[i]);
}
