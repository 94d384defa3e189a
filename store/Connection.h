#pragma once

#include "store/FileIdentity.h"

#include <QObject>
#include <QString>

struct sqlite3;
class Statement;
struct ColumnSource;

// The connection to the schedule database file. It opens an existing SQLite file read-write and
// never creates one.
class Connection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Connection)

public:
    // How long a statement waits for another process's lock on the file before it fails with a
    // DatabaseBusyError: the window's thread never waits on the file longer than this.
    static constexpr int busyTimeoutMs = 250;

    explicit Connection(const QString &databasePath, QObject *parent = nullptr);
    ~Connection() override;
    // Every open fails with this reason from now on: what named the file could not be used.
    void refuseEveryOpen(const QString &reason);

    void open();
    void close();
    bool isConnected() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }

    const QString &databasePath() const { return m_path; }
    // The file the connection has open, or had open last.
    const FileIdentity &fileIdentity() const { return m_file; }
    // Closes the connection when its path no longer names the file it has open (another tool
    // replaced or removed the file), so that the next open reaches the file that is there now.
    void dropIfReplaced();
    // Whether a result column is (part of) its table's declared primary key.
    bool isKeyColumn(const ColumnSource &column) const;
    // The connection, open read-write, for a statement that changes the file. A connection that
    // the engine opened read-only (it does so silently when the file could not be written) is
    // opened again, in case the permission has been fixed since.
    sqlite3 *handleForWriting();
    // Steps a statement that changes the file, once; true while it gives a row (of its RETURNING
    // clause). When the engine could not write because of the file's or its folder's permissions,
    // the error names which one instead of the engine's words.
    bool write(Statement &statement) const;
    // A number that changes whenever another connection, in this process or another, has
    // committed a change to the file since the last call; opens the connection when it is closed.
    qint64 dataVersion();

private:
    // Why a change cannot be written, naming the file or its folder, or "" when neither is
    // barred to this user.
    QString notWritableReason() const;

    QString m_path;
    QString m_refusal;
    sqlite3 *m_db = nullptr;
    FileIdentity m_file;
};
