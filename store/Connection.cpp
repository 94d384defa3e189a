#include "store/Connection.h"

#include "report/DataError.h"
#include "store/PathName.h"
#include "store/ScheduleSql.h"
#include "store/Statement.h"

#include <QList>

#include <sqlite3.h>

#include <utility>

namespace {

// Splits "key=value;key=value" into items; a value may be enclosed in double quotes to hold ";".
QList<std::pair<QString, QString>> connectionItems(const QString &text)
{
    QList<std::pair<QString, QString>> items;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype equals = text.indexOf(u'=', i);
        const qsizetype semicolon = text.indexOf(u';', i);
        if (equals < 0)
            break;
        if (semicolon >= 0 && semicolon < equals) {
            i = semicolon + 1;
            continue;
        }
        const QString key = text.mid(i, equals - i).trimmed();
        i = equals + 1;
        while (i < text.size() && text.at(i) == u' ')
            ++i;
        QString value;
        qsizetype end;
        if (i < text.size() && text.at(i) == u'"') {
            qsizetype closing = text.indexOf(u'"', i + 1);
            if (closing < 0)
                closing = text.size();
            value = text.mid(i + 1, closing - i - 1);
            end = text.indexOf(u';', closing);
        } else {
            end = text.indexOf(u';', i);
            value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
        }
        if (!key.isEmpty())
            items.append({key, value});
        i = end < 0 ? text.size() : end + 1;
    }
    return items;
}

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

Connection::Connection(const QString &connectionString, QObject *parent)
    : QObject(parent)
    , m_connectionString(connectionString)
{ }

Connection::~Connection()
{
    close();
}

QString Connection::connectionItem(const QString &key) const
{
    for (const auto &[itemKey, value] : connectionItems(m_connectionString)) {
        if (itemKey.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QString();
}

void Connection::open()
{
    if (m_db)
        return;
    const QString provider = connectionItem(QStringLiteral("Provider"));
    if (provider.compare(QLatin1StringView(providerName), Qt::CaseInsensitive) != 0) {
        throw ProviderError(QStringLiteral("Provider '%1' is not known; the schedule database is "
                                           "opened with the provider '%2'")
                                .arg(provider, QLatin1StringView(providerName)));
    }
    const QString path = connectionItem(QStringLiteral("Data Source"));
    if (path.isEmpty())
        throw ProviderError(QStringLiteral("The connection string names no Data Source"));
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

QString Connection::databasePath() const
{
    return connectionItem(QStringLiteral("Data Source"));
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
