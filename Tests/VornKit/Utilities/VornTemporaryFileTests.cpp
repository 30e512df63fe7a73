#include "VornTemporaryFile.h"
#include "VornTestSupport.h"
#include "VornUUID.h"
#include "VornXDG.h"

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> privateNamesStartingWith(std::string_view prefix) {
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(VornXDG::privateTemporaryDirectory())) {
        if (entry.path().filename().string().starts_with(prefix)) {
            found.push_back(entry.path().filename().string());
        }
    }
    return found;
}

}  // namespace

static_assert(!std::is_copy_constructible_v<VornTemporaryFile>);
static_assert(std::is_nothrow_move_constructible_v<VornTemporaryFile>);

TEST(VornTemporaryFile, RemovesItsFileHoweverTheScopeEnds) {
    VornTestTempDir dir;
    const fs::path normal = dir.write("normal", "x");
    const fs::path thrown = dir.write("thrown", "x");
    const fs::path early = dir.write("early", "x");
    { const VornTemporaryFile owner(normal); }
    try {
        const VornTemporaryFile owner(thrown);
        throw std::runtime_error("the operation failed");
    } catch (const std::runtime_error&) {
    }
    VornTemporaryFile now(early);
    now.remove();
    EXPECT_TRUE(now.path().empty());
    // Gone before the owner's end; a file of that name made later is not its business.
    EXPECT_FALSE(fs::exists(early));
    dir.write("early", "someone else's");
    now.remove();
    EXPECT_FALSE(fs::exists(normal));
    EXPECT_FALSE(fs::exists(thrown));
    EXPECT_TRUE(fs::exists(early));

    // A file that never came to be, or cannot be removed, is no error.
    { const VornTemporaryFile missing(dir / "never-made"); }
    const fs::path folder = dir / "full-folder";
    dir.write("full-folder/inside", "x");
    { const VornTemporaryFile notEmpty(folder); }
    EXPECT_TRUE(fs::exists(folder / "inside"));
    { const VornTemporaryFile nothing; }
}

TEST(VornTemporaryFile, AReleasedFileStaysAndOwnershipMoves) {
    VornTestTempDir dir;
    const fs::path kept = dir.write("kept", "x");
    const fs::path moved = dir.write("moved", "x");
    const fs::path replaced = dir.write("replaced", "x");
    {
        VornTemporaryFile owner(kept);
        owner.release();
        EXPECT_TRUE(owner.path().empty());
    }
    EXPECT_TRUE(fs::exists(kept));

    VornTemporaryFile outer;
    {
        VornTemporaryFile inner(moved);
        outer = std::move(inner);
    }
    EXPECT_TRUE(fs::exists(moved)) << "the moved-from owner removed nothing";
    EXPECT_EQ(outer.path(), moved);
    VornTemporaryFile other(replaced);
    outer = std::move(other);
    EXPECT_FALSE(fs::exists(moved)) << "an owner given another file removes the one it had";
    EXPECT_TRUE(fs::exists(replaced));
    VornTemporaryFile last(std::move(outer));
    EXPECT_EQ(last.path(), replaced);
    last.remove();
    EXPECT_FALSE(fs::exists(replaced));
}

TEST(VornTemporaryFile, InPrivateDirectoryOwnsTheNameThereWithoutCreatingIt) {
    const std::string name = "vorn-test-owned-" + VornUUID::random().uuidString();
    fs::path path;
    {
        const VornTemporaryFile owner = VornTemporaryFile::inPrivateDirectory(name);
        path = owner.path();
        EXPECT_EQ(path, VornXDG::privateTemporaryDirectory() / name);
        EXPECT_FALSE(fs::exists(path));
        std::ofstream(path) << "made by the operation";
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(VornTemporaryFile, CreateWritesTheContentsWithExactlyTheModeUnderAFreshName) {
    const VornScopedUmask strict(077);  // the mode given wins over the mask
    struct Row {
        std::string contents;
        mode_t mode;
    } const rows[] = {
        {"#!/bin/sh\nprintf '%s\\n' \"$SECRET\"\n", 0700},
        {std::string("get \"a\"\0\xff\n", 11), 0600},
        {"", 0644},
    };
    for (const Row& row : rows) {
        fs::path path;
        {
            const VornTemporaryFile file = VornTemporaryFile::create("vorn-test-made-", ".tmp", row.contents, row.mode);
            path = file.path();
            EXPECT_EQ(path.parent_path(), VornXDG::privateTemporaryDirectory());
            const std::string name = path.filename().string();
            ASSERT_EQ(name.size(), std::string("vorn-test-made-").size() + 36 + 4) << name;
            EXPECT_TRUE(name.starts_with("vorn-test-made-") && name.ends_with(".tmp")) << name;
            const auto uuid = VornUUID::fromString(name.substr(15, 36));
            ASSERT_TRUE(uuid) << name;
            EXPECT_EQ(uuid->uuidString(), name.substr(15, 36)) << "upper-case UUID";
            EXPECT_EQ(vornReadFile(path), row.contents);
            struct stat info {};
            ASSERT_EQ(::stat(path.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, row.mode);
        }
        EXPECT_FALSE(fs::exists(path));
    }
    const VornTemporaryFile first = VornTemporaryFile::create("vorn-test-made-", "", "a", 0600);
    const VornTemporaryFile second = VornTemporaryFile::create("vorn-test-made-", "", "a", 0600);
    EXPECT_NE(first.path(), second.path());
}

TEST(VornTemporaryFile, CreateThatCannotWriteThrowsAndLeavesNothing) {
    int code = 0;
    {
        // The kernel refuses the write part way through, as a full disk would.
        const VornScopedFileSizeLimit limit(4096);
        try {
            (void)VornTemporaryFile::create("vorn-test-full-", ".batch", std::string(64 * 1024, 'n'), 0600);
        } catch (const fs::filesystem_error& error) {
            code = error.code().value();
        }
    }

    EXPECT_EQ(code, EFBIG);
    EXPECT_TRUE(privateNamesStartingWith("vorn-test-full-").empty());
}
