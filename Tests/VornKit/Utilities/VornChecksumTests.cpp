#include "VornChecksum.h"
#include "VornTaskCancelled.h"
#include "VornTestSupport.h"
#include "VornUniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Deterministic bytes with no short period, so a chunk fed twice or skipped changes the digest.
std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 0x9E3779B9u;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string sha256sumOf(const fs::path& file) {
    const VornShellResult result = vornShell("sha256sum " + vornShellQuote(file.string()));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return result.output.substr(0, 64);
}

std::string octalEscaped(std::string_view bytes) {
    std::string text;
    for (const unsigned char c : bytes) {
        text += '\\';
        text += static_cast<char>('0' + ((c >> 6) & 7));
        text += static_cast<char>('0' + ((c >> 3) & 7));
        text += static_cast<char>('0' + (c & 7));
    }
    return text;
}

constexpr std::int64_t MiB = 1'048'576;

}  // namespace

TEST(VornSHA256, KnownVectors) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const std::vector<Case> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VornSHA256::hexDigest(c.input), c.digest) << "input of " << c.input.size() << " bytes";
    }
}

TEST(VornSHA256, ChunksOfAnySizeGiveTheOneShotDigest) {
    const std::string data = patternBytes(10'000);
    const std::string expected = VornSHA256::hexDigest(data);
    for (const std::size_t step : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{4096}}) {
        VornSHA256 hasher;
        for (std::size_t at = 0; at < data.size(); at += step) {
            const std::string_view part = std::string_view(data).substr(at, step);
            if (step == 63) {
                hasher.update(std::span(reinterpret_cast<const std::byte*>(part.data()), part.size()));
            } else if (step == 65) {
                hasher.update(std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size()));
            } else {
                hasher.update(part.data(), part.size());
            }
        }
        hasher.update(nullptr, 0);
        EXPECT_EQ(hasher.finalizeHex(), expected) << "chunks of " << step;
    }
}

