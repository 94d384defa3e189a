#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Reads CSV by RFC 4180, apart from the code that writes it: fields in double quotes may hold
// commas, quotes (doubled) and line ends.
inline QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row.append(std::exchange(field, QString()));
        } else if (c == u'\n') {
            row.append(std::exchange(field, QString()));
            rows.append(std::exchange(row, QStringList()));
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        rows.append(row << field);
    return rows;
}
