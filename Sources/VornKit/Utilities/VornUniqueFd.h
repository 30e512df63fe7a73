#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

// One owned file descriptor, closed when it goes out of scope. The destructor ignores an error of
// close(): for a descriptor only read from it loses nothing; a writer that must know calls close().
class VornUniqueFd {
public:
    VornUniqueFd() = default;
    explicit VornUniqueFd(int fd) noexcept : fd_(fd) {}
    VornUniqueFd(VornUniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    VornUniqueFd& operator=(VornUniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    VornUniqueFd(const VornUniqueFd&) = delete;
    VornUniqueFd& operator=(const VornUniqueFd&) = delete;
    ~VornUniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives up ownership without closing.
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes now and gives close()'s result: 0, or -1 with errno set (a delayed write error).
    int close() noexcept { return fd_ >= 0 ? ::close(release()) : 0; }

private:
    int fd_ = -1;
};

// Writes all of `bytes`, resuming after short writes and interruptions. False, with errno set, when
// a write fails or makes no progress.
inline bool vornWriteAll(int fd, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A path that reaches whatever the open descriptor `fd` of this process names, for code that only
// takes paths (a library, a child process): opening it opens that very file or folder, whatever
// has been renamed or linked in at its old place since. It names the process by number rather than
// "self", so that a child given it still reaches its parent's descriptor.
inline std::string vornDescriptorPath(int fd) {
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
}

// Whether the open file still has the size and modification time it had when `opened` was read.
inline bool vornUnchangedSinceOpened(int fd, const struct stat& opened) noexcept {
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_size == opened.st_size && now.st_mtim.tv_sec == opened.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == opened.st_mtim.tv_nsec;
}
