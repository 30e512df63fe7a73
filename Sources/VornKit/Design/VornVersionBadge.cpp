#include "VornVersionBadge.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

QFont badgeFont() { return vornFont(10, QFont::DemiBold, VornFontDesign::monospaced); }

constexpr double horizontalPadding = 7;
constexpr double verticalPadding = 2.5;

}  // namespace

VornVersionBadge::VornVersionBadge(VornAppVersion version, bool showBuild, QWidget* parent)
    : QWidget(parent), version_(std::move(version)), showBuild_(showBuild) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text());
}

QString VornVersionBadge::text() const {
    const std::string shown = showBuild_ ? version_.detailedDisplay() : version_.tag();
    return QString::fromUtf8(shown.data(), qsizetype(shown.size()));
}

QSize VornVersionBadge::sizeHint() const {
    const QFontMetricsF metrics(badgeFont());
    return {int(std::ceil(metrics.horizontalAdvance(text()) + 2 * horizontalPadding)),
            int(std::ceil(metrics.height() + 2 * verticalPadding))};
}

void VornVersionBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const QRectF bounds(rect());
    vornPaintGlassCapsule(painter, bounds, VornGlassTokens::surface2(), VornGlassTokens::borderSubtle());
    painter.setFont(badgeFont());
    painter.setPen(VornGlassTokens::textSecondary());
    painter.drawText(bounds.adjusted(horizontalPadding, 0, -horizontalPadding, 0), Qt::AlignCenter, text());
}
