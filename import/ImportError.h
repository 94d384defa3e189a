#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The kinds of failure of an import or a conversion; the command line gives each its exit status.
enum class ImportFailure {
    // The Jet file is not one, is damaged, lacks the table or a column, or holds a value the
    // schedule cannot keep.
    BadData,
    // A file cannot be opened or read as what it should be.
    CannotRead,
    // The schedule cannot be written: read-only, its folder closed, or held by another program.
    CannotWrite,
    // No process can be started to read the Jet file.
    NoProcess,
};

// Why an import or a conversion cannot go on: the message a person reads and its kind.
class ImportError final : public std::exception
{
public:
    ImportError(ImportFailure kind, const QString &message);

    ImportFailure kind() const { return m_kind; }
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    ImportFailure m_kind;
    QString m_message;
    QByteArray m_utf8;
};
