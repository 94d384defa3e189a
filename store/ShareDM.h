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
    // with the connection closed, for the next query open to try again. The connection is
    // described as "Provider=SQLite3;Data Source=<database file>;Persist Security Info=False"
    // (see ConnectionString).
    explicit TShareDataModule(const QString &connectionString, QObject *parent = nullptr);
    ~TShareDataModule() override;

    const QString &connectionString() const { return m_connectionString; }

    Connection *ADOConnection1;
    Query *ADOQueryTemp;

private:
    QString m_connectionString;
};

extern TShareDataModule *ShareDataModule;
