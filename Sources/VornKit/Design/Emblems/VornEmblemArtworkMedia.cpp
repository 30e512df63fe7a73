#include "VornEmblemArtworkMedia.h"

#include "VornEmblemCanvas.h"
#include "VornFlatDraw.h"

#include <QPainter>

#include <array>

using namespace detail;

namespace {

// An arrow head pointing along `degrees`, its tip at `tip`.
QPainterPath arrowHead(QPointF tip, double degrees, double length, double halfWidth) {
    const QPointF back = emblemPolar(length, degrees + 180, tip);
    const QPointF left = emblemPolar(halfWidth, degrees - 90, back);
    const QPointF right = emblemPolar(halfWidth, degrees + 90, back);
    return emblemPolyline({tip, left, right}, true);
}

}  // namespace

// A framed landscape: hills under the sun.
void VornEmblemArtworkMedia::drawVornPhotos(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(19, 23, 62, 54, 10, tone.primary());
    QPainterPath hills(QPointF(25, 71));
    hills.lineTo(41, 48);
    hills.lineTo(51, 60);
    hills.lineTo(59, 51);
    hills.lineTo(75, 71);
    hills.closeSubpath();
    c.fill(hills, tone.cutout(1.0));
    c.stroke(hills, tone.cutout(1.0), 2.6);
    c.fillCircle(63, 36, 5.5, tone.onPrimaryAccent());
}

// A lens held in the corner brackets of a frame.
void VornEmblemArtworkMedia::drawVornFrame(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const double lo = 21;
    const double hi = 79;
    const double arm = 14;
    for (const auto& corner : {std::array<QPointF, 3>{QPointF(lo, lo + arm), QPointF(lo, lo), QPointF(lo + arm, lo)},
                               std::array<QPointF, 3>{QPointF(hi - arm, lo), QPointF(hi, lo), QPointF(hi, lo + arm)},
                               std::array<QPointF, 3>{QPointF(lo, hi - arm), QPointF(lo, hi), QPointF(lo + arm, hi)},
                               std::array<QPointF, 3>{QPointF(hi - arm, hi), QPointF(hi, hi), QPointF(hi, hi - arm)}}) {
        c.stroke(emblemPolyline({corner[0], corner[1], corner[2]}, false), tone.primary(), 5);
    }
    c.fillCircle(50, 50, 16, tone.primary());
    c.strokeCircle(50, 50, 10, tone.cutout(1.0), 2.6);
    c.fillCircle(50, 50, 4.6, tone.cutout(0.6));
    c.fillCircle(45.5, 45.5, 2.6, tone.onPrimaryAccent());
}

// A timeline of clips on three tracks, with the playhead.
void VornEmblemArtworkMedia::drawVornCut(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.capsule(20, 27, 24, 11, tone.primary());
    c.capsule(47, 27, 33, 11, tone.mid());
    c.capsule(20, 44.5, 36, 11, tone.mid());
    c.capsule(59, 44.5, 21, 11, tone.primary());
    c.capsule(20, 62, 15, 11, tone.primary());
    c.capsule(38, 62, 42, 11, tone.mid());
    const QPainterPath head = emblemLine(53, 24, 53, 79);
    c.gapStroke(head, 3.4);
    c.stroke(head, tone.accent(), 3.4);
    QPainterPath handle = emblemRoundedRect(47, 18, 12, 9, 3);
    handle.addPath(emblemPolyline({{48.5, 26}, {53, 31}, {57.5, 26}}, true));
    c.gapPath(handle, 1.8);
    c.fill(handle, tone.accent());
}

// A microphone on its stand, on the air.
void VornEmblemArtworkMedia::drawVornPodcast(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.stroke(emblemArc(50, 37, 26, 150, 210), tone.accent(), 3.4);
    c.stroke(emblemArc(50, 37, 26, -30, 30), tone.accent(), 3.4);
    c.capsule(40, 17, 20, 36, tone.primary());
    for (int i = 0; i < 3; ++i) {
        c.capsule(44, 26 + i * 6.5, 12, 3, tone.cutout(0.62));
    }
    c.stroke(emblemArc(50, 40, 16, 0, 180), tone.primary(), 3.8);
    c.line(50, 56, 50, 70, tone.primary(), 3.8);
    c.capsule(37, 69, 26, 5, tone.primary());
}

