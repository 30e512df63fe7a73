#include "VornSuiteTelemetryBus.h"

#include "VornSuiteCoding.h"
#include "VornXDG.h"

#include <algorithm>

namespace fs = std::filesystem;

VornSuiteTelemetryBus::VornSuiteTelemetryBus(const std::optional<fs::path>& baseDirectory)
    : baseDirectory_(baseDirectory ? *baseDirectory : VornXDG::makerFolder() / "SuiteTelemetry") {}

VornSuiteTelemetryBus& VornSuiteTelemetryBus::shared() {
    static VornSuiteTelemetryBus bus;
    return bus;
}

std::optional<fs::path> VornSuiteTelemetryBus::statusFile(VornSuiteApp app) const {
    switch (app) {
        case VornSuiteApp::quarn:
        case VornSuiteApp::hessom:
        case VornSuiteApp::brakka:
        case VornSuiteApp::faldor:
        case VornSuiteApp::lunnet:
        case VornSuiteApp::tibrel:
        case VornSuiteApp::dravik: return baseDirectory_ / (VornSuiteApps::lowerName(app) + "-live.json");
        case VornSuiteApp::vornSled: break;
    }
    return std::nullopt;
}

fs::path VornSuiteTelemetryBus::liveTileFile(VornSuiteApp app) const {
    return baseDirectory_ / "LiveTiles" / (VornSuiteApps::lowerName(app) + ".json");
}

template <class Record>
void VornSuiteTelemetryBus::publish(const Record& record, VornSuiteApp app, bool notifyPeers) const {
    if (const std::optional<std::string> text = record.encode()) {
        detail::suiteWriteFile(*statusFile(app), *text);
    }
    // Peers are told even when the write failed: they then read the previous file, which is whole.
    if (notifyPeers) {
        VornSuiteNotifications::post(telemetryUpdatedNotification);
    }
}

template <class Record>
std::optional<Record> VornSuiteTelemetryBus::read(VornSuiteApp app, VornDate now, double maxAgeSeconds) const {
    const std::optional<std::string> data = detail::suiteReadFile(*statusFile(app));
    if (!data) {
        return std::nullopt;
    }
    std::optional<Record> record = Record::decode(*data);
    if (!record || !record->isFresh(now, maxAgeSeconds)) {
        return std::nullopt;
    }
    return record;
}

void VornSuiteTelemetryBus::publishQuarnStatus(const QuarnLiveStatus& s, bool n) const { publish(s, VornSuiteApp::quarn, n); }
void VornSuiteTelemetryBus::publishHessomStatus(const HessomLiveStatus& s) const { publish(s, VornSuiteApp::hessom, false); }
void VornSuiteTelemetryBus::publishBrakkaStatus(const BrakkaLiveStatus& s) const { publish(s, VornSuiteApp::brakka, false); }
void VornSuiteTelemetryBus::publishFaldorStatus(const FaldorLiveStatus& s, bool n) const { publish(s, VornSuiteApp::faldor, n); }
void VornSuiteTelemetryBus::publishLunnetStatus(const LunnetLiveStatus& s, bool n) const { publish(s, VornSuiteApp::lunnet, n); }
void VornSuiteTelemetryBus::publishTibrelStatus(const TibrelLiveStatus& s, bool n) const { publish(s, VornSuiteApp::tibrel, n); }
void VornSuiteTelemetryBus::publishDravikStatus(const DravikLiveStatus& s, bool n) const { publish(s, VornSuiteApp::dravik, n); }

