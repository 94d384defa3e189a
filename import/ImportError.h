#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Why an import or a conversion cannot go on: the message a person reads and the exit status
// from sysexits.h that the command ends with.
class ImportError final : public std::exception
{
public:
    ImportError(int status, const QString &message);

    int status() const { return m_status; }
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    int m_status;
    QString m_message;
    QByteArray m_utf8;
};
