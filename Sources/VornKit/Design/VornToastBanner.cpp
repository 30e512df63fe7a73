#include "VornToastBanner.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double horizontalPadding = 16;
constexpr double verticalPadding = 10;
constexpr double spacing = 8;
constexpr double shadowOffset = 4;

QFont bannerFont() { return vornFont(VornTextStyle::callout, QFont::Medium); }

double symbolSide() { return std::ceil(QFontMetricsF(bannerFont()).height()); }

}  // namespace

VornToastBanner::VornToastBanner(const QString& message, bool isError, QWidget* parent)
    : QWidget(parent), message_(message), isError_(isError) {
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setAccessibleName(message);
}

void VornToastBanner::setMessage(const QString& message) {
    if (message_ != message) {
        message_ = message;
        setAccessibleName(message);
        updateGeometry();
        update();
    }
}

void VornToastBanner::setError(bool isError) {
    if (isError_ != isError) {
        isError_ = isError;
        update();
    }
}

std::string VornToastBanner::symbolName() const {
    return isError_ ? "exclamationmark.triangle.fill" : "checkmark.circle.fill";
}

QSize VornToastBanner::sizeHint() const {
    const QFontMetricsF metrics(bannerFont());
    const double text = message_.isEmpty() ? 0.0 : spacing + metrics.horizontalAdvance(message_);
    const double width = 2 * horizontalPadding + symbolSide() + text + 2 * shadowMargin;
    const double height = 2 * verticalPadding + std::max(metrics.height(), symbolSide()) + 2 * shadowMargin;
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize VornToastBanner::minimumSizeHint() const {
    return QSize(int(std::ceil(2 * horizontalPadding + symbolSide() + 2 * shadowMargin)), sizeHint().height());
}

QRectF VornToastBanner::capsuleRect() const {
    const QRectF inner = QRectF(rect()).adjusted(shadowMargin, shadowMargin - shadowOffset / 2, -shadowMargin,
                                                 -shadowMargin - shadowOffset / 2);
    const double height = std::min(inner.height(), sizeHint().height() - 2.0 * shadowMargin);
    if (inner.width() <= 0 || height <= 0) {
        return {};
    }
    return QRectF(inner.left(), inner.center().y() - height / 2, inner.width(), height);
}

void VornToastBanner::paintEvent(QPaintEvent*) {
    const QRectF capsule = capsuleRect();
    if (!capsule.isValid()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    // A soft shadow (black 0.35, 12 blur, 4 down), built from nested capsules whose alphas add up
    // towards the centre; it stays inside the margin the widget keeps for it.
    painter.setPen(Qt::NoPen);
    constexpr int layers = 12;
    for (int i = layers; i >= 1; --i) {
        const double grow = double(i);
        const double alpha = 0.35 * 0.18 * (1.0 - double(i - 1) / layers);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, float(alpha)));
        painter.drawPath(vornCapsulePath(capsule.translated(0, shadowOffset).adjusted(-grow, -grow, grow, grow)
                                             .intersected(QRectF(rect()))));
    }

    vornPaintGlassCapsule(painter, capsule, QColor::fromRgbF(0, 0, 0, 0.84f), VornGlassTokens::borderSubtle());

    const QFont font = bannerFont();
    const QFontMetricsF metrics(font);
    const double side = symbolSide();
    const QRectF content = capsule.adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    const double textRoom = std::max(0.0, content.width() - side - spacing);
    const QString shown = metrics.elidedText(message_, Qt::ElideRight, textRoom);
    const double textWidth = shown.isEmpty() ? 0.0 : std::min(textRoom, metrics.horizontalAdvance(shown));
    const double total = side + (shown.isEmpty() ? 0.0 : spacing + textWidth);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    const double start = content.left() + std::max(0.0, (content.width() - total) / 2);
    const double symbolX = rightToLeft ? content.left() + content.right() - start - side : start;
    const double textStart = start + side + spacing;
    const double textX = rightToLeft ? content.left() + content.right() - textStart - textWidth : textStart;

    painter.setClipRect(content);
    VornSymbol::paint(painter, QRectF(symbolX, content.center().y() - side / 2, side, side), symbolName(),
                      isError_ ? VornGlassTokens::warning() : VornGlassTokens::success());
    if (!shown.isEmpty()) {
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(textX, content.top(), textWidth + 1, content.height()),
                         Qt::AlignVCenter | Qt::AlignLeft, shown);
    }
}
