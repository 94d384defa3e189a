#pragma once

#include "store/Value.h"

#include <QByteArray>
#include <QString>

#include <span>

struct sqlite3;
struct sqlite3_stmt;

// Where a result column comes from: its name in the result and, for a column read straight from
// a table, the database, table and column it is read from and the type declared there.
struct ColumnSource
{
    QString name;
    QString database;
    QString table;
    QString origin;
    QByteArray declaredType;
};

// Raises the engine's last failure on the connection as the store's error: a DatabaseBusyError
// when another connection holds the file, else a ProviderError with the engine's own message.
[[noreturn]] void throwEngineError(sqlite3 *db);

// SQLite's affinity rules for a declared column type: INTEGER and NUMERIC affinity are the ones
// that hold whole numbers, so those columns take the store's integer conversion.
bool hasIntegerAffinity(const QByteArray &declaredType);

// A prepared statement that is finalised however the code leaves its scope. Every failure of the
// engine becomes the store's ProviderError with the engine's own message, or a DatabaseBusyError
// when another connection holds the file longer than the busy time.
class Statement final
{
public:
    Statement(sqlite3 *db, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    int columnCount() const;
    ColumnSource columnSource(int index) const;

    void bind(int index, const ValueView &value);
    // Steps once; true while there is a row.
    bool step();
    // The primary result code of the last step.
    int result() const { return m_result & 0xff; }

    // A column of the current row, valid until the next step. An empty text or blob in an
    // integer column reads as NULL, as the store itself writes an empty text there.
    ValueView column(int index, bool integerColumn) const;
    // The first values.size() columns of the current row at once, each read as column() reads
    // it, with whether it is an integer column from integerColumns.
    void row(std::span<ValueView> values, std::span<const bool> integerColumns) const;

private:
    [[noreturn]] void fail() const;

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    int m_result = 0;
};
