#include "VornPalette.h"

namespace {

struct PaletteRow {
    std::uint32_t topLeft;
    std::uint32_t middle;
    std::uint32_t bottomRight;
    std::uint32_t accent;
    std::array<VornRGBStop, 3> rgb;
};

// In declaration order.
constexpr std::array<PaletteRow, 9> rows{{
    {0x462A7D, 0x311F59, 0x1D133B, 0xA98BFF, {{{0.275, 0.165, 0.49}, {0.192, 0.122, 0.349}, {0.114, 0.075, 0.231}}}},
    {0x7A2248, 0x4A1634, 0x240D1D, 0xFF6B9D, {{{0.478, 0.133, 0.282}, {0.29, 0.086, 0.204}, {0.141, 0.051, 0.114}}}},
    {0x783C1E, 0x4A2515, 0x24130C, 0xFFA95C, {{{0.471, 0.235, 0.118}, {0.29, 0.145, 0.082}, {0.141, 0.075, 0.047}}}},
    {0x156256, 0x103F3D, 0x0B2124, 0x47E6C1, {{{0.082, 0.384, 0.337}, {0.063, 0.247, 0.239}, {0.043, 0.129, 0.141}}}},
    {0x1D4E89, 0x16335E, 0x0D1C38, 0x5CC4FF, {{{0.114, 0.306, 0.537}, {0.086, 0.2, 0.369}, {0.051, 0.11, 0.22}}}},
    {0x24347A, 0x182356, 0x0D1433, 0x7CA4FF, {{{0.141, 0.204, 0.478}, {0.094, 0.137, 0.337}, {0.051, 0.078, 0.2}}}},
    {0x1F4A5C, 0x153445, 0x0C1F2B, 0x66D9EF, {{{0.122, 0.29, 0.361}, {0.082, 0.204, 0.271}, {0.047, 0.122, 0.169}}}},
    {0x6E1F63, 0x471645, 0x240B26, 0xF472D0, {{{0.431, 0.122, 0.388}, {0.278, 0.086, 0.271}, {0.141, 0.043, 0.149}}}},
    {0x0D5668, 0x0B3A4A, 0x07202B, 0x38E8FF, {{{0.051, 0.337, 0.408}, {0.043, 0.227, 0.29}, {0.027, 0.125, 0.169}}}},
}};

const PaletteRow& row(VornProductPalette palette) {
    const auto index = static_cast<std::size_t>(palette);
    return rows[index < rows.size() ? index : rows.size() - 1];
}

}  // namespace

QColor vornColor(std::uint32_t hex, double opacity) {
    QColor color(int((hex >> 16) & 0xFF), int((hex >> 8) & 0xFF), int(hex & 0xFF));
    color.setAlphaF(float(opacity < 0 ? 0 : (opacity > 1 ? 1 : opacity)));
    return color;
}

void to_json(nlohmann::json& json, VornProductPalette palette) { json = rawValue(palette); }

void from_json(const nlohmann::json& json, VornProductPalette& palette) {
    palette = vornJSONGetEnumOrTypeError<VornProductPalette>(json);
}

VornGroundStops groundStops(VornProductPalette palette) {
    const PaletteRow& r = row(palette);
    return {vornColor(r.topLeft, 1), vornColor(r.middle, 1), vornColor(r.bottomRight, 1)};
}

QColor accentColor(VornProductPalette palette) { return vornColor(row(palette).accent, 1); }

std::array<VornRGBStop, 3> rgbStops(VornProductPalette palette) { return row(palette).rgb; }
