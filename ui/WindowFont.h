#pragma once

#include <QFont>

// The windows' font: "宋体" at 12 pixels, or the nearest Chinese font the system has.
QFont windowFont();
