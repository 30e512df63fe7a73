#include "MainSledWorkspaceView.h"

#include "ConnectionProfileSheetView.h"
#include "DualPaneExplorerView.h"
#include "LanAirDropView.h"
#include "SledChrome.h"
#include "SledTransferQueueView.h"
#include "VornAppVersion.h"
#include "VornBrandMark.h"
#include "VornBundle.h"
#include "VornButtons.h"
#include "VornFeedbackButton.h"
#include "VornGlassCard.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSymbol.h"
#include "VornToastBanner.h"
#include "VornTypography.h"

#include <QCheckBox>
#include <QEasingCurve>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <string>

namespace {

QString decimal(std::int64_t value) {
    return QString::number(static_cast<qlonglong>(value));
}

int tabIndex(SledWorkspaceTab tab) {
    return static_cast<int>(tab);
}

// The toast sits at the bottom centre, this far above the window's bottom edge.
constexpr int toastBottomGap = 52;

}  // namespace

// --- Tab button ------------------------------------------------------------------------------------

SledTabButton::SledTabButton(SledWorkspaceTab tab, std::string symbol, const QColor& accent, QWidget* parent)
    : QAbstractButton(parent), tab_(tab), symbol_(std::move(symbol)), accent_(accent) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

QFont SledTabButton::titleFont() const {
    return vornFont(12.5, active_ ? QFont::Bold : QFont::Medium);
}

void SledTabButton::setActive(bool active) {
    if (active != active_) {
        active_ = active;
        updateGeometry();
        update();
    }
}

void SledTabButton::setTitle(const QString& title) {
    if (title != title_) {
        title_ = title;
        setAccessibleName(title);
        updateGeometry();
        update();
    }
}

QSize SledTabButton::sizeHint() const {
    // Sized for the bold title, so switching tabs never moves its neighbours.
    const QFontMetricsF metrics(vornFont(12.5, QFont::Bold));
    const double symbol = 15;
    return QSizeF(12 + symbol + 6 + metrics.horizontalAdvance(title_) + 12, std::max(symbol, metrics.height()) + 14)
               .toSize() +
           QSize(1, 0);
}

void SledTabButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (active_) {
        QColor border = accent_;
        border.setAlphaF(0.75f);
        vornPaintGlassRoundedRect(painter, bounds, 9, VornGlassTokens::surface3(), border);
    } else if (underMouse() || isDown()) {
        painter.fillPath(vornRoundedRectPath(bounds, 9), VornGlassTokens::surface1());
    }
    const QColor color = active_ ? VornGlassTokens::textPrimary() : VornGlassTokens::textSecondary();
    const QFont font = titleFont();
    const QFontMetricsF metrics(font);
    const double symbol = 15;
    const double content = symbol + 6 + metrics.horizontalAdvance(title_);
    double x = (width() - content) / 2.0;
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    const QRectF symbolRect(rtl ? width() - x - symbol : x, (height() - symbol) / 2.0, symbol, symbol);
    VornSymbol::paint(painter, symbolRect, symbol_, color);
    x += symbol + 6;
    painter.setFont(font);
    painter.setPen(color);
    const double textWidth = metrics.horizontalAdvance(title_) + 1;
    painter.drawText(QRectF(rtl ? width() - x - textWidth : x, 0, textWidth, height()), Qt::AlignVCenter, title_);
    if (hasFocus()) {
        vornPaintFocusRing(painter, QRectF(rect()), 9);
    }
}

// --- Workspace view --------------------------------------------------------------------------------

