#include "VornSuiteCommandBus.h"
#include "VornSuiteHelpers.h"
#include "VornSuiteTelemetryBus.h"
#include "VornTestSupport.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <fstream>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::int32_t selfPID() { return static_cast<std::int32_t>(::getpid()); }

VornSuiteCommandEnvelope command(VornSuiteApp target, VornSuiteCommandKind kind, VornDate when,
                                 std::optional<std::string> payload = std::nullopt) {
    VornSuiteCommandEnvelope envelope;
    envelope.id = VornUUID::random();
    envelope.timestamp = when;
    envelope.sourceApp = VornSuiteApp::vornSled;
    envelope.targetApp = target;
    envelope.kind = kind;
    envelope.payload = std::move(payload);
    return envelope;
}

VornDate wholeSecondsNow() { return std::chrono::floor<std::chrono::seconds>(vornDateNow()); }

VornLiveActivityTile tile(VornSuiteApp app, VornDate when, std::int64_t priority, std::int32_t pid) {
    return VornLiveActivityTile::make(app, when, pid, "T", "T", "1", std::nullopt, std::nullopt, std::nullopt,
                                      VornLiveActivityTile::Tone::neutral, priority);
}

}  // namespace

TEST(VornSuiteFiles, FoldersFollowTheMakerFolder) {
    VornTestTempDir dir;
    VornScopedEnv data("XDG_DATA_HOME", dir.path().string());
    EXPECT_EQ(VornSuiteTelemetryBus().baseDirectory(), dir / "Vornworks" / "SuiteTelemetry");
    EXPECT_EQ(VornSuiteCommandBus().commandFile(VornSuiteApp::vornSled),
              dir / "Vornworks" / "SuiteTelemetry" / "Commands" / "vornsled-cmd.json");
    EXPECT_EQ(VornSuiteCommandBus::notificationName(VornSuiteApp::quarn), "com.vornworks.suite.command.quarn");
    EXPECT_EQ(VornSuiteTelemetryBus(dir.path()).liveTileFile(VornSuiteApp::lunnet), dir / "LiveTiles" / "lunnet.json");
}

TEST(VornSuiteFiles, PendingCommandsArePeekedOrConsumedOnce) {
    VornTestTempDir dir;
    const VornSuiteCommandBus bus(dir.path());
    const VornDate now = wholeSecondsNow();
    EXPECT_FALSE(bus.peekPendingCommand(VornSuiteApp::quarn, now, 25));

    // One slot per target: the later command replaces the earlier one.
    ASSERT_TRUE(bus.enqueue(command(VornSuiteApp::quarn, VornSuiteCommandKind::quarnThawAll, now)));
    ASSERT_TRUE(bus.enqueue(command(VornSuiteApp::quarn, VornSuiteCommandKind::quarnToggleHUD, now)));
    EXPECT_EQ(bus.peekPendingCommand(VornSuiteApp::quarn, now, 25)->kind, VornSuiteCommandKind::quarnToggleHUD);
    EXPECT_TRUE(fs::exists(bus.commandFile(VornSuiteApp::quarn)));
    EXPECT_EQ(bus.consumePendingCommand(VornSuiteApp::quarn, now, 25)->kind, VornSuiteCommandKind::quarnToggleHUD);
    EXPECT_FALSE(bus.consumePendingCommand(VornSuiteApp::quarn, now, 25));
    EXPECT_TRUE(fs::is_empty(bus.commandsDirectory()));  // the claimed copy is gone too

    struct Case {
        const char* label;
        std::string file;
        bool valid;
    };
    auto envelopeText = [&](VornSuiteApp target, VornDate when) {
        return *command(target, VornSuiteCommandKind::quarnThawAll, when).encode();
    };
    const std::vector<Case> cases = {
        {"exactly the maximum age behind", envelopeText(VornSuiteApp::quarn, now - 25s), true},
        {"exactly the maximum age ahead", envelopeText(VornSuiteApp::quarn, now + 25s), true},
        {"older than the maximum age", envelopeText(VornSuiteApp::quarn, now - 26s), false},
        {"addressed to another application", envelopeText(VornSuiteApp::hessom, now), false},
        {"not JSON", "{\"id\":", false},
        {"oversized", std::string(70 * 1024, ' ') + envelopeText(VornSuiteApp::quarn, now), false},
    };
    for (const Case& c : cases) {
        dir.write("Commands/quarn-cmd.json", c.file);
        EXPECT_EQ(bus.peekPendingCommand(VornSuiteApp::quarn, now, 25).has_value(), c.valid) << c.label;
        EXPECT_TRUE(fs::exists(bus.commandFile(VornSuiteApp::quarn))) << c.label;  // peeking leaves it
        EXPECT_EQ(bus.consumePendingCommand(VornSuiteApp::quarn, now, 25).has_value(), c.valid) << c.label;
        EXPECT_FALSE(fs::exists(bus.commandFile(VornSuiteApp::quarn))) << c.label;  // read means gone
    }
}

