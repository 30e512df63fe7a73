#pragma once

#include "VornDate.h"
#include "VornRawValue.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// How finely a listing gives a modification time. A time is exact to its unit and no finer: an
// `ls -l` date of "Mar  5 14:07" says only the minute, "Mar  5  2019" only the day.
enum class SledTimePrecision { precise, second, minute, day };

template <>
struct VornRawValueTable<SledTimePrecision> {
    static constexpr std::string_view typeName = "SledTimePrecision";
    static constexpr std::array entries{
        std::pair{SledTimePrecision::precise, std::string_view("precise")},
        std::pair{SledTimePrecision::second, std::string_view("second")},
        std::pair{SledTimePrecision::minute, std::string_view("minute")},
        std::pair{SledTimePrecision::day, std::string_view("day")},
    };
};

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
    // How finely `modifiedAt` is known; a provider that reads the file system's own time leaves it
    // precise.
    SledTimePrecision modifiedAtPrecision = SledTimePrecision::precise;

    const std::string& id() const { return path; }

    friend bool operator==(const SledFileEntry&, const SledFileEntry&) = default;

    // Keys are the field names in declaration order; absent optionals, isSymbolicLink when false
    // and a precise modifiedAtPrecision are left out.
    nlohmann::ordered_json toJSON() const;
    // "name", "path", "isDirectory" and "sizeBytes" are required; the optionals,
    // "isSymbolicLink" and "modifiedAtPrecision" (precise) may be missing or null.
    static SledFileEntry fromJSON(const nlohmann::json& value, std::string_view path = "SledFileEntry");
};

template <>
struct std::hash<SledFileEntry> {
    std::size_t operator()(const SledFileEntry& entry) const noexcept;
};