MainSledWorkspaceView::MainSledWorkspaceView(SledViewModel& viewModel, QWidget* parent)
    : VornGroundBackground(VornProductPalette::deepCoral, parent),
      model_(viewModel),
      accent_(accentColor(VornProductPalette::deepCoral)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);
    column->addWidget(makeToolbar());

    pages_ = new QStackedWidget(this);
    pageWidgets_[0] = new DualPaneExplorerView(model_, this);
    pageWidgets_[1] = new LanAirDropView(model_, accent_, this);
    pageWidgets_[2] = new SledTransferQueueView(model_, this);
    for (QWidget* page : pageWidgets_) {
        pages_->addWidget(page);
    }
    column->addWidget(pages_, 1);
    column->addWidget(makeStatusBar());

    toast_ = new VornToastBanner(QString(), false, this);
    toast_->setAttribute(Qt::WA_TransparentForMouseEvents);
    toast_->hide();
    toastAnimation_ = new QVariantAnimation(this);
    toastAnimation_->setDuration(280);
    toastAnimation_->setEasingCurve(QEasingCurve::OutBack);
    connect(toastAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        toastLift_ = value.toDouble();
        placeToast();
    });
    connect(toastAnimation_, &QVariantAnimation::finished, this, [this] {
        if (!model_.toastMessage()) {
            toast_->hide();
        }
    });

    connect(&model_, &SledViewModel::languageChanged, this, &MainSledWorkspaceView::retranslate);
    connect(&model_, &SledViewModel::activeTabChanged, this, &MainSledWorkspaceView::syncTab);
    connect(&model_, &SledViewModel::transfersChanged, this, &MainSledWorkspaceView::syncCounts);
    connect(model_.transferList(), &QAbstractItemModel::rowsInserted, this, &MainSledWorkspaceView::syncCounts);
    connect(model_.transferList(), &QAbstractItemModel::rowsRemoved, this, &MainSledWorkspaceView::syncCounts);
    connect(model_.transferList(), &QAbstractItemModel::modelReset, this, &MainSledWorkspaceView::syncCounts);
    connect(&model_, &SledViewModel::profilesChanged, this, &MainSledWorkspaceView::syncCounts);
    connect(&model_, &SledViewModel::discoveredPeersChanged, this, &MainSledWorkspaceView::syncCounts);
    connect(&model_, &SledViewModel::manualPeersChanged, this, &MainSledWorkspaceView::syncCounts);
    connect(&model_, &SledViewModel::isLANServerRunningChanged, this, &MainSledWorkspaceView::syncReceiver);
    connect(&model_, &SledViewModel::activeLANPortChanged, this, &MainSledWorkspaceView::syncReceiver);
    connect(&model_, &SledViewModel::localLANIPChanged, this, &MainSledWorkspaceView::syncReceiver);
    connect(&model_, &SledViewModel::settingsChanged, this, &MainSledWorkspaceView::syncReceiver);
    connect(&model_, &SledViewModel::settingsChanged, this, &MainSledWorkspaceView::syncSettings);
    connect(&model_, &SledViewModel::toastMessageChanged, this, &MainSledWorkspaceView::syncToast);
    connect(&model_, &SledViewModel::toastIsErrorChanged, this, &MainSledWorkspaceView::syncToast);

    connect(&model_, &SledViewModel::showingProfileSheetChanged, this, &MainSledWorkspaceView::syncProfileSheet);
    connect(&model_, &SledViewModel::showingPreviewSheetChanged, this, &MainSledWorkspaceView::syncPreviewSheet);
    connect(&model_, &SledViewModel::showingSyncSheetChanged, this, &MainSledWorkspaceView::syncSyncSheet);

    retranslate();
    syncTab();
    syncSettings();
    syncToast();
    syncProfileSheet();
    syncPreviewSheet();
    syncSyncSheet();
}

void MainSledWorkspaceView::syncProfileSheet() {
    if (model_.showingProfileSheet() && !profileSheet_) {
        // A new sheet each time, so a new connection always starts from an empty form.
        auto* sheet = new ConnectionProfileSheetView(model_, model_.editingProfile(), window());
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &QDialog::finished, this, [this] { model_.setShowingProfileSheet(false); });
        profileSheet_ = sheet;
        sheet->open();
    } else if (!model_.showingProfileSheet() && profileSheet_) {
        ConnectionProfileSheetView* sheet = profileSheet_;
        profileSheet_ = nullptr;
        sheet->close();
    }
}

