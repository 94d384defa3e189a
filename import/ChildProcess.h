#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <string>

// What became of work done in a child process.
struct ChildOutcome
{
    // A child process could be made at all.
    bool started = false;
    // The work returned and its bytes all arrived.
    bool finished = false;
    QByteArray output;
    // How the child ended otherwise ("it crashed (signal 11)"), for a message.
    QString failure;
};

// Does the work in a child process, a copy of this one, and returns the bytes it gives back: a
// library that crashes or runs away on a damaged file then ends only the child. The child must
// not touch anything but its own data and the library: no Qt objects, no windows. It is ended
// when the deadline passes.
ChildOutcome runInChild(const std::function<std::string()> &work,
                        std::chrono::milliseconds deadline);
