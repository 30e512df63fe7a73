#pragma once

#include "VornLanguage.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class VornBundle;

// One version change of an application, one line of its release log.
struct VornReleaseLogRecord {
    std::string timestamp;
    std::string app;
    std::string fromVersion = "0.0.0";
    std::string toVersion = "1.0.0";
    std::int64_t fromBuild = 0;
    std::int64_t toBuild = 100;
    std::string bumpKind = "patch";
    std::string section = "Changed";
    std::string summary;
    std::vector<std::string> details;
    std::map<std::string, std::string> summaryI18n;                // JSON key "summary_i18n"
    std::map<std::string, std::vector<std::string>> detailsI18n;  // JSON key "details_i18n"
    std::string gitCommit;

    // timestamp-app-toVersion-toBuild
    std::string id() const;
    // The first ten characters of the timestamp: its date part.
    std::string shortDate() const;

    // The summary in `language`, else its parent language (pt-BR, zh-Hans), else English, else
    // `summary`; the first non-empty text wins.
    std::string localizedSummary(VornLanguage language) const;
    // The same chain over `detailsI18n`, taking only non-empty lists, ending with `details`.
    std::vector<std::string> localizedDetails(VornLanguage language) const;

    friend bool operator==(const VornReleaseLogRecord&, const VornReleaseLogRecord&) = default;
};

// Writes all thirteen keys.
void to_json(nlohmann::json& json, const VornReleaseLogRecord& record);
// A missing or null key takes its default; a key holding the wrong type throws
// nlohmann::json::exception for the whole record.
void from_json(const nlohmann::json& json, VornReleaseLogRecord& record);

// Reads release logs: JSON lines, one record each, the last line the newest.
struct VornReleaseLogReader {
    // The records of `forApp` (compared in lower case; every record without a name), newest first.
    // Never fails: an unreadable file gives nothing, an undecodable line is skipped on its own.
    static std::vector<VornReleaseLogRecord> load(const std::filesystem::path& from,
                                                  const std::optional<std::string>& forApp);
    // The same for the bundle's resource "release-log.jsonl"; nothing when the bundle has none.
    static std::vector<VornReleaseLogRecord> loadBundled(const std::optional<std::string>& forApp,
                                                         const VornBundle& in);

    // Longer lines are skipped rather than held in memory.
    static constexpr std::size_t maxLineBytes = 1024 * 1024;
};
