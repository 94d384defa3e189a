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
