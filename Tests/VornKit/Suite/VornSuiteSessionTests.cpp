#include "VornSuiteCommandBus.h"
#include "VornSuiteHelpers.h"
#include "VornSuiteNotifications.h"
#include "VornSuiteTelemetryBus.h"
#include "VornTestSupport.h"

#include <fstream>
#include <sstream>

#include <signal.h>
#include <spawn.h>

extern char** environ;

namespace fs = std::filesystem;

// The scenarios below run inside a private session bus that the last test starts with
// dbus-run-session; run directly they skip.
#define VORN_REQUIRE_PRIVATE_SESSION()                                                              \
    do {                                                                                           \
        if (std::getenv("VORN_SUITE_PRIVATE_SESSION") == nullptr) {                                \
            GTEST_SKIP() << "runs only inside a private session bus";                              \
        }                                                                                          \
    } while (0)

namespace {

// Data folders of this test alone, so that no entry of the machine counts as installed.
struct PrivateDataFolders {
    VornTestTempDir dir;
    VornScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    VornScopedEnv dirs{"XDG_DATA_DIRS", (dir / "system").string()};
};

}  // namespace

TEST(VornSuiteSession, DISABLED_AListenerReceivesASentCommandOnce) {
    VORN_REQUIRE_PRIVATE_SESSION();
    PrivateDataFolders folders;
    const VornSuiteCommandBus bus;
    EXPECT_FALSE(VornSuiteApps::isRunning(VornSuiteApp::quarn));

    VornSuiteHelper helper = VornSuiteHelper::start("listen:Quarn", folders.dir / "quarn.txt", {{"VORN_SUITE_OWN", "1"}});
    ASSERT_TRUE(helper.waitFor("ready"));
    EXPECT_TRUE(VornSuiteApps::isRunning(VornSuiteApp::quarn));  // it owns com.vornworks.quarn
    EXPECT_FALSE(VornSuiteApps::isRunning(VornSuiteApp::hessom));

    EXPECT_TRUE(bus.send(VornSuiteCommandKind::quarnFreezePID, VornSuiteApp::vornSled, VornSuiteApp::quarn, 4242,
                         std::nullopt, "first", false, true));
    ASSERT_TRUE(helper.waitFor("got quarnFreezePID first"));
    // A second notification finds the slot empty; the next command still arrives, alone.
    VornSuiteNotifications::post(VornSuiteCommandBus::notificationName(VornSuiteApp::quarn));
    EXPECT_TRUE(bus.send(VornSuiteCommandKind::quarnThawAll, VornSuiteApp::vornSled, VornSuiteApp::quarn, std::nullopt,
                         std::nullopt, "second", false, false));
    ASSERT_TRUE(helper.waitFor("got quarnThawAll second"));
    EXPECT_EQ(helper.count("got quarnFreezePID first"), 1);
    helper.stop();
    EXPECT_FALSE(VornSuiteApps::isRunning(VornSuiteApp::quarn));
}

TEST(VornSuiteSession, DISABLED_SendRefusesTargetsItCannotReach) {
    VORN_REQUIRE_PRIVATE_SESSION();
    PrivateDataFolders folders;
    const VornSuiteCommandBus bus;
    struct Case {
        const char* label;
        std::optional<std::int32_t> pid;
        bool installed;
        bool launchIfNeeded;
    };
    const std::vector<Case> cases = {
        {"pid 1", 1, true, true},
        {"pid 0", 0, true, true},
        {"negative pid", -7, true, true},
        {"neither running nor installed", std::nullopt, false, true},
        {"installed but not to be launched", std::nullopt, true, false},
    };
    for (const Case& c : cases) {
        std::error_code error;
        fs::remove_all(folders.dir / "data", error);
        if (c.installed) {
            folders.dir.write("data/applications/com.vornworks.hessom.desktop",
                              "[Desktop Entry]\nType=Application\nExec=/bin/true\n");
        }
        EXPECT_FALSE(bus.send(VornSuiteCommandKind::hessomToggleHUD, VornSuiteApp::vornSled, VornSuiteApp::hessom, c.pid,
                              std::nullopt, std::nullopt, c.launchIfNeeded, false))
            << c.label;
        EXPECT_FALSE(fs::exists(bus.commandFile(VornSuiteApp::hessom))) << c.label;
    }
}

TEST(VornSuiteSession, DISABLED_AnApplicationStartedFromItsEntryPicksItsCommandUp) {
    VORN_REQUIRE_PRIVATE_SESSION();
    PrivateDataFolders folders;
    const fs::path output = folders.dir / "launched.txt";
    // The entry's command line uses quoting and a field code, as installed entries do.
    folders.dir.write("data/applications/com.vornworks.tibrel.desktop",
                      "[Desktop Entry]\nType=Application\nName=Tibrel\nExec=env VORN_SUITE_HELPER=listen:Tibrel "
                      "\"VORN_SUITE_OUT=" + output.string() + "\" " + vornSuiteTestProgram().string() + " %U\n");
    ASSERT_TRUE(VornSuiteApps::isInstalled(VornSuiteApp::tibrel));
    EXPECT_FALSE(VornSuiteApps::isRunning(VornSuiteApp::tibrel));
    const VornSuiteCommandBus bus;
    EXPECT_TRUE(bus.send(VornSuiteCommandKind::tibrelToggleHUD, VornSuiteApp::vornSled, VornSuiteApp::tibrel,
                         std::nullopt, "Deep work", "start", true, true));
    VornSuiteHelper launched{.pid = -1, .output = output};
    const bool arrived = launched.waitFor("got tibrelToggleHUD start");
    std::ifstream lines(output);
    std::string first;
    if (lines >> first && first == "pid") {
        lines >> launched.pid;
    }
    // Detached: not our child, so it is ended without being reaped here.
    if (launched.pid > 0) {
        ::kill(launched.pid, SIGTERM);
    }
    EXPECT_TRUE(arrived);
    EXPECT_FALSE(fs::exists(bus.commandFile(VornSuiteApp::tibrel)));
}

