#include "SledProfileRepository.h"

#include "VornDate.h"
#include "VornFileIO.h"
#include "VornJSON.h"
#include "VornUniqueFd.h"
#include "VornXDG.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace fs = std::filesystem;

namespace {

// Copies `from` to a new file `to` (which must not exist), for file systems without hard links.
bool copyToNewFile(const fs::path& from, const fs::path& to) {
    const VornUniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (source.get() < 0) {
        return false;
    }
    const VornUniqueFd target(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (target.get() < 0) {
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(source.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || (got > 0 && !vornWriteAll(target.get(), std::string_view(buffer, static_cast<std::size_t>(got))))) {
            ::unlink(to.c_str());
            return false;
        }
        if (got == 0) {
            return ::fsync(target.get()) == 0;
        }
    }
}

// "20260301T091502Z": the UTC time in a form that sorts and that every file system accepts.
std::string compactUTCStamp() {
    std::string stamp = vornISO8601String(vornDateNow(), false);  // 2026-03-01T09:15:02Z
    std::string compact;
    for (const char c : stamp) {
        if (c != '-' && c != ':') {
            compact.push_back(c);
        }
    }
    return compact;
}

// Keeps the file at `path` under a new name beside it. A hard link keeps even a file this process
// may not read and leaves the original in place until the new content replaces it; a copy stands
// in where links are not possible. Gives false when nothing could be kept.
bool keepAside(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT;  // gone meanwhile: nothing left to lose
    }
    if (S_ISDIR(info.st_mode)) {
        return true;  // a folder is never replaced by the rename of a file
    }
    const std::string base = path.string() + ".unreadable-" + compactUTCStamp();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path target = attempt == 0 ? fs::path(base) : fs::path(base + "-" + std::to_string(attempt));
        if (::link(path.c_str(), target.c_str()) == 0) {
            return true;
        }
        if (errno == EEXIST) {
            continue;
        }
        return copyToNewFile(path, target);
    }
    return false;
}

}  // namespace

nlohmann::ordered_json SledStoreSnapshot::toJSON() const {
    nlohmann::ordered_json profileList = nlohmann::ordered_json::array();
    for (const ConnectionProfile& profile : profiles) {
        profileList.push_back(profile.toJSON());
    }
    return {{"profiles", std::move(profileList)}, {"settings", settings.toJSON()}};
}

SledStoreSnapshot SledStoreSnapshot::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    const nlohmann::json& profileList = reader.value("profiles");
    if (!profileList.is_array()) {
        reader.fail("profiles", std::string("expected an array, found ") + profileList.type_name());
    }
    const std::string profilesPath = reader.path("profiles");
    SledStoreSnapshot snapshot{.profiles = {}, .settings = SledSettings::fromJSON(reader.value("settings"), reader.path("settings"))};
    snapshot.profiles.reserve(profileList.size());
    for (std::size_t i = 0; i < profileList.size(); ++i) {
        snapshot.profiles.push_back(
            ConnectionProfile::fromJSON(profileList[i], profilesPath + "[" + std::to_string(i) + "]"));
    }
    return snapshot;
}

std::string SledProfileRepository::encode(const SledStoreSnapshot& snapshot) {
    return vornJSONText(snapshot.toJSON(), {.prettyPrinted = true, .sortedKeys = true, .escapeSlashes = true});
}

SledStoreSnapshot SledProfileRepository::decode(std::string_view bytes) {
    return SledStoreSnapshot::fromJSON(vornJSONParse(bytes, maxFileBytes));
}

SledProfileRepository::SledProfileRepository(const std::optional<fs::path>& baseDirectory) {
    const fs::path folder = baseDirectory ? *baseDirectory : VornXDG::dataHome() / "VornSled";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    fileURL_ = folder / "profiles.json";

    std::error_code error;
    const std::optional<std::string> bytes = vornReadFileCapped(fileURL_, maxFileBytes, error);
    if (!bytes) {
        // A missing file is a first start; anything else stands until a save sets it aside.
        keepUnreadableFile_ = error != std::errc::no_such_file_or_directory;
        return;
    }
    try {
        snapshot_ = decode(*bytes);
    } catch (const VornDecodingError&) {
        keepUnreadableFile_ = true;
    }
}

SledStoreSnapshot SledProfileRepository::currentSnapshot() const {
    const std::lock_guard guard(lock_);
    return snapshot_;
}

void SledProfileRepository::saveProfiles(std::vector<ConnectionProfile> profiles) {
    const std::lock_guard guard(lock_);
    snapshot_.profiles = std::move(profiles);
    writeLocked();
}

void SledProfileRepository::saveSettings(SledSettings settings) {
    const std::lock_guard guard(lock_);
    snapshot_.settings = std::move(settings);
    writeLocked();
}

void SledProfileRepository::writeLocked() {
    std::string bytes;
    try {
        bytes = encode(snapshot_);
    } catch (const std::exception&) {
        return;  // nothing the records hold fails to encode; never let a save throw
    }
    if (keepUnreadableFile_) {
        if (!keepAside(fileURL_)) {
            return;  // replacing it now would lose it: the snapshot lives on in memory only
        }
        keepUnreadableFile_ = false;
    }
    try {
        vornWriteFileAtomically(fileURL_, bytes, 0600);  // the file holds the LAN PIN
    } catch (const fs::filesystem_error&) {
        // The file keeps its former content; the snapshot lives on in memory.
    }
}
