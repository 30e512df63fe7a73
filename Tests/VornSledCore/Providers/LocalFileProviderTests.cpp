#include "LocalFileProvider.h"

#include "RecursiveDirectoryWalker.h"
#include "SledError.h"
#include "SledListingError.h"
#include "VornChecksum.h"
#include "VornTestSupport.h"
#include "VornTestTmpfs.h"
#include "VornXDG.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> names(const std::vector<SledFileEntry>& entries) {
    std::vector<std::string> result;
    for (const auto& entry : entries) {
        result.push_back(entry.name);
    }
    return result;
}

// Names of the hidden copies the provider writes before renaming them into place.
std::vector<std::string> leftoverPartFiles(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (name.starts_with(".vornsled-")) {
            found.push_back(name);
        }
    }
    return found;
}

template <typename Operation>
std::string sledErrorText(Operation&& operation) {
    try {
        operation();
    } catch (const SledError& error) {
        return error.description();
    }
    return "(no SledError)";
}

}  // namespace

TEST(LocalFileProvider, ListsFoldersFirstThenNamesInLocalizedOrderSkippingHidden) {
    VornTestTempDir dir;
    fs::create_directories(dir / "b");
    fs::create_directories(dir / "A");
    dir.write("a10.txt", "0123456789");
    dir.write("a2.txt", "xy");
    dir.write(".hidden", "secret");
    fs::create_directories(dir / ".git");
    dir.write("A/inside.txt", std::string(5000, 'z'));

    const auto entries = LocalFileProvider().listDirectory(dir.path().string(), {});
    EXPECT_EQ(names(entries), (std::vector<std::string>{"A", "b", "a2.txt", "a10.txt"}));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_EQ(entries[0].sizeBytes, 0) << "a folder lists with size 0, whatever the file system says";
    EXPECT_EQ(entries[0].path, (dir / "A").string());
    EXPECT_FALSE(entries[2].isDirectory);
    EXPECT_EQ(entries[2].sizeBytes, 2);
    EXPECT_EQ(entries[3].path, (dir / "a10.txt").string());
    EXPECT_TRUE(entries[3].modifiedAt.has_value());
    EXPECT_FALSE(entries[3].permissions.has_value());
    EXPECT_FALSE(entries[3].eTag.has_value());
}

TEST(LocalFileProvider, EmptyAndHiddenOnlyFoldersListEmpty) {
    VornTestTempDir dir;
    fs::create_directories(dir / "empty");
    dir.write("hidden-only/.a", "1");
    dir.write("hidden-only/.b/c", "2");
    const LocalFileProvider provider;
    EXPECT_TRUE(provider.listDirectory((dir / "empty").string(), {}).empty());
    EXPECT_TRUE(provider.listDirectory((dir / "hidden-only").string(), {}).empty());
}

TEST(LocalFileProvider, ALinkToAFolderListsAsAFileAndIsNotFollowed) {
    VornTestTempDir dir;
    dir.write("target/deep.txt", "deep");
    fs::create_directories(dir / "list");
    fs::create_directory_symlink(dir / "target", dir / "list" / "link");
    dir.write("list/plain.txt", "p");
    const auto entries = LocalFileProvider().listDirectory((dir / "list").string(), {});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "link");
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_TRUE(entries[0].isSymbolicLink);
    EXPECT_FALSE(entries[1].isSymbolicLink);
}

// A folder that can be read but not entered names its children and nothing more. Guessing them to
// be empty files once let a mirror delete the other side's real files; the listing, and so any
// walk through the folder, fails instead. Runs in its own process: as root the permission bits
// hold nothing back, so the process first becomes an unprivileged user.
TEST(LocalFileProvider, AFolderThatCanBeReadButNotEnteredFailsItsListingAndTheWalk) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const VornTestTempDir dir("VORN_TEST_UNENTERABLE_DIR");
    dir.write("tree/ok.txt", "ok");
    dir.write("tree/locked/a.txt", "aaaa");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir / "tree", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir / "tree" / "locked", fs::perms::owner_read | fs::perms::others_read);
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                std::exit(10);
            }
            int failures = 0;
            try {
                (void)LocalFileProvider().listDirectory((dir / "tree" / "locked").string(), {});
                ++failures;
            } catch (const SledListingError& error) {
                failures += error.kind() != SledListingError::Kind::unreadableEntry || error.name() != "a.txt" ||
                            !error.entriesRead().empty();
                std::fprintf(stderr, "%s\n", error.what());
            }
            try {
                (void)RecursiveDirectoryWalker::collectFiles((dir / "tree").string(), LocalFileProvider(), {}, 12, {});
                ++failures;
            } catch (const SledListingError& error) {
                failures += error.kind() != SledListingError::Kind::unreadableEntry;
            }
            std::fprintf(stderr, "failures=%d\n", failures);
            std::exit(failures);
        },
        ::testing::ExitedWithCode(0), "Cannot read what 'a.txt' is in .*locked\nfailures=0");
    fs::permissions(dir / "tree" / "locked", fs::perms::owner_all);
}

