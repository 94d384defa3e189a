#pragma once

#include <QString>

class Query;

// (Re)opens a query on new SQL text. Any failure is shown as failureText in the plain message
// box instead of going further (a file held by another program as the DatabaseBusyError's own
// text); the query is then left closed and the result is false.
bool OpenQuery(Query *query, const QString &sqlText, const QString &failureText);
