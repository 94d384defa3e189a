#include "store/ShareDM.h"

#include "report/DataError.h"
#include "report/ErrorReport.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Query.h"

TShareDataModule *ShareDataModule = nullptr;

namespace {

// The connection to the file the text names; when it names none that can be used, every open of
// the connection says why.
Connection *connectionFor(const QString &connectionString, QObject *parent)
{
    try {
        return new Connection(ConnectionString::databasePath(connectionString), parent);
    } catch (const DatabaseError &error) {
        auto *unusable = new Connection(QString(), parent);
        unusable->refuseEveryOpen(error.message());
        return unusable;
    }
}

} // namespace

TShareDataModule::TShareDataModule(const QString &connectionString, QObject *parent)
    : QObject(parent)
    , ADOConnection1(connectionFor(connectionString, this))
    , ADOQueryTemp(new Query(QStringLiteral("ADOQueryTemp"), this))
    , m_connectionString(connectionString)
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
