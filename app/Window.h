#pragma once

#include <QString>

struct CommandLine;

// The entry into the window's module: opens the main window on the database and runs it until
// it is closed. Gives the exit status.
using RunWindow = int(int &argc, char **argv, const CommandLine &line, const QString &program,
                      const QString &databasePath);

// The module's file name, and its exported entry.
inline constexpr char windowModuleName[] = "vantrel-window.so";
inline constexpr char windowEntryName[] = "vantrelRunWindow";
