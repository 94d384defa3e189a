#pragma once

#include <QByteArray>
#include <QString>

// Identifies a started process; empty (id 0) when nothing was started.
struct ProcessHandle
{
    qint64 id = 0;
    bool isEmpty() const { return id == 0; }
};

// The record of the latest launch, reused for every launch. The texts are the bytes as stored,
// since file names and parameters need not be valid UTF-8.
struct LaunchInfo
{
    QByteArray verb; // "" = the file type's default action
    QByteArray file; // the entry's program
    QByteArray parameters; // the entry's parameter text
    QByteArray directory; // "" = the program's current directory
    int show = 0; // 5 = show normally (kept for the record; no meaning on Linux)
    QString entry; // the schedule entry's key, only to name it in the trace
    ProcessHandle process; // filled in by launch()
};

// Starts and ends the schedule's programs; abstract so the scheduler can run against a fake.
class Launcher
{
public:
    Launcher() = default;
    virtual ~Launcher() = default;
    Q_DISABLE_COPY_MOVE(Launcher)

    // Never throws and never reports failure to the caller: info.process stays empty instead.
    virtual void launch(LaunchInfo &info) = 0;
    // Never throws and never waits: ends the process if it can, then empties the handle.
    virtual void terminate(ProcessHandle &process) = 0;
};
