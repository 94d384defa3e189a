#pragma once

#include "store/FileIdentity.h"

#include <QString>

// Another runner that holds a schedule, as far as can be told: its process, its user and whether
// it runs without a window. Only for saying who it is; the lock itself is the kernel's.
struct OtherRunner
{
    qint64 pid = 0;
    // The user's id (-1 when it cannot be told) and name.
    qint64 uid = -1;
    QString user;
    bool withoutWindow = false;
};

// The lock that lets one runner at a time run a schedule: a kernel lock on the schedule's file
// (flock), which dies with its holder, does not touch SQLite's own locks on the file, and works
// for every user who may read the file. Two paths to one file take the same lock.
class ScheduleLock final
{
public:
    enum class Result {
        Taken,
        // Another runner holds it.
        Held,
        // The file cannot be opened to lock it (not there, not readable, not a regular file).
        Unavailable,
    };

    ScheduleLock() = default;
    ~ScheduleLock();
    ScheduleLock(const ScheduleLock &) = delete;
    ScheduleLock &operator=(const ScheduleLock &) = delete;

    // Takes the lock on the file the path names now, giving up one held on another file; when
    // another runner holds it, says who as far as can be told.
    Result take(const QString &path, OtherRunner *other = nullptr);
    void release();
    bool isTaken() const { return m_file.exists; }
    // The file locked, when one is.
    const FileIdentity &file() const { return m_file; }

private:
    FileIdentity m_file;
};
