#include "support/TestDatabase.h"

#include "store/ConnectionString.h"

#include <QFile>
#include <QTest>

#include <cstdio>

#include <sqlite3.h>

namespace {

// Ends the test program: a test database that cannot be prepared leaves nothing to test.
void check(sqlite3 *db, int result, int expected, const char *step)
{
    if (result != expected)
        qFatal("test database: %s failed: %s", step, sqlite3_errmsg(db));
}

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
        check(m_db, sqlite3_busy_timeout(m_db, 5000), SQLITE_OK, "setting the busy timeout");
    }
    ~RawConnection() { sqlite3_close(m_db); }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    sqlite3 *db() const { return m_db; }

    void exec(const QByteArray &sql) const
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK) {
            const QByteArray message = error;
            sqlite3_free(error);
            qFatal("test SQL failed: %s", message.constData());
        }
    }

private:
    sqlite3 *m_db = nullptr;
};

// A prepared statement finalised at scope end.
class RawStatement final
{
public:
    RawStatement(const RawConnection &connection, const QString &sql)
        : m_db(connection.db())
    {
        check(m_db, sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &m_stmt, nullptr),
              SQLITE_OK, "preparing a statement");
    }
    ~RawStatement() { sqlite3_finalize(m_stmt); }
    RawStatement(const RawStatement &) = delete;
    RawStatement &operator=(const RawStatement &) = delete;

    sqlite3_stmt *get() const { return m_stmt; }

    void bind(int index, const QVariant &value) const
    {
        int result = SQLITE_OK;
        if (value.isNull()) {
            result = sqlite3_bind_null(m_stmt, index);
        } else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
            result = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
        } else {
            const QByteArray text = value.toString().toUtf8();
            result = sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()),
                                       SQLITE_TRANSIENT);
        }
        check(m_db, result, SQLITE_OK, "binding a value");
    }

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace

HeldFile::HeldFile(const QString &path, const QString &sql)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr)
        != SQLITE_OK)
        qFatal("cannot open test database %s", qPrintable(path));
    check(m_db, sqlite3_busy_timeout(m_db, 5000), SQLITE_OK, "setting the busy timeout");
    check(m_db, sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK,
          "holding the file");
}

HeldFile::~HeldFile()
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
}

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
    return ConnectionString::forPath(m_path);
}

void TestDatabase::exec(const QString &sql) const
{
    RawConnection(m_path).exec(sql.toUtf8());
}

QList<qint64> TestDatabase::addEntries(const QList<Entry> &entries) const
{
    if (entries.isEmpty())
        return {};
    RawConnection connection(m_path);
    // One transaction: a commit per row would wait for the disk once per row.
    connection.exec("BEGIN");
    QList<qint64> keys;
    {
        const RawStatement insert(connection,
                                  QStringLiteral("INSERT INTO QZProgram (ProgramName, "
                                                 "ProgramParameter, ProgramTime, ProgramCount) "
                                                 "VALUES (?, ?, ?, ?)"));
        for (const Entry &entry : entries) {
            insert.bind(1, entry.name);
            insert.bind(2, entry.parameter);
            insert.bind(3, entry.time);
            insert.bind(4, entry.count);
            check(connection.db(), sqlite3_step(insert.get()), SQLITE_DONE, "adding an entry");
            check(connection.db(), sqlite3_reset(insert.get()), SQLITE_OK, "adding an entry");
            keys.append(sqlite3_last_insert_rowid(connection.db()));
        }
    }
    connection.exec("COMMIT");
    return keys;
}

qint64 TestDatabase::addEntry(const QVariant &name, const QVariant &parameter, const QVariant &time,
                              const QVariant &count) const
{
    return addEntries({{name, parameter, time, count}}).first();
}

std::unique_ptr<HeldFile> TestDatabase::hold(const QString &sql) const
{
    return std::make_unique<HeldFile>(m_path, sql);
}

void TestDatabase::replaceWith(const QList<Entry> &entries) const
{
    const TestDatabase replacement;
    replacement.addEntries(entries);
    if (std::rename(QFile::encodeName(replacement.path()).constData(),
                    QFile::encodeName(m_path).constData())
        != 0)
        qFatal("cannot put a new file in place of %s", qPrintable(m_path));
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

QList<QStringList> TestDatabase::contents() const
{
    QList<QStringList> result;
    const QString schema =
        QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY name");
    for (const QStringList &entry : query(schema)) {
        result.append(entry);
        if (entry.at(0) != u"table")
            continue;
        // The tables are the tools' own, named without anything that would need quoting.
        QStringList values;
        for (const QStringList &column :
             query(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(entry.at(1))))
            values.append(QStringLiteral("typeof(%1) || ':' || hex(%1)").arg(column.at(0)));
        result.append(
            query(QStringLiteral("SELECT %1 FROM %2").arg(values.join(u','), entry.at(1))));
    }
    return result;
}

QList<QStringList> TestDatabase::query(const QString &sql) const
{
    const RawConnection connection(m_path);
    const RawStatement statement(connection, sql);
    sqlite3_stmt *stmt = statement.get();
    QList<QStringList> result;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            row.append(sqlite3_column_type(stmt, i) == SQLITE_NULL
                           ? QStringLiteral("NULL")
                           : QString::fromUtf8(
                               reinterpret_cast<const char *>(sqlite3_column_text(stmt, i))));
        }
        result.append(row);
    }
    check(connection.db(), step, SQLITE_DONE, "reading rows");
    return result;
}
