#include "SyncPreviewSheetView.h"

#include "SledChrome.h"
#include "VornBrandMark.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSegmentedControl.h"
#include "VornSpinner.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

constexpr auto syncModes = allCases<SyncDirectionMode>();
constexpr double rowHorizontalPadding = 10;
constexpr double rowVerticalPadding = 7;
constexpr double rowSpacing = 10;
constexpr double symbolColumn = 18;

QFont nameFont() {
    return vornFont(12.5, QFont::Medium, VornFontDesign::monospaced);
}
QFont reasonFont() {
    return vornFont(VornTextStyle::caption2);
}
// The interface font's digits are all one width, so sizes line up without a font feature.
QFont sizeFont() {
    return vornFont(VornTextStyle::caption2);
}

// The planner gives its reasons in English and the plan keeps them as they are; a row shows the
// ones it knows in the chosen language and any other text as it came.
constexpr std::array<std::array<const char*, 2>, 10> knownReasons{{
    {"Missing on Right", "Sağda Yok"},
    {"Missing on Left", "Solda Yok"},
    {"Kept on Right", "Sağda Kalır"},
    {"Kept on Left", "Solda Kalır"},
    {"Orphan on Right", "Sağda Fazlalık"},
    {"Orphan on Left", "Solda Fazlalık"},
    {"Newer on Left", "Solda Daha Yeni"},
    {"Newer on Right", "Sağda Daha Yeni"},
    {"Size changed", "Boyut değişti"},
    {"Identical", "Aynı"},
}};

QCheckBox* tintedToggle(QWidget* parent, const QColor& tint) {
    auto* toggle = new QCheckBox(parent);
    toggle->setFont(vornFont(VornTextStyle::caption));
    QPalette palette = toggle->palette();
    palette.setColor(QPalette::WindowText, VornGlassTokens::textPrimary());
    palette.setColor(QPalette::Base, QColor(0x2A, 0x20, 0x2C));
    palette.setColor(QPalette::Text, tint);
    palette.setColor(QPalette::Highlight, tint);
    toggle->setPalette(palette);
    toggle->setCursor(Qt::PointingHandCursor);
    return toggle;
}

}  // namespace

// --- Row -------------------------------------------------------------------------------------------

SledSyncPlanRowDelegate::SledSyncPlanRowDelegate(SledViewModel& viewModel, const QColor& accent, QObject* parent)
    : QStyledItemDelegate(parent), model_(viewModel), accent_(accent) {}

const SyncPlanItem* SledSyncPlanRowDelegate::item(const QModelIndex& index) const {
    const auto& rows = model_.syncPlanItems();
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows.size()) {
        return nullptr;
    }
    return &rows[static_cast<std::size_t>(index.row())];
}

std::string SledSyncPlanRowDelegate::actionSymbol(SyncActionKind action) {
    switch (action) {
    case SyncActionKind::copyLeftToRight: return "arrow.right.circle.fill";
    case SyncActionKind::copyRightToLeft: return "arrow.left.circle.fill";
    case SyncActionKind::deleteOnRight:
    case SyncActionKind::deleteOnLeft: return "trash.fill";
    case SyncActionKind::identicalSkip: return "equal.circle";
    }
    return "equal.circle";
}

QColor SledSyncPlanRowDelegate::actionColor(SyncActionKind action) const {
    switch (action) {
    case SyncActionKind::copyLeftToRight:
    case SyncActionKind::copyRightToLeft: return accent_;
    case SyncActionKind::deleteOnRight:
    case SyncActionKind::deleteOnLeft: return VornGlassTokens::danger();
    case SyncActionKind::identicalSkip: return VornGlassTokens::textMuted();
    }
    return VornGlassTokens::textMuted();
}

QSize SledSyncPlanRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const double line = std::max({QFontMetricsF(nameFont()).height(), QFontMetricsF(reasonFont()).height(), 14.0});
    return QSize(option.rect.width(), static_cast<int>(std::ceil(line + 2 * rowVerticalPadding)) + rowGap);
}

