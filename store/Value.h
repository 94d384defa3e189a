#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// One value as the database stored it: NULL, a whole number, a real number, or a text or blob
// kept as its stored bytes. A view's bytes belong to whatever holds the row.
struct ValueView
{
    enum class Type : quint8 { Null, Integer, Real, Text, Blob };

    Type type = Type::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArrayView bytes;

    bool isNull() const { return type == Type::Null; }
    // The value as a person reads it; bytes that are not UTF-8 read as replacement characters.
    QString toString() const;
    // A text's or blob's own bytes; a number as its text.
    QByteArray toBytes() const;
    // The value as a 32-bit whole number by the integer columns' rules; NULL reads as 0.
    std::optional<qint32> toInteger() const;
    // The same as a 64-bit whole number.
    std::optional<qint64> toLargeInt() const;
    // The same type and the same number or bytes.
    bool sameAs(const ValueView &other) const;
};

// A value that owns its bytes, for a row being edited and for values bound to a statement.
struct StoredValue
{
    ValueView::Type type = ValueView::Type::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;

    static StoredValue copyOf(const ValueView &view);
    static StoredValue text(const QString &text);
    static StoredValue number(qint64 number);
    ValueView view() const { return {type, integer, real, bytes}; }
};

// The values of one row, one per column, as they were read.
using RowValues = std::vector<StoredValue>;
