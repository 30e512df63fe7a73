#include "VornSheetParts.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"
#include "VornSpinner.h"
#include "VornSymbol.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double tintedHorizontalPadding = 14;
constexpr double tintedVerticalPadding = 7;
constexpr int spinnerDiameter = 12;
constexpr double spinnerGap = 6;

}  // namespace

QLabel* vornTextLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    vornSetLabelColor(label, color);
    return label;
}

void vornSetLabelColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label->setPalette(palette);
}

VornFilledBox::VornFilledBox(QColor fill, double cornerRadius, std::optional<QColor> border, QWidget* parent)
    : QWidget(parent), fill_(fill), cornerRadius_(cornerRadius), border_(border) {}

void VornFilledBox::setFill(const QColor& fill) {
    if (fill_ != fill) {
        fill_ = fill;
        update();
    }
}

void VornFilledBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (border_) {
        vornPaintGlassRoundedRect(painter, QRectF(rect()), cornerRadius_, fill_, *border_);
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_);
    painter.drawPath(vornRoundedRectPath(QRectF(rect()), cornerRadius_));
}

VornSymbolButton::VornSymbolButton(std::string symbol, double size, QColor color, QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)), size_(size), color_(color) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize VornSymbolButton::sizeHint() const {
    const int side = int(std::ceil(size_ + 4));
    return {side, side};
}

void VornSymbolButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.6 : 1.0));
    const QRectF bounds(rect());
    const double side = std::min(size_, std::min(bounds.width(), bounds.height()));
    VornSymbol::paint(painter, QRectF(bounds.center().x() - side / 2, bounds.center().y() - side / 2, side, side),
                      symbol_, color_);
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, -1);
    }
}

VornTintedButton::VornTintedButton(const QString& label, QColor tint, QFont font, QWidget* parent)
    : QAbstractButton(parent), tint_(tint), font_(std::move(font)), spinner_(new VornSpinner(spinnerDiameter, this)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    spinner_->setColor(Qt::white);
    spinner_->setAttribute(Qt::WA_TransparentForMouseEvents);
    spinner_->hide();
    setLabel(label);
}

void VornTintedButton::setLabel(const QString& label) {
    label_ = label;
    setAccessibleName(label);
    updateGeometry();
    placeSpinner();
    update();
}

void VornTintedButton::setBusy(bool busy) {
    if (busy_ == busy) {
        return;
    }
    busy_ = busy;
    spinner_->setVisible(busy);
    if (busy) {
        spinner_->start();
    } else {
        spinner_->stop();
    }
    updateGeometry();
    placeSpinner();
    update();
}

QSize VornTintedButton::sizeHint() const {
    const QFontMetricsF metrics(font_);
    double width = metrics.horizontalAdvance(label_) + 2 * tintedHorizontalPadding;
    if (busy_) {
        width += spinnerDiameter + spinnerGap;
    }
    const double height = std::max<double>(metrics.height(), spinnerDiameter) + 2 * tintedVerticalPadding;
    return {int(std::ceil(width)), int(std::ceil(height))};
}

void VornTintedButton::resizeEvent(QResizeEvent* event) {
    QAbstractButton::resizeEvent(event);
    placeSpinner();
}

void VornTintedButton::placeSpinner() {
    const QFontMetricsF metrics(font_);
    const double total = metrics.horizontalAdvance(label_) + (busy_ ? spinnerDiameter + spinnerGap : 0.0);
    const double start = std::max(tintedHorizontalPadding, (width() - total) / 2);
    const double x = layoutDirection() == Qt::RightToLeft ? width() - start - spinnerDiameter : start;
    spinner_->setGeometry(int(std::lround(x)), (height() - spinnerDiameter) / 2, spinnerDiameter, spinnerDiameter);
}

void VornTintedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.82 : 1.0));
    const QRectF bounds(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint_);
    painter.drawPath(vornRoundedRectPath(bounds, 8));
    const QFontMetricsF metrics(font_);
    const double lead = busy_ ? spinnerDiameter + spinnerGap : 0.0;
    const QRectF content = bounds.adjusted(tintedHorizontalPadding, 0, -tintedHorizontalPadding, 0);
    const QString shown = metrics.elidedText(label_, Qt::ElideRight, std::max(0.0, content.width() - lead));
    const double textWidth = metrics.horizontalAdvance(shown);
    const double start = std::max(content.left(), (bounds.width() - textWidth - lead) / 2) + lead;
    const double x = layoutDirection() == Qt::RightToLeft ? bounds.width() - start - textWidth : start;
    painter.setFont(font_);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(x, content.top(), textWidth + 1, content.height()), Qt::AlignVCenter | Qt::AlignLeft,
                     shown);
    if (hasFocus()) {
        painter.setOpacity(1.0);
        vornPaintFocusRing(painter, bounds, 8);
    }
}
