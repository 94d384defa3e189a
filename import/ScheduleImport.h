#pragma once

#include <QList>
#include <QString>

class Connection;
class QTextStream;
struct JetSchedule;
struct sqlite3;

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
// failure neither file has changed. Returns the exit status from sysexits.h: EX_OK; EX_DATAERR
// when the Jet file is not one, is damaged, lacks the table or a column, or holds a value the
// schedule cannot keep; EX_NOINPUT when either file cannot be opened or read as what it should
// be; EX_CANTCREAT when the schedule cannot be written; EX_OSERR when no process can be started
// to read the Jet file.
int runImport(const ImportRequest &request, QTextStream &out, QTextStream &err);

// "1 entry", "6 entries".
QString entryCount(qsizetype count);

// The keys the entries get in the schedule, in their order: their own when the schedule is
// empty, else the keys the schedule gives next. Throws DatabaseError.
QList<qint64> plannedKeys(sqlite3 *db, const JetSchedule &schedule);

// Writes the entries with their planned keys in one transaction and returns the keys; nothing is
// written when it fails. A dry run writes them all the same and then rolls the transaction back.
// Throws DatabaseError.
QList<qint64> writeEntries(Connection &connection, const JetSchedule &schedule,
                           bool dryRun = false);
