#pragma once

#include <QColor>

// The design system's colour tokens. The glass look is white at low opacity over the window's
// ground, so the surface, border and text tokens are white with their own alpha (never grey: a
// grey would stop showing the ground through it); the three status colours are opaque.
// Each colour is made once, on first use, and shared.
struct VornGlassTokens {
    static const QColor& surface1() { static const QColor c = white(0.06f); return c; }
    static const QColor& surface2() { static const QColor c = white(0.10f); return c; }
    static const QColor& surface3() { static const QColor c = white(0.16f); return c; }
    static const QColor& borderSubtle() { static const QColor c = white(0.14f); return c; }
    static const QColor& borderStrong() { static const QColor c = white(0.28f); return c; }
    static const QColor& textPrimary() { static const QColor c = white(0.96f); return c; }
    static const QColor& textSecondary() { static const QColor c = white(0.72f); return c; }
    static const QColor& textMuted() { static const QColor c = white(0.50f); return c; }
    static const QColor& success() { static const QColor c(0x3E, 0xE6, 0xA8); return c; }
    static const QColor& warning() { static const QColor c(0xFF, 0xB8, 0x4D); return c; }
    static const QColor& danger() { static const QColor c(0xFF, 0x64, 0x7C); return c; }

private:
    static QColor white(float opacity) { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, opacity); }
};
