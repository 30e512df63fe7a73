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

SledStoreSaveResult SledProfileRepository::saveProfiles(std::vector<ConnectionProfile> profiles) {
    const std::lock_guard guard(lock_);
    return saveLocked(&SledStoreSnapshot::profiles, std::move(profiles));
}

SledStoreSaveResult SledProfileRepository::saveSettings(SledSettings settings) {
    const std::lock_guard guard(lock_);
    return saveLocked(&SledStoreSnapshot::settings, std::move(settings));
}

template <class Part>
SledStoreSaveResult SledProfileRepository::saveLocked(Part SledStoreSnapshot::*part, Part value) {
    std::swap(snapshot_.*part, value);  // `value` now holds the part as it was
    std::string bytes;
    try {
        bytes = encode(snapshot_);
        // The writer refuses what JSON cannot hold; reading it back also catches any value the
        // decoders would refuse, which would otherwise reset the whole store at the next start.
        static_cast<void>(decode(bytes));
    } catch (const std::exception&) {
        std::swap(snapshot_.*part, value);
        return SledStoreSaveResult::refused;
    }
    return writeLocked(bytes) ? SledStoreSaveResult::saved : SledStoreSaveResult::notWritten;
}

bool SledProfileRepository::writeLocked(const std::string& bytes) {
    if (keepUnreadableFile_) {
        if (!vornKeepAside(fileURL_, fileURL_.string() + ".unreadable-" + compactUTCStamp())) {
            return false;  // replacing it now would lose it: the snapshot lives on in memory only
        }
        keepUnreadableFile_ = false;
    }
    try {
        vornWriteFileAtomically(fileURL_, bytes, 0600);  // the file holds the LAN PIN
    } catch (const fs::filesystem_error&) {
        return false;  // the file keeps its former content; the snapshot lives on in memory
    }
    return true;
}
