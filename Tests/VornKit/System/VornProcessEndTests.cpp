// What a program leaves behind when it is killed: its children and its private temporary folder.
// The program is this test binary started again in a helper role (chosen by the environment and
// played before the tests would run), so a real process can be killed with SIGKILL.

#include "VornProcessRunner.h"
#include "VornProcessSession.h"
#include "VornTestSpawn.h"
#include "VornTestSupport.h"
#include "VornXDG.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* roleVariable = "VORN_PROCESS_END_ROLE";
constexpr const char* reportVariable = "VORN_PROCESS_END_REPORT";

// Tells the test what the helper has set up: the whole text appears at once.
void report(const std::string& text) {
    const fs::path target = std::getenv(reportVariable);
    const fs::path partial = target.string() + ".partial";
    std::ofstream(partial) << text;
    fs::rename(partial, target);
}

[[noreturn]] void waitToBeKilled() {
    for (;;) {
        ::pause();
    }
}

// A program that starts its children the way the providers do: one session from a worker thread
// that has ended since, one run still going on another thread.
[[noreturn]] void startChildrenAndWait() {
    const fs::path pids = fs::path(std::getenv(reportVariable)).string() + ".pids";
    static std::unique_ptr<VornProcessSession> session;
    std::thread([&] {
        session = std::make_unique<VornProcessSession>("/bin/sh", std::vector<std::string>{});
        session->exchange("echo $$ >> '" + pids.string() + "'; echo DONE\n", "DONE", {});
    }).join();
    std::thread([&] {
        try {
            VornProcessRunner::run("/bin/sh", {"-c", "echo $$ >> '" + pids.string() + "'; echo DONE; exec sleep 600"},
                                   std::nullopt, std::nullopt, false, nullptr, [&](std::string_view text) {
                                       if (text.find("DONE") != std::string_view::npos) {
                                           report(vornReadFile(pids));
                                       }
                                   });
        } catch (...) {
        }
    }).detach();
    waitToBeKilled();
}

// A program that has put a large relay file into its private folder.
[[noreturn]] void fillPrivateFolderAndWait() {
    const fs::path folder = VornXDG::privateTemporaryDirectory();
    {
        std::ofstream relay(folder / "vornsled-relay-big.bin", std::ios::binary);
        const std::string block(1 << 20, 'r');
        for (int i = 0; i < 16; ++i) {
            relay << block;
        }
    }
    report(folder.string());
    waitToBeKilled();
}

const bool helperRole = [] {
    const char* role = std::getenv(roleVariable);
    if (role == nullptr) {
        return false;
    }
    const std::string name(role);
    if (name == "children") {
        startChildrenAndWait();
    }
    if (name == "private-folder") {
        fillPrivateFolderAndWait();
    }
    if (name == "start") {
        // A program that starts and ends normally.
        report(VornXDG::privateTemporaryDirectory().string());
        std::exit(0);
    }
    std::_Exit(2);
}();

// This test binary in a helper role, killed (SIGKILL) and reaped when the object goes.
class Helper {
public:
    Helper(const std::string& role, const fs::path& reportFile, const std::map<std::string, std::string>& extra = {})
        : reportFile_(reportFile) {
        (void)helperRole;
        std::map<std::string, std::string> variables = extra;
        variables[roleVariable] = role;
        variables[reportVariable] = reportFile.string();
        pid_ = vornSpawnWithEnvironment({fs::read_symlink("/proc/self/exe").string(), "--gtest_filter=-*"}, variables);
    }
    ~Helper() { kill(); }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    pid_t pid() const { return pid_; }

    // What the helper reported; nothing when it ended first (the bound only keeps a broken build
    // from hanging).
    std::optional<std::string> awaitReport() {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < giveUp) {
            if (fs::exists(reportFile_)) {
                return vornReadFile(reportFile_);
            }
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }

    // kill -9, then reaped; the exit status.
    int kill() {
        int status = 0;
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        return status;
    }

    // Waits for a normal end; the exit status.
    int wait() {
        int status = 0;
        if (pid_ > 0) {
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        return status;
    }

private:
    fs::path reportFile_;
    pid_t pid_ = -1;
};

// Whether the process behind `pidfd` ended within a minute (a bound against a broken build only).
bool endsSoon(int pidfd) {
    pollfd ended{pidfd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&ended, 1, 60'000);
    } while (ready < 0 && errno == EINTR);
    return ready == 1;
}

}  // namespace

// A session's child belongs to the process, not to the worker thread that started it: the thread
// ends and the child goes on answering.
TEST(VornProcessEnd, AChildOutlivesTheThreadThatStartedIt) {
    std::unique_ptr<VornProcessSession> shell;
    std::string firstPid;
    std::thread([&] {
        shell = std::make_unique<VornProcessSession>("/bin/sh", std::vector<std::string>{});
        firstPid = shell->exchange("echo $$; echo DONE\n", "DONE", {}).output;
    }).join();
    // Another worker comes and goes meanwhile, starting and ending a child of its own.
    std::thread([] { EXPECT_EQ(VornProcessRunner::run("/bin/true", {}).exitCode, 0); }).join();

    const VornProcessSession::Reply reply = shell->exchange("echo $$; echo DONE\n", "DONE", {});
    EXPECT_FALSE(reply.ended);
    EXPECT_EQ(reply.output, firstPid);
    EXPECT_FALSE(shell->hasEnded());
}

