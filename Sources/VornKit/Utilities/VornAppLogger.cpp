#include "VornAppLogger.h"

#include "VornDate.h"
#include "VornDesktop.h"
#include "VornFileIO.h"
#include "VornLineReader.h"
#include "VornUUID.h"
#include "VornUniqueFd.h"
#include "VornUnicode.h"
#include "VornXDG.h"

#include <nlohmann/json.hpp>
#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <syslog.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Redaction {
    std::unique_ptr<icu::RegexPattern> pattern;
    icu::UnicodeString replacement;
};

// Compiled once; a compiled ICU pattern may be shared by any number of threads.
const std::vector<Redaction>& redactions() {
    static const std::vector<Redaction> table = [] {
        const std::pair<const char*, const char*> sources[] = {
            {R"re((?i)(bearer\s+)[A-Za-z0-9._\-]{8,})re", "$1[REDACTED]"},
            {R"re(\b(sk-[A-Za-z0-9_\-]{10,})\b)re", "[REDACTED_KEY]"},
            {R"re(\b(AIza[0-9A-Za-z\-_]{16,})\b)re", "[REDACTED_KEY]"},
            {R"re((?i)((?:api[_-]?key|token|secret|password)\s*[=:]\s*)[^\s,;\"']+)re", "$1[REDACTED]"},
        };
        std::vector<Redaction> compiled;
        for (const auto& [source, replacement] : sources) {
            UErrorCode status = U_ZERO_ERROR;
            UParseError where{};
            std::unique_ptr<icu::RegexPattern> pattern(
                icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(source), 0, where, status));
            if (U_SUCCESS(status) && pattern) {  // a pattern that does not compile is skipped
                compiled.push_back({std::move(pattern), icu::UnicodeString::fromUTF8(replacement)});
            }
        }
        return compiled;
    }();
    return table;
}

std::string fileStem(const std::string& appName) {
    std::string stem = VornUnicode::lowercased(appName);
    std::replace(stem.begin(), stem.end(), ' ', '-');
    return stem;
}

int syslogPriority(VornLogLevel level) {
    switch (level) {
    case VornLogLevel::debug: return LOG_DEBUG;
    case VornLogLevel::info: return LOG_INFO;
    case VornLogLevel::warn:
    case VornLogLevel::error: return LOG_ERR;
    }
    return LOG_ERR;
}

