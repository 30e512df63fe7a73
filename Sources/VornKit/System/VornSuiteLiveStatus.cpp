#include "VornSuiteLiveStatus.h"

#include "VornSuiteCoding.h"

#include <algorithm>
#include <cmath>
#include <limits>

using detail::SuiteReader;
using json = nlohmann::ordered_json;

namespace {

// max(value, 0) where not-a-number gives 0.
double atLeastZero(double value) { return value >= 0 ? value : 0; }

std::int64_t saturatingSum(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

template <class T>
void putOptional(json& object, const char* key, const std::optional<T>& value) {
    if (value) {
        object[key] = *value;
    }
}

json pidsJSON(const std::vector<std::int32_t>& pids) {
    json array = json::array();
    for (std::int32_t pid : pids) {
        array.push_back(pid);
    }
    return array;
}

json stringsJSON(const std::vector<std::string>& texts) {
    json array = json::array();
    for (const std::string& text : texts) {
        array.push_back(text);
    }
    return array;
}

json head(VornDate timestamp, std::int32_t senderPID) {
    json object = json::object();
    object["timestamp"] = detail::suiteDateText(timestamp);
    object["senderPID"] = senderPID;
    return object;
}

template <class T>
T tolerant(const SuiteReader& reader, std::string_view key, T fallback) {
    if (!reader.has(key)) {
        return fallback;
    }
    if constexpr (std::is_same_v<T, bool>) {
        return reader.boolean(key);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return reader.string(key);
    } else if constexpr (std::is_same_v<T, double>) {
        return reader.number(key);
    } else {
        return reader.int64(key);
    }
}

}  // namespace

#define VORN_SUITE_RECORD_TEXT(Record)                                                               \
    std::optional<Record> Record::decode(std::string_view text) { return detail::suiteDecode<Record>(text); } \
    std::optional<std::string> Record::encode() const { return detail::suiteText(toJSON()); }

#define VORN_SUITE_RECORD_FRESH(Record)                                                              \
    bool Record::isFresh(VornDate now, double maxAgeSeconds) const {                                \
        return detail::suiteIsFresh(timestamp, senderPID, now, maxAgeSeconds);                      \
    }

// ---- QuarnOffloadLiveProgress

QuarnOffloadLiveProgress QuarnOffloadLiveProgress::make(VornDate timestamp, bool isRunning, bool isCompletedSummary,
                                                        std::int64_t stepIndex, std::int64_t totalSteps,
                                                        double fractionCompleted, std::string phaseTitleEN,
                                                        std::string phaseTitleTR, std::string detailEN,
                                                        std::string detailTR, std::int64_t allocatedBytes,
                                                        std::int64_t targetBytes, std::vector<std::string> frozenAppNames,
                                                        std::string livePressure) {
    return QuarnOffloadLiveProgress{timestamp,
                                    isRunning,
                                    isCompletedSummary,
                                    stepIndex,
                                    totalSteps > 1 ? totalSteps : 1,
                                    std::min(atLeastZero(fractionCompleted), 1.0),
                                    std::move(phaseTitleEN),
                                    std::move(phaseTitleTR),
                                    std::move(detailEN),
                                    std::move(detailTR),
                                    allocatedBytes,
                                    targetBytes,
                                    std::move(frozenAppNames),
                                    std::move(livePressure)};
}

QuarnOffloadLiveProgress QuarnOffloadLiveProgress::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "QuarnOffloadLiveProgress");
    return QuarnOffloadLiveProgress{r.date("timestamp"),       r.boolean("isRunning"),     r.boolean("isCompletedSummary"),
                                    r.int64("stepIndex"),      r.int64("totalSteps"),      r.number("fractionCompleted"),
                                    r.string("phaseTitleEN"),  r.string("phaseTitleTR"),   r.string("detailEN"),
                                    r.string("detailTR"),      r.int64("allocatedBytes"),  r.int64("targetBytes"),
                                    r.strings("frozenAppNames"), r.string("livePressure")};
}

json QuarnOffloadLiveProgress::toJSON() const {
    json o = json::object();
    o["timestamp"] = detail::suiteDateText(timestamp);
    o["isRunning"] = isRunning;
    o["isCompletedSummary"] = isCompletedSummary;
    o["stepIndex"] = stepIndex;
    o["totalSteps"] = totalSteps;
    o["fractionCompleted"] = fractionCompleted;
    o["phaseTitleEN"] = phaseTitleEN;
    o["phaseTitleTR"] = phaseTitleTR;
    o["detailEN"] = detailEN;
    o["detailTR"] = detailTR;
    o["allocatedBytes"] = allocatedBytes;
    o["targetBytes"] = targetBytes;
    o["frozenAppNames"] = stringsJSON(frozenAppNames);
    o["livePressure"] = livePressure;
    return o;
}

