#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

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
    int rowCount() const { return int(rows().size()); }

private:
    QTemporaryDir m_dir;
    QString m_path;
};
