#pragma once

#include <QString>

#include <optional>

struct CommandLine;

// The commands that steer a schedule's run from outside (--status, --next, --pause, --resume,
// --stop): asks the runner of the schedule over its socket and says what it answered, in a line
// or as JSON. Exit 0 when a runner answered, 3 when none runs the schedule, 77 when another user's
// runner does (--status still says who), 75 when the runner did not answer.
int steer(const CommandLine &line, const QString &program, const QString &databasePath);

// A window already open on the schedule, handed what this start of the program was to do (be
// raised, or begin its run): the exit status when it took it, nothing when no window is open on
// the schedule and this start opens one.
std::optional<int> handToOpenWindow(const CommandLine &line, const QString &program,
                                    const QString &databasePath);
