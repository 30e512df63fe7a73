#include "VornSuiteQuickActionsStrip.h"

#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornTypography.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace {

QColor violet() { return vornSuiteRGB(169, 139, 255); }
QColor rose() { return vornSuiteRGB(255, 107, 129); }
QColor cyan() { return vornSuiteRGB(56, 232, 255); }

}  // namespace

VornSuiteQuickActionsStrip::VornSuiteQuickActionsStrip(VornSuiteApp currentApp,
                                                       std::optional<VornVirtualMemorySummary> vmSummary,
                                                       std::optional<BrakkaLiveStatus> killStatus, VornLanguage language,
                                                       bool compact, Feedback onFeedback, QWidget* parent)
    : QWidget(parent),
      currentApp_(currentApp),
      vmSummary_(std::move(vmSummary)),
      killStatus_(std::move(killStatus)),
      language_(language),
      compact_(compact),
      onFeedback_(std::move(onFeedback)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* frame = new QHBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    vornMakeTransparent(scroll_);
    // The row scrolls sideways with no bar to drag: an ordinary wheel turns it too.
    scroll_->viewport()->installEventFilter(this);
    frame->addWidget(scroll_);
    rebuild();
}

bool VornSuiteQuickActionsStrip::showsGroup(VornSuiteApp currentApp, VornSuiteApp app) {
    return app != currentApp && VornSuiteApps::isInstalled(app);
}

std::vector<VornSuiteQuickActionsStrip::Chip> VornSuiteQuickActionsStrip::chips(
    VornSuiteApp currentApp, const std::optional<VornVirtualMemorySummary>& vmSummary,
    const std::optional<BrakkaLiveStatus>& killStatus, VornLanguage language, bool compact) {
    const auto text = [language](std::string_view en, std::string_view tr) { return vornQText(en, tr, language); };
    std::vector<Chip> result;
    const auto add = [&](int row, QString title, std::string symbol, QColor tint, bool emphasized, QString help,
                         VornSuiteCommandKind kind, VornSuiteApp target, bool toFront, std::string en, std::string tr) {
        result.push_back(Chip{row, std::move(title), std::move(symbol), std::move(tint), emphasized, std::move(help), kind,
                              target, toFront, std::move(en), std::move(tr)});
    };

    if (showsGroup(currentApp, VornSuiteApp::quarn)) {
        add(1, text("Smart RAM Offload", "Akıllı RAM Aç"), "bolt.fill", violet(), false,
            text("Trigger Quarn smart memory offload in the background",
                 "Arka planda Quarn akıllı bellek rahatlatmayı çalıştır"),
            VornSuiteCommandKind::quarnSmartOffload, VornSuiteApp::quarn, false, "Sent Smart RAM Offload to Quarn",
            "Quarn Akıllı RAM Açma tetiklendi");
        if (vmSummary && vmSummary->frozenAppCount >= 1) {
            const QString count = QString::number(vmSummary->frozenAppCount);
            add(2, text("Thaw Apps (", "Donukları Uyandır (") + count + QLatin1Char(')'), "sun.max.fill",
                VornGlassTokens::warning(), false,
                text("Resume all apps frozen by Quarn", "Quarn tarafından dondurulan tüm uygulamaları uyandır"),
                VornSuiteCommandKind::quarnThawAll, VornSuiteApp::quarn, false, "Sent Thaw All command to Quarn",
                "Quarn tüm donukları uyandırma komutu gönderildi");
        }
        if (!compact) {
            add(3, text("Virtual Disk Lab", "Sanal Disk Lab"), "externaldrive.badge.timemachine", violet(), false,
                text("Open Quarn Virtual Disk & mmap Pool Lab", "Quarn Sanal Disk ve Bellek Havuzu Laboratuvarını aç"),
                VornSuiteCommandKind::quarnOpenDiskLab, VornSuiteApp::quarn, true, "Opening Quarn Virtual Disk Lab",
                "Quarn Sanal Disk Laboratuvarı açılıyor");
        }
    }
    if (showsGroup(currentApp, VornSuiteApp::brakka)) {
        const bool withCount = killStatus && killStatus->problematicCount >= 1;
        QString title = text("Kill Frozen", "Donmuşları Öldür");
        if (withCount) {
            title = text("Kill Frozen (", "Donmuşları Öldür (") + QString::number(killStatus->problematicCount) +
                    QLatin1Char(')');
        }
        add(4, title, "xmark.octagon.fill", VornGlassTokens::danger(), withCount,
            text("Terminate unresponsive or frozen apps via Brakka",
                 "Yanıt vermeyen/donmuş uygulamaları Brakka ile sonlandır"),
            VornSuiteCommandKind::brakkaAllFrozen, VornSuiteApp::brakka, false, "Sent Kill All Frozen command to Brakka",
            "Brakka'e donmuş uygulamaları öldürme komutu gönderildi");
        add(5, text("Target Window", "Pencere Hedefle"), "scope", rose(), false,
            text("Activate Brakka crosshair to click-kill any frozen window",
                 "Herhangi bir donmuş pencereyi tıklayıp öldürmek için Brakka nişangahını aç"),
            VornSuiteCommandKind::brakkaOpenCrosshair, VornSuiteApp::brakka, false, "Brakka window targeter activated",
            "Brakka pencere hedefleme nişangahı açıldı");
        add(6, text("Quick Kill HUD", "Hızlı Öldür HUD"), "bolt.circle.fill", rose(), false,
            text("Toggle Brakka floating Quick Kill HUD", "Brakka yüzen Hızlı Öldürme panelini aç/kapat"),
            VornSuiteCommandKind::brakkaToggleQuickHUD, VornSuiteApp::brakka, false, "Toggled Brakka Quick HUD",
            "Brakka Hızlı Öldür HUD açıldı/kapatıldı");
        if (!compact) {
            add(7, text("24h Usage", "24s Analiz"), "chart.bar.xaxis", rose(), false,
                text("Open Brakka 24h CPU / RAM / Disk analytics", "Brakka 24 saatlik CPU / RAM / Disk analizini aç"),
                VornSuiteCommandKind::brakkaOpenAnalytics24h, VornSuiteApp::brakka, true, "Opening Brakka 24h Analytics",
                "Brakka 24 Saatlik Analiz açılıyor");
        }
    }
    if (showsGroup(currentApp, VornSuiteApp::hessom)) {
        add(8, text("Hessom HUD", "Hessom HUD"), "rectangle.inset.topright.filled", cyan(), false,
            text("Show or hide the Hessom floating desktop telemetry HUD", "Hessom masaüstü yüzen sensör HUD'unu aç/kapat"),
            VornSuiteCommandKind::hessomToggleHUD, VornSuiteApp::hessom, false, "Toggled Hessom Floating HUD",
            "Hessom Masaüstü HUD açıldı/kapatıldı");
        if (!compact) {
            add(9, text("Thermals & Fan", "Sıcaklık & Fan"), "thermometer.medium", cyan(), false,
                text("Open Hessom live thermal sensors, fan RPM & power view",
                     "Hessom canlı sıcaklık sensörleri, fan RPM ve güç ekranını aç"),
                VornSuiteCommandKind::hessomOpenThermalsPower, VornSuiteApp::hessom, true,
                "Opening Hessom Thermals & Power", "Hessom Sıcaklık ve Fan ekranı açılıyor");
        }
    }
    return result;
}

