#pragma once

#include <filesystem>
#include <string>

// Whether this program starts when the user logs in, kept the freedesktop way: a desktop entry
// named after the bundle identifier in an "autostart" folder. The user's own folder
// ($XDG_CONFIG_HOME/autostart) overrides the system's ($XDG_CONFIG_DIRS, else /etc/xdg), so
// turning the start off where only the system ships an entry writes a user entry marked hidden.
struct VornLaunchAtLogin {
    // True when the entry that applies exists and is neither hidden nor switched off by the
    // desktop's own key; a missing, unreadable or malformed entry reads as false.
    static bool isEnabled();

    // Writes or removes the user's entry; true on success. The entry starts this very executable
    // (as the kernel names it), quoted as desktop entries require.
    static bool setEnabled(bool enabled);

    // The user's entry: $XDG_CONFIG_HOME/autostart/<identifier>.desktop.
    static std::filesystem::path entryPath();

    // The Exec value that starts `program` with no arguments: quoted, with the characters that
    // desktop entries reserve escaped. Nothing would read back a program path holding a line
    // break or a NUL, so those give an empty text.
    static std::string execValue(const std::filesystem::path& program);
};
