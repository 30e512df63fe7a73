#include "VornGlassTokens.h"
#include "VornPalette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

TEST(VornProductPalette, RawValuesMatchOnlyExactCaseNames) {
    const struct {
        std::string text;
        std::optional<VornProductPalette> expected;
    } cases[] = {
        {"deepViolet", VornProductPalette::deepViolet},
        {"deepCyan", VornProductPalette::deepCyan},
        {"DeepViolet", std::nullopt},
        {"deepviolet", std::nullopt},
        {"violet", std::nullopt},
        {"deepViolet ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fromRawValue<VornProductPalette>(c.text), c.expected) << c.text;
    }
    const auto all = allCases<VornProductPalette>();
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all.front(), VornProductPalette::deepViolet);
    EXPECT_EQ(all[7], VornProductPalette::deepCoral);
    EXPECT_EQ(all.back(), VornProductPalette::deepCyan);
}

TEST(VornProductPalette, JSONIsTheRawValueAndUnknownNamesFail) {
    for (const VornProductPalette palette : allCases<VornProductPalette>()) {
        const nlohmann::json encoded = palette;
        EXPECT_EQ(encoded, nlohmann::json(rawValue(palette)));
        EXPECT_EQ(encoded.get<VornProductPalette>(), palette);
    }
    for (const nlohmann::json& bad : {nlohmann::json("deepPurple"), nlohmann::json("DeepCoral"), nlohmann::json(7),
                                      nlohmann::json(nullptr), nlohmann::json::array({"deepCoral"})}) {
        EXPECT_THROW((void)bad.get<VornProductPalette>(), nlohmann::json::exception) << bad.dump();
    }
}

TEST(VornProductPalette, HexColoursIgnoreTheTopByte) {
    const QColor plain = vornColor(0x462A7D, 0.5);
    EXPECT_EQ(plain.red(), 70);
    EXPECT_EQ(plain.green(), 42);
    EXPECT_EQ(plain.blue(), 125);
    EXPECT_NEAR(plain.alphaF(), 0.5, 0.004);
    EXPECT_EQ(vornColor(0xFF462A7D, 0.5), plain);
    EXPECT_EQ(vornColor(0x01462A7D, 0.5), plain);
    EXPECT_EQ(vornColor(0x3EE6A8, 1.0), VornGlassTokens::success());
    // Opacity out of range is held to 0...1 instead of wrapping.
    EXPECT_EQ(vornColor(0x462A7D, 7.0).alpha(), 255);
    EXPECT_EQ(vornColor(0x462A7D, -1.0).alpha(), 0);
}

// The ground stops, the accent and the rounded literals of every palette agree with each other.
TEST(VornProductPalette, StopsAccentsAndRoundedStopsAgree) {
    const struct {
        VornProductPalette palette;
        std::uint32_t topLeft, middle, bottomRight, accent;
    } rows[] = {
        {VornProductPalette::deepViolet, 0x462A7D, 0x311F59, 0x1D133B, 0xA98BFF},
        {VornProductPalette::deepCrimson, 0x7A2248, 0x4A1634, 0x240D1D, 0xFF6B9D},
        {VornProductPalette::deepAmber, 0x783C1E, 0x4A2515, 0x24130C, 0xFFA95C},
        {VornProductPalette::deepEmerald, 0x156256, 0x103F3D, 0x0B2124, 0x47E6C1},
        {VornProductPalette::deepCobalt, 0x1D4E89, 0x16335E, 0x0D1C38, 0x5CC4FF},
        {VornProductPalette::deepIndigo, 0x24347A, 0x182356, 0x0D1433, 0x7CA4FF},
        {VornProductPalette::deepAbyss, 0x1F4A5C, 0x153445, 0x0C1F2B, 0x66D9EF},
        {VornProductPalette::deepCoral, 0x6E1F63, 0x471645, 0x240B26, 0xF472D0},
        {VornProductPalette::deepCyan, 0x0D5668, 0x0B3A4A, 0x07202B, 0x38E8FF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.palette));
        const VornGroundStops stops = groundStops(row.palette);
        EXPECT_EQ(stops.topLeft, vornColor(row.topLeft, 1));
        EXPECT_EQ(stops.middle, vornColor(row.middle, 1));
        EXPECT_EQ(stops.bottomRight, vornColor(row.bottomRight, 1));
        EXPECT_EQ(accentColor(row.palette), vornColor(row.accent, 1));
        const auto rounded = rgbStops(row.palette);
        ASSERT_EQ(rounded.size(), 3u);
        const QColor colours[] = {stops.topLeft, stops.middle, stops.bottomRight};
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(rounded[i].r, colours[i].redF(), 0.0006);
            EXPECT_NEAR(rounded[i].g, colours[i].greenF(), 0.0006);
            EXPECT_NEAR(rounded[i].b, colours[i].blueF(), 0.0006);
        }
    }
}

TEST(VornGlassTokens, GlassTokensAreWhiteWithOpacityAndStatusColoursAreOpaque) {
    const struct {
        const char* name;
        QColor color;
        double alpha;
    } whites[] = {
        {"surface1", VornGlassTokens::surface1(), 0.06},         {"surface2", VornGlassTokens::surface2(), 0.10},
        {"surface3", VornGlassTokens::surface3(), 0.16},         {"borderSubtle", VornGlassTokens::borderSubtle(), 0.14},
        {"borderStrong", VornGlassTokens::borderStrong(), 0.28}, {"textPrimary", VornGlassTokens::textPrimary(), 0.96},
        {"textSecondary", VornGlassTokens::textSecondary(), 0.72}, {"textMuted", VornGlassTokens::textMuted(), 0.50},
    };
    for (const auto& token : whites) {
        SCOPED_TRACE(token.name);
        EXPECT_EQ(token.color.rgb(), QColor(Qt::white).rgb());
        EXPECT_NEAR(token.color.alphaF(), token.alpha, 0.001);
    }
    EXPECT_EQ(VornGlassTokens::success(), QColor(62, 230, 168));
    EXPECT_EQ(VornGlassTokens::warning(), QColor(255, 184, 77));
    EXPECT_EQ(VornGlassTokens::danger(), QColor(255, 100, 124));
    // Made once: every call hands out the same object.
    EXPECT_EQ(&VornGlassTokens::surface2(), &VornGlassTokens::surface2());
}
