#include "VornReleaseLogReader.h"

#include "VornBundle.h"
#include "VornJSON.h"
#include "VornLineReader.h"
#include "VornUnicode.h"

#include <nlohmann/json.hpp>


namespace {

// The value under `key`, or `fallback` when the key is missing or null. A value of another type
// throws, failing the record: absence is tolerated, wrong data is not.
template <typename T>
T field(const nlohmann::json& json, const char* key, T fallback) {
    const auto found = json.find(key);
    if (found == json.end() || found->is_null()) {
        return fallback;
    }
    return found->get<T>();
}

std::int64_t integerField(const nlohmann::json& json, const char* key, std::int64_t fallback) {
    const auto found = json.find(key);
    if (found == json.end() || found->is_null()) {
        return fallback;
    }
    if (found->is_number_unsigned() && found->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
        throw nlohmann::json::out_of_range::create(406, std::string(key) + " is out of range", &*found);
    }
    if (!found->is_number_integer()) {
        throw nlohmann::json::type_error::create(302, std::string(key) + " is not an integer", &*found);
    }
    return found->get<std::int64_t>();
}

template <typename Value>
const Value* nonEmptyEntry(const std::map<std::string, Value>& map, std::string_view code) {
    const auto found = map.find(std::string(code));
    return found != map.end() && !found->second.empty() ? &found->second : nullptr;
}

// The language's own code, then the parent's, then English.
template <typename Value>
const Value* localized(const std::map<std::string, Value>& map, VornLanguage language) {
    if (const Value* value = nonEmptyEntry(map, language.code())) {
        return value;
    }
    if (const auto parent = language.fallbackParent()) {
        if (const Value* value = nonEmptyEntry(map, parent->code())) {
            return value;
        }
    }
    return nonEmptyEntry(map, "en");
}

}  // namespace

std::string VornReleaseLogRecord::id() const {
    return timestamp + "-" + app + "-" + toVersion + "-" + std::to_string(toBuild);
}

std::string VornReleaseLogRecord::shortDate() const {
    std::size_t end = 0;
    int characters = 0;
    while (end < timestamp.size() && characters < 10) {
        end += VornUnicode::decodeUTF8(timestamp, end).length;
        ++characters;
    }
    return timestamp.substr(0, end);
}

std::string VornReleaseLogRecord::localizedSummary(VornLanguage language) const {
    const std::string* text = localized(summaryI18n, language);
    return text ? *text : summary;
}

std::vector<std::string> VornReleaseLogRecord::localizedDetails(VornLanguage language) const {
    const std::vector<std::string>* lines = localized(detailsI18n, language);
    return lines ? *lines : details;
}

void to_json(nlohmann::json& json, const VornReleaseLogRecord& record) {
    json = {{"timestamp", record.timestamp},   {"app", record.app},
            {"fromVersion", record.fromVersion}, {"toVersion", record.toVersion},
            {"fromBuild", record.fromBuild},     {"toBuild", record.toBuild},
            {"bumpKind", record.bumpKind},       {"section", record.section},
            {"summary", record.summary},         {"details", record.details},
            {"summary_i18n", record.summaryI18n}, {"details_i18n", record.detailsI18n},
            {"gitCommit", record.gitCommit}};
}

void from_json(const nlohmann::json& json, VornReleaseLogRecord& record) {
    if (!json.is_object()) {
        throw nlohmann::json::type_error::create(302, "a release-log record is an object", &json);
    }
    const VornReleaseLogRecord defaults;
    record.timestamp = field(json, "timestamp", defaults.timestamp);
    record.app = field(json, "app", defaults.app);
    record.fromVersion = field(json, "fromVersion", defaults.fromVersion);
    record.toVersion = field(json, "toVersion", defaults.toVersion);
    record.fromBuild = integerField(json, "fromBuild", defaults.fromBuild);
    record.toBuild = integerField(json, "toBuild", defaults.toBuild);
    record.bumpKind = field(json, "bumpKind", defaults.bumpKind);
    record.section = field(json, "section", defaults.section);
    record.summary = field(json, "summary", defaults.summary);
    record.details = field(json, "details", defaults.details);
    record.summaryI18n = field(json, "summary_i18n", defaults.summaryI18n);
    record.detailsI18n = field(json, "details_i18n", defaults.detailsI18n);
    record.gitCommit = field(json, "gitCommit", defaults.gitCommit);
}

std::vector<VornReleaseLogRecord> VornReleaseLogReader::load(const std::filesystem::path& from,
                                                             const std::optional<std::string>& forApp) {
    std::vector<VornReleaseLogRecord> records;
    const std::optional<std::string> wanted = forApp ? std::optional(VornUnicode::lowercased(*forApp)) : std::nullopt;
    // Walking from the last line gives the newest record first, as callers want them.
    vornReadLinesBackwards(from, maxLineBytes, [&](std::string_view line) {
        const nlohmann::json json = vornJSONParseOrDiscarded(line, maxLineBytes);
        if (json.is_discarded()) {
            return true;
        }
        try {
            VornReleaseLogRecord record = json.get<VornReleaseLogRecord>();
            if (!wanted || VornUnicode::lowercased(record.app) == *wanted) {
                records.push_back(std::move(record));
            }
        } catch (const nlohmann::json::exception&) {
            // One wrongly typed record costs only its own line.
        }
        return true;
    });
    return records;
}

std::vector<VornReleaseLogRecord> VornReleaseLogReader::loadBundled(const std::optional<std::string>& forApp,
                                                                    const VornBundle& in) {
    const auto resource = in.resourcePath("release-log", "jsonl");
    return resource ? load(*resource, forApp) : std::vector<VornReleaseLogRecord>{};
}
