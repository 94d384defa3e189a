#pragma once

#include "store/Value.h"

#include <QList>
#include <QString>
#include <QStringList>

// One entry of a Jet schedule with its values as this program's schedule keeps them: names and
// parameters as UTF-8 texts, times and counts as whole numbers, NULL as NULL and an empty text as
// an empty text.
struct JetEntry
{
    qint64 key = 0;
    StoredValue name;
    StoredValue parameter;
    StoredValue time;
    StoredValue count;
};

// The schedule table of a Jet database file.
struct JetSchedule
{
    // The table's name as the file spells it.
    QString tableName;
    // In key order.
    QList<JetEntry> entries;
    // Columns of the table that the schedule has no place for.
    QStringList leftOut;
};

// Whether the file begins as a Jet database file does (any version, damaged or not).
bool isJetFile(const QString &path);

// Reads the schedule table of a Jet 4 (or later) database file: table and column names compared
// without regard to case, every value checked against what the schedule's column takes. Throws
// ImportError: EX_NOINPUT when the file cannot be opened, EX_DATAERR when it is not a Jet file, is
// damaged, lacks the table or a column, or holds a value the schedule cannot keep (the message
// names the entry and the column), EX_OSERR when no process can be started to read it.
JetSchedule readJetSchedule(const QString &path);
