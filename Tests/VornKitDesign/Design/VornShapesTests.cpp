#include "VornPainting.h"
#include "VornTypography.h"

#include <QFontInfo>
#include <QFontMetricsF>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(VornRoundedRectPath, CornersAreCutAndTheShapeStaysInsideItsRectangle) {
    const QRectF rect(10, 20, 120, 40);
    for (const double radius : {0.0, 4.0, 9.0, 19.9, 20.0, 500.0}) {
        SCOPED_TRACE(radius);
        const QPainterPath path = vornRoundedRectPath(rect, radius);
        EXPECT_TRUE(rect.adjusted(-0.01, -0.01, 0.01, 0.01).contains(path.boundingRect()));
        EXPECT_NEAR(path.boundingRect().width(), rect.width(), 0.01);
        EXPECT_TRUE(path.contains(rect.center()));
        EXPECT_EQ(path.contains(rect.topLeft() + QPointF(0.5, 0.5)), radius == 0.0);
    }
    // A continuous corner starts bending further along the edge than a circular arc of the same radius.
    const QPainterPath continuous = vornRoundedRectPath(rect, 10);
    QPainterPath circular;
    circular.addRoundedRect(rect, 10, 10);
    const QPointF alongTheEdge = rect.topLeft() + QPointF(8.3, 0.35);
    EXPECT_TRUE(circular.contains(alongTheEdge));
    EXPECT_FALSE(continuous.contains(alongTheEdge));
}

TEST(VornRoundedRectPath, BadSizesGiveAnEmptyShapeInsteadOfGarbage) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(vornRoundedRectPath(QRectF(0, 0, 0, 10), 4).isEmpty());
    EXPECT_TRUE(vornRoundedRectPath(QRectF(0, 0, -20, 10), 4).isEmpty());
    EXPECT_TRUE(vornRoundedRectPath(QRectF(0, 0, inf, 10), 4).isEmpty());
    EXPECT_TRUE(vornCapsulePath(QRectF(0, 0, 10, -1)).isEmpty());
    // A radius that is negative or not a number draws square corners.
    EXPECT_TRUE(vornRoundedRectPath(QRectF(0, 0, 20, 10), -3).contains(QPointF(0.2, 0.2)));
    EXPECT_TRUE(vornRoundedRectPath(QRectF(0, 0, 20, 10), nan).contains(QPointF(0.2, 0.2)));
}

TEST(VornMnemonic, AmpersandsAreShownNotReadAsMarkers) {
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {"Send Feedback & Ideas", "Send Feedback && Ideas"},
        {"&&", "&&&&"},
        {"&File", "&&File"},
        {"", ""},
        {"no marker", "no marker"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vornEscapeMnemonic(c.in), c.out) << c.in.toStdString();
    }
}

// Design sizes are device-independent pixels, fractions included, and the styles keep their order.
TEST(VornTypography, SizesArePixelsAndFractionsSurvive) {
    const QFontMetricsF twelve(vornFont(12));
    const QFontMetricsF twelveAndAHalf(vornFont(12.5));
    const QFontMetricsF thirteen(vornFont(13));
    const QString sample = QStringLiteral("Sled transfers every file");
    EXPECT_LT(twelve.horizontalAdvance(sample), thirteen.horizontalAdvance(sample));
    EXPECT_LE(twelveAndAHalf.horizontalAdvance(sample), thirteen.horizontalAdvance(sample));
    EXPECT_NEAR(vornFont(12.5).pointSizeF() / vornFont(10).pointSizeF(), 1.25, 1e-9);
    EXPECT_NEAR(vornFont(26).pointSizeF() / vornFont(13).pointSizeF(), 2.0, 1e-9);
    EXPECT_EQ(QFontInfo(vornFont(20)).pixelSize(), 20);
    EXPECT_EQ(vornFont(VornTextStyle::headline).weight(), QFont::DemiBold);
    EXPECT_EQ(vornFont(VornTextStyle::body).weight(), QFont::Normal);
    EXPECT_EQ(QFontInfo(vornFont(12, QFont::Normal, VornFontDesign::monospaced)).family(), QStringLiteral("DejaVu Sans Mono"));
    // Sizes that make no sense fall back to the smallest one instead of Qt's default.
    for (const double bad : {0.0, -4.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_GT(vornFont(bad).pointSizeF(), 0.0);
        EXPECT_LT(vornFont(bad).pointSizeF(), vornFont(2).pointSizeF());
    }
}
