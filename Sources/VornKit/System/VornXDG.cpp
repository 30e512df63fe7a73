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
// The folder itself and its mark, open and locked (flock) for as long as this process (or a child
// forked from it without a new program) lives; the kernel releases the locks however the process
// ends. The folder's own lock is kept for earlier versions, which look at that one only.
int privateFolderLockFd = -1;
int privateFolderMarkFd = -1;

constexpr std::string_view privateFolderPrefix = "vornsled-";
// A folder is made under this hidden name and shows under its real one only once it holds its mark
// and the mark's lock is held, so a folder with the real name, our mark and a free lock always
// belongs to a process that has ended.
constexpr std::string_view preparedFolderPrefix = ".vornsled-";
// What the mark holds. A folder of the right name without exactly this is somebody else's, whatever
// its name says (an unpacked archive, say), and is never touched.
constexpr std::string_view privateFolderMarkText = "VornSled private temporary folder; in use while locked\n";

// Removes the folder with whatever is left in it when the program ends normally, so no run leaves
// one behind in /tmp.
void removePrivateFolderAtExit() {
    if (privateFolderOwner != ::getpid() || privateFolder.empty()) {
        return;
    }
    std::error_code ignored;
    fs::remove_all(privateFolder, ignored);
}

// Takes the lock of the open `fd` without waiting; closes it and gives -1 (errno telling why) when
// the lock is held.
int lockOrClose(int fd) {
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

// Opens `folder` and takes its lock without waiting; -1 (errno telling why) when it cannot be
// opened or its lock is held.
int takeLock(const fs::path& folder) {
    return lockOrClose(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Writes the mark into the folder open as `directory` and takes its lock; -1 (errno telling why)
// when either fails.
int makeMark(int directory) {
    const int fd = ::openat(directory, VornXDG::privateFolderMarkName.data(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    if (::write(fd, privateFolderMarkText.data(), privateFolderMarkText.size()) !=
        static_cast<ssize_t>(privateFolderMarkText.size())) {
        const int error = errno == 0 ? EIO : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return lockOrClose(fd);
}

// The mark of the folder open as `directory`, open and locked, when the folder holds our mark (a
// regular file of this user with exactly the mark's text) and no process holds its lock; else -1.
int lockMarkIfOurs(int directory) {
    const int fd = ::openat(directory, VornXDG::privateFolderMarkName.data(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    char text[privateFolderMarkText.size() + 1];
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        info.st_size != static_cast<off_t>(privateFolderMarkText.size()) ||
        ::pread(fd, text, sizeof text, 0) != static_cast<ssize_t>(privateFolderMarkText.size()) ||
        std::string_view(text, privateFolderMarkText.size()) != privateFolderMarkText) {
        ::close(fd);
        return -1;
    }
    return lockOrClose(fd);
}

// Private folders of processes that ended without removing theirs (killed, say): each folder of
// ours in `base` whose mark's lock can be taken goes, with everything in it. The name is never
// proof: a folder without the mark stays whatever it holds. Folders still under their hidden name
// are left alone too: one may be in the making this moment, before its mark is locked (one left by
// a process killed right then holds at most the mark).
void removeFoldersOfEndedProcesses(const fs::path& base) {
    std::error_code status;
    for (fs::directory_iterator entry(base, status), end; !status && entry != end; entry.increment(status)) {
        const std::string name = entry->path().filename().string();
        if (name.size() != privateFolderPrefix.size() + 6 || !name.starts_with(privateFolderPrefix)) {
            continue;
        }
        const int folder = ::open(entry->path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0) {
            continue;
        }
        struct stat info {};
        struct stat named {};
        const int mark = ::fstat(folder, &info) == 0 && info.st_uid == ::geteuid() ? lockMarkIfOurs(folder) : -1;
        // Removed by name, so only while the name still leads to the folder whose mark was checked.
        if (mark >= 0 && ::lstat(entry->path().c_str(), &named) == 0 && named.st_dev == info.st_dev &&
            named.st_ino == info.st_ino) {
            std::error_code ignored;
            fs::remove_all(entry->path(), ignored);
        }
        if (mark >= 0) {
            ::close(mark);
        }
        ::close(folder);
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
        const int mark = lock < 0 ? -1 : makeMark(lock);
        if (mark < 0) {
            const int error = errno;
            if (lock >= 0) {
                ::close(lock);
            }
            std::error_code ignored;
            fs::remove_all(prepared, ignored);
            errno = error;
            throwFolderError(prepared);
        }
        const std::string suffix = prepared.substr(prepared.size() - 6);
        const std::string named = (base / (std::string(privateFolderPrefix) + suffix)).string();
        if (::renameat2(AT_FDCWD, prepared.c_str(), AT_FDCWD, named.c_str(), RENAME_NOREPLACE) != 0) {
            const int error = errno;
            ::close(mark);
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
        for (const int held : {privateFolderLockFd, privateFolderMarkFd}) {
            if (held >= 0) {
                ::close(held);  // the locks of a folder someone removed under us
            }
        }
        privateFolderLockFd = lock;
        privateFolderMarkFd = mark;
        privateFolder = named;
        privateFolderOwner = ::getpid();
        return privateFolder;
    }
}
