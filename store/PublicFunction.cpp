#include "store/PublicFunction.h"

#include "report/DataError.h"
#include "report/Prompter.h"
#include "store/Query.h"

bool OpenQuery(Query *query, const QString &sqlText, const QString &failureText,
               const QString &heldText)
{
    try {
        query->close();
        query->sql().clear();
        query->sql().append(sqlText);
        query->open();
        return true;
    } catch (const DatabaseBusyError &) {
        // Nothing is wrong with the query or the file: the person only needs to wait.
        ShowMessage(heldText);
    } catch (...) {
        ShowMessage(failureText);
    }
    return false;
}
