#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The bytes in double quotes, always on one line: printable UTF-8 stays readable, everything else
// (other encodings, control and layout characters, the quote and backslash) is escaped C-style.
QString quotedBytes(QByteArrayView bytes);
// The length of the well-formed UTF-8 sequence that starts the bytes, 0 when there is none (a
// stray byte, an overlong form, a surrogate or a value beyond Unicode).
qsizetype utf8SequenceLength(QByteArrayView bytes);
// Each word quoted, as ["one", "two"].
QString quotedWords(const QList<QByteArray> &words);
