// Fuzz target: the parameter splitter against an independent model of the splitting rules that
// docs/using-the-window.md describes.
#include "FuzzSupport.h"
#include "engine/ArgumentSplitter.h"

namespace {

template<typename Char> bool isBlank(Char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// The splitting rules, read word by word (the splitter reads character by character): blanks
// separate words; '…' keeps everything; "…" keeps everything but takes \" and \\ as escapes;
// outside quotes a backslash takes the next character literally and a lone backslash at the
// very end stays; '' and "" make an empty word; an unclosed quote splits nothing. Written for
// any character type.
template<typename Char>
std::optional<std::vector<std::basic_string<Char>>> modelSplit(std::basic_string_view<Char> text)
{
    std::vector<std::basic_string<Char>> words;
    std::size_t at = 0;
    const std::size_t end = text.size();
    for (;;) {
        while (at < end && isBlank(text[at]))
            ++at;
        if (at == end)
            return words;
        std::basic_string<Char> word;
        while (at < end && !isBlank(text[at])) {
            const Char c = text[at];
            if (c == '\'') {
                const std::size_t closing = text.find(Char('\''), at + 1);
                if (closing == text.npos)
                    return std::nullopt;
                word += text.substr(at + 1, closing - at - 1);
                at = closing + 1;
            } else if (c == '"') {
                ++at;
                for (;;) {
                    if (at == end)
                        return std::nullopt;
                    if (text[at] == '"') {
                        ++at;
                        break;
                    }
                    const bool escape = text[at] == '\\' && at + 1 < end
                        && (text[at + 1] == '"' || text[at + 1] == '\\');
                    if (escape)
                        ++at;
                    word += text[at++];
                }
            } else if (c == '\\' && at + 1 < end) {
                word += text[at + 1];
                at += 2;
            } else {
                word += c;
                ++at;
            }
        }
        words.push_back(std::move(word));
    }
}

// The splitter works on the stored bytes; the model reads them as characters of one byte.
void check(std::string_view text)
{
    const auto expected = modelSplit(text);
    std::optional<std::vector<std::string>> actual;
    if (const std::optional<QList<QByteArray>> words =
            splitArguments(QByteArrayView(text.data(), qsizetype(text.size())))) {
        actual.emplace();
        for (const QByteArray &word : *words)
            actual->emplace_back(word.constData(), std::size_t(word.size()));
    }
    if (expected != actual)
        fuzz::mismatch("splitArguments", fuzz::escaped(text), fuzz::escaped(expected),
                       fuzz::escaped(actual));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}
