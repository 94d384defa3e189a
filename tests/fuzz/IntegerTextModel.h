#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The rules for reading a text as a 32-bit whole number, written from their statement and not
// from the store's code: leading spaces (U+0020 only), at most one sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", and nothing after them. Decimal values
// must fit the signed 32-bit range; hexadecimal ones take up to 32 bits and wrap into it.
// Unlike the store, this counts significant digits instead of watching for overflow.
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

inline std::optional<std::int32_t> integerFromText(std::u16string_view text)
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
    // 10 decimal digits reach 2^31; 8 hexadecimal digits fill 32 bits.
    if (text.size() > (base == 10 ? 10u : 8u))
        return std::nullopt;
    std::int64_t magnitude = 0;
    for (const char16_t c : text)
        magnitude = magnitude * base + digitValue(c);
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (base == 10) {
        if (value < INT32_MIN || value > INT32_MAX)
            return std::nullopt;
        return std::int32_t(value);
    }
    // Hexadecimal wraps: only the low 32 bits of the signed value count.
    const std::uint32_t bits = std::uint32_t(std::uint64_t(value) & 0xFFFFFFFFu);
    return bits >= 0x80000000u ? std::int32_t(std::int64_t(bits) - 0x100000000)
                               : std::int32_t(bits);
}

} // namespace model
