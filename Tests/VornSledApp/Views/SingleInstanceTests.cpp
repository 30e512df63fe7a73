#include "ViewsTestSupport.h"
#include "VornAppLogger.h"
#include "VornSledSingleInstance.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string socketFolderName() { return "com.vornworks.vornsled-" + std::to_string(::geteuid()); }

bool logSays(const std::string& text) {
    const auto logged = VornAppLogger::shared("VornSled")->recentEntries(200, VornLogLevel::warn);
    return std::any_of(logged.begin(), logged.end(),
                       [&](const VornLogEntry& entry) { return entry.message.find(text) != std::string::npos; });
}

// Another user of this machine, as a test run as root can act: "nobody", made when missing.
// Nothing when the test cannot become another user; the caller skips, or fails under CI=true.
std::optional<std::pair<uid_t, gid_t>> otherUser() {
    if (::geteuid() != 0) {
        return std::nullopt;
    }
    const passwd* user = ::getpwnam("nobody");
    if (user == nullptr) {
        if (std::system("useradd -M -r -s /usr/sbin/nologin nobody > /dev/null 2>&1") == 0) {
            user = ::getpwnam("nobody");
        }
    }
    if (user == nullptr || user->pw_uid == 0) {
        return std::nullopt;
    }
    return std::pair{user->pw_uid, user->pw_gid};
}

#define REQUIRE_OTHER_USER(user)                                                                  \
    const auto user = otherUser();                                                                \
    if (!user) {                                                                                  \
        if (VornTestServices::inCI()) {                                                           \
            FAIL() << "a second user is needed: run the tests as root (CI=true)";                 \
        }                                                                                         \
        GTEST_SKIP() << "a second user is needed: the tests run as root make one, this run is not root"; \
    }

// Runs `body` in a child process that has become `user`; its exit code. Only system calls run in
// the child (the test program has threads), so everything it needs is prepared before the fork.
template <typename Body>
pid_t asOtherUser(std::pair<uid_t, gid_t> user, Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.second) != 0 || ::setuid(user.first) != 0) {
            ::_exit(90);
        }
        ::_exit(body());
    }
    return child;
}

// Waits for `child` with the GUI's events running (the listening launch answers on them).
int exitCodeOf(pid_t child) {
    int status = 0;
    pid_t ended = 0;
    EXPECT_TRUE(viewsWaitFor([&] {
        ended = ::waitpid(child, &status, WNOHANG);
        return ended == child;
    }));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

sockaddr_un addressOf(const fs::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket.native().copy(address.sun_path, sizeof(address.sun_path) - 1);
    return address;
}

}  // namespace

// Without $XDG_RUNTIME_DIR (or with one that is not the user's own), the socket is in a folder the
// program makes for its user, 0700, and a second launch still hands its files to the first.
TEST_F(ViewsTest, WithoutARuntimeFolderTheSocketIsInAFolderOfTheUsersOwn) {
    VornTestTempDir base;
    fs::permissions(base.path(), fs::perms::all | fs::perms::sticky_bit);
    VornTestTempDir open;
    fs::permissions(open.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    VornScopedEnv temporary("TMPDIR", base.path().string());
    const fs::path folder = base / socketFolderName();
    for (const std::optional<std::string>& runtime : {std::optional<std::string>(), std::optional(open.path().string())}) {
        VornScopedEnv runtimeFolder("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(VornSledSingleInstance::defaultSocketPath().toStdString(),
                  (folder / "com.vornworks.vornsled.socket").string());
    }
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());

    VornScopedEnv runtimeFolder("XDG_RUNTIME_DIR", std::nullopt);
    VornSledSingleInstance first;
    std::vector<fs::path> opened;
    ASSERT_TRUE(first.listen([&](const std::vector<fs::path>& files) { opened = files; }));
    const fs::path file = data.write("forwarded.txt", "from the second launch\n");
    std::atomic<int> forwarded{-1};
    std::thread second([&] {
        VornSledSingleInstance later;
        forwarded = later.forwardToRunning({file}) ? 1 : 0;
    });
    const bool answered = viewsWaitFor([&] { return forwarded != -1; });
    second.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(forwarded, 1);
    EXPECT_EQ(opened, std::vector<fs::path>{file});
}

