#pragma once

#include "run/RunRecord.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

class Connection;

// The record of every run, in a table of its own (QZRunLog) in the schedule's database file, made
// when it is first needed. It keeps the latest `limit` records; older ones go as new ones come.
// The schedule's own table is never touched.
namespace RunHistory {

inline constexpr int limit = 10000;
inline constexpr auto tableName = "QZRunLog";

// Writes a new record, naming this process as its runner, and gives it its number; the oldest go
// beyond the limit. One transaction.
qint64 append(Connection &connection, const RunRecord &record);
// Writes what became known of a run later (its process, its end, its collection), by its number;
// false when there is no record of that number (any more).
bool update(Connection &connection, const RunRecord &record);
// The records after the number given, oldest first, of every entry or of one; none when there is
// no history yet.
std::vector<RunRecord> read(Connection &connection, qint64 after = 0,
                            const std::optional<QString> &entry = std::nullopt);

// A run whose record still says it is running, with the runner that wrote it.
struct LeftRunning
{
    RunRecord record;
    QByteArray runner;
};
std::vector<LeftRunning> leftRunning(Connection &connection);
// Says that a run left running has been interrupted, unless another runner said so first;
// whether this call did.
bool markInterrupted(Connection &connection, const RunRecord &record);

} // namespace RunHistory
