#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

struct sqlite3;
class Statement;

// The connection to the schedule database, described by a connection string of
// "Provider=…;Data Source=…;Persist Security Info=False". It opens an existing SQLite file
// read-write and never creates one.
class Connection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Connection)

public:
    static constexpr auto providerName = "SQLite3";
    // How long a statement waits for another process's lock on the file before it fails.
    static constexpr int busyTimeoutMs = 5000;

    explicit Connection(const QString &connectionString, QObject *parent = nullptr);
    ~Connection() override;

    const QString &connectionString() const { return m_connectionString; }
    // The value of one item of the connection string ("" when absent); keys ignore case.
    QString connectionItem(const QString &key) const;

    void open();
    void close();
    bool isConnected() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }

    // The file named in the connection string.
    QString databasePath() const;
    // Closes the connection when its path no longer names the file it has open (another tool
    // replaced or removed the file), so that the next open reaches the file that is there now.
    void dropIfReplaced();
    // The connection, open read-write, for a statement that changes the file. A connection that
    // the engine opened read-only (it does so silently when the file could not be written) is
    // opened again, in case the permission has been fixed since.
    sqlite3 *handleForWriting();
    // Why a change cannot be written, naming the file or its folder, or "" when neither is
    // barred to this user.
    QString notWritableReason() const;

private:
    QString m_connectionString;
    sqlite3 *m_db = nullptr;
};

class Query;

// One column of a query's current row, found by name.
class Field final
{
public:
    Field(Query *query, int column)
        : m_query(query)
        , m_column(column)
    { }

    const QString &name() const;
    bool isNull() const;
    // NULL reads as the empty text; bytes that are not UTF-8 read as replacement characters.
    QString asString() const;
    // The stored text's own bytes, whatever their encoding; a number reads as its text.
    QByteArray asBytes() const;
    // NULL reads as 0; a value that is not a 32-bit whole number is an error.
    qint32 asInteger() const;
    // Sets the column of the row being inserted or edited. An integer column takes the empty
    // text as NULL and refuses a text that is not a whole number.
    void setAsString(const QString &text);

private:
    Query *m_query;
    int m_column;
};

// A named query on the connection. Opening it reads its whole result into memory; the cursor
// then walks those rows. Inserted, edited and deleted rows are written to the file at once and
// found again by the table's key.
class Query final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Query)

public:
    enum class State { Inactive, Browse, Insert, Edit };

    explicit Query(const QString &name, QObject *parent = nullptr);
    ~Query() override;

    const QString &name() const { return m_name; }
    Connection *connection() const { return m_connection; }
    void setConnection(Connection *connection) { m_connection = connection; }

    // The SQL text, line by line.
    QStringList &sql() { return m_sql; }
    const QStringList &sql() const { return m_sql; }

    void open();
    // Closes the query and discards a row that was being inserted or edited.
    void close();
    bool isActive() const { return m_state != State::Inactive; }
    State state() const { return m_state; }

    void first();
    void next();
    void prior();
    // Moves the cursor by a number of rows; 0 changes nothing, even at end of data.
    void moveBy(int distance);
    bool eof() const;
    int recordCount() const;
    // The current row, counted from 0.
    int recNo() const;

    int fieldCount() const;
    QString fieldName(int column) const;
    int fieldIndex(const QString &name) const;
    Field fieldByName(const QString &name);
    // The value at any row and column, for views of the whole result.
    QVariant value(int row, int column) const;

    void insert();
    void edit();
    void post();
    void cancel();
    void deleteRecord();

Q_SIGNALS:
    // The rows were replaced, removed or added: opened, closed, posted or deleted.
    void dataChanged();
    void cursorMoved(int row);

private:
    friend class Field;

    struct Column
    {
        QString name;
        QString table;
        QString origin;
        bool isInteger = false;
        bool isKey = false;
    };

    [[noreturn]] void fail(const QString &text) const;
    void checkActive() const;
    void checkBrowseMode();
    void checkEditing(const Field &field) const;
    const QVariant &currentValue(int column) const;
    void setCursor(int row, bool eof);
    int keyColumn() const;
    QString tableName() const;
    void insertRow();
    void updateRow();
    void execWrite(Statement &statement) const;
    QList<QVariant> readRow(const QVariant &key) const;

    QString m_name;
    Connection *m_connection = nullptr;
    QStringList m_sql;
    State m_state = State::Inactive;
    QList<Column> m_columns;
    QList<QList<QVariant>> m_rows;
    int m_cursor = 0;
    bool m_eof = true;
    QList<QVariant> m_buffer;
    QList<bool> m_modified;
};
