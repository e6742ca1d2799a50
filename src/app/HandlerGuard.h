#pragma once

#include "OperatorUi.h"

#include <exception>

// Runs an event handler and shows an error that leaves it with the default error report, as the
// operator expects; the program carries on. Errors never travel through Qt's own frames.
template <typename Handler> void runHandler(OperatorUi& operatorUi, Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ShowErrorReport(operatorUi, error);
    }
}
