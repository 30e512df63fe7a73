#include "VornUserDefaults.h"

#include "VornFileIO.h"
#include "VornXDG.h"

#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

VornUserDefaults::VornUserDefaults(std::string domain) : domain_(std::move(domain)) {}

VornUserDefaults::VornUserDefaults(std::string domain, fs::path file)
    : domain_(std::move(domain)), explicitFile_(std::move(file)) {}

VornUserDefaults& VornUserDefaults::standard() {
    // Never destroyed: threads still reading preferences while the process exits find it intact.
    static auto* defaults = new VornUserDefaults(std::string(standardDomain));
    return *defaults;
}

fs::path VornUserDefaults::filePath() const {
    if (explicitFile_) {
        return *explicitFile_;
    }
    return VornXDG::configHome() / "vornworks" / (domain_ + ".json");
}

void VornUserDefaults::refreshLocked() const {
    const fs::path path = filePath();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        cachedPath_ = path;
        cachedStamp_.reset();
        cache_ = json::object();
        cacheMalformed_ = false;
        return;
    }
    auto stampOf = [](const struct stat& s) {
        return FileStamp{static_cast<std::uintmax_t>(s.st_dev), static_cast<std::uintmax_t>(s.st_ino),
                         static_cast<std::uintmax_t>(s.st_size), nanoseconds(s.st_mtim),
                         nanoseconds(s.st_ctim)};
    };
    if (cachedPath_ == path && cachedStamp_ == stampOf(info)) {
        return;
    }
    cachedPath_ = path;
    cache_ = json::object();
    cacheMalformed_ = true;
    std::error_code error;
    const std::optional<std::string> bytes = vornReadFileCapped(path, maxFileSize, error, &info);
    cachedStamp_ = stampOf(info);  // of the file as opened, when it could be
    if (!bytes) {
        // Too large or no regular file: malformed, set aside by the next write. Unreadable: never
        // set aside.
        cacheMalformed_ = error == std::errc::file_too_large || error == std::errc::invalid_argument;
        return;
    }
    json parsed = json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
        cache_ = std::move(parsed);
        cacheMalformed_ = false;
    }
}

std::optional<json> VornUserDefaults::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    auto it = cache_.find(key);
    if (it == cache_.end()) {
        return std::nullopt;
    }
    return *it;
}

json VornUserDefaults::dictionary() const {
    std::lock_guard lock(mutex_);
    refreshLocked();
    return cache_;
}

bool VornUserDefaults::contains(std::string_view key) const { return value(key).has_value(); }

std::optional<std::string> VornUserDefaults::string(std::string_view key) const {
    auto v = value(key);
    if (!v || !v->is_string()) {
        return std::nullopt;
    }
    return v->get<std::string>();
}

std::optional<bool> VornUserDefaults::boolean(std::string_view key) const {
    auto v = value(key);
    if (!v || !v->is_boolean()) {
        return std::nullopt;
    }
    return v->get<bool>();
}

std::optional<std::int64_t> VornUserDefaults::integer(std::string_view key) const {
    auto v = value(key);
    if (!v) {
        return std::nullopt;
    }
    if (v->is_number_unsigned()) {
        const auto u = v->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(u);
    }
    if (v->is_number_integer()) {
        return v->get<std::int64_t>();
    }
    return std::nullopt;
}

std::optional<double> VornUserDefaults::number(std::string_view key) const {
    auto v = value(key);
    if (!v || !v->is_number()) {
        return std::nullopt;
    }
    return v->get<double>();
}

std::optional<std::vector<std::string>> VornUserDefaults::stringArray(std::string_view key) const {
    auto v = value(key);
    if (!v || !v->is_array()) {
        return std::nullopt;
    }
    std::vector<std::string> result;
    result.reserve(v->size());
    for (const json& element : *v) {
        if (!element.is_string()) {
            return std::nullopt;
        }
        result.push_back(element.get<std::string>());
    }
    return result;
}

void VornUserDefaults::setString(std::string_view key, std::string_view value) {
    write(key, json(std::string(value)));
}
void VornUserDefaults::setBoolean(std::string_view key, bool value) { write(key, json(value)); }
void VornUserDefaults::setInteger(std::string_view key, std::int64_t value) { write(key, json(value)); }
void VornUserDefaults::setNumber(std::string_view key, double value) {
    if (!std::isfinite(value)) {
        throw std::invalid_argument("VornUserDefaults: a number must be finite to be stored");
    }
    write(key, json(value));
}
void VornUserDefaults::setStringArray(std::string_view key, const std::vector<std::string>& value) {
    write(key, json(value));
}
void VornUserDefaults::setValue(std::string_view key, const json& value) { write(key, value); }
void VornUserDefaults::remove(std::string_view key) { write(key, std::nullopt); }

void VornUserDefaults::write(std::string_view key, std::optional<json> value) {
    std::lock_guard lock(mutex_);
    refreshLocked();
    json updated = cache_;
    if (value) {
        updated[std::string(key)] = std::move(*value);
    } else {
        updated.erase(std::string(key));
    }
    // Serialising first: a value that cannot be written (invalid UTF-8) changes nothing.
    const std::string bytes = updated.dump(2) + "\n";
    const fs::path path = filePath();
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        throw fs::filesystem_error("cannot create the preferences folder", path.parent_path(), error);
    }
    if (cacheMalformed_) {
        fs::path aside = path;
        aside += ".corrupt";
        if (::rename(path.c_str(), aside.c_str()) != 0 && errno != ENOENT) {
            throwErrno("cannot keep the malformed preferences aside", path, errno);
        }
        cacheMalformed_ = false;
    }
    vornWriteFileAtomically(path, bytes, 0644);
    // Read back what is now on disk, so that the cache carries the new file's stamp.
    cachedPath_.reset();
    refreshLocked();
}
