#include "SledChrome.h"

#include "VornGlassTokens.h"
#include "VornGroundBackground.h"
#include "VornPainting.h"
#include "VornSpinner.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QTextDocument>
#include <QVBoxLayout>

SledGlassBar::SledGlassBar(double cornerRadius, QWidget* parent) : QWidget(parent), cornerRadius_(cornerRadius) {}

void SledGlassBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    vornPaintGlassRoundedRect(painter, QRectF(rect()), cornerRadius_, VornGlassTokens::surface1(),
                              VornGlassTokens::borderSubtle());
}

SledStatusDot::SledStatusDot(int diameter, QWidget* parent)
    : QWidget(parent), diameter_(diameter), color_(VornGlassTokens::warning()) {
    setFixedSize(diameter, diameter);
}

void SledStatusDot::setColor(const QColor& color) {
    if (color != color_) {
        color_ = color;
        update();
    }
}

void SledStatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color_);
    painter.drawEllipse(QRectF(0, 0, diameter_, diameter_));
}

SledVerticalDivider::SledVerticalDivider(int height, QWidget* parent) : QWidget(parent), height_(height) {
    setFixedSize(1, height);
}

void SledVerticalDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), VornGlassTokens::borderSubtle());
}

SledHorizontalDivider::SledHorizontalDivider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SledHorizontalDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), VornGlassTokens::borderSubtle());
}

SledPill::SledPill(const QString& text, const QColor& color, QFont font, double horizontalPadding,
                   double verticalPadding, QWidget* parent)
    : QWidget(parent), text_(text), color_(color), horizontalPadding_(horizontalPadding),
      verticalPadding_(verticalPadding) {
    setFont(font);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SledPill::setText(const QString& text) {
    if (text != text_) {
        text_ = text;
        updateGeometry();
        update();
    }
}

QSize SledPill::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(metrics.horizontalAdvance(text_) + 2 * horizontalPadding_, metrics.height() + 2 * verticalPadding_)
        .toSize() + QSize(1, 0);
}

void SledPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = color_;
    fill.setAlphaF(0.16f);
    painter.fillPath(vornCapsulePath(QRectF(rect())), fill);
    painter.setPen(color_);
    painter.setFont(font());
    painter.drawText(QRectF(rect()), Qt::AlignCenter, text_);
}

SledPlainSymbolButton::SledPlainSymbolButton(std::string symbol, const QColor& color, QFont font, QWidget* parent)
    : QAbstractButton(parent), symbol_(std::move(symbol)), color_(color) {
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SledPlainSymbolButton::setLabel(const QString& label) {
    if (label != label_) {
        label_ = label;
        setAccessibleName(label);
        updateGeometry();
        update();
    }
}

QSize SledPlainSymbolButton::sizeHint() const {
    const QFontMetricsF metrics(font());
    const double symbol = metrics.height();
    return QSizeF(symbol + 5 + metrics.horizontalAdvance(label_) + 8, metrics.height() + 8).toSize() + QSize(1, 0);
}

void SledPlainSymbolButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(vornDisabledOpacity);
    } else if (isDown()) {
        painter.setOpacity(0.7);
    }
    const QFontMetricsF metrics(font());
    const double symbol = metrics.height();
    const double top = (height() - symbol) / 2.0;
    VornSymbol::paint(painter, QRectF(4, top, symbol, symbol), symbol_, color_);
    painter.setPen(color_);
    painter.setFont(font());
    painter.drawText(QRectF(4 + symbol + 5, 0, width() - symbol - 9, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     label_);
    if (hasFocus()) {
        vornPaintFocusRing(painter, QRectF(rect()), 6);
    }
}

namespace {

void applyLabelLook(QLabel& label, const QColor& color, const QFont& font) {
    label.setTextFormat(Qt::PlainText);
    label.setFont(font);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label.setPalette(palette);
}

}  // namespace

QLabel* sledLabel(const QColor& color, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    applyLabelLook(*label, color, font);
    return label;
}

SledYieldingLabel::SledYieldingLabel(const QColor& color, const QFont& font, QWidget* parent) : QLabel(parent) {
    applyLabelLook(*this, color, font);
}

QString sledPlainToolTip(const QString& text) {
    // Escaped inside markup that keeps every space, so Qt's guess renders it character for character.
    return Qt::mightBeRichText(text) ? QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() +
                                           QStringLiteral("</p>")
                                     : text;
}

bool SledYieldingLabel::isElided() const {
    return QFontMetricsF(font()).horizontalAdvance(text()) > contentsRect().width() + 0.5;
}

QSize SledYieldingLabel::minimumSizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(metrics.horizontalAdvance(QStringLiteral("Mm…")), metrics.height()).toSize();
}

void SledYieldingLabel::paintEvent(QPaintEvent*) {
    const QString tip = isElided() ? sledPlainToolTip(text()) : QString();
    if (tip != toolTip()) {
        setToolTip(tip);
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    painter.drawText(area, int(alignment()) | Qt::TextSingleLine,
                     QFontMetricsF(font()).elidedText(text(), Qt::ElideRight, area.width()));
}

SledSheetPage sledSheetPage(QWidget* sheet, int margin, int spacing) {
    auto* outer = new QVBoxLayout(sheet);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* ground = new VornGroundBackground(VornProductPalette::deepCoral, sheet);
    outer->addWidget(ground);
    auto* column = new QVBoxLayout(ground);
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(spacing);
    return {ground, column};
}

SledBusyPage sledBusyPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(10);
    column->addStretch(1);
    auto* spinner = new VornSpinner(22, page);
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    QLabel* text = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::callout), page);
    column->addWidget(text, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return {page, spinner, text};
}
