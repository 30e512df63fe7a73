#include "VornTestSupport.h"
#include "VornXDG.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;

TEST(VornXDG, BaseFoldersFollowTheEnvironmentAndIgnoreRelativeValues) {
    VornTestTempDir dir;
    VornScopedEnv home("HOME", dir.path().string());
    VornScopedEnv data("XDG_DATA_HOME", std::string("relative/data"));
    VornScopedEnv config("XDG_CONFIG_HOME", (dir / "cfg").string());
    EXPECT_EQ(VornXDG::dataHome(), dir / ".local" / "share");
    EXPECT_EQ(VornXDG::configHome(), dir / "cfg");
    EXPECT_EQ(VornXDG::makerFolder(), dir / ".local" / "share" / "Vornworks");
}

TEST(VornXDG, DownloadsComesFromUserDirsElseHome) {
    VornTestTempDir dir;
    VornScopedEnv home("HOME", dir.path().string());
    VornScopedEnv config("XDG_CONFIG_HOME", (dir / "cfg").string());
    EXPECT_EQ(VornXDG::downloads(), dir / "Downloads");

    dir.write("cfg/user-dirs.dirs", "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Gelen \\\"Dosyalar\\\"\"\n");
    EXPECT_EQ(VornXDG::downloads(), dir / "Gelen \"Dosyalar\"");

    dir.write("cfg/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"/srv/inbox\"\n");
    EXPECT_EQ(VornXDG::downloads(), fs::path("/srv/inbox"));

    dir.write("cfg/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"relative\"\n");
    EXPECT_EQ(VornXDG::downloads(), dir / "Downloads");

    // A FIFO where the file belongs (nobody will ever write to it) reads as no setting, at once.
    fs::remove(dir / "cfg/user-dirs.dirs");
    ASSERT_EQ(::mkfifo((dir / "cfg/user-dirs.dirs").c_str(), 0600), 0);
    EXPECT_EQ(VornXDG::downloads(), dir / "Downloads");
}

TEST(VornXDG, PrivateTemporaryFolderIsOwnerOnlyAndStable) {
    const fs::path first = VornXDG::privateTemporaryDirectory();
    EXPECT_EQ(first, VornXDG::privateTemporaryDirectory());
    struct stat info {};
    ASSERT_EQ(::stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// A run leaves no private folder behind in the temporary folder. Runs in a fresh process that ends
// through exit(); the folder it made lives in a folder this test owns (handed down through the
// environment, as the fresh process runs this test again from its start).
TEST(VornXDG, PrivateTemporaryFolderIsRemovedWhenTheProgramEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const VornTestTempDir shared("VORN_TEST_XDG_EXIT_BASE");
    const fs::path& base = shared.path();
    VornScopedEnv temporary("TMPDIR", base.string());
    EXPECT_EXIT(
        {
            const fs::path folder = VornXDG::privateTemporaryDirectory();
            std::ofstream(folder / "left over.txt") << "x";
            fs::create_directories(folder / "nested" / "deeper");
            std::exit(folder.parent_path() == base ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::is_empty(base));
}
