#include "VornGlassInputField.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

double nonNegative(double value) { return std::isfinite(value) && value > 0 ? value : 0.0; }

}  // namespace

VornGlassInputField::VornGlassInputField(QWidget* parent, double cornerRadius, double horizontalPadding,
                                         double verticalPadding)
    : QLineEdit(parent),
      cornerRadius_(nonNegative(cornerRadius)),
      horizontalPadding_(nonNegative(horizontalPadding)),
      verticalPadding_(nonNegative(verticalPadding)) {
    setFrame(false);
    setFont(vornFont(12.5));
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Text, VornGlassTokens::textPrimary());
    colours.setColor(QPalette::PlaceholderText, VornGlassTokens::textMuted());
    setPalette(colours);
    // QLineEdit keeps a couple of pixels of its own inside the text margins.
    const int side = std::max(0, int(std::lround(horizontalPadding_)) - 2);
    const int top = std::max(0, int(std::lround(verticalPadding_)) - 1);
    setTextMargins(side, top, side, top);
}

QSize VornGlassInputField::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSize(int(std::ceil(metrics.horizontalAdvance(QLatin1Char('x')) * 24 + 2 * horizontalPadding_)),
                 int(std::ceil(metrics.height() + 2 * verticalPadding_)));
}

QSize VornGlassInputField::minimumSizeHint() const {
    const QFontMetricsF metrics(font());
    return QSize(int(std::ceil(metrics.horizontalAdvance(QLatin1Char('x')) * 4 + 2 * horizontalPadding_)),
                 sizeHint().height());
}

void VornGlassInputField::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setOpacity(isEnabled() ? 1.0 : vornDisabledOpacity);
        vornPaintGlassRoundedRect(painter, QRectF(rect()), cornerRadius_, VornGlassTokens::surface2(),
                                  VornGlassTokens::borderSubtle());
        if (hasFocus()) {
            vornPaintFocusRing(painter, QRectF(rect()), cornerRadius_);
        }
    }
    QLineEdit::paintEvent(event);
}
