#pragma once

#include <QString>

struct EntryOptions;

// The options an entry has, one to a line, as the grid's tooltip and the entry dialog name them;
// "" when it has none.
QString entryOptionsText(const EntryOptions &options);
