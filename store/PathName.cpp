#include "store/PathName.h"

namespace {

constexpr char16_t firstEscape = 0xDC80;
constexpr char16_t lastEscape = 0xDCFF;

// The length of the well-formed UTF-8 sequence that starts the bytes, 0 when there is none (a
// stray byte, an overlong form, a surrogate or a value beyond Unicode).
qsizetype sequenceLength(QByteArrayView bytes)
{
    const auto at = [&](qsizetype i) {
        return i < bytes.size() ? uchar(bytes.at(i)) : uchar(0);
    };
    const uchar lead = at(0);
    if (lead < 0x80)
        return 1;
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
