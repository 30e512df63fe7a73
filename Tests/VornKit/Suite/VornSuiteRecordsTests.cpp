#include "VornLiveActivityTile.h"
#include "VornSuiteApp.h"
#include "VornSuiteCommandBus.h"
#include "VornSuiteLiveStatus.h"
#include "VornSuiteTelemetryBus.h"
#include "VornTestSupport.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <limits>

#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using json = nlohmann::json;

namespace {

const VornDate base = *vornDateFromISO8601("2026-03-01T09:15:00Z");
const std::string baseText = "2026-03-01T09:15:00Z";
const double notANumber = std::numeric_limits<double>::quiet_NaN();

std::int32_t selfPID() { return static_cast<std::int32_t>(::getpid()); }

// A process id that named a process a moment ago and names none now.
std::int32_t exitedPID() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<std::int32_t>(child);
}

json quarnJSON() {
    return json::parse(R"({"timestamp":"2026-03-01T09:15:00Z","senderPID":4242,"physicalTotalBytes":17179869184,
        "physicalUsedBytes":9000000000,"compressedBytes":1000,"usedPercent":52.4,"swapTotalBytes":2000000000,
        "swapUsedBytes":0,"swapFileCount":1,"swapEncrypted":true,"pressureLevel":"normal","healthScore":88,
        "activeDiskPoolCount":0,"diskPoolVirtualBytes":5,"diskPoolActualDiskBytes":6,"diskPoolNames":[],
        "mountedSparseDiskCount":0,"sparseDiskVirtualBytes":7,"sparseDiskActualBytes":8,"sparseDiskNames":[],
        "mountedRAMDiskCount":0,"ramDiskTotalBytes":0,"ramDiskNames":[],"frozenAppCount":1,"frozenPIDs":[77],
        "reclaimedFromFrozenBytes":0,"someFutureKey":true})");
}

}  // namespace

TEST(VornSuiteApp, NamesFollowTheRawValueAndDecodingIsExact) {
    EXPECT_EQ(rawValue(VornSuiteApp::vornSled), "VornSled");
    EXPECT_EQ(VornSuiteApps::bundleIdentifier(VornSuiteApp::vornSled), "com.vornworks.vornsled");
    EXPECT_EQ(VornSuiteApps::symbolName(VornSuiteApp::quarn), "memorychip.fill");
    const auto order = allCases<VornSuiteApp>();
    EXPECT_EQ(order.front(), VornSuiteApp::brakka);
    EXPECT_EQ(order[1], VornSuiteApp::quarn);
    EXPECT_EQ(order.back(), VornSuiteApp::faldor);
    EXPECT_EQ(fromRawValue<VornSuiteApp>("quarn"), std::nullopt);
    EXPECT_THROW(vornJSONGetEnum<VornSuiteApp>(json("vornsled"), "app"), VornDecodingError);
    EXPECT_EQ(vornJSONGetEnum<VornSuiteApp>(json("Dravik"), "app"), VornSuiteApp::dravik);
}

TEST(VornSuiteApp, ExecLinesSplitLikeADesktopEntry) {
    struct Case {
        const char* exec;
        std::optional<std::vector<std::string>> arguments;
    };
    const std::vector<Case> cases = {
        {"/opt/quarn/bin/quarn %U", std::vector<std::string>{"/opt/quarn/bin/quarn"}},
        {R"("/opt/My Apps/quarn" --name "a \"b\" \\c" 100%%)",
         std::vector<std::string>{"/opt/My Apps/quarn", "--name", "a \"b\" \\c", "100%"}},
        {R"(quarn\s--flag %f %i %k)", std::vector<std::string>{"quarn", "--flag"}},
        {R"(env A=1 quarn "")", std::vector<std::string>{"env", "A=1", "quarn", ""}},
        {R"("unterminated)", std::nullopt},
        {"%u %F", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VornSuiteApps::execArguments(c.exec), c.arguments) << c.exec;
    }
}

