#include "VornAppIdentity.h"
#include "VornBrandMark.h"
#include "VornEmblemArtworkProductivity.h"
#include "VornEmblemArtworkSystemNet.h"
#include "VornEmblemRenderer.h"
#include "VornEmblemTone.h"
#include "VornFlatDraw.h"
#include "VornTestUI.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

const VornEmblemTone& glass() { return VornEmblemTone::whiteGlass(); }

VornEmblemTone flat() { return VornEmblemTone::flatLight(QColor(20, 60, 200), QColor(240, 120, 30)); }

// The alpha a paint carries: its colour's, or the cutout's.
double paintAlpha(const VornFlatPaint& paint) {
    return paint.kind() == VornFlatPaint::Kind::cutout ? paint.cutoutAlpha() : paint.colorValue().alphaF();
}

QImage transparentImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Draws the identity the way the renderer frames it, with any tone, over `ground`.
QImage drawnEmblem(VornAppIdentity identity, const VornEmblemTone& tone, int side, const QColor& ground) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double s = 0.88 * side / 60.0;
    painter.translate(side / 2.0, side / 2.0);
    painter.scale(s, s);
    painter.translate(-50, -50);
    EXPECT_TRUE(VornEmblemRenderer::drawFlatEmblem(identity, painter, tone));
    return image;
}

// The pixel of a rendered bitmap of `side` pixels at a point of the 100-unit design space.
QColor designPixel(const QImage& image, double x, double y) {
    const double side = image.width();
    const double s = 0.88 * side / 60.0;
    return image.pixelColor(int(side / 2 + s * (x - 50)), int(side / 2 + s * (y - 50)));
}

QImage decodedPNG(VornAppIdentity identity, int side) {
    return QImage::fromData(VornEmblemRenderer::pngData(identity, side), "PNG")
        .convertToFormat(QImage::Format_ARGB32);
}

int nonTransparentPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y).alpha() > 0 ? 1 : 0;
        }
    }
    return count;
}

struct PainterState {
    QTransform transform;
    QPen pen;
    QBrush brush;
    QPainter::CompositionMode mode;
    double opacity;
    QPainter::RenderHints hints;
    bool clipping;

    explicit PainterState(const QPainter& painter)
        : transform(painter.transform()), pen(painter.pen()), brush(painter.brush()),
          mode(painter.compositionMode()), opacity(painter.opacity()), hints(painter.renderHints()),
          clipping(painter.hasClipping()) {}
    bool operator==(const PainterState& other) const {
        return transform == other.transform && pen == other.pen && brush == other.brush && mode == other.mode &&
               opacity == other.opacity && hints == other.hints && clipping == other.clipping;
    }
};

}  // namespace

