#include "VornFileIO.h"

#include "VornUniqueFd.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

std::optional<std::string> vornReadFileCapped(const fs::path& path, std::size_t limit, std::error_code& error,
                                              struct stat* info) {
    error.clear();
    const VornUniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file) {
        error.assign(errno, std::generic_category());
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        error.assign(errno, std::generic_category());
        return std::nullopt;
    }
    if (info != nullptr) {
        *info = status;
    }
    if (!S_ISREG(status.st_mode)) {
        error = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > limit) {
        error = std::make_error_code(std::errc::file_too_large);
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error.assign(errno, std::generic_category());
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        if (static_cast<std::size_t>(got) > limit - bytes.size()) {
            error = std::make_error_code(std::errc::file_too_large);  // it grew while being read
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

void vornWriteFileAtomically(const fs::path& path, std::string_view bytes, mode_t mode) {
    const fs::path folder = path.parent_path();
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    VornUniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));  // created with mode 0600
    if (!file) {
        throw fs::filesystem_error("cannot create a temporary file for", path,
                                   std::error_code(errno, std::generic_category()));
    }
    auto fail = [&](const char* what) {
        const int error = errno;
        file.reset();
        ::unlink(temporary.c_str());
        throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
    };
    if (::fchmod(file.get(), mode) != 0) {
        fail("cannot set the permissions of");
    }
    if (!vornWriteAll(file.get(), bytes)) {
        fail("cannot write");
    }
    if (::fsync(file.get()) != 0) {
        fail("cannot flush");
    }
    if (file.close() != 0) {
        fail("cannot close");
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        fail("cannot replace");
    }
    // The new name is durable only once the folder is flushed; a folder that refuses is no failure
    // of the write itself.
    const VornUniqueFd directory(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory) {
        ::fsync(directory.get());
    }
}

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

}  // namespace

bool vornKeepAside(const fs::path& path, const std::string& name) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT;  // gone meanwhile: nothing left to lose
    }
    if (S_ISDIR(info.st_mode)) {
        return true;  // a folder is never replaced by the rename of a file
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path target = attempt == 0 ? fs::path(name) : fs::path(name + "-" + std::to_string(attempt));
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
