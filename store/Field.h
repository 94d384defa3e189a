#pragma once

#include <QByteArray>
#include <QString>

class Query;

// One column of a query's current row, found by name. It stays valid while its query keeps the
// same columns, whichever row is current.
class Field final
{
public:
    Field(Query *query, int column)
        : m_query(query)
        , m_column(column)
    { }

    QString name() const;
    bool isNull() const;
    // NULL reads as the empty text; bytes that are not UTF-8 read as replacement characters.
    QString asString() const;
    // The stored text's own bytes, whatever their encoding; a number reads as its text.
    QByteArray asBytes() const;
    // NULL reads as 0; a value that is not a 32-bit whole number is an error.
    qint32 asInteger() const;
    // NULL reads as 0; a value that is not a 64-bit whole number is an error.
    qint64 asLargeInt() const;
    // Sets the column of the row being inserted or edited. An integer column takes the empty
    // text as NULL and refuses a text that is not a whole number.
    void setAsString(const QString &text);

private:
    Query *m_query;
    int m_column;
};
