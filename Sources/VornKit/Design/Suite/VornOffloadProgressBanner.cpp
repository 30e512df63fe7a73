#include "VornOffloadProgressBanner.h"

#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSpinner.h"
#include "VornSuiteViewParts.h"
#include "VornTypography.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

VornOffloadProgressBanner::VornOffloadProgressBanner(QuarnOffloadLiveProgress progress, VornLanguage language,
                                                     bool compact, Action onCancel, Action onDismiss, QWidget* parent)
    : QWidget(parent),
      progress_(std::move(progress)),
      language_(language),
      compact_(compact),
      onCancel_(std::move(onCancel)),
      onDismiss_(std::move(onDismiss)) {
    setAttribute(Qt::WA_TranslucentBackground, true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    build();
    refresh();
}

QColor VornOffloadProgressBanner::accentColor(const QuarnOffloadLiveProgress& progress) {
    if (progress.isCompletedSummary) {
        return VornGlassTokens::success();
    }
    if (progress.livePressure == "critical") {
        return VornGlassTokens::danger();
    }
    if (progress.livePressure == "warning") {
        return VornGlassTokens::warning();
    }
    return vornSuiteRGB(169, 139, 255);
}

long long VornOffloadProgressBanner::percent(const QuarnOffloadLiveProgress& progress) {
    return vornRoundedPercent(vornClampedFraction(progress.fractionCompleted) * 100.0);
}

QString VornOffloadProgressBanner::stepBadgeText(const QuarnOffloadLiveProgress& progress, VornLanguage language) {
    if (progress.isCompletedSummary) {
        return vornQText("DONE", "TAMAMLANDI", language);
    }
    const QString numbers = QString::number(progress.stepIndex) + QLatin1Char('/') + QString::number(progress.totalSteps);
    return vornQText("STEP ", "ADIM ", language) + numbers;
}

double VornOffloadProgressBanner::fillWidth(double fraction, double width) {
    const double clamped = vornClampedFraction(fraction);
    if (clamped <= 0 || !(width > 0)) {
        return 0;
    }
    return std::min(width, std::max(clamped * width, 6.0));
}

bool VornOffloadProgressBanner::showsByteText(const QuarnOffloadLiveProgress& progress) {
    return progress.isRunning && progress.targetBytes >= 1;
}

VornOffloadProgressBanner::StepState VornOffloadProgressBanner::stepState(const QuarnOffloadLiveProgress& progress,
                                                                          int index) {
    const std::int64_t step = progress.stepIndex;
    if (progress.isCompletedSummary) {
        return {true, progress.isRunning && index == step};
    }
    return {index < step, progress.isRunning && index == step};
}

QString VornOffloadProgressBanner::stepTitle(int index, VornLanguage language) {
    switch (index) {
        case 1: return vornQText("1. Measure RAM", "1. Bellek Ölçümü", language);
        case 2: return vornQText("2. Freeze Idle Apps", "2. Pasifleri Dondur", language);
        case 3: return vornQText("3. Swap Wave", "3. Swap Dalgası", language);
        case 4: return vornQText("4. Release & Verify", "4. İade & Sonuç", language);
        default: return {};
    }
}

void VornOffloadProgressBanner::build() {
    const auto pick = [this](double compact, double regular) { return compact_ ? compact : regular; };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(int(pick(10, 14)), int(pick(8, 10)), int(pick(10, 14)), int(pick(8, 10)));
    column->setSpacing(int(pick(6, 8)));

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    spinner_ = new VornSpinner(int(pick(12, 14)), this);
    header->addWidget(spinner_, 0, Qt::AlignVCenter);

    VornSuiteTagLook seal;
    seal.symbol = "checkmark.seal.fill";
    seal.symbolPoints = pick(12, 14);
    seal.horizontalPadding = 0;
    seal.verticalPadding = 0;
    seal.foreground = VornGlassTokens::success();
    doneSeal_ = new VornSuiteTag(seal, false, this);
    header->addWidget(doneSeal_, 0, Qt::AlignVCenter);

    badge_ = new VornSuiteTag({}, false, this);
    header->addWidget(badge_, 0, Qt::AlignVCenter);

    phase_ = new VornSuiteText({}, vornFont(pick(11, 12.5), QFont::DemiBold), VornGlassTokens::textPrimary(), 1, this);
    header->addWidget(phase_, 0, Qt::AlignVCenter);
    header->addSpacerItem(new QSpacerItem(4, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));

    bytes_ = new VornSuiteText({}, vornFont(pick(9.5, 10.5), QFont::DemiBold, VornFontDesign::monospaced),
                               VornGlassTokens::textSecondary(), 1, this);
    bytes_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    header->addWidget(bytes_, 0, Qt::AlignVCenter);

    percent_ = new VornSuiteText({}, vornFont(pick(10.5, 11.5), QFont::Bold, VornFontDesign::monospaced), Qt::white, 1, this);
    percent_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    header->addWidget(percent_, 0, Qt::AlignVCenter);

    cancel_ = new VornGlassButton({}, false, this);
    cancel_->setLabelFont(vornFont(pick(9.5, 10.5), QFont::DemiBold));
    // The phase title gives way first when the row runs short; the button keeps its whole label.
    cancel_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(cancel_, &QAbstractButton::clicked, this, [this] {
        if (onCancel_) {
            onCancel_();
        }
    });
    header->addWidget(cancel_, 0, Qt::AlignVCenter);

    VornSuiteTagLook cross;
    cross.symbol = "xmark";
    cross.symbolPoints = 9.5;
    cross.horizontalPadding = 2;
    cross.verticalPadding = 2;
    cross.foreground = VornGlassTokens::textMuted();
    dismiss_ = new VornSuiteTagButton(cross, this);
    connect(dismiss_, &QAbstractButton::clicked, this, [this] {
        if (onDismiss_) {
            onDismiss_();
        }
    });
    header->addWidget(dismiss_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    bar_ = new VornSuiteProgressTrack(pick(5, 7), QColor::fromRgbF(1, 1, 1, 0.1f), &VornOffloadProgressBanner::fillWidth,
                                      this);
    column->addWidget(bar_);

    detail_ = new VornSuiteText({}, vornFont(pick(9.5, 10.5), QFont::Normal, VornFontDesign::monospaced),
                                VornGlassTokens::textSecondary(), compact_ ? 2 : 1, this);
    column->addWidget(detail_);

    if (!compact_) {
        pillHost_ = new QWidget(this);
        auto* grid = new VornAdaptiveGridLayout(135, 6, 6, pillHost_);
        // The interface font runs wider than the design's: a step title drops to another row
        // rather than being cut.
        grid->setFitsWidestItem(true);
        for (int index = 1; index <= 4; ++index) {
            auto* pill = new VornSuiteTag({}, true, pillHost_);
            pills_[std::size_t(index - 1)] = pill;
            grid->addWidget(pill);
        }
        column->addWidget(pillHost_);
    }
}

void VornOffloadProgressBanner::refresh() {
    const QColor accent = accentColor(progress_);
    const bool running = progress_.isRunning;

    spinner_->setVisible(running);
    spinner_->setColor(accent);
    doneSeal_->setVisible(!running);

    VornSuiteTagLook badge;
    badge.text = stepBadgeText(progress_, language_);
    badge.font = vornFont(compact_ ? 9 : 9.5, QFont::Bold, VornFontDesign::monospaced);
    badge.horizontalPadding = 6;
    badge.verticalPadding = 2;
    badge.fill = vornWithOpacity(accent, 0.24);
    badge.foreground = accent;
    badge_->setLook(badge);

    // Titles and details come from another process: one line each, of bounded length.
    phase_->setText(vornSingleLine(vornQText(progress_.phaseTitleEN, progress_.phaseTitleTR, language_)));

    bytes_->setVisible(showsByteText(progress_));
    bytes_->setText(QString::fromStdString(VornByteFormatter::format(progress_.allocatedBytes)) + QStringLiteral(" / ") +
                    QString::fromStdString(VornByteFormatter::format(progress_.targetBytes)));

    percent_->setText(QString::number(percent(progress_)) + QLatin1Char('%'));
    percent_->setColor(accent);

    cancel_->setLabel(vornQText("Cancel", "İptal", language_));
    cancel_->setVisible(running && bool(onCancel_));
    dismiss_->setVisible(!running && bool(onDismiss_));
    dismiss_->setToolTip(vornQText("Dismiss", "Kapat", language_));

    bar_->setFraction(progress_.fractionCompleted);
    bar_->setFillColors(vornWithOpacity(accent, 0.75), accent);

    const QString detail = vornSingleLine(vornQText(progress_.detailEN, progress_.detailTR, language_)).trimmed();
    detail_->setText(detail);
    detail_->setVisible(!detail.isEmpty());

    for (int index = 1; index <= 4 && !compact_; ++index) {
        const StepState state = stepState(progress_, index);
        VornSuiteTagLook look;
        look.text = stepTitle(index, language_);
        look.symbolPoints = 9.5;
        look.spacing = 4;
        look.horizontalPadding = 7;
        look.verticalPadding = 3;
        QColor color;
        double opacity = 0;
        if (state.done) {
            color = VornGlassTokens::success();
            opacity = state.current ? 0.22 : 0.14;
            look.symbol = "checkmark.circle.fill";
        } else if (state.current) {
            color = accent;
            opacity = 0.22;
            look.symbol = "bolt.circle.fill";
        } else {
            color = VornGlassTokens::textMuted();
            opacity = 0.06;
            look.symbol = "circle";
        }
        look.font = vornFont(9.5, (state.done || state.current) ? QFont::DemiBold : QFont::Normal);
        look.fill = vornWithOpacity(color, opacity);
        look.foreground = color;
        pills_[std::size_t(index - 1)]->setLook(look);
    }
    updateGeometry();
    update();
}

void VornOffloadProgressBanner::setProgress(QuarnOffloadLiveProgress progress) {
    progress_ = std::move(progress);
    refresh();
}

void VornOffloadProgressBanner::setLanguage(VornLanguage language) {
    language_ = language;
    refresh();
}

void VornOffloadProgressBanner::setOnCancel(Action onCancel) {
    onCancel_ = std::move(onCancel);
    refresh();
}

void VornOffloadProgressBanner::setOnDismiss(Action onDismiss) {
    onDismiss_ = std::move(onDismiss);
    refresh();
}

bool VornOffloadProgressBanner::showsSpinner() const { return !spinner_->isHidden(); }

QString VornOffloadProgressBanner::stepBadge() const { return badge_->look().text; }

QString VornOffloadProgressBanner::phaseText() const { return phase_->text(); }

QString VornOffloadProgressBanner::percentText() const { return percent_->text(); }

QString VornOffloadProgressBanner::byteText() const { return bytes_->isHidden() ? QString() : bytes_->text(); }

QString VornOffloadProgressBanner::detailText() const { return detail_->isHidden() ? QString() : detail_->text(); }

VornGlassButton* VornOffloadProgressBanner::cancelButton() const { return cancel_->isHidden() ? nullptr : cancel_; }

VornSuiteTagButton* VornOffloadProgressBanner::dismissButton() const { return dismiss_->isHidden() ? nullptr : dismiss_; }

std::vector<const VornSuiteTag*> VornOffloadProgressBanner::stepPills() const {
    std::vector<const VornSuiteTag*> result;
    if (!compact_) {
        result.assign(pills_.begin(), pills_.end());
    }
    return result;
}

void VornOffloadProgressBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor accent = accentColor(progress_);
    vornPaintGlassRoundedRect(painter, QRectF(rect()), compact_ ? 10 : 11, vornWithOpacity(accent, 0.12),
                              vornWithOpacity(accent, 0.4));
}
