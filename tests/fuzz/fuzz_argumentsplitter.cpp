// Fuzz target: the parameter splitter against an independent model of the README's rules.
#include "ArgumentSplitter.h"
#include "FuzzSupport.h"

namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// The splitting rules, read word by word (the splitter reads character by character): blanks
// separate words; '…' keeps everything; "…" keeps everything but takes \" and \\ as escapes;
// outside quotes a backslash takes the next character literally and a lone backslash at the
// very end stays; '' and "" make an empty word; an unclosed quote splits nothing.
std::optional<QStringList> modelSplit(std::u16string_view text)
{
    QStringList words;
    std::size_t at = 0;
    const std::size_t end = text.size();
    for (;;) {
        while (at < end && isBlank(text[at]))
            ++at;
        if (at == end)
            return words;
        std::u16string word;
        while (at < end && !isBlank(text[at])) {
            const char16_t c = text[at];
            if (c == u'\'') {
                const std::size_t closing = text.find(u'\'', at + 1);
                if (closing == std::u16string_view::npos)
                    return std::nullopt;
                word += text.substr(at + 1, closing - at - 1);
                at = closing + 1;
            } else if (c == u'"') {
                ++at;
                for (;;) {
                    if (at == end)
                        return std::nullopt;
                    if (text[at] == u'"') {
                        ++at;
                        break;
                    }
                    const bool escape = text[at] == u'\\' && at + 1 < end
                        && (text[at + 1] == u'"' || text[at + 1] == u'\\');
                    if (escape)
                        ++at;
                    word += text[at++];
                }
            } else if (c == u'\\' && at + 1 < end) {
                word += text[at + 1];
                at += 2;
            } else {
                word += c;
                ++at;
            }
        }
        words.append(fuzz::fromView(word));
    }
}

void check(const QString &text)
{
    const std::optional<QStringList> expected = modelSplit(fuzz::viewOf(text));
    const std::optional<QStringList> actual = splitArguments(text);
    if (expected != actual)
        fuzz::mismatch("splitArguments", fuzz::escaped(text), fuzz::escaped(expected),
                       fuzz::escaped(actual));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(fuzz::utf8FromBytes(data, size));
    check(fuzz::utf16FromBytes(data, size));
    return 0;
}