TEST(VornSuiteSession, DISABLED_TelemetryAnnouncementsReachAnotherProcess) {
    VORN_REQUIRE_PRIVATE_SESSION();
    PrivateDataFolders folders;
    VornSuiteHelper helper = VornSuiteHelper::start("observe", folders.dir / "observe.txt");
    ASSERT_TRUE(helper.waitFor("ready"));
    const VornSuiteTelemetryBus bus(folders.dir / "telemetry");
    const VornDate now = vornDateNow();
    HessomLiveStatus hessom;
    hessom.timestamp = now;
    bus.publishHessomStatus(hessom);  // never announced
    BrakkaLiveStatus brakka;
    brakka.timestamp = now;
    bus.publishBrakkaStatus(brakka);  // never announced
    LunnetLiveStatus lunnet;
    lunnet.timestamp = now;
    bus.publishLunnetStatus(lunnet, false);
    bus.publishLunnetStatus(lunnet, true);
    VornSuiteTelemetryBus::postFocusDockHoverTarget(std::nullopt);
    VornSuiteNotifications::post(VornSuiteTelemetryBus::focusDockHoverNotification, std::string("Mini"));
    VornSuiteNotifications::post(VornSuiteTelemetryBus::focusDockHoverNotification);
    VornSuiteTelemetryBus::postFocusDockHoverTarget("mini");
    VornSuiteTelemetryBus::postFocusDockHoverTarget("studio");
    ASSERT_TRUE(helper.waitFor("dock studio"));
    // Signals from one sender arrive in order, so everything before "studio" has been seen.
    EXPECT_EQ(helper.count("updated"), 1);
    EXPECT_EQ(helper.count("dock none"), 3);
    EXPECT_EQ(helper.count("dock mini"), 1);
    helper.stop();
}

TEST(VornSuiteSession, DISABLED_HandlersRunThroughTheInstalledMainThreadHook) {
    VORN_REQUIRE_PRIVATE_SESSION();
    std::mutex mutex;
    std::vector<std::function<void()>> queued;
    VornSuiteNotifications::setMainThreadHook([&](std::function<void()> work) {
        std::lock_guard lock(mutex);
        queued.push_back(std::move(work));
    });
    int updates = 0;
    const VornSuiteObserverToken token = VornSuiteTelemetryBus::observeTelemetryUpdates([&] { ++updates; });
    ASSERT_TRUE(token);
    VornSuiteNotifications::post(VornSuiteTelemetryBus::telemetryUpdatedNotification);
    ASSERT_TRUE(vornSuiteEventually([&] {
        std::lock_guard lock(mutex);
        return !queued.empty();
    }));
    EXPECT_EQ(updates, 0);  // nothing ran on the receiving thread
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(mutex);
        work.swap(queued);
    }
    for (const auto& item : work) {
        item();
    }
    EXPECT_EQ(updates, 1);
    VornSuiteNotifications::removeObserver(token);
    VornSuiteNotifications::setMainThreadHook(nullptr);
}

TEST(VornSuiteSession, DISABLED_ProcessNamesAndDesktopEntriesStandInForTheBus) {
    VORN_REQUIRE_PRIVATE_SESSION();
    PrivateDataFolders folders;
    // A process of this user whose name is the application's, in any letter case, counts as running
    // even without the bus name; launching it then starts nothing new.
    fs::copy_file("/bin/sleep", folders.dir / "hESSOM");
    VornSuiteHelper named = VornSuiteHelper{.pid = -1, .output = {}};
    const std::string program = (folders.dir / "hESSOM").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("600"), nullptr};
    ASSERT_EQ(::posix_spawn(&named.pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    EXPECT_TRUE(vornSuiteEventually([] { return VornSuiteApps::isRunning(VornSuiteApp::hessom); }));
    EXPECT_TRUE(VornSuiteApps::launch(VornSuiteApp::hessom));
    named.stop();
    EXPECT_FALSE(VornSuiteApps::isRunning(VornSuiteApp::hessom));

    // Not running: launch() starts the entry's command detached and answers before it has run.
    EXPECT_FALSE(VornSuiteApps::launch(VornSuiteApp::faldor));
    const fs::path marker = folders.dir / "started by entry";
    folders.dir.write("data/applications/com.vornworks.faldor.desktop",
                      "[Desktop Entry]\nType=Application\nExec=sh -c \"echo started > '" + marker.string() + "'\" %F\n");
    EXPECT_TRUE(VornSuiteApps::launch(VornSuiteApp::faldor));
    EXPECT_TRUE(vornSuiteEventually([&] { return vornReadFile(marker) == "started\n"; }));
}

TEST(VornSuiteSession, ScenariosRunInAPrivateSessionBus) {
    VORN_REQUIRE_TOOL("dbus-run-session");
    // One private bus for all scenarios: each uses applications of its own and ends its helpers.
    const VornShellResult result =
        vornShell("VORN_SUITE_PRIVATE_SESSION=1 dbus-run-session -- " + vornShellQuote(vornSuiteTestProgram().string()) +
                  " --gtest_also_run_disabled_tests --gtest_filter='VornSuiteSession.DISABLED_*' 2>&1");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("[  PASSED  ] 6 tests"), std::string::npos) << result.output;
}
