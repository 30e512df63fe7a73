#include "VornFileIO.h"

#include "VornUniqueFd.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>

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