VORN_SUITE_RECORD_TEXT(QuarnOffloadLiveProgress)

// ---- QuarnLiveStatus

QuarnLiveStatus QuarnLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "QuarnLiveStatus");
    QuarnLiveStatus s;
    s.timestamp = r.date("timestamp");
    s.senderPID = r.int32("senderPID");
    s.physicalTotalBytes = r.int64("physicalTotalBytes");
    s.physicalUsedBytes = r.int64("physicalUsedBytes");
    s.compressedBytes = r.int64("compressedBytes");
    s.usedPercent = r.number("usedPercent");
    s.swapTotalBytes = r.int64("swapTotalBytes");
    s.swapUsedBytes = r.int64("swapUsedBytes");
    s.swapFileCount = r.int64("swapFileCount");
    s.swapEncrypted = r.boolean("swapEncrypted");
    s.pressureLevel = r.string("pressureLevel");
    s.healthScore = r.int64("healthScore");
    s.activeDiskPoolCount = r.int64("activeDiskPoolCount");
    s.diskPoolVirtualBytes = r.int64("diskPoolVirtualBytes");
    s.diskPoolActualDiskBytes = r.int64("diskPoolActualDiskBytes");
    s.diskPoolNames = r.strings("diskPoolNames");
    s.mountedSparseDiskCount = r.int64("mountedSparseDiskCount");
    s.sparseDiskVirtualBytes = r.int64("sparseDiskVirtualBytes");
    s.sparseDiskActualBytes = r.int64("sparseDiskActualBytes");
    s.sparseDiskNames = r.strings("sparseDiskNames");
    s.mountedRAMDiskCount = r.int64("mountedRAMDiskCount");
    s.ramDiskTotalBytes = r.int64("ramDiskTotalBytes");
    s.ramDiskNames = r.strings("ramDiskNames");
    s.frozenAppCount = r.int64("frozenAppCount");
    s.frozenPIDs = r.int32s("frozenPIDs");
    s.reclaimedFromFrozenBytes = r.int64("reclaimedFromFrozenBytes");
    if (r.has("offloadProgress")) {
        s.offloadProgress = QuarnOffloadLiveProgress::fromJSON(r.value("offloadProgress"));
    }
    return s;
}

json QuarnLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["physicalTotalBytes"] = physicalTotalBytes;
    o["physicalUsedBytes"] = physicalUsedBytes;
    o["compressedBytes"] = compressedBytes;
    o["usedPercent"] = usedPercent;
    o["swapTotalBytes"] = swapTotalBytes;
    o["swapUsedBytes"] = swapUsedBytes;
    o["swapFileCount"] = swapFileCount;
    o["swapEncrypted"] = swapEncrypted;
    o["pressureLevel"] = pressureLevel;
    o["healthScore"] = healthScore;
    o["activeDiskPoolCount"] = activeDiskPoolCount;
    o["diskPoolVirtualBytes"] = diskPoolVirtualBytes;
    o["diskPoolActualDiskBytes"] = diskPoolActualDiskBytes;
    o["diskPoolNames"] = stringsJSON(diskPoolNames);
    o["mountedSparseDiskCount"] = mountedSparseDiskCount;
    o["sparseDiskVirtualBytes"] = sparseDiskVirtualBytes;
    o["sparseDiskActualBytes"] = sparseDiskActualBytes;
    o["sparseDiskNames"] = stringsJSON(sparseDiskNames);
    o["mountedRAMDiskCount"] = mountedRAMDiskCount;
    o["ramDiskTotalBytes"] = ramDiskTotalBytes;
    o["ramDiskNames"] = stringsJSON(ramDiskNames);
    o["frozenAppCount"] = frozenAppCount;
    o["frozenPIDs"] = pidsJSON(frozenPIDs);
    o["reclaimedFromFrozenBytes"] = reclaimedFromFrozenBytes;
    if (offloadProgress) {
        o["offloadProgress"] = offloadProgress->toJSON();
    }
    return o;
}