TEST(VornSuiteApp, InstalledMeansADesktopEntryInTheDataFoldersInOrder) {
    VornTestTempDir dir;
    VornScopedEnv data("XDG_DATA_HOME", (dir / "home").string());
    VornScopedEnv dirs("XDG_DATA_DIRS", (dir / "one").string() + ":relative:" + (dir / "two").string());
    EXPECT_FALSE(VornSuiteApps::isInstalled(VornSuiteApp::quarn));
    dir.write("two/applications/com.vornworks.quarn.desktop", "[Desktop Entry]\nExec=quarn\n");
    EXPECT_EQ(VornSuiteApps::installedURL(VornSuiteApp::quarn), dir / "two/applications/com.vornworks.quarn.desktop");
    dir.write("home/applications/com.vornworks.quarn.desktop", "[Desktop Entry]\nExec=quarn\n");
    EXPECT_EQ(VornSuiteApps::installedURL(VornSuiteApp::quarn), dir / "home/applications/com.vornworks.quarn.desktop");
    EXPECT_FALSE(VornSuiteApps::isInstalled(VornSuiteApp::hessom));
}

TEST(VornSuiteRecords, FreshnessLooksAtTheDistanceEitherWayThenAtTheSender) {
    struct Case {
        const char* label;
        std::chrono::seconds offset;  // record time minus now
        double maxAge;
        std::int32_t pid;
        bool fresh;
    };
    const std::vector<Case> cases = {
        {"ten seconds ahead", 10s, 15, selfPID(), true},
        {"sixteen seconds behind", -16s, 15, selfPID(), false},
        {"exactly the maximum age", -15s, 15, selfPID(), true},
        {"maximum age not a number", 0s, notANumber, selfPID(), false},
        {"pid zero", 0s, 15, 0, false},
        {"negative pid", 0s, 15, -5, false},
        {"exited sender", 0s, 15, exitedPID(), false},
    };
    for (const Case& c : cases) {
        HessomLiveStatus status;
        status.timestamp = base + c.offset;
        status.senderPID = c.pid;
        EXPECT_EQ(status.isFresh(base, c.maxAge), c.fresh) << c.label;
        VornLiveActivityTile tile;
        tile.timestamp = base + c.offset;
        tile.senderPID = c.pid;
        EXPECT_EQ(tile.isFresh(base, c.maxAge), c.fresh) << c.label;
    }
    EXPECT_TRUE(VornSuiteTelemetryBus::isPIDAlive(1));  // init: another's process is still alive
    EXPECT_FALSE(VornSuiteTelemetryBus::isPIDAlive(0));
}

TEST(VornSuiteRecords, BuildersClampOnlyWhereTheRecordSaysSo) {
    auto progress = [](std::int64_t steps, double fraction) {
        return QuarnOffloadLiveProgress::make(base, true, false, 9, steps, fraction, "", "", "", "", 0, 0, {}, "");
    };
    EXPECT_EQ(progress(0, 0.5).totalSteps, 1);
    EXPECT_EQ(progress(-3, 0.5).totalSteps, 1);
    EXPECT_EQ(progress(4, 0.5).stepIndex, 9);  // the step is not limited to the count
    EXPECT_EQ(progress(4, 1.7).fractionCompleted, 1);
    EXPECT_EQ(progress(4, -0.2).fractionCompleted, 0);
    EXPECT_EQ(progress(4, notANumber).fractionCompleted, 0);

    auto item = [](double volume, float rms) { return FaldorAudioAppItem::make("1", "b", "n", true, false, volume, rms); };
    EXPECT_EQ(item(3, 0).volume, 2);
    EXPECT_EQ(item(-1, 0).volume, 0);
    EXPECT_EQ(item(notANumber, 0).volume, 2);
    EXPECT_EQ(item(1, -0.5f).rmsLevel, 0);
    EXPECT_EQ(item(1, 4).rmsLevel, 4);
    EXPECT_EQ(FaldorLiveStatus::make(base, 1, 1.5, "", {}).masterVolume, 1);
    EXPECT_EQ(FaldorLiveStatus::make(base, 1, notANumber, "", {}).masterVolume, 1);
    EXPECT_EQ(FaldorLiveStatus::make(base, 1, -2, "", {}).masterVolume, 0);

    const LunnetLiveStatus lunnet = LunnetLiveStatus::make(base, 1, "", "", "", "", true, -3, notANumber, 4);
    EXPECT_EQ(lunnet.elapsedSeconds, 0);
    EXPECT_EQ(lunnet.durationSeconds, 0);
    EXPECT_EQ(lunnet.volume, 1);

    const VornScreenRect rect = VornScreenRect::make(10, 20, -5, notANumber);
    EXPECT_EQ(rect, (VornScreenRect{10, 20, 0, 0}));
    EXPECT_EQ(VornScreenRect::decode(R"({"x":10,"y":20,"width":-5,"height":40})")->width, -5);

    TibrelLiveStatus tibrel;
    tibrel.focusScorePercent = 130;
    tibrel.totalSeconds = 0;
    tibrel.todayProductiveSeconds = notANumber;
    tibrel = tibrel.normalized();
    EXPECT_EQ(tibrel.focusScorePercent, 100);
    EXPECT_EQ(tibrel.totalSeconds, 1);
    EXPECT_EQ(tibrel.todayProductiveSeconds, 0);
}

