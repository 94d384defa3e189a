#include "store/IntegerText.h"

#include <limits>

namespace {

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads a text by the rules above into the range of Signed, Unsigned being its unsigned twin.
template<typename Signed, typename Unsigned> std::optional<Signed> wholeNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == n)
        return std::nullopt;

    const unsigned base = hex ? 16 : 10;
    // Hexadecimal takes all the bits; decimal up to the magnitude of the most negative value.
    constexpr Unsigned all = std::numeric_limits<Unsigned>::max();
    constexpr Unsigned largest = Unsigned(std::numeric_limits<Signed>::max());
    const Unsigned limit = hex ? all : (negative ? largest + 1 : largest);
    Unsigned value = 0;
    for (; i < n; ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0 || unsigned(digit) >= base)
            return std::nullopt;
        if (value > (limit - Unsigned(digit)) / base)
            return std::nullopt;
        value = value * base + Unsigned(digit);
    }
    return Signed(negative ? Unsigned(0) - value : value);
}

} // namespace

std::optional<qint32> integerFromText(QStringView text)
{
    return wholeNumber<qint32, quint32>(text);
}

std::optional<qint64> largeIntegerFromText(QStringView text)
{
    return wholeNumber<qint64, quint64>(text);
}
