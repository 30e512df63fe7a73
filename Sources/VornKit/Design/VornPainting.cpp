#include "VornPainting.h"

#include "VornGlassTokens.h"
#include "VornStandardTexts.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QStyleFactory>

#include <algorithm>
#include <cmath>

namespace {

bool usable(const QRectF& rect) {
    return rect.isValid() && std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width()) &&
           std::isfinite(rect.height());
}

}  // namespace

QPainterPath vornRoundedRectPath(const QRectF& rect, double cornerRadius) {
    QPainterPath path;
    if (!usable(rect)) {
        return path;
    }
    const double half = std::min(rect.width(), rect.height()) / 2.0;
    double radius = std::isfinite(cornerRadius) ? std::max(0.0, cornerRadius) : 0.0;
    if (radius <= 0.0) {
        path.addRect(rect);
        return path;
    }
    if (radius >= half) {
        return vornCapsulePath(rect);
    }
    // The curve takes up to 1.28 radii of each edge; where the rectangle is too short for that the
    // corner tightens towards a circular arc rather than overlapping its neighbour.
    const double extent = std::min(radius * 1.28, half);
    // Control handles close to the corner give the gradual, continuous bend.
    const double handle = extent * 0.36;
    const double l = rect.left();
    const double t = rect.top();
    const double r = rect.right();
    const double b = rect.bottom();
    path.moveTo(l + extent, t);
    path.lineTo(r - extent, t);
    path.cubicTo(r - handle, t, r, t + handle, r, t + extent);
    path.lineTo(r, b - extent);
    path.cubicTo(r, b - handle, r - handle, b, r - extent, b);
    path.lineTo(l + extent, b);
    path.cubicTo(l + handle, b, l, b - handle, l, b - extent);
    path.lineTo(l, t + extent);
    path.cubicTo(l, t + handle, l + handle, t, l + extent, t);
    path.closeSubpath();
    return path;
}

QPainterPath vornCapsulePath(const QRectF& rect) {
    QPainterPath path;
    if (!usable(rect)) {
        return path;
    }
    const double radius = std::min(rect.width(), rect.height()) / 2.0;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

static void paintGlassShape(QPainter& painter, const QPainterPath& fillShape, const QPainterPath& borderShape,
                            const QColor& fill, const QColor& border) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPath(fillShape);
    if (border.alpha() > 0) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(border, 1.0));
        painter.drawPath(borderShape);
    }
    painter.restore();
}

void vornPaintGlassRoundedRect(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& fill,
                               const QColor& border) {
    if (!usable(rect)) {
        return;
    }
    const QRectF inner = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    paintGlassShape(painter, vornRoundedRectPath(rect, cornerRadius),
                    inner.isValid() ? vornRoundedRectPath(inner, cornerRadius - 0.5) : QPainterPath(), fill, border);
}

void vornPaintGlassCapsule(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& border) {
    if (!usable(rect)) {
        return;
    }
    const QRectF inner = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    paintGlassShape(painter, vornCapsulePath(rect), inner.isValid() ? vornCapsulePath(inner) : QPainterPath(), fill,
                    border);
}

void vornPaintGround(QPainter& painter, const QRectF& rect, VornProductPalette palette) {
    if (!usable(rect)) {
        return;
    }
    const VornGroundStops stops = groundStops(palette);
    painter.save();
    QLinearGradient ground(rect.topLeft(), rect.bottomRight());
    ground.setColorAt(0.0, stops.topLeft);
    ground.setColorAt(0.5, stops.middle);
    ground.setColorAt(1.0, stops.bottomRight);
    painter.fillRect(rect, ground);
    // The glow: white at 0.09 up to 20 points from the corner, fading to nothing at 520.
    QRadialGradient glow(rect.topLeft(), 520.0);
    glow.setColorAt(0.0, QColor::fromRgbF(1, 1, 1, 0.09f));
    glow.setColorAt(20.0 / 520.0, QColor::fromRgbF(1, 1, 1, 0.09f));
    glow.setColorAt(1.0, QColor::fromRgbF(1, 1, 1, 0.0f));
    painter.fillRect(rect, glow);
    painter.restore();
}

void vornPaintFocusRing(QPainter& painter, const QRectF& rect, double cornerRadius) {
    const QRectF ring = rect.adjusted(0.75, 0.75, -0.75, -0.75);
    if (!usable(ring)) {
        return;
    }
    painter.save();
    painter.setOpacity(1.0);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.7f), 1.5));
    painter.drawPath(cornerRadius < 0 ? vornCapsulePath(ring) : vornRoundedRectPath(ring, std::max(0.0, cornerRadius - 0.75)));
    painter.restore();
}

QPalette vornDarkPalette(VornProductPalette accentPalette) {
    const QColor accent = accentColor(accentPalette);
    const QColor window(0x1E, 0x1A, 0x24);
    const QColor base(0x17, 0x14, 0x1C);
    const QColor text = QColor::fromRgbF(1, 1, 1, 0.96f);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(0x22, 0x1E, 0x29));
    palette.setColor(QPalette::ToolTipBase, QColor(0x2A, 0x25, 0x32));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor::fromRgbF(1, 1, 1, 0.5f));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x2C, 0x27, 0x34));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, VornGlassTokens::danger());
    palette.setColor(QPalette::Light, QColor(0x3A, 0x34, 0x44));
    palette.setColor(QPalette::Midlight, QColor(0x32, 0x2C, 0x3B));
    palette.setColor(QPalette::Mid, QColor(0x26, 0x21, 0x2D));
    palette.setColor(QPalette::Dark, QColor(0x12, 0x10, 0x16));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0));
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, QColor(0x14, 0x10, 0x18));
    palette.setColor(QPalette::Link, accent);
    palette.setColor(QPalette::LinkVisited, accent.darker(120));
    const QColor disabledText = QColor::fromRgbF(1, 1, 1, 0.38f);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, disabledText);
    }
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4A, 0x44, 0x52));
    return palette;
}

void vornApplyDesignLook(QApplication& application, VornProductPalette accentPalette) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        application.setStyle(fusion);
    }
    application.setPalette(vornDarkPalette(accentPalette));
    vornInstallStandardTexts();
}

void vornMakeTransparent(QAbstractScrollArea* area) {
    if (!area) {
        return;
    }
    area->setFrameShape(QFrame::NoFrame);
    area->setAutoFillBackground(false);
    QPalette colours = area->palette();
    for (const QPalette::ColorRole role : {QPalette::Base, QPalette::Window, QPalette::AlternateBase}) {
        colours.setColor(role, Qt::transparent);
    }
    area->setPalette(colours);
    if (QWidget* viewport = area->viewport()) {
        viewport->setAutoFillBackground(false);
        viewport->setPalette(colours);
    }
}

QString vornEscapeMnemonic(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
    return escaped;
}
