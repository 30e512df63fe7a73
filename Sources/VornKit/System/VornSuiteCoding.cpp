#include "VornSuiteCoding.h"

#include "VornFileIO.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace detail {

std::optional<std::string> suiteReadFile(const std::filesystem::path& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) <= limit) {
        std::string data;
        char buffer[16384];
        bool ok = true;
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ok = false;
                break;
            }
            if (got == 0) {
                break;
            }
            data.append(buffer, static_cast<std::size_t>(got));
            // A file that grows while it is read is refused like one that was large from the start.
            if (data.size() > limit) {
                ok = false;
                break;
            }
        }
        if (ok) {
            result = std::move(data);
        }
    }
    ::close(fd);
    return result;
}

bool suiteWriteFile(const std::filesystem::path& path, std::string_view bytes) {
    try {
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        vornWriteFileAtomically(path, bytes, 0644);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string suiteDateText(VornDate date) { return vornISO8601String(date, false); }

VornDate SuiteReader::date(std::string_view key) const {
    const std::string text = vornJSONGetString(value(key), path(key));
    if (const std::optional<VornDate> date = vornDateFromISO8601(text)) {
        return *date;
    }
    throw VornDecodingError(path(key) + ": not an ISO 8601 date");
}

std::int32_t SuiteReader::int32(std::string_view key) const {
    const std::int64_t number = int64(key);
    if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max()) {
        throw VornDecodingError(path(key) + ": outside the 32-bit range");
    }
    return static_cast<std::int32_t>(number);
}

double SuiteReader::number(std::string_view key) const {
    const nlohmann::json& member = value(key);
    if (!member.is_number()) {
        throw VornDecodingError(path(key) + ": not a number");
    }
    return member.get<double>();
}

float SuiteReader::number32(std::string_view key) const { return static_cast<float>(number(key)); }

std::vector<std::string> SuiteReader::strings(std::string_view key) const {
    const nlohmann::json& member = value(key);
    if (!member.is_array()) {
        throw VornDecodingError(path(key) + ": not an array");
    }
    std::vector<std::string> result;
    for (const nlohmann::json& element : member) {
        result.push_back(vornJSONGetString(element, path(key)));
    }
    return result;
}

std::vector<std::int32_t> SuiteReader::int32s(std::string_view key) const {
    const nlohmann::json& member = value(key);
    if (!member.is_array()) {
        throw VornDecodingError(path(key) + ": not an array");
    }
    std::vector<std::int32_t> result;
    for (const nlohmann::json& element : member) {
        const std::int64_t number = vornJSONGetInt64(element, path(key));
        if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max()) {
            throw VornDecodingError(path(key) + ": outside the 32-bit range");
        }
        result.push_back(static_cast<std::int32_t>(number));
    }
    return result;
}

std::optional<std::int64_t> SuiteReader::optionalInt64(std::string_view key) const {
    if (!has(key)) {
        return std::nullopt;
    }
    return int64(key);
}

std::optional<double> SuiteReader::optionalNumber(std::string_view key) const {
    if (!has(key)) {
        return std::nullopt;
    }
    return number(key);
}

std::optional<bool> SuiteReader::optionalBoolean(std::string_view key) const {
    if (!has(key)) {
        return std::nullopt;
    }
    return boolean(key);
}

nlohmann::json suiteParse(std::string_view text) { return vornJSONParse(text, suiteFileLimit); }

std::optional<std::string> suiteText(const nlohmann::ordered_json& value) {
    try {
        return vornJSONText(value, VornJSONWriteOptions{.prettyPrinted = false, .sortedKeys = false, .escapeSlashes = true});
    } catch (const VornDecodingError&) {
        return std::nullopt;
    }
}

bool suiteIsFresh(VornDate timestamp, std::int32_t senderPID, VornDate now, double maxAgeSeconds) {
    const double age = std::fabs(std::chrono::duration<double>(now - timestamp).count());
    if (!(age <= maxAgeSeconds)) {
        return false;
    }
    return suiteIsPIDAlive(senderPID);
}

bool suiteIsPIDAlive(std::int32_t pid) {
    if (pid <= 0) {
        return false;
    }
    if (::kill(static_cast<pid_t>(pid), 0) == 0) {
        return true;
    }
    return errno == EPERM;
}

}  // namespace detail
