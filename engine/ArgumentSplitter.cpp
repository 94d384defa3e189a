#include "engine/ArgumentSplitter.h"

#include <utility>

namespace {

enum class Quote { None, Single, Double };

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

} // namespace

std::optional<QList<QByteArray>> splitArguments(QByteArrayView text)
{
    QList<QByteArray> words;
    QByteArray word;
    // A word may be empty (''), so being inside one is tracked apart from its text.
    bool inWord = false;
    Quote quote = Quote::None;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text.at(i);
        if (quote == Quote::Single) {
            if (c == '\'')
                quote = Quote::None;
            else
                word += c;
            continue;
        }
        if (quote == Quote::Double) {
            if (c == '"')
                quote = Quote::None;
            else if (c == '\\' && i + 1 < size && (text.at(i + 1) == '"' || text.at(i + 1) == '\\'))
                word += text.at(++i);
            else
                word += c;
            continue;
        }
        if (isBlank(c)) {
            if (inWord)
                words.append(std::exchange(word, QByteArray()));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'')
            quote = Quote::Single;
        else if (c == '"')
            quote = Quote::Double;
        else if (c == '\\' && i + 1 < size)
            word += text.at(++i);
        else
            word += c; // a lone backslash at the very end stays as typed
    }
    if (quote != Quote::None)
        return std::nullopt;
    if (inWord)
        words.append(word);
    return words;
}
