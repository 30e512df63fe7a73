// The nearby devices card against real mDNS: a server announced from network namespace A through
// its own avahi-daemon appears as a card in a workspace browsing through the daemon of namespace
// B, and goes when it is withdrawn.
//
// libdbus reads the system bus address once per process, so the workspace browses in a process of
// its own (this test program started again for this one test, with the browse bus set), and the
// announcing server runs in another child.
#include "LanAirDropView.h"
#include "LANSledServer.h"
#include "ViewsTestSupport.h"
#include "VornPalette.h"
#include "VornProcessRunner.h"
#include "VornUUID.h"

#include <QLabel>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// The announcing side: enters namespace A, publishes a real server through bus A, says on which
// port, and lives until it is ended. Runs before main, so it never reaches the tests.
[[maybe_unused]] const bool isAnnouncer = [] {
    const char* name = std::getenv("VORN_LAN_TAB_ANNOUNCE");
    if (name == nullptr) {
        return false;
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDERR_FILENO);
    const int space = ::open((std::string("/run/netns/") + std::getenv("VORN_LAN_TAB_NAMESPACE")).c_str(),
                             O_RDONLY | O_CLOEXEC);
    if (space < 0 || ::setns(space, CLONE_NEWNET) != 0) {
        std::_Exit(3);
    }
    static LANSledServer server(name, std::getenv("VORN_LAN_TAB_DOWNLOADS"), false, "0000");
    const std::uint16_t port = server.start(0, true, {});
    const std::string ready = "ready " + std::to_string(port) + "\n";
    (void)!::write(STDOUT_FILENO, ready.data(), ready.size());
    while (true) {
        ::pause();
    }
}();

// A child process read line by line; ended when the object goes.
class LanTestChild {
public:
    LanTestChild(std::vector<std::string> arguments, std::map<std::string, std::string> environment)
        : runner_([this, arguments = std::move(arguments), environment = std::move(environment)](std::stop_token stop) {
              int code = -1;
              try {
                  code = VornProcessRunner::run("/proc/self/exe", arguments, std::nullopt, environment, false, nullptr,
                                                [this](std::string_view chunk) {
                                                    std::lock_guard lock(mutex_);
                                                    output_ += chunk;
                                                    changed_.notify_all();
                                                },
                                                stop)
                             .exitCode;
              } catch (...) {
              }
              std::lock_guard lock(mutex_);
              exitCode_ = code;
              changed_.notify_all();
          }) {}

    // Waits for a line starting with `prefix` and returns the rest of it; nothing when the child
    // ended first (the bound only keeps a broken build from hanging).
    std::optional<std::string> waitForLine(const std::string& prefix) {
        std::unique_lock lock(mutex_);
        std::optional<std::string> found;
        changed_.wait_for(lock, std::chrono::seconds(120), [&] {
            std::size_t at = 0;
            while (true) {
                const std::size_t end = output_.find('\n', at);
                if (end == std::string::npos) {
                    break;
                }
                if (output_.compare(at, prefix.size(), prefix) == 0) {
                    found = output_.substr(at + prefix.size(), end - at - prefix.size());
                    return true;
                }
                at = end + 1;
            }
            return exitCode_.has_value();
        });
        return found;
    }
    // Waits for the end; the exit code and everything it printed.
    std::pair<int, std::string> wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(280), [&] { return exitCode_.has_value(); });
        return {exitCode_.value_or(-1), output_};
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    std::optional<int> exitCode_;
    std::jthread runner_;  // last: ends first
};

}  // namespace

TEST_F(ViewsTest, AServerAnnouncedFromTheOtherNamespaceAppearsAsAPeerCard) {
    VORN_REQUIRE_SERVICE("avahi");
    const std::string browseBus = VornTestServices::value("AVAHI_BROWSE_BUS");
    const char* bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (bus == nullptr || browseBus != bus) {
        // This process may have talked to another system bus already: browse in a fresh one.
        const std::string self = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        LanTestChild browser({"--gtest_filter=ViewsTest." + self}, {{"DBUS_SYSTEM_BUS_ADDRESS", browseBus}});
        const auto [code, output] = browser.wait();
        EXPECT_EQ(code, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        return;
    }

    const std::string name = "Neighbour Desk " + VornUUID::random().uuidString().substr(0, 6);
    VornTestTempDir peerDownloads;
    auto announcer = std::make_unique<LanTestChild>(
        std::vector<std::string>{"--gtest_filter=-*"},
        std::map<std::string, std::string>{{"VORN_LAN_TAB_ANNOUNCE", name},
                                           {"VORN_LAN_TAB_NAMESPACE", VornTestServices::value("AVAHI_NAMESPACE_A")},
                                           {"VORN_LAN_TAB_DOWNLOADS", peerDownloads.path().string()},
                                           {"DBUS_SYSTEM_BUS_ADDRESS", VornTestServices::value("AVAHI_PUBLISH_BUS")}});
    const std::optional<std::string> port = announcer->waitForLine("ready ");
    ASSERT_TRUE(port.has_value()) << "the announcing server did not start";

    auto model = makeModel();
    LanAirDropView view(*model, accentColor(VornProductPalette::deepCoral));
    view.resize(1228, 620);
    view.show();
    EXPECT_TRUE(view.showsScanningHint());
    model->startLANServices();

    const auto card = [&]() -> LanPeerCard* {
        for (LanPeerCard* candidate : view.peerCards()) {
            if (candidate->nameLabel()->text().toStdString() == name) {
                return candidate;
            }
        }
        return nullptr;
    };
    ASSERT_TRUE(viewsWaitFor([&] { return card() != nullptr; })) << "the announced server never appeared";
    EXPECT_FALSE(view.showsScanningHint());
    EXPECT_EQ(card()->addressLabel()->text().toStdString(),
              VornTestServices::value("AVAHI_ADDRESS_A") + ":" + *port);
    EXPECT_EQ(card()->peer().platform, "Linux");
    EXPECT_FALSE(card()->peer().isManual);
    snapshot(view, QStringLiteral("app-lan-discovered-en"));

    // Withdrawn, it goes; the hint comes back when nobody else is around.
    announcer.reset();
    EXPECT_TRUE(viewsWaitFor([&] { return card() == nullptr; })) << "the withdrawn server is still shown";
    EXPECT_EQ(view.showsScanningHint(), model->allLANPeers().empty());
    model->stopLANServices();
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLANServerRunning(); }));
}
