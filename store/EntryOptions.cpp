#include "store/EntryOptions.h"

#include "store/Connection.h"
#include "store/PathName.h"
#include "store/Schema.h"
#include "store/Statement.h"
#include "store/Transaction.h"

#include <QRegularExpression>

#include <array>
#include <utility>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QString tableName = u"QZProgramOption"_s;

constexpr std::array<std::pair<EntryOptions::EarlyExit, const char16_t *>, 4> earlyExits = {{
    {EntryOptions::EarlyExit::Wait, u"wait"},
    {EntryOptions::EarlyExit::Restart, u"restart"},
    {EntryOptions::EarlyExit::Next, u"next"},
    {EntryOptions::EarlyExit::Stop, u"stop"},
}};

} // namespace

bool EntryOptions::isEnvironmentLine(const QString &line)
{
    static const QRegularExpression assignment(u"^[A-Za-z_][A-Za-z0-9_]*="_s);
    return assignment.match(line).hasMatch();
}

bool EntryOptions::isMemoryLimit(const QString &text)
{
    // Bytes (not none), with up to nine decimals and a suffix; or a share of 0.01% to 100%.
    static const QRegularExpression limit(
        u"^([0-9]+(\\.[0-9]{1,9})?[KMGTPE]?|[0-9]+(\\.[0-9]{1,2})?%|infinity)$"_s);
    if (!limit.match(text).hasMatch())
        return false;
    const bool share = text.endsWith(u'%');
    const double value = (share || !text.back().isDigit() ? text.chopped(1) : text).toDouble();
    return text == u"infinity" || (value > 0 && (!share || value <= 100));
}

bool EntryOptions::isProcessorQuota(const QString &text)
{
    static const QRegularExpression quota(u"^[0-9]+(\\.[0-9]{1,2})?%$"_s);
    return quota.match(text).hasMatch() && text.chopped(1).toDouble() > 0;
}

namespace {

ValueView text(const QByteArray &bytes)
{
    return {ValueView::Type::Text, 0, 0, bytes};
}

ValueView optionalText(const QByteArray &bytes)
{
    return bytes.isEmpty() ? ValueView() : text(bytes);
}

ValueView optionalNumber(qint64 value, qint64 usual)
{
    return value == usual ? ValueView() : ValueView {ValueView::Type::Integer, value, 0, {}};
}

bool hasTable(sqlite3 *db)
{
    Statement exists(db, u"SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?"_s);
    const QByteArray name = tableName.toUtf8();
    exists.bind(1, text(name));
    return exists.step();
}

// Reads one row's values, each checked against what its column takes; the first value that cannot
// be used is the problem.
EntryOptionsTable::Stored optionsOf(const Statement &row)
{
    EntryOptionsTable::Stored stored;
    EntryOptions &options = stored.options;
    const auto complain = [&](const QString &column, const ValueView &value, const QString &takes) {
        if (stored.problem.isEmpty())
            stored.problem =
                u"its option %1 is '%2'; it takes %3"_s.arg(column, value.toString(), takes);
    };
    const auto textOf = [&](int index, const QString &column) {
        const ValueView value = row.column(index, false);
        if (value.isNull())
            return QString();
        if (value.type != ValueView::Type::Text) {
            complain(column, value, u"a text"_s);
            return QString();
        }
        return value.toString();
    };
    const auto numberOf = [&](int index, const QString &column, int usual, int least, int most) {
        const ValueView value = row.column(index, true);
        if (value.isNull())
            return usual;
        if (value.type != ValueView::Type::Integer || value.integer < least
            || value.integer > most) {
            complain(column, value, u"a whole number from %1 to %2"_s.arg(least).arg(most));
            return usual;
        }
        return int(value.integer);
    };
    options.workingDirectory = PathName::fromNative(
        row.column(1, false).isNull() ? QByteArray() : row.column(1, false).toBytes());
    for (QString line : textOf(2, u"Environment"_s).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.isEmpty())
            options.environment.append(line);
    }
    options.endGrace = numberOf(3, u"EndGrace"_s, 0, 0, EntryOptions::mostGrace);
    if (const QString choice = textOf(4, u"EarlyExit"_s); !choice.isEmpty()) {
        if (const auto known = EntryOptions::earlyExitFromName(choice))
            options.earlyExit = *known;
        else
            complain(u"EarlyExit"_s, row.column(4, false), u"wait, restart, next or stop"_s);
    }
    options.maxRestarts = numberOf(5, u"MaxRestarts"_s, 3, 0, EntryOptions::mostRestarts);
    options.keepOutput = numberOf(6, u"KeepOutput"_s, 0, 0, 1) == 1;
    options.ownScope = numberOf(7, u"OwnScope"_s, 0, 0, 1) == 1;
    options.memoryMax = textOf(8, u"MemoryMax"_s);
    options.cpuQuota = textOf(9, u"CPUQuota"_s);
    if (stored.problem.isEmpty())
        stored.problem = options.problem();
    return stored;
}

} // namespace

QString EntryOptions::earlyExitName(EarlyExit choice)
{
    for (const auto &[value, name] : earlyExits) {
        if (value == choice)
            return QString::fromUtf16(name);
    }
    return QString();
}

