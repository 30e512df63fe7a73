#include "VornSegmentedControl.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double inset = 3;
constexpr double segmentPadding = 12;
constexpr double symbolGap = 5;

QFont segmentFont() { return vornFont(12, QFont::Medium); }

double symbolSide() { return std::ceil(QFontMetricsF(segmentFont()).capHeight() * 1.5); }

double naturalWidth(const VornSegmentedControl::Segment& segment) {
    const QFontMetricsF metrics(segmentFont());
    double width = metrics.horizontalAdvance(segment.title);
    if (!segment.symbol.empty()) {
        width += symbolSide() + (segment.title.isEmpty() ? 0 : symbolGap);
    }
    return width + 2 * segmentPadding;
}

}  // namespace

VornSegmentedControl::VornSegmentedControl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void VornSegmentedControl::setSegments(const std::vector<Segment>& segments) {
    segments_ = segments;
    const int previous = current_;
    current_ = segments_.empty() ? -1 : std::clamp(current_, 0, int(segments_.size()) - 1);
    updateGeometry();
    update();
    if (current_ != previous) {
        emit currentIndexChanged(current_);
    }
}

void VornSegmentedControl::setTitles(const QStringList& titles) {
    for (int i = 0; i < count() && i < titles.size(); ++i) {
        segments_[std::size_t(i)].title = titles[i];
    }
    updateGeometry();
    update();
}

QString VornSegmentedControl::title(int index) const {
    return index >= 0 && index < count() ? segments_[std::size_t(index)].title : QString();
}

void VornSegmentedControl::setCurrentIndex(int index) {
    if (index < 0 || index >= count() || index == current_) {
        return;
    }
    current_ = index;
    update();
    emit currentIndexChanged(current_);
}

QSize VornSegmentedControl::sizeHint() const {
    double widest = 0;
    for (const Segment& segment : segments_) {
        widest = std::max(widest, naturalWidth(segment));
    }
    const double height = std::max(QFontMetricsF(segmentFont()).height(), symbolSide()) + 10 + 2 * inset;
    return QSize(int(std::ceil(widest * count() + 2 * inset)), int(std::ceil(height)));
}

QSize VornSegmentedControl::minimumSizeHint() const {
    const double each = QFontMetricsF(segmentFont()).horizontalAdvance(QStringLiteral("M…")) + 2 * segmentPadding;
    return QSize(int(std::ceil(each * count() + 2 * inset)), sizeHint().height());
}

QRectF VornSegmentedControl::segmentRect(int index) const {
    if (index < 0 || index >= count()) {
        return {};
    }
    const QRectF track = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    if (!track.isValid()) {
        return {};
    }
    const double each = track.width() / count();
    // Segments run from the leading edge: right to left in right-to-left layouts.
    const int visual = layoutDirection() == Qt::RightToLeft ? count() - 1 - index : index;
    return QRectF(track.left() + each * visual, track.top(), each, track.height());
}

int VornSegmentedControl::indexAt(const QPointF& point) const {
    for (int i = 0; i < count(); ++i) {
        if (segmentRect(i).contains(point)) {
            return i;
        }
    }
    return -1;
}

void VornSegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setOpacity(isEnabled() ? 1.0 : vornDisabledOpacity);
    const QRectF bounds(rect());
    const double outerRadius = std::min(9.0, bounds.height() / 2);
    vornPaintGlassRoundedRect(painter, bounds, outerRadius, VornGlassTokens::surface1(), VornGlassTokens::borderSubtle());

    const QFont font = segmentFont();
    const QFontMetricsF metrics(font);
    const double side = symbolSide();
    for (int i = 0; i < count(); ++i) {
        const QRectF cell = segmentRect(i);
        if (!cell.isValid()) {
            continue;
        }
        const bool selected = i == current_;
        if (selected) {
            vornPaintGlassRoundedRect(painter, cell, std::max(0.0, outerRadius - inset), VornGlassTokens::surface3(),
                                      VornGlassTokens::borderStrong());
        } else if (i == pressed_) {
            vornPaintGlassRoundedRect(painter, cell, std::max(0.0, outerRadius - inset), VornGlassTokens::surface1(),
                                      Qt::transparent);
        }
        const Segment& segment = segments_[std::size_t(i)];
        const QColor ink = selected ? VornGlassTokens::textPrimary() : VornGlassTokens::textSecondary();
        const QRectF content = cell.adjusted(segmentPadding / 2, 0, -segmentPadding / 2, 0);
        const double symbolRoom = segment.symbol.empty() ? 0 : side + (segment.title.isEmpty() ? 0 : symbolGap);
        const QString shown = metrics.elidedText(segment.title, Qt::ElideRight, std::max(0.0, content.width() - symbolRoom));
        const double textWidth = shown.isEmpty() ? 0 : metrics.horizontalAdvance(shown);
        const double total = symbolRoom + textWidth;
        double x = content.left() + std::max(0.0, (content.width() - total) / 2);
        painter.save();
        painter.setClipRect(cell);
        if (!segment.symbol.empty()) {
            VornSymbol::paint(painter, QRectF(x, content.center().y() - side / 2, side, side), segment.symbol, ink);
            x += symbolRoom;
        }
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(QRectF(x, content.top(), textWidth + 1, content.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         shown);
        painter.restore();
    }
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, outerRadius);
    }
}

void VornSegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = indexAt(event->position());
        update();
    }
}

void VornSegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int released = indexAt(event->position());
    const int pressed = pressed_;
    pressed_ = -1;
    update();
    if (released >= 0 && released == pressed) {
        setCurrentIndex(released);
    }
}

void VornSegmentedControl::keyPressEvent(QKeyEvent* event) {
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    int step = 0;
    if (event->key() == Qt::Key_Left) {
        step = rightToLeft ? 1 : -1;
    } else if (event->key() == Qt::Key_Right) {
        step = rightToLeft ? -1 : 1;
    }
    if (step == 0 || count() == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    setCurrentIndex(std::clamp(current_ + step, 0, count() - 1));
}