bool QuarnLiveStatus::hasVirtualDiskExpansion() const {
    return activeDiskPoolCount > 0 || mountedSparseDiskCount > 0 || mountedRAMDiskCount > 0;
}

std::int64_t QuarnLiveStatus::totalVirtualPoolCapacityBytes() const {
    return saturatingSum(diskPoolVirtualBytes, sparseDiskVirtualBytes);
}

std::int64_t QuarnLiveStatus::totalVirtualDiskActualBytes() const {
    return saturatingSum(diskPoolActualDiskBytes, sparseDiskActualBytes);
}

VORN_SUITE_RECORD_TEXT(QuarnLiveStatus)
VORN_SUITE_RECORD_FRESH(QuarnLiveStatus)

// ---- HessomLiveStatus

HessomLiveStatus HessomLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "HessomLiveStatus");
    return HessomLiveStatus{r.date("timestamp"),
                            r.int32("senderPID"),
                            r.number("cpuTotalPercent"),
                            r.number("gpuTotalPercent"),
                            r.number("memoryUsedPercent"),
                            r.int64("swapUsedBytes"),
                            r.optionalNumber("cpuTempCelsius"),
                            r.optionalNumber("gpuTempCelsius"),
                            r.optionalNumber("socTempCelsius"),
                            r.optionalInt64("fanMaxRPM"),
                            r.optionalNumber("systemWatts"),
                            r.int64("healthScore"),
                            r.string("thermalState"),
                            r.optionalInt64("nvmeHealthPercent")};
}

json HessomLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["cpuTotalPercent"] = cpuTotalPercent;
    o["gpuTotalPercent"] = gpuTotalPercent;
    o["memoryUsedPercent"] = memoryUsedPercent;
    o["swapUsedBytes"] = swapUsedBytes;
    putOptional(o, "cpuTempCelsius", cpuTempCelsius);
    putOptional(o, "gpuTempCelsius", gpuTempCelsius);
    putOptional(o, "socTempCelsius", socTempCelsius);
    putOptional(o, "fanMaxRPM", fanMaxRPM);
    putOptional(o, "systemWatts", systemWatts);
    o["healthScore"] = healthScore;
    o["thermalState"] = thermalState;
    putOptional(o, "nvmeHealthPercent", nvmeHealthPercent);
    return o;
}

std::optional<double> HessomLiveStatus::headlineTempCelsius() const {
    if (cpuTempCelsius) {
        return cpuTempCelsius;
    }
    if (socTempCelsius) {
        return socTempCelsius;
    }
    return gpuTempCelsius;
}

VORN_SUITE_RECORD_TEXT(HessomLiveStatus)
VORN_SUITE_RECORD_FRESH(HessomLiveStatus)

// ---- BrakkaLiveStatus

BrakkaLiveStatus BrakkaLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "BrakkaLiveStatus");
    return BrakkaLiveStatus{r.date("timestamp"),
                            r.int32("senderPID"),
                            r.int64("totalProcessCount"),
                            r.int64("unresponsiveCount"),
                            r.int64("problematicCount"),
                            r.strings("unresponsiveAppNames"),
                            r.int64("memoryLeakCount"),
                            r.int32s("autoFrozenPIDs"),
                            r.optionalString("activeFocusProfileName"),
                            r.int64("reclaimedFocusBytes"),
                            r.int64("listeningPortCount")};
}

json BrakkaLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["totalProcessCount"] = totalProcessCount;
    o["unresponsiveCount"] = unresponsiveCount;
    o["problematicCount"] = problematicCount;
    o["unresponsiveAppNames"] = stringsJSON(unresponsiveAppNames);
    o["memoryLeakCount"] = memoryLeakCount;
    o["autoFrozenPIDs"] = pidsJSON(autoFrozenPIDs);
    putOptional(o, "activeFocusProfileName", activeFocusProfileName);
    o["reclaimedFocusBytes"] = reclaimedFocusBytes;
    o["listeningPortCount"] = listeningPortCount;
    return o;
}

VORN_SUITE_RECORD_TEXT(BrakkaLiveStatus)
VORN_SUITE_RECORD_FRESH(BrakkaLiveStatus)

// ---- FaldorAudioAppItem and FaldorLiveStatus

