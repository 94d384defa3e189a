#pragma once

#include <QObject>

class Connection;
class Query;

// The shared data module: the one database connection and the scratch query.
class TShareDataModule final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TShareDataModule)

public:
    // Creating the module opens the connection; a failure is reported and the module stays,
    // with the connection closed, for the next query open to try again.
    explicit TShareDataModule(const QString &connectionString, QObject *parent = nullptr);
    ~TShareDataModule() override;

    // "Provider=…;Data Source=<databasePath>;Persist Security Info=False"
    static QString connectionStringFor(const QString &databasePath);

    Connection *ADOConnection1;
    Query *ADOQueryTemp;
};

extern TShareDataModule *ShareDataModule;
