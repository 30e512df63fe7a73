#pragma once

#include "VornDate.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// One row of a directory listing, as every storage provider returns it. Its identity is its path;
// two entries are equal only when all fields are.
struct SledFileEntry {
    std::string name;   // last component of the path
    std::string path;   // full path in the provider's namespace
    bool isDirectory = false;  // a folder (for object storage: a common prefix)
    std::int64_t sizeBytes = 0;
    std::optional<VornDate> modifiedAt;
    std::optional<std::string> permissions;  // the provider's permission text
    std::optional<std::string> eTag;         // the object's entity tag (object storage)
    // The item is a symbolic link (listed as a file, never followed). A sync leaves such a path and
    // everything beneath it alone. Providers that cannot tell leave it false.
    bool isSymbolicLink = false;

    const std::string& id() const { return path; }

    friend bool operator==(const SledFileEntry&, const SledFileEntry&) = default;

    // Keys are the field names in declaration order; absent optionals, and isSymbolicLink when
    // false, are left out.
    nlohmann::ordered_json toJSON() const;
    // "name", "path", "isDirectory" and "sizeBytes" are required; the optionals and
    // "isSymbolicLink" may be missing or null.
    static SledFileEntry fromJSON(const nlohmann::json& value, std::string_view path = "SledFileEntry");
};

template <>
struct std::hash<SledFileEntry> {
    std::size_t operator()(const SledFileEntry& entry) const noexcept;
};
