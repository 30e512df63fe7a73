#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QString>

#include <string>
#include <string_view>
#include <vector>

class QPainter;

// The design names its icons by symbol names ("folder.fill", "checkmark.shield"). Each name maps to
// one icon of the Adwaita theme's symbolic set, read straight from its SVG file so that the user's
// own icon theme never changes the look, drawn at the asked size and tinted with the asked colour.
// A name without an icon draws a visible placeholder (a dashed square with a question mark) rather
// than nothing, so a missing mapping shows up on screen and in the symbol test.
// Drawn images are cached; use it from the GUI thread only.
struct VornSymbol {
    // Where the SVG files live ($VORN_ICON_THEME_DIR overrides it, for installs elsewhere).
    static QString themeDirectory();

    // Every symbol name the design knows, sorted.
    static std::vector<std::string> knownNames();
    // The name has a mapping.
    static bool isKnown(std::string_view name);
    // The SVG file the name maps to; empty when the name is unknown or the file is missing.
    static QString themeFile(std::string_view name);

    // The symbol in a square of `pixelSize` device pixels (at least 1), tinted with `tint`.
    // Unknown names give the placeholder.
    static QImage image(std::string_view name, int pixelSize, const QColor& tint, double devicePixelRatio = 1.0);
    // Draws the symbol centred in `rect`, as large as the smaller side.
    static void paint(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& tint);
    // For menus and other places that take an icon.
    static QIcon icon(std::string_view name, const QColor& tint, int logicalSize = 16);
};
