#pragma once

#include "import/ImportError.h"

#include <QList>
#include <QString>

#include <optional>

class Connection;
class QTextStream;
struct JetSchedule;

// What an import asks for: the Jet database file to read, the schedule database to write into,
// and whether only to show what would be imported.
struct ImportRequest
{
    QString jetPath;
    QString databasePath;
    bool dryRun = false;
};

// Imports the schedule table of a Jet database file into the schedule database, every entry in
// one transaction: into an empty schedule with their own keys, into one that has entries after
// them with new keys, in key order. Writes one line per entry (old key → new key, name) and a
// total to out, and a failure to err; a dry run writes the same lines and changes nothing. On
// failure neither file has changed. Gives the kind of failure, or nothing when it imported.
std::optional<ImportFailure> runImport(const ImportRequest &request, QTextStream &out,
                                       QTextStream &err);

// "1 entry", "6 entries".
QString entryCount(qsizetype count);

// The keys the entries get in the schedule, in their order: their own when the schedule is
// empty, else the keys the schedule gives next. Throws DatabaseError.
QList<qint64> plannedKeys(Connection &connection, const JetSchedule &schedule);

// Writes the entries with their planned keys in one transaction and returns the keys; nothing is
// written when it fails. A dry run writes them all the same and then rolls the transaction back.
// Throws DatabaseError.
QList<qint64> writeEntries(Connection &connection, const JetSchedule &schedule,
                           bool dryRun = false);
