#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

// One paint of an emblem shape: a colour (its own alpha included), or a cutout that erases what
// lies under the shape by `alpha` (1 makes a clean hole).
class VornFlatPaint {
public:
    enum class Kind { color, cutout };

    static VornFlatPaint color(const QColor& color) { return VornFlatPaint(Kind::color, color, 0); }
    static VornFlatPaint cutout(double alpha) { return VornFlatPaint(Kind::cutout, QColor(), alpha); }

    Kind kind() const { return kind_; }
    // The colour of a colour paint (invalid for a cutout).
    const QColor& colorValue() const { return color_; }
    // The erasing alpha of a cutout (0 for a colour).
    double cutoutAlpha() const { return alpha_; }

    bool operator==(const VornFlatPaint& other) const {
        return kind_ == other.kind_ && color_ == other.color_ && alpha_ == other.alpha_;
    }

private:
    VornFlatPaint(Kind kind, const QColor& color, double alpha) : kind_(kind), color_(color), alpha_(alpha) {}
    Kind kind_;
    QColor color_;
    double alpha_;
};

// The two colours and the mode an emblem is drawn with. Artwork never names a colour of its own: it
// asks the tone for a shade, so one drawing serves both modes.
// - White glass: near-white on a transparent ground; holes and inner marks are punched out of what
//   was drawn before, so whatever lies behind the finished image shows through.
// - Flat: the two colours; what would be a hole is painted in a fixed light blue-grey instead, so
//   a flat drawing only ever adds paint.
class VornEmblemTone {
public:
    VornEmblemTone(const QColor& primaryColor, const QColor& accentColor, bool isWhiteGlass)
        : primaryColor_(primaryColor), accentColor_(accentColor), isWhiteGlass_(isWhiteGlass) {}

    const QColor& primaryColor() const { return primaryColor_; }
    const QColor& accentColor() const { return accentColor_; }
    bool isWhiteGlass() const { return isWhiteGlass_; }

    VornFlatPaint primary() const { return VornFlatPaint::color(primaryColor_); }
    VornFlatPaint accent() const { return VornFlatPaint::color(accentColor_); }
    // A second plane behind or beside the body.
    VornFlatPaint mid() const { return primaryAlpha(0.46); }
    // The fill of an outlined glass panel.
    VornFlatPaint soft() const { return primaryAlpha(isWhiteGlass_ ? 0.16 : 0.11); }
    // A faint outline.
    VornFlatPaint stroke() const { return primaryAlpha(isWhiteGlass_ ? 0.42 : 0.28); }
    VornFlatPaint primaryAlpha(double alpha) const { return VornFlatPaint::color(withAlpha(primaryColor_, alpha)); }
    VornFlatPaint accentAlpha(double alpha) const { return VornFlatPaint::color(withAlpha(accentColor_, alpha)); }
    // A mark inside a body. White glass strengthens the asked alpha (× 1.15, held to 0.55…1) so
    // that thin marks still read as holes; flat paints the light blue-grey at the asked alpha.
    VornFlatPaint cutout(double alpha) const;
    // An accent mark sitting on the primary body: punched in white glass, the accent colour in flat.
    VornFlatPaint onPrimaryAccent() const;

    // Near-white (primary at 0.98, accent at 0.72) in white-glass mode; made once, on first use.
    static const VornEmblemTone& whiteGlass();
    // Flat mode with exactly these colours.
    static VornEmblemTone flatLight(const QColor& primary, const QColor& accent) {
        return VornEmblemTone(primary, accent, false);
    }

    // The light blue-grey that stands for a hole in flat mode.
    static QColor flatCutoutColor(double alpha);
    // A copy of `color` with its alpha replaced; a value outside 0…1 or not a number keeps the colour.
    static QColor withAlpha(const QColor& color, double alpha);

private:
    QColor primaryColor_;
    QColor accentColor_;
    bool isWhiteGlass_;
};

// The whole drawing vocabulary of the artwork. Each operation works in its own save/restore
// bracket, so colours, blend mode and line settings never leak from one shape to the next; paths
// fill with the non-zero winding rule, strokes have round caps and joins. A cutout draws opaque
// black at its alpha with destination-out, which only multiplies what lies under the shape by
// (1 − alpha): inside a transparent layer it erases the emblem drawn so far and nothing else.
struct VornEmblemPaint {
    static void fill(QPainter& painter, const QPainterPath& path, const VornFlatPaint& paint);
    static void fillEllipse(QPainter& painter, const QRectF& rect, const VornFlatPaint& paint);
    static void stroke(QPainter& painter, const QPainterPath& path, const VornFlatPaint& paint, double lineWidth);
    static void strokeEllipse(QPainter& painter, const QRectF& rect, const VornFlatPaint& paint, double lineWidth);
};
