#pragma once

#include <QString>

class Connection;

// The tables of a schedule's database file, as `store/schema.sql` (built into the program)
// defines them, version by version: the one place a table's columns are written down.
namespace Schema {

// The definition's text, which `sqlite3 FILE < store/schema.sql` also makes a new file from.
const QByteArray &text();
// Makes every table of the definition in a new file.
void create(Connection &connection);
// The newest version of the file the definition describes (PRAGMA user_version).
int version();
// Brings a file of an earlier version up to the newest (every table made or given the columns it
// lacks, and the version written), once; in a file that is up to date, makes only the table asked
// for again when someone removed it. Inside the caller's write transaction. A file of a newer
// version is left as it is: its tables are a newer program's, which this one reads as they are.
void prepare(Connection &connection, const QString &table);

} // namespace Schema