TEST(LocalFileProvider, ListingSomethingThatIsNotAReadableFolderFailsWithThePlatformError) {
    VornTestTempDir dir;
    const auto file = dir.write("plain.txt", "x");
    const LocalFileProvider provider;
    for (const fs::path& path : {file, dir / "missing"}) {
        EXPECT_THROW(provider.listDirectory(path.string(), {}), fs::filesystem_error) << path;
    }
}

TEST(LocalFileProvider, HostileNamesListAndCopyByteForByte) {
    VornTestTempDir dir;
    const std::vector<std::string> hostile = {
        "with space.txt", "quote\"d 'name'.txt", "back\\slash.txt", "new\nline.txt",
        std::string("bad\xff\xfe utf8.txt"), std::string(255 - 4, 'L') + ".txt",
    };
    const LocalFileProvider provider;
    for (const auto& name : hostile) {
        dir.write(fs::path("src") / name, "content of " + name);
        const fs::path copy = dir / "copy" / name;
        const auto result = provider.downloadFile((dir / "src" / name).string(), copy, {}, {});
        EXPECT_EQ(vornReadFile(copy), "content of " + name);
        EXPECT_EQ(result.bytes, static_cast<std::int64_t>(("content of " + name).size()));
    }
    const auto listed = names(provider.listDirectory((dir / "copy").string(), {}));
    EXPECT_EQ(listed.size(), hostile.size());
    for (const auto& name : hostile) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
    }
    EXPECT_TRUE(leftoverPartFiles(dir / "copy").empty());
}

TEST(LocalFileProvider, DownloadReplacesAFileCreatesTheFolderChainAndReportsOnce) {
    VornTestTempDir dir;
    const auto source = dir.write("source.bin", std::string(300'000, 'q') + "tail");
    const std::string sourceDigest = VornChecksum::sha256(source);
    const LocalFileProvider provider;

    struct Case {
        std::string label;
        fs::path destination;
        std::optional<std::string> existing;
    };
    const std::vector<Case> cases = {
        {"onto an existing file", dir / "out" / "existing.bin", "old and longer than nothing"},
        {"into a missing folder chain", dir / "new" / "deeper" / "still" / "file.bin", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.existing) {
            dir.write(fs::relative(c.destination, dir.path()), *c.existing);
        }
        std::vector<std::pair<std::int64_t, std::int64_t>> progress;
        const auto result = provider.downloadFile(
            source.string(), c.destination, [&](std::int64_t done, std::int64_t total) { progress.emplace_back(done, total); },
            {});
        EXPECT_EQ(vornReadFile(c.destination), vornReadFile(source));
        EXPECT_EQ(result.bytes, 300'004);
        EXPECT_EQ(result.remoteSHA256, sourceDigest) << "the download reports the source's digest";
        EXPECT_EQ(progress, (std::vector<std::pair<std::int64_t, std::int64_t>>{{300'004, 300'004}}));
        EXPECT_TRUE(leftoverPartFiles(c.destination.parent_path()).empty());
    }
}

TEST(LocalFileProvider, CopyKeepsPermissionBitsAndModificationTime) {
    VornTestTempDir dir;
    const auto source = dir.write("script.sh", "#!/bin/sh\n");
    fs::permissions(source, fs::perms(0750));
    const auto stamp = fs::last_write_time(source) - std::chrono::hours(48);
    fs::last_write_time(source, stamp);
    const fs::path copy = dir / "copy.sh";
    LocalFileProvider().uploadFile(source, copy.string(), std::nullopt, {}, {});
    EXPECT_EQ(fs::status(copy).permissions(), fs::perms(0750));
    EXPECT_EQ(fs::last_write_time(copy), stamp);
}

TEST(LocalFileProvider, CopyOntoAFolderFailsAndLeavesTheFolderTree) {
    VornTestTempDir dir;
    const auto source = dir.write("report.txt", "new");
    dir.write("dest/report.txt/keep.txt", "precious");
    const LocalFileProvider provider;
    const std::string expected = "Remote operation failed: An item named 'report.txt' already exists.";
    EXPECT_EQ(sledErrorText([&] { provider.downloadFile(source.string(), dir / "dest" / "report.txt", {}, {}); }),
              expected);
    EXPECT_EQ(sledErrorText([&] {
                  provider.uploadFile(source, (dir / "dest" / "report.txt").string(), std::nullopt, {}, {});
              }),
              expected);
    EXPECT_EQ(vornReadFile(dir / "dest" / "report.txt" / "keep.txt"), "precious");
}

TEST(LocalFileProvider, FailedCopiesLeaveTheFileThatWasThere) {
    VornTestTmpfs small("1m");
    VORN_REQUIRE_TMPFS(small);
    VornTestTempDir dir;
    const auto big = dir.write("big.bin", std::string(3 * 1024 * 1024, 'b'));
    const auto existing = small / "existing.bin";
    {
        std::ofstream(existing, std::ios::binary) << "the old copy";
    }
    const LocalFileProvider provider;
    struct Case {
        std::string label;
        fs::path source;
        std::string expectedInMessage;
    };
    const std::vector<Case> cases = {
        {"no room on the destination", big, "No space left on device"},
        {"a source that vanished", dir / "vanished.bin", "No such file or directory"},
        {"a folder as the source", dir.path(), "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        try {
            provider.uploadFile(c.source, existing.string(), std::nullopt, {}, {});
            ADD_FAILURE() << "the copy succeeded";
        } catch (const fs::filesystem_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.expectedInMessage), std::string::npos) << error.what();
        }
        EXPECT_EQ(vornReadFile(existing), "the old copy");
        EXPECT_TRUE(leftoverPartFiles(small.path()).empty());
    }
}

TEST(LocalFileProvider, RenameRefusesAnExistingTargetAndAcceptsItself) {
    VornTestTempDir dir;
    const auto x = dir.write("x.txt", "x");
    const auto y = dir.write("y.txt", "y");
    fs::create_directories(dir / "folder");
    const LocalFileProvider provider;

    provider.renameItem(x.string(), x.string(), false, {});
    provider.renameItem(x.string(), x.string() + "/", false, {});
    EXPECT_EQ(vornReadFile(x), "x");

    for (const fs::path& target : {y, dir / "folder"}) {
        EXPECT_EQ(sledErrorText([&] { provider.renameItem(x.string(), target.string(), false, {}); }),
                  "Remote operation failed: An item named '" + target.filename().string() + "' already exists.");
    }
    EXPECT_EQ(vornReadFile(x), "x");
    EXPECT_EQ(vornReadFile(y), "y");

    provider.renameItem(x.string(), (dir / "folder" / "moved.txt").string(), false, {});
    EXPECT_FALSE(fs::exists(x));
    EXPECT_EQ(vornReadFile(dir / "folder" / "moved.txt"), "x");
    EXPECT_THROW(provider.renameItem((dir / "absent").string(), (dir / "z").string(), false, {}), fs::filesystem_error);
}

TEST(LocalFileProvider, RenameAcrossFileSystemsCopiesThenRemoves) {
    VornTestTmpfs other("4m");
    VORN_REQUIRE_TMPFS(other);
    VornTestTempDir dir;
    const auto file = dir.write("file.txt", "moving file");
    dir.write("tree/a.txt", "a");
    dir.write("tree/sub/b.txt", "b");
    const LocalFileProvider provider;

    provider.renameItem(file.string(), (other / "file.txt").string(), false, {});
    provider.renameItem((dir / "tree").string(), (other / "tree").string(), true, {});
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(dir / "tree"));
    EXPECT_EQ(vornReadFile(other / "file.txt"), "moving file");
    EXPECT_EQ(vornReadFile(other / "tree" / "sub" / "b.txt"), "b");

    // Back again onto a name that exists there: refused, nothing lost on either side.
    dir.write("file.txt", "other content");
    EXPECT_EQ(sledErrorText([&] { provider.renameItem((other / "file.txt").string(), file.string(), false, {}); }),
              "Remote operation failed: An item named 'file.txt' already exists.");
    EXPECT_EQ(vornReadFile(other / "file.txt"), "moving file");
    EXPECT_EQ(vornReadFile(file), "other content");
    EXPECT_TRUE(leftoverPartFiles(other.path()).empty());
}

