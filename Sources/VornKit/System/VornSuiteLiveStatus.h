#pragma once

#include "VornDate.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The live-status records the maker's applications publish about themselves. Every record is a
// plain value written as one JSON object whose keys are the field names, in field order; optional
// fields are written only when they hold a value (a missing key or null reads as empty), and
// unknown keys are ignored. Dates are ISO 8601 text in whole seconds.
//
// Each record offers:
//   static Record fromJSON(const nlohmann::json&)      throws VornDecodingError
//   nlohmann::ordered_json toJSON() const
//   static std::optional<Record> decode(std::string_view text)
//   std::optional<std::string> encode() const          nothing for a non-finite number
// and the live ones isFresh(now, maxAgeSeconds): the time stamp lies within maxAgeSeconds of now
// either way (inclusive) and the sender process exists.

#define VORN_SUITE_RECORD_CODING(Record)                                                             \
    static Record fromJSON(const nlohmann::json& value);                                            \
    nlohmann::ordered_json toJSON() const;                                                          \
    static std::optional<Record> decode(std::string_view text);                                     \
    std::optional<std::string> encode() const;                                                      \
    bool operator==(const Record&) const = default;

#define VORN_SUITE_LIVE_RECORD(Record)                                                               \
    VORN_SUITE_RECORD_CODING(Record)                                                                \
    bool isFresh(VornDate now, double maxAgeSeconds) const;

// Progress of an offload run of the memory-offload app; travels inside its status.
struct QuarnOffloadLiveProgress {
    VornDate timestamp{};
    bool isRunning = false;
    bool isCompletedSummary = false;
    std::int64_t stepIndex = 0;
    std::int64_t totalSteps = 1;
    double fractionCompleted = 0;
    std::string phaseTitleEN;
    std::string phaseTitleTR;
    std::string detailEN;
    std::string detailTR;
    std::int64_t allocatedBytes = 0;
    std::int64_t targetBytes = 0;
    std::vector<std::string> frozenAppNames;
    std::string livePressure;

    // Keeps totalSteps at least 1 and fractionCompleted within 0…1 (not-a-number reads as 0).
    static QuarnOffloadLiveProgress make(VornDate timestamp, bool isRunning, bool isCompletedSummary,
                                         std::int64_t stepIndex, std::int64_t totalSteps, double fractionCompleted,
                                         std::string phaseTitleEN, std::string phaseTitleTR, std::string detailEN,
                                         std::string detailTR, std::int64_t allocatedBytes, std::int64_t targetBytes,
                                         std::vector<std::string> frozenAppNames, std::string livePressure);

    VORN_SUITE_RECORD_CODING(QuarnOffloadLiveProgress)
};

struct QuarnLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    std::int64_t physicalTotalBytes = 0;
    std::int64_t physicalUsedBytes = 0;
    std::int64_t compressedBytes = 0;
    double usedPercent = 0;
    std::int64_t swapTotalBytes = 0;
    std::int64_t swapUsedBytes = 0;
    std::int64_t swapFileCount = 0;
    bool swapEncrypted = false;
    std::string pressureLevel;
    std::int64_t healthScore = 0;
    std::int64_t activeDiskPoolCount = 0;
    std::int64_t diskPoolVirtualBytes = 0;
    std::int64_t diskPoolActualDiskBytes = 0;
    std::vector<std::string> diskPoolNames;
    std::int64_t mountedSparseDiskCount = 0;
    std::int64_t sparseDiskVirtualBytes = 0;
    std::int64_t sparseDiskActualBytes = 0;
    std::vector<std::string> sparseDiskNames;
    std::int64_t mountedRAMDiskCount = 0;
    std::int64_t ramDiskTotalBytes = 0;
    std::vector<std::string> ramDiskNames;
    std::int64_t frozenAppCount = 0;
    std::vector<std::int32_t> frozenPIDs;
    std::int64_t reclaimedFromFrozenBytes = 0;
    std::optional<QuarnOffloadLiveProgress> offloadProgress;

    bool hasVirtualDiskExpansion() const;
    // Sums of disk sizes; they saturate instead of wrapping.
    std::int64_t totalVirtualPoolCapacityBytes() const;
    std::int64_t totalVirtualDiskActualBytes() const;

    VORN_SUITE_LIVE_RECORD(QuarnLiveStatus)
};

struct HessomLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    double cpuTotalPercent = 0;
    double gpuTotalPercent = 0;
    double memoryUsedPercent = 0;
    std::int64_t swapUsedBytes = 0;
    std::optional<double> cpuTempCelsius;
    std::optional<double> gpuTempCelsius;
    std::optional<double> socTempCelsius;
    std::optional<std::int64_t> fanMaxRPM;
    std::optional<double> systemWatts;
    std::int64_t healthScore = 0;
    std::string thermalState;
    std::optional<std::int64_t> nvmeHealthPercent;

    // Processor, else system-on-chip, else graphics temperature.
    std::optional<double> headlineTempCelsius() const;

    VORN_SUITE_LIVE_RECORD(HessomLiveStatus)
};

