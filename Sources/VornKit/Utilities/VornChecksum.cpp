#include "VornChecksum.h"

#include "VornTaskCancelled.h"
#include "VornUniqueFd.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t maximumChunkSize = 64 * 1'048'576;

[[noreturn]] void throwFileError(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::system_category()));
}

// An open descriptor that is closed on every path; an error while closing a file we only read
// cannot lose data, so it is ignored.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const fs::path& path) : path_(path) {
        int fd;
        do {
            // O_NONBLOCK: opening a FIFO must not wait for a writer before it can be refused.
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            throwFileError("cannot open file for hashing", path, errno);
        }
        fd_.reset(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            throwFileError("cannot read file attributes for hashing", path, errno);
        }
        if (!S_ISREG(info.st_mode)) {
            throwFileError(S_ISDIR(info.st_mode) ? "cannot hash a folder" : "cannot hash something that is not a regular file",
                           path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        }
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    // Reads up to `size` bytes, fewer only at the end of the file; 0 means the end.
    std::size_t read(std::byte* buffer, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::read(fd_.get(), buffer + done, size - done);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throwFileError("cannot read file for hashing", path_, errno);
            }
            if (got == 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    void seek(std::int64_t offset) {
        if (::lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
            throwFileError("cannot seek in file for hashing", path_, errno);
        }
    }

    // Feeds up to `count` bytes (all of the rest when the file is shorter) through a bounded buffer.
    void feed(VornSHA256& hasher, std::int64_t count, std::byte* buffer, std::size_t bufferSize) {
        while (count > 0) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(bufferSize)));
            const std::size_t got = read(buffer, want);
            if (got == 0) {
                return;
            }
            hasher.update(buffer, got);
            count -= static_cast<std::int64_t>(got);
        }
    }

private:
    const fs::path& path_;
    VornUniqueFd fd_;
};

}  // namespace

std::string vornHexLower(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex(bytes.size() * 2, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        hex[2 * i] = digits[bytes[i] >> 4];
        hex[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return hex;
}

VornSHA256::VornSHA256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr) {
        throw std::bad_alloc();
    }
    if (EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context_);
        throw std::runtime_error("SHA-256 is not available from OpenSSL");
    }
}

VornSHA256::~VornSHA256() { EVP_MD_CTX_free(context_); }

VornSHA256::VornSHA256(VornSHA256&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)), finished_(std::exchange(other.finished_, true)) {}

VornSHA256& VornSHA256::operator=(VornSHA256&& other) noexcept {
    if (this != &other) {
        EVP_MD_CTX_free(context_);
        context_ = std::exchange(other.context_, nullptr);
        finished_ = std::exchange(other.finished_, true);
    }
    return *this;
}

void VornSHA256::update(const void* data, std::size_t size) {
    if (finished_ || context_ == nullptr) {
        throw std::logic_error("VornSHA256::update after the digest was finalized");
    }
    if (size == 0) {
        return;
    }
    if (EVP_DigestUpdate(context_, data, size) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

std::string VornSHA256::finalizeHex() {
    if (finished_ || context_ == nullptr) {
        throw std::logic_error("VornSHA256::finalizeHex called twice");
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    finished_ = true;
    if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != 32) {
        throw std::runtime_error("SHA-256 finalization failed");
    }
    return vornHexLower(std::span(digest.data(), length));
}

std::string VornSHA256::hexDigest(std::string_view bytes) {
    VornSHA256 hasher;
    hasher.update(bytes);
    return hasher.finalizeHex();
}

std::string VornChecksum::sha256(const fs::path& of, std::int64_t chunkSize) {
    return sha256(of, chunkSize, std::stop_token());
}

std::string VornChecksum::sha256(const fs::path& of, std::int64_t chunkSize, std::stop_token stop) {
    // A chunk size of 0 would read nothing and report the empty file's digest for any file.
    if (chunkSize < 1) {
        chunkSize = defaultChunkSize;
    }
    const auto bufferSize = static_cast<std::size_t>(std::min(chunkSize, maximumChunkSize));
    ReadOnlyFile file(of);
    auto buffer = std::make_unique_for_overwrite<std::byte[]>(bufferSize);
    VornSHA256 hasher;
    for (;;) {
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        const std::size_t got = file.read(buffer.get(), bufferSize);
        if (got == 0) {
            break;
        }
        hasher.update(buffer.get(), got);
    }
    return hasher.finalizeHex();
}

std::string VornChecksum::sha256(int fd, std::int64_t size, std::int64_t chunkSize, std::stop_token stop) {
    if (chunkSize < 1) {
        chunkSize = defaultChunkSize;
    }
    // Small files come by the thousand; each would otherwise pay for a whole chunk it never fills.
    const auto bufferSize = static_cast<std::size_t>(std::clamp<std::int64_t>(size, 1, std::min(chunkSize, maximumChunkSize)));
    const auto buffer = std::make_unique_for_overwrite<std::byte[]>(bufferSize);
    VornSHA256 hasher;
    std::int64_t offset = 0;
    while (offset < size) {
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(bufferSize), size - offset));
        const ssize_t got = ::pread(fd, buffer.get(), wanted, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw std::system_error(got < 0 ? errno : EIO, std::system_category());
        }
        hasher.update(buffer.get(), static_cast<std::size_t>(got));
        offset += got;
    }
    return hasher.finalizeHex();
}

std::string VornChecksum::partialFingerprint(const fs::path& of, std::int64_t sampleBytes) {
    struct stat info {};
    if (::stat(of.c_str(), &info) != 0) {
        throwFileError("cannot read file attributes for fingerprint", of, errno);
    }
    const std::int64_t size = info.st_size;
    sampleBytes = std::max<std::int64_t>(sampleBytes, 0);

    ReadOnlyFile file(of);
    VornSHA256 hasher;
    std::array<unsigned char, 8> sizeBytes{};
    const auto unsignedSize = static_cast<std::uint64_t>(size);
    for (std::size_t i = 0; i < sizeBytes.size(); ++i) {
        sizeBytes[i] = static_cast<unsigned char>(unsignedSize >> (8 * i));
    }
    hasher.update(sizeBytes.data(), sizeBytes.size());

    const auto bufferSize =
        static_cast<std::size_t>(std::clamp<std::int64_t>(sampleBytes, 1, defaultChunkSize));
    auto buffer = std::make_unique_for_overwrite<std::byte[]>(bufferSize);
    file.feed(hasher, sampleBytes, buffer.get(), bufferSize);
    if (sampleBytes < size) {
        file.seek(std::max<std::int64_t>(size - sampleBytes, 0));
        file.feed(hasher, sampleBytes, buffer.get(), bufferSize);
    }
    return hasher.finalizeHex();
}
