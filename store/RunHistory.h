#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class Connection;

// One run of an entry's program (one start), as it ended.
struct RunRecord
{
    enum class Ending { AtTime, Exited, Signal, NotStarted, NotEnded, Stopped };

    // The record's number in the history; 0 until it is written.
    qint64 id = 0;
    // The entry's 程序编号 as the list showed it, "" when the table has none.
    QString entry;
    // The program and its parameters as started: the stored bytes.
    QByteArray program;
    QByteArray parameters;
    // The desktop's opener a document or URL went to, "" when the program was started itself.
    QByteArray opener;
    // When it started (UTC, milliseconds since 1970) and how long it lived.
    qint64 startedMs = 0;
    qint64 lifetimeMs = 0;
    Ending ending = Ending::AtTime;
    // The exit status (Exited) or the signal (Signal).
    std::optional<int> status;
    // Why it could not be started or ended.
    QString detail;
    // When a program that could not be ended was collected at last (UTC, milliseconds).
    std::optional<qint64> collectedMs;

    bool operator==(const RunRecord &) const = default;
};

// The record of every run, in a table of its own (QZRunLog) in the schedule's database file, made
// when it is first needed. It keeps the latest `limit` records; older ones go as new ones come.
// The schedule's own table is never touched.
namespace RunHistory {

inline constexpr int limit = 10000;
inline constexpr auto tableName = "QZRunLog";

// The name scripts and the CSV and JSON forms use for an ending ("at-time", "exited", …).
QString endingName(RunRecord::Ending ending);
std::optional<RunRecord::Ending> endingFromName(const QString &name);

// Writes a new record and gives it its number; the oldest go beyond the limit. One transaction.
qint64 append(Connection &connection, const RunRecord &record);
// Writes what became known of a run later (its collection), by its number.
void update(Connection &connection, const RunRecord &record);
// The records after the number given, oldest first, of every entry or of one; none when there is
// no history yet.
std::vector<RunRecord> read(Connection &connection, qint64 after = 0,
                            const std::optional<QString> &entry = std::nullopt);

} // namespace RunHistory
