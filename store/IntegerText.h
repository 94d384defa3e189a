#pragma once

#include <QStringView>

#include <optional>

// Reads a text as a 32-bit whole number the way the integer columns accept it: leading spaces,
// at most one sign, then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X",
// and nothing after them. Decimal values must fit the signed 32-bit range; hexadecimal ones may
// use all 32 bits and wrap into it ("$FFFFFFFF" is -1). Anything else gives no value.
std::optional<qint32> integerFromText(QStringView text);

// The same rules for a 64-bit whole number: decimal values must fit the signed 64-bit range,
// hexadecimal ones may use all 64 bits and wrap into it.
std::optional<qint64> largeIntegerFromText(QStringView text);
