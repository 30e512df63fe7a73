#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// One application's preferences: a JSON object kept in "<domain>.json" inside
// $XDG_CONFIG_HOME/vornworks/. Every typed getter gives nothing when the key is missing or holds
// another JSON type; reads never throw, and a missing, oversized or malformed file reads as empty.
// Each setter re-reads the file (another process may have changed it), applies the change and
// writes the whole file atomically, holding both the object's lock and an exclusive file lock on
// the folder from the re-read to the rename, so writers in other processes lose none of each
// other's keys. A failed write throws std::filesystem::filesystem_error and leaves both the file
// and the values seen unchanged. A file that is there but cannot be read or understood (no
// permission, malformed, too large, not a regular file) is never overwritten: the first write
// keeps it beside the new one as "<domain>.json.corrupt" (or "...corrupt-1" and so on when that
// name is taken), and when it cannot be kept the write fails.
class VornUserDefaults {
public:
    // The file is found from $XDG_CONFIG_HOME at each access, so a changed environment is honoured.
    explicit VornUserDefaults(std::string domain);
    // A domain kept in an explicit file.
    VornUserDefaults(std::string domain, std::filesystem::path file);
    VornUserDefaults(const VornUserDefaults&) = delete;
    VornUserDefaults& operator=(const VornUserDefaults&) = delete;

    // The application's own domain, "com.vornworks.vornsled".
    static VornUserDefaults& standard();
    static constexpr std::string_view standardDomain = "com.vornworks.vornsled";
    // Files larger than this read as empty.
    static constexpr std::uintmax_t maxFileSize = std::uintmax_t{8} << 20;

    const std::string& domain() const { return domain_; }
    std::filesystem::path filePath() const;

    bool contains(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    // Integral JSON numbers that fit in 64 signed bits.
    std::optional<std::int64_t> integer(std::string_view key) const;
    // Any JSON number.
    std::optional<double> number(std::string_view key) const;
    // Only an array whose every element is a string.
    std::optional<std::vector<std::string>> stringArray(std::string_view key) const;
    // The stored JSON value, whatever its type.
    std::optional<nlohmann::json> value(std::string_view key) const;
    // The whole domain as one JSON object.
    nlohmann::json dictionary() const;

    void setString(std::string_view key, std::string_view value);
    void setBoolean(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    // Non-finite numbers have no JSON form: std::invalid_argument.
    void setNumber(std::string_view key, double value);
    void setStringArray(std::string_view key, const std::vector<std::string>& value);
    // Text inside `value` must be valid UTF-8 (else nlohmann::json::type_error on write), and the
    // file may nest no deeper than the JSON reader accepts (else std::invalid_argument).
    void setValue(std::string_view key, const nlohmann::json& value);
    void remove(std::string_view key);

private:
    struct FileStamp {
        std::uintmax_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = 0, changedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };

    // Brings cache_ up to date with the file; the caller holds mutex_.
    void refreshLocked() const;
    void write(std::string_view key, std::optional<nlohmann::json> value);

    std::string domain_;
    std::optional<std::filesystem::path> explicitFile_;

    mutable std::mutex mutex_;
    mutable std::optional<std::filesystem::path> cachedPath_;
    mutable std::optional<FileStamp> cachedStamp_;  // nothing when the file was absent
    mutable nlohmann::json cache_ = nlohmann::json::object();
    // A file is there whose content the cache does not hold: a write keeps it aside first.
    mutable bool cacheMalformed_ = false;
    // Reading failed for a passing reason (out of descriptors or memory): a write fails instead.
    mutable std::optional<std::error_code> transientReadError_;
};