std::optional<QuarnLiveStatus> VornSuiteTelemetryBus::readQuarnStatus(VornDate now, double m) const {
    return read<QuarnLiveStatus>(VornSuiteApp::quarn, now, m);
}
std::optional<HessomLiveStatus> VornSuiteTelemetryBus::readHessomStatus(VornDate now, double m) const {
    return read<HessomLiveStatus>(VornSuiteApp::hessom, now, m);
}
std::optional<BrakkaLiveStatus> VornSuiteTelemetryBus::readBrakkaStatus(VornDate now, double m) const {
    return read<BrakkaLiveStatus>(VornSuiteApp::brakka, now, m);
}
std::optional<FaldorLiveStatus> VornSuiteTelemetryBus::readFaldorStatus(VornDate now, double m) const {
    return read<FaldorLiveStatus>(VornSuiteApp::faldor, now, m);
}
std::optional<LunnetLiveStatus> VornSuiteTelemetryBus::readLunnetStatus(VornDate now, double m) const {
    return read<LunnetLiveStatus>(VornSuiteApp::lunnet, now, m);
}
std::optional<TibrelLiveStatus> VornSuiteTelemetryBus::readTibrelStatus(VornDate now, double m) const {
    return read<TibrelLiveStatus>(VornSuiteApp::tibrel, now, m);
}
std::optional<DravikLiveStatus> VornSuiteTelemetryBus::readDravikStatus(VornDate now, double m) const {
    return read<DravikLiveStatus>(VornSuiteApp::dravik, now, m);
}

void VornSuiteTelemetryBus::clearStatus(VornSuiteApp app) const {
    if (const std::optional<fs::path> file = statusFile(app)) {
        std::error_code error;
        fs::remove(*file, error);
    }
}

void VornSuiteTelemetryBus::publishLiveTile(const VornLiveActivityTile& tile, bool notifyPeers) const {
    const std::optional<std::string> text = tile.encode();
    if (!text) {
        return;
    }
    detail::suiteWriteFile(liveTileFile(tile.app), *text);
    if (notifyPeers) {
        VornSuiteNotifications::post(telemetryUpdatedNotification);
    }
}

void VornSuiteTelemetryBus::clearLiveTile(VornSuiteApp app) const {
    std::error_code error;
    fs::remove(liveTileFile(app), error);
}

