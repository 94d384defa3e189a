#pragma once

#include "Prompter.h"

#include <utility>

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