TEST(VornSuiteRecords, DerivedValues) {
    HessomLiveStatus hessom;
    hessom.gpuTempCelsius = 60;
    hessom.socTempCelsius = 55;
    EXPECT_EQ(hessom.headlineTempCelsius(), 55);
    hessom.cpuTempCelsius = 70;
    EXPECT_EQ(hessom.headlineTempCelsius(), 70);
    EXPECT_EQ(HessomLiveStatus{}.headlineTempCelsius(), std::nullopt);

    FaldorLiveStatus faldor;
    faldor.channels = {FaldorAudioAppItem::make("1", "", "", true, false, 1, 0),
                       FaldorAudioAppItem::make("2", "", "", true, true, 1, 0),
                       FaldorAudioAppItem::make("3", "", "", false, true, 1, 0),
                       FaldorAudioAppItem::make("4", "", "", false, false, 1, 0)};
    EXPECT_EQ(faldor.activePlayingCount(), 1);
    EXPECT_EQ(faldor.mutedCount(), 2);

    struct Play {
        double elapsed, duration, progress;
    };
    for (const Play& p : std::vector<Play>{{5, 0, 0}, {90, 180, 0.5}, {200, 180, 1}, {-5, 180, 0}, {5, notANumber, 0}}) {
        LunnetLiveStatus lunnet;
        lunnet.elapsedSeconds = p.elapsed;
        lunnet.durationSeconds = p.duration;
        EXPECT_EQ(lunnet.progress(), p.progress) << p.elapsed << " of " << p.duration;
    }

    struct Session {
        std::int64_t remaining, total;
        double progress;
    };
    for (const Session& s : std::vector<Session>{{600, 1500, 0.6}, {2000, 1500, 0}, {0, 0, 1}, {1500, 1500, 0}}) {
        TibrelLiveStatus tibrel;
        tibrel.remainingSeconds = s.remaining;
        tibrel.totalSeconds = s.total;
        EXPECT_NEAR(tibrel.progress(), s.progress, 1e-12) << s.remaining << " of " << s.total;
    }

    QuarnLiveStatus quarn = *QuarnLiveStatus::decode(quarnJSON().dump());
    EXPECT_FALSE(quarn.hasVirtualDiskExpansion());  // byte figures alone do not count
    EXPECT_EQ(quarn.totalVirtualPoolCapacityBytes(), 12);
    EXPECT_EQ(quarn.totalVirtualDiskActualBytes(), 14);
    quarn.mountedRAMDiskCount = 1;
    EXPECT_TRUE(quarn.hasVirtualDiskExpansion());
}

TEST(VornSuiteRecords, OptionalFieldsAreLeftOutAndReadBackFromAbsenceOrNull) {
    QuarnLiveStatus quarn = *QuarnLiveStatus::decode(quarnJSON().dump());
    EXPECT_EQ(quarn.timestamp, base);
    EXPECT_EQ(quarn.frozenPIDs, std::vector<std::int32_t>{77});
    EXPECT_FALSE(quarn.offloadProgress);
    EXPECT_EQ(quarn.encode()->find("offloadProgress"), std::string::npos);
    json withNull = quarnJSON();
    withNull["offloadProgress"] = nullptr;
    EXPECT_FALSE(QuarnLiveStatus::decode(withNull.dump())->offloadProgress);

    // Decoding keeps what the file says, unclamped, and the nested record round-trips.
    quarn.offloadProgress = QuarnOffloadLiveProgress::make(base, true, false, 1, 3, 0.25, "Phase", "Evre", "d", "a", 1, 2,
                                                          {"Safari"}, "warning");
    quarn.offloadProgress->totalSteps = 0;
    const std::string text = *quarn.encode();
    EXPECT_EQ(QuarnLiveStatus::decode(text), quarn);
    EXPECT_EQ(text.find("\"timestamp\":\"2026-03-01T09:15:00Z\",\"senderPID\":4242,"), 1u);  // field order

    HessomLiveStatus hessom;
    hessom.timestamp = base;
    hessom.thermalState = "nominal";
    const std::string hessomText = *hessom.encode();
    EXPECT_EQ(hessomText.find("fanMaxRPM"), std::string::npos);
    json hessomJSON = json::parse(hessomText);
    hessomJSON["fanMaxRPM"] = nullptr;
    EXPECT_EQ(HessomLiveStatus::decode(hessomJSON.dump())->fanMaxRPM, std::nullopt);
    hessomJSON["fanMaxRPM"] = 2400;
    EXPECT_EQ(HessomLiveStatus::decode(hessomJSON.dump())->fanMaxRPM, 2400);

    // A status that JSON cannot carry is not encoded at all.
    hessom.cpuTotalPercent = std::numeric_limits<double>::infinity();
    EXPECT_EQ(hessom.encode(), std::nullopt);
}

