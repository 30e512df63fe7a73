#pragma once

#include "VornDate.h"
#include "VornJSON.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Coding shared by the files the suite's applications exchange: dates as ISO 8601 text in whole
// seconds, optional members written only when present, and a reader that refuses anything but a
// small regular file.
namespace detail {

// Files another application may have planted are never trusted to be small or even to be files.
inline constexpr std::size_t suiteFileLimit = 64 * 1024;

// The whole content of the regular file `path` when it holds at most `limit` bytes. A link,
// a FIFO, a device, a folder, an oversized or unreadable file give nothing; the open neither
// follows a final link nor blocks.
std::optional<std::string> suiteReadFile(const std::filesystem::path& path, std::size_t limit = suiteFileLimit);

// Creates `path`'s folder and replaces the file atomically; false on any failure.
bool suiteWriteFile(const std::filesystem::path& path, std::string_view bytes);

std::string suiteDateText(VornDate date);

// Typed reads of one object's members; every failure throws VornDecodingError.
class SuiteReader {
public:
    SuiteReader(const nlohmann::json& value, std::string_view context) : reader_(value, context) {}

    bool has(std::string_view key) const { return reader_.optionalValue(key) != nullptr; }
    const nlohmann::json& value(std::string_view key) const { return reader_.value(key); }

    VornDate date(std::string_view key) const;
    std::int64_t int64(std::string_view key) const { return reader_.int64(key); }
    std::int32_t int32(std::string_view key) const;
    double number(std::string_view key) const;
    float number32(std::string_view key) const;
    bool boolean(std::string_view key) const { return reader_.boolean(key); }
    std::string string(std::string_view key) const { return reader_.string(key); }
    std::vector<std::string> strings(std::string_view key) const;
    std::vector<std::int32_t> int32s(std::string_view key) const;

    std::optional<std::int64_t> optionalInt64(std::string_view key) const;
    std::optional<double> optionalNumber(std::string_view key) const;
    std::optional<bool> optionalBoolean(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const { return reader_.optionalString(key); }

    std::string path(std::string_view key) const { return reader_.path(key); }

private:
    VornJSONObjectReader reader_;
};

// Parses a document of at most suiteFileLimit bytes; throws VornDecodingError.
nlohmann::json suiteParse(std::string_view text);

// Compact text of a record; nothing when it holds a value JSON cannot carry (a non-finite number).
std::optional<std::string> suiteText(const nlohmann::ordered_json& value);

// The freshness rule every live record shares: the absolute distance between `timestamp` and `now`
// is at most `maxAgeSeconds`, and only then is the sender probed.
bool suiteIsFresh(VornDate timestamp, std::int32_t senderPID, VornDate now, double maxAgeSeconds);

// Whether a process with this id exists (signal 0 succeeds or is refused for lack of permission).
bool suiteIsPIDAlive(std::int32_t pid);

// Decodes a record type with a static fromJSON; nothing on any failure.
template <class Record>
std::optional<Record> suiteDecode(std::string_view text) {
    try {
        return Record::fromJSON(suiteParse(text));
    } catch (const VornDecodingError&) {
        return std::nullopt;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

}  // namespace detail