// kill -9 of the program ends its children: the one a finished worker thread started and the one a
// thread is still waiting for. Nothing of the program runs to end them.
TEST(VornProcessEnd, KillingTheProgramEndsItsChildren) {
    VornTestTempDir dir;
    // Orphans come to this process, so each one's end can be read.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    Helper program("children", dir / "report");
    ASSERT_GT(program.pid(), 0);
    const std::optional<std::string> pids = program.awaitReport();
    ASSERT_TRUE(pids.has_value());
    std::istringstream lines(*pids);
    std::vector<pid_t> children;
    for (pid_t pid = 0; lines >> pid;) {
        children.push_back(pid);
    }
    ASSERT_EQ(children.size(), 2u) << *pids;
    std::vector<VornUniqueFd> watched;
    for (pid_t child : children) {
        watched.emplace_back(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
        ASSERT_TRUE(watched.back()) << child;
        ASSERT_TRUE(vornProcessIsRunning(child));
    }

    const int status = program.kill();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const bool ended = endsSoon(watched[i].get());
        EXPECT_TRUE(ended) << "child " << children[i] << " outlived the program";
        if (!ended) {
            ::kill(children[i], SIGKILL);
        }
        // How it ended is not the point: the kernel closes the program's pipes before it signals
        // the children, so a child reading one may see its end and leave first.
        int childStatus = 0;
        ASSERT_EQ(::waitpid(children[i], &childStatus, 0), children[i]);
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// The private folder of a killed program (with its relay file) goes at the next start; the folder
// of a program still running stays, and so do folders of other names, and folders of the very same
// name shape that do not carry the program's mark (a user's unpacked "vornsled-master", a mark of
// other content, a mark that is a link to a real one).
TEST(VornProcessEnd, TheNextStartRemovesPrivateFoldersOfKilledPrograms) {
    VornTestTempDir dir;
    const fs::path base = dir / "tmp";
    fs::create_directories(base);
    const std::map<std::string, std::string> inBase{{"TMPDIR", base.string()}};

    Helper killed("private-folder", dir / "killed", inBase);
    const std::optional<std::string> killedFolder = killed.awaitReport();
    ASSERT_TRUE(killedFolder.has_value());
    Helper running("private-folder", dir / "running", inBase);
    const std::optional<std::string> runningFolder = running.awaitReport();
    ASSERT_TRUE(runningFolder.has_value());
    const fs::path inTheMaking = base / ".vornsled-Making";
    fs::create_directories(inTheMaking);
    const fs::path foreign = base / "vornsled-other-tool";
    fs::create_directories(foreign);
    const fs::path usersFolder = base / "vornsled-master";
    fs::create_directories(usersFolder / "src");
    std::ofstream(usersFolder / "src" / "a") << "keep\n";
    const fs::path otherMark = base / "vornsled-q1w2e3";
    fs::create_directories(otherMark);
    std::ofstream(otherMark / VornXDG::privateFolderMarkName) << "mine\n";
    const fs::path linkedMark = base / "vornsled-z9x8c7";
    fs::create_directories(linkedMark);
    fs::create_symlink(fs::path(*runningFolder) / VornXDG::privateFolderMarkName,
                       linkedMark / VornXDG::privateFolderMarkName);
    const std::vector<fs::path> unmarked{usersFolder, otherMark, linkedMark};

    const int status = killed.kill();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_TRUE(fs::exists(fs::path(*killedFolder) / "vornsled-relay-big.bin"));

    Helper next("start", dir / "next", inBase);
    const std::optional<std::string> nextFolder = next.awaitReport();
    ASSERT_TRUE(nextFolder.has_value());
    EXPECT_EQ(next.wait(), 0);

    EXPECT_FALSE(fs::exists(*killedFolder));
    EXPECT_TRUE(fs::exists(fs::path(*runningFolder) / "vornsled-relay-big.bin"));
    EXPECT_TRUE(fs::exists(inTheMaking));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_EQ(vornReadFile(usersFolder / "src" / "a"), "keep\n");
    for (const fs::path& folder : unmarked) {
        EXPECT_TRUE(fs::exists(folder)) << folder;
    }
    EXPECT_FALSE(fs::exists(*nextFolder));  // removed at its normal end
    EXPECT_EQ(fs::path(*nextFolder).parent_path(), base);

    // Once the running one is killed too, the start after it removes its folder as well.
    running.kill();
    Helper last("start", dir / "last", inBase);
    ASSERT_TRUE(last.awaitReport().has_value());
    EXPECT_EQ(last.wait(), 0);
    EXPECT_FALSE(fs::exists(*runningFolder));
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(base)) {
        left.push_back(entry.path());
    }
    EXPECT_EQ(left.size(), 2u + unmarked.size());  // the folder in the making, the foreign and the unmarked ones
    EXPECT_EQ(vornReadFile(usersFolder / "src" / "a"), "keep\n");
}
