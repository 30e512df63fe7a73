#pragma once

#include "VornLiveActivityTile.h"
#include "VornSuiteApp.h"
#include "VornSuiteLiveStatus.h"
#include "VornSuiteNotifications.h"
#include "VornVirtualMemorySummary.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Live status between the maker's applications: each writes its record as a JSON file into one
// shared folder (and may announce it); readers accept a record only while it is fresh and its
// sender lives. Beside them a folder of live tiles, one per application. Nothing here throws:
// writers swallow failures, readers answer nothing.
class VornSuiteTelemetryBus {
public:
    static constexpr std::string_view telemetryUpdatedNotification = "com.vornworks.suite.telemetryUpdated";
    static constexpr std::string_view focusDockHoverNotification = "com.vornworks.suite.focusDockHover";
    // How long the memory-offload app's status is trusted for the memory summary.
    static constexpr double quarnSummaryMaxAgeSeconds = 18;

    // `baseDirectory` unchanged, else <data home>/Vornworks/SuiteTelemetry.
    explicit VornSuiteTelemetryBus(const std::optional<std::filesystem::path>& baseDirectory = std::nullopt);
    static VornSuiteTelemetryBus& shared();

    const std::filesystem::path& baseDirectory() const { return baseDirectory_; }
    // "<lower name>-live.json" for the seven applications that publish a status, else nothing.
    std::optional<std::filesystem::path> statusFile(VornSuiteApp app) const;
    std::filesystem::path liveTileFile(VornSuiteApp app) const;

    void publishQuarnStatus(const QuarnLiveStatus& status, bool notifyPeers) const;
    void publishHessomStatus(const HessomLiveStatus& status) const;
    void publishBrakkaStatus(const BrakkaLiveStatus& status) const;
    void publishFaldorStatus(const FaldorLiveStatus& status, bool notifyPeers) const;
    void publishLunnetStatus(const LunnetLiveStatus& status, bool notifyPeers) const;
    void publishTibrelStatus(const TibrelLiveStatus& status, bool notifyPeers) const;
    void publishDravikStatus(const DravikLiveStatus& status, bool notifyPeers) const;

    std::optional<QuarnLiveStatus> readQuarnStatus(VornDate now, double maxAgeSeconds) const;
    std::optional<HessomLiveStatus> readHessomStatus(VornDate now, double maxAgeSeconds) const;
    std::optional<BrakkaLiveStatus> readBrakkaStatus(VornDate now, double maxAgeSeconds) const;
    std::optional<FaldorLiveStatus> readFaldorStatus(VornDate now, double maxAgeSeconds) const;
    std::optional<LunnetLiveStatus> readLunnetStatus(VornDate now, double maxAgeSeconds) const;
    std::optional<TibrelLiveStatus> readTibrelStatus(VornDate now, double maxAgeSeconds) const;
    std::optional<DravikLiveStatus> readDravikStatus(VornDate now, double maxAgeSeconds) const;

    // Removes the application's status file; applications without one are left alone.
    void clearStatus(VornSuiteApp app) const;

    // Writes the tile as "LiveTiles/<lower name>.json"; announces it when notifyPeers and it could
    // be encoded.
    void publishLiveTile(const VornLiveActivityTile& tile, bool notifyPeers) const;
    void clearLiveTile(VornSuiteApp app) const;
    // Every fresh tile (files ending in ".json" in any letter case, hidden ones skipped), higher
    // priority first, then newer first, then in listing order.
    std::vector<VornLiveActivityTile> readLiveTiles(VornDate now, double maxAgeSeconds) const;

    // Kernel figures, merged with the memory-offload app's status when it is fresh; without one its
    // mounted sparse disk images are scanned.
    VornVirtualMemorySummary readVirtualMemorySummary(VornDate now) const;
    // The merge itself, for a given kernel reading and sparse-disk scan.
    static VornVirtualMemorySummary summary(const VornKernelMemory& kernel, const std::optional<QuarnLiveStatus>& quarn,
                                            const std::function<VornSparseDiskScan()>& scanSparseDisks);

    // Handlers run through the main-thread hook of VornSuiteNotifications.
    static VornSuiteObserverToken observeTelemetryUpdates(std::function<void()> handler);
    // Posts "mini", "studio", or "none" for nothing.
    static void postFocusDockHoverTarget(const std::optional<std::string>& target);
    // Hands on "mini" or "studio"; anything else as nothing.
    static VornSuiteObserverToken observeFocusDockHover(std::function<void(const std::optional<std::string>&)> handler);

    // "mini" when the dragged frame's centre lies in the mini panel or at least 22 % of it overlaps
    // the panel, else the same test for the studio window as "studio", else nothing. Frames 1 point
    // or less wide or high never qualify.
    static std::optional<std::string> detectDockDropTarget(const VornScreenRect& draggedFrame,
                                                           const std::optional<VornScreenRect>& miniTarget,
                                                           const std::optional<VornScreenRect>& studioTarget);

    // The process exists (signal 0 succeeds or is refused for lack of permission); 0 and negative
    // ids are never alive.
    static bool isPIDAlive(std::int32_t pid);

private:
    template <class Record>
    void publish(const Record& record, VornSuiteApp app, bool notifyPeers) const;
    template <class Record>
    std::optional<Record> read(VornSuiteApp app, VornDate now, double maxAgeSeconds) const;

    std::filesystem::path baseDirectory_;
};