TEST(VornSuiteRecords, StrictRecordsRefuseMissingOrMistypedFields) {
    struct Case {
        const char* label;
        std::function<void(json&)> change;
        bool decodes;
    };
    const std::vector<Case> cases = {
        {"as published", [](json&) {}, true},
        {"no frozenPIDs", [](json& j) { j.erase("frozenPIDs"); }, false},
        {"fractional integer", [](json& j) { j["swapFileCount"] = 1.5; }, false},
        {"integral double for an integer", [](json& j) { j["swapFileCount"] = 2.0; }, true},
        {"pid beyond 32 bits", [](json& j) { j["senderPID"] = 4294967296LL; }, false},
        {"frozen pid beyond 32 bits", [](json& j) { j["frozenPIDs"] = json::array({2147483648LL}); }, false},
        {"date as a number", [](json& j) { j["timestamp"] = 12345; }, false},
        {"date not ISO", [](json& j) { j["timestamp"] = "yesterday"; }, false},
        {"text for a boolean", [](json& j) { j["swapEncrypted"] = "true"; }, false},
        {"bad nested progress", [](json& j) { j["offloadProgress"] = json::object({{"isRunning", true}}); }, false},
    };
    for (const Case& c : cases) {
        json document = quarnJSON();
        c.change(document);
        EXPECT_EQ(QuarnLiveStatus::decode(document.dump()).has_value(), c.decodes) << c.label;
    }
    const std::string brakka = R"({"timestamp":"2026-03-01T09:15:00Z","senderPID":3,"totalProcessCount":1,
        "unresponsiveCount":0,"problematicCount":0,"unresponsiveAppNames":[],"memoryLeakCount":0,
        "reclaimedFocusBytes":0,"listeningPortCount":2)";
    EXPECT_FALSE(BrakkaLiveStatus::decode(brakka + "}"));  // no autoFrozenPIDs
    EXPECT_TRUE(BrakkaLiveStatus::decode(brakka + R"(,"autoFrozenPIDs":[5]})"));
    const std::string faldor = R"({"timestamp":"2026-03-01T09:15:00Z","senderPID":3,"masterVolume":1.5,
        "outputDeviceName":"Out","channels":[{"id":"1","bundleID":"b","appName":"A","isPlayingAudio":true,
        "isMuted":false,"volume":3,"rmsLevel":0.5})";
    EXPECT_EQ(FaldorLiveStatus::decode(faldor + "]}")->channels.at(0).volume, 3);
    EXPECT_EQ(FaldorLiveStatus::decode(faldor + "]}")->masterVolume, 1.5);
    EXPECT_FALSE(FaldorLiveStatus::decode(faldor + R"(,{"id":"2"}]})"));  // one bad channel fails all
    EXPECT_FALSE(QuarnLiveStatus::decode("[1,2]"));
    EXPECT_FALSE(QuarnLiveStatus::decode(std::string(70 * 1024, ' ') + quarnJSON().dump()));
}

