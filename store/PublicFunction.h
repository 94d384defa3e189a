#pragma once

#include "store/ScheduleSql.h"

#include <QString>

class Query;

// (Re)opens a query on new SQL text. Any failure is shown as failureText in the plain message
// box instead of going further, and a file held by another program as heldText: a command that
// opens the query to change an entry says that nothing was saved (ScheduleSql::inUse). The query
// is then left closed and the result is false.
bool OpenQuery(Query *query, const QString &sqlText, const QString &failureText,
               const QString &heldText = ScheduleSql::heldUp);
