#include "VornVersionAndLogsView.h"

#include "VornAppIdentity.h"
#include "VornBrandMark.h"
#include "VornBundle.h"
#include "VornButtons.h"
#include "VornFeedbackButton.h"
#include "VornGlassCard.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSegmentedControl.h"
#include "VornSheetParts.h"
#include "VornSymbol.h"
#include "VornTypography.h"
#include "VornVersionBadge.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

QString q(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

QFont mono(double points, QFont::Weight weight = QFont::Normal) {
    return vornFont(points, weight, VornFontDesign::monospaced);
}

constexpr std::array pickerLevels{VornLogLevel::debug, VornLogLevel::info, VornLogLevel::warn, VornLogLevel::error};

QColor levelColor(VornLogLevel level) {
    switch (level) {
    case VornLogLevel::debug:
        return VornGlassTokens::textMuted();
    case VornLogLevel::info:
        return VornGlassTokens::success();
    case VornLogLevel::warn:
        return VornGlassTokens::warning();
    case VornLogLevel::error:
        return VornGlassTokens::danger();
    }
    return VornGlassTokens::textMuted();
}

// A symbol followed by a title, as the cards' headings show them.
QWidget* symbolTitle(std::string_view symbol, const QString& title, const QFont& font, const QColor& color,
                     QWidget* parent, bool wrap = false) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* icon = new QLabel(box);
    const int side = int(std::ceil(QFontMetricsF(font).capHeight() * 1.6));
    icon->setPixmap(QPixmap::fromImage(VornSymbol::image(symbol, side, color)));
    row->addWidget(icon);
    auto* label = vornTextLabel(title, font, color, box);
    label->setWordWrap(wrap);
    row->addWidget(label, 1);
    return box;
}

void clearLayout(QVBoxLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

// The badge as a plain button.
class BadgeButton : public QAbstractButton {
public:
    BadgeButton(const VornAppVersion& version, bool showBuild, QWidget* parent)
        : QAbstractButton(parent), badge_(new VornVersionBadge(version, showBuild, this)) {
        setObjectName(QStringLiteral("versionBadgeButton"));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        badge_->setAttribute(Qt::WA_TransparentForMouseEvents);
        setAccessibleName(badge_->text());
    }
    QSize sizeHint() const override { return badge_->sizeHint(); }

protected:
    void resizeEvent(QResizeEvent*) override { badge_->setGeometry(rect()); }
    void paintEvent(QPaintEvent*) override {
        if (hasFocus()) {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing, true);
            vornPaintFocusRing(painter, QRectF(rect()), -1);
        }
    }

private:
    VornVersionBadge* badge_;
};

}  // namespace

