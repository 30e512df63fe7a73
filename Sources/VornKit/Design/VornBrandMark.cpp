#include "VornBrandMark.h"

#include "VornEmblemRenderer.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

const VornBrandMarkGeometry::Piece& VornBrandMarkGeometry::topRightPiece() {
    static const Piece piece{{{31.95, 3.93}, {46.21, 12.7}, {46.21, 28.72}, {60.73, 37.39}, {49.34, 43.59},
                              {34.02, 34.57}, {34.07, 18.85}, {20.96, 10.63}}};
    return piece;
}

const VornBrandMarkGeometry::Piece& VornBrandMarkGeometry::leftPiece() {
    static const Piece piece{{{17.69, 12.39}, {29.83, 19.8}, {29.83, 34.67}, {13.65, 44.25}, {13.71, 59.01},
                              {1.81, 51.66}, {1.86, 38.05}, {17.69, 28.47}}};
    return piece;
}

const VornBrandMarkGeometry::Piece& VornBrandMarkGeometry::bottomRightPiece() {
    static const Piece piece{{{31.95, 38.1}, {48.48, 47.98}, {62.19, 40.27}, {62.19, 51.66}, {48.08, 60.07},
                              {31.9, 50.8}, {16.28, 59.62}, {16.33, 47.27}}};
    return piece;
}

const std::array<VornBrandMarkGeometry::Piece, 3>& VornBrandMarkGeometry::allPieces() {
    static const std::array<Piece, 3> pieces{topRightPiece(), leftPiece(), bottomRightPiece()};
    return pieces;
}

VornBrandMark::VornBrandMark(double size, VornBrandMarkStyle style, QWidget* parent)
    : QWidget(parent), size_(std::isfinite(size) && size > 0 ? size : 0), style_(style) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    // The running application's identity is looked up once: it cannot change while the mark lives.
    if (const auto identity = emblemIdentity()) {
        emblem_ = new VornAppEmblem(*identity, size_, false, this);
        emblem_->setGeometry(0, 0, sizeHint().width(), sizeHint().height());
    }
}

std::optional<VornAppIdentity> VornBrandMark::emblemIdentity() const {
    switch (style_.kind()) {
        case VornBrandMarkStyle::Kind::app: return style_.identity();
        case VornBrandMarkStyle::Kind::currentApp: return VornAppIdentities::current();
        case VornBrandMarkStyle::Kind::vornworksSuite: return std::nullopt;
    }
    return std::nullopt;
}

bool VornBrandMark::drawsVectorMark() const { return emblem_ == nullptr; }

QSize VornBrandMark::sizeHint() const {
    const int side = int(std::ceil(size_));
    return QSize(side, side);
}

void VornBrandMark::paintVectorMark(QPainter& painter, const QRectF& rect) {
    if (!rect.isValid() || !std::isfinite(rect.width()) || !std::isfinite(rect.height())) {
        return;
    }
    const double sx = rect.width() / VornBrandMarkGeometry::viewBoxSize;
    const double sy = rect.height() / VornBrandMarkGeometry::viewBoxSize;
    const double w = rect.width();
    const double h = rect.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(rect.topLeft());
    painter.setPen(Qt::NoPen);

    QLinearGradient base(QPointF(0, 0), QPointF(w, h));
    base.setColorAt(0.0, QColor(255, 255, 255));
    base.setColorAt(0.55, QColor(0xEE, 0xF1, 0xF6));
    base.setColorAt(1.0, QColor(0xC3, 0xCA, 0xD8));
    QLinearGradient highlight(QPointF(0, h), QPointF(w, 0));
    highlight.setColorAt(0.0, QColor::fromRgbF(1, 1, 1, 0));
    highlight.setColorAt(0.3, QColor::fromRgbF(1, 1, 1, 0));
    highlight.setColorAt(0.5, QColor::fromRgbF(1, 1, 1, 0.55f));
    highlight.setColorAt(0.7, QColor::fromRgbF(1, 1, 1, 0));
    highlight.setColorAt(1.0, QColor::fromRgbF(1, 1, 1, 0));

    for (const auto& piece : VornBrandMarkGeometry::allPieces()) {
        QPainterPath path;
        path.moveTo(piece[0].x() * sx, piece[0].y() * sy);
        for (std::size_t i = 1; i < piece.size(); ++i) {
            path.lineTo(piece[i].x() * sx, piece[i].y() * sy);
        }
        path.closeSubpath();
        painter.fillPath(path, base);
        painter.fillPath(path, highlight);
    }
    painter.restore();
}

void VornBrandMark::resizeEvent(QResizeEvent*) {
    if (emblem_ != nullptr) {
        const int side = int(std::ceil(std::min({double(width()), double(height()), size_})));
        emblem_->setGeometry((width() - side) / 2, (height() - side) / 2, side, side);
    }
}

void VornBrandMark::paintEvent(QPaintEvent*) {
    if (emblem_ != nullptr) {
        return;
    }
    const double side = std::min({double(width()), double(height()), size_});
    if (side <= 0) {
        return;
    }
    QPainter painter(this);
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    paintVectorMark(painter, square);
}
