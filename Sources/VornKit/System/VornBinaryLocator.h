#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Finds a command-line tool (ssh, sftp, ...) by name.
struct VornBinaryLocator {
    // Returns the first candidate that is a regular file the process may execute (symbolic links
    // followed), searching in this order:
    //   1. the application's resource folder, when given: <resources>/bin/<name>, then <resources>/<name>;
    //   2. each of `extraSearchDirectories`, in order;
    //   3. /usr/local/bin, /usr/bin, /bin;
    //   4. the entries of $PATH, in order, empty entries dropped.
    // A folder or a non-executable file of that name is passed over. A name that is empty, "." or
    // "..", or that holds a '/' or a NUL, is not a tool name: nothing is found.
    static std::optional<std::filesystem::path> locate(
        std::string_view name, const std::optional<std::filesystem::path>& bundleResourceDirectory = std::nullopt,
        const std::vector<std::string>& extraSearchDirectories = {});
};