TEST(VornEmblemTone, DerivedShadesFollowTheModeTable) {
    struct Row {
        const char* name;
        std::function<VornFlatPaint(const VornEmblemTone&)> paint;
        VornFlatPaint::Kind glassKind;
        double glassAlpha;
        VornFlatPaint::Kind flatKind;
        double flatAlpha;
    };
    using K = VornFlatPaint::Kind;
    const Row rows[] = {
        {"mid", [](const VornEmblemTone& t) { return t.mid(); }, K::color, 0.46, K::color, 0.46},
        {"soft", [](const VornEmblemTone& t) { return t.soft(); }, K::color, 0.16, K::color, 0.11},
        {"stroke", [](const VornEmblemTone& t) { return t.stroke(); }, K::color, 0.42, K::color, 0.28},
        {"primaryAlpha", [](const VornEmblemTone& t) { return t.primaryAlpha(0.38); }, K::color, 0.38, K::color, 0.38},
        {"accentAlpha", [](const VornEmblemTone& t) { return t.accentAlpha(0.24); }, K::color, 0.24, K::color, 0.24},
        {"cutout 0.3", [](const VornEmblemTone& t) { return t.cutout(0.3); }, K::cutout, 0.55, K::color, 0.3},
        {"cutout 0.54", [](const VornEmblemTone& t) { return t.cutout(0.54); }, K::cutout, 0.621, K::color, 0.54},
        {"cutout 0.7", [](const VornEmblemTone& t) { return t.cutout(0.7); }, K::cutout, 0.805, K::color, 0.7},
        {"cutout 0.88", [](const VornEmblemTone& t) { return t.cutout(0.88); }, K::cutout, 1.0, K::color, 0.88},
        {"cutout 1", [](const VornEmblemTone& t) { return t.cutout(1.0); }, K::cutout, 1.0, K::color, 1.0},
        {"onPrimaryAccent", [](const VornEmblemTone& t) { return t.onPrimaryAccent(); }, K::cutout, 0.86, K::color, 1.0},
    };
    // The flat tone's colours carry alphas of their own; derived shades take the table's alpha anyway.
    const VornEmblemTone flatTone = VornEmblemTone::flatLight(QColor(10, 20, 30, 100), QColor(200, 100, 50, 255));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const VornFlatPaint inGlass = row.paint(glass());
        EXPECT_EQ(inGlass.kind(), row.glassKind);
        EXPECT_NEAR(paintAlpha(inGlass), row.glassAlpha, 0.002);
        const VornFlatPaint inFlat = row.paint(flatTone);
        EXPECT_EQ(inFlat.kind(), row.flatKind);
        EXPECT_NEAR(paintAlpha(inFlat), row.flatAlpha, 0.002);
    }
    // A flat hole is the light blue-grey; a flat accent mark is the accent colour itself.
    const QColor hole = flatTone.cutout(0.3).colorValue();
    EXPECT_EQ(QColor(hole.red(), hole.green(), hole.blue()), QColor(238, 241, 247));
    EXPECT_EQ(flatTone.onPrimaryAccent().colorValue(), QColor(200, 100, 50, 255));
    EXPECT_EQ(flatTone.primary().colorValue(), QColor(10, 20, 30, 100));
    EXPECT_EQ(flatTone.mid().colorValue().rgb(), QColor(10, 20, 30).rgb());
    EXPECT_FALSE(flatTone.isWhiteGlass());

    EXPECT_TRUE(glass().isWhiteGlass());
    EXPECT_NEAR(glass().primaryColor().alphaF(), 0.98, 0.002);
    EXPECT_NEAR(glass().accentColor().alphaF(), 0.72, 0.002);
    EXPECT_EQ(glass().primaryColor().rgb(), QColor(Qt::white).rgb());
    EXPECT_EQ(&VornEmblemTone::whiteGlass(), &glass());

    // An alpha that is not a number or lies outside 0…1 keeps the colour; a cutout of one erases
    // like the faintest mark.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(flatTone.primaryAlpha(nan).colorValue(), flatTone.primaryColor());
    EXPECT_EQ(flatTone.primaryAlpha(1.5).colorValue(), flatTone.primaryColor());
    EXPECT_NEAR(glass().cutout(nan).cutoutAlpha(), 0.55, 1e-9);
}

TEST(VornEmblemPaint, CutoutsEraseFillsWindAndStrokesEndRound) {
    QImage image = transparentImage(100);
    QPainter painter(&image);
    VornEmblemPaint::fill(painter, [] {
        QPainterPath square;
        square.addRect(10, 10, 80, 80);
        return square;
    }(), VornFlatPaint::color(Qt::white));
    VornEmblemPaint::fillEllipse(painter, QRectF(20, 20, 20, 20), VornFlatPaint::cutout(1.0));
    VornEmblemPaint::fillEllipse(painter, QRectF(60, 20, 20, 20), VornFlatPaint::cutout(0.5));
    // Two overlapping squares wound the same way: non-zero winding fills their overlap.
    QPainterPath twice;
    twice.addRect(20, 55, 30, 30);
    twice.addRect(35, 55, 30, 30);
    VornEmblemPaint::fill(painter, twice, VornFlatPaint::cutout(1.0));
    // A stroke from (70, 50) to (80, 50) of width 10 ends in a half circle.
    QImage strokes = transparentImage(100);
    QPainter strokePainter(&strokes);
    QPainterPath line(QPointF(40, 50));
    line.lineTo(60, 50);
    VornEmblemPaint::stroke(strokePainter, line, VornFlatPaint::color(Qt::white), 10);
    strokePainter.end();
    painter.end();

    EXPECT_EQ(image.pixelColor(30, 30).alpha(), 0);
    EXPECT_NEAR(image.pixelColor(70, 30).alpha(), 128, 2);
    EXPECT_EQ(image.pixelColor(42, 70).alpha(), 0);  // inside both squares
    EXPECT_EQ(image.pixelColor(15, 15).alpha(), 255);
    EXPECT_EQ(image.pixelColor(5, 5).alpha(), 0);  // the cutout never paints outside what was there

    EXPECT_EQ(strokes.pixelColor(63, 50).alpha(), 255);  // the cap reaches past the end
    EXPECT_EQ(strokes.pixelColor(64, 54).alpha(), 0);    // but it is round, not square
    EXPECT_EQ(strokes.pixelColor(50, 46).alpha(), 255);
}

