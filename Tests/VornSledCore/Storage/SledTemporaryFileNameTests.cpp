#include "LocalFileProvider.h"
#include "SledLeftoverTestSupport.h"
#include "SledTemporaryFileName.h"
#include "VornTestSpawn.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// This binary started again in a helper role (chosen by the environment, played before the tests
// would run): a writer that can be put in another PID namespace and killed there.
constexpr const char* roleVariable = "VORN_HELD_FILE_ROLE";
constexpr const char* destinationVariable = "VORN_HELD_FILE_DESTINATION";
constexpr const char* reportVariable = "VORN_HELD_FILE_REPORT";

const bool helperRole = [] {
    const char* role = std::getenv(roleVariable);
    if (role == nullptr) {
        return false;
    }
    const std::filesystem::path destination = std::getenv(destinationVariable);
    if (std::string(role) == "hold") {
        // Holds its download's sibling as a transfer under way does, until it is killed.
        SledHeldFile held = sledCreateHeldFile(sledHiddenSibling(destination, "download"), 0600);
        (void)vornWriteAll(held.holder.get(), "half of the file");
        const std::filesystem::path report = std::getenv(reportVariable);
        std::ofstream(report.string() + ".partial") << held.path.string();
        std::filesystem::rename(report.string() + ".partial", report);
        for (;;) {
            ::pause();
        }
    }
    if (std::string(role) == "write") {
        // A fresh instance writing the destination (no earlier reading of the folder).
        const std::filesystem::path source = destination.string() + ".source";
        LocalFileProvider().uploadFile(source, destination.string(), std::nullopt, {}, {});
        std::_Exit(0);
    }
    std::_Exit(2);
}();