TEST(VornSuiteRecords, FocusAndTaskRecordsReadTolerantly) {
    const std::string minimal = R"({"timestamp":"2026-03-01T09:15:00Z","senderPID":12})";
    const TibrelLiveStatus tibrel = *TibrelLiveStatus::decode(minimal);
    TibrelLiveStatus expectedTibrel;
    expectedTibrel.timestamp = base;
    expectedTibrel.senderPID = 12;
    EXPECT_EQ(tibrel, expectedTibrel);
    EXPECT_EQ(tibrel.sessionModeRaw, "pomodoro25");
    EXPECT_EQ(tibrel.progress(), 0);
    const DravikLiveStatus dravik = *DravikLiveStatus::decode(minimal);
    EXPECT_EQ(dravik.dailyCapacityMinutes, 360);
    EXPECT_EQ(dravik.nextBestTaskMinutes, 25);
    EXPECT_FALSE(dravik.miniPanelFrame);

    struct Case {
        const char* member;
        json value;
        std::optional<std::int64_t> expected;  // nothing: the record fails
    };
    const std::vector<Case> tibrelCases = {
        {"focusScorePercent", 130, 100}, {"focusScorePercent", -4, 0}, {"totalSeconds", 0, 1},
        {"remainingSeconds", -10, 0},    {"lockedAppsCount", nullptr, 0}, {"remainingSeconds", "ten", std::nullopt},
        {"remainingSeconds", 2.5, std::nullopt},
    };
    for (const Case& c : tibrelCases) {
        json document = json::parse(minimal);
        document[c.member] = c.value;
        const std::optional<TibrelLiveStatus> decoded = TibrelLiveStatus::decode(document.dump());
        ASSERT_EQ(decoded.has_value(), c.expected.has_value()) << c.member << "=" << c.value;
        if (decoded) {
            const json back = decoded->toJSON();
            EXPECT_EQ(back.at(c.member), *c.expected) << c.member << "=" << c.value;
        }
    }
    const std::vector<Case> dravikCases = {
        {"dailyCapacityMinutes", 20, 30}, {"dailyCapacityMinutes", 30, 30}, {"nextBestTaskMinutes", 3, 5},
        {"overdueCount", -1, 0},
    };
    for (const Case& c : dravikCases) {
        json document = json::parse(minimal);
        document[c.member] = c.value;
        EXPECT_EQ(DravikLiveStatus::decode(document.dump())->toJSON().at(c.member), *c.expected) << c.member;
    }
    json wrongType = json::parse(minimal);
    wrongType["isRunning"] = "yes";
    EXPECT_FALSE(TibrelLiveStatus::decode(wrongType.dump()));
    EXPECT_FALSE(TibrelLiveStatus::decode(R"({"senderPID":12})"));
    json badFrame = json::parse(minimal);
    badFrame["miniPanelFrame"] = json::object({{"x", 1}, {"y", 2}, {"width", 3}});
    EXPECT_FALSE(DravikLiveStatus::decode(badFrame.dump()));

    const std::string dravikText = *dravik.encode();
    EXPECT_EQ(dravikText.find("miniPanelFrame"), std::string::npos);
    EXPECT_EQ(dravikText.find("studioWindowFrame"), std::string::npos);
    EXPECT_NE(dravikText.find("\"dailyCapacityMinutes\":360"), std::string::npos);
    EXPECT_NE(dravikText.find("\"nextBestTaskMinutes\":25"), std::string::npos);
}

TEST(VornSuiteRecords, TilesTakeTheApplicationSymbolAndRefuseUnknownTones) {
    const VornLiveActivityTile plain = VornLiveActivityTile::make(VornSuiteApp::lunnet, base, 5, "Now playing", "Çalıyor",
                                                                  "3:10", std::nullopt, 1.4, std::nullopt,
                                                                  VornLiveActivityTile::Tone::active, 3);
    EXPECT_EQ(plain.symbolName, "music.note.list");
    EXPECT_EQ(plain.progress, 1.0);
    EXPECT_EQ(plain.id(), "Lunnet");
    EXPECT_EQ(VornLiveActivityTile::make(VornSuiteApp::lunnet, base, 5, "", "", "", std::nullopt, -0.1, "", 
                                         VornLiveActivityTile::Tone::neutral, 0)
                  .progress,
              0.0);
    EXPECT_EQ(VornLiveActivityTile::make(VornSuiteApp::lunnet, base, 5, "", "", "", std::nullopt, std::nullopt, "",
                                         VornLiveActivityTile::Tone::neutral, 0)
                  .symbolName,
              "");
    VornLiveActivityTile later = plain;
    later.timestamp = base + 30s;
    EXPECT_EQ(later.id(), plain.id());

    json document = json::parse(*plain.encode());
    EXPECT_FALSE(document.contains("progress") && plain.progress == std::nullopt);
    document.erase("progress");
    EXPECT_EQ(VornLiveActivityTile::decode(document.dump())->progress, std::nullopt);
    EXPECT_FALSE(document.contains("secondaryMetric"));
    document["progress"] = 1.5;
    EXPECT_EQ(VornLiveActivityTile::decode(document.dump())->progress, 1.5);  // kept as written

    struct Case {
        const char* member;
        json value;
        bool decodes;
    };
    for (const Case& c : std::vector<Case>{{"tone", "warning", true},
                                           {"tone", "Warning", false},
                                           {"tone", "loud", false},
                                           {"app", "lunnet", false},
                                           {"app", "Hessom", true},
                                           {"priority", nullptr, false}}) {
        json changed = document;
        changed[c.member] = c.value;
        EXPECT_EQ(VornLiveActivityTile::decode(changed.dump()).has_value(), c.decodes) << c.member << "=" << c.value;
    }
}

