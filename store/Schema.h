#pragma once

#include <QString>

class Connection;

// The tables of a schedule's database file, as `store/schema.sql` (built into the program)
// defines them: the one place a table's columns are written down.
namespace Schema {

// The definition's text, which `sqlite3 FILE < store/schema.sql` also makes a new file from.
const QByteArray &text();
// Makes every table of the definition in a new file.
void create(Connection &connection);
// Makes the table as the definition says when the file has none, and gives one that an earlier
// version made the columns it lacks; inside the caller's write transaction.
void prepare(Connection &connection, const QString &table);

} // namespace Schema