TEST(VornEmblemRenderer, NoteSheetIsUprightWithItsLinesAndBadgePunchedThrough) {
    const QImage image = decodedPNG(VornAppIdentity::vornNotes, 300);
    ASSERT_EQ(image.size(), QSize(300, 300));
    vornSaveArtefact(image, QStringLiteral("emblem-notes"));
    const int body = int(0.98 * 255 + 0.5);
    EXPECT_NEAR(designPixel(image, 28, 30).alpha(), body, 2);
    // The first text line sits near the top: its cutout (0.72, strengthened to 0.828) lets most of
    // the ground through; the same place mirrored is plain sheet.
    EXPECT_NEAR(designPixel(image, 40, 36.1).alpha(), int(body * (1 - 0.828) + 0.5), 3);
    EXPECT_NEAR(designPixel(image, 40, 63.9).alpha(), body, 2);
    // The badge is at the bottom right, inside a clean gap, with its plus sign punched through.
    EXPECT_EQ(designPixel(image, 53, 60).alpha(), 0);
    EXPECT_NEAR(designPixel(image, 57, 57).alpha(), int(0.72 * 255 + 0.5), 2);
    EXPECT_EQ(designPixel(image, 66, 66).alpha(), 0);
    EXPECT_NEAR(designPixel(image, 66, 30).alpha(), body, 2);
    // The ground stays transparent.
    EXPECT_EQ(designPixel(image, 18, 18).alpha(), 0);
    EXPECT_EQ(designPixel(image, 82, 82).alpha(), 0);

    // In flat mode the same marks are painted light over the sheet; the badge has no gap.
    const QImage flatImage = drawnEmblem(VornAppIdentity::vornNotes, flat(), 300, QColor(0, 0, 0));
    const QColor line = designPixel(flatImage, 40, 36.1);
    const double a = 0.72;
    EXPECT_TRUE(vornColorNear(line, QColor(int(238 * a + 20 * (1 - a) + 0.5), int(241 * a + 60 * (1 - a) + 0.5),
                                           int(247 * a + 200 * (1 - a) + 0.5)),
                              3))
        << line.name().toStdString();
    EXPECT_TRUE(vornColorNear(designPixel(flatImage, 53, 60), QColor(20, 60, 200)));
    EXPECT_TRUE(vornColorNear(designPixel(flatImage, 57, 57), QColor(240, 120, 30)));
}

TEST(VornEmblemRenderer, CameraBladesTurnTheWayTheyAreDrawnAroundAnOpenLens) {
    const QImage image = decodedPNG(VornAppIdentity::vornShot, 300);
    vornSaveArtefact(image, QStringLiteral("emblem-camera"));
    // The glint at the centre, in a clean ring of the lens opening.
    EXPECT_NEAR(designPixel(image, 50, 50).alpha(), int(0.72 * 255 + 0.5), 2);
    EXPECT_EQ(designPixel(image, 50, 41).alpha(), 0);
    // The first blade runs from (60.5, 50) down and to the right; its mirror image is solid body.
    EXPECT_EQ(designPixel(image, 63.78, 59.47).alpha(), 0);
    EXPECT_GT(designPixel(image, 63.78, 40.53).alpha(), 200);
    EXPECT_GT(designPixel(image, 74.5, 50).alpha(), 240);
    EXPECT_EQ(designPixel(image, 50, 22).alpha(), 0);
}