struct BrakkaLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    std::int64_t totalProcessCount = 0;
    std::int64_t unresponsiveCount = 0;
    std::int64_t problematicCount = 0;
    std::vector<std::string> unresponsiveAppNames;
    std::int64_t memoryLeakCount = 0;
    std::vector<std::int32_t> autoFrozenPIDs;
    std::optional<std::string> activeFocusProfileName;
    std::int64_t reclaimedFocusBytes = 0;
    std::int64_t listeningPortCount = 0;

    VORN_SUITE_LIVE_RECORD(BrakkaLiveStatus)
};

// One channel of the audio mixer: an application that can play sound.
struct FaldorAudioAppItem {
    std::string id;
    std::string bundleID;
    std::string appName;
    bool isPlayingAudio = false;
    bool isMuted = false;
    double volume = 1;
    float rmsLevel = 0;

    // volume within 0…2 (not-a-number reads as 2), rmsLevel at least 0 (not-a-number reads as 0).
    static FaldorAudioAppItem make(std::string id, std::string bundleID, std::string appName, bool isPlayingAudio,
                                   bool isMuted, double volume, float rmsLevel);

    VORN_SUITE_RECORD_CODING(FaldorAudioAppItem)
};

struct FaldorLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    double masterVolume = 1;
    std::string outputDeviceName;
    std::vector<FaldorAudioAppItem> channels;

    // masterVolume within 0…1 (not-a-number reads as 1).
    static FaldorLiveStatus make(VornDate timestamp, std::int32_t senderPID, double masterVolume,
                                 std::string outputDeviceName, std::vector<FaldorAudioAppItem> channels);

    // Channels playing and not muted; channels muted, playing or not.
    std::int64_t activePlayingCount() const;
    std::int64_t mutedCount() const;

    VORN_SUITE_LIVE_RECORD(FaldorLiveStatus)
};

struct LunnetLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    std::string title;
    std::string artist;
    std::string album;
    std::string qualityBadge;
    bool isPlaying = false;
    double elapsedSeconds = 0;
    double durationSeconds = 0;
    double volume = 1;

    // elapsed and duration at least 0, volume within 0…1 (not-a-number reads as 0 for all three).
    static LunnetLiveStatus make(VornDate timestamp, std::int32_t senderPID, std::string title, std::string artist,
                                 std::string album, std::string qualityBadge, bool isPlaying, double elapsedSeconds,
                                 double durationSeconds, double volume);

    // Position within the track, 0…1; 0 without a positive duration.
    double progress() const;

    VORN_SUITE_LIVE_RECORD(LunnetLiveStatus)
};

// A rectangle in screen points.
struct VornScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    // A negative or not-a-number width or height becomes 0.
    static VornScreenRect make(double x, double y, double width, double height);

    VORN_SUITE_RECORD_CODING(VornScreenRect)
};

// The focus app's status. Read tolerantly: every field but timestamp and senderPID may be missing
// and takes its default; counts are brought into range when read as when built.
struct TibrelLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    bool isRunning = false;
    bool isBreak = false;
    std::string sessionModeRaw = "pomodoro25";
    std::int64_t remainingSeconds = 1500;
    std::int64_t totalSeconds = 1500;
    std::string currentIntention;
    std::optional<std::string> activeTaskID;
    std::optional<std::string> activeTaskTitle;
    std::optional<std::string> activeProjectName;
    bool isShieldActive = false;
    std::int64_t lockedAppsCount = 0;
    std::int64_t blockedDomainsCount = 0;
    bool isStrictMode = false;
    bool isAmbientPlaying = false;
    std::int64_t focusScorePercent = 0;
    std::int64_t completedSessionsToday = 0;
    std::int64_t currentStreakDays = 0;
    double todayProductiveSeconds = 0;
    bool isDockedInsideDravik = false;

    // Applies the ranges to a record built field by field.
    TibrelLiveStatus normalized() const;
    // Share of the session that has passed, 0…1.
    double progress() const;

    VORN_SUITE_LIVE_RECORD(TibrelLiveStatus)
};

// The task app's status, read as tolerantly as the focus app's.
struct DravikLiveStatus {
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    std::int64_t openTodayCount = 0;
    std::int64_t completedTodayCount = 0;
    std::int64_t overdueCount = 0;
    std::int64_t inProgressCount = 0;
    std::int64_t plannedMinutesToday = 0;
    std::int64_t dailyCapacityMinutes = 360;
    std::optional<std::string> nextBestTaskID;
    std::optional<std::string> nextBestTaskTitle;
    std::int64_t nextBestTaskMinutes = 25;
    std::optional<VornScreenRect> miniPanelFrame;
    std::optional<VornScreenRect> studioWindowFrame;
    bool isFocusDockedInside = false;

    DravikLiveStatus normalized() const;

    VORN_SUITE_LIVE_RECORD(DravikLiveStatus)
};