// A folder at the private folder's name that is not the user's own private folder is never used:
// the program runs on without a single instance, says so in its log, and writes nothing there.
TEST_F(ViewsTest, AFolderThatIsNotTheUsersOwnIsNeverUsedForTheSocket) {
    VornTestTempDir base;
    fs::permissions(base.path(), fs::perms::all | fs::perms::sticky_bit);
    VornScopedEnv temporary("TMPDIR", base.path().string());
    VornScopedEnv runtimeFolder("XDG_RUNTIME_DIR", std::nullopt);
    const fs::path folder = base / socketFolderName();
    VornTestTempDir elsewhere;

    struct Case {
        const char* what;
        std::function<void()> make;
        bool needsOtherUser = false;
    };
    const auto otherUserAccount = otherUser();
    const Case cases[] = {
        {"a link to a private folder", [&] { fs::create_directory_symlink(elsewhere.path(), folder); }},
        {"a folder others may enter",
         [&] {
             fs::create_directory(folder);
             fs::permissions(folder, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
         }},
        {"a file", [&] { fs::copy_file(data.write("plain", "x"), folder); }},
        {"another user's private folder",
         [&] {
             fs::create_directory(folder);
             fs::permissions(folder, fs::perms::owner_all);
             ASSERT_EQ(::chown(folder.c_str(), otherUserAccount->first, otherUserAccount->second), 0);
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsOtherUser && !otherUserAccount) {
            if (VornTestServices::inCI()) {
                ADD_FAILURE() << "a second user is needed: run the tests as root (CI=true)";
            }
            continue;
        }
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        c.make();
        EXPECT_TRUE(VornSledSingleInstance::defaultSocketPath().isEmpty());
        EXPECT_TRUE(logSays("Running without a single instance: " + folder.string()));
        VornSledSingleInstance instance;
        EXPECT_FALSE(instance.forwardToRunning({}));
        EXPECT_FALSE(instance.listen([](const std::vector<fs::path>&) {}));
        EXPECT_TRUE(fs::is_empty(elsewhere.path()));
        if (fs::is_directory(folder) && !fs::is_symlink(folder)) {
            EXPECT_TRUE(fs::is_empty(folder));
        }
        fs::remove_all(folder, ignored);
    }
}

// The listening launch takes files only from its own user: a program of another user that reaches
// its socket (here through a door left open) is closed unanswered and nothing is opened.
TEST_F(ViewsTest, TheListeningLaunchTakesNoFilesFromAnotherUser) {
    REQUIRE_OTHER_USER(user);
    VornTestTempDir folder;
    fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
    const fs::path socket = folder / "sled.socket";
    VornSledSingleInstance first(QString::fromStdString(socket.string()));
    int launches = 0;
    ASSERT_TRUE(first.listen([&](const std::vector<fs::path>&) { ++launches; }));
    fs::permissions(socket, fs::perms::all);

    const std::string message = "open " + QByteArray("/home/someone/.ssh/id_ed25519").toBase64().toStdString() + "\nend\n";
    const sockaddr_un address = addressOf(socket);
    // 0: the launch answered; 1: it closed without an answer; above: the child could not try.
    const pid_t child = asOtherUser(*user, [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return 91;
        }
        if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(message.size())) {
            return 1;  // closed before it read the whole message
        }
        char answer[8];
        return ::read(fd, answer, sizeof answer) > 0 ? 0 : 1;
    });
    EXPECT_EQ(exitCodeOf(child), 1);
    EXPECT_EQ(launches, 0);
    EXPECT_TRUE(logSays("A program of another user reached " + socket.string()));

    // A launch of the same user is still served.
    std::atomic<int> forwarded{-1};
    std::thread second([&] {
        VornSledSingleInstance later(QString::fromStdString(socket.string()));
        forwarded = later.forwardToRunning({}) ? 1 : 0;
    });
    const bool answered = viewsWaitFor([&] { return forwarded != -1; });
    second.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(forwarded, 1);
    EXPECT_EQ(launches, 1);
}

// A later launch hands its files only to a program of its own user: when another user listens on
// the socket, not one byte is sent, and the socket is neither used nor replaced.
TEST_F(ViewsTest, ALaterLaunchHandsNoFilesToAnotherUser) {
    REQUIRE_OTHER_USER(user);
    VornTestTempDir folder;
    ASSERT_EQ(::chown(folder.path().c_str(), user->first, user->second), 0);
    const fs::path socket = folder / "sled.socket";
    const sockaddr_un address = addressOf(socket);
    int ready[2];
    int report[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(report), 0);
    // Listens, tells it is ready, takes one connection and reads until "end" or the end of the
    // connection, answers "ok" as a launch would, and reports how many bytes it was sent.
    const pid_t child = asOtherUser(*user, [&] {
        ::close(ready[0]);
        ::close(report[0]);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::chmod(address.sun_path, 0777) != 0 || ::listen(fd, 4) != 0) {
            return 91;
        }
        if (::write(ready[1], "r", 1) != 1) {
            return 92;
        }
        const int peer = ::accept(fd, nullptr, nullptr);
        if (peer < 0) {
            return 93;
        }
        char chunk[512];
        char last[4] = {};
        std::size_t total = 0;
        for (ssize_t count = 0; (count = ::read(peer, chunk, sizeof chunk)) > 0;) {
            total += static_cast<std::size_t>(count);
            for (ssize_t at = 0; at < count; ++at) {
                std::memmove(last, last + 1, 3);
                last[3] = chunk[at];
            }
            if (std::memcmp(last, "end\n", 4) == 0 && ::send(peer, "ok\n", 3, MSG_NOSIGNAL) != 3) {
                break;
            }
        }
        return ::write(report[1], &total, sizeof total) == static_cast<ssize_t>(sizeof total) ? 0 : 94;
    });
    ::close(ready[1]);
    ::close(report[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the other user's listener did not start";

    const fs::path secret = data.write("tax return 2026.pdf", "private\n");
    VornSledSingleInstance later(QString::fromStdString(socket.string()));
    EXPECT_FALSE(later.forwardToRunning({secret}));
    std::size_t sent = 1;
    EXPECT_EQ(::read(report[0], &sent, sizeof sent), static_cast<ssize_t>(sizeof sent));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(exitCodeOf(child), 0);
    ::close(ready[0]);
    ::close(report[0]);

    EXPECT_FALSE(later.listen([](const std::vector<fs::path>&) {}));
    EXPECT_TRUE(logSays("Another user's program listens on " + socket.string()));
    struct stat info {};
    ASSERT_EQ(::lstat(socket.c_str(), &info), 0) << "the other user's socket was removed";
    EXPECT_EQ(info.st_uid, user->first);
}
