#include "VornFeedbackButton.h"

#include "VornButtons.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

QFont compactFont() { return vornFont(10, QFont::DemiBold); }
QFont pillFont() { return vornFont(VornTextStyle::caption, QFont::Medium); }

double compactSymbolSide() { return std::ceil(QFontMetricsF(compactFont()).height()); }
double pillSymbolSide() { return std::ceil(QFontMetricsF(pillFont()).capHeight() * 1.6); }

constexpr double compactHorizontalPadding = 6.5;
constexpr double compactVerticalPadding = 3;
constexpr double pillHorizontalPadding = 11;
constexpr double pillVerticalPadding = 6;
constexpr double pillGap = 5;

}  // namespace

VornFeedbackButton::VornFeedbackButton(std::string appName, VornAppVersion version, VornFeedbackKind kind,
                                       VornLanguage language, VornFeedbackButtonStyle style,
                                       std::optional<std::string> baseURL, QWidget* parent)
    : QAbstractButton(parent),
      appName_(std::move(appName)),
      version_(std::move(version)),
      kind_(kind),
      language_(language),
      style_(style),
      baseURL_(std::move(baseURL)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    retranslate();
    connect(this, &QAbstractButton::clicked, this, [this] {
        VornFeedbackService::openInBrowser(appName_, version_, kind_, language_, baseURL_);
    });
}

void VornFeedbackButton::setLanguage(VornLanguage language) {
    if (language_ != language) {
        language_ = language;
        retranslate();
        updateGeometry();
        update();
    }
}

QString VornFeedbackButton::helpText() const {
    return vornQText("Listening to you — Report a bug or share an idea",
                     "Sizi dinliyoruz — Hata bildir veya fikir paylaş", language_);
}

QString VornFeedbackButton::title() const {
    return style_ == VornFeedbackButtonStyle::labeledPill
               ? vornQText("Send Feedback & Ideas", "Geri Bildirim & Fikir Gönder", language_)
               : QString();
}

std::optional<std::string> VornFeedbackButton::feedbackURL() const {
    return VornFeedbackService::webFeedbackURL(appName_, version_, kind_, language_, baseURL_);
}

void VornFeedbackButton::retranslate() {
    setToolTip(helpText());
    setAccessibleName(style_ == VornFeedbackButtonStyle::compactIcon ? helpText() : title());
    setAccessibleDescription(helpText());
}

QSize VornFeedbackButton::sizeHint() const {
    if (style_ == VornFeedbackButtonStyle::compactIcon) {
        const double side = compactSymbolSide();
        return QSize(int(std::ceil(side + 2 * compactHorizontalPadding)),
                     int(std::ceil(side + 2 * compactVerticalPadding)));
    }
    const QFontMetricsF metrics(pillFont());
    const double width = 2 * pillHorizontalPadding + pillSymbolSide() + pillGap + metrics.horizontalAdvance(title());
    const double height = 2 * pillVerticalPadding + std::max(metrics.height(), pillSymbolSide());
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize VornFeedbackButton::minimumSizeHint() const {
    if (style_ == VornFeedbackButtonStyle::compactIcon) {
        return sizeHint();
    }
    return QSize(int(std::ceil(2 * pillHorizontalPadding + pillSymbolSide())), sizeHint().height());
}

void VornFeedbackButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.78 : 1.0));
    const QRectF bounds(rect());
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;

    if (style_ == VornFeedbackButtonStyle::compactIcon) {
        vornPaintGlassCapsule(painter, bounds, VornGlassTokens::surface2(), VornGlassTokens::borderSubtle());
        const double side = std::min(compactSymbolSide(), std::min(bounds.width(), bounds.height()));
        VornSymbol::paint(painter, QRectF(bounds.center().x() - side / 2, bounds.center().y() - side / 2, side, side),
                          symbolName, VornGlassTokens::textSecondary());
        if (hasFocus()) {
            vornPaintFocusRing(painter, bounds, -1);
        }
        return;
    }

    vornPaintGlassButtonShape(painter, bounds, false);
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, 8);
    }
    const QFont font = pillFont();
    const QFontMetricsF metrics(font);
    const QRectF content = bounds.adjusted(pillHorizontalPadding, 0, -pillHorizontalPadding, 0);
    const double side = pillSymbolSide();
    const double room = std::max(0.0, content.width() - side - pillGap);
    const QString shown = metrics.elidedText(title(), Qt::ElideRight, room);
    const double textWidth = shown.isEmpty() ? 0.0 : std::min(room, metrics.horizontalAdvance(shown));
    const double total = side + (shown.isEmpty() ? 0.0 : pillGap + textWidth);
    const double start = content.left() + std::max(0.0, (content.width() - total) / 2);
    const double symbolX = rightToLeft ? content.left() + content.right() - start - side : start;
    const double textStart = start + side + pillGap;
    const double textX = rightToLeft ? content.left() + content.right() - textStart - textWidth : textStart;
    painter.setClipRect(content);
    VornSymbol::paint(painter, QRectF(symbolX, content.center().y() - side / 2, side, side), symbolName,
                      VornGlassTokens::textPrimary());
    if (!shown.isEmpty()) {
        painter.setFont(font);
        painter.setPen(VornGlassTokens::textPrimary());
        painter.drawText(QRectF(textX, content.top(), textWidth + 1, content.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         shown);
    }
}
