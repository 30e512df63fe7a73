#include "VornTemporaryFile.h"

#include "VornUUID.h"
#include "VornUniqueFd.h"
#include "VornXDG.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

VornTemporaryFile VornTemporaryFile::inPrivateDirectory(std::string_view name) {
    return VornTemporaryFile(VornXDG::privateTemporaryDirectory() / name);
}

VornTemporaryFile VornTemporaryFile::create(std::string_view prefix, std::string_view suffix,
                                            std::string_view contents, mode_t mode) {
    const fs::path path = VornXDG::privateTemporaryDirectory() /
                          (std::string(prefix) + VornUUID::random().uuidString() + std::string(suffix));
    VornUniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!file) {
        throw fs::filesystem_error("cannot create a temporary file", path,
                                   std::error_code(errno, std::generic_category()));
    }
    // Owned from here on, so that every failure below removes it.
    VornTemporaryFile made(path);
    // The umask may have narrowed the mode at creation; the file must have exactly this one.
    int error = 0;
    if (!vornWriteAll(file.get(), contents) || ::fchmod(file.get(), mode) != 0) {
        error = errno;
    }
    if (file.close() != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        throw fs::filesystem_error("cannot write a temporary file", path,
                                   std::error_code(error, std::generic_category()));
    }
    return made;
}

VornTemporaryFile::VornTemporaryFile(VornTemporaryFile&& other) noexcept
    : path_(std::exchange(other.path_, fs::path())) {}

VornTemporaryFile& VornTemporaryFile::operator=(VornTemporaryFile&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, fs::path());
    }
    return *this;
}

void VornTemporaryFile::remove() noexcept {
    if (!path_.empty()) {
        std::error_code ignored;
        fs::remove(path_, ignored);
        path_.clear();
    }
}
