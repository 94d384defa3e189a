#include "store/Value.h"

#include "store/IntegerText.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// QString::number goes through the locale's general formatting; a list of whole numbers is
// read often enough for the plain way to matter. The digits are written straight into the text.
QString decimal(qint64 number)
{
    quint64 magnitude = number < 0 ? 0 - quint64(number) : quint64(number);
    qsizetype digits = 1;
    for (quint64 power = 10; digits < 20 && magnitude >= power; power *= 10)
        ++digits;
    const qsizetype sign = number < 0 ? 1 : 0;
    QString text(sign + digits, Qt::Uninitialized);
    char16_t *const start = reinterpret_cast<char16_t *>(text.data());
    for (char16_t *out = start + sign + digits; out != start + sign; magnitude /= 10)
        *--out = char16_t(u'0' + magnitude % 10);
    if (sign)
        *start = u'-';
    return text;
}

// Texts are mostly ASCII, which Latin-1 decoding reads the same and faster than the UTF-8 decoder;
// anything else goes through the UTF-8 decoder, which also tells a null text from an empty one.
QString fromStoredText(QByteArrayView bytes)
{
    const auto *in = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    if (size == 0)
        return QString::fromUtf8(bytes);
    quint64 high = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, in + i, sizeof word);
        high |= word;
    }
    for (; i < size; ++i)
        high |= in[i];
    if (high & 0x8080808080808080)
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
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
    return fromStoredText(bytes);
}

QByteArray ValueView::toBytes() const
{
    if (type == Type::Text || type == Type::Blob)
        return bytes.toByteArray();
    return toString().toUtf8();
}

namespace {

// A number by the integer columns' rules into the range of Integer, texts read by fromText.
template<typename Integer, typename FromText>
std::optional<Integer> wholeNumber(const ValueView &value, FromText fromText)
{
    constexpr qint64 smallest = std::numeric_limits<Integer>::min();
    constexpr qint64 largest = std::numeric_limits<Integer>::max();
    switch (value.type) {
    case ValueView::Type::Null:
        return 0;
    case ValueView::Type::Integer:
        if (value.integer >= smallest && value.integer <= largest)
            return Integer(value.integer);
        return std::nullopt;
    case ValueView::Type::Real:
        // The smallest value's magnitude is a power of two that a double holds exactly: the
        // first whole number past the largest.
        if (value.real >= double(smallest) && value.real < -double(smallest)
            && std::trunc(value.real) == value.real)
            return Integer(value.real);
        return std::nullopt;
    case ValueView::Type::Text:
    case ValueView::Type::Blob:
        break;
    }
    return fromText(QString::fromUtf8(value.bytes));
}

} // namespace

std::optional<qint32> ValueView::toInteger() const
{
    return wholeNumber<qint32>(*this, integerFromText);
}

std::optional<qint64> ValueView::toLargeInt() const
{
    return wholeNumber<qint64>(*this, largeIntegerFromText);
}

bool ValueView::sameAs(const ValueView &other) const
{
    return type == other.type && integer == other.integer && real == other.real
        && bytes == other.bytes;
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