TEST(VornSHA256, UseAfterFinalizeIsRefused) {
    VornSHA256 hasher;
    hasher.update(std::string_view("abc"));
    VornSHA256 moved = std::move(hasher);
    EXPECT_THROW(hasher.update(std::string_view("x")), std::logic_error);
    EXPECT_EQ(moved.finalizeHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_THROW(moved.finalizeHex(), std::logic_error);
    EXPECT_THROW(moved.update(std::string_view("x")), std::logic_error);
}

TEST(VornChecksum, MatchesSha256sumAcrossChunkBoundaries) {
    VORN_REQUIRE_TOOL("sha256sum");
    VornTestTempDir dir;
    struct Case {
        std::size_t fileSize;
        std::int64_t chunkSize;
    };
    const std::vector<Case> cases = {
        {0, MiB},          {1, MiB},           {1, 1},
        {4095, 4096},      {4096, 4096},       {4097, 4096},
        {8192, 4096},      {1000, 7},          {MiB - 1, MiB},
        {MiB, MiB},        {MiB + 1, MiB},     {3 * MiB + 17, MiB},
        {3 * MiB + 17, 65'536},                {100'000, 0},
        {100'000, -5},     {100'000, INT64_MAX},
    };
    for (const Case& c : cases) {
        const fs::path file = dir.write("f" + std::to_string(c.fileSize), patternBytes(c.fileSize));
        EXPECT_EQ(VornChecksum::sha256(file, c.chunkSize), sha256sumOf(file))
            << c.fileSize << " bytes in chunks of " << c.chunkSize;
    }
}

TEST(VornChecksum, AnOpenFileIsHashedUpToTheSizeGivenAndAShorterOneFails) {
    VORN_REQUIRE_TOOL("sha256sum");
    VornTestTempDir dir;
    const std::string bytes = patternBytes(static_cast<std::size_t>(3 * MiB + 17));
    const fs::path whole = dir.write("whole", bytes);
    const VornUniqueFd file(::open(whole.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file);
    struct Case {
        std::int64_t size;
        std::int64_t chunkSize;
    };
    // Sizes below the file's: what was fixed at open is hashed, however the file grew since.
    for (const Case c : {Case{0, MiB}, Case{1, MiB}, Case{4096, 7}, Case{MiB + 1, MiB},
                         Case{3 * MiB + 17, 65'536}, Case{3 * MiB + 17, 0}}) {
        const fs::path prefix = dir.write("prefix", bytes.substr(0, static_cast<std::size_t>(c.size)));
        EXPECT_EQ(VornChecksum::sha256(file.get(), c.size, c.chunkSize, {}), sha256sumOf(prefix))
            << c.size << " bytes in chunks of " << c.chunkSize;
    }
    // The descriptor's own offset is left where it was.
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_CUR), 0);
    try {
        VornChecksum::sha256(file.get(), 3 * MiB + 18, MiB, {});
        FAIL() << "a file shorter than its size at open was hashed";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EIO);
    }
}

TEST(VornChecksum, EmptyFileGivesTheEmptyMessageDigestAndDefaultChunkIsUsed) {
    VornTestTempDir dir;
    const fs::path empty = dir.write("empty", "");
    EXPECT_EQ(VornChecksum::sha256(empty), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const fs::path abc = dir.write("abc", "abc");
    EXPECT_EQ(VornChecksum::sha256(abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(VornChecksum, UnreadablePathsThrowTheFileErrorWithPathAndCode) {
    VornTestTempDir dir;
    const fs::path gone = dir.write("gone", "data");
    fs::remove(gone);  // removed between listing and hashing
    struct Case {
        fs::path path;
        int error;
    };
    // Nothing ever writes to the FIFO and /dev/zero never ends: both are refused before any read.
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<Case> cases = {{gone, ENOENT},
                                     {dir.path(), EISDIR},
                                     {dir / "gone" / "child", ENOENT},
                                     {fifo, EINVAL},
                                     {"/dev/zero", EINVAL}};
    for (const Case& c : cases) {
        for (const auto& hash : {+[](const fs::path& p) { return VornChecksum::sha256(p, MiB); },
                                 +[](const fs::path& p) { return VornChecksum::partialFingerprint(p, 16); }}) {
            try {
                (void)hash(c.path);
                ADD_FAILURE() << "no error for " << c.path;
            } catch (const fs::filesystem_error& error) {
                EXPECT_EQ(error.code().value(), c.error) << c.path << ": " << error.what();
                EXPECT_EQ(error.path1(), c.path);
            }
        }
    }
}

TEST(VornChecksum, AStopRequestEndsTheDigestBeforeTheNextChunk) {
    VornTestTempDir dir;
    const fs::path file = dir.write("data", std::string(3 * 1024, 'z'));
    std::stop_source stop;
    EXPECT_EQ(VornChecksum::sha256(file, 1024, stop.get_token()), VornSHA256::hexDigest(std::string(3 * 1024, 'z')));
    stop.request_stop();
    EXPECT_THROW((void)VornChecksum::sha256(file, 1024, stop.get_token()), VornTaskCancelled);
}

TEST(VornChecksum, PartialFingerprintHashesSizeHeadAndTail) {
    VORN_REQUIRE_TOOL("sha256sum");
    VornTestTempDir dir;
    struct Case {
        std::size_t fileSize;
        std::int64_t sample;
    };
    // Shorter than the sample, exactly the sample, overlapping samples, disjoint samples, no sample.
    const std::vector<Case> cases = {{0, 16}, {10, 16}, {16, 16}, {20, 16}, {32, 16}, {5000, 64}, {5000, 0},
                                     {5000, -3}, {3 * MiB + 5, MiB + 3}};
    for (const Case& c : cases) {
        const fs::path file = dir.write("p" + std::to_string(c.fileSize), patternBytes(c.fileSize));
        std::string sizeLE;
        for (int i = 0; i < 8; ++i) {
            sizeLE.push_back(static_cast<char>((static_cast<std::uint64_t>(c.fileSize) >> (8 * i)) & 0xFF));
        }
        const std::int64_t sample = c.sample < 0 ? 0 : c.sample;
        std::string command = "{ printf '" + octalEscaped(sizeLE) + "'; head -c " + std::to_string(sample) + " " +
                              vornShellQuote(file.string()) + ";";
        if (sample < static_cast<std::int64_t>(c.fileSize)) {
            command += " tail -c " + std::to_string(sample) + " " + vornShellQuote(file.string()) + ";";
        }
        command += " } | sha256sum";
        const VornShellResult reference = vornShell(command);
        ASSERT_EQ(reference.exitCode, 0) << reference.output;
        EXPECT_EQ(VornChecksum::partialFingerprint(file, c.sample), reference.output.substr(0, 64))
            << c.fileSize << " bytes, sample " << c.sample;
    }
}

TEST(VornChecksum, ConcurrentHashesOfDifferentFilesAgree) {
    VornTestTempDir dir;
    std::vector<fs::path> files;
    std::vector<std::string> expected;
    for (int i = 0; i < 4; ++i) {
        const std::string bytes = patternBytes(200'000 + static_cast<std::size_t>(i) * 7);
        files.push_back(dir.write("c" + std::to_string(i), bytes));
        expected.push_back(VornSHA256::hexDigest(bytes));
    }
    std::vector<std::string> got(files.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < files.size(); ++i) {
            threads.emplace_back([&, i] { got[i] = VornChecksum::sha256(files[i], 4096); });
        }
    }
    EXPECT_EQ(got, expected);
}

TEST(VornHexLower, TwoLowerCaseDigitsPerByte) {
    EXPECT_EQ(vornHexLower({}), "");
    const std::uint8_t bytes[] = {0x00, 0x0f, 0x10, 0xa5, 0xff};
    EXPECT_EQ(vornHexLower(bytes), "000f10a5ff");
    std::vector<std::uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    const std::string hex = vornHexLower(all);
    ASSERT_EQ(hex.size(), 512u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(std::stoi(hex.substr(2 * i, 2), nullptr, 16), static_cast<int>(i)) << i;
    }
    EXPECT_EQ(hex.find_first_of("ABCDEF"), std::string::npos);
}
