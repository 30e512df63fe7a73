#include "VornFlowLayout.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

namespace {

std::vector<QSizeF> widths(std::initializer_list<double> list, double height = 20) {
    std::vector<QSizeF> sizes;
    for (const double w : list) {
        sizes.emplace_back(w, height);
    }
    return sizes;
}

}  // namespace

TEST(VornFlowLayout, SizingWrapsWithoutOverflow) {
    const struct {
        const char* name;
        std::vector<QSizeF> sizes;
        std::optional<double> proposed;
        QSizeF expected;
    } cases[] = {
        {"nothing, finite proposal", {}, 100.0, {100, 0}},
        {"nothing, no proposal", {}, std::nullopt, {0, 0}},
        {"46+8+46 is exactly 100 and fits", widths({46, 46, 46}), 100.0, {100, 20 + 5 + 20}},
        {"one line when unbounded", widths({46, 46, 46}), std::nullopt, {46 * 3 + 16, 20}},
        {"a wide first item stays, the next starts a line", widths({150, 10}), 100.0, {100, 45}},
        {"a wide later item starts its own line and so does the next", widths({10, 150, 10}), 100.0, {100, 70}},
        {"a line is as tall as its tallest item", {{30, 10}, {30, 40}, {60, 12}}, 80.0, {80, 40 + 5 + 12}},
        {"zero width proposal: one item per line", widths({10, 10}), 0.0, {0, 45}},
        {"negative sizes count as zero", {{-5, -5}, {10, 10}}, 100.0, {100, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QSizeF size = vornFlowSizeThatFits(c.sizes, c.proposed, 8, 5);
        EXPECT_DOUBLE_EQ(size.width(), c.expected.width());
        EXPECT_DOUBLE_EQ(size.height(), c.expected.height());
    }
}

TEST(VornFlowLayout, PlacementAllowsHalfAPointOfOverflow) {
    const QRectF bounds(10, 20, 100, 200);
    // Ends 0.4 past the edge: stays on its line.
    auto placed = vornFlowPlace(widths({46, 46.4}), bounds, 8, 5);
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_EQ(placed[1].topLeft(), QPointF(64, 20));
    // Ends 0.6 past the edge: wraps.
    placed = vornFlowPlace(widths({46, 46.6}), bounds, 8, 5);
    EXPECT_EQ(placed[1].topLeft(), QPointF(10, 45));
    // Never shrunk or split, and the first of a line is never wrapped.
    placed = vornFlowPlace(widths({300, 20, 20}), bounds, 8, 5);
    EXPECT_EQ(placed[0], QRectF(10, 20, 300, 20));
    EXPECT_EQ(placed[1], QRectF(10, 45, 20, 20));
    EXPECT_EQ(placed[2], QRectF(38, 45, 20, 20));
    EXPECT_TRUE(vornFlowPlace({}, bounds, 8, 5).empty());
}

TEST(VornFlowLayout, WidgetsFlowAndMirrorRightToLeft) {
    QWidget host;
    auto* layout = new VornFlowLayout(&host, 8, 5);
    std::vector<QWidget*> chips;
    for (int i = 0; i < 3; ++i) {
        auto* chip = new QWidget(&host);
        chip->setFixedSize(46, 20);
        layout->addWidget(chip);
        chips.push_back(chip);
    }
    EXPECT_TRUE(layout->hasHeightForWidth());
    EXPECT_EQ(layout->heightForWidth(100), 45);
    EXPECT_EQ(layout->heightForWidth(200), 20);
    layout->setGeometry(QRect(0, 0, 100, 45));
    EXPECT_EQ(chips[0]->geometry(), QRect(0, 0, 46, 20));
    EXPECT_EQ(chips[1]->geometry(), QRect(54, 0, 46, 20));
    EXPECT_EQ(chips[2]->geometry(), QRect(0, 25, 46, 20));
    host.setLayoutDirection(Qt::RightToLeft);
    layout->setGeometry(QRect(0, 0, 100, 45));
    EXPECT_EQ(chips[0]->geometry(), QRect(54, 0, 46, 20));
    EXPECT_EQ(chips[2]->geometry(), QRect(54, 25, 46, 20));
    // Hidden widgets take no room.
    chips[1]->hide();
    EXPECT_EQ(layout->heightForWidth(100), 20);
}
