#pragma once

#include <QString>

struct CommandLine;

// Runs the schedule without a window and without a display: from the first entry (or the one the
// command line names) to the last, or round and round when looping, until SIGTERM, SIGINT or
// SIGHUP stops it as Stop does. What the window would show in a box goes to standard error.
// Gives the exit status.
int runHeadless(int &argc, char **argv, const CommandLine &line, const QString &databasePath);
