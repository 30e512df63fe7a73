#include "VornVirtualMemoryGaugeCard.h"

#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornFlowLayout.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSuiteViewParts.h"
#include "VornTypography.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QColor violet() { return vornSuiteRGB(169, 139, 255); }
QColor cyan() { return vornSuiteRGB(56, 232, 255); }
QColor mint() { return vornSuiteRGB(71, 230, 193); }

QString bytes(std::int64_t amount) { return QString::fromStdString(VornByteFormatter::format(amount)); }

// The names another process reported, on one line; a list too long to read is cut, not drawn.
QString joined(const std::vector<std::string>& names) {
    QString line;
    for (const std::string& name : names) {
        if (line.size() > 512) {
            break;
        }
        if (!line.isEmpty()) {
            line += QStringLiteral(", ");
        }
        line += vornSingleLine(name);
    }
    return vornSingleLine(line);
}

std::optional<QString> nonEmpty(const QString& text) {
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

constexpr double headerSpacing = 8;
// Title and badges, a spacer of at least 8 and the action row, 8 apart.
constexpr double sideBySideExtra = 3 * headerSpacing;

// The title with its badges, and the action row beside them when both fit on one line, else below.
class GaugeHeader : public QWidget {
public:
    GaugeHeader(QWidget* badges, QWidget* actions, QWidget* parent) : QWidget(parent), badges_(badges), actions_(actions) {
        badges_->setParent(this);
        if (actions_) {
            actions_->setParent(this);
        }
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool fitsSideBySide(int width) const {
        return !actions_ || badges_->sizeHint().width() + sideBySideExtra + actions_->sizeHint().width() <= width;
    }
    bool isStacked() const { return !fitsSideBySide(width()); }

    QSize sizeHint() const override {
        const QSize badges = badges_->sizeHint();
        if (!actions_) {
            return badges;
        }
        const QSize actions = actions_->sizeHint();
        return QSize(int(badges.width() + sideBySideExtra + actions.width()), std::max(badges.height(), actions.height()));
    }
    QSize minimumSizeHint() const override {
        const int badges = badges_->minimumSizeHint().width();
        const int actions = actions_ ? actions_->sizeHint().width() : 0;
        // The height the width needs comes from heightForWidth (see the adaptive grid).
        return QSize(std::max(badges, actions), sizeHint().height());
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        if (fitsSideBySide(width)) {
            return sizeHint().height();
        }
        return badges_->heightForWidth(width) + (actions_ ? int(headerSpacing) + actions_->sizeHint().height() : 0);
    }

protected:
    void resizeEvent(QResizeEvent*) override {
        const int w = width();
        const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
        const auto mirrored = [&](QRect box) {
            return rightToLeft ? QRect(w - box.x() - box.width(), box.y(), box.width(), box.height()) : box;
        };
        if (fitsSideBySide(w)) {
            const int h = height();
            const QSize badges = badges_->sizeHint();
            badges_->setGeometry(mirrored(QRect(0, (h - badges.height()) / 2, badges.width(), badges.height())));
            if (actions_) {
                const QSize actions = actions_->sizeHint();
                actions_->setGeometry(
                    mirrored(QRect(w - actions.width(), (h - actions.height()) / 2, actions.width(), actions.height())));
            }
            return;
        }
        const int badgesHeight = badges_->heightForWidth(w);
        badges_->setGeometry(mirrored(QRect(0, 0, w, badgesHeight)));
        if (actions_) {
            const QSize actions = actions_->sizeHint();
            actions_->setGeometry(mirrored(QRect(0, badgesHeight + int(headerSpacing), std::min(w, actions.width()),
                                                 actions.height())));
        }
    }

private:
    QWidget* badges_;
    QWidget* actions_;
};

// A titled bar: the title and the value on one line, the track below.
QWidget* gaugeBar(const VornVirtualMemoryGaugeCard::Gauge& gauge, VornSuiteProgressTrack** track) {
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    auto* title = new VornSuiteText(gauge.title, vornFont(VornTextStyle::caption2, QFont::Bold),
                                    VornGlassTokens::textSecondary(), 1, box);
    auto* value = new VornSuiteText(gauge.valueText, vornFont(10.5, QFont::DemiBold, VornFontDesign::monospaced),
                                    VornGlassTokens::textPrimary(), 1, box);
    line->addWidget(title, 1);
    line->addWidget(value, 0);
    column->addLayout(line);
    *track = new VornSuiteProgressTrack(6, QColor::fromRgbF(1, 1, 1, 0.08f), &VornVirtualMemoryGaugeCard::gaugeFillWidth, box);
    (*track)->setFraction(gauge.fraction);
    (*track)->setFillColors(gauge.tint, vornWithOpacity(gauge.tint, 0.55));
    column->addWidget(*track);
    return box;
}

// One figure: its label, its value (shrinking a little before it elides) and an optional detail.
class StatPill : public QWidget {
public:
    explicit StatPill(const VornVirtualMemoryGaugeCard::Stat& stat) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(9, 7, 9, 7);
        column->setSpacing(2);
        column->addWidget(new VornSuiteText(stat.label, vornFont(9.5), VornGlassTokens::textMuted(), 1, this));
        auto* value = new VornSuiteText(stat.value, vornFont(10.5, QFont::Bold, VornFontDesign::monospaced), stat.tint, 1, this);
        value->setMinimumScale(0.8);
        column->addWidget(value);
        if (stat.detail && !stat.detail->isEmpty()) {
            auto* detail = new VornSuiteText(*stat.detail, vornFont(9, QFont::Normal, VornFontDesign::monospaced),
                                             VornGlassTokens::textSecondary(), 1, this);
            detail->setElideMode(Qt::ElideMiddle);
            column->addWidget(detail);
        }
        // Beside a taller pill of its row, the texts stay at the top.
        column->addStretch(1);
        // The pill's own text may be longer than its cell; the texts elide instead.
        for (QWidget* text : findChildren<VornSuiteText*>()) {
            text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        }
    }

    QSize sizeHint() const override { return QSize(155, QWidget::sizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(VornGlassTokens::surface1());
        painter.drawPath(vornRoundedRectPath(QRectF(rect()), 8));
    }
};

}  // namespace

VornVirtualMemoryGaugeCard::VornVirtualMemoryGaugeCard(VornVirtualMemorySummary summary, VornLanguage language,
                                                       QColor accentColor, VornSuiteApp sourceApp, Feedback onFeedback,
                                                       QWidget* parent)
    : VornGlassCard(14, 13, parent),
      summary_(std::move(summary)),
      language_(language),
      accentColor_(std::move(accentColor)),
      sourceApp_(sourceApp),
      onFeedback_(std::move(onFeedback)) {
    rebuild();
}

QColor VornVirtualMemoryGaugeCard::statusColor(const VornVirtualMemorySummary& summary) {
    if (summary.pressureLevel == "critical") {
        return VornGlassTokens::danger();
    }
    if (summary.activeDiskPoolCount >= 1 || summary.mountedSparseDiskCount >= 1 || summary.mountedRAMDiskCount >= 1) {
        return violet();
    }
    if (summary.swapUsedBytes >= 1) {
        return cyan();
    }
    return VornGlassTokens::success();
}

QString VornVirtualMemoryGaugeCard::stateBadgeText(const VornVirtualMemorySummary& summary, VornLanguage language) {
    return summary.isAnyVirtualMemoryActive() ? vornQText("ACTIVE", "AÇIK", language) : vornQText("STANDBY", "HAZIR", language);
}

std::optional<QString> VornVirtualMemoryGaugeCard::capacityBadgeText(const VornVirtualMemorySummary& summary,
                                                                     VornLanguage language) {
    if (summary.totalVirtualAllocatedBytes() < 1) {
        return std::nullopt;
    }
    const std::string capacity = VornByteFormatter::format(summary.totalEffectiveMemoryCapacityBytes());
    return vornQText("Effective: " + capacity, "Efektif: " + capacity, language);
}

double VornVirtualMemoryGaugeCard::gaugeFillWidth(double fraction, double width) {
    if (!(width > 0)) {
        return 0;
    }
    double share = 0;
    if (fraction >= 1) {
        share = width;
    } else if (fraction >= 0) {
        share = fraction * width;
    }
    return std::min(width, std::max(fraction > 0 ? 4.0 : 0.0, share));
}

std::array<VornVirtualMemoryGaugeCard::Gauge, 2> VornVirtualMemoryGaugeCard::gauges(
    const VornVirtualMemorySummary& summary, VornLanguage language, const QColor& accentColor) {
    const auto percentText = [](double percent) {
        return QStringLiteral(" (") + QString::number(vornRoundedPercent(percent)) + QStringLiteral("%)");
    };
    Gauge physical{vornQText("Physical RAM", "Fiziksel RAM", language),
                   bytes(summary.physicalUsedBytes) + QStringLiteral(" / ") + bytes(summary.physicalTotalBytes) +
                       percentText(summary.physicalUsedPercent()),
                   summary.physicalUsedPercent() / 100.0, accentColor};
    Gauge area{vornQText("Virtual RAM Area (Swap + Quarn)", "Sanal RAM Alanı (Swap + Quarn)", language), {},
               summary.virtualUsedPercent() / 100.0, statusColor(summary)};
    if (summary.totalVirtualAllocatedBytes() < 1) {
        area.valueText = vornQText("0 B (Standby)", "0 B (Boşta)", language);
    } else {
        area.valueText = bytes(summary.totalVirtualUsedBytes()) + QStringLiteral(" / ") +
                         bytes(summary.totalVirtualAllocatedBytes()) + percentText(summary.virtualUsedPercent());
    }
    return {physical, area};
}

std::array<VornVirtualMemoryGaugeCard::Stat, 4> VornVirtualMemoryGaugeCard::stats(const VornVirtualMemorySummary& summary,
                                                                                 VornLanguage language) {
    Stat swap;
    swap.label = summary.swapFileCount < 1
                     ? QStringLiteral("Linux Swap")
                     : QStringLiteral("Linux Swap (") + QString::number(summary.swapFileCount) + QLatin1Char(')');
    swap.value = bytes(summary.swapUsedBytes) + QStringLiteral(" / ") + bytes(summary.swapTotalBytes);
    if (summary.swapTotalBytes >= 1) {
        swap.detail = QString::number(vornRoundedPercent(summary.swapUsedPercent())) + QStringLiteral("% • ") +
                      (summary.swapEncrypted ? QStringLiteral("AES-XTS") : QStringLiteral("Plain"));
    }
    swap.tint = summary.swapUsedBytes >= 1 ? cyan() : VornGlassTokens::textSecondary();

    const QString off = vornQText("Off", "Kapalı", language);
    Stat pools;
    pools.label = vornQText("mmap Disk Pools", "Disk Bellek Havuzu", language);
    pools.value = summary.activeDiskPoolCount < 1
                      ? off
                      : bytes(summary.diskPoolActualDiskBytes) + QStringLiteral(" / ") + bytes(summary.diskPoolVirtualBytes);
    pools.detail = nonEmpty(joined(summary.diskPoolNames));
    pools.tint = summary.activeDiskPoolCount >= 1 ? violet() : VornGlassTokens::textMuted();

    Stat image;
    image.label = vornQText("Virtual Disk Image", "Sanal Disk İmajı", language);
    image.value = summary.mountedSparseDiskCount < 1
                      ? off
                      : bytes(summary.sparseDiskActualBytes) + QStringLiteral(" / ") + bytes(summary.sparseDiskVirtualBytes);
    image.detail = nonEmpty(joined(summary.sparseDiskNames));
    image.tint = summary.mountedSparseDiskCount >= 1 ? mint() : VornGlassTokens::textMuted();

    Stat ramDisk;
    ramDisk.label = vornQText("RAM-Disk / Frozen", "RAM-Disk / Donuk", language);
    ramDisk.value = summary.mountedRAMDiskCount < 1
                        ? QString::number(summary.frozenAppCount) + QLatin1Char(' ') + vornQText("frozen", "donuk", language)
                        : bytes(summary.ramDiskTotalBytes);
    if (summary.reclaimedFromFrozenBytes >= 1) {
        ramDisk.detail = QStringLiteral("↓ ") + bytes(summary.reclaimedFromFrozenBytes);
    } else {
        ramDisk.detail = nonEmpty(joined(summary.ramDiskNames));
    }
    ramDisk.tint = (summary.mountedRAMDiskCount > 0 || summary.frozenAppCount > 0) ? VornGlassTokens::warning()
                                                                                  : VornGlassTokens::textMuted();
    return {swap, pools, image, ramDisk};
}

std::vector<VornVirtualMemoryGaugeCard::Action> VornVirtualMemoryGaugeCard::actions(const VornVirtualMemorySummary& summary,
                                                                                   VornLanguage language) {
    std::vector<Action> result;
    if (!VornSuiteApps::isInstalled(VornSuiteApp::quarn)) {
        return result;
    }
    result.push_back(Action{vornQText("Smart Offload", "Akıllı RAM Aç", language), "bolt.fill", true,
                            VornSuiteCommandKind::quarnSmartOffload, false,
                            std::pair<std::string, std::string>{"Triggered Quarn Smart RAM Offload",
                                                                "Quarn Akıllı RAM Açma tetiklendi"}});
    if (summary.frozenAppCount >= 1) {
        const QString count = QString::number(summary.frozenAppCount);
        result.push_back(Action{vornQText("Thaw (", "Uyandır (", language) + count + QLatin1Char(')'), "sun.max.fill", false,
                                VornSuiteCommandKind::quarnThawAll, false,
                                std::pair<std::string, std::string>{"Sent Thaw All to Quarn",
                                                                    "Quarn donukları uyandırma komutu gönderildi"}});
    }
    result.push_back(Action{vornQText("Disk Lab", "Disk Lab", language), "externaldrive.badge.timemachine", false,
                            VornSuiteCommandKind::quarnOpenDiskLab, true, std::nullopt});
    return result;
}

bool VornVirtualMemoryGaugeCard::perform(const Action& action) {
    const bool sent = VornSuiteCommandBus::shared().send(action.kind, sourceApp_, VornSuiteApp::quarn, std::nullopt,
                                                         std::nullopt, std::nullopt, true, action.bringToFront);
    if (sent && onFeedback_ && action.feedback) {
        onFeedback_(vornQText(action.feedback->first, action.feedback->second, language_));
    }
    return sent;
}

void VornVirtualMemoryGaugeCard::setSummary(VornVirtualMemorySummary summary) {
    summary_ = std::move(summary);
    rebuild();
}

void VornVirtualMemoryGaugeCard::setLanguage(VornLanguage language) {
    language_ = language;
    rebuild();
}

void VornVirtualMemoryGaugeCard::refresh() { rebuild(); }

void VornVirtualMemoryGaugeCard::rebuild() {
    const QColor status = statusColor(summary_);
    gauges_ = gauges(summary_, language_, accentColor_);
    stats_ = stats(summary_, language_);
    actions_ = actions(summary_, language_);
    actionButtons_.clear();

    auto* body = new QWidget;
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    // Title and badges.
    auto* badges = new QWidget;
    auto* flow = new VornFlowLayout(badges, 7, 5);
    flow->setContentsMargins(0, 0, 0, 0);
    VornSuiteTagLook title;
    title.text = vornQText("Virtual Memory & Quarn Pools", "Sanal Bellek & Quarn Havuzları", language_);
    title.symbol = "externaldrive.badge.timemachine";
    title.symbolPoints = vornTextStylePoints(VornTextStyle::subheadline);
    title.symbolColor = status;
    title.font = vornFont(VornTextStyle::subheadline, QFont::Bold);
    title.spacing = 6;
    title.horizontalPadding = 0;
    title.verticalPadding = 0;
    title.foreground = VornGlassTokens::textPrimary();
    flow->addWidget(new VornSuiteTag(title, false, badges));

    VornSuiteTagLook state;
    state.text = stateBadgeText(summary_, language_);
    state.font = vornFont(9.5, QFont::Bold, VornFontDesign::monospaced);
    state.horizontalPadding = 7;
    state.verticalPadding = 2;
    state.fill = vornWithOpacity(status, 0.22);
    state.foreground = status;
    auto* stateTag = new VornSuiteTag(state, false, badges);
    stateTag->setObjectName(QStringLiteral("state"));
    flow->addWidget(stateTag);

    if (summary_.isQuarnRunning) {
        VornSuiteTagLook live;
        live.text = QStringLiteral("Quarn Live");
        live.font = vornFont(9.5, QFont::DemiBold);
        live.horizontalPadding = 6;
        live.verticalPadding = 2;
        live.fill = vornWithOpacity(VornGlassTokens::success(), 0.18);
        live.foreground = VornGlassTokens::success();
        auto* liveTag = new VornSuiteTag(live, false, badges);
        liveTag->setObjectName(QStringLiteral("live"));
        flow->addWidget(liveTag);
    }
    if (const std::optional<QString> capacity = capacityBadgeText(summary_, language_)) {
        VornSuiteTagLook look;
        look.text = *capacity;
        look.font = vornFont(9.5, QFont::DemiBold, VornFontDesign::monospaced);
        look.horizontalPadding = 6;
        look.verticalPadding = 2;
        look.fill = VornGlassTokens::surface2();
        look.foreground = VornGlassTokens::textSecondary();
        auto* capacityTag = new VornSuiteTag(look, false, badges);
        capacityTag->setObjectName(QStringLiteral("capacity"));
        flow->addWidget(capacityTag);
    }

    QWidget* actionRow = nullptr;
    if (!actions_.empty()) {
        actionRow = new QWidget;
        auto* line = new QHBoxLayout(actionRow);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(6);
        for (const Action& action : actions_) {
            auto* button = new VornGlassButton(action.label, action.isActive, actionRow);
            button->setSymbol(action.symbol);
            button->setLabelFont(vornFont(VornTextStyle::caption2, QFont::Bold));
            button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
            connect(button, &QAbstractButton::clicked, this, [this, action] { perform(action); });
            line->addWidget(button);
            actionButtons_.push_back(button);
        }
    }
    header_ = new GaugeHeader(badges, actionRow, body);
    column->addWidget(header_);

    auto* gaugeGrid = new QWidget(body);
    auto* gaugeLayout = new VornAdaptiveGridLayout(260, 14, 10, gaugeGrid);
    for (std::size_t i = 0; i < gauges_.size(); ++i) {
        gaugeLayout->addWidget(gaugeBar(gauges_[i], &tracks_[i]));
    }
    column->addWidget(gaugeGrid);

    auto* pillGrid = new QWidget(body);
    auto* pillLayout = new VornAdaptiveGridLayout(155, 8, 8, pillGrid);
    for (const Stat& stat : stats_) {
        pillLayout->addWidget(new StatPill(stat));
    }
    column->addWidget(pillGrid);

    body_ = body;
    setContent(body);
    updateGeometry();
    update();
}

QString VornVirtualMemoryGaugeCard::stateBadge() const { return stateBadgeText(summary_, language_); }

bool VornVirtualMemoryGaugeCard::showsLiveBadge() const {
    return body_ && body_->findChild<QWidget*>(QStringLiteral("live")) != nullptr;
}

std::optional<QString> VornVirtualMemoryGaugeCard::capacityBadge() const {
    const auto* tag = body_ ? body_->findChild<VornSuiteTag*>(QStringLiteral("capacity")) : nullptr;
    return tag ? std::optional<QString>(tag->look().text) : std::nullopt;
}

bool VornVirtualMemoryGaugeCard::actionsBelowTitle() const {
    const auto* header = dynamic_cast<const GaugeHeader*>(header_);
    return header && header->isStacked();
}

std::array<const VornSuiteProgressTrack*, 2> VornVirtualMemoryGaugeCard::gaugeTracks() const {
    return {tracks_[0], tracks_[1]};
}
