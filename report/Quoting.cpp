#include "report/Quoting.h"

#include <QStringList>

namespace {

void appendEscaped(QString &text, uchar byte)
{
    switch (byte) {
    case '\n':
        text += u"\\n";
        return;
    case '\r':
        text += u"\\r";
        return;
    case '\t':
        text += u"\\t";
        return;
    case '"':
    case '\\':
        text += u'\\';
        text += QLatin1Char(char(byte));
        return;
    default:
        text += u"\\x" + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
    }
}

// Line and paragraph separators would break the line, and controls, format characters such as
// bidirectional overrides and unassigned ones could break it or disguise it.
bool printsOnOneLine(char32_t character)
{
    const QChar::Category category = QChar::category(character);
    return QChar::isPrint(character) && category != QChar::Separator_Line
        && category != QChar::Separator_Paragraph;
}

} // namespace

qsizetype utf8SequenceLength(QByteArrayView bytes)
{
    const auto at = [&](qsizetype i) {
        return i < bytes.size() ? uchar(bytes.at(i)) : uchar(0);
    };
    const uchar lead = at(0);
    qsizetype length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at(1) < low || at(1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    }
    return length;
}

QString quotedBytes(QByteArrayView bytes)
{
    QString text(u'"');
    for (qsizetype i = 0; i < bytes.size();) {
        const auto byte = uchar(bytes.at(i));
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            text += QLatin1Char(char(byte));
            ++i;
            continue;
        }
        const qsizetype length = utf8SequenceLength(bytes.sliced(i));
        if (length > 0) {
            const QString character = QString::fromUtf8(bytes.sliced(i, length));
            if (printsOnOneLine(character.toUcs4().value(0))) {
                text += character;
                i += length;
                continue;
            }
            for (qsizetype end = i + length; i < end; ++i)
                appendEscaped(text, uchar(bytes.at(i)));
            continue;
        }
        appendEscaped(text, byte);
        ++i;
    }
    return text + u'"';
}

QString quotedWords(const QList<QByteArray> &words)
{
    QStringList quoted;
    for (const QByteArray &word : words)
        quoted.append(quotedBytes(word));
    return u'[' + quoted.join(QStringLiteral(", ")) + u']';
}
