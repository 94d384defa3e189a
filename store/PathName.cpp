#include "store/PathName.h"

#include "report/Quoting.h"

namespace {

constexpr char16_t firstEscape = 0xDC80;
constexpr char16_t lastEscape = 0xDCFF;

// The length of the well-formed UTF-8 sequence that starts the bytes: 1 for ASCII, 0 when there
// is none.
qsizetype sequenceLength(QByteArrayView bytes)
{
    return !bytes.isEmpty() && uchar(bytes.front()) < 0x80 ? 1 : utf8SequenceLength(bytes);
}

} // namespace

namespace PathName {

QString fromNative(QByteArrayView bytes)
{
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    QString name;
    qsizetype valid = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        if (const qsizetype length = sequenceLength(bytes.sliced(i)); length > 0) {
            i += length;
            continue;
        }
        name += QString::fromUtf8(bytes.sliced(valid, i - valid));
        name += QChar(char16_t(firstEscape - 0x80 + uchar(bytes.at(i))));
        valid = ++i;
    }
    return name + QString::fromUtf8(bytes.sliced(valid));
}

QByteArray toNative(QStringView name)
{
    QByteArray bytes;
    qsizetype text = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        // A pair of surrogates is a character of its own, whatever its second half.
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c < firstEscape || c > lastEscape)
            continue;
        bytes += name.sliced(text, i - text).toUtf8();
        bytes += char(c - firstEscape + 0x80);
        text = i + 1;
    }
    return bytes + name.sliced(text).toUtf8();
}

} // namespace PathName