// A radio set: speaker, tuning scale and antenna.
void VornEmblemArtworkMedia::drawVornRadio(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.line(30, 34, 62, 20, tone.primary(), 3);
    c.fillCircle(62, 20, 3.4, tone.accent());
    c.roundedRect(18, 33, 64, 44, 10, tone.primary());
    c.fillCircle(37, 55, 12, tone.cutout(1.0));
    c.fillCircle(37, 55, 7.5, tone.primaryAlpha(0.62));
    c.fillCircle(37, 55, 2.6, tone.cutout(0.9));
    c.capsule(55, 43, 20, 9, tone.cutout(0.7));
    c.line(63, 41.5, 63, 53.5, tone.onPrimaryAccent(), 2.2);
    c.fillCircle(59, 64, 4, tone.cutout(0.8));
    c.fillCircle(71, 64, 4, tone.cutout(0.8));
}

// A screen sending its picture out from one corner.
void VornEmblemArtworkMedia::drawVornCast(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath screen = emblemRoundedRect(20, 23, 60, 46, 8);
    c.fill(screen, tone.soft());
    c.stroke(screen, tone.primary(), 3.4);
    c.gapCircle(23, 74, 26, 0);
    c.fillCircle(24, 73, 4, tone.accent());
    c.stroke(emblemArc(24, 73, 12, -90, 0), tone.primary(), 4.2);
    c.stroke(emblemArc(24, 73, 20.5, -90, 0), tone.primary(), 4.2);
}

// A camera seen from the front: the aperture blades around the lens.
void VornEmblemArtworkMedia::drawVornShot(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fillEllipse(24, 24, 52, 52, tone.primary());
    for (int i = 0; i < 6; ++i) {
        const QPointF from = emblemPolar(10.5, 60.0 * i);
        const QPointF to = emblemPolar(25.5, 60.0 * i + 48);
        c.line(from.x(), from.y(), to.x(), to.y(), tone.cutout(1.0), 2.6);
    }
    c.fillEllipse(39.5, 39.5, 21, 21, tone.cutout(1.0));
    c.fillEllipse(43.5, 43.5, 13, 13, tone.accent());
}

// Pixel art: a heart on a grid of square pixels.
void VornEmblemArtworkMedia::drawVornPixel(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    // 0 empty canvas, 1 primary, 2 mid, 3 accent.
    static constexpr std::array<std::array<int, 5>, 5> grid{{
        {0, 1, 0, 1, 0},
        {1, 3, 1, 1, 1},
        {1, 1, 1, 1, 2},
        {0, 1, 1, 2, 0},
        {0, 0, 1, 0, 0},
    }};
    for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 5; ++column) {
            const double x = 20.6 + column * 12;
            const double y = 20.6 + row * 12;
            switch (grid[std::size_t(row)][std::size_t(column)]) {
                case 1: c.roundedRect(x, y, 10.8, 10.8, 2.6, tone.primary()); break;
                case 2: c.roundedRect(x, y, 10.8, 10.8, 2.6, tone.mid()); break;
                case 3: c.roundedRect(x, y, 10.8, 10.8, 2.6, tone.accent()); break;
                default: c.roundedRect(x, y, 10.8, 10.8, 2.6, tone.soft()); break;
            }
        }
    }
}

// A pen curve with its anchors and one handle.
void VornEmblemArtworkMedia::drawVornVector(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath curve(QPointF(26, 70));
    curve.cubicTo(30, 34, 66, 70, 74, 30);
    c.line(26, 70, 40, 32, tone.stroke(), 2);
    c.fillCircle(40, 32, 3.6, tone.accent());
    c.stroke(curve, tone.primary(), 4.2);
    for (const QPointF anchor : {QPointF(26, 70), QPointF(74, 30)}) {
        c.gapRoundedRect(anchor.x() - 5.5, anchor.y() - 5.5, 11, 11, 2.8, 1.2);
        c.roundedRect(anchor.x() - 5.5, anchor.y() - 5.5, 11, 11, 2.8, tone.primary());
        c.roundedRect(anchor.x() - 2.2, anchor.y() - 2.2, 4.4, 4.4, 1, tone.cutout(1.0));
    }
    c.fillCircle(50, 50, 3.4, tone.primary());
}

