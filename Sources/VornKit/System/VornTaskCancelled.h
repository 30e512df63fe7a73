#pragma once

#include <exception>

// Thrown by a blocking function when its caller asked it to stop through its std::stop_token.
// It is the caller's own request coming back, so it carries no text for the user and is kept
// apart from the errors a domain may raise on its own (a provider's "cancelled" error, say).
class VornTaskCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The task was cancelled."; }
};
