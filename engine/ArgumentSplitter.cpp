#include "ArgumentSplitter.h"

namespace {

enum class Quote { None, Single, Double };

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

} // namespace

std::optional<QStringList> splitArguments(const QString &text)
{
    QStringList words;
    QString word;
    // A word may be empty (''), so being inside one is tracked apart from its text.
    bool inWord = false;
    Quote quote = Quote::None;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (quote == Quote::Single) {
            if (c == u'\'')
                quote = Quote::None;
            else
                word += c;
            continue;
        }
        if (quote == Quote::Double) {
            if (c == u'"')
                quote = Quote::None;
            else if (c == u'\\' && i + 1 < size
                     && (text.at(i + 1) == u'"' || text.at(i + 1) == u'\\'))
                word += text.at(++i);
            else
                word += c;
            continue;
        }
        if (isBlank(c)) {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\'')
            quote = Quote::Single;
        else if (c == u'"')
            quote = Quote::Double;
        else if (c == u'\\' && i + 1 < size)
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
