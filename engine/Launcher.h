#pragma once

#include <QString>

// Identifies a started process; empty (id 0) when nothing was started.
struct ProcessHandle
{
    qint64 id = 0;
    bool isEmpty() const { return id == 0; }
};

// The record of the latest launch, reused for every launch.
struct LaunchInfo
{
    QString verb; // "" = the file type's default action
    QString file; // the entry's program
    QString parameters; // the entry's parameter text
    QString directory; // "" = the program's current directory
    int show = 0; // 5 = show normally (kept for the record; no meaning on Linux)
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
    // Never throws; ends the process at once, then empties the handle.
    virtual void terminate(ProcessHandle &process) = 0;
};

// Starts programs directly and hands documents and URLs to the desktop's opener.
class ShellLauncher final : public Launcher
{
public:
    ShellLauncher() = default;
    // Kills nothing: closing the scheduler leaves the programs it launched running.
    ~ShellLauncher() override = default;
    Q_DISABLE_COPY_MOVE(ShellLauncher)

    void launch(LaunchInfo &info) override;
    void terminate(ProcessHandle &process) override;
};
