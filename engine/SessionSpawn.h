#pragma once

#include <QByteArray>

#include <sys/types.h>

// How a process is started in a session of its own, so that it leads a process group that can be
// ended whole and nothing meant for the runner's terminal or group reaches it: every signal at its
// default and none blocked, the descriptors named here as its standard ones, and none of the
// runner's other descriptors.
struct SessionSpawn
{
    // Above 2 each, so that none is overwritten by another; -1 leaves the runner's own.
    int input = -1;
    int output = -1;
    int error = -1;
    // Empty: the runner's own folder.
    QByteArray directory;
    // The program is a name looked up on PATH, as a shell would, rather than a path.
    bool searchPath = false;
};

// Starts program with these arguments and environment (each ending in a null pointer). Returns 0
// with the new process's id in pid, or the error number of what failed.
int spawnInSession(const SessionSpawn &how, const char *program, char *const arguments[],
                   char *const environment[], pid_t &pid);
