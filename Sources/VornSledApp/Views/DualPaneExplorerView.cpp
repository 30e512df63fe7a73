#include "DualPaneExplorerView.h"

#include "SledChrome.h"
#include "VornButtons.h"
#include "VornGlassCard.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

// --- Rail button -----------------------------------------------------------------------------------

SledRailButton::SledRailButton(Style style, std::string symbol, double symbolSide, const QColor& symbolColor,
                               QFont textFont, double spacing, double verticalPadding, QWidget* parent)
    : QAbstractButton(parent),
      style_(style),
      symbol_(std::move(symbol)),
      symbolSide_(symbolSide),
      symbolColor_(symbolColor),
      textFont_(std::move(textFont)),
      spacing_(spacing),
      verticalPadding_(verticalPadding) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SledRailButton::setLabel(const QString& label) {
    if (label != label_) {
        label_ = label;
        setAccessibleName(label);
        updateGeometry();
        update();
    }
}

void SledRailButton::setActive(bool active) {
    if (active != active_) {
        active_ = active;
        update();
    }
}

QSize SledRailButton::sizeHint() const {
    const QFontMetricsF metrics(textFont_);
    const double width = std::max(symbolSide_, metrics.horizontalAdvance(label_)) + 12;
    const double height = verticalPadding_ + symbolSide_ + spacing_ + metrics.height() + verticalPadding_;
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize SledRailButton::minimumSizeHint() const {
    return QSize(int(std::ceil(symbolSide_ + 8)), sizeHint().height());
}

void SledRailButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds(rect());
    QColor ink;
    if (style_ == Style::primary) {
        painter.setOpacity(isEnabled() ? 1.0 : vornDisabledOpacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(1, 1, 1, isDown() ? 0.82f : 0.96f));
        painter.drawPath(vornRoundedRectPath(bounds, 9));
        ink = QColor::fromRgbF(0, 0, 0, 0.9f);
    } else {
        painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.78 : 1.0));
        vornPaintGlassButtonShape(painter, bounds, active_);
        ink = VornGlassTokens::textPrimary();
    }
    const QFontMetricsF metrics(textFont_);
    const double content = symbolSide_ + spacing_ + metrics.height();
    const double top = (bounds.height() - content) / 2.0;
    VornSymbol::paint(painter, QRectF((bounds.width() - symbolSide_) / 2.0, top, symbolSide_, symbolSide_), symbol_,
                      symbolColor_.isValid() ? symbolColor_ : ink);
    painter.setFont(textFont_);
    painter.setPen(ink);
    painter.drawText(QRectF(2, top + symbolSide_ + spacing_, bounds.width() - 4, metrics.height()), Qt::AlignCenter,
                     metrics.elidedText(label_, Qt::ElideRight, bounds.width() - 4));
    if (hasFocus()) {
        if (style_ == Style::primary) {
            painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.45f), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(vornRoundedRectPath(bounds.adjusted(2, 2, -2, -2), 7));
        } else {
            vornPaintFocusRing(painter, bounds, 8);
        }
    }
}

// --- Explorer --------------------------------------------------------------------------------------

namespace {

// A horizontal rule in borderSubtle with room above and below.
QWidget* railDivider(QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 4, 0, 4);
    column->addWidget(new SledHorizontalDivider(holder));
    return holder;
}

}  // namespace

DualPaneExplorerView::DualPaneExplorerView(SledViewModel& viewModel, QWidget* parent)
    : QWidget(parent), model_(viewModel), accent_(accentColor(VornProductPalette::deepCoral)) {
    // "Left", "Right", "Send →" and "← Pull" name the sides as they stand on the screen, so the panes
    // and the rail keep that order whichever way the language reads; only the texts change.
    setLayoutDirection(Qt::LeftToRight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    leftCard_ = new PaneBrowserCard(*model_.leftPane(), model_, true, this);
    rightCard_ = new PaneBrowserCard(*model_.rightPane(), model_, false, this);

    rail_ = new VornGlassCard(8, 14, this);
    rail_->setFixedWidth(railWidth);
    auto* column = rail_->contentLayout();
    column->setSpacing(10);
    column->addStretch(1);
    const QFont caption2 = vornFont(VornTextStyle::caption2);
    const double large = 20;
    send_ = new SledRailButton(SledRailButton::Style::primary, "arrow.right.circle.fill", large, QColor(),
                               vornFont(VornTextStyle::caption2, QFont::Bold), 4, 8, rail_);
    pull_ = new SledRailButton(SledRailButton::Style::glass, "arrow.left.circle.fill", large, QColor(),
                               vornFont(VornTextStyle::caption2, QFont::Bold), 4, 8, rail_);
    sync_ = new SledRailButton(SledRailButton::Style::glass, "arrow.triangle.2.circlepath", 16, accent_,
                               vornFont(VornTextStyle::caption2, QFont::DemiBold), 4, 7, rail_);
    swap_ = new SledRailButton(SledRailButton::Style::glass, "arrow.left.arrow.right",
                               std::round(QFontMetricsF(vornFont(VornTextStyle::caption)).capHeight() * 1.45), QColor(),
                               caption2, 3, 6, rail_);
    column->addWidget(send_);
    column->addWidget(pull_);
    column->addWidget(railDivider(rail_));
    column->addWidget(sync_);
    column->addWidget(swap_);
    column->addStretch(1);

    connect(send_, &QAbstractButton::clicked, this,
            [this] { model_.transferSelected(model_.leftPane(), model_.rightPane()); });
    connect(pull_, &QAbstractButton::clicked, this,
            [this] { model_.transferSelected(model_.rightPane(), model_.leftPane()); });
    connect(sync_, &QAbstractButton::clicked, this, [this] {
        model_.setShowingSyncSheet(true);
        model_.recomputeSyncPlan();
    });
    connect(swap_, &QAbstractButton::clicked, this, [this] { model_.swapPanes(); });

    row->addWidget(leftCard_, 1);
    row->addWidget(rail_);
    row->addWidget(rightCard_, 1);

    connect(model_.leftPane(), &PaneBrowserState::selectedPathsChanged, this, &DualPaneExplorerView::syncRail);
    connect(model_.rightPane(), &PaneBrowserState::selectedPathsChanged, this, &DualPaneExplorerView::syncRail);
    connect(&model_, &SledViewModel::languageChanged, this, &DualPaneExplorerView::retranslate);
    retranslate();
    syncRail();
}

void DualPaneExplorerView::retranslate() {
    const VornLanguage language = model_.language();
    send_->setLabel(vornQText("Send →", "Gönder →", language));
    pull_->setLabel(vornQText("← Pull", "← Çek", language));
    sync_->setLabel(vornQText("Sync Diff", "Eşitle", language));
    swap_->setLabel(vornQText("Swap", "Değiştir", language));
}

void DualPaneExplorerView::syncRail() {
    send_->setEnabled(!model_.leftPane()->selectedPaths().empty());
    const bool pullable = !model_.rightPane()->selectedPaths().empty();
    pull_->setEnabled(pullable);
    pull_->setActive(pullable);
}