TEST(VornEmblemRenderer, EveryIdentityDrawsInBothTonesAndLeavesThePainterAsItFoundIt) {
    for (const VornAppIdentityInfo& info : VornAppIdentities::catalogue()) {
        SCOPED_TRACE(std::string(info.caseName));
        for (const VornEmblemTone& tone : {glass(), flat()}) {
            QImage image = transparentImage(96);
            QPainter painter(&image);
            painter.translate(48, 48);
            painter.scale(1.408, 1.408);
            painter.translate(-50, -50);
            painter.setPen(QPen(Qt::red, 3));
            painter.setBrush(Qt::green);
            painter.setOpacity(0.9);
            const PainterState before(painter);
            EXPECT_TRUE(VornEmblemRenderer::drawFlatEmblem(info.identity, painter, tone));
            EXPECT_TRUE(PainterState(painter) == before);
            painter.end();
            EXPECT_GT(nonTransparentPixels(image), 96 * 96 / 10);
        }
    }
}

TEST(VornEmblemRenderer, FamiliesDrawOnlyTheirOwnRanges) {
    for (const VornAppIdentityInfo& info : VornAppIdentities::catalogue()) {
        SCOPED_TRACE(std::string(info.caseName));
        const int tag = int(info.identity);
        QImage image = transparentImage(32);
        QPainter painter(&image);
        painter.scale(0.32, 0.32);
        EXPECT_EQ(VornEmblemArtworkProductivity::draw(info.identity, painter, glass()), tag <= 26);
        if (tag > 26) {
            EXPECT_EQ(nonTransparentPixels(image), 0);
        }
        image.fill(Qt::transparent);
        EXPECT_EQ(VornEmblemArtworkSystemNet::draw(info.identity, painter, glass()), tag >= 43);
        painter.end();
        if (tag < 43) {
            EXPECT_EQ(nonTransparentPixels(image), 0);
        }
        EXPECT_EQ(info.family == VornAppFamily::productivity, tag <= 26);
        EXPECT_EQ(info.family == VornAppFamily::systemAndNetwork, tag >= 43);
    }
}

TEST(VornEmblemRenderer, FlatToneOnlyAddsPaint) {
    const QColor ground(30, 160, 90);
    for (const VornAppIdentityInfo& info : VornAppIdentities::catalogue()) {
        SCOPED_TRACE(std::string(info.caseName));
        const QImage image = drawnEmblem(info.identity, flat(), 80, ground);
        int erased = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                erased += image.pixelColor(x, y).alpha() < 255 ? 1 : 0;
            }
        }
        EXPECT_EQ(erased, 0);
        EXPECT_EQ(image.pixelColor(0, 0), ground);
        EXPECT_EQ(image.pixelColor(79, 79), ground);
    }
}

TEST(VornEmblemRenderer, DrawingsOfOnlyTheTwoColoursLookTheSameInBothModes) {
    const VornEmblemTone flatWhite = VornEmblemTone::flatLight(glass().primaryColor(), glass().accentColor());
    for (const VornAppIdentity identity :
         {VornAppIdentity::vornBudget, VornAppIdentity::vornFonts, VornAppIdentity::vornIcons}) {
        SCOPED_TRACE(std::string(rawValue(identity)));
        EXPECT_EQ(drawnEmblem(identity, glass(), 120, Qt::transparent),
                  drawnEmblem(identity, flatWhite, 120, Qt::transparent));
    }
    // A drawing with marks does differ.
    EXPECT_NE(drawnEmblem(VornAppIdentity::vornNotes, glass(), 120, Qt::transparent),
              drawnEmblem(VornAppIdentity::vornNotes, flatWhite, 120, Qt::transparent));
}

TEST(VornEmblemRenderer, CachedImagesHoldTheirSizesKeysAndTemplateFlag) {
    struct Row {
        double points;
        double scale;
        int pixels;
        double shownPoints;
    };
    const Row rows[] = {{4, 2, 20, 10}, {6, 1, 16, 10}, {20.25, 2, 41, 20.25}, {30, 0.5, 30, 30}, {30, 5, 90, 30}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.points);
        const auto image = VornEmblemRenderer::image(VornAppIdentity::vornMail, row.points, row.scale, false);
        ASSERT_FALSE(image->isEmpty());
        EXPECT_EQ(image->bitmap.size(), QSize(row.pixels, row.pixels));
        EXPECT_DOUBLE_EQ(image->pointSize, row.shownPoints);
        EXPECT_DOUBLE_EQ(image->bitmap.deviceIndependentSize().width(), row.shownPoints);
        EXPECT_FALSE(image->isTemplate);
    }

    // The key holds the pixels, not the points: 20 at 2 and 40 at 1 are one image, of 20 points.
    const auto first = VornEmblemRenderer::image(VornAppIdentity::vornTune, 20, 2, false);
    const auto second = VornEmblemRenderer::image(VornAppIdentity::vornTune, 40, 1, false);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_DOUBLE_EQ(second->pointSize, 20);
    EXPECT_EQ(VornEmblemRenderer::cacheKey(VornAppIdentity::vornTune, 40, false), QStringLiteral("vorntune_40_glass"));

    // A template is a second entry, drawn the same way.
    const auto asTemplate = VornEmblemRenderer::image(VornAppIdentity::vornTune, 20, 2, true);
    EXPECT_NE(asTemplate.get(), first.get());
    EXPECT_TRUE(asTemplate->isTemplate);
    EXPECT_EQ(asTemplate->bitmap, first->bitmap);
    EXPECT_EQ(VornEmblemRenderer::cacheKey(VornAppIdentity::vornTune, 40, true), QStringLiteral("vorntune_40_tpl"));
}

