#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The rules for reading a text as a whole number, written from their statement and not from the
// store's code: leading spaces (U+0020 only), at most one sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", and nothing after them. Decimal values
// must fit the signed range of the width (32 or 64 bits); hexadecimal ones take up to that many
// bits and wrap into it. Unlike the store, this counts significant digits instead of watching for
// overflow.
namespace model {

inline int digitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return 99;
}

inline std::optional<std::int64_t> wholeNumberFromText(std::u16string_view text, int bits)
{
    while (!text.empty() && text.front() == u' ')
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    int base = 10;
    for (const std::u16string_view prefix :
         std::array<std::u16string_view, 5> {u"0x", u"0X", u"$", u"x", u"X"}) {
        if (text.starts_with(prefix)) {
            base = 16;
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.empty())
        return std::nullopt;
    for (const char16_t c : text) {
        if (digitValue(c) >= base)
            return std::nullopt;
    }
    while (text.size() > 1 && text.front() == u'0')
        text.remove_prefix(1);
    // 10 decimal digits reach 2^31 and 19 reach 2^63; a hexadecimal digit fills 4 bits.
    const std::size_t most = base == 10 ? (bits == 32 ? 10u : 19u) : std::size_t(bits / 4);
    if (text.size() > most)
        return std::nullopt;
    std::uint64_t magnitude = 0;
    for (const char16_t c : text)
        magnitude = magnitude * std::uint64_t(base) + std::uint64_t(digitValue(c));
    const std::uint64_t half = std::uint64_t(1) << (bits - 1);
    if (base == 10) {
        if (magnitude > (negative ? half : half - 1))
            return std::nullopt;
        return negative ? -std::int64_t(magnitude - 1) - 1 : std::int64_t(magnitude);
    }
    // Hexadecimal wraps: only the low bits of the signed value count.
    std::uint64_t low = negative ? 0 - magnitude : magnitude;
    if (bits < 64)
        low &= (std::uint64_t(1) << bits) - 1;
    if (low < half)
        return std::int64_t(low);
    // A negative value: its magnitude is what the low bits lack of 2^bits.
    const std::uint64_t below = bits < 64 ? (std::uint64_t(1) << bits) - low : 0 - low;
    return -std::int64_t(below - 1) - 1;
}

inline std::optional<std::int32_t> integerFromText(std::u16string_view text)
{
    const std::optional<std::int64_t> value = wholeNumberFromText(text, 32);
    return value ? std::optional<std::int32_t>(std::int32_t(*value)) : std::nullopt;
}

inline std::optional<std::int64_t> largeIntegerFromText(std::u16string_view text)
{
    return wholeNumberFromText(text, 64);
}

} // namespace model
