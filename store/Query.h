#pragma once

#include "store/Field.h"
#include "store/FileIdentity.h"
#include "store/RowBuffer.h"
#include "store/Value.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class Connection;
class Statement;
class Transaction;

// A named query on the connection. Opening it runs its SQL and reads the first row; the rest of
// the result is read, all at once, the first time anything needs it (a move, the record count, a
// row other than the first), so that a query that is only appended to, or only read at its
// start, never holds the whole table. Inserted, edited and deleted rows are written to the file
// at once. A row is edited or deleted only while the table still holds it exactly as this query
// read it (every value of the same type and bytes); otherwise nothing is written and the write
// fails with a StaleRowError.
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
    // The file the rows were read from.
    const FileIdentity &source() const { return m_source; }
    // Whether the file the rows were read from is still the one the connection's path names:
    // false once another tool has replaced or removed it.
    bool isFromCurrentFile() const;

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
    // A column of the current row: the row being inserted or edited, else the row under the
    // cursor. The view lives until the rows change.
    ValueView currentValue(int column) const
    {
        // The row under the cursor once it is decoded: every field read from it after the first.
        if (m_state == State::Browse && m_currentRow == m_cursor
            && m_currentRevision == m_rows.revision())
            return m_current[size_t(column)];
        return decodedValue(column);
    }
    // Whether a column holds whole numbers by its declared type (INTEGER or NUMERIC affinity).
    bool isIntegerColumn(int column) const;
    // The current row's values, copied; none when there is no row.
    RowValues currentRow() const;
    // Moves the cursor to the first row that holds exactly these values; false, the cursor
    // where it was, when no row does.
    bool locate(const RowValues &row);

    // What is written together with a row that is inserted, changed or deleted, in the same
    // transaction: given the row's key (its column named keyName) as the table holds it. A failure
    // there writes nothing of either.
    using WrittenWith = std::function<void(Transaction &transaction, const ValueView &key)>;
    void setWrittenWith(const QString &keyName, WrittenWith writtenWith);

    void insert();
    void edit();
    // Fails unless the query is inserting or editing a row, naming the column set.
    void checkEditing(int column) const;
    // Sets a column of the row being inserted or edited.
    void setFieldValue(int column, StoredValue value);
    void post();
    void cancel();
    void deleteRecord();
    // Fails, saying why, when the rows cannot be found again in their table to be changed or
    // deleted: they come from no table or from several, or the table has neither a key nor a
    // rowid.
    void checkRowsCanBeChanged() const;
    // The result's one column of its table's primary key, or -1 when the table has none or one of
    // several columns: without it, a row is known by no value of its own.
    int keyColumn() const;

Q_SIGNALS:
    // The rows were replaced, removed or added: opened, closed, posted or deleted.
    void dataChanged();
    void cursorMoved(int row);

private:
    struct Column
    {
        QString name;
        QString database;
        QString table;
        QString origin;
        bool isInteger = false;
        bool isKey = false;
    };

    // How the rows of the query's table are found again: the table, and the columns that tell
    // one of its rows from all others (its rowid, or its primary key when it has no rowid).
    struct RowAddress
    {
        QString table;
        QStringList identity;
    };

    // What the table's definition says about its key.
    struct TableFacts
    {
        // A name that reaches the rowid ("" when the table has none).
        QString rowid;
        QStringList key;
        // An integer key that the table does not fill in itself: a new row gets the next.
        QString nextKey;
    };

    [[noreturn]] void fail(const QString &text) const;
    void checkActive() const;
    void checkBrowseMode();
    void setCursor(int row, bool eof);
    ValueView decodedValue(int column) const;
    void readAll() const;
    // Reads rows of a statement whose columns are the query's, into values it keeps for the
    // next row.
    class RowReader
    {
    public:
        explicit RowReader(const std::vector<Column> &columns);
        // The current row of the statement; the values live until the next read.
        std::span<const ValueView> read(const Statement &statement);

    private:
        std::vector<ValueView> m_values;
        std::unique_ptr<bool[]> m_integer;
    };

    bool sameRow(qsizetype row, const RowValues &values) const;

    QString tableName() const;
    const TableFacts &tableFacts() const;
    RowAddress rowAddress() const;
    QString rowCondition(const RowAddress &address, qsizetype row,
                         std::vector<ValueView> &values) const;
    QString returnedColumns() const;
    std::optional<RowValues> writeRow(Statement &statement);
    void keepWritten(qsizetype row, const RowValues &written);
    void writeWith(Transaction *transaction, const RowValues &row);
    void insertRow();
    void updateRow();
    void deleteRow();

    QString m_name;
    Connection *m_connection = nullptr;
    QStringList m_sql;
    State m_state = State::Inactive;
    std::vector<Column> m_columns;
    FileIdentity m_source;
    mutable std::optional<TableFacts> m_tableFacts;
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
    QString m_writtenWithKey;
    WrittenWith m_writtenWith;
};