QString SledSyncPlanRowDelegate::shownReason(const SyncPlanItem& item) const {
    for (const auto& [en, tr] : knownReasons) {
        if (item.reason() == en) {
            return vornQText(en, tr, model_.language());
        }
    }
    return sledOneLine(sledDisplayText(item.reason()));
}

QString SledSyncPlanRowDelegate::shownName(const SyncPlanItem& item, int rowWidth) const {
    const QString reason = shownReason(item);
    double trailing = QFontMetricsF(reasonFont()).horizontalAdvance(reason);
    if (item.bytesToTransfer() >= 1) {
        trailing += rowSpacing + QFontMetricsF(sizeFont()).horizontalAdvance(q(VornByteFormatter::format(item.bytesToTransfer())));
    }
    const double available = rowWidth - 2 * rowHorizontalPadding - symbolColumn - 2 * rowSpacing - trailing;
    return QFontMetricsF(nameFont()).elidedText(sledOneLine(sledDisplayText(item.relativeName())), Qt::ElideMiddle,
                                                std::max(0.0, available));
}

void SledSyncPlanRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const SyncPlanItem* row = item(index);
    if (row == nullptr) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF rect = QRectF(option.rect).adjusted(0, 0, 0, -rowGap);
    painter->fillPath(vornRoundedRectPath(rect, 8), VornGlassTokens::surface1());
    const bool rightToLeft = option.direction == Qt::RightToLeft;
    const QRectF content = rect.adjusted(rowHorizontalPadding, rowVerticalPadding, -rowHorizontalPadding, -rowVerticalPadding);
    // Lays a piece `width` wide at the leading or the trailing end of what is left, mirrored in a
    // right-to-left layout.
    double leading = 0;
    double trailing = 0;
    auto place = [&](double width, bool atLeading) {
        double x = atLeading ? content.left() + leading : content.right() - trailing - width;
        (atLeading ? leading : trailing) += width + rowSpacing;
        if (rightToLeft) {
            x = content.left() + content.right() - x - width;
        }
        return QRectF(x, content.top(), width, content.height());
    };

    const QRectF symbolRect = place(symbolColumn, true);
    const double side = 14;
    VornSymbol::paint(*painter, QRectF(symbolRect.center().x() - side / 2, symbolRect.center().y() - side / 2, side, side),
                      actionSymbol(row->action()), actionColor(row->action()));

    if (row->bytesToTransfer() >= 1) {
        const QString size = q(VornByteFormatter::format(row->bytesToTransfer()));
        painter->setFont(sizeFont());
        painter->setPen(VornGlassTokens::textPrimary());
        painter->drawText(place(QFontMetricsF(sizeFont()).horizontalAdvance(size) + 1, false), Qt::AlignVCenter | Qt::AlignRight, size);
    }
    const QString reason = shownReason(*row);
    painter->setFont(reasonFont());
    painter->setPen(VornGlassTokens::textSecondary());
    painter->drawText(place(QFontMetricsF(reasonFont()).horizontalAdvance(reason) + 1, false), Qt::AlignVCenter | Qt::AlignRight, reason);

    const QString name = shownName(*row, option.rect.width());
    painter->setFont(nameFont());
    painter->setPen(VornGlassTokens::textPrimary());
    painter->drawText(place(QFontMetricsF(nameFont()).horizontalAdvance(name) + 1, true),
                      Qt::AlignVCenter | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft), name);
    painter->restore();
}

// --- Sheet -----------------------------------------------------------------------------------------