VornSuiteTagLook VornSuiteQuickActionsStrip::chipLook(const QString& title, const std::string& symbol,
                                                       const QColor& tint, bool emphasized, bool compact) {
    VornSuiteTagLook look;
    look.text = title;
    look.symbol = symbol;
    look.symbolPoints = compact ? 9.5 : 10.5;
    look.font = vornFont(compact ? 10 : 11, QFont::DemiBold);
    look.spacing = 5;
    look.horizontalPadding = compact ? 8 : 10;
    look.verticalPadding = compact ? 4 : 5;
    look.fill = vornWithOpacity(tint, emphasized ? 0.30 : 0.14);
    look.border = vornWithOpacity(tint, emphasized ? 0.65 : 0.32);
    look.foreground = emphasized ? QColor(Qt::white) : tint;
    return look;
}

bool VornSuiteQuickActionsStrip::trigger(VornSuiteCommandKind kind, VornSuiteApp to, bool bringToFront,
                                         std::string_view enToast, std::string_view trToast) {
    const bool sent = VornSuiteCommandBus::shared().send(kind, currentApp_, to, std::nullopt, std::nullopt, std::nullopt,
                                                         true, bringToFront);
    if (onFeedback_) {
        if (sent) {
            onFeedback_(vornQText(enToast, trToast, language_));
        } else {
            const std::string name = rawValue(to);
            onFeedback_(vornQText(name + " is not installed", name + " kurulu değil", language_));
        }
    }
    return sent;
}

void VornSuiteQuickActionsStrip::refresh() { rebuild(); }

void VornSuiteQuickActionsStrip::setVMSummary(std::optional<VornVirtualMemorySummary> vmSummary) {
    vmSummary_ = std::move(vmSummary);
    rebuild();
}

