#pragma once

#include "import/ImportError.h"

#include <QString>

#include <optional>

// The whole program: reads its command line, then runs without a window, writes the autostart
// entry, or opens the window on the given database file (or the one the command line names).
// Only the window loads the toolkit's graphical parts, so that everything else needs no display
// and keeps a small footprint. Gives the exit status.
int runAutoRunner(int &argc, char **argv, const QString &databasePath);

// What the program says when the window is asked for where there is no display.
QString noDisplayText(const QString &program);

// The exit status of an import (from sysexits.h): 0 when it imported, else by the kind of failure.
int importExitStatus(std::optional<ImportFailure> failure);