FaldorAudioAppItem FaldorAudioAppItem::make(std::string id, std::string bundleID, std::string appName,
                                            bool isPlayingAudio, bool isMuted, double volume, float rmsLevel) {
    const double limited = std::fmin(volume, 2.0);  // fmin ignores a not-a-number operand
    return FaldorAudioAppItem{std::move(id),   std::move(bundleID),          std::move(appName), isPlayingAudio,
                              isMuted,         limited < 0 ? 0.0 : limited, rmsLevel >= 0 ? rmsLevel : 0.0f};
}

FaldorAudioAppItem FaldorAudioAppItem::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "FaldorAudioAppItem");
    return FaldorAudioAppItem{r.string("id"),         r.string("bundleID"), r.string("appName"),
                              r.boolean("isPlayingAudio"), r.boolean("isMuted"), r.number("volume"),
                              r.number32("rmsLevel")};
}

json FaldorAudioAppItem::toJSON() const {
    json o = json::object();
    o["id"] = id;
    o["bundleID"] = bundleID;
    o["appName"] = appName;
    o["isPlayingAudio"] = isPlayingAudio;
    o["isMuted"] = isMuted;
    o["volume"] = volume;
    o["rmsLevel"] = static_cast<double>(rmsLevel);
    return o;
}

VORN_SUITE_RECORD_TEXT(FaldorAudioAppItem)

FaldorLiveStatus FaldorLiveStatus::make(VornDate timestamp, std::int32_t senderPID, double masterVolume,
                                        std::string outputDeviceName, std::vector<FaldorAudioAppItem> channels) {
    const double limited = std::fmin(masterVolume, 1.0);
    return FaldorLiveStatus{timestamp, senderPID, limited < 0 ? 0.0 : limited, std::move(outputDeviceName),
                            std::move(channels)};
}

FaldorLiveStatus FaldorLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "FaldorLiveStatus");
    FaldorLiveStatus s{r.date("timestamp"), r.int32("senderPID"), r.number("masterVolume"), r.string("outputDeviceName"), {}};
    const nlohmann::json& channels = r.value("channels");
    if (!channels.is_array()) {
        throw VornDecodingError(r.path("channels") + ": not an array");
    }
    for (const nlohmann::json& channel : channels) {
        s.channels.push_back(FaldorAudioAppItem::fromJSON(channel));
    }
    return s;
}

json FaldorLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["masterVolume"] = masterVolume;
    o["outputDeviceName"] = outputDeviceName;
    json array = json::array();
    for (const FaldorAudioAppItem& channel : channels) {
        array.push_back(channel.toJSON());
    }
    o["channels"] = std::move(array);
    return o;
}

std::int64_t FaldorLiveStatus::activePlayingCount() const {
    return std::count_if(channels.begin(), channels.end(), [](const auto& c) { return c.isPlayingAudio && !c.isMuted; });
}

std::int64_t FaldorLiveStatus::mutedCount() const {
    return std::count_if(channels.begin(), channels.end(), [](const auto& c) { return c.isMuted; });
}

VORN_SUITE_RECORD_TEXT(FaldorLiveStatus)
VORN_SUITE_RECORD_FRESH(FaldorLiveStatus)

// ---- LunnetLiveStatus

LunnetLiveStatus LunnetLiveStatus::make(VornDate timestamp, std::int32_t senderPID, std::string title,
                                        std::string artist, std::string album, std::string qualityBadge,
                                        bool isPlaying, double elapsedSeconds, double durationSeconds, double volume) {
    return LunnetLiveStatus{timestamp,
                            senderPID,
                            std::move(title),
                            std::move(artist),
                            std::move(album),
                            std::move(qualityBadge),
                            isPlaying,
                            atLeastZero(elapsedSeconds),
                            atLeastZero(durationSeconds),
                            std::min(atLeastZero(volume), 1.0)};
}

LunnetLiveStatus LunnetLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "LunnetLiveStatus");
    return LunnetLiveStatus{r.date("timestamp"),      r.int32("senderPID"),      r.string("title"),
                            r.string("artist"),       r.string("album"),         r.string("qualityBadge"),
                            r.boolean("isPlaying"),   r.number("elapsedSeconds"), r.number("durationSeconds"),
                            r.number("volume")};
}

json LunnetLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["title"] = title;
    o["artist"] = artist;
    o["album"] = album;
    o["qualityBadge"] = qualityBadge;
    o["isPlaying"] = isPlaying;
    o["elapsedSeconds"] = elapsedSeconds;
    o["durationSeconds"] = durationSeconds;
    o["volume"] = volume;
    return o;
}

