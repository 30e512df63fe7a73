#include "VornUserDefaults.h"

#include "VornFileIO.h"
#include "VornJSON.h"
#include "VornXDG.h"

#include "VornUniqueFd.h"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
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

// Failures that say nothing about the file: trying again later may well read it.
bool isTransient(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EAGAIN || error == EINTR;
}

// An exclusive lock on the preferences folder, held until the descriptor closes. The folder, not
// the file: every write replaces the file by a rename, so a lock on the file would guard an inode
// the next writer no longer opens, and a separate lock file would be one more file in the folder.
VornUniqueFd lockFolder(const fs::path& folder) {
    VornUniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        throwErrno("cannot open the preferences folder", folder, errno);
    }
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno == EINTR) {
            continue;
        }
        // A file system without flock (some network mounts): write as without the lock.
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EBADF || errno == EINVAL) {
            break;
        }
        throwErrno("cannot lock the preferences folder", folder, errno);
    }
    return fd;
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
    transientReadError_.reset();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int error = errno;
        cachedPath_ = path;
        cachedStamp_.reset();
        cache_ = json::object();
        // Only a file that is not there is empty; one that cannot even be looked at (a folder on
        // the way that may not be searched, a loop of links) is kept like an unreadable one.
        cacheMalformed_ = error != ENOENT && error != ENOTDIR && !isTransient(error);
        if (isTransient(error)) {
            transientReadError_ = std::error_code(error, std::generic_category());
        }
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
        // Too large, no regular file, or not readable (no permission, an I/O error): set aside by
        // the next write, so that what it holds is never lost to a file of one key.
        if (error == std::errc::no_such_file_or_directory) {
            cachedStamp_.reset();  // removed since the stat: absent
            cacheMalformed_ = false;
        } else if (isTransient(error.value())) {
            cachedPath_.reset();  // read again next time
            cacheMalformed_ = false;
            transientReadError_ = error;
        }
        return;
    }
    json parsed = vornJSONParseOrDiscarded(*bytes, maxFileSize);
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
    const fs::path path = filePath();
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
        throw fs::filesystem_error("cannot create the preferences folder", path.parent_path(), error);
    }
    // From the re-read to the rename no other writer may come in between, or one of the two
    // would write a file without the other's key.
    const VornUniqueFd folderLock = lockFolder(path.parent_path());
    cachedPath_.reset();
    refreshLocked();
    if (transientReadError_) {
        throw fs::filesystem_error("cannot read the preferences", path, *transientReadError_);
    }
    json updated = cache_;
    if (value) {
        updated[std::string(key)] = std::move(*value);
    } else {
        updated.erase(std::string(key));
    }
    // Serialising first: a value that cannot be written (invalid UTF-8) changes nothing; nor does
    // one that the reader would refuse, which would make the whole domain read as empty.
    const std::string bytes = updated.dump(2) + "\n";
    if (!vornJSONNestingWithin(bytes, vornJSONMaxDepth)) {
        throw std::invalid_argument("VornUserDefaults: the value nests deeper than " +
                                    std::to_string(vornJSONMaxDepth) + " levels");
    }
    if (cacheMalformed_) {
        if (!vornKeepAside(path, path.string() + ".corrupt")) {
            throwErrno("cannot keep the unreadable preferences aside", path, errno != 0 ? errno : EIO);
        }
        cacheMalformed_ = false;
    }
    vornWriteFileAtomically(path, bytes, 0644);
    // Read back what is now on disk, so that the cache carries the new file's stamp.
    cachedPath_.reset();
    refreshLocked();
}
