#include "VornVirtualMemoryHeaderPill.h"

#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSuiteApp.h"
#include "VornSuiteViewParts.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double dotSide = 6;
constexpr double spacing = 5;
constexpr double horizontalPadding = 9;
constexpr double verticalPadding = 4;
constexpr double symbolPoints = 10;

QFont titleFont() { return vornFont(11, QFont::DemiBold, VornFontDesign::monospaced); }

}  // namespace

VornVirtualMemoryHeaderPill::VornVirtualMemoryHeaderPill(VornVirtualMemorySummary summary, VornLanguage language,
                                                         Action onTap, QWidget* parent)
    : QAbstractButton(parent), summary_(std::move(summary)), language_(language), onTap_(std::move(onTap)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (onTap_) {
            onTap_();
        } else {
            // Activates the running app or starts the installed one; nothing when neither.
            VornSuiteApps::launch(VornSuiteApp::quarn);
        }
    });
    refresh();
}

void VornVirtualMemoryHeaderPill::setSummary(VornVirtualMemorySummary summary) {
    summary_ = std::move(summary);
    refresh();
}

void VornVirtualMemoryHeaderPill::setLanguage(VornLanguage language) {
    language_ = language;
    refresh();
}

void VornVirtualMemoryHeaderPill::refresh() {
    const QString shown = title(summary_, language_);
    setText(shown);
    setAccessibleName(shown);
    setToolTip(helpText(language_));
    updateGeometry();
    update();
}

bool VornVirtualMemoryHeaderPill::isActive(const VornVirtualMemorySummary& summary) {
    return summary.isQuarnVirtualExpansionActive();
}

QColor VornVirtualMemoryHeaderPill::statusColor(const VornVirtualMemorySummary& summary) {
    if (summary.pressureLevel == "critical") {
        return VornGlassTokens::danger();
    }
    if (isActive(summary)) {
        return vornSuiteRGB(169, 139, 255);
    }
    if (summary.pressureLevel == "warning") {
        return VornGlassTokens::warning();
    }
    return vornSuiteRGB(56, 232, 255);
}

std::string VornVirtualMemoryHeaderPill::symbolName(const VornVirtualMemorySummary& summary) {
    return isActive(summary) ? "externaldrive.badge.timemachine" : "memorychip";
}

QString VornVirtualMemoryHeaderPill::title(const VornVirtualMemorySummary& summary, VornLanguage language) {
    const QString prefix = vornQText("VM", "Sanal Bellek", language);
    const std::string compact = summary.compactBadgeText();
    if (compact.empty()) {
        return prefix + QStringLiteral(" ON");
    }
    return prefix + QStringLiteral(": ") + QString::fromStdString(compact);
}

QString VornVirtualMemoryHeaderPill::helpText(VornLanguage language) {
    return vornQText("Virtual Memory active — click to open Quarn",
                     "Sanal Bellek aktif — Quarn ile yönetmek için tıklayın", language);
}

QSize VornVirtualMemoryHeaderPill::sizeHint() const {
    const QFontMetricsF metrics(titleFont());
    const double symbol = vornSymbolSideForPoints(symbolPoints);
    const double width = dotSide + spacing + symbol + spacing + metrics.horizontalAdvance(text());
    const double height = std::max({metrics.height(), symbol, dotSide});
    return QSize(int(std::ceil(width + 2 * horizontalPadding)), int(std::ceil(height + 2 * verticalPadding)));
}

QSize VornVirtualMemoryHeaderPill::minimumSizeHint() const {
    const double symbol = vornSymbolSideForPoints(symbolPoints);
    const double width = dotSide + spacing + symbol + spacing + QFontMetricsF(titleFont()).horizontalAdvance(QStringLiteral("…"));
    return QSize(int(std::ceil(width + 2 * horizontalPadding)), sizeHint().height());
}

void VornVirtualMemoryHeaderPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    if (isDown()) {
        painter.setOpacity(0.78);
    }
    const QColor color = statusColor(summary_);
    const QRectF bounds(rect());
    vornPaintGlassCapsule(painter, bounds, vornWithOpacity(color, 0.2), vornWithOpacity(color, 0.45));

    const QRectF content = bounds.adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    const auto place = [&](double x, double width) { return rightToLeft ? content.left() + content.right() - x - width : x; };
    const double middle = content.center().y();
    double x = content.left();

    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(place(x, dotSide), middle - dotSide / 2, dotSide, dotSide));
    x += dotSide + spacing;

    const double symbol = vornSymbolSideForPoints(symbolPoints);
    VornSymbol::paint(painter, QRectF(place(x, symbol), middle - symbol / 2, symbol, symbol), symbolName(summary_), color);
    x += symbol + spacing;

    const QFont font = titleFont();
    const QFontMetricsF metrics(font);
    const double room = std::max(0.0, content.right() - x);
    const QString shown = metrics.elidedText(text(), Qt::ElideRight, room);
    const double width = std::min(room, metrics.horizontalAdvance(shown));
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(place(x, width), content.top(), width + 1, content.height()), Qt::AlignVCenter | Qt::AlignLeft,
                     shown);
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, -1);
    }
}
