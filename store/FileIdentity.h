#pragma once

#include <QString>
#include <QtGlobal>

// Which file a path names: its device and number there, so that a file that another tool put in
// place of the one read before, under the same name, is told apart from it.
struct FileIdentity
{
    quint64 device = 0;
    quint64 number = 0;
    bool exists = false;

    // The file the path names now; one that does not exist when nothing is there.
    static FileIdentity ofPath(const QString &path);

    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};
