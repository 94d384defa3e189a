#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the fuzz targets share: turning the fuzzer's bytes into text, and stopping with a
// readable account when the subject and its model disagree.
namespace fuzz {

inline std::u16string_view viewOf(const QString &text)
{
    return {reinterpret_cast<const char16_t *>(text.utf16()), std::size_t(text.size())};
}

inline QString fromView(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar *>(text.data()), qsizetype(text.size()));
}

// The bytes read as UTF-16 code units, low byte first; an odd last byte is dropped. This
// reaches every code unit, lone surrogates included.
inline QString utf16FromBytes(const std::uint8_t *data, std::size_t size)
{
    QString text;
    text.reserve(qsizetype(size / 2));
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.append(QChar(char16_t(data[i] | (data[i + 1] << 8))));
    return text;
}

inline QString utf8FromBytes(const std::uint8_t *data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Printable ASCII as is, everything else as \u{…}, so that blanks and odd characters show.
inline std::string escaped(std::u16string_view text)
{
    std::string out = "\"";
    for (const char16_t c : text) {
        if (c >= 0x20 && c < 0x7f && c != u'\\' && c != u'"') {
            out += char(c);
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\u{%x}", unsigned(c));
            out += buffer;
        }
    }
    return out + "\"";
}

// Printable ASCII as is, every other byte as \x…
inline std::string escaped(std::string_view bytes)
{
    std::string out = "\"";
    for (const char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
            out += c;
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x",
                          unsigned(static_cast<unsigned char>(c)));
            out += buffer;
        }
    }
    return out + "\"";
}

inline std::string escaped(const std::optional<std::vector<std::string>> &words)
{
    if (!words)
        return "(no split)";
    std::string out = "[";
    for (const std::string &word : *words)
        out += (out.size() > 1 ? ", " : "") + escaped(std::string_view(word));
    return out + "]";
}

inline std::string escaped(const QString &text)
{
    return escaped(viewOf(text));
}

inline std::string escaped(const std::optional<QString> &text)
{
    return text ? escaped(*text) : std::string("(none)");
}

inline std::string escaped(const std::optional<QStringList> &words)
{
    if (!words)
        return "(no split)";
    std::string out = "[";
    for (const QString &word : *words)
        out += (out.size() > 1 ? ", " : "") + escaped(word);
    return out + "]";
}

// Stops the run so that libFuzzer keeps the input as a crash file.
[[noreturn]] inline void mismatch(const std::string &what, const std::string &input,
                                  const std::string &expected, const std::string &actual)
{
    std::fprintf(stderr,
                 "\n%s differs from the rules\n  input:    %s\n  expected: %s\n  actual:   %s\n",
                 what.c_str(), input.c_str(), expected.c_str(), actual.c_str());
    std::abort();
}

} // namespace fuzz