VornVersionAndLogsView::VornVersionAndLogsView(std::string appName, VornAppVersion version,
                                               std::shared_ptr<VornAppLogger> logger, VornProductPalette palette,
                                               VornLanguage language, std::vector<VornReleaseLogRecord> fallbackReleases,
                                               OnClose onClose, QWidget* parent)
    : QWidget(parent),
      appName_(std::move(appName)),
      version_(std::move(version)),
      logger_(logger ? std::move(logger) : VornAppLogger::shared(appName_)),
      palette_(palette),
      language_(language),
      fallbackReleases_(std::move(fallbackReleases)),
      onClose_(std::move(onClose)) {
    setObjectName(QStringLiteral("versionAndLogsView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    vornMakeTransparent(scroll);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(16);
    if (onClose_) {
        column->addWidget(buildHeader());
    }
    column->addWidget(buildVersionCard());
    column->addWidget(buildReleaseCard());
    column->addWidget(buildLogsCard());
    column->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll);
    vornApplyContentLayoutDirection(this, language_);
    showReleases();
    showEntries();
}

QString VornVersionAndLogsView::t(std::string_view en, std::string_view tr) const {
    return vornQText(en, tr, language_);
}

QString VornVersionAndLogsView::rowTimestamp(std::string_view timestamp) {
    const QString text = q(timestamp);
    const qsizetype t = text.indexOf(QLatin1Char('T'));
    return t >= 0 ? text.mid(t + 1, 8) : text.left(8);
}

QWidget* VornVersionAndLogsView::buildHeader() {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("versionHeader"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    const std::optional<VornAppIdentity> identity = VornAppIdentities::resolve(appName_);
    row->addWidget(new VornBrandMark(24, identity ? VornBrandMarkStyle::app(*identity) : VornBrandMarkStyle::currentApp(),
                                     header));
    row->addWidget(vornTextLabel(q(appName_) + QStringLiteral(" · ") + t("Version & Logs", "Sürüm & Loglar"),
                                 vornFont(16, QFont::Bold), Qt::white, header),
                   1);
    auto* close = new VornSymbolButton("xmark.circle.fill", 18, VornGlassTokens::textSecondary(), header);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAccessibleName(t("Close", "Kapat"));
    connect(close, &QAbstractButton::clicked, this, [this] { onClose_(); });
    row->addWidget(close);
    return header;
}

QWidget* VornVersionAndLogsView::infoChip(const QString& title, const QString& value, QWidget* parent) {
    auto* chip = new VornFilledBox(VornGlassTokens::surface2(), 6, std::nullopt, parent);
    auto* row = new QHBoxLayout(chip);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(4);
    row->addWidget(vornTextLabel(title + QStringLiteral(":"), vornFont(VornTextStyle::caption2),
                                 VornGlassTokens::textMuted(), chip));
    auto* shown = vornTextLabel(value, mono(vornTextStylePoints(VornTextStyle::caption2), QFont::Bold),
                                VornGlassTokens::textPrimary(), chip);
    shown->setObjectName(QStringLiteral("infoChipValue"));
    row->addWidget(shown);
    return chip;
}

QWidget* VornVersionAndLogsView::buildVersionCard() {
    auto* card = new VornGlassCard(16, 14, this);
    card->setObjectName(QStringLiteral("versionCard"));
    card->contentLayout()->setSpacing(10);
    const QColor accent = accentColor(palette_);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    top->addWidget(symbolTitle("tag.fill", t("Version & Release Info", "Sürüm Bilgileri"),
                               vornFont(VornTextStyle::headline), accent, card));
    top->addStretch(1);
    top->addWidget(new VornVersionBadge(version_, true, card));
    card->contentLayout()->addLayout(top);
    auto* note = vornTextLabel(t("Application version details, full release changelog from initial release to latest, "
                                 "and runtime logs.",
                                 "Uygulama sürüm bilgileri, ilk sürümden son sürüme kadar tüm değişiklik geçmişi ve "
                                 "çalışma logları."),
                               vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary(), card);
    note->setWordWrap(true);
    card->contentLayout()->addWidget(note);
    auto* chips = new QHBoxLayout;
    chips->setSpacing(12);
    chips->addWidget(infoChip(t("Version", "Sürüm"), q("v" + version_.shortVersion), card));
    chips->addWidget(infoChip(QStringLiteral("Build"), q("#" + version_.buildNumber), card));
    chips->addStretch(1);
    chips->addWidget(new VornFeedbackButton(appName_, version_, VornFeedbackKind::feature, language_,
                                            VornFeedbackButtonStyle::labeledPill, std::nullopt, card));
    auto* file = vornTextLabel(q(logger_->currentLogFileURL().filename().string()),
                               mono(vornTextStylePoints(VornTextStyle::caption2)), VornGlassTokens::textMuted(), card);
    file->setObjectName(QStringLiteral("logFileName"));
    chips->addWidget(file);
    card->contentLayout()->addLayout(chips);
    return card;
}

QWidget* VornVersionAndLogsView::buildReleaseCard() {
    auto* card = new VornGlassCard(16, 14, this);
    card->setObjectName(QStringLiteral("releaseCard"));
    card->contentLayout()->setSpacing(12);
    card->contentLayout()->addWidget(symbolTitle("clock.arrow.circlepath",
                                                 t("Release History (CHANGELOG)", "Sürüm Geçmişi (Değişiklik Logu)"),
                                                 vornFont(VornTextStyle::headline), VornGlassTokens::textPrimary(),
                                                 card));
    auto* rows = new QWidget(card);
    releaseRows_ = new QVBoxLayout(rows);
    releaseRows_->setContentsMargins(0, 0, 0, 0);
    releaseRows_->setSpacing(12);
    card->contentLayout()->addWidget(rows);
    noReleases_ = vornTextLabel(t("No release log records found for this build.",
                                  "Bu derleme için sürüm geçmişi kaydı bulunamadı."),
                                vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary(), card);
    noReleases_->setObjectName(QStringLiteral("noReleases"));
    card->contentLayout()->addWidget(noReleases_);
    return card;
}

QWidget* VornVersionAndLogsView::buildLogsCard() {
    auto* card = new VornGlassCard(16, 14, this);
    card->setObjectName(QStringLiteral("logsCard"));
    card->contentLayout()->setSpacing(12);
    auto* controls = new QHBoxLayout;
    controls->setSpacing(8);
    controls->addWidget(symbolTitle("doc.text.magnifyingglass", t("Rotating Runtime Logs", "Uygulama Çalışma Logları"),
                                    vornFont(VornTextStyle::headline), VornGlassTokens::textPrimary(), card, true),
                        1);
    levelPicker_ = new VornSegmentedControl(card);
    levelPicker_->setObjectName(QStringLiteral("levelPicker"));
    levelPicker_->setSegments({{t("All", "Tümü"), {}},
                               {QStringLiteral("INFO+"), {}},
                               {QStringLiteral("WARN+"), {}},
                               {QStringLiteral("ERROR"), {}}});
    levelPicker_->setCurrentIndex(0);
    // 230 wide, unless the interface font needs more for "WARN+" to show whole.
    levelPicker_->setFixedWidth(std::max(230, levelPicker_->sizeHint().width()));
    connect(levelPicker_, &VornSegmentedControl::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < int(pickerLevels.size())) {
            setSelectedMinLevel(pickerLevels[std::size_t(index)]);
        }
    });
    controls->addWidget(levelPicker_);
    const QFont caption = vornFont(VornTextStyle::caption);
    auto button = [&](const char* name, const QString& label, const char* symbol) {
        auto* result = new VornGlassButton(label, false, card);
        result->setObjectName(QString::fromLatin1(name));
        result->setSymbol(symbol);
        result->setLabelFont(caption);
        result->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        controls->addWidget(result);
        return result;
    };
    VornGlassButton* refresh = button("refreshLogs", {}, "arrow.clockwise");
    refresh->setToolTip(t("Refresh logs", "Logları yenile"));
    refresh->setAccessibleName(refresh->toolTip());
    connect(refresh, &QAbstractButton::clicked, this, &VornVersionAndLogsView::refreshEntries);
    copy_ = button("copyLogs", t("Copy", "Kopyala"), "doc.on.doc");
    connect(copy_, &QAbstractButton::clicked, this, &VornVersionAndLogsView::copyEntries);
    connect(button("revealLogs", t("Folder", "Klasör"), "folder"), &QAbstractButton::clicked, this,
            &VornVersionAndLogsView::revealLogs);
    connect(button("clearLogs", t("Clear", "Temizle"), "trash"), &QAbstractButton::clicked, this,
            &VornVersionAndLogsView::clearLogs);
    card->contentLayout()->addLayout(controls);
    auto* rows = new QWidget(card);
    logRows_ = new QVBoxLayout(rows);
    logRows_->setContentsMargins(0, 0, 0, 0);
    logRows_->setSpacing(4);
    card->contentLayout()->addWidget(rows);
    noEntries_ = vornTextLabel(t("No runtime log entries match the filter yet.", "Filtreye uyan çalışma logu henüz yok."),
                               vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary(), card);
    noEntries_->setObjectName(QStringLiteral("noEntries"));
    noEntries_->setContentsMargins(0, 8, 0, 8);
    card->contentLayout()->addWidget(noEntries_);
    return card;
}