void VornSuiteQuickActionsStrip::setKillStatus(std::optional<BrakkaLiveStatus> killStatus) {
    killStatus_ = std::move(killStatus);
    rebuild();
}

void VornSuiteQuickActionsStrip::setLanguage(VornLanguage language) {
    language_ = language;
    rebuild();
}

void VornSuiteQuickActionsStrip::rebuild() {
    chips_ = chips(currentApp_, vmSummary_, killStatus_, language_, compact_);
    buttons_.clear();
    header_ = nullptr;
    // The old row may hold the chip whose click led here: it goes once that click is over.
    if (QWidget* old = scroll_->takeWidget()) {
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }
    row_ = nullptr;
    scroll_->setVisible(!chips_.empty());
    if (!chips_.empty()) {
        row_ = new QWidget;
        row_->setAttribute(Qt::WA_TranslucentBackground, true);
        auto* line = new QHBoxLayout(row_);
        line->setSpacing(compact_ ? 6 : 8);
        if (compact_) {
            line->setContentsMargins(2, 0, 2, 0);
        } else {
            line->setContentsMargins(14, 7, 14, 7);
            VornSuiteTagLook heading;
            heading.text = vornQText("Suite Actions", "Suite Hızlı İşlemler", language_);
            heading.symbol = "square.grid.2x2.fill";
            heading.symbolPoints = 10;
            heading.font = vornFont(10.5, QFont::Bold);
            heading.horizontalPadding = 0;
            heading.verticalPadding = 0;
            heading.foreground = VornGlassTokens::textMuted();
            header_ = new VornSuiteTag(heading, false, row_);
            line->addWidget(header_, 0, Qt::AlignVCenter);
            line->addSpacing(2);
        }
        for (const Chip& chip : chips_) {
            auto* button = new VornSuiteTagButton(chipLook(chip.title, chip.symbol, chip.tint, chip.emphasized, compact_), row_);
            button->setToolTip(chip.helpText);
            const VornSuiteCommandKind kind = chip.kind;
            const VornSuiteApp target = chip.target;
            const bool toFront = chip.bringToFront;
            const std::string en = chip.resultEN;
            const std::string tr = chip.resultTR;
            connect(button, &QAbstractButton::clicked, this,
                    [this, kind, target, toFront, en, tr] { trigger(kind, target, toFront, en, tr); });
            line->addWidget(button, 0, Qt::AlignVCenter);
            button->installEventFilter(this);
            buttons_.push_back(button);
        }
        line->addStretch(1);
        scroll_->setWidget(row_);
        scroll_->setFixedHeight(row_->sizeHint().height());
    }
    updateGeometry();
    update();
}

bool VornSuiteQuickActionsStrip::eventFilter(QObject* watched, QEvent* event) {
    // A chip that takes the keyboard focus is brought into view, however the focus came.
    if (event->type() == QEvent::FocusIn) {
        if (auto* chip = qobject_cast<QWidget*>(watched); chip && chip != scroll_->viewport()) {
            scroll_->ensureWidgetVisible(chip, 14, 0);
        }
    }
    if (watched == scroll_->viewport() && event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint pixels = wheel->pixelDelta();
        const QPoint angle = wheel->angleDelta();
        // Whichever way the wheel turns moves the row; a notch (120) moves it by 48 points.
        const int delta = !pixels.isNull() ? (std::abs(pixels.x()) > std::abs(pixels.y()) ? pixels.x() : pixels.y())
                                           : (std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y()) * 2 / 5;
        QScrollBar* bar = scroll_->horizontalScrollBar();
        if (bar->maximum() > 0 && delta != 0) {
            bar->setValue(bar->value() - delta);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

int VornSuiteQuickActionsStrip::scrollOffset() const { return scroll_->horizontalScrollBar()->value(); }

int VornSuiteQuickActionsStrip::scrollRange() const { return scroll_->horizontalScrollBar()->maximum(); }

std::vector<VornSuiteTagButton*> VornSuiteQuickActionsStrip::chipButtons() const { return buttons_; }

bool VornSuiteQuickActionsStrip::showsHeader() const { return header_ != nullptr; }

QSize VornSuiteQuickActionsStrip::sizeHint() const {
    return row_ ? row_->sizeHint() : QSize(0, 0);
}

QSize VornSuiteQuickActionsStrip::minimumSizeHint() const { return QSize(0, row_ ? row_->sizeHint().height() : 0); }

void VornSuiteQuickActionsStrip::paintEvent(QPaintEvent*) {
    if (compact_ || chips_.empty()) {
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), VornGlassTokens::surface1());
}