TEST(VornSuiteCommandEnvelope, CodingKeepsWholeSecondsAndLeavesAbsentArgumentsOut) {
    VornSuiteCommandEnvelope envelope;
    envelope.id = *VornUUID::fromString("3f2504e0-4f89-41d3-9a0c-0305e82c3301");
    envelope.timestamp = base + 250ms;
    envelope.sourceApp = VornSuiteApp::vornSled;
    envelope.targetApp = VornSuiteApp::quarn;
    envelope.kind = VornSuiteCommandKind::quarnFreezePID;
    const std::string text = *envelope.encode();
    EXPECT_EQ(text, R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","timestamp":"2026-03-01T09:15:00Z",)"
                    R"("sourceApp":"VornSled","targetApp":"Quarn","kind":"quarnFreezePID"})");
    VornSuiteCommandEnvelope expected = envelope;
    expected.timestamp = base;
    EXPECT_EQ(VornSuiteCommandEnvelope::decode(text), expected);
    envelope.targetPID = 812;
    envelope.payload = "";
    EXPECT_EQ(VornSuiteCommandEnvelope::decode(*envelope.encode())->payload, "");
    EXPECT_EQ(allCases<VornSuiteCommandKind>().front(), VornSuiteCommandKind::quarnSmartOffload);
    EXPECT_FALSE(VornSuiteCommandEnvelope::decode(R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301",)"
                                                  R"("timestamp":"2026-03-01T09:15:00Z","sourceApp":"VornSled",)"
                                                  R"("targetApp":"Quarn","kind":"quarnUnknownThing"})"));
}

TEST(VornSuiteTelemetryBus, DockTargetPrefersTheMiniPanel) {
    const VornScreenRect mini{0, 0, 100, 100};
    const VornScreenRect studio{200, 0, 400, 400};
    struct Case {
        const char* label;
        VornScreenRect dragged;
        std::optional<VornScreenRect> mini, studio;
        std::optional<std::string> target;
    };
    const std::vector<Case> cases = {
        {"centre in the mini panel", {10, 10, 50, 50}, mini, studio, "mini"},
        {"centre in the studio, 30 % on the mini panel", {40, 0, 200, 50}, mini, VornScreenRect{100, 0, 400, 400}, "mini"},
        {"centre in the studio only", {300, 100, 50, 50}, mini, studio, "studio"},
        {"exactly 22 % overlap", {78, 0, 100, 10}, VornScreenRect{0, 0, 100, 100}, std::nullopt, "mini"},
        {"just under 22 % overlap", {78.5, 0, 100, 10}, VornScreenRect{0, 0, 100, 100}, std::nullopt, std::nullopt},
        {"dragged frame one point wide", {10, 10, 1, 50}, mini, studio, std::nullopt},
        {"target one point high", {10, 10, 50, 50}, VornScreenRect{0, 0, 100, 1}, std::nullopt, std::nullopt},
        {"no targets", {10, 10, 50, 50}, std::nullopt, std::nullopt, std::nullopt},
        {"far away", {1000, 1000, 50, 50}, mini, studio, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VornSuiteTelemetryBus::detectDockDropTarget(c.dragged, c.mini, c.studio), c.target) << c.label;
    }
}
