#include "MenuBarSledView.h"

#include "SledChrome.h"
#include "VornAppVersion.h"
#include "VornBrandMark.h"
#include "VornBundle.h"
#include "VornButtons.h"
#include "VornFeedbackButton.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPalette.h"
#include "VornTypography.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

MenuBarSledView::MenuBarSledView(SledViewModel& viewModel, std::function<void()> showMainWindow, QWidget* parent)
    : VornGroundBackground(VornProductPalette::deepCoral, parent),
      model_(viewModel),
      showMainWindow_(std::move(showMainWindow)) {
    setFixedWidth(panelWidth);
    const QColor accent = accentColor(VornProductPalette::deepCoral);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(10);

    auto* header = new QHBoxLayout();
    header->addWidget(new VornBrandMark(18, VornBrandMarkStyle::currentApp(), this));
    QLabel* name = sledLabel(VornGlassTokens::textPrimary(), vornFont(14, QFont::Bold), this);
    name->setText(QStringLiteral("VornSled"));
    header->addWidget(name);
    header->addStretch(1);
    feedback_ = new VornFeedbackButton("VornSled", VornAppVersion::current(VornBundle::main(), "1.0.0", "100"),
                                       VornFeedbackKind::feature, model_.language(), VornFeedbackButtonStyle::compactIcon,
                                       std::nullopt, this);
    header->addWidget(feedback_);
    dot_ = new SledStatusDot(8, this);
    header->addWidget(dot_, 0, Qt::AlignVCenter);
    column->addLayout(header);
    column->addWidget(new SledHorizontalDivider(this));

    auto* addressColumn = new QVBoxLayout();
    addressColumn->setSpacing(4);
    caption_ = sledLabel(VornGlassTokens::textMuted(), vornFont(VornTextStyle::caption2), this);
    addressColumn->addWidget(caption_);
    address_ = sledLabel(accent, vornFont(vornTextStylePoints(VornTextStyle::caption), QFont::Bold, VornFontDesign::monospaced), this);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addressColumn->addWidget(address_);
    column->addLayout(addressColumn);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(6);
    copy_ = new VornGlassButton(QString(), false, this);
    connect(copy_, &QAbstractButton::clicked, this, [this] { model_.copyText(model_.lanPortalURLString(), "LAN URL"); });
    copy_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    buttons->addWidget(copy_);
    share_ = new VornPrimaryButton(QString(), this);
    connect(share_, &QAbstractButton::clicked, this, [this] { model_.publishMacClipboardToLANPortal(); });
    share_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    buttons->addWidget(share_);
    column->addLayout(buttons);
    column->addWidget(new SledHorizontalDivider(this));

    open_ = new VornGlassButton(QString(), false, this);
    open_->setSymbol("macwindow");
    open_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(open_, &QAbstractButton::clicked, this, [this] {
        if (showMainWindow_) {
            showMainWindow_();
        }
    });
    column->addWidget(open_);

    connect(&model_, &SledViewModel::languageChanged, this, &MenuBarSledView::retranslate);
    connect(&model_, &SledViewModel::isLANServerRunningChanged, this, &MenuBarSledView::syncReceiver);
    connect(&model_, &SledViewModel::activeLANPortChanged, this, &MenuBarSledView::syncReceiver);
    connect(&model_, &SledViewModel::localLANIPChanged, this, &MenuBarSledView::syncReceiver);
    connect(&model_, &SledViewModel::settingsChanged, this, &MenuBarSledView::syncReceiver);
    retranslate();
    syncReceiver();
}

void MenuBarSledView::retranslate() {
    const VornLanguage language = model_.language();
    feedback_->setLanguage(language);
    caption_->setText(vornQText("LAN Web Drop URL", "Yerel Ağ Portal Adresi", language));
    copy_->setLabel(vornQText("Copy URL", "URL Kopyala", language));
    share_->setLabel(vornQText("Share Clipboard", "Panoyu Paylaş", language));
    open_->setLabel(vornQText("Open VornSled Studio", "VornSled Penceresini Aç", language));
    vornApplyContentLayoutDirection(this, language);
}

void MenuBarSledView::syncReceiver() {
    dot_->setColor(model_.isLANServerRunning() ? VornGlassTokens::success() : VornGlassTokens::warning());
    address_->setText(QString::fromStdString(model_.lanPortalURLString()));
}