SyncPreviewSheetView::SyncPreviewSheetView(SledViewModel& viewModel, QWidget* parent)
    : QDialog(parent), model_(viewModel), accent_(accentColor(VornProductPalette::deepCoral)) {
    setObjectName(QStringLiteral("syncPreviewSheet"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(sheetSize);
    // The rows' arrows and side words ("Orphan on Left", "Mirror Left → Right") point at the panes
    // as they stand on the screen: the sheet keeps that order in every language.
    setLayoutDirection(Qt::LeftToRight);
    buildLayout();
    connect(&model_, &SledViewModel::languageChanged, this, &SyncPreviewSheetView::retranslate);
    connect(&model_, &SledViewModel::syncModeChanged, this, &SyncPreviewSheetView::syncOptions);
    connect(&model_, &SledViewModel::syncIncludeSubfoldersChanged, this, &SyncPreviewSheetView::syncOptions);
    connect(&model_, &SledViewModel::syncDeleteOrphansChanged, this, &SyncPreviewSheetView::syncOptions);
    connect(&model_, &SledViewModel::isComputingSyncPlanChanged, this, &SyncPreviewSheetView::syncPlan);
    connect(&model_, &SledViewModel::syncPlanItemsChanged, this, &SyncPreviewSheetView::syncPlan);
    connect(&model_, &SledViewModel::syncPlanErrorChanged, this, &SyncPreviewSheetView::syncPlan);
    connect(&model_, &SledViewModel::isSyncPlanStaleChanged, this, &SyncPreviewSheetView::syncPlan);
    connect(&model_, &SledViewModel::isSyncPlanRunnableChanged, this, &SyncPreviewSheetView::syncPlan);
    connect(&model_, &SledViewModel::settingsChanged, this, &SyncPreviewSheetView::syncPlan);
    connect(&model_, &SledViewModel::profilesChanged, this, &SyncPreviewSheetView::syncPanes);
    for (PaneBrowserState* pane : {model_.leftPane(), model_.rightPane()}) {
        connect(pane, &PaneBrowserState::endpointChanged, this, &SyncPreviewSheetView::syncPanes);
    }
    retranslate();
}

void SyncPreviewSheetView::buildLayout() {
    const auto [ground, column] = sledSheetPage(this, 20, 14);

    auto* header = new QHBoxLayout();
    header->addWidget(new VornBrandMark(22, VornBrandMarkStyle::currentApp(), ground));
    auto* titles = new QVBoxLayout();
    titles->setSpacing(1);
    title_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(16, QFont::Bold, VornFontDesign::rounded), ground);
    titles->addWidget(title_);
    panes_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption), ground);
    panes_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    titles->addWidget(panes_);
    header->addLayout(titles, 1);
    close_ = new VornGlassButton(QString(), false, ground);
    close_->setSymbol("xmark");
    connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
    header->addWidget(close_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    auto* options = new QHBoxLayout();
    options->setSpacing(12);
    mode_ = new VornSegmentedControl(ground);
    std::vector<VornSegmentedControl::Segment> segments;
    for (std::size_t index = 0; index < syncModes.size(); ++index) {
        segments.push_back({QString(), {}});
    }
    mode_->setSegments(segments);
    // Each change of a control writes the model and asks for exactly one new plan; the model's
    // own change signals only redraw the controls.
    connect(mode_, &VornSegmentedControl::currentIndexChanged, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(syncModes.size())) {
            return;
        }
        const SyncDirectionMode mode = syncModes[static_cast<std::size_t>(index)];
        if (mode != model_.syncMode()) {
            model_.setSyncMode(mode);
            model_.recomputeSyncPlan();
        }
    });
    options->addWidget(mode_);
    subfolders_ = tintedToggle(ground, accent_);
    connect(subfolders_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != model_.syncIncludeSubfolders()) {
            model_.setSyncIncludeSubfolders(on);
            model_.recomputeSyncPlan();
        }
    });
    options->addWidget(subfolders_);
    deleteOrphans_ = tintedToggle(ground, VornGlassTokens::danger());
    connect(deleteOrphans_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != model_.syncDeleteOrphans()) {
            model_.setSyncDeleteOrphans(on);
            model_.recomputeSyncPlan();
        }
    });
    options->addWidget(deleteOrphans_);
    options->addStretch(1);
    column->addLayout(options);

    area_ = new QStackedWidget(ground);
    const SledBusyPage scanning = sledBusyPage(area_);
    scanning_ = scanning.page;
    scanningSpinner_ = scanning.spinner;
    scanningText_ = scanning.text;
    area_->addWidget(scanning_);
    // A plan that could not be made: the reason in place of rows, so that no old rows pass for it.
    failure_ = new QWidget(area_);
    auto* failure = new QVBoxLayout(failure_);
    failure->setSpacing(8);
    failure->addStretch(1);
    auto* warning = new QLabel(failure_);
    warning->setPixmap(QPixmap::fromImage(VornSymbol::image(
        "exclamationmark.triangle.fill", static_cast<int>(vornTextStylePoints(VornTextStyle::title)), VornGlassTokens::warning())));
    failure->addWidget(warning, 0, Qt::AlignHCenter);
    failureText_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(VornTextStyle::callout), failure_);
    failureText_->setWordWrap(true);
    failureText_->setAlignment(Qt::AlignCenter);
    failure->addWidget(failureText_);
    failure->addStretch(1);
    area_->addWidget(failure_);
    list_ = new QListView(area_);
    list_->setModel(model_.syncPlanList());
    delegate_ = new SledSyncPlanRowDelegate(model_, accent_, list_);
    list_->setItemDelegate(delegate_);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setUniformItemSizes(true);
    vornMakeTransparent(list_);
    area_->addWidget(list_);
    column->addWidget(area_, 1);

    // The plan on show compared other folders: it stays readable, cannot run, and one click compares
    // the folders shown now.
    noticeRow_ = new QWidget(ground);
    auto* noticeRow = new QHBoxLayout(noticeRow_);
    noticeRow->setContentsMargins(0, 0, 0, 0);
    noticeRow->setSpacing(10);
    notice_ = sledLabel(VornGlassTokens::warning(), vornFont(VornTextStyle::caption, QFont::DemiBold), noticeRow_);
    notice_->setWordWrap(true);
    noticeRow->addWidget(notice_, 1);
    compareAgain_ = new VornGlassButton(QString(), false, noticeRow_);
    compareAgain_->setSymbol("arrow.clockwise");
    connect(compareAgain_, &QAbstractButton::clicked, this, [this] { model_.recomputeSyncPlan(); });
    noticeRow->addWidget(compareAgain_, 0, Qt::AlignVCenter);
    column->addWidget(noticeRow_);

    auto* footer = new QHBoxLayout();
    summary_ = sledLabel(accent_, vornFont(VornTextStyle::caption, QFont::DemiBold), ground);
    footer->addWidget(summary_);
    footer->addStretch(1);
    cancel_ = new VornGlassButton(QString(), false, ground);
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    footer->addWidget(cancel_);
    run_ = new VornPrimaryButton(QString(), ground);
    run_->setSymbol("arrow.triangle.2.circlepath");
    connect(run_, &QAbstractButton::clicked, this, [this] {
        // The plan run is the one on screen: never one that a newer computation is replacing.
        if (model_.isSyncPlanRunnable()) {
            model_.executeSyncPlan();
        }
    });
    footer->addWidget(run_);
    column->addLayout(footer);
}

