#include "VornFlatDraw.h"

#include "VornEmblemCanvas.h"

using namespace detail;

void VornFlatDraw::displayFrame(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    const QPainterPath screen = emblemRoundedRect(21, 25, 58, 39, 8.5);
    c.fill(screen, tone.soft());
    c.stroke(screen, tone.primary(), 3);
    c.roundedRect(38, 70, 24, 4.6, 2.3, tone.primaryAlpha(0.82));
}

void VornFlatDraw::foldedSheet(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath page(QPointF(33, 22));
    page.lineTo(56, 22);
    page.lineTo(73, 39);
    page.lineTo(73, 72);
    page.cubicTo(73, 75.3, 70.3, 78, 67, 78);
    page.lineTo(33, 78);
    page.cubicTo(29.7, 78, 27, 75.3, 27, 72);
    page.lineTo(27, 28);
    page.cubicTo(27, 24.7, 29.7, 22, 33, 22);
    page.closeSubpath();
    c.fill(page, tone.primary());

    QPainterPath fold(QPointF(56, 22));
    fold.lineTo(56, 34);
    fold.cubicTo(56, 36.8, 58.2, 39, 61, 39);
    fold.lineTo(73, 39);
    fold.closeSubpath();
    // The fold is punched at exactly 0.55, softer than any mark made through the tone's cutout.
    c.fill(fold, tone.isWhiteGlass() ? VornFlatPaint::cutout(0.55) : tone.accent());
}

void VornFlatDraw::splitShield(QPainter& painter, const VornEmblemTone& tone) {
    const EmblemCanvas c(painter, tone);
    QPainterPath left(QPointF(48.7, 23));
    left.lineTo(27, 31.4);
    left.cubicTo(27, 49.4, 33.8, 65.4, 48.7, 76);
    left.closeSubpath();
    c.fill(left, tone.primary());

    QPainterPath right(QPointF(51.3, 23));
    right.lineTo(73, 31.4);
    right.cubicTo(73, 49.4, 66.2, 65.4, 51.3, 76);
    right.closeSubpath();
    c.fill(right, tone.mid());
}