// One compact JSON line with sorted keys, "/" escaped as "\/" like the logs the suite's other
// applications write. A "/" can only occur inside strings of compact output, so escaping every one
// is exact. Invalid UTF-8 in a message becomes U+FFFD instead of failing the line.
std::string encodeLine(const VornLogEntry& entry) {
    const std::string compact = nlohmann::json(entry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string line;
    line.reserve(compact.size() + 16);
    for (char c : compact) {
        if (c == '/') {
            line += '\\';
        }
        line += c;
    }
    line += '\n';
    return line;
}

void appendToExisting(const fs::path& file, std::string_view bytes) {
    const VornUniqueFd out(::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (!out) {
        throw fs::filesystem_error("cannot open", file, std::error_code(errno, std::generic_category()));
    }
    if (!vornWriteAll(out.get(), bytes)) {
        throw fs::filesystem_error("cannot write", file, std::error_code(errno, std::generic_category()));
    }
}

std::optional<VornLogEntry> decodeLine(std::string_view line) {
    const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        return std::nullopt;
    }
    try {
        return json.get<VornLogEntry>();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::string exportLine(const VornLogEntry& entry) {
    return "[" + entry.timestamp + "] [" + std::string(label(entry.level)) + "] [v" + entry.version + "#" +
           entry.build + "] [" + entry.category + "] " + entry.message;
}

}  // namespace

std::string_view label(VornLogLevel level) {
    switch (level) {
    case VornLogLevel::debug: return "DEBUG";
    case VornLogLevel::info: return "INFO";
    case VornLogLevel::warn: return "WARN";
    case VornLogLevel::error: return "ERROR";
    }
    return "ERROR";
}

void to_json(nlohmann::json& json, VornLogLevel level) { json = rawValue(level); }

void from_json(const nlohmann::json& json, VornLogLevel& level) { level = vornJSONGetEnumOrTypeError<VornLogLevel>(json); }

void to_json(nlohmann::json& json, const VornLogEntry& entry) {
    json = {{"id", entry.id},           {"timestamp", entry.timestamp}, {"level", entry.level},
            {"category", entry.category}, {"message", entry.message},   {"version", entry.version},
            {"build", entry.build}};
}

void from_json(const nlohmann::json& json, VornLogEntry& entry) {
    // at() throws for a missing key and get<std::string>() for a value that is not text.
    entry.id = json.at("id").get<std::string>();
    entry.timestamp = json.at("timestamp").get<std::string>();
    entry.level = json.at("level").get<VornLogLevel>();
    entry.category = json.at("category").get<std::string>();
    entry.message = json.at("message").get<std::string>();
    entry.version = json.at("version").get<std::string>();
    entry.build = json.at("build").get<std::string>();
}

std::shared_ptr<VornAppLogger> VornAppLogger::shared(const std::string& appName, VersionProvider versionProvider) {
    static std::mutex registryLock;
    static std::map<std::string, std::shared_ptr<VornAppLogger>> registry;
    std::lock_guard guard(registryLock);
    auto& logger = registry[appName];
    if (!logger) {
        if (!versionProvider) {
            versionProvider = [] { return VornAppVersion::current(); };
        }
        logger = std::make_shared<VornAppLogger>(appName, std::nullopt, defaultMaxFileBytes, defaultMaxRotatedFiles,
                                                 std::move(versionProvider));
    }
    return logger;
}

VornAppLogger::VornAppLogger(std::string appName, std::optional<fs::path> directory, std::uint64_t maxFileBytes,
                             int maxRotatedFiles, VersionProvider versionProvider)
    : appName_(std::move(appName)),
      logDirectory_(directory ? *directory : VornXDG::makerFolder() / appName_ / "logs"),
      maxFileBytes_(std::max(maxFileBytes, minimumMaxFileBytes)),
      maxRotatedFiles_(std::max(maxRotatedFiles, 1)),
      versionProvider_(versionProvider ? std::move(versionProvider) : VersionProvider([] {
          return VornAppVersion::current();
      })) {
    const std::string stem = fileStem(appName_);
    currentFile_ = logDirectory_ / (stem + ".log");
    subsystem_ = "com.vornworks." + stem;
}

fs::path VornAppLogger::rotatedFile(int number) const {
    return currentFile_.string() + "." + std::to_string(number);
}

void VornAppLogger::log(VornLogLevel level, std::string_view category, std::string_view message) {
    VornLogEntry entry;
    try {
        const VornAppVersion version = versionProvider_();
        entry = {VornUUID::random().uuidString(), vornISO8601String(vornDateNow()), level, std::string(category),
                 redactSecrets(message), version.shortVersion, version.buildNumber};
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "[VornAppLogger:%s] write failed: %s\n", appName_.c_str(), failure.what());
        return;
    }

    const std::string mirrored = subsystem_ + " runtime: [" + entry.category + "] " + entry.message;
    ::syslog(LOG_USER | syslogPriority(level), "%s", mirrored.c_str());

    std::lock_guard guard(lock_);
    try {
        fs::create_directories(logDirectory_);
        rotateIfNeededLocked();
        const std::string line = encodeLine(entry);
        std::error_code status;
        if (fs::exists(currentFile_, status)) {
            appendToExisting(currentFile_, line);
        } else {
            vornWriteFileAtomically(currentFile_, line, 0600);  // a new log file appears whole or not at all
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "[VornAppLogger:%s] write failed: %s\n", appName_.c_str(), failure.what());
    }
}

void VornAppLogger::debug(std::string_view message, std::string_view category) {
    log(VornLogLevel::debug, category, message);
}
void VornAppLogger::info(std::string_view message, std::string_view category) {
    log(VornLogLevel::info, category, message);
}
void VornAppLogger::warn(std::string_view message, std::string_view category) {
    log(VornLogLevel::warn, category, message);
}
void VornAppLogger::error(std::string_view message, std::string_view category) {
    log(VornLogLevel::error, category, message);
}

std::string VornAppLogger::redactSecrets(std::string_view text) {
    icu::UnicodeString current = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    for (const Redaction& redaction : redactions()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(redaction.pattern->matcher(current, status));
        if (U_FAILURE(status) || !matcher) {
            continue;
        }
        icu::UnicodeString replaced = matcher->replaceAll(redaction.replacement, status);
        if (U_SUCCESS(status)) {
            current = std::move(replaced);
        }
    }
    std::string result;
    current.toUTF8String(result);
    return result;
}

void VornAppLogger::rotateIfNeededLocked() {
    std::error_code status;
    const std::uintmax_t size = fs::file_size(currentFile_, status);
    if (status || size < maxFileBytes_) {
        return;
    }
    fs::remove(rotatedFile(maxRotatedFiles_), status);
    for (int number = maxRotatedFiles_ - 1; number >= 1; --number) {
        if (fs::exists(rotatedFile(number), status)) {
            fs::rename(rotatedFile(number), rotatedFile(number + 1), status);
        }
    }
    fs::rename(currentFile_, rotatedFile(1), status);
}

std::vector<VornLogEntry> VornAppLogger::recentEntries(int limit, VornLogLevel minimumLevel) const {
    std::vector<VornLogEntry> entries;
    const std::size_t wanted = limit > 0 ? static_cast<std::size_t>(limit) : 1;
    std::lock_guard guard(lock_);
    vornReadLinesBackwards(currentFile_, maxReadableLineBytes, [&](std::string_view line) {
        auto entry = decodeLine(line);
        if (entry && entry->level >= minimumLevel) {
            entries.push_back(std::move(*entry));
        }
        return entries.size() < wanted;
    });
    return entries;
}

std::string VornAppLogger::exportPlainText(int limit, VornLogLevel minimumLevel) const {
    const std::vector<VornLogEntry> entries = recentEntries(limit, minimumLevel);
    std::string text;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (!text.empty() || it != entries.rbegin()) {
            text += '\n';
        }
        text += exportLine(*it);
    }
    return text;
}

void VornAppLogger::clear() {
    std::lock_guard guard(lock_);
    std::error_code ignored;
    fs::remove(currentFile_, ignored);
    for (int number = 1; number <= maxRotatedFiles_; ++number) {
        fs::remove(rotatedFile(number), ignored);
    }
}

void VornAppLogger::revealInFinder() const {
    std::error_code status;
    fs::create_directories(logDirectory_, status);
    if (fs::exists(currentFile_, status)) {
        VornDesktop::revealInFileManager(currentFile_);
    } else {
        VornDesktop::open(logDirectory_.string());
    }
}
