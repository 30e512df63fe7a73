#include "SledTemporaryFileName.h"

#include "VornChecksum.h"
#include "VornUUID.h"
#include "VornUniqueFd.h"

#include <chrono>
#include <optional>
#include <system_error>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view siblingPrefix = ".vornsled-";
constexpr std::string_view siblingSuffix = ".part";
// The holder part of a name: a lock guards the file while its writer lives, or none could be taken.
constexpr std::string_view lockedHolder = "lock";
constexpr std::string_view unlockedHolder = "nolock";
// How long a file nothing proves in use must stay unchanged before it counts as left over.
constexpr auto unprovenLeftoverAge = std::chrono::hours(24);

// A folder's leftovers, read once a minute at most: the hidden siblings whose writers had ended.
// Made on first use, so that a write made before main (by a static initialiser) finds it.
SledLeftoverReadings<std::pair<dev_t, ino_t>>& readings() {
    static SledLeftoverReadings<std::pair<dev_t, ino_t>> made(std::chrono::minutes(1));
    return made;
}

// The destination key and holder part of a hidden sibling's name; nothing for any other name.
std::optional<std::pair<std::string_view, std::string_view>> siblingParts(std::string_view name) {
    if (!name.starts_with(siblingPrefix) || !name.ends_with(siblingSuffix)) {
        return std::nullopt;
    }
    std::string_view inner = name.substr(siblingPrefix.size(), name.size() - siblingPrefix.size() - siblingSuffix.size());
    const std::size_t holderDot = inner.rfind('.');
    if (holderDot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view holder = inner.substr(holderDot + 1);
    inner = inner.substr(0, holderDot);
    const std::size_t keyDot = inner.rfind('.');
    if (keyDot == std::string_view::npos || inner.substr(0, keyDot).find('.') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(inner.substr(keyDot + 1), holder);
}

SledLeftoverReadings<std::pair<dev_t, ino_t>>::Found readFolder(const fs::path& folder) {
    SledLeftoverReadings<std::pair<dev_t, ino_t>>::Found leftovers;
    const VornUniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return leftovers;
    }
    std::error_code status;
    for (fs::directory_iterator entry(folder, status), end; !status && entry != end; entry.increment(status)) {
        const std::string name = entry->path().filename().string();
        const auto parts = siblingParts(name);
        if (parts && sledHeldFileHasEnded(directory.get(), name, parts->second)) {
            leftovers.emplace(std::string(parts->first), name);
        }
    }
    return leftovers;
}

[[noreturn]] void throwHeldFileError(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

}  // namespace

std::string sledTemporaryFileName(std::string_view prefix, std::string_view fileName, std::size_t maxBytes) {
    std::string name = std::string(prefix) + VornUUID::random().uuidString() + "-";
    if (name.size() >= maxBytes) {
        return name;
    }
    const std::string safe = LANNetworkHelpers::sanitizeIncomingFileName(fileName);
    name += LANNetworkHelpers::utf8Prefix(safe, maxBytes - name.size());
    return name;
}

namespace {

fs::path siblingName(const fs::path& destination, std::string_view label, std::string_view holder) {
    std::string name(siblingPrefix);
    if (!label.empty()) {
        name.append(label).append("-");
    }
    name += VornUUID::random().uuidString() + "." + sledDestinationKey(destination.filename().string()) + "." +
            std::string(holder) + std::string(siblingSuffix);
    return destination.parent_path() / name;
}

}  // namespace

std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label) {
    return siblingName(destination, label, lockedHolder);
}

std::filesystem::path sledUnheldSibling(const std::filesystem::path& destination, std::string_view label) {
    return siblingName(destination, label, unlockedHolder);
}

SledHeldFile sledCreateHeldFile(const std::filesystem::path& path, mode_t mode) {
    // Made under the name that claims no lock, and given the one that does only once the lock is
    // held: a file named as locked whose lock is free has surely lost its writer.
    const std::string lockedName = path.filename().string();
    const std::string marker = "." + std::string(lockedHolder) + ".";
    const std::size_t at = lockedName.rfind(marker);
    if (at == std::string::npos) {
        throwHeldFileError("not the name of a held file", path, EINVAL);
    }
    const fs::path making = path.parent_path() / (lockedName.substr(0, at + 1) + std::string(unlockedHolder) +
                                                  lockedName.substr(at + marker.size() - 1));
    SledHeldFile made{making, VornUniqueFd(::open(making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode))};
    if (!made.holder) {
        throwHeldFileError("cannot create a temporary file", making, errno);
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(made.holder.get(), F_OFD_SETLK, &lock) != 0) {
        return made;  // no locks here (ENOLCK, say): the name keeps saying so
    }
    if (::renameat2(AT_FDCWD, making.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        ::unlink(making.c_str());
        throwHeldFileError("cannot name a temporary file", path, error);
    }
    made.path = path;
    return made;
}

bool sledHeldFileHasEnded(int directory, const std::string& name, std::string_view holder) {
    const VornUniqueFd file(::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    if (holder == lockedHolder) {
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        if (::fcntl(file.get(), F_OFD_GETLK, &probe) == 0) {
            return probe.l_type == F_UNLCK;
        }
    }
    // The change time, which no writer can set back (a copy that keeps its source's modification
    // time, say, would look old by that one while still being written).
    const auto changed = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_ctim.tv_sec) + std::chrono::nanoseconds(info.st_ctim.tv_nsec)));
    return std::chrono::system_clock::now() - changed >= unprovenLeftoverAge;
}

void sledRemoveStaleSiblings(const std::filesystem::path& destination) {
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return;
    }
    const std::vector<std::string> leftovers =
        readings().take({info.st_dev, info.st_ino}, sledDestinationKey(destination.filename().string()),
                      [&] { return readFolder(folder); });
    if (leftovers.empty()) {
        return;
    }
    // Removed by name inside the folder that was read; never a folder (unlinkat without
    // AT_REMOVEDIR refuses one), and a name that is gone by now is no error.
    const VornUniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return;
    }
    for (const std::string& name : leftovers) {
        ::unlinkat(directory.get(), name.c_str(), 0);
    }
}

std::string sledDestinationKey(std::string_view name) {
    VornSHA256 digest;
    digest.update(name);
    return digest.finalizeHex().substr(0, 16);
}