TEST(LocalFileProvider, DeleteMovesToTheTrashAndReportsAFailure) {
    VornTestTempDir dir;
    const auto file = dir.write("trash-me.txt", "to the trash");
    dir.write("trash-folder/inner.txt", "inner");
    const LocalFileProvider provider;
    const fs::path trash = VornXDG::dataHome() / "Trash" / "files";

    provider.deleteItem(file.string(), false, {});
    provider.deleteItem((dir / "trash-folder").string(), true, {});
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(dir / "trash-folder"));

    bool foundFile = false;
    bool foundFolder = false;
    for (const auto& item : fs::directory_iterator(trash)) {
        const std::string name = item.path().filename().string();
        foundFile = foundFile || (name.starts_with("trash-me") && vornReadFile(item.path()) == "to the trash");
        foundFolder = foundFolder || (name.starts_with("trash-folder") && fs::exists(item.path() / "inner.txt"));
    }
    EXPECT_TRUE(foundFile) << "the file is in " << trash;
    EXPECT_TRUE(foundFolder) << "the folder is in " << trash;

    try {
        provider.deleteItem((dir / "never-existed").string(), false, {});
        ADD_FAILURE() << "trashing a missing item succeeded";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(error.what()).find("Trash"), std::string::npos) << error.what();
    }
}

TEST(LocalFileProvider, CreatesFoldersAndNeverFailsTheConnectionTest) {
    VornTestTempDir dir;
    const LocalFileProvider provider("Bu Bilgisayar");
    EXPECT_EQ(provider.displayName(), "Bu Bilgisayar");
    EXPECT_EQ(LocalFileProvider().displayName(), "This Computer");

    provider.createDirectory((dir / "a" / "b" / "c").string(), {});
    provider.createDirectory((dir / "a" / "b" / "c").string(), {});
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    const auto file = dir.write("a/file", "x");
    EXPECT_THROW(provider.createDirectory(file.string(), {}), fs::filesystem_error);

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_NO_THROW(provider.testConnection(stopped.get_token()));
}