QWidget* VornVersionAndLogsView::releaseRow(const VornReleaseLogRecord& record, QWidget* parent) {
    auto* row = new VornFilledBox(VornGlassTokens::surface1(), 10, std::nullopt, parent);
    row->setObjectName(QStringLiteral("releaseRow"));
    auto* column = new QVBoxLayout(row);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(5);
    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(vornTextLabel(q("v" + record.toVersion), mono(vornTextStylePoints(VornTextStyle::subheadline), QFont::Bold),
                                 accentColor(palette_), row));
    top->addWidget(vornTextLabel(q("Build " + std::to_string(record.toBuild) + " · " + record.bumpKind + "/" +
                                   record.section),
                                 mono(vornTextStylePoints(VornTextStyle::caption2)), VornGlassTokens::textSecondary(), row));
    top->addStretch(1);
    top->addWidget(vornTextLabel(q(record.shortDate()), mono(vornTextStylePoints(VornTextStyle::caption2)),
                                 VornGlassTokens::textMuted(), row));
    column->addLayout(top);
    const std::string summary = record.localizedSummary(language_);
    if (!summary.empty()) {
        auto* label = vornTextLabel(q(summary), vornFont(VornTextStyle::caption, QFont::Medium),
                                    VornGlassTokens::textPrimary(), row);
        label->setObjectName(QStringLiteral("releaseSummary"));
        label->setWordWrap(true);
        column->addWidget(label);
    }
    for (const std::string& line : record.localizedDetails(language_)) {
        auto* label = vornTextLabel(QStringLiteral("• ") + q(line), vornFont(VornTextStyle::caption2),
                                    VornGlassTokens::textSecondary(), row);
        label->setObjectName(QStringLiteral("releaseDetail"));
        label->setWordWrap(true);
        column->addWidget(label);
    }
    return row;
}

