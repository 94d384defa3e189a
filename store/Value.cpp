#include "store/Value.h"

#include "store/IntegerText.h"

#include <iterator>
#include <limits>

namespace {

// QString::number goes through the locale's general formatting; a list of whole numbers is
// read often enough for the plain way to matter.
QString decimal(qint64 number)
{
    char16_t digits[24];
    char16_t *const end = digits + std::size(digits);
    char16_t *start = end;
    quint64 magnitude = number < 0 ? 0 - quint64(number) : quint64(number);
    do {
        *--start = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0)
        *--start = u'-';
    return QString(reinterpret_cast<const QChar *>(start), end - start);
}

} // namespace

QString ValueView::toString() const
{
    switch (type) {
    case Type::Null:
        return QString();
    case Type::Integer:
        return decimal(integer);
    case Type::Real:
        return QString::number(real, 'g', 15);
    case Type::Text:
    case Type::Blob:
        break;
    }
    return QString::fromUtf8(bytes);
}

QByteArray ValueView::toBytes() const
{
    if (type == Type::Text || type == Type::Blob)
        return bytes.toByteArray();
    return toString().toUtf8();
}

std::optional<qint32> ValueView::toInteger() const
{
    constexpr qint64 smallest = std::numeric_limits<qint32>::min();
    constexpr qint64 largest = std::numeric_limits<qint32>::max();
    switch (type) {
    case Type::Null:
        return 0;
    case Type::Integer:
        if (integer >= smallest && integer <= largest)
            return qint32(integer);
        return std::nullopt;
    case Type::Real:
        if (real >= double(smallest) && real <= double(largest) && qint32(real) == real)
            return qint32(real);
        return std::nullopt;
    case Type::Text:
    case Type::Blob:
        break;
    }
    return integerFromText(QString::fromUtf8(bytes));
}

StoredValue StoredValue::copyOf(const ValueView &view)
{
    return {view.type, view.integer, view.real, view.bytes.toByteArray()};
}

StoredValue StoredValue::text(const QString &text)
{
    return {ValueView::Type::Text, 0, 0, text.toUtf8()};
}

StoredValue StoredValue::number(qint64 number)
{
    return {ValueView::Type::Integer, number, 0, QByteArray()};
}
