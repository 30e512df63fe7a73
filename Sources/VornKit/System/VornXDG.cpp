#include "VornXDG.h"

#include "VornFileIO.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t userDirectoriesFileLimit = 1 << 20;

std::optional<fs::path> absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    fs::path path(value);
    if (!path.is_absolute()) {
        return std::nullopt;  // freedesktop base folders must be absolute; a relative value is ignored
    }
    return path;
}

// Unquotes a value of user-dirs.dirs: "$HOME/Downloads" with \" \\ \$ escapes.
std::optional<fs::path> parseUserDirValue(std::string_view raw) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') {
        return std::nullopt;
    }
    raw = raw.substr(1, raw.size() - 2);
    std::string value;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            value += raw[++i];
        } else {
            value += raw[i];
        }
    }
    if (value.starts_with("$HOME")) {
        const std::string rest = value.substr(5);
        if (!rest.empty() && rest.front() != '/') {
            return std::nullopt;
        }
        return VornXDG::home().string() + rest;
    }
    if (!value.starts_with('/')) {
        return std::nullopt;
    }
    return fs::path(value);
}

}  // namespace

fs::path VornXDG::home() {
    if (auto home = absoluteEnv("HOME")) {
        return *home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

fs::path VornXDG::dataHome() { return absoluteEnv("XDG_DATA_HOME").value_or(home() / ".local" / "share"); }

fs::path VornXDG::configHome() { return absoluteEnv("XDG_CONFIG_HOME").value_or(home() / ".config"); }

fs::path VornXDG::cacheHome() { return absoluteEnv("XDG_CACHE_HOME").value_or(home() / ".cache"); }

std::optional<fs::path> VornXDG::userDirectory(std::string_view key) {
    // A few lines in practice; a huge file or a FIFO in its place reads as no setting.
    std::error_code error;
    const std::optional<std::string> text =
        vornReadFileCapped(configHome() / "user-dirs.dirs", userDirectoriesFileLimit, error);
    if (!text) {
        return std::nullopt;
    }
    std::istringstream in(*text);
    const std::string wanted = "XDG_" + std::string(key) + "_DIR=";
    std::string line;
    std::optional<fs::path> found;
    while (std::getline(in, line)) {
        if (line.starts_with(wanted)) {
            found = parseUserDirValue(std::string_view(line).substr(wanted.size()));
        }
    }
    return found;
}

fs::path VornXDG::downloads() { return userDirectory("DOWNLOAD").value_or(home() / "Downloads"); }

fs::path VornXDG::makerFolder() { return dataHome() / "Vornworks"; }

namespace {

// The private temporary folder of this process and the process that made it. A child that was
// forked without a new program inherits both and must not remove its parent's folder.
std::mutex privateFolderLock;
fs::path privateFolder;
pid_t privateFolderOwner = 0;

// Removes the folder with whatever is left in it when the program ends normally, so no run leaves
// one behind in /tmp.
void removePrivateFolderAtExit() {
    if (privateFolderOwner != ::getpid() || privateFolder.empty()) {
        return;
    }
    std::error_code ignored;
    fs::remove_all(privateFolder, ignored);
}

}  // namespace

fs::path VornXDG::privateTemporaryDirectory() {
    std::lock_guard guard(privateFolderLock);
    std::error_code status;
    if (!privateFolder.empty() && fs::is_directory(privateFolder, status)) {
        return privateFolder;
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (fs::path(base && *base ? base : "/tmp") / "vornsled-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {  // mkdtemp makes the folder 0700
        throw fs::filesystem_error("cannot create a private temporary folder", fs::path(pattern),
                                   std::error_code(errno, std::generic_category()));
    }
    static const bool registered = std::atexit(removePrivateFolderAtExit) == 0;
    (void)registered;
    privateFolder = pattern;
    privateFolderOwner = ::getpid();
    return privateFolder;
}
