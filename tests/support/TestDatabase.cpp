#include "TestDatabase.h"

#include "ShareDM.h"

#include <QFile>
#include <QtTest>

#include <sqlite3.h>

namespace {

// A direct connection, independent of the data-access layer under test.
class RawConnection final
{
public:
    explicit RawConnection(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            != SQLITE_OK)
            qFatal("cannot open test database %s", qPrintable(path));
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~RawConnection() { sqlite3_close(m_db); }
    sqlite3 *db() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
};

void bind(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    if (value.isNull()) {
        sqlite3_bind_null(stmt, index);
    } else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
        sqlite3_bind_int64(stmt, index, value.toLongLong());
    } else {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
}

} // namespace

TestDatabase::TestDatabase()
    : m_path(m_dir.filePath(QStringLiteral("ProgramRun.mdb")))
{
    QFile schema(QStringLiteral(VANTREL_SCHEMA_SQL));
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", VANTREL_SCHEMA_SQL);
    exec(QString::fromUtf8(schema.readAll()));
}

QString TestDatabase::connectionString() const
{
    return TShareDataModule::connectionStringFor(m_path);
}

void TestDatabase::exec(const QString &sql) const
{
    RawConnection connection(m_path);
    char *error = nullptr;
    if (sqlite3_exec(connection.db(), sql.toUtf8().constData(), nullptr, nullptr, &error)
        != SQLITE_OK) {
        const QByteArray message = error;
        sqlite3_free(error);
        qFatal("test SQL failed: %s", message.constData());
    }
}

qint64 TestDatabase::addEntry(const QVariant &name, const QVariant &parameter, const QVariant &time,
                              const QVariant &count) const
{
    RawConnection connection(m_path);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(connection.db(),
                       "INSERT INTO QZProgram (ProgramName, ProgramParameter, ProgramTime, "
                       "ProgramCount) VALUES (?, ?, ?, ?)",
                       -1, &stmt, nullptr);
    bind(stmt, 1, name);
    bind(stmt, 2, parameter);
    bind(stmt, 3, time);
    bind(stmt, 4, count);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        qFatal("cannot add a test entry: %s", sqlite3_errmsg(connection.db()));
    sqlite3_finalize(stmt);
    return sqlite3_last_insert_rowid(connection.db());
}

QList<QStringList> TestDatabase::rows() const
{
    return query(QStringLiteral("SELECT * FROM QZProgram"));
}

QList<QStringList> TestDatabase::storedRows() const
{
    QStringList columns;
    for (const char *name :
         {"ProgramIndex", "ProgramName", "ProgramParameter", "ProgramTime", "ProgramCount"})
        columns.append(QStringLiteral("typeof(%1) || ':' || hex(%1)").arg(QLatin1StringView(name)));
    return query(QStringLiteral("SELECT ") + columns.join(u',')
                 + QStringLiteral(" FROM QZProgram"));
}

QList<QStringList> TestDatabase::query(const QString &sql) const
{
    RawConnection connection(m_path);
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(connection.db(), sql.toUtf8().constData(), -1, &stmt, nullptr)
        != SQLITE_OK)
        qFatal("test SQL failed: %s", sqlite3_errmsg(connection.db()));
    QList<QStringList> result;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            row.append(sqlite3_column_type(stmt, i) == SQLITE_NULL
                           ? QStringLiteral("NULL")
                           : QString::fromUtf8(
                               reinterpret_cast<const char *>(sqlite3_column_text(stmt, i))));
        }
        result.append(row);
    }
    sqlite3_finalize(stmt);
    return result;
}
