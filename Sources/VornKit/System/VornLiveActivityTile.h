#pragma once

#include "VornSuiteApp.h"
#include "VornSuiteLiveStatus.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The short display-ready summary one application publishes about itself for the others to show.
// One tile per application; its identity is the application's raw value.
struct VornLiveActivityTile {
    enum class Tone { neutral, active, success, warning, danger };

    VornSuiteApp app = VornSuiteApp::vornSled;
    VornDate timestamp{};
    std::int32_t senderPID = 0;
    std::string titleEN;
    std::string titleTR;
    std::string primaryMetric;
    std::optional<std::string> secondaryMetric;
    std::optional<double> progress;
    std::string symbolName;
    Tone tone = Tone::neutral;
    std::int64_t priority = 0;

    // progress kept within 0…1 (not-a-number reads as 0); without a symbol name the application's.
    static VornLiveActivityTile make(VornSuiteApp app, VornDate timestamp, std::int32_t senderPID, std::string titleEN,
                                     std::string titleTR, std::string primaryMetric,
                                     std::optional<std::string> secondaryMetric, std::optional<double> progress,
                                     std::optional<std::string> symbolName, Tone tone, std::int64_t priority);

    std::string id() const { return rawValue(app); }

    VORN_SUITE_LIVE_RECORD(VornLiveActivityTile)
};

template <>
struct VornRawValueTable<VornLiveActivityTile::Tone> {
    using Tone = VornLiveActivityTile::Tone;
    static constexpr std::string_view typeName = "VornLiveActivityTile.Tone";
    static constexpr std::array entries{
        std::pair{Tone::neutral, std::string_view("neutral")}, std::pair{Tone::active, std::string_view("active")},
        std::pair{Tone::success, std::string_view("success")}, std::pair{Tone::warning, std::string_view("warning")},
        std::pair{Tone::danger, std::string_view("danger")},
    };
};
