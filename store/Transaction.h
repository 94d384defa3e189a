#pragma once

#include <QtGlobal>

class Connection;
struct sqlite3;

// A write transaction on a connection: BEGIN IMMEDIATE takes the write lock at once, and what is
// not committed is rolled back when the transaction ends. Where even the rollback fails, the
// connection is closed, which ends the transaction unwritten too.
class Transaction final
{
public:
    // Opens the connection for writing first.
    explicit Transaction(Connection &connection);
    ~Transaction();
    Q_DISABLE_COPY_MOVE(Transaction)

    sqlite3 *handle() const;
    void commit();
    // Ends the transaction with nothing written, as a dry run does.
    void rollback();

private:
    Connection &m_connection;
    bool m_open = false;
};