std::size_t SyncPreviewSheetView::actionableCount() const {
    const auto& items = model_.syncPlanItems();
    return static_cast<std::size_t>(std::count_if(items.begin(), items.end(), [](const SyncPlanItem& item) {
        return item.action() != SyncActionKind::identicalSkip;
    }));
}

std::int64_t SyncPreviewSheetView::actionableBytes() const {
    std::int64_t total = 0;
    for (const SyncPlanItem& item : model_.syncPlanItems()) {
        if (item.action() != SyncActionKind::identicalSkip) {
            total += item.bytesToTransfer();
        }
    }
    return total;
}

bool SyncPreviewSheetView::showsScanning() const {
    return area_->currentWidget() == scanning_;
}

bool SyncPreviewSheetView::showsFailure() const {
    return area_->currentWidget() == failure_;
}

void SyncPreviewSheetView::retranslate() {
    const VornLanguage language = model_.language();
    auto t = [language](const char* en, const char* tr) { return vornQText(en, tr, language); };
    title_->setText(t("Dual-Pane Synchronization Preview", "Çift Panel Senkronizasyon Önizlemesi"));
    setWindowTitle(title_->text());
    close_->setAccessibleName(t("Close", "Kapat"));
    QStringList titles;
    for (const SyncDirectionMode mode : syncModes) {
        titles.push_back(q(label(mode, language)));
    }
    mode_->setTitles(titles);
    subfolders_->setText(vornEscapeMnemonic(t("Subfolders", "Alt Klasörler")));
    deleteOrphans_->setText(vornEscapeMnemonic(t("Delete Orphans", "Fazlalıkları Sil")));
    scanningText_->setText(t("Scanning directories & subfolders\u2026", "Klasörler ve alt klasörler taranıyor\u2026"));
    cancel_->setLabel(t("Cancel", "İptal"));
    run_->setLabel(t("Run Parallel Sync", "Paralel Senkronizasyonu Başlat"));
    compareAgain_->setLabel(t("Compare Again", "Yeniden Karşılaştır"));
    // The rows' reasons are painted in the language too.
    list_->viewport()->update();
    syncPanes();
    syncOptions();
    syncPlan();
}

