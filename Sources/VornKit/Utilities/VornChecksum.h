#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

// The bytes as lower-case hexadecimal, two digits per byte: the form of digests and signatures.
std::string vornHexLower(std::span<const std::uint8_t> bytes);

// Incremental SHA-256 for data that arrives in chunks (uploads, downloads, streamed bodies).
// Not shareable between threads; one hasher per stream.
class VornSHA256 {
public:
    VornSHA256();
    ~VornSHA256();
    VornSHA256(VornSHA256&& other) noexcept;
    VornSHA256& operator=(VornSHA256&& other) noexcept;
    VornSHA256(const VornSHA256&) = delete;
    VornSHA256& operator=(const VornSHA256&) = delete;

    void update(const void* data, std::size_t size);
    void update(std::span<const std::byte> bytes) { update(bytes.data(), bytes.size()); }
    void update(std::span<const std::uint8_t> bytes) { update(bytes.data(), bytes.size()); }
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }

    // The digest as 64 lower-case hexadecimal digits. Ends the hasher: a later update() or
    // finalizeHex() throws std::logic_error.
    std::string finalizeHex();

    // The digest of one buffer, as 64 lower-case hexadecimal digits.
    static std::string hexDigest(std::string_view bytes);

private:
    evp_md_ctx_st* context_ = nullptr;
    bool finished_ = false;
};

// SHA-256 of files, read in bounded chunks. Failures to open, stat, seek or read throw
// std::filesystem::filesystem_error carrying the path and the system error.
struct VornChecksum {
    static constexpr std::int64_t defaultChunkSize = 1'048'576;

    // Digest of the whole file as 64 lower-case hexadecimal digits. A chunk size below 1 means the
    // default; above 64 MiB it is held at 64 MiB (the chunk size never changes the digest, only
    // how much memory one read takes). Only a regular file is read: a FIFO, a device or a socket
    // is refused (EINVAL) before the first byte, as it could block for ever or never end.
    static std::string sha256(const std::filesystem::path& of, std::int64_t chunkSize = defaultChunkSize);
    // The same, giving up with VornTaskCancelled between two chunks once `stop` is requested.
    static std::string sha256(const std::filesystem::path& of, std::int64_t chunkSize, std::stop_token stop);

    // Digest of exactly the first `size` bytes of the open file `fd`, read at their offsets (the
    // descriptor's own offset is left alone), through a buffer of at most `chunkSize` bytes and
    // never more than the file needs. The bytes fixed when a file was opened are the ones that get
    // sent, so a file that has meanwhile become shorter fails (EIO); a read error throws
    // std::system_error with the system error, for the caller to word for its own user.
    static std::string sha256(int fd, std::int64_t size, std::int64_t chunkSize, std::stop_token stop);

    // A cheap identity of a file: SHA-256 over its size (8 bytes, little-endian), its first
    // `sampleBytes` bytes and, when the file is longer than the sample, its last `sampleBytes`
    // bytes (bytes in both samples are fed twice). A sample below 0 counts as 0.
    static std::string partialFingerprint(const std::filesystem::path& of, std::int64_t sampleBytes);
};