void MainSledWorkspaceView::syncPreviewSheet() {
    if (model_.showingPreviewSheet() && !previewSheet_) {
        // A new sheet each time, so every presentation starts viewing, with no draft.
        auto* sheet = new RemoteFilePreviewSheetView(model_, window());
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &QDialog::finished, this, [this] { model_.setShowingPreviewSheet(false); });
        previewSheet_ = sheet;
        sheet->open();
    } else if (!model_.showingPreviewSheet() && previewSheet_) {
        RemoteFilePreviewSheetView* sheet = previewSheet_;
        previewSheet_ = nullptr;
        sheet->closeDiscardingEdits();
    }
}

void MainSledWorkspaceView::syncSyncSheet() {
    if (model_.showingSyncSheet() && !syncSheet_) {
        auto* sheet = new SyncPreviewSheetView(model_, window());
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(sheet, &QDialog::finished, this, [this] { model_.setShowingSyncSheet(false); });
        syncSheet_ = sheet;
        sheet->open();
    } else if (!model_.showingSyncSheet() && syncSheet_) {
        SyncPreviewSheetView* sheet = syncSheet_;
        syncSheet_ = nullptr;
        sheet->close();
    }
}

QWidget* MainSledWorkspaceView::makeToolbar() {
    auto* bar = new SledGlassBar(14, this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(12);

    auto* identity = new QHBoxLayout();
    identity->setSpacing(10);
    identity->addWidget(new VornBrandMark(28, VornBrandMarkStyle::currentApp(), bar), 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout();
    names->setSpacing(1);
    auto* nameRow = new QHBoxLayout();
    nameRow->setSpacing(7);
    QLabel* name = sledLabel(VornGlassTokens::textPrimary(), vornFont(17, QFont::Bold, VornFontDesign::rounded), bar);
    name->setText(QStringLiteral("VornSled"));
    nameRow->addWidget(name);
    nameRow->addWidget(new SledPill(QStringLiteral("by Vornworks"), accent_, vornFont(10.5, QFont::DemiBold), 7, 2, bar),
                       0, Qt::AlignVCenter);
    nameRow->addStretch(1);
    names->addLayout(nameRow);
    tagline_ = new SledYieldingLabel(VornGlassTokens::textSecondary(), vornFont(11), bar);
    names->addWidget(tagline_);
    identity->addLayout(names);
    row->addLayout(identity);
    row->addStretch(1);

    auto* tabs = new QHBoxLayout();
    tabs->setSpacing(6);
    const std::array<std::pair<SledWorkspaceTab, const char*>, 3> table{{
        {SledWorkspaceTab::dualPane, "rectangle.split.2x1.fill"},
        {SledWorkspaceTab::lanAirDrop, "dot.radiowaves.left.and.right"},
        {SledWorkspaceTab::transfers, "checkmark.shield.fill"},
    }};
    for (const auto& [tab, symbol] : table) {
        auto* button = new SledTabButton(tab, symbol, accent_, bar);
        connect(button, &QAbstractButton::clicked, this, [this, tab = tab] { model_.setActiveTab(tab); });
        tabButtons_[static_cast<std::size_t>(tabIndex(tab))] = button;
        tabs->addWidget(button);
    }
    row->addLayout(tabs);
    row->addStretch(1);

    const VornAppVersion version = VornAppVersion::current(VornBundle::main(), "1.0.0", "100");
    feedbackButton_ = new VornFeedbackButton("VornSled", version, VornFeedbackKind::feature, model_.language(),
                                             VornFeedbackButtonStyle::compactIcon, std::nullopt, bar);
    row->addWidget(feedbackButton_);
    languageButton_ = new VornLanguageMenuButton(
        model_.language(), [this](VornLanguage language) { model_.setLanguage(language); }, bar);
    row->addWidget(languageButton_);
    addServer_ = new VornPrimaryButton(QString(), bar);
    addServer_->setSymbol("plus.circle.fill");
    connect(addServer_, &QAbstractButton::clicked, this, [this] { model_.openNewProfileSheet(); });
    row->addWidget(addServer_);
    return bar;
}

QWidget* MainSledWorkspaceView::makeStatusBar() {
    auto* bar = new SledGlassBar(12, this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 9, 14, 9);
    row->setSpacing(14);

    auto* receiver = new QHBoxLayout();
    receiver->setSpacing(6);
    receiverDot_ = new SledStatusDot(7, bar);
    receiver->addWidget(receiverDot_, 0, Qt::AlignVCenter);
    receiverText_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(11.5, QFont::Medium, VornFontDesign::monospaced), bar);
    receiverText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    receiver->addWidget(receiverText_);
    row->addLayout(receiver);
    row->addWidget(new SledVerticalDivider(14, bar), 0, Qt::AlignVCenter);
    counts_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption), bar);
    row->addWidget(counts_);
    row->addStretch(1);

    auto* controls = new QHBoxLayout();
    controls->setSpacing(10);
    verifyToggle_ = new QCheckBox(bar);
    verifyToggle_->setFont(vornFont(VornTextStyle::caption, QFont::Medium));
    QPalette palette = verifyToggle_->palette();
    palette.setColor(QPalette::WindowText, VornGlassTokens::textPrimary());
    palette.setColor(QPalette::Base, QColor(0x2A, 0x20, 0x2C));
    palette.setColor(QPalette::Text, accent_);
    palette.setColor(QPalette::Highlight, accent_);
    verifyToggle_->setPalette(palette);
    verifyToggle_->setCursor(Qt::PointingHandCursor);
    connect(verifyToggle_, &QCheckBox::clicked, this, [this](bool on) { setVerifySHA256(on); });
    controls->addWidget(verifyToggle_);

    QFont streamsFont = vornFont(VornTextStyle::caption, QFont::Bold);
    streamsButton_ = new SledPlainSymbolButton("bolt.horizontal.fill", accent_, streamsFont, bar);
    connect(streamsButton_, &QAbstractButton::clicked, this, [this] {
        QMenu* menu = buildStreamsMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(streamsButton_->mapToGlobal(QPoint(0, streamsButton_->height())));
    });
    controls->addWidget(streamsButton_);
    row->addLayout(controls);
    return bar;
}

