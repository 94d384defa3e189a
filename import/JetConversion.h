#pragma once

#include <QString>

struct JetSchedule;

// At start-up, when the schedule database is a Jet database file (an old schedule from Windows
// copied over ours), says so and offers to convert it. On Yes the Jet file is kept unchanged
// under a free name beside it and a schedule with the same entries and keys takes its place; the
// person is told that name. On No, or when the file cannot be read or converted (a box says
// why), nothing changes. Returns true when the file was converted.
bool offerJetConversion(const QString &databasePath);

// The name beside the database that the Jet file would be kept under: "NAME.jet.EXT", or
// "NAME.jet-2.EXT" and so on when that is taken.
QString keptJetName(const QString &databasePath);

// Converts without asking: writes the schedule into a new file in the same folder, copies the
// Jet file to keptAs, and renames the new file over the database in one step. Throws ImportError
// (EX_CANTCREAT) and then leaves both names as they were.
void convertJetSchedule(const QString &databasePath, const JetSchedule &schedule,
                        const QString &keptAs);
