#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QFile;

// File names as the program holds them: the system's bytes, which need not be UTF-8 (a name from
// an old Chinese Windows disk), kept whole in a QString. Valid UTF-8 reads as its characters;
// every other byte becomes U+DC80 + byte, a lone surrogate that no text holds, and goes back to
// the same byte. Qt's own file classes would turn such bytes into U+FFFD and lose the file, so
// every name of a schedule or a Jet file reaches the system through these functions.
namespace PathName {

QString fromNative(QByteArrayView bytes);
QByteArray toNative(QStringView name);

// The name made absolute against the current folder (whose own name is read the same way), with
// "." and ".." taken out as QDir::cleanPath does.
QString absolute(const QString &name);
// Whether the name names anything at all (a symbolic link is followed).
bool exists(const QString &name);
// Whether this user may write what the name names.
bool isWritable(const QString &name);
// What the name names when that is not a regular file, for a message: "a named pipe (FIFO)",
// "a folder", "a character device" and so on; "" for a regular file (also one reached through a
// symbolic link) or for nothing at all. A program that opened a pipe to read would wait for a
// writer for ever, so nothing else is opened as a file.
QString irregularKind(const QString &name);
// Opens the regular file for reading as `file` (which then owns it) and gives "", or the reason it
// could not be opened. Never waits on a named pipe.
QString openForReading(QFile &file, const QString &name);

} // namespace PathName
