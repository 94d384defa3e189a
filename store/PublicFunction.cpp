#include "store/PublicFunction.h"

#include "report/Prompter.h"
#include "store/Query.h"

bool OpenQuery(Query *query, const QString &sqlText, const QString &failureText)
{
    try {
        query->close();
        query->sql().clear();
        query->sql().append(sqlText);
        query->open();
        return true;
    } catch (...) {
        ShowMessage(failureText);
        return false;
    }
}
