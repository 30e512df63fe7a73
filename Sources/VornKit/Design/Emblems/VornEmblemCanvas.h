#pragma once

#include "VornEmblemTone.h"

#include <QPainterPath>
#include <QPointF>

#include <initializer_list>

class QPainter;

// Shorthands the artwork families share: shapes in the 100-unit design space (y grows downward)
// and the tone's three operations bound to one painter.
namespace detail {

// The platform's rounded rectangle: one radius for both axes, held to half the smaller side.
QPainterPath emblemRoundedRect(double x, double y, double w, double h, double radius);
// A rounded rectangle whose radius is half its smaller side.
QPainterPath emblemCapsule(double x, double y, double w, double h);
QPainterPath emblemEllipse(double x, double y, double w, double h);
QPainterPath emblemCircle(double cx, double cy, double radius);
QPainterPath emblemLine(double x1, double y1, double x2, double y2);
// Straight segments through the points; closed for fills, open for strokes.
QPainterPath emblemPolyline(std::initializer_list<QPointF> points, bool closed);
// An arc around (cx, cy) from `startDegrees` to `endDegrees`; angles grow clockwise on screen
// (y points down), so 0 is to the right and 90 straight down.
QPainterPath emblemArc(double cx, double cy, double radius, double startDegrees, double endDegrees);
// A pie slice around `centre` between two angles (same sense as emblemArc).
QPainterPath emblemWedge(QPointF centre, double radius, double startDegrees, double endDegrees);
// The part of a ring between two radii and two angles.
QPainterPath emblemRingSegment(QPointF centre, double innerRadius, double outerRadius, double startDegrees,
                               double endDegrees);
// The point at `radius` and `degrees` around `center`.
QPointF emblemPolar(double radius, double degrees, QPointF center = QPointF(50, 50));

class EmblemCanvas {
public:
    EmblemCanvas(QPainter& painter, const VornEmblemTone& tone) : painter_(painter), tone_(tone) {}

    QPainter& painter() const { return painter_; }
    const VornEmblemTone& tone() const { return tone_; }
    bool whiteGlass() const { return tone_.isWhiteGlass(); }

    void fill(const QPainterPath& path, const VornFlatPaint& paint) const;
    void fillEllipse(double x, double y, double w, double h, const VornFlatPaint& paint) const;
    void fillCircle(double cx, double cy, double radius, const VornFlatPaint& paint) const;
    void stroke(const QPainterPath& path, const VornFlatPaint& paint, double lineWidth) const;
    void strokeEllipse(double x, double y, double w, double h, const VornFlatPaint& paint, double lineWidth) const;
    void strokeCircle(double cx, double cy, double radius, const VornFlatPaint& paint, double lineWidth) const;
    void roundedRect(double x, double y, double w, double h, double radius, const VornFlatPaint& paint) const;
    void capsule(double x, double y, double w, double h, const VornFlatPaint& paint) const;
    void line(double x1, double y1, double x2, double y2, const VornFlatPaint& paint, double lineWidth) const;

    // White glass only: a clean gap around a front shape, the outline grown by `grow` units on each
    // side (radius grown to match), so the front shape stands apart from the body under it.
    void gapRoundedRect(double x, double y, double w, double h, double radius, double grow = 2) const;
    void gapCircle(double cx, double cy, double radius, double grow = 2) const;
    void gapPath(const QPainterPath& path, double grow = 2) const;
    void gapStroke(const QPainterPath& path, double lineWidth, double grow = 2) const;

    // Runs `draw` with every shape held inside `clip`, so that marks running to a body's edge stop
    // there (in flat mode they would otherwise show past it); the painter's clip is restored after.
    template <typename Draw>
    void within(const QPainterPath& clip, Draw&& draw) const {
        saveClip(clip);
        draw();
        restoreClip();
    }

private:
    void saveClip(const QPainterPath& clip) const;
    void restoreClip() const;

    QPainter& painter_;
    const VornEmblemTone& tone_;
};

}  // namespace detail
