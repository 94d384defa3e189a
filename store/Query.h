#pragma once

#include "store/Field.h"
#include "store/RowBuffer.h"
#include "store/Value.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class Connection;
class Statement;

// A named query on the connection. Opening it runs its SQL and reads the first row; the rest of
// the result is read, all at once, the first time anything needs it (a move, the record count, a
// row other than the first), so that a query that is only appended to, or only read at its
// start, never holds the whole table. Inserted, edited and deleted rows are written to the file
// at once and found again by the table's key.
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
    // The value at any row and column as a person reads it, for views of the whole result.
    QString text(int row, int column) const;

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
    ValueView currentValue(int column) const;
    void setCursor(int row, bool eof);
    void readAll() const;
    void readRow(const Statement &statement, std::vector<ValueView> &row) const;
    int keyColumn() const;
    QString tableName() const;
    void insertRow();
    void updateRow();
    void readBack(const ValueView &key, qsizetype row);

    QString m_name;
    Connection *m_connection = nullptr;
    QStringList m_sql;
    State m_state = State::Inactive;
    std::vector<Column> m_columns;
    // Until the whole result is read, m_rows holds its first row followed by the rows posted
    // since.
    mutable RowBuffer m_rows;
    // The current row's values, decoded once for all the fields read from it.
    mutable std::vector<ValueView> m_current;
    mutable qsizetype m_currentRow = -1;
    mutable quint64 m_currentRevision = 0;
    mutable bool m_wholeResult = false;
    mutable int m_cursor = 0;
    mutable bool m_eof = true;
    std::vector<StoredValue> m_buffer;
    std::vector<bool> m_modified;
};