// A painter's palette with its wells, one holding paint.
void VornEmblemArtworkMedia::drawVornColor(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath palette(QPointF(50, 21));
    palette.cubicTo(67, 21, 80, 33, 80, 47);
    palette.cubicTo(80, 59, 71, 62, 64, 60);
    palette.cubicTo(57, 58, 53, 62, 55, 68);
    palette.cubicTo(57, 75, 53, 79, 47, 79);
    palette.cubicTo(31, 79, 20, 66, 20, 50);
    palette.cubicTo(20, 34, 32, 21, 50, 21);
    palette.closeSubpath();
    c.fill(palette, tone.primary());
    c.fillCircle(34, 42, 5.2, tone.cutout(1.0));
    c.fillCircle(49, 33, 5.2, tone.cutout(1.0));
    c.fillCircle(65, 38, 5.2, tone.cutout(1.0));
    c.fillCircle(33, 60, 6, tone.cutout(1.0));
    c.fillCircle(33, 60, 3.4, tone.accent());
}

// A letter A beside a small a: primary and accent only, the same in both modes.
void VornEmblemArtworkMedia::drawVornFonts(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.stroke(emblemPolyline({{20, 76}, {36.5, 25}, {53, 76}}, false), tone.primary(), 6);
    c.line(26.5, 60, 46.5, 60, tone.primary(), 5);
    c.strokeCircle(65, 66.5, 8.5, tone.accent(), 5);
    c.line(73.5, 55, 73.5, 76, tone.accent(), 5);
}

// A two-by-two grid of icons: primary, mid and accent only, the same in both modes.
void VornEmblemArtworkMedia::drawVornIcons(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.roundedRect(21, 21, 27, 27, 8, tone.primary());
    c.roundedRect(52, 21, 27, 27, 8, tone.mid());
    c.roundedRect(21, 52, 27, 27, 8, tone.mid());
    c.roundedRect(52, 52, 27, 27, 8, tone.accent());
    c.fillCircle(65.5, 34.5, 6, tone.primary());
    c.fill(emblemPolyline({{34.5, 59}, {42, 72}, {27, 72}}, true), tone.primary());
}

// Two arrows chasing each other round a circle.
void VornEmblemArtworkMedia::drawVornLoop(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const double r = 22;
    c.stroke(emblemArc(50, 50, r, 200, 320), tone.primary(), 5.5);
    c.fill(arrowHead(emblemPolar(r, 340), 340 + 90, 11, 8), tone.primary());
    c.stroke(emblemArc(50, 50, r, 20, 140), tone.primary(), 5.5);
    c.fill(arrowHead(emblemPolar(r, 160), 160 + 90, 11, 8), tone.primary());
    c.fillCircle(50, 50, 6, tone.accent());
}

// A subtitle file: a folded page with caption lines.
void VornEmblemArtworkMedia::drawVornSubtitle(QPainter& painter, const VornEmblemTone& tone) {
    VornFlatDraw::foldedSheet(painter, tone);
    const EmblemCanvas c(painter, tone);
    c.capsule(34, 52, 32, 4.6, tone.cutout(0.9));
    c.capsule(38, 60, 24, 4.6, tone.cutout(0.7));
    c.capsule(34, 68, 16, 4.6, tone.cutout(0.7));
}

// A pair of beamed notes.
void VornEmblemArtworkMedia::drawVornTune(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    c.fill(emblemPolyline({{38.5, 27}, {74.5, 19}, {74.5, 28}, {38.5, 36}}, true), tone.primary());
    c.line(40.5, 31, 40.5, 66, tone.primary(), 4.2);
    c.line(72.5, 24, 72.5, 59, tone.primary(), 4.2);
    painter.save();
    painter.translate(32, 67);
    painter.rotate(-20);
    c.fillEllipse(-10, -7, 20, 14, tone.primary());
    painter.restore();
    painter.save();
    painter.translate(64, 60);
    painter.rotate(-20);
    c.fillEllipse(-10, -7, 20, 14, tone.accent());
    painter.restore();
}
