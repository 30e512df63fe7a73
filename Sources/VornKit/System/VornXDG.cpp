#include "VornXDG.h"

#include "VornFileIO.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/file.h>
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
// The folder itself, open and locked (flock) for as long as this process (or a child forked from
// it without a new program) lives; the kernel releases the lock however the process ends. The
// folder is the lock, so nothing of the lock shows among the temporary files.
int privateFolderLockFd = -1;

constexpr std::string_view privateFolderPrefix = "vornsled-";
// A folder is made under this hidden name and shows under its real one only once its lock is held,
// so a folder with the real name and a free lock always belongs to a process that has ended.
constexpr std::string_view preparedFolderPrefix = ".vornsled-";

// Removes the folder with whatever is left in it when the program ends normally, so no run leaves
// one behind in /tmp.
void removePrivateFolderAtExit() {
    if (privateFolderOwner != ::getpid() || privateFolder.empty()) {
        return;
    }
    std::error_code ignored;
    fs::remove_all(privateFolder, ignored);
}

// Opens `folder` and takes its lock without waiting; -1 (errno telling why) when it cannot be
// opened or its lock is held.
int takeLock(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Private folders of processes that ended without removing theirs (killed, say): each of ours in
// `base` whose lock can be taken goes, with everything in it. Folders still under their hidden
// name are left alone: one may be in the making this moment, before its lock is taken (one left
// by a process killed right then is empty).
void removeFoldersOfEndedProcesses(const fs::path& base) {
    std::error_code status;
    for (fs::directory_iterator entry(base, status), end; !status && entry != end; entry.increment(status)) {
        const std::string name = entry->path().filename().string();
        const bool ours = name.size() == privateFolderPrefix.size() + 6 && name.starts_with(privateFolderPrefix);
        struct stat info {};
        if (!ours || ::lstat(entry->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::geteuid()) {
            continue;
        }
        const int lock = takeLock(entry->path());
        if (lock >= 0) {
            std::error_code ignored;
            fs::remove_all(entry->path(), ignored);
            ::close(lock);
        }
    }
}

[[noreturn]] void throwFolderError(const std::string& path) {
    throw fs::filesystem_error("cannot create a private temporary folder", fs::path(path),
                               std::error_code(errno, std::generic_category()));
}

}  // namespace

fs::path VornXDG::privateTemporaryDirectory() {
    std::lock_guard guard(privateFolderLock);
    std::error_code status;
    if (!privateFolder.empty() && fs::is_directory(privateFolder, status)) {
        return privateFolder;
    }
    const char* baseValue = std::getenv("TMPDIR");
    const fs::path base(baseValue && *baseValue ? baseValue : "/tmp");
    removeFoldersOfEndedProcesses(base);
    for (;;) {
        std::string prepared = (base / (std::string(preparedFolderPrefix) + "XXXXXX")).string();
        if (::mkdtemp(prepared.data()) == nullptr) {  // mkdtemp makes the folder 0700
            throwFolderError(prepared);
        }
        const int lock = takeLock(prepared);
        if (lock < 0) {
            const int error = errno;
            std::error_code ignored;
            fs::remove_all(prepared, ignored);
            errno = error;
            throwFolderError(prepared);
        }
        const std::string suffix = prepared.substr(prepared.size() - 6);
        const std::string named = (base / (std::string(privateFolderPrefix) + suffix)).string();
        if (::renameat2(AT_FDCWD, prepared.c_str(), AT_FDCWD, named.c_str(), RENAME_NOREPLACE) != 0) {
            const int error = errno;
            ::close(lock);
            std::error_code ignored;
            fs::remove_all(prepared, ignored);
            if (error == EEXIST) {
                continue;  // that name is taken by another process's folder: draw another
            }
            errno = error;
            throwFolderError(named);
        }
        static const bool registered = std::atexit(removePrivateFolderAtExit) == 0;
        (void)registered;
        if (privateFolderLockFd >= 0) {
            ::close(privateFolderLockFd);  // the lock of a folder someone removed under us
        }
        privateFolderLockFd = lock;
        privateFolder = named;
        privateFolderOwner = ::getpid();
        return privateFolder;
    }
}