void SyncPreviewSheetView::syncPanes() {
    panes_->setText(sledOneLine(q(model_.endpointTitle(model_.leftPane()->endpoint()))) + QString::fromUtf8(" \u2194 ") +
                    sledOneLine(q(model_.endpointTitle(model_.rightPane()->endpoint()))));
}

void SyncPreviewSheetView::syncOptions() {
    const auto mode = std::find(syncModes.begin(), syncModes.end(), model_.syncMode());
    mode_->setCurrentIndex(static_cast<int>(mode - syncModes.begin()));
    subfolders_->setChecked(model_.syncIncludeSubfolders());
    deleteOrphans_->setChecked(model_.syncDeleteOrphans());
    // Two-way updates never delete; the choice keeps its value for the other modes.
    deleteOrphans_->setEnabled(model_.syncMode() != SyncDirectionMode::twoWayUpdate);
}

void SyncPreviewSheetView::syncPlan() {
    const bool computing = model_.isComputingSyncPlan();
    const std::optional<std::string>& failure = model_.syncPlanError();
    area_->setCurrentWidget(computing ? scanning_ : failure ? failure_ : static_cast<QWidget*>(list_));
    const VornLanguage language = model_.language();
    if (failure) {
        failureText_->setText(vornQText("No sync plan: " + *failure, "Eşitleme planı yok: " + *failure, language));
    }
    const bool stale = model_.isSyncPlanStale() && !computing;
    if (stale) {
        const std::string places = model_.syncPlanPlacesTitle();
        notice_->setText(vornQText("This plan compared " + places +
                                       ". The panes show other folders now, so it cannot run.",
                                   "Bu plan " + places +
                                       " klasörlerini karşılaştırdı. Paneller artık başka klasörler gösteriyor, bu "
                                       "yüzden çalıştırılamaz.",
                                   language));
    }
    noticeRow_->setVisible(stale);
    if (computing) {
        scanningSpinner_->start();
    } else {
        scanningSpinner_->stop();
    }
    const std::size_t count = actionableCount();
    const std::string number = std::to_string(count);
    const std::string total = VornByteFormatter::format(actionableBytes());
    std::string en = number + " operation(s) \u2022 " + total;
    std::string tr = number + " işlem \u2022 " + total;
    // The summary claims verification only when the transfers will verify.
    if (model_.settings().verifySHA256OnTransfer) {
        en += " \u2022 SHA-256 verified";
        tr += " \u2022 SHA-256 doğrulamalı";
    }
    summary_->setText(vornQText(en, tr, model_.language()));
    run_->setEnabled(model_.isSyncPlanRunnable());
}

void SyncPreviewSheetView::keyPressEvent(QKeyEvent* event) {
    // Return and Enter never press a button of the sheet (least of all Run).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
