#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What a program says about itself: its reverse-DNS identifier, an information dictionary
// (name, version, build) and the folder its read-only resources live in.
//
// The running program's bundle (`main()`) is filled by the build: identifier
// "com.vornworks.vornsled", version and build from CMake, resources in share/vornsled beside the
// installed program, else the source tree's resources/ folder. Other bundles are plain values,
// which is how callers describe another application or a test describes odd dictionaries.
class VornBundle {
public:
    // Information-dictionary keys the framework reads.
    static constexpr std::string_view identifierKey = "CFBundleIdentifier";
    static constexpr std::string_view nameKey = "CFBundleName";
    static constexpr std::string_view displayNameKey = "CFBundleDisplayName";
    static constexpr std::string_view shortVersionKey = "CFBundleShortVersionString";
    static constexpr std::string_view buildKey = "CFBundleVersion";

    // `infoDictionary` must be a JSON object (anything else is stored as an empty object).
    VornBundle(std::optional<std::string> bundleIdentifier, nlohmann::json infoDictionary,
               std::filesystem::path resourceDirectory);

    static const VornBundle& main();

    const std::optional<std::string>& bundleIdentifier() const { return identifier_; }
    const nlohmann::json& infoDictionary() const { return info_; }
    const std::filesystem::path& resourceDirectory() const { return resources_; }

    // The dictionary's value under `key` when it is text; nothing when missing or of another type.
    std::optional<std::string> infoText(std::string_view key) const;

    // The resource `name`.`extension` (or `name` when the extension is empty) when that regular
    // file exists in the resource folder; names holding a path separator or ".." are never looked up.
    std::optional<std::filesystem::path> resourcePath(std::string_view name, std::string_view extension) const;

    // The running program's name as the kernel reports it (the executable's file name).
    static std::string processName();

    // Where the main bundle's resources are: share/vornsled beside the installed program when that
    // folder exists, else the build's resources/ folder.
    static std::filesystem::path mainResourceDirectory();

private:
    std::optional<std::string> identifier_;
    nlohmann::json info_;
    std::filesystem::path resources_;
};