double LunnetLiveStatus::progress() const {
    if (!(durationSeconds > 0)) {
        return 0;
    }
    return std::min(atLeastZero(elapsedSeconds / durationSeconds), 1.0);
}

VORN_SUITE_RECORD_TEXT(LunnetLiveStatus)
VORN_SUITE_RECORD_FRESH(LunnetLiveStatus)

// ---- VornScreenRect

VornScreenRect VornScreenRect::make(double x, double y, double width, double height) {
    return VornScreenRect{x, y, atLeastZero(width), atLeastZero(height)};
}

VornScreenRect VornScreenRect::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "VornScreenRect");
    return VornScreenRect{r.number("x"), r.number("y"), r.number("width"), r.number("height")};
}

json VornScreenRect::toJSON() const {
    json o = json::object();
    o["x"] = x;
    o["y"] = y;
    o["width"] = width;
    o["height"] = height;
    return o;
}

VORN_SUITE_RECORD_TEXT(VornScreenRect)

// ---- TibrelLiveStatus

TibrelLiveStatus TibrelLiveStatus::normalized() const {
    TibrelLiveStatus s = *this;
    s.remainingSeconds = std::max<std::int64_t>(s.remainingSeconds, 0);
    s.totalSeconds = std::max<std::int64_t>(s.totalSeconds, 1);
    s.lockedAppsCount = std::max<std::int64_t>(s.lockedAppsCount, 0);
    s.blockedDomainsCount = std::max<std::int64_t>(s.blockedDomainsCount, 0);
    s.focusScorePercent = std::clamp<std::int64_t>(s.focusScorePercent, 0, 100);
    s.completedSessionsToday = std::max<std::int64_t>(s.completedSessionsToday, 0);
    s.currentStreakDays = std::max<std::int64_t>(s.currentStreakDays, 0);
    s.todayProductiveSeconds = atLeastZero(s.todayProductiveSeconds);
    return s;
}

TibrelLiveStatus TibrelLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "TibrelLiveStatus");
    TibrelLiveStatus s;
    s.timestamp = r.date("timestamp");
    s.senderPID = r.int32("senderPID");
    s.isRunning = tolerant(r, "isRunning", false);
    s.isBreak = tolerant(r, "isBreak", false);
    s.sessionModeRaw = tolerant<std::string>(r, "sessionModeRaw", "pomodoro25");
    s.remainingSeconds = tolerant<std::int64_t>(r, "remainingSeconds", 1500);
    s.totalSeconds = tolerant<std::int64_t>(r, "totalSeconds", 1500);
    s.currentIntention = tolerant<std::string>(r, "currentIntention", "");
    s.activeTaskID = r.optionalString("activeTaskID");
    s.activeTaskTitle = r.optionalString("activeTaskTitle");
    s.activeProjectName = r.optionalString("activeProjectName");
    s.isShieldActive = tolerant(r, "isShieldActive", false);
    s.lockedAppsCount = tolerant<std::int64_t>(r, "lockedAppsCount", 0);
    s.blockedDomainsCount = tolerant<std::int64_t>(r, "blockedDomainsCount", 0);
    s.isStrictMode = tolerant(r, "isStrictMode", false);
    s.isAmbientPlaying = tolerant(r, "isAmbientPlaying", false);
    s.focusScorePercent = tolerant<std::int64_t>(r, "focusScorePercent", 0);
    s.completedSessionsToday = tolerant<std::int64_t>(r, "completedSessionsToday", 0);
    s.currentStreakDays = tolerant<std::int64_t>(r, "currentStreakDays", 0);
    s.todayProductiveSeconds = tolerant(r, "todayProductiveSeconds", 0.0);
    s.isDockedInsideDravik = tolerant(r, "isDockedInsideDravik", false);
    return s.normalized();
}

json TibrelLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["isRunning"] = isRunning;
    o["isBreak"] = isBreak;
    o["sessionModeRaw"] = sessionModeRaw;
    o["remainingSeconds"] = remainingSeconds;
    o["totalSeconds"] = totalSeconds;
    o["currentIntention"] = currentIntention;
    putOptional(o, "activeTaskID", activeTaskID);
    putOptional(o, "activeTaskTitle", activeTaskTitle);
    putOptional(o, "activeProjectName", activeProjectName);
    o["isShieldActive"] = isShieldActive;
    o["lockedAppsCount"] = lockedAppsCount;
    o["blockedDomainsCount"] = blockedDomainsCount;
    o["isStrictMode"] = isStrictMode;
    o["isAmbientPlaying"] = isAmbientPlaying;
    o["focusScorePercent"] = focusScorePercent;
    o["completedSessionsToday"] = completedSessionsToday;
    o["currentStreakDays"] = currentStreakDays;
    o["todayProductiveSeconds"] = todayProductiveSeconds;
    o["isDockedInsideDravik"] = isDockedInsideDravik;
    return o;
}

