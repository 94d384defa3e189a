#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Splits parameter text into words by the quoting rules of a POSIX shell, without any expansion;
// nullopt when a quote is left open. Every special character is ASCII, so the bytes between them
// pass through unchanged whatever their encoding.
std::optional<QList<QByteArray>> splitArguments(QByteArrayView text);
