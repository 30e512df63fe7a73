#include "VornFileIO.h"
#include "VornTestSupport.h"
#include "VornUniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <optional>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t permissionsOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

}  // namespace

TEST(VornFileIO, WritesExactlyTheBytesWithTheGivenModeAndNoLeftovers) {
    VornTestTempDir dir;
    const VornScopedUmask strict(077);  // the mode given wins over the mask
    const std::string binary("a\0b\r\n\xff", 6);
    const std::string large(300'000, 'x');
    struct Row {
        const char* name;
        std::string bytes;
        mode_t mode;
    } const rows[] = {
        {"secret.json", "{\"pin\":\"1234\"}", 0600},
        {"shared.json", binary, 0644},
        {"empty", "", 0640},
        {"large", large, 0600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path file = dir / row.name;
        vornWriteFileAtomically(file, row.bytes, row.mode);
        EXPECT_EQ(vornReadFile(file), row.bytes);
        EXPECT_EQ(permissionsOf(file), row.mode);
    }
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"empty", "large", "secret.json", "shared.json"}));
}

TEST(VornFileIO, ReplacesByRenameSoTheOldFileIsNeverRewritten) {
    VornTestTempDir dir;
    const fs::path file = dir.write("settings.json", "old content, longer than the new");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    // A second name for the old file: a writer that truncated and rewrote in place would change it.
    const fs::path oldName = dir / "settings.before";
    fs::create_hard_link(file, oldName);

    vornWriteFileAtomically(file, "new", 0600);

    EXPECT_EQ(vornReadFile(file), "new");
    EXPECT_EQ(permissionsOf(file), 0600u);
    EXPECT_EQ(vornReadFile(oldName), "old content, longer than the new");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"settings.before", "settings.json"}));
}

TEST(VornFileIO, FailuresThrowNamingTheFileAndLeaveEverythingAsItWas) {
    VornTestTempDir dir;
    dir.write("folder/inside", "kept");
    dir.write("plain", "a file where a folder belongs");
    struct Row {
        const char* name;
        fs::path target;
    } const rows[] = {
        {"a folder stands at the path", dir / "folder"},
        {"the parent folder is missing", dir / "missing/file.json"},
        {"the parent is a file", dir / "plain/file.json"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            vornWriteFileAtomically(row.target, "lost?", 0600);
            ADD_FAILURE() << "no error";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(error.path1(), row.target);
            EXPECT_NE(error.code().value(), 0);
        }
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"folder", "plain"}));
        EXPECT_EQ(namesIn(dir / "folder"), std::vector<std::string>{"inside"});
        EXPECT_EQ(vornReadFile(dir / "plain"), "a file where a folder belongs");
    }
}

TEST(VornFileIO, AWriteThatFailsHalfWayKeepsTheOldFileAndRemovesTheTemporary) {
    VornTestTempDir dir;
    const fs::path file = dir.write("profiles.json", "the old profiles");
    bool threw = false;
    int code = 0;
    {
        // The kernel refuses the write part way through, as a full disk would.
        const VornScopedFileSizeLimit limit(4096);
        try {
            vornWriteFileAtomically(file, std::string(64 * 1024, 'n'), 0600);
        } catch (const fs::filesystem_error& error) {
            threw = true;
            code = error.code().value();
        }
    }

    EXPECT_TRUE(threw);
    EXPECT_EQ(code, EFBIG);
    EXPECT_EQ(vornReadFile(file), "the old profiles");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"profiles.json"});
}

TEST(VornUniqueFd, OwnsOneDescriptorAndReportsWriteFailures) {
    VornTestTempDir dir;
    const fs::path path = dir.write("data", "");
    int raw = -1;
    {
        VornUniqueFd first(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(first);
        raw = first.get();
        VornUniqueFd second(std::move(first));
        EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a moved-from descriptor is empty
        EXPECT_EQ(second.get(), raw);
        EXPECT_TRUE(vornWriteAll(second.get(), "written"));
        EXPECT_EQ(::fcntl(raw, F_GETFD), FD_CLOEXEC);
    }
    EXPECT_EQ(::fcntl(raw, F_GETFD), -1);  // closed when its owner went out of scope
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(vornReadFile(path), "written");

    VornUniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full);
    EXPECT_FALSE(vornWriteAll(full.get(), "no room"));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(full.close(), 0);
    EXPECT_FALSE(full);
    EXPECT_EQ(full.close(), 0);  // closing an empty owner is harmless
}

TEST(VornFileIO, CappedReadGivesWholeRegularFilesAndSaysWhyOtherwise) {
    VornTestTempDir dir;
    const fs::path exact = dir.write("exact", std::string(100, 'e'));
    const fs::path over = dir.write("over", std::string(101, 'o'));
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // nobody writes: a blocking open would hang
    fs::create_directories(dir / "folder");
    struct Row {
        const char* name;
        fs::path path;
        std::error_code expected;
    } const rows[] = {
        {"exactly the limit", exact, {}},
        {"one byte over", over, std::make_error_code(std::errc::file_too_large)},
        {"missing", dir / "missing", std::make_error_code(std::errc::no_such_file_or_directory)},
        {"FIFO", fifo, std::make_error_code(std::errc::invalid_argument)},
        {"folder", dir / "folder", std::make_error_code(std::errc::invalid_argument)},
        // Reports a size of 0, then delivers more than the limit: caught while reading.
        {"grows while read", "/proc/self/status", std::make_error_code(std::errc::file_too_large)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::error_code error = std::make_error_code(std::errc::io_error);  // cleared on success
        struct stat info {};
        const std::optional<std::string> bytes = vornReadFileCapped(row.path, 100, error, &info);
        EXPECT_EQ(error, row.expected);
        EXPECT_EQ(bytes.has_value(), !row.expected);
        if (bytes) {
            EXPECT_EQ(*bytes, vornReadFile(row.path));
        }
        if (row.path != dir / "missing") {
            EXPECT_NE(info.st_ino, 0u);  // the status of the opened file
        }
    }
}