// Whether some process holds a lock on the file at `path` (false when it cannot be opened).
bool lockIsHeld(const std::filesystem::path& path) {
    const VornUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    return file && ::fcntl(file.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

std::string repeated(std::string_view piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

}  // namespace

TEST(SledTemporaryFileName, PrefixUpperCaseUUIDAndTheSafeNameCutToFit) {
    struct Case {
        std::string prefix;
        std::string fileName;
        std::size_t maxBytes;
        std::string tail;  // what follows prefix + UUID + "-"
    } const cases[] = {
        {"vornsled-relay-", "report.pdf", 255, "report.pdf"},
        {"vornsled-relay-", "../../etc/passwd", 255, "passwd"},
        {"vornsled-preview-", "..\\..\\windows\\evil.exe", 255, "evil.exe"},
        {"vornsled-edit-", "", 247, "sleded-file.bin"},
        {"vornsled-edit-", "...", 247, "sleded-file.bin"},
        // Cut at the limit; a two-byte character that does not fit whole is left out entirely.
        {"p-", std::string(400, 'n'), 255, std::string(255 - 2 - 37, 'n')},
        {"p-", repeated("\xc5\x9f", 200), 255, repeated("\xc5\x9f", (255 - 2 - 37) / 2)},
        {"p-", repeated("\xc5\x9f", 200), 254, repeated("\xc5\x9f", (254 - 2 - 37) / 2)},
        // A limit the prefix and UUID already fill keeps them whole and adds nothing.
        {"p-", "name", 20, ""},
    };
    for (const Case& c : cases) {
        const std::string name = sledTemporaryFileName(c.prefix, c.fileName, c.maxBytes);
        SCOPED_TRACE(name);
        ASSERT_TRUE(name.starts_with(c.prefix));
        const std::string uuid = name.substr(c.prefix.size(), 36);
        ASSERT_TRUE(VornUUID::fromString(uuid));
        EXPECT_EQ(VornUUID::fromString(uuid)->uuidString(), uuid) << "upper-case UUID";
        EXPECT_EQ(name.substr(c.prefix.size() + 36), "-" + c.tail);
        EXPECT_EQ(name.find('/'), std::string::npos);
        if (!c.tail.empty()) {
            EXPECT_LE(name.size(), c.maxBytes);
        }
    }
    EXPECT_EQ(sledTemporaryFileName("p-", std::string(400, 'n')).size(), 255u) << "fits a file name by default";
    EXPECT_NE(sledTemporaryFileName("p-", "x"), sledTemporaryFileName("p-", "x"));
}

// A hidden sibling names its destination and says a lock guards it, so a later write of the same
// destination removes what a killed writer left (its lock freed by the kernel) and nothing else: not
// a file whose lock is held, not one that no lock guards and that changed within a day (even with
// an old modification time, as a copy that keeps its source's has), not an earlier build's file
// (its writer may still run), not another destination's, not a name of any other form, not a
// folder.
TEST(SledTemporaryFileName, LeftoversOfEndedWritersGoBeforeTheSameDestinationIsWrittenAgain) {
    VornTestTempDir dir;
    const std::filesystem::path destination = dir / "report.pdf";

    const std::filesystem::path fresh = sledHiddenSibling(destination, "transfer");
    EXPECT_EQ(fresh.parent_path(), dir.path());
    EXPECT_TRUE(fresh.filename().string().starts_with(".vornsled-transfer-"));
    EXPECT_TRUE(fresh.filename().string().ends_with("." + sledDestinationKey("report.pdf") + ".lock.part"));
    EXPECT_TRUE(sledUnheldSibling(destination).filename().string().ends_with(".nolock.part"));

    const SledHeldFile held = sledCreateHeldFile(sledHiddenSibling(destination, "download"), 0600);
    EXPECT_TRUE(held.path.filename().string().ends_with(".lock.part")) << held.path;
    struct Case {
        std::string name;
        bool removed;
        bool oldModificationTime = false;
    } const cases[] = {
        {sledSiblingName("report.pdf", "lock"), true},
        {sledSiblingName("report.pdf", "lock", "download"), true},
        {sledSiblingName("report.pdf", "lock", ""), true},
        {held.path.filename().string(), false},                                       // its lock is held
        {sledSiblingName("report.pdf", "nolock"), false, true},                       // changed today
        {sledSiblingName("report.pdf", sledLocklessOwnerTag()), false, true},         // an earlier build's
        {sledSiblingName("other.pdf", "lock"), false},                                // another destination
        {".vornsled-" + VornUUID::random().uuidString() + ".part", false},            // no holder named
        {".vornsled-x." + sledDestinationKey("report.pdf") + ".garbage.part", false},  // not a sibling's name
    };
    for (const Case& c : cases) {
        if (c.name != held.path.filename().string()) {
            dir.write(c.name, "left over");
        }
        if (c.oldModificationTime) {
            std::filesystem::last_write_time(dir / c.name,
                                             std::filesystem::file_time_type::clock::now() - std::chrono::hours(72));
        }
    }
    const std::string folderName = sledSiblingName("report.pdf", "lock");
    std::filesystem::create_directory(dir / folderName);
    dir.write("report.pdf", "the file that was there");

    sledRemoveStaleSiblings(destination);
    for (const Case& c : cases) {
        EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.removed) << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / folderName));
    EXPECT_EQ(vornReadFile(destination), "the file that was there");
    // The other destination's leftover goes when that one is written.
    sledRemoveStaleSiblings(dir / "other.pdf");
    EXPECT_FALSE(std::filesystem::exists(dir / cases[6].name));
}