TEST(VornEmblemRenderer, UndrawableSizesGiveEmptyImagesAndEmptyPNG) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double points : {inf, -inf, nan, 1e300, double(VornEmblemRenderer::maximumPixelSize) + 1}) {
        SCOPED_TRACE(points);
        EXPECT_TRUE(VornEmblemRenderer::image(VornAppIdentity::vornDisk, points, 1, false)->isEmpty());
    }
    // A scale that is not a number draws at 1.
    EXPECT_EQ(VornEmblemRenderer::image(VornAppIdentity::vornDisk, 24, nan, false)->bitmap.width(), 24);
    for (const int pixels : {0, -64, VornEmblemRenderer::maximumPixelSize + 1, std::numeric_limits<int>::max()}) {
        SCOPED_TRACE(pixels);
        EXPECT_TRUE(VornEmblemRenderer::pngData(VornAppIdentity::vornDisk, pixels).isEmpty());
    }
    const QImage png = QImage::fromData(VornEmblemRenderer::pngData(VornAppIdentity::vornDisk, 64), "PNG");
    EXPECT_EQ(png.size(), QSize(64, 64));
    EXPECT_TRUE(png.hasAlphaChannel());
    EXPECT_EQ(png.pixelColor(0, 0).alpha(), 0);
    EXPECT_GT(png.pixelColor(32, 32).alpha(), 200);
    EXPECT_EQ(png.pixelColor(32, 32).red(), 255);
}

TEST(VornAppEmblem, BrandMarkShowsTheEmblemAndTemplatesTakeTheForeground) {
    VornBrandMark mark(64, VornBrandMarkStyle::app(VornAppIdentity::vornNotes));
    EXPECT_FALSE(mark.drawsVectorMark());
    ASSERT_NE(mark.emblem(), nullptr);
    EXPECT_EQ(mark.emblem()->app(), VornAppIdentity::vornNotes);
    EXPECT_DOUBLE_EQ(mark.emblem()->emblemSize(), 64);
    EXPECT_FALSE(mark.emblem()->asTemplate());
    const QImage shown = vornRenderOnBlack(mark, QSize(64, 64));
    vornSaveArtefact(shown, QStringLiteral("brand-mark-emblem"));
    // The sheet's body at design (28, 30) is near-white; the ground around it stays black.
    EXPECT_GT(designPixel(shown, 28, 30).red(), 230);
    EXPECT_TRUE(vornColorNear(shown.pixelColor(1, 1), Qt::black));

    // The running program resolves to an identity, so its own mark is its emblem.
    VornBrandMark current(22, VornBrandMarkStyle::currentApp());
    EXPECT_EQ(current.drawsVectorMark(), !VornAppIdentities::current().has_value());
    VornBrandMark suite(22, VornBrandMarkStyle::vornworksSuite());
    EXPECT_EQ(suite.emblem(), nullptr);

    VornAppEmblem tinted(VornAppIdentity::vornNotes, 64, true);
    QPalette palette = tinted.palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    tinted.setPalette(palette);
    const QImage red = vornRenderOnBlack(tinted, QSize(64, 64));
    EXPECT_TRUE(vornColorNear(designPixel(red, 28, 30), QColor(255, 0, 0), 6)) << designPixel(red, 28, 30).name().toStdString();
    EXPECT_TRUE(vornColorNear(red.pixelColor(1, 1), Qt::black));
}
