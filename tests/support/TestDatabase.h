#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

struct sqlite3;

// Another program's connection to a database file, holding the file from the moment it is made
// (with BEGIN EXCLUSIVE, or whatever SQL it is given) until it is destroyed.
class HeldFile final
{
public:
    HeldFile(const QString &path, const QString &sql);
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

private:
    sqlite3 *m_db = nullptr;
};

// A schedule database in a temporary folder, made from the project's own table definition and
// read and written behind the back of the layer under test.
class TestDatabase final
{
public:
    // One entry's values; a null QVariant stores NULL.
    struct Entry
    {
        QVariant name;
        QVariant parameter;
        QVariant time;
        QVariant count;
    };

    TestDatabase();

    QString path() const { return m_path; }
    // As the shared data module is described.
    QString connectionString() const;

    void exec(const QString &sql) const;
    // Adds the entries in one transaction. Returns their keys.
    QList<qint64> addEntries(const QList<Entry> &entries) const;
    // Adds one entry; a null QVariant stores NULL. Returns its key.
    qint64 addEntry(const QVariant &name, const QVariant &parameter, const QVariant &time,
                    const QVariant &count) const;
    // Every row in the table's own order, each column as text ("NULL" for NULL).
    QList<QStringList> rows() const;
    // The rows of any query, each column as text ("NULL" for NULL).
    QList<QStringList> query(const QString &sql) const;
    // Every row with each column as its stored type and bytes ("text:B3CC", "integer:3430").
    QList<QStringList> storedRows() const;
    // Everything in the file: each schema entry (type, name, table, SQL) in name order, each
    // table's rows after its entry, every value as in storedRows().
    QList<QStringList> contents() const;
    int rowCount() const { return int(rows().size()); }
    // Holds the file as another program would, until the holder is destroyed.
    std::unique_ptr<HeldFile> hold(const QString &sql = QStringLiteral("BEGIN EXCLUSIVE")) const;
    // Puts a new database file with these entries in place of this one, as another tool that
    // renames a file of its own over it.
    void replaceWith(const QList<Entry> &entries) const;

private:
    QTemporaryDir m_dir;
    QString m_path;
};
