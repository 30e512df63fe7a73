#include "SledTemporaryFileName.h"

#include "VornChecksum.h"
#include "VornUUID.h"
#include "VornUniqueFd.h"

#include <chrono>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view siblingPrefix = ".vornsled-";
constexpr std::string_view siblingSuffix = ".part";

// A folder's leftovers, read once a minute at most: the hidden siblings whose writers had ended.
SledLeftoverReadings<std::pair<dev_t, ino_t>> readings(std::chrono::minutes(1));

// The fields of /proc/<pid>/stat after the command name: state first, start time 20th.
std::optional<std::pair<char, std::string>> processStateAndStart(std::string_view pid) {
    std::ifstream file("/proc/" + std::string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) {
        return std::nullopt;
    }
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) {
        return std::nullopt;
    }
    std::vector<std::string_view> fields;
    std::string_view rest = std::string_view(line).substr(close + 2);
    while (!rest.empty() && fields.size() < 20) {
        const std::size_t space = rest.find(' ');
        fields.push_back(rest.substr(0, space));
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
    if (fields.size() < 20 || fields[0].empty()) {
        return std::nullopt;
    }
    return std::make_pair(fields[0][0], std::string(fields[19]));
}

std::string bootTag() {
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(file, id);
    std::string tag;
    for (char c : id) {
        if (c != '-' && tag.size() < 12) {
            tag.push_back(c);
        }
    }
    return tag.empty() ? std::string("0") : tag;
}

const std::string& thisBoot() {
    static const std::string boot = bootTag();
    return boot;
}

// The destination key and owner tag of a hidden sibling's name; nothing for any other name.
std::optional<std::pair<std::string_view, std::string_view>> siblingParts(std::string_view name) {
    if (!name.starts_with(siblingPrefix) || !name.ends_with(siblingSuffix)) {
        return std::nullopt;
    }
    std::string_view inner = name.substr(siblingPrefix.size(), name.size() - siblingPrefix.size() - siblingSuffix.size());
    const std::size_t ownerDot = inner.rfind('.');
    if (ownerDot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view owner = inner.substr(ownerDot + 1);
    inner = inner.substr(0, ownerDot);
    const std::size_t keyDot = inner.rfind('.');
    if (keyDot == std::string_view::npos || inner.substr(0, keyDot).find('.') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(inner.substr(keyDot + 1), owner);
}

SledLeftoverReadings<std::pair<dev_t, ino_t>>::Found readFolder(const fs::path& folder) {
    SledLeftoverReadings<std::pair<dev_t, ino_t>>::Found leftovers;
    std::error_code status;
    for (fs::directory_iterator entry(folder, status), end; !status && entry != end; entry.increment(status)) {
        const std::string name = entry->path().filename().string();
        const auto parts = siblingParts(name);
        if (parts && sledOwnerHasEnded(parts->second)) {
            leftovers.emplace(std::string(parts->first), name);
        }
    }
    return leftovers;
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

std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label) {
    std::string name(siblingPrefix);
    if (!label.empty()) {
        name.append(label).append("-");
    }
    name += VornUUID::random().uuidString() + "." + sledDestinationKey(destination.filename().string()) + "." +
            sledOwnerTag() + std::string(siblingSuffix);
    return destination.parent_path() / name;
}

void sledRemoveStaleSiblings(const std::filesystem::path& destination) {
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return;
    }
    const std::vector<std::string> leftovers =
        readings.take({info.st_dev, info.st_ino}, sledDestinationKey(destination.filename().string()),
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

const std::string& sledOwnerTag() {
    static const std::string tag = [] {
        const std::string pid = std::to_string(::getpid());
        const auto self = processStateAndStart("self");
        return pid + "-" + (self ? self->second : std::string("0")) + "-" + thisBoot();
    }();
    return tag;
}

bool sledOwnerHasEnded(std::string_view tag) {
    const std::size_t first = tag.find('-');
    const std::size_t second = first == std::string_view::npos ? first : tag.find('-', first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    const std::string_view pid = tag.substr(0, first);
    const std::string_view start = tag.substr(first + 1, second - first - 1);
    const std::string_view boot = tag.substr(second + 1);
    int number = 0;
    const auto [end, error] = std::from_chars(pid.data(), pid.data() + pid.size(), number);
    if (error != std::errc() || end != pid.data() + pid.size() || number <= 0 || boot.empty()) {
        return false;
    }
    if (boot != thisBoot()) {
        return true;
    }
    const auto process = processStateAndStart(pid);
    if (!process) {
        // Gone, unless this system hides processes altogether.
        return processStateAndStart("self").has_value();
    }
    return process->second != start || process->first == 'Z' || process->first == 'X';
}

std::string sledDestinationKey(std::string_view name) {
    VornSHA256 digest;
    digest.update(name);
    return digest.finalizeHex().substr(0, 16);
}
