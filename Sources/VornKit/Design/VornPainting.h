#pragma once

#include "VornPalette.h"

#include <QColor>
#include <QPainterPath>
#include <QPalette>
#include <QRectF>
#include <QString>

class QAbstractScrollArea;
class QApplication;
class QPainter;

// A rounded rectangle with continuous corners: the curve starts further along each edge than a
// circular arc would and bends in gradually, so the edge flows into the corner. A radius of half
// the shorter side or more gives a capsule. Empty or inverted rectangles give an empty path.
QPainterPath vornRoundedRectPath(const QRectF& rect, double cornerRadius);
// A capsule: the ends are half circles.
QPainterPath vornCapsulePath(const QRectF& rect);

// Fills `shape` (built for `rect` by one of the helpers above) and draws a 1-point border inside it:
// the stroke runs half a point inside the edge, so it never spills past the shape.
void vornPaintGlassRoundedRect(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& fill,
                               const QColor& border);
void vornPaintGlassCapsule(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& border);

// The window ground: the palette's three stops from the top-left corner to the bottom-right one,
// with a soft white glow from the top-left corner.
void vornPaintGround(QPainter& painter, const QRectF& rect, VornProductPalette palette);

// The application's one dark palette for Fusion (selection in the given accent).
QPalette vornDarkPalette(VornProductPalette accentPalette = VornProductPalette::deepCoral);
// Fusion, the dark palette, no style sheet. Call once after creating the application.
void vornApplyDesignLook(QApplication& application, VornProductPalette accentPalette = VornProductPalette::deepCoral);

// Glass surfaces show the ground through them, so a scroll area, list or table between them must
// draw no background or frame of its own; this clears both (its rows still draw their selection).
void vornMakeTransparent(QAbstractScrollArea* area);

// Qt reads "&" in the texts of actions, buttons and check boxes as the mark of a mnemonic; a text
// shown as it is doubles each one.
QString vornEscapeMnemonic(const QString& text);

// The keyboard focus ring of the design's controls: drawn just inside `shape`'s rectangle so it never
// leaves the widget. A negative radius means a capsule.
void vornPaintFocusRing(QPainter& painter, const QRectF& rect, double cornerRadius);

// Disabled design controls draw at this opacity.
inline constexpr double vornDisabledOpacity = 0.4;