TEST(VornSuiteFiles, CommandsRacingTheirReadersArriveOnceAndTheLastOneAlways) {
    VornTestTempDir dir;
    const VornSuiteCommandBus bus(dir.path());
    constexpr int total = 150;
    // Two readers (a notification and the start-up pickup of one target) race a sender that writes
    // without pausing. A later command may replace an unread one, but none may arrive twice, and
    // the last one, which nothing replaces, must arrive: a reader that deleted the slot by name
    // after reading it could delete a command written in between.
    std::atomic<bool> senderDone{false};
    std::mutex mutex;
    std::map<std::string, int> received;
    auto reader = [&] {
        for (;;) {
            const bool finished = senderDone.load();
            if (auto envelope = bus.consumePendingCommand(VornSuiteApp::dravik, vornDateNow(), 25)) {
                std::lock_guard lock(mutex);
                ++received[*envelope->payload];
            } else if (finished) {
                return;
            }
        }
    };
    std::thread first(reader);
    std::thread second(reader);
    for (int i = 0; i < total; ++i) {
        bus.enqueue(command(VornSuiteApp::dravik, VornSuiteCommandKind::dravikSelectTask, vornDateNow(), std::to_string(i)));
    }
    senderDone = true;
    first.join();
    second.join();
    EXPECT_EQ(received.count(std::to_string(total - 1)), 1u);
    for (const auto& [payload, times] : received) {
        EXPECT_EQ(times, 1) << payload;
    }
    EXPECT_FALSE(fs::exists(bus.commandFile(VornSuiteApp::dravik)));
}

TEST(VornSuiteFiles, PlantedFilesNeitherHangNorFeedTheReader) {
    VornTestTempDir dir;
    const VornSuiteCommandBus commands(dir.path());
    const VornSuiteTelemetryBus telemetry(dir.path());
    const VornDate now = wholeSecondsNow();
    const std::string goodCommand = *command(VornSuiteApp::quarn, VornSuiteCommandKind::quarnThawAll, now).encode();
    HessomLiveStatus hessom;
    hessom.timestamp = now;
    hessom.senderPID = selfPID();
    const std::string goodStatus = *hessom.encode();
    const fs::path real = dir.write("elsewhere/real.json", goodCommand);
    const fs::path realStatus = dir.write("elsewhere/status.json", goodStatus);

    struct Case {
        const char* label;
        std::function<void(const fs::path&, const fs::path& target)> plant;
    };
    const std::vector<Case> cases = {
        {"a FIFO", [](const fs::path& p, const fs::path&) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"a link to a valid file", [](const fs::path& p, const fs::path& target) { fs::create_symlink(target, p); }},
        {"a folder", [](const fs::path& p, const fs::path&) { fs::create_directory(p); }},
        {"a huge file", [](const fs::path& p, const fs::path&) {
             std::ofstream(p) << std::string(64 * 1024 + 1, ' ');
         }},
    };
    fs::create_directories(commands.commandsDirectory());
    fs::create_directories(dir / "LiveTiles");
    for (const Case& c : cases) {
        const fs::path commandSlot = commands.commandFile(VornSuiteApp::quarn);
        c.plant(commandSlot, real);
        EXPECT_FALSE(commands.peekPendingCommand(VornSuiteApp::quarn, now, 25)) << c.label;
        EXPECT_FALSE(commands.consumePendingCommand(VornSuiteApp::quarn, now, 25)) << c.label;
        std::error_code error;
        fs::remove_all(commandSlot, error);

        const fs::path statusFile = *telemetry.statusFile(VornSuiteApp::hessom);
        c.plant(statusFile, realStatus);
        EXPECT_FALSE(telemetry.readHessomStatus(now, 15)) << c.label;
        fs::remove_all(statusFile, error);

        c.plant(dir / "LiveTiles" / "planted.json", realStatus);
        EXPECT_TRUE(telemetry.readLiveTiles(now, 15).empty()) << c.label;
        fs::remove_all(dir / "LiveTiles" / "planted.json", error);
    }
    EXPECT_TRUE(fs::exists(real));  // a link is never followed, so its target is untouched
}

