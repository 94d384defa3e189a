#include "import/ScheduleImport.h"

#include "import/ImportError.h"
#include "import/JetReader.h"
#include "report/DataError.h"
#include "report/Quoting.h"
#include "store/Connection.h"
#include "store/ScheduleSql.h"
#include "store/Statement.h"
#include "store/Transaction.h"

#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Runs one step of an import; the store's error becomes an import error with the step's status.
// A schedule that another program holds cannot be written now, whether the step was to read it or
// to write it.
template<typename Step>
auto step(ImportFailure kind, const QString &context, const QString &schedule, Step &&work)
{
    try {
        return work();
    } catch (const DatabaseBusyError &) {
        throw ImportError(ImportFailure::CannotWrite,
                          QStringLiteral("The schedule cannot be written: '%1' is held by another "
                                         "program; try again once it is free.")
                              .arg(schedule));
    } catch (const DatabaseError &error) {
        throw ImportError(kind, context.arg(error.message()));
    }
}

qint64 integerResult(Connection &connection, const QString &sql)
{
    Statement query(connection.handle(), sql);
    if (!query.step())
        return 0;
    const ValueView value = query.column(0, true);
    return value.type == ValueView::Type::Integer ? value.integer : 0;
}

} // namespace

QString entryCount(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(count);
}

QList<qint64> plannedKeys(Connection &connection, const JetSchedule &schedule)
{
    sqlite3 *db = connection.handle();
    QList<qint64> keys;
    const QString table = ScheduleSql::table;
    if (integerResult(connection, QStringLiteral("SELECT count(*) FROM ") + table) == 0) {
        for (const JetEntry &entry : schedule.entries)
            keys.append(entry.key);
        return keys;
    }
    const auto noKeysLeft = [&] {
        return DatabaseError(QStringLiteral("The schedule has no keys left for %1")
                                 .arg(entryCount(schedule.entries.size())));
    };
    // A new key is above every key the table holds and every key it has ever given. Another tool
    // may have stored keys as reals or texts: a real counts rounded up, and a text that reads as a
    // whole number as that number, since the list shows it alike.
    const auto keysWhoseType = [&](const char *condition) {
        return QStringLiteral("SELECT %1 FROM %2 WHERE typeof(%1) %3")
            .arg(ScheduleSql::programIndex, table, QLatin1StringView(condition));
    };
    qint64 last = integerResult(connection, keysWhoseType("= 'integer' ORDER BY 1 DESC LIMIT 1"));
    Statement reals(db, keysWhoseType("= 'real' ORDER BY 1 DESC LIMIT 1"));
    if (reals.step()) {
        const double real = reals.column(0, false).real;
        if (real >= 0x1p63)
            throw noKeysLeft();
        if (real > double(last))
            last = std::max(last, qint64(std::ceil(real)));
    }
    Statement texts(db, keysWhoseType("IN ('text', 'blob')"));
    while (texts.step()) {
        bool isNumber = false;
        const qint64 number = texts.column(0, false).toString().trimmed().toLongLong(&isNumber);
        if (isNumber)
            last = std::max(last, number);
    }
    if (integerResult(connection,
                      QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = "
                                     "'table' AND name = 'sqlite_sequence'"))
        != 0) {
        Statement sequence(db, QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?"));
        const QByteArray name = table.toUtf8();
        sequence.bind(1, {ValueView::Type::Text, 0, 0, name});
        if (sequence.step() && sequence.column(0, true).type == ValueView::Type::Integer)
            last = std::max(last, sequence.column(0, true).integer);
    }
    if (last > std::numeric_limits<qint64>::max() - schedule.entries.size())
        throw noKeysLeft();
    for (qsizetype i = 0; i < schedule.entries.size(); ++i)
        keys.append(last + 1 + i);
    return keys;
}

QList<qint64> writeEntries(Connection &connection, const JetSchedule &schedule, bool dryRun)
{
    Transaction transaction(connection);
    sqlite3 *db = transaction.handle();
    const QList<qint64> keys = plannedKeys(connection, schedule);
    const QString insert =
        QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6) VALUES (?, ?, ?, ?, ?)")
            .arg(ScheduleSql::table, ScheduleSql::programIndex, ScheduleSql::programName,
                 ScheduleSql::programParameter, ScheduleSql::programTime,
                 ScheduleSql::programCount);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const JetEntry &entry = schedule.entries[i];
        Statement row(db, insert);
        row.bind(1, {ValueView::Type::Integer, keys[i], 0, {}});
        row.bind(2, entry.name.view());
        row.bind(3, entry.parameter.view());
        row.bind(4, entry.time.view());
        row.bind(5, entry.count.view());
        connection.write(row);
    }
    if (dryRun)
        transaction.rollback();
    else
        transaction.commit();
    return keys;
}

std::optional<ImportFailure> runImport(const ImportRequest &request, QTextStream &out,
                                       QTextStream &err)
{
    try {
        const JetSchedule schedule = readJetSchedule(request.jetPath);
        if (isJetFile(request.databasePath)) {
            throw ImportError(ImportFailure::CannotRead,
                              QStringLiteral("The schedule '%1' is itself a Jet database file: "
                                             "start the program's window on it to convert it, "
                                             "or import into another schedule.")
                                  .arg(request.databasePath));
        }
        Connection connection(request.databasePath);
        const QString cannotRead = QStringLiteral("The schedule cannot be read: %1.");
        const QString cannotWrite = QStringLiteral("The schedule cannot be written: %1.");
        const QString &database = request.databasePath;
        step(ImportFailure::CannotRead, cannotRead, database, [&] { connection.open(); });
        step(ImportFailure::CannotRead, cannotRead, database,
             [&] { return plannedKeys(connection, schedule); });
        // A dry run writes as the import would and then takes it all back, so that it meets
        // whatever would stop the import: a journal that cannot be made, a lock held.
        const QList<qint64> keys = step(ImportFailure::CannotWrite, cannotWrite, database, [&] {
            return writeEntries(connection, schedule, request.dryRun);
        });

        for (qsizetype i = 0; i < keys.size(); ++i) {
            const StoredValue &name = schedule.entries[i].name;
            out << schedule.entries[i].key << " → " << keys[i] << ' '
                << (name.type == ValueView::Type::Null ? QStringLiteral("NULL")
                                                       : quotedBytes(name.bytes))
                << '\n';
        }
        for (const QString &column : schedule.leftOut) {
            out << "The column " << column << " of " << schedule.tableName
                << " is not part of the schedule; its values were left out.\n";
        }
        const QString what = entryCount(keys.size());
        if (request.dryRun) {
            out << "Would import " << what << " from '" << request.jetPath << "' into '"
                << request.databasePath << "'; nothing was written (dry run).\n";
        } else {
            out << "Imported " << what << " from '" << request.jetPath << "' into '"
                << request.databasePath << "'.\n";
        }
        out.flush();
        return std::nullopt;
    } catch (const ImportError &error) {
        err << error.message() << '\n';
        err.flush();
        return error.kind();
    }
}
