#include "store/Transaction.h"

#include "store/Connection.h"
#include "store/Statement.h"

#include <sqlite3.h>

Transaction::Transaction(Connection &connection)
    : m_connection(connection)
{
    Statement begin(m_connection.handleForWriting(), QStringLiteral("BEGIN IMMEDIATE"));
    m_connection.write(begin);
    m_open = true;
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    try {
        rollback();
    } catch (...) {
        // The engine rolls back by itself after some failures; when it has not, the connection
        // closes with the transaction unwritten.
        if (m_connection.handle() && !sqlite3_get_autocommit(m_connection.handle()))
            m_connection.close();
    }
}

sqlite3 *Transaction::handle() const
{
    return m_connection.handle();
}

void Transaction::commit()
{
    Statement commit(m_connection.handle(), QStringLiteral("COMMIT"));
    m_connection.write(commit);
    m_open = false;
}

void Transaction::rollback()
{
    m_open = false;
    if (sqlite3_get_autocommit(m_connection.handle()))
        return;
    Statement rollback(m_connection.handle(), QStringLiteral("ROLLBACK"));
    while (rollback.step()) { }
}
