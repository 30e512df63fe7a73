#include "VornFlowLayout.h"

#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double finiteOr(double value, double fallback) { return std::isfinite(value) ? value : fallback; }

QSizeF sane(const QSizeF& size) {
    return QSizeF(std::max(0.0, finiteOr(size.width(), 0)), std::max(0.0, finiteOr(size.height(), 0)));
}

}  // namespace

QSizeF vornFlowSizeThatFits(const std::vector<QSizeF>& itemSizes, std::optional<double> proposedWidth, double spacing,
                            double lineSpacing) {
    const double maxWidth = (proposedWidth && !std::isnan(*proposedWidth)) ? *proposedWidth
                                                                           : std::numeric_limits<double>::infinity();
    spacing = finiteOr(spacing, 0);
    lineSpacing = finiteOr(lineSpacing, 0);
    double x = 0;
    double lineHeight = 0;
    double totalHeight = 0;
    double widestLine = 0;
    for (const QSizeF& raw : itemSizes) {
        const QSizeF size = sane(raw);
        if (x > 0 && x + size.width() > maxWidth) {
            totalHeight += lineSpacing + lineHeight;
            lineHeight = 0;
            x = 0;
        }
        widestLine = std::max(widestLine, x + size.width());
        x += size.width() + spacing;
        lineHeight = std::max(lineHeight, size.height());
    }
    return QSizeF(std::isfinite(maxWidth) ? maxWidth : widestLine, totalHeight + lineHeight);
}

std::vector<QRectF> vornFlowPlace(const std::vector<QSizeF>& itemSizes, const QRectF& bounds, double spacing,
                                  double lineSpacing) {
    std::vector<QRectF> placed;
    placed.reserve(itemSizes.size());
    spacing = finiteOr(spacing, 0);
    lineSpacing = finiteOr(lineSpacing, 0);
    const double minX = finiteOr(bounds.left(), 0);
    const double maxX = finiteOr(bounds.right(), minX);
    double x = minX;
    double y = finiteOr(bounds.top(), 0);
    double lineHeight = 0;
    for (const QSizeF& raw : itemSizes) {
        const QSizeF size = sane(raw);
        if (x > minX && x + size.width() > maxX + 0.5) {
            y += lineSpacing + lineHeight;
            x = minX;
            lineHeight = 0;
        }
        placed.emplace_back(x, y, size.width(), size.height());
        x += size.width() + spacing;
        lineHeight = std::max(lineHeight, size.height());
    }
    return placed;
}

VornFlowLayout::VornFlowLayout(QWidget* parent, double spacing, double lineSpacing)
    : QLayout(parent), spacing_(spacing), lineSpacing_(lineSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

VornFlowLayout::~VornFlowLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void VornFlowLayout::setHorizontalSpacing(double spacing) {
    spacing_ = spacing;
    invalidate();
}

void VornFlowLayout::setLineSpacing(double lineSpacing) {
    lineSpacing_ = lineSpacing;
    invalidate();
}

void VornFlowLayout::addItem(QLayoutItem* item) { items_.append(item); }
int VornFlowLayout::count() const { return int(items_.size()); }
QLayoutItem* VornFlowLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}
QLayoutItem* VornFlowLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}
Qt::Orientations VornFlowLayout::expandingDirections() const { return {}; }
bool VornFlowLayout::hasHeightForWidth() const { return true; }

std::vector<QSizeF> VornFlowLayout::visibleSizes() const {
    std::vector<QSizeF> sizes;
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            sizes.emplace_back(item->sizeHint());
        }
    }
    return sizes;
}

int VornFlowLayout::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const double inner = std::max(0, width - margins.left() - margins.right());
    const QSizeF size = vornFlowSizeThatFits(visibleSizes(), inner, spacing_, lineSpacing_);
    return int(std::ceil(size.height())) + margins.top() + margins.bottom();
}

QSize VornFlowLayout::sizeHint() const {
    const QMargins margins = contentsMargins();
    const QSizeF size = vornFlowSizeThatFits(visibleSizes(), std::nullopt, spacing_, lineSpacing_);
    return QSize(int(std::ceil(size.width())) + margins.left() + margins.right(),
                 int(std::ceil(size.height())) + margins.top() + margins.bottom());
}

QSize VornFlowLayout::minimumSize() const {
    // The widest item must fit on a line of its own.
    QSize widest;
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) {
            widest = widest.expandedTo(item->minimumSize());
        }
    }
    const QMargins margins = contentsMargins();
    return widest + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

void VornFlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const std::vector<QRectF> placed = vornFlowPlace(visibleSizes(), QRectF(inner), spacing_, lineSpacing_);
    const bool rightToLeft = parentWidget() && parentWidget()->layoutDirection() == Qt::RightToLeft;
    std::size_t next = 0;
    for (QLayoutItem* item : items_) {
        if (item->isEmpty() || next >= placed.size()) {
            continue;
        }
        QRectF frame = placed[next++];
        if (rightToLeft) {
            frame.moveLeft(inner.left() + inner.right() + 1 - frame.right());
        }
        item->setGeometry(frame.toAlignedRect());
    }
}