double TibrelLiveStatus::progress() const {
    const double d = totalSeconds > 1 ? static_cast<double>(totalSeconds) : 1.0;
    const double p = 1.0 - static_cast<double>(remainingSeconds) / d;
    return std::clamp(p, 0.0, 1.0);
}

VORN_SUITE_RECORD_TEXT(TibrelLiveStatus)
VORN_SUITE_RECORD_FRESH(TibrelLiveStatus)

// ---- DravikLiveStatus

DravikLiveStatus DravikLiveStatus::normalized() const {
    DravikLiveStatus s = *this;
    s.openTodayCount = std::max<std::int64_t>(s.openTodayCount, 0);
    s.completedTodayCount = std::max<std::int64_t>(s.completedTodayCount, 0);
    s.overdueCount = std::max<std::int64_t>(s.overdueCount, 0);
    s.inProgressCount = std::max<std::int64_t>(s.inProgressCount, 0);
    s.plannedMinutesToday = std::max<std::int64_t>(s.plannedMinutesToday, 0);
    s.dailyCapacityMinutes = std::max<std::int64_t>(s.dailyCapacityMinutes, 30);
    s.nextBestTaskMinutes = std::max<std::int64_t>(s.nextBestTaskMinutes, 5);
    return s;
}

DravikLiveStatus DravikLiveStatus::fromJSON(const nlohmann::json& value) {
    const SuiteReader r(value, "DravikLiveStatus");
    DravikLiveStatus s;
    s.timestamp = r.date("timestamp");
    s.senderPID = r.int32("senderPID");
    s.openTodayCount = tolerant<std::int64_t>(r, "openTodayCount", 0);
    s.completedTodayCount = tolerant<std::int64_t>(r, "completedTodayCount", 0);
    s.overdueCount = tolerant<std::int64_t>(r, "overdueCount", 0);
    s.inProgressCount = tolerant<std::int64_t>(r, "inProgressCount", 0);
    s.plannedMinutesToday = tolerant<std::int64_t>(r, "plannedMinutesToday", 0);
    s.dailyCapacityMinutes = tolerant<std::int64_t>(r, "dailyCapacityMinutes", 360);
    s.nextBestTaskID = r.optionalString("nextBestTaskID");
    s.nextBestTaskTitle = r.optionalString("nextBestTaskTitle");
    s.nextBestTaskMinutes = tolerant<std::int64_t>(r, "nextBestTaskMinutes", 25);
    if (r.has("miniPanelFrame")) {
        s.miniPanelFrame = VornScreenRect::fromJSON(r.value("miniPanelFrame"));
    }
    if (r.has("studioWindowFrame")) {
        s.studioWindowFrame = VornScreenRect::fromJSON(r.value("studioWindowFrame"));
    }
    s.isFocusDockedInside = tolerant(r, "isFocusDockedInside", false);
    return s.normalized();
}

json DravikLiveStatus::toJSON() const {
    json o = head(timestamp, senderPID);
    o["openTodayCount"] = openTodayCount;
    o["completedTodayCount"] = completedTodayCount;
    o["overdueCount"] = overdueCount;
    o["inProgressCount"] = inProgressCount;
    o["plannedMinutesToday"] = plannedMinutesToday;
    o["dailyCapacityMinutes"] = dailyCapacityMinutes;
    putOptional(o, "nextBestTaskID", nextBestTaskID);
    putOptional(o, "nextBestTaskTitle", nextBestTaskTitle);
    o["nextBestTaskMinutes"] = nextBestTaskMinutes;
    if (miniPanelFrame) {
        o["miniPanelFrame"] = miniPanelFrame->toJSON();
    }
    if (studioWindowFrame) {
        o["studioWindowFrame"] = studioWindowFrame->toJSON();
    }
    o["isFocusDockedInside"] = isFocusDockedInside;
    return o;
}

VORN_SUITE_RECORD_TEXT(DravikLiveStatus)
VORN_SUITE_RECORD_FRESH(DravikLiveStatus)
