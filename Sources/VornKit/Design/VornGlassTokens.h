#pragma once

#include <QColor>

// The design system's colour tokens. The glass look is white at low opacity over the window's
// backdrop, so every token is white with its own alpha.
struct VornGlassTokens {
    // Secondary text, e.g. the version badge's label.
    static QColor textSecondary() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.72f); }
    // The second surface level: capsule and chip fills.
    static QColor surface2() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.10f); }
    // Hairline borders around surfaces.
    static QColor borderSubtle() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.14f); }
};
