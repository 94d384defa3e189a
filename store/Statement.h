#pragma once

#include "store/Value.h"

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// A prepared statement that is finalised however the code leaves its scope. Every failure of the
// engine becomes the store's ProviderError with the engine's own message.
class Statement final
{
public:
    Statement(sqlite3 *db, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return m_stmt; }
    int columnCount() const;

    void bind(int index, const ValueView &value);
    // Steps once; true while there is a row.
    bool step();
    // The primary result code of the last step.
    int result() const { return m_result & 0xff; }

    // A column of the current row, valid until the next step. An empty text or blob in an
    // integer column reads as NULL, as the store itself writes an empty text there.
    ValueView column(int index, bool integerColumn) const;

private:
    [[noreturn]] void fail() const;

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
    int m_result = 0;
};
