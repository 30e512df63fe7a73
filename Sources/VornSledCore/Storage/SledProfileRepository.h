#pragma once

#include "ConnectionProfile.h"
#include "SledSettings.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The whole content of profiles.json.
struct SledStoreSnapshot {
    std::vector<ConnectionProfile> profiles;
    SledSettings settings;  // default: every setting at its default, with a fresh PIN

    friend bool operator==(const SledStoreSnapshot&, const SledStoreSnapshot&) = default;

    // {"profiles": [...], "settings": {...}}.
    nlohmann::ordered_json toJSON() const;
    // Both members are required; any malformed profile or setting fails the whole document.
    static SledStoreSnapshot fromJSON(const nlohmann::json& value, std::string_view path = "profiles.json");
};

// What became of a save.
enum class SledStoreSaveResult {
    saved,       // the file now holds the whole snapshot
    // A value has no form the file could hold and be read back from (text that is not UTF-8, such
    // as a folder name in another encoding): neither the snapshot nor the file changed.
    refused,
    // The snapshot holds the change, but the file could not be written and keeps what it had.
    notWritten,
};

// The user's connection profiles and settings in one JSON file, profiles.json. Secrets are never in
// it (they live in the credential store), but the LAN PIN is, so the file is private to the user
// (mode 0600). Nothing here throws: a file that cannot be read or understood gives the defaults,
// and a save that fails leaves the file as it was and says so in its result. Guards its snapshot
// and every write of the file with one lock; share one instance by reference.
class SledProfileRepository {
public:
    // Larger files are not read (they fall back to the defaults like any unreadable file).
    static constexpr std::size_t maxFileBytes = 32 * 1024 * 1024;

    // `baseDirectory` is the folder itself, used as given; without it the folder is "VornSled" in
    // the user's data folder. The folder is created with its parents (a failure is ignored), and
    // the file is read once, here.
    explicit SledProfileRepository(const std::optional<std::filesystem::path>& baseDirectory = std::nullopt);
    SledProfileRepository(const SledProfileRepository&) = delete;
    SledProfileRepository& operator=(const SledProfileRepository&) = delete;

    // A copy of the current snapshot.
    SledStoreSnapshot currentSnapshot() const;
    // Replace one part of the snapshot and write the whole file. Only what reads back as the same
    // snapshot is written: a file the next start would reject would cost every profile, setting
    // and the PIN. A refused part never enters the snapshot, so it cannot block later saves.
    SledStoreSaveResult saveProfiles(std::vector<ConnectionProfile> profiles);
    SledStoreSaveResult saveSettings(SledSettings settings);

    const std::filesystem::path& fileURL() const { return fileURL_; }

    // The exact bytes of the file for a snapshot: pretty-printed, keys sorted, "/" escaped.
    static std::string encode(const SledStoreSnapshot& snapshot);
    // The snapshot in `bytes`; throws VornDecodingError for anything that is not a whole,
    // well-formed store file of at most maxFileBytes.
    static SledStoreSnapshot decode(std::string_view bytes);

private:
    template <class Part>
    SledStoreSaveResult saveLocked(Part SledStoreSnapshot::*part, Part value);
    bool writeLocked(const std::string& bytes);

    mutable std::mutex lock_;
    std::filesystem::path fileURL_;
    SledStoreSnapshot snapshot_;
    // A file was there that could not be read or decoded: before the first save replaces it, it is
    // kept beside it as profiles.json.unreadable-<UTC time>, so no profile is lost for good.
    bool keepUnreadableFile_ = false;
};
