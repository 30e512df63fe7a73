#pragma once

#include "VornRawValue.h"

#include <QColor>

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

// An sRGB colour from 0xRRGGBB and an opacity. Bits 24 to 31 are ignored: they are never read as
// alpha, so a value written with a leading byte still gives the same colour.
QColor vornColor(std::uint32_t hex, double opacity);

// The product palettes: the dark ground every window is painted on, and one accent colour each.
enum class VornProductPalette { deepViolet, deepCrimson, deepAmber, deepEmerald, deepCobalt, deepIndigo, deepAbyss, deepCoral, deepCyan };

template <>
struct VornRawValueTable<VornProductPalette> {
    static constexpr std::string_view typeName = "VornProductPalette";
    static constexpr std::array entries{
        std::pair{VornProductPalette::deepViolet, std::string_view("deepViolet")},
        std::pair{VornProductPalette::deepCrimson, std::string_view("deepCrimson")},
        std::pair{VornProductPalette::deepAmber, std::string_view("deepAmber")},
        std::pair{VornProductPalette::deepEmerald, std::string_view("deepEmerald")},
        std::pair{VornProductPalette::deepCobalt, std::string_view("deepCobalt")},
        std::pair{VornProductPalette::deepIndigo, std::string_view("deepIndigo")},
        std::pair{VornProductPalette::deepAbyss, std::string_view("deepAbyss")},
        std::pair{VornProductPalette::deepCoral, std::string_view("deepCoral")},
        std::pair{VornProductPalette::deepCyan, std::string_view("deepCyan")},
    };
};

// A palette is its raw value in JSON; a string naming no palette throws nlohmann::json::type_error.
void to_json(nlohmann::json& json, VornProductPalette palette);
void from_json(const nlohmann::json& json, VornProductPalette& palette);

// The ground's three colours, from the top-left corner to the bottom-right one.
struct VornGroundStops {
    QColor topLeft;
    QColor middle;
    QColor bottomRight;
};

// One ground colour as three components from 0 to 1, rounded to three decimals.
struct VornRGBStop {
    double r = 0;
    double g = 0;
    double b = 0;
    friend bool operator==(const VornRGBStop&, const VornRGBStop&) = default;
};

VornGroundStops groundStops(VornProductPalette palette);
QColor accentColor(VornProductPalette palette);
// Fixed literals (for code that wants plain numbers, e.g. to write them into a document).
std::array<VornRGBStop, 3> rgbStops(VornProductPalette palette);