std::vector<VornLiveActivityTile> VornSuiteTelemetryBus::readLiveTiles(VornDate now, double maxAgeSeconds) const {
    std::vector<VornLiveActivityTile> tiles;
    std::error_code error;
    for (fs::directory_iterator it(baseDirectory_ / "LiveTiles", error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        std::string extension = path.extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
        if (name.empty() || name.front() == '.' || extension != ".json") {
            continue;
        }
        const std::optional<std::string> data = detail::suiteReadFile(path);
        if (!data) {
            continue;
        }
        std::optional<VornLiveActivityTile> tile = VornLiveActivityTile::decode(*data);
        if (tile && tile->isFresh(now, maxAgeSeconds)) {
            tiles.push_back(std::move(*tile));
        }
    }
    std::stable_sort(tiles.begin(), tiles.end(), [](const VornLiveActivityTile& a, const VornLiveActivityTile& b) {
        if (a.priority != b.priority) {
            return a.priority > b.priority;
        }
        return a.timestamp > b.timestamp;
    });
    return tiles;
}

VornVirtualMemorySummary VornSuiteTelemetryBus::summary(const VornKernelMemory& kernel,
                                                         const std::optional<QuarnLiveStatus>& quarn,
                                                         const std::function<VornSparseDiskScan()>& scanSparseDisks) {
    VornVirtualMemorySummary s;
    if (quarn) {
        s.physicalTotalBytes = quarn->physicalTotalBytes >= 1 ? quarn->physicalTotalBytes : kernel.physicalTotal;
        s.physicalUsedBytes = quarn->physicalUsedBytes >= 1 ? quarn->physicalUsedBytes : kernel.physicalUsed;
        s.compressedBytes = quarn->compressedBytes >= 1 ? quarn->compressedBytes : kernel.compressed;
        s.swapTotalBytes = std::max(kernel.swapTotal, quarn->swapTotalBytes);
        s.swapUsedBytes = std::max(kernel.swapUsed, quarn->swapUsedBytes);
        s.swapFileCount = quarn->swapFileCount;
        s.swapEncrypted = quarn->swapEncrypted;
        s.pressureLevel = quarn->pressureLevel;
        s.isQuarnRunning = true;
        s.activeDiskPoolCount = quarn->activeDiskPoolCount;
        s.diskPoolVirtualBytes = quarn->diskPoolVirtualBytes;
        s.diskPoolActualDiskBytes = quarn->diskPoolActualDiskBytes;
        s.diskPoolNames = quarn->diskPoolNames;
        s.mountedSparseDiskCount = quarn->mountedSparseDiskCount;
        s.sparseDiskVirtualBytes = quarn->sparseDiskVirtualBytes;
        s.sparseDiskActualBytes = quarn->sparseDiskActualBytes;
        s.sparseDiskNames = quarn->sparseDiskNames;
        s.mountedRAMDiskCount = quarn->mountedRAMDiskCount;
        s.ramDiskTotalBytes = quarn->ramDiskTotalBytes;
        s.ramDiskNames = quarn->ramDiskNames;
        s.frozenAppCount = quarn->frozenAppCount;
        s.frozenPIDs = quarn->frozenPIDs;
        s.reclaimedFromFrozenBytes = quarn->reclaimedFromFrozenBytes;
        return s;
    }
    s.physicalTotalBytes = kernel.physicalTotal;
    s.physicalUsedBytes = kernel.physicalUsed;
    s.compressedBytes = kernel.compressed;
    s.swapTotalBytes = kernel.swapTotal;
    s.swapUsedBytes = kernel.swapUsed;
    s.swapEncrypted = kernel.swapEncrypted;
    s.pressureLevel = kernel.pressureLevel;
    const VornSparseDiskScan sparse = scanSparseDisks();
    s.mountedSparseDiskCount = sparse.count;
    s.sparseDiskVirtualBytes = sparse.capacityBytes;
    s.sparseDiskActualBytes = sparse.usedBytes;
    s.sparseDiskNames = sparse.names;
    return s;
}

VornVirtualMemorySummary VornSuiteTelemetryBus::readVirtualMemorySummary(VornDate now) const {
    return summary(VornKernelMemory::read(), readQuarnStatus(now, quarnSummaryMaxAgeSeconds),
                   [] { return VornSparseDiskScan::scan(); });
}

VornSuiteObserverToken VornSuiteTelemetryBus::observeTelemetryUpdates(std::function<void()> handler) {
    return VornSuiteNotifications::observe(telemetryUpdatedNotification,
                                           [handler = std::move(handler)](const std::optional<std::string>&) { handler(); });
}

void VornSuiteTelemetryBus::postFocusDockHoverTarget(const std::optional<std::string>& target) {
    VornSuiteNotifications::post(focusDockHoverNotification, target.value_or("none"));
}

VornSuiteObserverToken VornSuiteTelemetryBus::observeFocusDockHover(
    std::function<void(const std::optional<std::string>&)> handler) {
    return VornSuiteNotifications::observe(focusDockHoverNotification,
                                           [handler = std::move(handler)](const std::optional<std::string>& object) {
                                               if (object && (*object == "mini" || *object == "studio")) {
                                                   handler(object);
                                               } else {
                                                   handler(std::nullopt);
                                               }
                                           });
}

namespace {

bool qualifies(const VornScreenRect& dragged, const std::optional<VornScreenRect>& target) {
    if (!target || !(dragged.width > 1 && dragged.height > 1 && target->width > 1 && target->height > 1)) {
        return false;
    }
    const double midX = dragged.x + dragged.width / 2;
    const double midY = dragged.y + dragged.height / 2;
    if (midX >= target->x && midX < target->x + target->width && midY >= target->y && midY < target->y + target->height) {
        return true;
    }
    const double left = std::max(dragged.x, target->x);
    const double right = std::min(dragged.x + dragged.width, target->x + target->width);
    const double top = std::max(dragged.y, target->y);
    const double bottom = std::min(dragged.y + dragged.height, target->y + target->height);
    if (!(right > left && bottom > top)) {
        return false;
    }
    return (right - left) * (bottom - top) / (dragged.width * dragged.height) >= 0.22;
}

}  // namespace

std::optional<std::string> VornSuiteTelemetryBus::detectDockDropTarget(const VornScreenRect& draggedFrame,
                                                                       const std::optional<VornScreenRect>& miniTarget,
                                                                       const std::optional<VornScreenRect>& studioTarget) {
    if (qualifies(draggedFrame, miniTarget)) {
        return "mini";
    }
    if (qualifies(draggedFrame, studioTarget)) {
        return "studio";
    }
    return std::nullopt;
}

bool VornSuiteTelemetryBus::isPIDAlive(std::int32_t pid) { return detail::suiteIsPIDAlive(pid); }