QWidget* VornVersionAndLogsView::logRow(const VornLogEntry& entry, QWidget* parent) {
    QColor fill = VornGlassTokens::surface1();
    fill.setAlphaF(fill.alphaF() * 0.65f);
    auto* row = new VornFilledBox(fill, 6, std::nullopt, parent);
    row->setObjectName(QStringLiteral("logRow"));
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(6, 3, 6, 3);
    line->setSpacing(8);
    auto fixed = [&](QLabel* label, int width) {
        label->setFixedWidth(width);
        line->addWidget(label, 0, Qt::AlignTop);
    };
    fixed(vornTextLabel(rowTimestamp(entry.timestamp), mono(10), VornGlassTokens::textMuted(), row), 66);
    fixed(vornTextLabel(q(label(entry.level)), mono(9.5, QFont::Bold), levelColor(entry.level), row), 42);
    QColor category = accentColor(palette_);
    category.setAlphaF(0.9f);
    fixed(vornTextLabel(QStringLiteral("[") + q(entry.category) + QStringLiteral("]"), mono(10), category, row), 82);
    auto* message = vornTextLabel(q(entry.message), vornFont(11), VornGlassTokens::textPrimary(), row);
    message->setObjectName(QStringLiteral("logMessage"));
    // One line per entry, cut at the row's end: a long message must not make one row a page high.
    message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line->addWidget(message, 1, Qt::AlignTop);
    return row;
}

void VornVersionAndLogsView::showReleases() {
    clearLayout(releaseRows_);
    for (const VornReleaseLogRecord& record : releases_) {
        releaseRows_->addWidget(releaseRow(record, releaseRows_->parentWidget()));
    }
    releaseRows_->parentWidget()->setVisible(!releases_.empty());
    noReleases_->setVisible(releases_.empty());
}

void VornVersionAndLogsView::showEntries() {
    clearLayout(logRows_);
    for (const VornLogEntry& entry : entries_) {
        logRows_->addWidget(logRow(entry, logRows_->parentWidget()));
    }
    logRows_->parentWidget()->setVisible(!entries_.empty());
    noEntries_->setVisible(entries_.empty());
}

void VornVersionAndLogsView::reloadAll() {
    releases_ = VornReleaseLogReader::loadBundled(appName_, VornBundle::main());
    if (releases_.empty()) {
        releases_ = fallbackReleases_;
    }
    showReleases();
    refreshEntries();
}

