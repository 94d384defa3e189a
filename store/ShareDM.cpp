#include "store/ShareDM.h"

#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "store/Connection.h"
#include "store/Query.h"

TShareDataModule *ShareDataModule = nullptr;

TShareDataModule::TShareDataModule(const QString &connectionString, QObject *parent)
    : QObject(parent)
    , ADOConnection1(new Connection(connectionString, this))
    , ADOQueryTemp(new Query(QStringLiteral("ADOQueryTemp"), this))
{
    setObjectName(QStringLiteral("ShareDataModule"));
    ADOConnection1->setObjectName(QStringLiteral("ADOConnection1"));
    ADOQueryTemp->setConnection(ADOConnection1);
    try {
        ADOConnection1->open();
    } catch (const DatabaseBusyError &) {
        // The list is read right after, and says so itself when the file is still held.
    } catch (...) {
        HandleCurrentException();
    }
}

TShareDataModule::~TShareDataModule() = default;

QString TShareDataModule::connectionStringFor(const QString &databasePath)
{
    // A path holding ";" is quoted so that it stays one item.
    const QString source = databasePath.contains(u';') ? u'"' + databasePath + u'"' : databasePath;
    return QStringLiteral("Provider=%1;Data Source=%2;Persist Security Info=False")
        .arg(QLatin1StringView(Connection::providerName), source);
}
