#include "VornEmblemCanvas.h"

#include <QPainter>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace detail {

QPainterPath emblemRoundedRect(double x, double y, double w, double h, double radius) {
    QPainterPath path;
    const double r = std::clamp(radius, 0.0, std::min(w, h) / 2.0);
    if (r <= 0) {
        path.addRect(QRectF(x, y, w, h));
    } else {
        path.addRoundedRect(QRectF(x, y, w, h), r, r);
    }
    return path;
}

QPainterPath emblemCapsule(double x, double y, double w, double h) {
    return emblemRoundedRect(x, y, w, h, std::min(w, h) / 2.0);
}

QPainterPath emblemEllipse(double x, double y, double w, double h) {
    QPainterPath path;
    path.addEllipse(QRectF(x, y, w, h));
    return path;
}

QPainterPath emblemCircle(double cx, double cy, double radius) {
    return emblemEllipse(cx - radius, cy - radius, 2 * radius, 2 * radius);
}

QPainterPath emblemLine(double x1, double y1, double x2, double y2) {
    QPainterPath path(QPointF(x1, y1));
    path.lineTo(x2, y2);
    return path;
}

QPainterPath emblemPolyline(std::initializer_list<QPointF> points, bool closed) {
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        if (first) {
            path.moveTo(point);
            first = false;
        } else {
            path.lineTo(point);
        }
    }
    if (closed) {
        path.closeSubpath();
    }
    return path;
}

QPainterPath emblemArc(double cx, double cy, double radius, double startDegrees, double endDegrees) {
    QPainterPath path;
    const QRectF rect(cx - radius, cy - radius, 2 * radius, 2 * radius);
    // Qt counts angles counter-clockwise on screen; the design counts them clockwise.
    path.arcMoveTo(rect, -startDegrees);
    path.arcTo(rect, -startDegrees, -(endDegrees - startDegrees));
    return path;
}

QPainterPath emblemWedge(QPointF centre, double radius, double startDegrees, double endDegrees) {
    const QRectF rect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path;
    path.moveTo(centre);
    path.arcTo(rect, -startDegrees, -(endDegrees - startDegrees));
    path.closeSubpath();
    return path;
}

QPainterPath emblemRingSegment(QPointF centre, double innerRadius, double outerRadius, double startDegrees,
                               double endDegrees) {
    const QRectF outer(centre.x() - outerRadius, centre.y() - outerRadius, 2 * outerRadius, 2 * outerRadius);
    const QRectF inner(centre.x() - innerRadius, centre.y() - innerRadius, 2 * innerRadius, 2 * innerRadius);
    QPainterPath path;
    path.arcMoveTo(outer, -startDegrees);
    path.arcTo(outer, -startDegrees, -(endDegrees - startDegrees));
    path.arcTo(inner, -endDegrees, endDegrees - startDegrees);
    path.closeSubpath();
    return path;
}

QPointF emblemPolar(double radius, double degrees, QPointF center) {
    const double radians = degrees * std::numbers::pi / 180.0;
    return QPointF(center.x() + radius * std::cos(radians), center.y() + radius * std::sin(radians));
}

void EmblemCanvas::fill(const QPainterPath& path, const VornFlatPaint& paint) const {
    VornEmblemPaint::fill(painter_, path, paint);
}

void EmblemCanvas::fillEllipse(double x, double y, double w, double h, const VornFlatPaint& paint) const {
    VornEmblemPaint::fillEllipse(painter_, QRectF(x, y, w, h), paint);
}

void EmblemCanvas::fillCircle(double cx, double cy, double radius, const VornFlatPaint& paint) const {
    fillEllipse(cx - radius, cy - radius, 2 * radius, 2 * radius, paint);
}

void EmblemCanvas::stroke(const QPainterPath& path, const VornFlatPaint& paint, double lineWidth) const {
    VornEmblemPaint::stroke(painter_, path, paint, lineWidth);
}

void EmblemCanvas::strokeEllipse(double x, double y, double w, double h, const VornFlatPaint& paint,
                                 double lineWidth) const {
    VornEmblemPaint::strokeEllipse(painter_, QRectF(x, y, w, h), paint, lineWidth);
}

void EmblemCanvas::strokeCircle(double cx, double cy, double radius, const VornFlatPaint& paint,
                                double lineWidth) const {
    strokeEllipse(cx - radius, cy - radius, 2 * radius, 2 * radius, paint, lineWidth);
}

void EmblemCanvas::roundedRect(double x, double y, double w, double h, double radius,
                               const VornFlatPaint& paint) const {
    fill(emblemRoundedRect(x, y, w, h, radius), paint);
}

void EmblemCanvas::capsule(double x, double y, double w, double h, const VornFlatPaint& paint) const {
    fill(emblemCapsule(x, y, w, h), paint);
}

void EmblemCanvas::line(double x1, double y1, double x2, double y2, const VornFlatPaint& paint,
                        double lineWidth) const {
    stroke(emblemLine(x1, y1, x2, y2), paint, lineWidth);
}

void EmblemCanvas::saveClip(const QPainterPath& clip) const {
    painter_.save();
    painter_.setClipPath(clip, painter_.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
}

void EmblemCanvas::restoreClip() const { painter_.restore(); }

void EmblemCanvas::gapRoundedRect(double x, double y, double w, double h, double radius, double grow) const {
    if (whiteGlass()) {
        fill(emblemRoundedRect(x - grow, y - grow, w + 2 * grow, h + 2 * grow, radius + grow),
             VornFlatPaint::cutout(1.0));
    }
}

void EmblemCanvas::gapCircle(double cx, double cy, double radius, double grow) const {
    if (whiteGlass()) {
        fillCircle(cx, cy, radius + grow, VornFlatPaint::cutout(1.0));
    }
}

void EmblemCanvas::gapPath(const QPainterPath& path, double grow) const {
    if (whiteGlass()) {
        fill(path, VornFlatPaint::cutout(1.0));
        stroke(path, VornFlatPaint::cutout(1.0), 2 * grow);
    }
}

void EmblemCanvas::gapStroke(const QPainterPath& path, double lineWidth, double grow) const {
    if (whiteGlass()) {
        stroke(path, VornFlatPaint::cutout(1.0), lineWidth + 2 * grow);
    }
}

}  // namespace detail