void VornVersionAndLogsView::setSelectedMinLevel(VornLogLevel level) {
    selectedMinLevel_ = level;
    const auto index = std::find(pickerLevels.begin(), pickerLevels.end(), level) - pickerLevels.begin();
    if (levelPicker_->currentIndex() != int(index)) {
        levelPicker_->setCurrentIndex(int(index));  // reports back here with the same level
    }
    refreshEntries();
}

void VornVersionAndLogsView::refreshEntries() {
    entries_ = logger_->recentEntries(entryLimit, selectedMinLevel_);
    showEntries();
}

void VornVersionAndLogsView::copyEntries() {
    const std::string text = logger_->exportPlainText(copyLimit, selectedMinLevel_);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(q(text));
    copiedToast_ = true;
    copy_->setLabel(t("Copied", "Kopyalandı"));
}

void VornVersionAndLogsView::revealLogs() { logger_->revealInFinder(); }

void VornVersionAndLogsView::clearLogs() {
    logger_->clear();
    refreshEntries();
}

void VornVersionAndLogsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        reloadAll();
    }
}

void VornVersionAndLogsView::paintEvent(QPaintEvent*) {
    if (onClose_) {
        QPainter painter(this);
        vornPaintGround(painter, QRectF(rect()), palette_);
    }
}

void VornVersionAndLogsView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && onClose_) {
        onClose_();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- Badge button ------------------------------------------------------------------------------

VornVersionBadgeButton::VornVersionBadgeButton(std::string appName, VornAppVersion version,
                                               std::shared_ptr<VornAppLogger> logger, VornProductPalette palette,
                                               VornLanguage language, bool showBuild, bool showFeedbackButton,
                                               QWidget* parent)
    : QWidget(parent),
      appName_(std::move(appName)),
      version_(std::move(version)),
      logger_(logger ? std::move(logger) : VornAppLogger::shared(appName_)),
      palette_(palette),
      language_(language) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    auto* badge = new BadgeButton(version_, showBuild, this);
    badge->setToolTip(helpText());
    connect(badge, &QAbstractButton::clicked, this, [this] { setPresented(true); });
    badgeButton_ = badge;
    row->addWidget(badge, 0, Qt::AlignVCenter);
    if (showFeedbackButton) {
        feedbackButton_ = new VornFeedbackButton(appName_, version_, VornFeedbackKind::feature, language_,
                                                 VornFeedbackButtonStyle::compactIcon, std::nullopt, this);
        row->addWidget(feedbackButton_, 0, Qt::AlignVCenter);
    }
    vornApplyContentLayoutDirection(this, language_);
}

QString VornVersionBadgeButton::helpText() const {
    const QString shown = q("v" + version_.shortVersion + " (" + version_.buildNumber + ")");
    return language_ == VornLanguage::tr
               ? QStringLiteral("Sürüm ") + shown + QStringLiteral(" — Sürüm Geçmişi ve Logları görmek için tıklayın")
               : vornQText("Version ", "Sürüm ", language_) + shown +
                     vornQText(" — Click to view Release History & Logs",
                               " — Sürüm Geçmişi ve Logları görmek için tıklayın", language_);
}

void VornVersionBadgeButton::setPresented(bool presented) {
    isPresented_ = presented;
    if (!presented) {
        if (sheet_) {
            sheet_->close();
        }
        return;
    }
    if (sheet_) {
        return;
    }
    auto* dialog = new QDialog(window());
    dialog->setObjectName(QStringLiteral("versionAndLogsSheet"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumSize(720, 560);
    dialog->setWindowTitle(q(appName_) + QStringLiteral(" · ") + vornQText("Version & Logs", "Sürüm & Loglar", language_));
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new VornVersionAndLogsView(appName_, version_, logger_, palette_, language_, {},
                                                 [this] { setPresented(false); }, dialog));
    connect(dialog, &QDialog::finished, this, [this] { isPresented_ = false; });
    sheet_ = dialog;
    dialog->show();
}
