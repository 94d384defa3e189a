#pragma once

#include <QString>

#include <exception>

// A fixed text of the layers below the window (marked for translation in the context "Messages")
// in the language of the window; any other text as it is.
QString shownText(const QString &text);

// The message an error carries: a DatabaseError's own text (as shown), any other error's what() as
// UTF-8.
QString errorMessage(const std::exception &error);

// The text the error report shows for an error: the message, with a final "." added when the
// message ends in a character that sorts after "." (engine messages are first stripped of their
// own trailing blanks, control characters and periods).
QString errorReportText(const std::exception &error);

// Appends "." to a non-empty text that does not already end in a character sorting at or before it.
QString withFinalPeriod(const QString &text);

// The kind of an error as the start-up failure box names it.
QString errorKindName(const std::exception &error);
