#pragma once

#include <QStringList>

#include <optional>

// Splits parameter text into words by the quoting rules of a POSIX shell, without any expansion;
// nullopt when a quote is left open.
std::optional<QStringList> splitArguments(const QString &text);