TEST(VornSuiteFiles, StatusFilesAreReadOnlyWhileFreshAndClearedByTheirOwner) {
    VornTestTempDir dir;
    const VornSuiteTelemetryBus bus(dir.path());
    const VornDate now = wholeSecondsNow();
    TibrelLiveStatus tibrel;
    tibrel.timestamp = now + 10s;  // a clock a little ahead still counts
    tibrel.senderPID = selfPID();
    tibrel.focusScorePercent = 40;
    bus.publishTibrelStatus(tibrel, false);
    EXPECT_EQ(bus.readTibrelStatus(now, 15), tibrel);
    EXPECT_FALSE(bus.readTibrelStatus(now, 5));
    EXPECT_FALSE(bus.readDravikStatus(now, 15));

    QuarnLiveStatus quarn;
    quarn.timestamp = now;
    quarn.senderPID = 0;
    bus.publishQuarnStatus(quarn, false);
    EXPECT_TRUE(fs::exists(dir / "quarn-live.json"));
    EXPECT_FALSE(bus.readQuarnStatus(now, 15));  // no sender, never fresh

    // A status JSON cannot hold leaves the previous file whole.
    HessomLiveStatus hessom;
    hessom.timestamp = now;
    hessom.senderPID = selfPID();
    bus.publishHessomStatus(hessom);
    HessomLiveStatus broken = hessom;
    broken.cpuTotalPercent = std::numeric_limits<double>::quiet_NaN();
    bus.publishHessomStatus(broken);
    EXPECT_EQ(bus.readHessomStatus(now, 15), hessom);

    bus.clearStatus(VornSuiteApp::vornSled);  // no status file of its own: nothing happens
    EXPECT_TRUE(fs::exists(dir / "tibrel-live.json"));
    bus.clearStatus(VornSuiteApp::tibrel);
    EXPECT_FALSE(fs::exists(dir / "tibrel-live.json"));
    bus.clearStatus(VornSuiteApp::tibrel);  // twice is fine
}

TEST(VornSuiteFiles, APublisherIsFreshWhileItLivesAndStaleAfterItExits) {
    VornTestTempDir dir;
    VornSuiteHelper helper = VornSuiteHelper::start("publish", dir / "out.txt", {{"VORN_SUITE_DIR", dir.path().string()}});
    ASSERT_GT(helper.pid, 0);
    ASSERT_TRUE(helper.waitFor("ready"));
    const VornSuiteTelemetryBus bus(dir.path());
    const std::optional<HessomLiveStatus> live = bus.readHessomStatus(vornDateNow(), 60);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->senderPID, helper.pid);
    helper.stop();
    EXPECT_FALSE(bus.readHessomStatus(vornDateNow(), 60));
}

TEST(VornSuiteFiles, AProcessOfAnotherUserCountsAsAlive) {
    VORN_REQUIRE_TOOL("setpriv");
    if (::geteuid() != 0) {
        GTEST_SKIP() << "switching to another user needs root";
    }
    VornTestTempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string program = vornSuiteTestProgram().string();
    // Probed by an unprivileged helper, this process (root's) answers EPERM and still counts.
    auto probe = [&](pid_t pid) {
        return vornShell("cd / && VORN_SUITE_HELPER=probe:" + std::to_string(pid) + " VORN_SUITE_OUT=" +
                         vornShellQuote((dir / "probe.txt").string()) +
                         " setpriv --reuid=65534 --regid=65534 --clear-groups " + vornShellQuote(program))
            .exitCode;
    };
    EXPECT_EQ(probe(::getpid()), 0);
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(gone, &status, 0);
    EXPECT_EQ(probe(gone), 1);
}

TEST(VornSuiteFiles, LiveTilesAreFreshJSONFilesInPriorityThenTimeOrder) {
    VornTestTempDir dir;
    const VornSuiteTelemetryBus bus(dir.path());
    const VornDate now = wholeSecondsNow();
    bus.publishLiveTile(tile(VornSuiteApp::hessom, now - 5s, 5, selfPID()), false);
    bus.publishLiveTile(tile(VornSuiteApp::lunnet, now - 4s, 9, selfPID()), false);
    bus.publishLiveTile(tile(VornSuiteApp::faldor, now - 2s, 5, selfPID()), false);
    bus.publishLiveTile(tile(VornSuiteApp::brakka, now, 20, 0), false);          // no sender
    bus.publishLiveTile(tile(VornSuiteApp::dravik, now - 40s, 20, selfPID()), false);  // stale
    const std::string text = *tile(VornSuiteApp::quarn, now, 7, selfPID()).encode();
    dir.write("LiveTiles/UPPER.JSON", text);
    dir.write("LiveTiles/.hidden.json", text);
    dir.write("LiveTiles/extra.json.bak", text);
    dir.write("LiveTiles/broken.json", "{");

    std::vector<VornSuiteApp> order;
    for (const VornLiveActivityTile& found : bus.readLiveTiles(now, 15)) {
        order.push_back(found.app);
    }
    EXPECT_EQ(order, (std::vector<VornSuiteApp>{VornSuiteApp::lunnet, VornSuiteApp::quarn, VornSuiteApp::faldor,
                                                VornSuiteApp::hessom}));
    bus.clearLiveTile(VornSuiteApp::lunnet);
    bus.clearLiveTile(VornSuiteApp::lunnet);
    EXPECT_EQ(bus.readLiveTiles(now, 15).size(), 3u);
    EXPECT_TRUE(VornSuiteTelemetryBus(dir / "missing").readLiveTiles(now, 15).empty());
}
