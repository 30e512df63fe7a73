#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The name of this computer as the user knows it.
struct VornHostName {
    // The pretty host name the user set (PRETTY_HOSTNAME in machine-info, the file hostnamectl
    // writes), else the kernel's host name; nothing when both are empty or unreadable.
    static std::optional<std::string> computerName();

    // PRETTY_HOSTNAME from a machine-info file (shell-style KEY=VALUE lines, the value possibly
    // quoted); nothing when the file or the key is missing or the value is empty.
    static std::optional<std::string> prettyHostname(const std::filesystem::path& machineInfo = "/etc/machine-info");
};