QMenu* MainSledWorkspaceView::buildStreamsMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const QString name = vornQText("Parallel Streams", "Paralel Akış", model_.language());
    for (const std::int64_t workers : parallelStreamChoices) {
        QAction* action = menu->addAction(decimal(workers) + QStringLiteral("× ") + vornEscapeMnemonic(name));
        connect(action, &QAction::triggered, this, [this, workers] { setParallelWorkers(workers); });
    }
    return menu;
}

void MainSledWorkspaceView::setVerifySHA256(bool on) {
    SledSettings settings = model_.settings();
    settings.verifySHA256OnTransfer = on;
    model_.saveSettings(settings, false);
}

void MainSledWorkspaceView::setParallelWorkers(std::int64_t workers) {
    SledSettings settings = model_.settings();
    settings.parallelWorkers = workers;
    model_.saveSettings(settings, false);
}

SledTabButton* MainSledWorkspaceView::tabButton(SledWorkspaceTab tab) const {
    return tabButtons_[static_cast<std::size_t>(tabIndex(tab))];
}

QWidget* MainSledWorkspaceView::page(SledWorkspaceTab tab) const {
    return pageWidgets_[static_cast<std::size_t>(tabIndex(tab))];
}

QWidget* MainSledWorkspaceView::currentPage() const {
    return pages_->currentWidget();
}

