#include "VornEmblemTone.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

QColor VornEmblemTone::withAlpha(const QColor& color, double alpha) {
    if (!std::isfinite(alpha) || alpha < 0 || alpha > 1 || !color.isValid()) {
        return color;
    }
    QColor copy = color;
    copy.setAlphaF(float(alpha));
    return copy;
}

QColor VornEmblemTone::flatCutoutColor(double alpha) {
    return withAlpha(QColor::fromRgbF(238.0f / 255.0f, 241.0f / 255.0f, 247.0f / 255.0f, 1.0f), alpha);
}

VornFlatPaint VornEmblemTone::cutout(double alpha) const {
    if (!isWhiteGlass_) {
        return VornFlatPaint::color(flatCutoutColor(alpha));
    }
    // A value that is not a number erases as little as any mark does.
    const double asked = std::isfinite(alpha) ? alpha * 1.15 : 0.0;
    return VornFlatPaint::cutout(std::min(std::max(asked, 0.55), 1.0));
}

VornFlatPaint VornEmblemTone::onPrimaryAccent() const {
    return isWhiteGlass_ ? VornFlatPaint::cutout(0.86) : accent();
}

const VornEmblemTone& VornEmblemTone::whiteGlass() {
    static const VornEmblemTone tone(QColor::fromRgbF(1, 1, 1, 0.98f), QColor::fromRgbF(1, 1, 1, 0.72f), true);
    return tone;
}

namespace {

// Sets up the painter for one paint; a cutout erases with black, of which only the alpha counts.
QColor setUpPaint(QPainter& painter, const VornFlatPaint& paint) {
    if (paint.kind() == VornFlatPaint::Kind::cutout) {
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        const double alpha = std::clamp(std::isfinite(paint.cutoutAlpha()) ? paint.cutoutAlpha() : 0.0, 0.0, 1.0);
        return QColor::fromRgbF(0, 0, 0, float(alpha));
    }
    return paint.colorValue();
}

QPen roundPen(const QColor& color, double lineWidth) {
    QPen pen(color);
    pen.setWidthF(std::isfinite(lineWidth) && lineWidth > 0 ? lineWidth : 0.0);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

}  // namespace

void VornEmblemPaint::fill(QPainter& painter, const QPainterPath& path, const VornFlatPaint& paint) {
    painter.save();
    const QColor color = setUpPaint(painter, paint);
    QPainterPath winding = path;
    winding.setFillRule(Qt::WindingFill);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(winding);
    painter.restore();
}

void VornEmblemPaint::fillEllipse(QPainter& painter, const QRectF& rect, const VornFlatPaint& paint) {
    painter.save();
    const QColor color = setUpPaint(painter, paint);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(rect);
    painter.restore();
}

void VornEmblemPaint::stroke(QPainter& painter, const QPainterPath& path, const VornFlatPaint& paint,
                             double lineWidth) {
    if (!(lineWidth > 0)) {
        return;  // a zero-width pen would draw a cosmetic hairline
    }
    painter.save();
    const QColor color = setUpPaint(painter, paint);
    painter.setPen(roundPen(color, lineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.restore();
}

void VornEmblemPaint::strokeEllipse(QPainter& painter, const QRectF& rect, const VornFlatPaint& paint,
                                    double lineWidth) {
    if (!(lineWidth > 0)) {
        return;
    }
    painter.save();
    const QColor color = setUpPaint(painter, paint);
    painter.setPen(roundPen(color, lineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(rect);
    painter.restore();
}
