#pragma once

#include "VornAppIdentity.h"

#include <QPointF>
#include <QWidget>

#include <array>
#include <optional>

class QPainter;

// The suite's vector mark: three pieces in a 64 by 64 view box.
struct VornBrandMarkGeometry {
    static constexpr double viewBoxSize = 64;
    using Piece = std::array<QPointF, 8>;
    static const Piece& topRightPiece();
    static const Piece& leftPiece();
    static const Piece& bottomRightPiece();
    // The three pieces in drawing order: top-right, left, bottom-right.
    static const std::array<Piece, 3>& allPieces();
};

// Which mark to show.
class VornBrandMarkStyle {
public:
    enum class Kind { app, currentApp, vornworksSuite };
    static VornBrandMarkStyle app(VornAppIdentity identity) { return VornBrandMarkStyle(Kind::app, identity); }
    static VornBrandMarkStyle currentApp() { return VornBrandMarkStyle(Kind::currentApp, std::nullopt); }
    static VornBrandMarkStyle vornworksSuite() { return VornBrandMarkStyle(Kind::vornworksSuite, std::nullopt); }

    Kind kind() const { return kind_; }
    std::optional<VornAppIdentity> identity() const { return identity_; }

private:
    VornBrandMarkStyle(Kind kind, std::optional<VornAppIdentity> identity) : kind_(kind), identity_(identity) {}
    Kind kind_;
    std::optional<VornAppIdentity> identity_;
};

class VornAppEmblem;

// A square mark of side `size`. An application's mark is its emblem (a VornAppEmblem child, never a
// template); the suite's style, and the running application's when it resolves to no identity, draw
// the suite's vector mark.
class VornBrandMark : public QWidget {
public:
    VornBrandMark(double size, VornBrandMarkStyle style, QWidget* parent = nullptr);

    double markSize() const { return size_; }
    VornBrandMarkStyle style() const { return style_; }
    // The identity whose emblem the style asks for (the running application's for currentApp);
    // nothing means the vector mark.
    std::optional<VornAppIdentity> emblemIdentity() const;
    // True when the vector mark is what gets drawn.
    bool drawsVectorMark() const;

    // Draws the vector mark scaled into `rect`.
    static void paintVectorMark(QPainter& painter, const QRectF& rect);

    // The emblem shown, or null when the vector mark is drawn.
    VornAppEmblem* emblem() const { return emblem_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double size_;
    VornBrandMarkStyle style_;
    VornAppEmblem* emblem_ = nullptr;
};
