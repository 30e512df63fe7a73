#include "VornTestKeyringDaemons.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

// The process that owns a name on the session bus, from the bus itself.
pid_t ownerOf(const std::string& name) {
    const VornShellResult answer =
        vornShell("gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m "
                  "org.freedesktop.DBus.GetConnectionUnixProcessID " +
                  vornShellQuote(name));
    const auto number = answer.output.find("uint32 ");  // "(uint32 1234,)"
    if (answer.exitCode != 0 || number == std::string::npos) {
        return 0;
    }
    return static_cast<pid_t>(std::atol(answer.output.c_str() + number + 7));
}

pid_t startInBackground(const std::string& commandLine, const std::filesystem::path& log) {
    const VornShellResult started =
        vornShell(commandLine + " </dev/null >" + vornShellQuote(log.string()) + " 2>&1 & echo $!");
    return static_cast<pid_t>(std::atol(started.output.c_str()));
}

void stopProcess(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 200 && vornProcessIsRunning(pid); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (vornProcessIsRunning(pid)) {
        ::kill(pid, SIGKILL);
    }
}

}  // namespace

void vornForgetKeyringConnection() {
    secret_service_disconnect();
}

void vornRunInFreshProcess(const std::function<void()>& body, const std::vector<std::filesystem::path>& folders) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            // gtest writes its failures to standard output; the test that started this process
            // shows standard error.
            const ::testing::TestResult& result = *::testing::UnitTest::GetInstance()->current_test_info()->result();
            for (int index = 0; index < result.total_part_count(); ++index) {
                const ::testing::TestPartResult& part = result.GetTestPartResult(index);
                if (part.failed()) {
                    std::fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?", part.line_number(),
                                 part.message());
                }
            }
            for (const std::filesystem::path& folder : folders) {
                std::error_code ignored;
                std::filesystem::remove_all(folder, ignored);
            }
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

VornPausedKeyring::VornPausedKeyring() {
    // Tests run in parallel processes: one that resumed the daemon would end another's pause, so
    // pauses take turns, through a lock beside the bus socket ("unix:path=DIR/bus").
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string_view prefix = "unix:path=";
    if (address != nullptr && std::string_view(address).starts_with(prefix)) {
        const std::filesystem::path socket(std::string(address).substr(prefix.size()));
        lockFD_ = ::open((socket.parent_path() / "pause.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFD_ >= 0) {
            ::flock(lockFD_, LOCK_EX);
        }
    }
    pid_ = ownerOf("org.freedesktop.secrets");
    paused_ = pid_ > 0 && ::kill(pid_, SIGSTOP) == 0;
}

VornPausedKeyring::~VornPausedKeyring() {
    resume();
}

void VornPausedKeyring::resume() {
    if (paused_) {
        ::kill(pid_, SIGCONT);
        paused_ = false;
    }
    if (lockFD_ >= 0) {
        ::close(lockFD_);  // ends the lock: the next pause may begin
        lockFD_ = -1;
    }
}

VornRefusingKeyring::VornRefusingKeyring() {
    const std::filesystem::path run = folder_ / "run";
    const std::filesystem::path home = folder_ / "home";
    std::filesystem::create_directories(run);
    std::filesystem::create_directories(home / ".local/share");
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    const std::string address = "unix:path=" + (run / "bus").string();
    busPID_ = startInBackground("exec dbus-daemon --session --nofork --nopidfile --address=" + vornShellQuote(address),
                                folder_ / "bus.log");
    for (int i = 0; i < 500 && !std::filesystem::exists(run / "bus"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    daemonPID_ = startInBackground("HOME=" + vornShellQuote(home.string()) + " XDG_RUNTIME_DIR=" +
                                       vornShellQuote(run.string()) + " XDG_DATA_HOME=" +
                                       vornShellQuote((home / ".local/share").string()) +
                                       " DBUS_SESSION_BUS_ADDRESS=" + vornShellQuote(address) +
                                       " exec gnome-keyring-daemon --foreground --components=secrets",
                                   folder_ / "keyring.log");
    bool ready = false;
    for (int i = 0; i < 500 && !ready; ++i) {
        ready = vornShell("DBUS_SESSION_BUS_ADDRESS=" + vornShellQuote(address) +
                          " gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m "
                          "org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets")
                    .output.find("true") != std::string::npos;
        if (!ready) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!ready) {
        failure_ = "the private keyring did not start: " + vornReadFile(folder_ / "keyring.log");
        return;
    }
    bus_.emplace("DBUS_SESSION_BUS_ADDRESS", address);
    vornForgetKeyringConnection();
    // The process's session bus connection would end the process when this bus goes away.
    if (GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        g_object_unref(connection);
    }
}

VornRefusingKeyring::~VornRefusingKeyring() {
    vornForgetKeyringConnection();
    bus_.reset();
    stopProcess(daemonPID_);
    stopProcess(busPID_);
}
