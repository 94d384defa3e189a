#pragma once

#include <QString>

// The name the windows give a column of the schedule, by its name in the table ("" for a column
// that is not the schedule's).
QString columnTitle(const QString &column);