void MainSledWorkspaceView::retranslate() {
    const VornLanguage language = model_.language();
    tagline_->setText(vornQText("Dual-Pane SFTP / AWS S3 / Cloudflare R2 & Cross-Platform LAN Drop",
                                "Çift Panelli SFTP / AWS S3 / Cloudflare R2 & Platform Bağımsız LAN Drop", language));
    tabButton(SledWorkspaceTab::dualPane)->setTitle(vornQText("Dual-Pane", "Çift Panel", language));
    tabButton(SledWorkspaceTab::lanAirDrop)->setTitle(vornQText("LAN Drop", "LAN Drop", language));
    feedbackButton_->setLanguage(language);
    languageButton_->setLanguage(language);
    addServer_->setLabel(vornQText("Add Server", "Sunucu Ekle", language));
    // The toolbar's one command reads in full at every window size; the tagline gives way first.
    addServer_->setMinimumWidth(addServer_->sizeHint().width());
    verifyToggle_->setText(vornEscapeMnemonic(vornQText("SHA-256 Verify", "SHA-256 Doğrula", language)));
    vornApplyContentLayoutDirection(this, language);
    syncCounts();
    syncReceiver();
}

void MainSledWorkspaceView::syncTab() {
    for (SledTabButton* button : tabButtons_) {
        button->setActive(button->tab() == model_.activeTab());
    }
    pages_->setCurrentIndex(tabIndex(model_.activeTab()));
}

void MainSledWorkspaceView::syncCounts() {
    const VornLanguage language = model_.language();
    const QString transfers = decimal(static_cast<std::int64_t>(model_.transfers().size()));
    tabButton(SledWorkspaceTab::transfers)
        ->setTitle(vornQText("Transfers (", "Transferler (", language) + transfers + QStringLiteral(")"));
    const QString peers = decimal(static_cast<std::int64_t>(model_.allLANPeers().size()));
    const QString servers = decimal(static_cast<std::int64_t>(model_.profiles().size()));
    counts_->setText(peers + vornQText(" LAN peer(s) • ", " yerel ağ cihazı • ", language) + servers +
                     vornQText(" saved server(s)", " kayıtlı sunucu", language));
}

void MainSledWorkspaceView::syncReceiver() {
    const bool running = model_.isLANServerRunning();
    receiverDot_->setColor(running ? VornGlassTokens::success() : VornGlassTokens::warning());
    receiverText_->setText(running ? QStringLiteral("LAN Drop: ") + QString::fromStdString(model_.lanPortalURLString())
                                   : vornQText("LAN Receiver Paused", "LAN Alıcısı Kapalı", model_.language()));
}

void MainSledWorkspaceView::syncSettings() {
    const SledSettings& settings = model_.settings();
    verifyToggle_->setChecked(settings.verifySHA256OnTransfer);
    streamsButton_->setLabel(decimal(settings.parallelWorkers) + QStringLiteral("×"));
}

void MainSledWorkspaceView::syncToast() {
    const std::optional<std::string>& message = model_.toastMessage();
    if (message) {
        toast_->setMessage(QString::fromStdString(*message));
        toast_->setError(model_.toastIsError());
        if (toast_->isHidden() || toastAnimation_->endValue().toDouble() < 1.0) {
            toast_->show();
            toast_->raise();
            toastAnimation_->stop();
            toastAnimation_->setStartValue(toastLift_ >= 1.0 ? 0.0 : toastLift_);
            toastAnimation_->setEndValue(1.0);
            toastAnimation_->start();
        }
        placeToast();
    } else if (!toast_->isHidden()) {
        toastAnimation_->stop();
        toastAnimation_->setStartValue(toastLift_);
        toastAnimation_->setEndValue(0.0);
        toastAnimation_->start();
    }
}

void MainSledWorkspaceView::placeToast() {
    const QSize hint = toast_->sizeHint();
    const int width = std::min(hint.width(), this->width() - 32);
    const int restingTop = height() - toastBottomGap - hint.height() + VornToastBanner::shadowMargin;
    // Sliding in from the bottom edge: lift 0 is just below the window, 1 the resting place.
    const double top = height() + (restingTop - height()) * toastLift_;
    toast_->setGeometry((this->width() - width) / 2, static_cast<int>(top), width, hint.height());
    toast_->raise();
}

void MainSledWorkspaceView::resizeEvent(QResizeEvent* event) {
    VornGroundBackground::resizeEvent(event);
    placeToast();
}
