#pragma once

#include <string>
#include <string_view>

// The web portal page the LAN server serves at "/": one self-contained HTML document (style and
// script inline) through which any browser on the network uploads files, exchanges clipboard text
// and downloads shared files.
struct LANWebPortalHTML {
    LANWebPortalHTML() = delete;

    // The page for this device name; with `requiresPIN` it carries the PIN field whose value
    // every request of the page presents.
    static std::string render(std::string_view deviceName, bool requiresPIN);

    // The text with &, <, > and " replaced by their character references (apostrophes stay).
    static std::string escapeHTML(std::string_view text);
};