std::optional<EntryOptions::EarlyExit> EntryOptions::earlyExitFromName(const QString &name)
{
    for (const auto &[value, text] : earlyExits) {
        if (name == QStringView(text))
            return value;
    }
    return std::nullopt;
}

QString EntryOptions::problem() const
{
    for (const QString &line : environment) {
        if (!isEnvironmentLine(line))
            return u"its environment line '%1' is not NAME=value"_s.arg(line);
    }
    if (endGrace < 0 || endGrace > mostGrace)
        return u"its grace to end is %1 s; it is 0 to %2 s"_s.arg(endGrace).arg(mostGrace);
    if (maxRestarts < 0 || maxRestarts > mostRestarts)
        return u"it may be started again %1 times; that is 0 to %2"_s.arg(maxRestarts)
            .arg(mostRestarts);
    if (!memoryMax.isEmpty() && !isMemoryLimit(memoryMax))
        return u"its memory limit '%1' is not as systemd writes one (512M, 2G, 50%)"_s.arg(
            memoryMax);
    if (!cpuQuota.isEmpty() && !isProcessorQuota(cpuQuota))
        return u"its processor quota '%1' is not as systemd writes one (50%, 200%)"_s.arg(cpuQuota);
    if (!ownScope && (!memoryMax.isEmpty() || !cpuQuota.isEmpty()))
        return u"its limits hold only in a scope of its own, which it does not have"_s;
    return QString();
}

QString EntryOptions::folderProblem() const
{
    if (workingDirectory.isEmpty())
        return QString();
    struct stat status = {};
    if (::stat(PathName::toNative(workingDirectory).constData(), &status) != 0)
        return u"its working folder '%1' is not there"_s.arg(workingDirectory);
    if (!S_ISDIR(status.st_mode))
        return u"its working folder '%1' is not a folder"_s.arg(workingDirectory);
    return QString();
}

namespace EntryOptionsTable {

QHash<QString, Stored> read(Connection &connection)
{
    connection.dropIfReplaced();
    connection.open();
    sqlite3 *db = connection.handle();
    QHash<QString, Stored> options;
    if (!hasTable(db))
        return options;
    Statement select(db,
                     u"SELECT o.ProgramIndex, o.WorkingDirectory, o.Environment, "
                     "o.EndGrace, o.EarlyExit, o.MaxRestarts, o.KeepOutput, o.OwnScope, "
                     "o.MemoryMax, o.CPUQuota FROM QZProgramOption o "
                     "JOIN QZProgram p ON p.ProgramIndex = o.ProgramIndex"_s);
    while (select.step())
        options.insert(select.column(0, true).toString(), optionsOf(select));
    return options;
}

void write(Transaction &transaction, Connection &connection, qint64 key,
           const EntryOptions &options)
{
    Schema::prepare(connection, tableName);
    sqlite3 *db = transaction.handle();
    if (options.isDefault()) {
        remove(transaction, connection, key);
        return;
    }
    Statement insert(db,
                     u"INSERT OR REPLACE INTO QZProgramOption (ProgramIndex, WorkingDirectory, "
                     "Environment, EndGrace, EarlyExit, MaxRestarts, KeepOutput, OwnScope, "
                     "MemoryMax, CPUQuota) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s);
    const QByteArray folder = PathName::toNative(options.workingDirectory);
    const QByteArray environment = options.environment.join(u'\n').toUtf8();
    const QByteArray earlyExit = options.earlyExit == EntryOptions::EarlyExit::Wait
        ? QByteArray()
        : EntryOptions::earlyExitName(options.earlyExit).toUtf8();
    const QByteArray memory = options.memoryMax.toUtf8();
    const QByteArray quota = options.cpuQuota.toUtf8();
    insert.bind(1, {ValueView::Type::Integer, key, 0, {}});
    insert.bind(2, optionalText(folder));
    insert.bind(3, optionalText(environment));
    insert.bind(4, optionalNumber(options.endGrace, 0));
    insert.bind(5, optionalText(earlyExit));
    insert.bind(6, optionalNumber(options.maxRestarts, 3));
    insert.bind(7, optionalNumber(options.keepOutput, 0));
    insert.bind(8, optionalNumber(options.ownScope, 0));
    insert.bind(9, optionalText(memory));
    insert.bind(10, optionalText(quota));
    connection.write(insert);
}

void remove(Transaction &transaction, Connection &, qint64 key)
{
    sqlite3 *db = transaction.handle();
    if (!hasTable(db))
        return;
    Statement statement(db, u"DELETE FROM QZProgramOption WHERE ProgramIndex = ?"_s);
    statement.bind(1, {ValueView::Type::Integer, key, 0, {}});
    while (statement.step()) { }
}

void removeOrphans(Transaction &transaction, Connection &)
{
    sqlite3 *db = transaction.handle();
    if (!hasTable(db))
        return;
    Statement statement(db,
                        u"DELETE FROM QZProgramOption WHERE ProgramIndex NOT IN "
                        "(SELECT ProgramIndex FROM QZProgram)"_s);
    while (statement.step()) { }
}

} // namespace EntryOptionsTable
