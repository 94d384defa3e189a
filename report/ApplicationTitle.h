#pragma once

#include <QString>

// The application title: the executable's file name without its directory, cut at the first
// ".", its first letter as it is and every later letter in lower case.
QString applicationTitleFromPath(const QString &executablePath);
QString applicationTitle();
