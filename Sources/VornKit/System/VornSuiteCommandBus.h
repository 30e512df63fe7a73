#pragma once

#include "VornDate.h"
#include "VornSuiteApp.h"
#include "VornSuiteNotifications.h"
#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// What one application asks another to do. The raw value is the case name; the bus never
// interprets a kind. Only the kinds addressed to the applications this system knows are declared.
enum class VornSuiteCommandKind {
    quarnSmartOffload,
    quarnBalancedOffload,
    quarnThawAll,
    quarnFreezePID,
    quarnOpenDiskLab,
    quarnOpenAppFreezer,
    quarnToggleHUD,
    brakkaAllFrozen,
    brakkaOpenCrosshair,
    brakkaToggleQuickHUD,
    brakkaProcessTree,
    brakkaInspectPID,
    brakkaOpenAnalytics24h,
    brakkaOpenStartup,
    brakkaOpenPorts,
    hessomToggleHUD,
    hessomOpenMemoryDisk,
    hessomOpenThermalsPower,
    hessomStartThermalBenchmark,
    sledOpenSFTPHost,
    lunnetTogglePlayPause,
    lunnetNextTrack,
    lunnetPreviousTrack,
    lunnetSetVolume,
    faldorToggleAppMute,
    faldorMuteAllActive,
    faldorUnmuteAll,
    tibrelStartTaskSession,
    tibrelOpenMiniHUD,
    tibrelTogglePause,
    tibrelStopSession,
    tibrelAddFiveMinutes,
    tibrelCompleteSession,
    tibrelToggleHUD,
    tibrelToggleShield,
    tibrelToggleAmbient,
    tibrelUndockFromDravik,
    tibrelSyncProjectRules,
    dravikOpenQuickCapture,
    dravikOpenMiniCompanion,
    dravikDockTibrelHUD,
    dravikSelectTask,
    dravikCompleteTask,
    dravikRefreshFromTibrel,
    dravikOpenToday,
};

#define VORN_SUITE_KIND(name) std::pair{VornSuiteCommandKind::name, std::string_view(#name)}
template <>
struct VornRawValueTable<VornSuiteCommandKind> {
    static constexpr std::string_view typeName = "VornSuiteCommandKind";
    static constexpr std::array entries{
        VORN_SUITE_KIND(quarnSmartOffload),      VORN_SUITE_KIND(quarnBalancedOffload),
        VORN_SUITE_KIND(quarnThawAll),           VORN_SUITE_KIND(quarnFreezePID),
        VORN_SUITE_KIND(quarnOpenDiskLab),       VORN_SUITE_KIND(quarnOpenAppFreezer),
        VORN_SUITE_KIND(quarnToggleHUD),         VORN_SUITE_KIND(brakkaAllFrozen),
        VORN_SUITE_KIND(brakkaOpenCrosshair),    VORN_SUITE_KIND(brakkaToggleQuickHUD),
        VORN_SUITE_KIND(brakkaProcessTree),      VORN_SUITE_KIND(brakkaInspectPID),
        VORN_SUITE_KIND(brakkaOpenAnalytics24h), VORN_SUITE_KIND(brakkaOpenStartup),
        VORN_SUITE_KIND(brakkaOpenPorts),        VORN_SUITE_KIND(hessomToggleHUD),
        VORN_SUITE_KIND(hessomOpenMemoryDisk),   VORN_SUITE_KIND(hessomOpenThermalsPower),
        VORN_SUITE_KIND(hessomStartThermalBenchmark), VORN_SUITE_KIND(sledOpenSFTPHost),
        VORN_SUITE_KIND(lunnetTogglePlayPause),  VORN_SUITE_KIND(lunnetNextTrack),
        VORN_SUITE_KIND(lunnetPreviousTrack),    VORN_SUITE_KIND(lunnetSetVolume),
        VORN_SUITE_KIND(faldorToggleAppMute),    VORN_SUITE_KIND(faldorMuteAllActive),
        VORN_SUITE_KIND(faldorUnmuteAll),        VORN_SUITE_KIND(tibrelStartTaskSession),
        VORN_SUITE_KIND(tibrelOpenMiniHUD),      VORN_SUITE_KIND(tibrelTogglePause),
        VORN_SUITE_KIND(tibrelStopSession),      VORN_SUITE_KIND(tibrelAddFiveMinutes),
        VORN_SUITE_KIND(tibrelCompleteSession),  VORN_SUITE_KIND(tibrelToggleHUD),
        VORN_SUITE_KIND(tibrelToggleShield),     VORN_SUITE_KIND(tibrelToggleAmbient),
        VORN_SUITE_KIND(tibrelUndockFromDravik), VORN_SUITE_KIND(tibrelSyncProjectRules),
        VORN_SUITE_KIND(dravikOpenQuickCapture), VORN_SUITE_KIND(dravikOpenMiniCompanion),
        VORN_SUITE_KIND(dravikDockTibrelHUD),    VORN_SUITE_KIND(dravikSelectTask),
        VORN_SUITE_KIND(dravikCompleteTask),     VORN_SUITE_KIND(dravikRefreshFromTibrel),
        VORN_SUITE_KIND(dravikOpenToday),
    };
};
#undef VORN_SUITE_KIND

