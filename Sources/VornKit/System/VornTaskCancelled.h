#pragma once

#include <exception>

// Thrown by a blocking operation when its caller asked it to stop through its std::stop_token.
// Kept apart from the errors an operation raises on its own, so callers can tell "the user
// cancelled" from "it failed".
class VornTaskCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The task was cancelled"; }
};
