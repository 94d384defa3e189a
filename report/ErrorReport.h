#pragma once

#include <exception>
#include <utility>

// The application-wide error report: the error's text in a box captioned with the application
// title (a DatabaseBusyError's in the plain message box). While a report is open, a further report
// of the same text is not stacked on top of it.
void HandleException(const std::exception &error);
// The same for whatever exception is being handled inside a catch block.
void HandleCurrentException();

// Runs one of our event handlers. An error it raises ends the handler and goes to the
// application-wide report here, so that no exception ever unwinds through the toolkit's frames.
template<typename Handler> void runHandler(Handler &&handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        HandleCurrentException();
    }
}