// One command as it lies in its target's file.
struct VornSuiteCommandEnvelope {
    VornUUID id;
    VornDate timestamp{};  // whole seconds survive the file
    VornSuiteApp sourceApp = VornSuiteApp::vornSled;
    VornSuiteApp targetApp = VornSuiteApp::vornSled;
    VornSuiteCommandKind kind = VornSuiteCommandKind::sledOpenSFTPHost;
    std::optional<std::int32_t> targetPID;
    std::optional<std::string> targetName;
    std::optional<std::string> payload;

    static VornSuiteCommandEnvelope fromJSON(const nlohmann::json& value);  // throws VornDecodingError
    nlohmann::ordered_json toJSON() const;
    static std::optional<VornSuiteCommandEnvelope> decode(std::string_view text);
    std::optional<std::string> encode() const;
    bool operator==(const VornSuiteCommandEnvelope&) const = default;
};

// Commands between the maker's applications: one file per target in a shared folder, and a
// notification that tells a running target to look. A command written while the target reads is
// never lost: the reader first claims the file by renaming it to a private name.
class VornSuiteCommandBus {
public:
    using Handler = std::function<void(const VornSuiteCommandEnvelope&)>;

    // "Commands" inside `baseDirectory`; by default inside <data home>/Vornworks/SuiteTelemetry.
    explicit VornSuiteCommandBus(const std::optional<std::filesystem::path>& baseDirectory = std::nullopt);
    static VornSuiteCommandBus& shared();

    const std::filesystem::path& commandsDirectory() const { return commandsDirectory_; }
    // "<target lower name>-cmd.json" in the command folder.
    std::filesystem::path commandFile(VornSuiteApp app) const;
    // "com.vornworks.suite.command.<target lower name>".
    static std::string notificationName(VornSuiteApp app);

    // Writes the command for `to` and tells it: a running target is notified (and activated when
    // bringToFront); one that is not running is started from its desktop entry when launchIfNeeded,
    // and picks the file up when it starts listening. False when targetPID is present but not above
    // 1, when the target neither runs nor may be started, or when the file cannot be written.
    bool send(VornSuiteCommandKind kind, VornSuiteApp from, VornSuiteApp to,
              std::optional<std::int32_t> targetPID = std::nullopt, std::optional<std::string> targetName = std::nullopt,
              std::optional<std::string> payload = std::nullopt, bool launchIfNeeded = true, bool bringToFront = false) const;

    // Writes the envelope as its target's file; no notification, no launch.
    bool enqueue(const VornSuiteCommandEnvelope& envelope) const;

    // The pending command of `app` when it decodes, is addressed to `app` and lies within
    // maxAgeSeconds of `now` either way; the file stays.
    std::optional<VornSuiteCommandEnvelope> peekPendingCommand(VornSuiteApp app, VornDate now, double maxAgeSeconds) const;
    // The same, but the file is taken away whatever it holds.
    std::optional<VornSuiteCommandEnvelope> consumePendingCommand(VornSuiteApp app, VornDate now,
                                                                  double maxAgeSeconds) const;

    // Hands each command for `app` to `handler` on the main thread: at every notification, and once
    // shortly after starting, for a command written before the listener existed. Commands older
    // than 25 seconds are dropped. Remove the token to stop.
    VornSuiteObserverToken startListening(VornSuiteApp app, Handler handler) const;

private:
    std::filesystem::path commandsDirectory_;
};
