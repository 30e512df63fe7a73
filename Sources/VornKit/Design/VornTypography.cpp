#include "VornTypography.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

QString& monospacedFamily() {
    static QString family;
    return family;
}

// QFont keeps fractional sizes only in points; Qt turns points into pixels with the screen's
// logical DPI, so the design size is converted back through it.
double logicalDpi() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const double dpi = screen->logicalDotsPerInchY();
        if (dpi > 0 && std::isfinite(dpi)) {
            return dpi;
        }
    }
    return 96.0;
}

}  // namespace

void vornSetMonospacedFamily(const QString& family) { monospacedFamily() = family; }

QFont vornFont(double points, QFont::Weight weight, VornFontDesign design) {
    QFont font;
    if (design == VornFontDesign::monospaced) {
        font = monospacedFamily().isEmpty() ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                            : QFont(monospacedFamily());
        font.setStyleHint(QFont::Monospace);
    } else {
        font = QGuiApplication::font();
    }
    // A size of zero, below or not a number would make Qt warn and pick its default; the smallest
    // readable size is kept instead.
    const double size = (std::isfinite(points) && points >= 1.0) ? points : 1.0;
    font.setPointSizeF(size * 72.0 / logicalDpi());
    font.setWeight(weight);
    font.setKerning(true);
    // The font keeps the fractional size; at scale 1 the glyph cache snaps it to whole pixels, on
    // denser screens it shows.
    return font;
}

double vornTextStylePoints(VornTextStyle style) {
    switch (style) {
        case VornTextStyle::largeTitle: return 26;
        case VornTextStyle::title: return 22;
        case VornTextStyle::title2: return 17;
        case VornTextStyle::title3: return 15;
        case VornTextStyle::headline: return 13;
        case VornTextStyle::body: return 13;
        case VornTextStyle::callout: return 12;
        case VornTextStyle::subheadline: return 11;
        case VornTextStyle::footnote: return 10;
        case VornTextStyle::caption: return 10;
        case VornTextStyle::caption2: return 10;
    }
    return 13;
}

QFont vornFont(VornTextStyle style) {
    return vornFont(style, style == VornTextStyle::headline ? QFont::DemiBold : QFont::Normal);
}

QFont vornFont(VornTextStyle style, QFont::Weight weight) { return vornFont(vornTextStylePoints(style), weight); }
