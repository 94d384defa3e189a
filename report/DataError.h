#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// An error raised by the data-access layer. Its message is what the person reads.
class DatabaseError : public std::exception
{
public:
    explicit DatabaseError(const QString &message);

    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }
    virtual const char *kindName() const { return "DatabaseError"; }

private:
    QString m_message;
    QByteArray m_utf8;
};

// An error that the database engine itself reported (opening a file, running a statement).
class ProviderError final : public DatabaseError
{
public:
    using DatabaseError::DatabaseError;
    const char *kindName() const override { return "ProviderError"; }
};

// Another program held the database file longer than a statement may wait for it: nothing was
// read or written. The person is told so plainly, as it is no fault of theirs or of the file.
class DatabaseBusyError final : public DatabaseError
{
public:
    using DatabaseError::DatabaseError;
    const char *kindName() const override { return "DatabaseBusyError"; }
};

// The row to change or delete no longer holds the values that were read from it (another
// program changed or deleted it, or replaced the file): nothing was written.
class StaleRowError final : public DatabaseError
{
public:
    using DatabaseError::DatabaseError;
    const char *kindName() const override { return "StaleRowError"; }
};
