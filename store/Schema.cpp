#include "store/Schema.h"

#include "report/DataError.h"
#include "store/Connection.h"
#include "store/Statement.h"

#include <QFile>
#include <QHash>
#include <QMutex>

#include <sqlite3.h>

#include <memory>
#include <utility>
#include <vector>

namespace {

struct Column
{
    QString name;
    QString type;
};

struct Table
{
    QString definition;
    std::vector<Column> columns;
};

QByteArray readDefinition()
{
    QFile schema(QStringLiteral(":/schema/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        throw DatabaseError(QStringLiteral("The table definition is missing from the program"));
    return schema.readAll();
}

std::vector<Column> columnsOf(sqlite3 *db, const QString &table)
{
    std::vector<Column> columns;
    Statement info(db, QStringLiteral("SELECT name, type FROM pragma_table_info(?)"));
    const QByteArray name = table.toUtf8();
    info.bind(1, {ValueView::Type::Text, 0, 0, name});
    while (info.step())
        columns.push_back({info.column(0, false).toString(), info.column(1, false).toString()});
    return columns;
}

struct Definition
{
    QHash<QString, Table> tables;
    int version = 0;
};

// Each table of the definition with its columns, and the newest version, read once from a
// database of the definition alone, made in memory.
const Definition &definition()
{
    static QMutex mutex;
    static Definition definition;
    const QMutexLocker locker(&mutex);
    if (definition.version != 0)
        return definition;
    sqlite3 *raw = nullptr;
    const int opened = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr);
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    if (opened != SQLITE_OK
        || sqlite3_exec(raw, Schema::text().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throwEngineError(raw);
    Statement list(raw,
                   QStringLiteral("SELECT name, sql FROM sqlite_schema WHERE type = 'table' AND "
                                  "name NOT LIKE 'sqlite_%'"));
    Definition read;
    while (list.step()) {
        const QString name = list.column(0, false).toString();
        read.tables.insert(name, {list.column(1, false).toString(), columnsOf(raw, name)});
    }
    Statement version(raw, QStringLiteral("PRAGMA user_version"));
    read.version = version.step() ? int(version.column(0, true).integer) : 0;
    definition = std::move(read);
    return definition;
}

void run(sqlite3 *db, const QString &sql)
{
    Statement statement(db, sql);
    while (statement.step()) { }
}

// Makes the table as the definition says when the file has none, and gives one made by an earlier
// version the columns it lacks.
void converge(sqlite3 *db, const QString &table, const Table &wanted)
{
    const std::vector<Column> present = columnsOf(db, table);
    if (present.empty()) {
        run(db, wanted.definition);
        return;
    }
    for (const Column &column : wanted.columns) {
        const bool there = std::any_of(present.cbegin(), present.cend(), [&](const Column &have) {
            return have.name.compare(column.name, Qt::CaseInsensitive) == 0;
        });
        if (!there)
            run(db,
                QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                    .arg(table, column.name, column.type));
    }
}

} // namespace

namespace Schema {

const QByteArray &text()
{
    static const QByteArray definition = readDefinition();
    return definition;
}

void create(Connection &connection)
{
    sqlite3 *db = connection.handleForWriting();
    if (sqlite3_exec(db, text().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throwEngineError(db);
}

int version()
{
    return definition().version;
}

void prepare(Connection &connection, const QString &table)
{
    sqlite3 *db = connection.handle();
    Statement read(db, QStringLiteral("PRAGMA user_version"));
    const int version = read.step() ? int(read.column(0, true).integer) : 0;
    const Definition &wanted = definition();
    if (version >= wanted.version) {
        // Up to date, or newer than this program: only a table someone removed is made again.
        if (columnsOf(db, table).empty())
            converge(db, table, wanted.tables.value(table));
        return;
    }
    for (auto found = wanted.tables.cbegin(); found != wanted.tables.cend(); ++found)
        converge(db, found.key(), found.value());
    run(db, QStringLiteral("PRAGMA user_version = %1").arg(wanted.version));
}

} // namespace Schema
