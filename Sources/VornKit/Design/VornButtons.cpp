#include "VornButtons.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QEasingCurve>
#include <QFontMetricsF>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace {

constexpr double symbolGap = 6;

}  // namespace

VornDesignButton::VornDesignButton(const QString& label, QFont font, double horizontalPadding, double verticalPadding,
                                   QWidget* parent)
    : QAbstractButton(parent),
      labelFont_(std::move(font)),
      horizontalPadding_(horizontalPadding),
      verticalPadding_(verticalPadding) {
    setLabel(label);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void VornDesignButton::setLabel(const QString& label) {
    label_ = label;
    setAccessibleName(label);
    updateGeometry();
    update();
}

void VornDesignButton::setSymbol(const std::string& symbol) {
    symbol_ = symbol;
    updateGeometry();
    update();
}

void VornDesignButton::setLabelFont(const QFont& font) {
    labelFont_ = font;
    updateGeometry();
    update();
}

double VornDesignButton::symbolSide() const {
    return symbol_.empty() ? 0.0 : std::ceil(QFontMetricsF(labelFont_).capHeight() * 1.45);
}

QSize VornDesignButton::sizeHint() const {
    const QFontMetricsF metrics(labelFont_);
    double width = label_.isEmpty() ? 0.0 : metrics.horizontalAdvance(label_);
    if (!symbol_.empty()) {
        width += symbolSide() + (label_.isEmpty() ? 0.0 : symbolGap);
    }
    const double height = std::max(metrics.height(), symbolSide());
    return QSize(int(std::ceil(width + 2 * horizontalPadding_)), int(std::ceil(height + 2 * verticalPadding_)));
}

QSize VornDesignButton::minimumSizeHint() const {
    const QFontMetricsF metrics(labelFont_);
    double width = symbol_.empty() ? metrics.horizontalAdvance(QStringLiteral("M…"))
                                   : symbolSide() + (label_.isEmpty() ? 0.0 : symbolGap);
    return QSize(int(std::ceil(width + 2 * horizontalPadding_)), sizeHint().height());
}

void VornDesignButton::paintLabel(QPainter& painter, const QRectF& rect, const QColor& color) const {
    if (!rect.isValid()) {
        return;
    }
    const QFontMetricsF metrics(labelFont_);
    const double side = symbolSide();
    const double gap = (!symbol_.empty() && !label_.isEmpty()) ? symbolGap : 0.0;
    const double textRoom = std::max(0.0, rect.width() - side - gap);
    const QString shown = metrics.elidedText(label_, Qt::ElideRight, textRoom);
    const double textWidth = shown.isEmpty() ? 0.0 : std::min(textRoom, metrics.horizontalAdvance(shown));
    const double total = side + (shown.isEmpty() ? 0.0 : gap + textWidth);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    double x = rect.left() + std::max(0.0, (rect.width() - total) / 2.0);

    painter.save();
    painter.setClipRect(rect);
    painter.setFont(labelFont_);
    painter.setPen(color);
    const double symbolX = rightToLeft ? rect.left() + rect.right() - x - side : x;
    if (!symbol_.empty()) {
        VornSymbol::paint(painter, QRectF(symbolX, rect.center().y() - side / 2, side, side), symbol_, color);
        x += side + gap;
    }
    if (!shown.isEmpty()) {
        const double textX = rightToLeft ? rect.left() + rect.right() - x - textWidth : x;
        painter.drawText(QRectF(textX, rect.top(), textWidth + 1, rect.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         shown);
    }
    painter.restore();
}

VornPrimaryButton::VornPrimaryButton(const QString& label, QWidget* parent)
    : VornDesignButton(label, vornFont(13, QFont::DemiBold), 14, 7, parent), animation_(new QVariantAnimation(this)) {
    animation_->setDuration(120);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        pressProgress_ = value.toDouble();
        update();
    });
    connect(this, &QAbstractButton::pressed, this, [this] { animatePress(true); });
    connect(this, &QAbstractButton::released, this, [this] { animatePress(false); });
}

void VornPrimaryButton::animatePress(bool down) {
    const double target = down ? 1.0 : 0.0;
    const double from = animation_->state() == QAbstractAnimation::Running ? pressProgress_ : 1.0 - target;
    animation_->stop();
    pressProgress_ = target;
    // A widget that is not on screen (rendered into an image) shows the end state at once.
    if (!isVisible()) {
        update();
        return;
    }
    animation_->setStartValue(from);
    animation_->setEndValue(target);
    animation_->start();
}

void VornPrimaryButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    if (!isEnabled()) {
        painter.setOpacity(vornDisabledOpacity);
    }
    const QRectF bounds(rect());
    // Between animations the look follows the pressed state itself, so setDown() shows at once.
    const double progress = animation_->state() == QAbstractAnimation::Running ? pressProgress_ : (isDown() ? 1.0 : 0.0);
    const double scale = 1.0 - 0.02 * progress;
    painter.translate(bounds.center());
    painter.scale(scale, scale);
    painter.translate(-bounds.center());
    const double fillOpacity = 0.96 - (0.96 - 0.82) * progress;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, float(fillOpacity)));
    painter.drawPath(vornRoundedRectPath(bounds, 9));
    paintLabel(painter, bounds.adjusted(horizontalPadding(), 0, -horizontalPadding(), 0),
               QColor::fromRgbF(0, 0, 0, 0.9f));
    if (hasFocus()) {
        // Dark on the white fill, where a white ring would vanish.
        painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.45f), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(vornRoundedRectPath(bounds.adjusted(2, 2, -2, -2), 7));
    }
}

VornGlassButton::VornGlassButton(const QString& label, bool active, QWidget* parent)
    : VornDesignButton(label, vornFont(12.5, QFont::Medium), 11, 6, parent), active_(active) {}

void VornGlassButton::setActive(bool active) {
    if (active_ != active) {
        active_ = active;
        update();
    }
}

void vornPaintGlassButtonShape(QPainter& painter, const QRectF& rect, bool active) {
    vornPaintGlassRoundedRect(painter, rect, 8, active ? VornGlassTokens::surface3() : VornGlassTokens::surface2(),
                              active ? VornGlassTokens::borderStrong() : VornGlassTokens::borderSubtle());
}

void VornGlassButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.78 : 1.0));
    const QRectF bounds(rect());
    vornPaintGlassButtonShape(painter, bounds, active_);
    paintLabel(painter, bounds.adjusted(horizontalPadding(), 0, -horizontalPadding(), 0),
               VornGlassTokens::textPrimary());
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, 8);
    }
}
