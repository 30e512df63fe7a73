#pragma once

#include "VornURLComponents.h"

#include <string_view>

// True when `url` names this machine by a loopback host (localhost, 127.0.0.0/8, [::1]). Requests
// there must never be handed to a proxy named in the environment.
inline bool vornIsLoopbackURL(std::string_view url) {
    const auto parts = VornURLComponents::parse(url);
    if (!parts || !parts->host) {
        return false;
    }
    const std::string_view host = *parts->host;
    return host == "localhost" || host == "[::1]" || host.starts_with("127.");
}