// A writer in another PID namespace (a sandbox, a container) cannot be told apart by its process
// id: its lock is what shows it running. Its file survives another instance writing the same
// destination; once it is killed (its lock gone with it), the next fresh instance removes it.
TEST(SledTemporaryFileName, AWriterInAnotherPIDNamespaceKeepsItsFileUntilItIsKilled) {
    VORN_REQUIRE_TOOL("unshare");
    (void)helperRole;
    VornTestTempDir dir;
    const std::filesystem::path destination = dir / "big.iso";
    const std::filesystem::path report = dir / "report";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::map<std::string, std::string> hold{
        {roleVariable, "hold"}, {destinationVariable, destination.string()}, {reportVariable, report.string()}};
    pid_t sandbox = vornSpawnWithEnvironment({"unshare", "--pid", "--fork", "--mount-proc", "--kill-child", self, "--gtest_filter=-*"},
                              hold);
    ASSERT_GT(sandbox, 0);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a broken build only
    int status = 0;
    while (!std::filesystem::exists(report) && std::chrono::steady_clock::now() < giveUp &&
           ::waitpid(sandbox, &status, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(std::filesystem::exists(report)) << "the sandboxed writer did not start (needs root)";
    const std::filesystem::path sandboxed = vornReadFile(report);
    ASSERT_EQ(sandboxed.parent_path(), dir.path());

    dir.write("big.iso.source", "this instance's copy");
    LocalFileProvider().uploadFile(dir / "big.iso.source", destination.string(), std::nullopt, {}, {});
    EXPECT_EQ(vornReadFile(destination), "this instance's copy");
    EXPECT_EQ(vornReadFile(sandboxed), "half of the file");

    ::kill(sandbox, SIGKILL);
    ::waitpid(sandbox, &status, 0);
    // The kernel ends the sandbox's writer after unshare itself; its lock goes with it.
    while (lockIsHeld(sandboxed) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(lockIsHeld(sandboxed));
    const pid_t fresh = vornSpawnWithEnvironment({self, "--gtest_filter=-*"}, {{roleVariable, "write"}, {destinationVariable, destination.string()}});
    ASSERT_GT(fresh, 0);
    ASSERT_EQ(::waitpid(fresh, &status, 0), fresh);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(sandboxed));
    EXPECT_EQ(vornReadFile(destination), "this instance's copy");
}

// Where nothing shows whether a file is in use (no lock could be taken, or an earlier build wrote
// it), only a day without any change of the file makes it a leftover. The change time cannot be
// set back by any writer, so the files live on a small ext4 file system whose inodes are dated
// with debugfs.
TEST(SledTemporaryFileName, AFileNothingShowsInUseGoesOnlyAfterADayWithoutChange) {
    VORN_REQUIRE_TOOL("mkfs.ext4");
    VORN_REQUIRE_TOOL("debugfs");
    VornTestTempDir dir;
    const std::string untouched = sledSiblingName("notes.txt", "nolock");
    const std::string earlierBuild = sledSiblingName("notes.txt", sledLocklessOwnerTag(), "download");
    const std::string changedToday = sledSiblingName("notes.txt", "nolock");
    for (const std::string& name : {untouched, earlierBuild, changedToday}) {
        dir.write("content/" + name, "part");
    }
    const std::filesystem::path image = dir / "disk.img";
    const std::string quotedImage = vornShellQuote(image.string());
    ASSERT_EQ(vornShell("mkfs.ext4 -q -F -d " + vornShellQuote((dir / "content").string()) + " " + quotedImage + " 4M")
                  .exitCode,
              0);
    const std::string twoDaysAgo = vornShell("date -u -d '2 days ago' +%Y%m%d%H%M%S").output.substr(0, 14);
    for (const std::string& name : {untouched, earlierBuild}) {
        ASSERT_EQ(vornShell("debugfs -w -R 'sif /" + name + " ctime " + twoDaysAgo + "' " + quotedImage + " 2>/dev/null")
                      .exitCode,
                  0);
    }
    const std::filesystem::path mounted = dir / "mnt";
    std::filesystem::create_directory(mounted);
    const int mount = vornShell("mount -o loop " + quotedImage + " " + vornShellQuote(mounted.string())).exitCode;
    if (mount != 0) {
        if (VornTestServices::inCI()) {
            FAIL() << "cannot mount a file system image (CI=true)";
        }
        GTEST_SKIP() << "cannot mount a file system image (needs root)";
    }
    sledRemoveStaleSiblings(mounted / "notes.txt");
    const bool untouchedGone = !std::filesystem::exists(mounted / untouched);
    const bool earlierGone = !std::filesystem::exists(mounted / earlierBuild);
    const bool todayKept = std::filesystem::exists(mounted / changedToday);
    vornShell("umount " + vornShellQuote(mounted.string()));
    EXPECT_TRUE(untouchedGone);
    EXPECT_TRUE(earlierGone);
    EXPECT_TRUE(todayKept);
}
