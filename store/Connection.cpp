#include "store/Connection.h"

#include "report/DataError.h"
#include "store/PathName.h"
#include "store/ScheduleSql.h"
#include "store/Statement.h"

#include <sqlite3.h>

namespace {

QString engineMessage(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// Opens an existing database file read-write, or fails with the reason.
sqlite3 *openFile(const QString &path)
{
    sqlite3 *db = nullptr;
    // Read-write on an existing file only: a missing database is an error, not a new empty one.
    // Only the window's thread uses a connection, so the engine's own locking of every call on it
    // would be pure cost.
    int rc = sqlite3_open_v2(PathName::toNative(path).constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_timeout(db, Connection::busyTimeoutMs);
    if (rc != SQLITE_OK) {
        const QString reason = db ? engineMessage(db) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        throw ProviderError(QStringLiteral("Cannot open file '%1': %2").arg(path, reason));
    }
    // Opening is lazy; reading the schema proves the file is a database at all.
    const int check = sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    if (check != SQLITE_OK) {
        const int code = sqlite3_errcode(db) & 0xff;
        const QString reason = check == SQLITE_NOTADB
            ? QStringLiteral("the file is not an SQLite database")
            : engineMessage(db);
        sqlite3_close(db);
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            throw DatabaseBusyError(ScheduleSql::heldUp);
        throw ProviderError(QStringLiteral("Cannot open file '%1': %2").arg(path, reason));
    }
    return db;
}

} // namespace

Connection::Connection(const QString &databasePath, QObject *parent)
    : QObject(parent)
    , m_path(databasePath)
{ }

Connection::~Connection()
{
    close();
}

void Connection::refuseEveryOpen(const QString &reason)
{
    close();
    m_refusal = reason;
}

void Connection::open()
{
    if (m_db)
        return;
    if (!m_refusal.isEmpty())
        throw ProviderError(m_refusal);
    const QString &path = m_path;
    if (!PathName::exists(path))
        throw ProviderError(QStringLiteral("Could not find file '%1'").arg(path));
    // The engine would wait for ever to read a named pipe.
    if (const QString kind = PathName::irregularKind(path); !kind.isEmpty()) {
        throw ProviderError(
            QStringLiteral("Cannot open file '%1': it is %2, not a regular file").arg(path, kind));
    }

    // Another tool may put a new file in place between the open and the look at what was opened:
    // then the file is opened again, so that the identity kept is that of the file open.
    for (int attempt = 0; attempt < 3 && !m_db; ++attempt) {
        m_db = openFile(path);
        m_file = FileIdentity::ofPath(path);
        int moved = 0;
        if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK
            && moved)
            close();
    }
    if (!m_db)
        throw ProviderError(
            QStringLiteral("Cannot open file '%1': it is being replaced").arg(path));
}

void Connection::close()
{
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

void Connection::dropIfReplaced()
{
    if (m_db && FileIdentity::ofPath(databasePath()) != m_file)
        close();
}

bool Connection::isKeyColumn(const ColumnSource &column) const
{
    if (column.table.isEmpty())
        return false;
    int primaryKey = 0;
    if (sqlite3_table_column_metadata(
            m_db, column.database.toUtf8().constData(), column.table.toUtf8().constData(),
            column.origin.toUtf8().constData(), nullptr, nullptr, nullptr, &primaryKey, nullptr)
        != SQLITE_OK)
        throwEngineError(m_db);
    return primaryKey != 0;
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

bool Connection::write(Statement &statement) const
{
    try {
        return statement.step();
    } catch (const ProviderError &) {
        const int result = statement.result();
        if (result == SQLITE_READONLY || result == SQLITE_CANTOPEN || result == SQLITE_PERM
            || result == SQLITE_IOERR) {
            if (const QString reason = notWritableReason(); !reason.isEmpty())
                throw DatabaseError(reason);
        }
        throw;
    }
}

qint64 Connection::dataVersion()
{
    dropIfReplaced();
    open();
    Statement statement(m_db, QStringLiteral("PRAGMA data_version"));
    return statement.step() ? statement.column(0, true).integer : 0;
}

QString Connection::notWritableReason() const
{
    const QString file = PathName::absolute(databasePath());
    if (!PathName::isWritable(file)) {
        return QStringLiteral("The schedule database '%1' is read-only for this user; the change "
                              "was not saved")
            .arg(databasePath());
    }
    const QString folder = file.left(qMax(file.lastIndexOf(u'/'), 1));
    if (!PathName::isWritable(folder)) {
        return QStringLiteral("The folder '%1' cannot be written by this user, and the schedule "
                              "database there needs it for its journal; the change was not saved")
            .arg(folder);
    }
    return QString();
}
