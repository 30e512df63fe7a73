#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"
#include "VornGroundBackground.h"
#include "VornLanguageControls.h"
#include "VornOffloadProgressBanner.h"
#include "VornSuiteCommandBus.h"
#include "VornSuiteQuickActionsStrip.h"
#include "VornSuiteViewParts.h"
#include "VornSymbol.h"
#include "VornTypography.h"
#include "VornTestPictureText.h"
#include "VornTestSupport.h"
#include "VornTestUI.h"
#include "VornVirtualMemoryGaugeCard.h"
#include "VornVirtualMemoryHeaderPill.h"

#include <QApplication>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The suite's shared folders of this test process: its own data home (desktop entries, the command
// folder) and no system folders, so only the applications a test installs count as installed. Set
// before the command bus is first used, which fixes its folder for the process.
const fs::path& suiteHome() {
    static VornTestTempDir home;
    static const bool once = [] {
        setenv("XDG_DATA_HOME", home.path().c_str(), 1);
        setenv("XDG_DATA_DIRS", (home.path() / "system").c_str(), 1);
        return true;
    }();
    (void)once;
    return home.path();
}

fs::path desktopEntry(VornSuiteApp app) {
    return suiteHome() / "applications" / (VornSuiteApps::bundleIdentifier(app) + ".desktop");
}

// Installs `app` as a desktop entry whose command is `exec` (by default one that does nothing).
void install(VornSuiteApp app, const std::string& exec = "true") {
    fs::create_directories(desktopEntry(app).parent_path());
    std::ofstream(desktopEntry(app)) << "[Desktop Entry]\nType=Application\nName=" << rawValue(app) << "\nExec=" << exec
                                     << "\n";
}

void uninstall(VornSuiteApp app) { fs::remove(desktopEntry(app)); }

void installOnly(const std::set<VornSuiteApp>& apps) {
    for (const VornSuiteApp app : {VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom}) {
        if (apps.count(app)) {
            install(app);
        } else {
            uninstall(app);
        }
    }
}

// The command waiting for `app`, if any (taken away, so each test starts clean).
std::optional<VornSuiteCommandEnvelope> takeCommand(VornSuiteApp app) {
    return VornSuiteCommandBus::shared().consumePendingCommand(app, vornDateNow(), 300);
}

void clearCommands() {
    suiteHome();
    for (const VornSuiteApp app : {VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom}) {
        fs::remove(VornSuiteCommandBus::shared().commandFile(app));
    }
}

QColor over(const QColor& color, double opacity, const QColor& ground = Qt::black) {
    return QColor(int(std::lround(color.red() * opacity + ground.red() * (1 - opacity))),
                  int(std::lround(color.green() * opacity + ground.green() * (1 - opacity))),
                  int(std::lround(color.blue() * opacity + ground.blue() * (1 - opacity))));
}

// The views on the window's ground, in a column, saved for a person to look at. What the picture
// proves: it is `width` wide and as tall as the column needs, every view drew something of its own
// on the ground, and the texts each view lists in `texts` read back from its part of the picture.
void saveOnGround(const std::vector<QWidget*>& views, const QString& name, int width,
                  const std::vector<std::vector<std::string>>& texts = {}) {
    VornGroundBackground ground(VornProductPalette::deepCoral);
    auto* column = new QVBoxLayout(&ground);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    for (QWidget* view : views) {
        column->addWidget(view);
    }
    column->addStretch(1);
    const int height = std::max(ground.layout()->totalHeightForWidth(width), ground.sizeHint().height());
    ground.resize(width, height);
    ground.layout()->activate();
    QImage image(ground.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    ground.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_FALSE(vornSaveArtefact(image, name).isEmpty());
    EXPECT_EQ(image.size(), QSize(width, height)) << name.toStdString();

    // The bare ground under each view, to tell what the view drew from what was there.
    std::vector<QRect> areas;
    for (QWidget* view : views) {
        areas.push_back(view->geometry());
        view->hide();
    }
    QImage bare(ground.size(), QImage::Format_ARGB32);
    bare.fill(Qt::black);
    ground.render(&bare, QPoint(), QRegion(), QWidget::DrawChildren);
    for (std::size_t index = 0; index < views.size(); ++index) {
        const QRect area = areas[index];
        ASSERT_FALSE(area.isEmpty()) << name.toStdString() << " view " << index;
        int drawn = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                drawn += image.pixel(x, y) != bare.pixel(x, y) ? 1 : 0;
            }
        }
        // More than a stray outline: at least a twentieth of its area.
        EXPECT_GT(drawn, area.width() * area.height() / 20) << name.toStdString() << " view " << index;
        if (index < texts.size() && !texts[index].empty()) {
            const std::string read = vornPictureText(image.copy(area));
            for (const std::string& text : texts[index]) {
                EXPECT_NE(read.find(text), std::string::npos)
                    << name.toStdString() << " view " << index << " lacks \"" << text << "\" in: " << read;
            }
        }
    }
}

VornVirtualMemorySummary zeroSummary() { return {}; }

constexpr std::int64_t GB = 1000LL * 1000 * 1000;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Quick-actions strip

TEST(VornSuiteQuickActionsStrip, ShowsTheChipsOfInstalledSiblingsOtherThanTheHost) {
    clearCommands();
    VornVirtualMemorySummary threeFrozen;
    threeFrozen.frozenAppCount = 3;
    BrakkaLiveStatus twoProblems;
    twoProblems.problematicCount = 2;
    BrakkaLiveStatus noProblems;

    const struct {
        const char* name;
        VornSuiteApp host;
        std::set<VornSuiteApp> installed;
        std::optional<VornVirtualMemorySummary> summary;
        std::optional<BrakkaLiveStatus> kill;
        bool compact;
        std::vector<int> rows;
    } cases[] = {
        {"offload host, alone installed", VornSuiteApp::quarn, {VornSuiteApp::quarn}, std::nullopt, std::nullopt, false, {}},
        {"nothing installed", VornSuiteApp::vornSled, {}, threeFrozen, twoProblems, false, {}},
        {"studio, all three, no telemetry", VornSuiteApp::vornSled,
         {VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom}, std::nullopt, std::nullopt, false,
         {1, 3, 4, 5, 6, 7, 8, 9}},
        {"studio, counts", VornSuiteApp::vornSled, {VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom},
         threeFrozen, twoProblems, false, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"compact, counts: at most six", VornSuiteApp::vornSled,
         {VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom}, threeFrozen, twoProblems, true,
         {1, 2, 4, 5, 6, 8}},
        {"killer host", VornSuiteApp::brakka, {VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom},
         zeroSummary(), noProblems, false, {1, 3, 8, 9}},
        {"monitor missing", VornSuiteApp::lunnet, {VornSuiteApp::quarn, VornSuiteApp::brakka}, std::nullopt,
         std::nullopt, true, {1, 4, 5, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        installOnly(c.installed);
        VornSuiteQuickActionsStrip strip(c.host, c.summary, c.kill, VornLanguage::en, c.compact);
        std::vector<int> rows;
        for (const auto& chip : strip.shownChips()) {
            rows.push_back(chip.row);
            EXPECT_TRUE(VornSymbol::isKnown(chip.symbol)) << chip.symbol;
        }
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(strip.chipButtons().size(), c.rows.size());
        EXPECT_EQ(strip.isEmpty(), c.rows.empty());
        // The header belongs to the studio layout, and an empty strip has nothing at all.
        EXPECT_EQ(strip.showsHeader(), !c.compact && !c.rows.empty());
        if (c.rows.empty()) {
            EXPECT_EQ(strip.sizeHint().height(), 0);
            const QImage image = vornRenderOnBlack(strip, QSize(300, 30));
            EXPECT_TRUE(vornColorNear(image.pixelColor(150, 15), Qt::black));
        }
    }
}

TEST(VornSuiteQuickActionsStrip, CountsTitlesAndEmphasisFollowTheTelemetry) {
    installOnly({VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom});
    VornVirtualMemorySummary threeFrozen;
    threeFrozen.frozenAppCount = 3;
    BrakkaLiveStatus twoProblems;
    twoProblems.problematicCount = 2;
    BrakkaLiveStatus zero;

    const auto chipOf = [](const VornSuiteQuickActionsStrip& strip, int row) {
        for (const auto& chip : strip.shownChips()) {
            if (chip.row == row) {
                return std::optional(chip);
            }
        }
        return std::optional<VornSuiteQuickActionsStrip::Chip>();
    };

    VornSuiteQuickActionsStrip counted(VornSuiteApp::vornSled, threeFrozen, twoProblems, VornLanguage::en);
    EXPECT_EQ(chipOf(counted, 2)->title, QStringLiteral("Thaw Apps (3)"));
    EXPECT_EQ(chipOf(counted, 4)->title, QStringLiteral("Kill Frozen (2)"));
    EXPECT_TRUE(chipOf(counted, 4)->emphasized);
    VornSuiteQuickActionsStrip turkish(VornSuiteApp::vornSled, threeFrozen, twoProblems, VornLanguage::tr);
    EXPECT_EQ(chipOf(turkish, 2)->title, QStringLiteral("Donukları Uyandır (3)"));
    EXPECT_EQ(chipOf(turkish, 4)->title, QStringLiteral("Donmuşları Öldür (2)"));
    EXPECT_EQ(chipOf(turkish, 8)->title, QStringLiteral("Hessom HUD"));

    VornVirtualMemorySummary noneFrozen;
    for (const auto& [summary, kill] : {std::pair{std::optional(noneFrozen), std::optional(zero)},
                                        std::pair{std::optional<VornVirtualMemorySummary>(), std::optional<BrakkaLiveStatus>()}}) {
        VornSuiteQuickActionsStrip calm(VornSuiteApp::vornSled, summary, kill, VornLanguage::en);
        EXPECT_FALSE(chipOf(calm, 2).has_value());
        EXPECT_EQ(chipOf(calm, 4)->title, QStringLiteral("Kill Frozen"));
        EXPECT_FALSE(chipOf(calm, 4)->emphasized);
    }

    // The chip's look on black: a faint capsule in its tint with tinted text, or a stronger one with
    // white text when emphasized. Read in the left padding, where no symbol or text lies.
    const auto buttonOf = [](const VornSuiteQuickActionsStrip& strip, int row) {
        for (std::size_t i = 0; i < strip.shownChips().size(); ++i) {
            if (strip.shownChips()[i].row == row) {
                return strip.chipButtons()[i];
            }
        }
        return static_cast<VornSuiteTagButton*>(nullptr);
    };
    VornSuiteTagButton* emphasized = buttonOf(counted, 4);
    ASSERT_NE(emphasized, nullptr);
    EXPECT_EQ(emphasized->look().foreground, QColor(Qt::white));
    EXPECT_EQ(emphasized->toolTip(), QStringLiteral("Terminate unresponsive or frozen apps via Brakka"));
    QImage image = vornRenderOnBlack(*emphasized);
    EXPECT_TRUE(vornColorNear(image.pixelColor(6, image.height() / 2), over(VornGlassTokens::danger(), 0.30)));
    VornSuiteTagButton* plain = buttonOf(counted, 5);
    EXPECT_EQ(plain->look().foreground, vornSuiteRGB(255, 107, 129));
    EXPECT_EQ(plain->toolTip(), QStringLiteral("Activate Brakka crosshair to click-kill any frozen window"));
    image = vornRenderOnBlack(*plain);
    EXPECT_TRUE(vornColorNear(image.pixelColor(6, image.height() / 2), over(vornSuiteRGB(255, 107, 129), 0.14)));
    // Its border: the tint at 0.32 over the fill, on the outermost row in the middle of the top edge.
    const QColor fill = over(vornSuiteRGB(255, 107, 129), 0.14);
    EXPECT_TRUE(vornColorNear(image.pixelColor(image.width() / 2, 0), over(vornSuiteRGB(255, 107, 129), 0.32, fill), 3));
}

TEST(VornSuiteQuickActionsStrip, AChipSendsItsCommandAndReportsTheResult) {
    clearCommands();
    installOnly({VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom});
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        QStringList said;
        VornSuiteQuickActionsStrip strip(VornSuiteApp::dravik, std::nullopt, std::nullopt, language, false,
                                         [&](const QString& text) { said << text; });
        const struct {
            int row;
            VornSuiteApp target;
            VornSuiteCommandKind kind;
            const char* en;
            const char* tr;
        } taps[] = {
            {1, VornSuiteApp::quarn, VornSuiteCommandKind::quarnSmartOffload, "Sent Smart RAM Offload to Quarn",
             "Quarn Akıllı RAM Açma tetiklendi"},
            {7, VornSuiteApp::brakka, VornSuiteCommandKind::brakkaOpenAnalytics24h, "Opening Brakka 24h Analytics",
             "Brakka 24 Saatlik Analiz açılıyor"},
            {9, VornSuiteApp::hessom, VornSuiteCommandKind::hessomOpenThermalsPower, "Opening Hessom Thermals & Power",
             "Hessom Sıcaklık ve Fan ekranı açılıyor"},
        };
        for (const auto& tap : taps) {
            SCOPED_TRACE(tap.row);
            const auto& chips = strip.shownChips();
            const auto found = std::find_if(chips.begin(), chips.end(), [&](const auto& chip) { return chip.row == tap.row; });
            ASSERT_NE(found, chips.end());
            VornSuiteTagButton* button = strip.chipButtons()[std::size_t(found - chips.begin())];
            QTest::mouseClick(button, Qt::LeftButton);
            const std::optional<VornSuiteCommandEnvelope> sent = takeCommand(tap.target);
            ASSERT_TRUE(sent.has_value());
            EXPECT_EQ(sent->kind, tap.kind);
            EXPECT_EQ(sent->sourceApp, VornSuiteApp::dravik);
            EXPECT_EQ(sent->targetApp, tap.target);
            EXPECT_FALSE(sent->targetPID.has_value());
            EXPECT_FALSE(sent->payload.has_value());
            ASSERT_FALSE(said.isEmpty());
            EXPECT_EQ(said.back(), QString::fromUtf8(language == VornLanguage::tr ? tap.tr : tap.en));
        }
    }
}

TEST(VornSuiteQuickActionsStrip, ATargetRemovedAfterShowingIsReportedAsNotInstalled) {
    clearCommands();
    installOnly({VornSuiteApp::quarn, VornSuiteApp::brakka});
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        install(VornSuiteApp::brakka);
        QStringList said;
        VornSuiteQuickActionsStrip strip(VornSuiteApp::vornSled, std::nullopt, std::nullopt, language, true,
                                         [&](const QString& text) { said << text; });
        ASSERT_EQ(strip.shownChips()[1].target, VornSuiteApp::brakka);
        uninstall(VornSuiteApp::brakka);
        QTest::mouseClick(strip.chipButtons()[1], Qt::LeftButton);
        ASSERT_EQ(said.size(), 1);
        EXPECT_EQ(said.front(), language == VornLanguage::tr ? QStringLiteral("Brakka kurulu değil")
                                                             : QStringLiteral("Brakka is not installed"));
        EXPECT_FALSE(takeCommand(VornSuiteApp::brakka).has_value());
        // Looking again hides the group.
        strip.refresh();
        EXPECT_EQ(strip.shownChips().size(), 1u);
    }
    // Without a feedback action the chip still sends and says nothing.
    VornSuiteQuickActionsStrip silent(VornSuiteApp::vornSled, std::nullopt, std::nullopt, VornLanguage::en, true);
    QTest::mouseClick(silent.chipButtons()[0], Qt::LeftButton);
    EXPECT_EQ(takeCommand(VornSuiteApp::quarn)->kind, VornSuiteCommandKind::quarnSmartOffload);
}

TEST(VornSuiteQuickActionsStrip, PicturesInBothLanguages) {
    installOnly({VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom});
    VornVirtualMemorySummary frozen;
    frozen.frozenAppCount = 3;
    BrakkaLiveStatus kill;
    kill.problematicCount = 2;
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        auto* studio = new VornSuiteQuickActionsStrip(VornSuiteApp::vornSled, frozen, kill, language, false);
        auto* compact = new VornSuiteQuickActionsStrip(VornSuiteApp::vornSled, frozen, std::nullopt, language, true);
        const QString code = QString::fromUtf8(language.code().data(), qsizetype(language.code().size()));
        saveOnGround({studio, compact}, QStringLiteral("suite-quick-actions-%1").arg(code), 1500, {{"Suite"}});
    }
}

// ---------------------------------------------------------------------------------------------
// Offload progress banner

namespace {

QuarnOffloadLiveProgress runProgress(bool running, bool completed, std::int64_t step, double fraction) {
    QuarnOffloadLiveProgress progress;
    progress.isRunning = running;
    progress.isCompletedSummary = completed;
    progress.stepIndex = step;
    progress.totalSteps = 4;
    progress.fractionCompleted = fraction;
    progress.phaseTitleEN = "Swap wave";
    progress.phaseTitleTR = "Swap dalgası";
    progress.detailEN = "Paging out idle pages of 3 apps";
    progress.detailTR = "3 uygulamanın boştaki sayfaları aktarılıyor";
    progress.allocatedBytes = 3 * GB;
    progress.targetBytes = 8 * GB;
    return progress;
}

std::vector<std::string> pillSymbols(const VornOffloadProgressBanner& banner) {
    std::vector<std::string> symbols;
    for (const VornSuiteTag* pill : banner.stepPills()) {
        symbols.push_back(pill->look().symbol);
    }
    return symbols;
}

}  // namespace

TEST(VornOffloadProgressBanner, RunningStoppedAndCompletedRunsFollowTheirStateTable) {
    int cancels = 0;
    int dismissals = 0;
    const auto cancel = [&] { ++cancels; };
    const auto dismiss = [&] { ++dismissals; };

    // Running, step 3 of 4.
    VornOffloadProgressBanner running(runProgress(true, false, 3, 0.42), VornLanguage::en, false, cancel, dismiss);
    EXPECT_TRUE(running.showsSpinner());
    EXPECT_EQ(running.stepBadge(), QStringLiteral("STEP 3/4"));
    EXPECT_EQ(running.percentText(), QStringLiteral("42%"));
    EXPECT_EQ(pillSymbols(running), (std::vector<std::string>{"checkmark.circle.fill", "checkmark.circle.fill",
                                                              "bolt.circle.fill", "circle"}));
    EXPECT_EQ(running.stepPills()[2]->look().foreground, vornSuiteRGB(169, 139, 255));
    EXPECT_EQ(running.stepPills()[3]->look().foreground, VornGlassTokens::textMuted());
    ASSERT_NE(running.cancelButton(), nullptr);
    EXPECT_EQ(running.dismissButton(), nullptr);
    EXPECT_EQ(running.cancelButton()->label(), QStringLiteral("Cancel"));
    QTest::mouseClick(running.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(cancels, 1);
    running.setLanguage(VornLanguage::tr);
    EXPECT_EQ(running.stepBadge(), QStringLiteral("ADIM 3/4"));
    EXPECT_EQ(running.cancelButton()->label(), QStringLiteral("İptal"));
    EXPECT_EQ(running.stepPills()[1]->look().text, QStringLiteral("2. Pasifleri Dondur"));
    VornOffloadProgressBanner noCancel(runProgress(true, false, 3, 0.42), VornLanguage::en, false, {}, dismiss);
    EXPECT_EQ(noCancel.cancelButton(), nullptr);
    EXPECT_EQ(noCancel.dismissButton(), nullptr);

    // Stopped before finishing: a seal, steps before the index done, the rest pending, no cancel.
    VornOffloadProgressBanner stopped(runProgress(false, false, 3, 0.6), VornLanguage::en, false, cancel, dismiss);
    EXPECT_FALSE(stopped.showsSpinner());
    EXPECT_EQ(pillSymbols(stopped),
              (std::vector<std::string>{"checkmark.circle.fill", "checkmark.circle.fill", "circle", "circle"}));
    EXPECT_EQ(stopped.cancelButton(), nullptr);
    ASSERT_NE(stopped.dismissButton(), nullptr);
    QTest::mouseClick(stopped.dismissButton(), Qt::LeftButton);
    EXPECT_EQ(dismissals, 1);
    VornOffloadProgressBanner stoppedNoDismiss(runProgress(false, false, 3, 0.6), VornLanguage::en, false, cancel, {});
    EXPECT_EQ(stoppedNoDismiss.dismissButton(), nullptr);

    // A completed summary: DONE in the success colour and every step done, whatever the pressure.
    QuarnOffloadLiveProgress done = runProgress(false, true, 4, 1.0);
    done.livePressure = "critical";
    VornOffloadProgressBanner completed(done, VornLanguage::en, false, cancel, dismiss);
    EXPECT_EQ(completed.stepBadge(), QStringLiteral("DONE"));
    EXPECT_EQ(VornOffloadProgressBanner::accentColor(done), VornGlassTokens::success());
    EXPECT_EQ(pillSymbols(completed), std::vector<std::string>(4, "checkmark.circle.fill"));
    completed.setLanguage(VornLanguage::tr);
    EXPECT_EQ(completed.stepBadge(), QStringLiteral("TAMAMLANDI"));
    // A completed summary still running marks its own step current as well as done.
    EXPECT_EQ(VornOffloadProgressBanner::stepState(runProgress(true, true, 2, 0.5), 2),
              (VornOffloadProgressBanner::StepState{true, true}));
    EXPECT_EQ(VornOffloadProgressBanner::stepState(runProgress(true, true, 2, 0.5), 3),
              (VornOffloadProgressBanner::StepState{true, false}));

    // The compact size has no pills.
    VornOffloadProgressBanner compact(runProgress(true, false, 3, 0.42), VornLanguage::en, true, cancel, dismiss);
    EXPECT_TRUE(compact.stepPills().empty());
}

TEST(VornOffloadProgressBanner, AccentBytesAndDetailFollowTheRecord) {
    const struct {
        const char* pressure;
        bool completed;
        QColor accent;
    } accents[] = {
        {"warning", false, VornGlassTokens::warning()},
        {"critical", false, VornGlassTokens::danger()},
        {"normal", false, vornSuiteRGB(169, 139, 255)},
        {"Warning", false, vornSuiteRGB(169, 139, 255)},
        {"", false, vornSuiteRGB(169, 139, 255)},
        {"warning", true, VornGlassTokens::success()},
    };
    for (const auto& c : accents) {
        SCOPED_TRACE(c.pressure);
        QuarnOffloadLiveProgress progress = runProgress(true, c.completed, 2, 0.3);
        progress.livePressure = c.pressure;
        EXPECT_EQ(VornOffloadProgressBanner::accentColor(progress), c.accent);
        // The banner's ground is the accent at 0.12, read on black in its middle-left padding.
        VornOffloadProgressBanner banner(progress, VornLanguage::en, true);
        const QImage image = vornRenderOnBlack(banner, QSize(420, banner.sizeHint().height()));
        EXPECT_TRUE(vornColorNear(image.pixelColor(4, image.height() / 2), over(c.accent, 0.12)));
    }

    VornOffloadProgressBanner banner(runProgress(true, false, 2, 0.3), VornLanguage::en);
    EXPECT_EQ(banner.byteText(), QString::fromStdString(VornByteFormatter::format(3 * GB) + " / " +
                                                        VornByteFormatter::format(8 * GB)));
    QuarnOffloadLiveProgress noTarget = runProgress(true, false, 2, 0.3);
    noTarget.targetBytes = 0;
    banner.setProgress(noTarget);
    EXPECT_TRUE(banner.byteText().isEmpty());
    banner.setProgress(runProgress(false, false, 2, 0.3));
    EXPECT_TRUE(banner.byteText().isEmpty());

    EXPECT_EQ(banner.detailText(), QStringLiteral("Paging out idle pages of 3 apps"));
    // The detail shows as the text lookup resolves it: an empty resolved text hides the line, and a
    // Turkish text left empty falls back to the English one like every other text.
    QuarnOffloadLiveProgress turkishOnly = runProgress(true, false, 2, 0.3);
    turkishOnly.detailEN.clear();
    EXPECT_TRUE(VornOffloadProgressBanner(turkishOnly, VornLanguage::en).detailText().isEmpty());
    EXPECT_EQ(VornOffloadProgressBanner(turkishOnly, VornLanguage::tr).detailText(),
              QStringLiteral("3 uygulamanın boştaki sayfaları aktarılıyor"));
    QuarnOffloadLiveProgress none = runProgress(true, false, 2, 0.3);
    none.detailEN.clear();
    none.detailTR.clear();
    EXPECT_TRUE(VornOffloadProgressBanner(none, VornLanguage::tr).detailText().isEmpty());
    QuarnOffloadLiveProgress englishOnly = runProgress(true, false, 2, 0.3);
    englishOnly.detailTR.clear();
    EXPECT_EQ(VornOffloadProgressBanner(englishOnly, VornLanguage::tr).detailText(),
              QStringLiteral("Paging out idle pages of 3 apps"));
}

TEST(VornOffloadProgressBanner, FractionsOutsideTheRangeAreClampedBeforeTheyShow) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double fraction;
        const char* percent;
        double fillOf200;
    } cases[] = {
        {0, "0%", 0},         {0.001, "0%", 6},      {0.005, "1%", 6},    {0.5, "50%", 100}, {0.425, "43%", 85},
        {1, "100%", 200},     {1.7, "100%", 200},    {-0.2, "0%", 0},     {nan, "0%", 0},    {inf, "100%", 200},
        {-inf, "0%", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fraction);
        QuarnOffloadLiveProgress progress = runProgress(true, false, 2, c.fraction);
        EXPECT_EQ(QString::number(VornOffloadProgressBanner::percent(progress)) + QLatin1Char('%'), QString::fromUtf8(c.percent));
        EXPECT_DOUBLE_EQ(VornOffloadProgressBanner::fillWidth(c.fraction, 200), c.fillOf200);
        VornOffloadProgressBanner banner(progress, VornLanguage::en);
        EXPECT_EQ(banner.percentText(), QString::fromUtf8(c.percent));
        banner.resize(500, banner.sizeHint().height());
        banner.layout()->activate();
        const double track = banner.bar()->width();
        EXPECT_NEAR(banner.bar()->fillWidth(), VornOffloadProgressBanner::fillWidth(c.fraction, track), 1e-9);
        EXPECT_LE(banner.bar()->fillWidth(), track);
    }
}

TEST(VornOffloadProgressBanner, TextsFromTheRecordStayOnTheirLineAndWithinBounds) {
    QuarnOffloadLiveProgress hostile = runProgress(true, false, 2, 0.3);
    hostile.phaseTitleEN = "Swap\nwave\r\u202Eevil\u2066\t!";
    hostile.detailEN = std::string(200000, 'x') + "\n" + std::string(10, 'y');
    hostile.detailTR.clear();
    for (const bool compact : {false, true}) {
        VornOffloadProgressBanner banner(hostile, VornLanguage::en, compact);
        EXPECT_EQ(banner.phaseText(), QStringLiteral("Swap wave  evil  !"));
        EXPECT_LE(banner.detailText().size(), 512);
        EXPECT_FALSE(banner.detailText().contains(QLatin1Char('\n')));
        // It still lays out and draws, the detail within its lines.
        const QImage image = vornRenderOnBlack(banner, QSize(600, banner.heightForWidth(600) > 0 ? banner.heightForWidth(600)
                                                                                              : banner.sizeHint().height()));
        EXPECT_FALSE(image.isNull());
        EXPECT_LE(banner.sizeHint().height(), 200);
    }
}

TEST(VornOffloadProgressBanner, PicturesInBothLanguages) {
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        QuarnOffloadLiveProgress warning = runProgress(true, false, 2, 0.18);
        warning.livePressure = "warning";
        QuarnOffloadLiveProgress stopped = runProgress(false, false, 3, 0.61);
        stopped.detailEN.clear();
        stopped.detailTR.clear();
        const auto none = [] {};
        std::vector<QWidget*> views{
            new VornOffloadProgressBanner(runProgress(true, false, 3, 0.42), language, false, none, none),
            new VornOffloadProgressBanner(warning, language, true, none, none),
            new VornOffloadProgressBanner(stopped, language, false, none, none),
            new VornOffloadProgressBanner(runProgress(false, true, 4, 1.0), language, false, none, none),
        };
        const QString code = QString::fromUtf8(language.code().data(), qsizetype(language.code().size()));
        // The phase title, the banner's largest text ("Swap wave", "Swap dalgası").
        saveOnGround(views, QStringLiteral("suite-offload-banner-%1").arg(code), 720, {{"Swap"}});
    }
}

// ---------------------------------------------------------------------------------------------
// Virtual-memory header pill

TEST(VornVirtualMemoryHeaderPill, ColourIconAndTextFollowTheSummary) {
    VornVirtualMemorySummary calm;
    VornVirtualMemorySummary criticalPools;
    criticalPools.pressureLevel = "critical";
    criticalPools.activeDiskPoolCount = 2;
    criticalPools.diskPoolVirtualBytes = 50 * GB;
    VornVirtualMemorySummary warningRAMDisk;
    warningRAMDisk.pressureLevel = "warning";
    warningRAMDisk.mountedRAMDiskCount = 1;
    warningRAMDisk.ramDiskTotalBytes = 2 * GB;
    VornVirtualMemorySummary warningSwap;
    warningSwap.pressureLevel = "warning";
    warningSwap.swapTotalBytes = 4 * GB;
    warningSwap.swapUsedBytes = 1500LL * 1000 * 1000;
    VornVirtualMemorySummary normalSwap = warningSwap;
    normalSwap.pressureLevel = "normal";

    const struct {
        const char* name;
        VornVirtualMemorySummary summary;
        QColor color;
        std::string symbol;
    } cases[] = {
        {"calm", calm, vornSuiteRGB(56, 232, 255), "memorychip"},
        {"critical beats pools", criticalPools, VornGlassTokens::danger(), "externaldrive.badge.timemachine"},
        {"a RAM disk beats warning", warningRAMDisk, vornSuiteRGB(169, 139, 255), "externaldrive.badge.timemachine"},
        {"warning with swap only", warningSwap, VornGlassTokens::warning(), "memorychip"},
        {"swap alone is not active", normalSwap, vornSuiteRGB(56, 232, 255), "memorychip"},
    };
    const QString help = VornVirtualMemoryHeaderPill::helpText(VornLanguage::en);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VornVirtualMemoryHeaderPill::statusColor(c.summary), c.color);
        EXPECT_EQ(VornVirtualMemoryHeaderPill::symbolName(c.summary), c.symbol);
        EXPECT_TRUE(VornSymbol::isKnown(c.symbol));
        const std::string compact = c.summary.compactBadgeText();
        VornVirtualMemoryHeaderPill pill(c.summary, VornLanguage::en, [] {});
        EXPECT_EQ(pill.text(), compact.empty() ? QStringLiteral("VM ON") : QStringLiteral("VM: ") + QString::fromStdString(compact));
        EXPECT_EQ(pill.toolTip(), help);
        pill.setLanguage(VornLanguage::tr);
        EXPECT_EQ(pill.text(), compact.empty() ? QStringLiteral("Sanal Bellek ON")
                                               : QStringLiteral("Sanal Bellek: ") + QString::fromStdString(compact));
        EXPECT_EQ(pill.toolTip(), QStringLiteral("Sanal Bellek aktif — Quarn ile yönetmek için tıklayın"));
        // On black: the capsule is the colour at 0.2, the dot the colour itself.
        const QImage image = vornRenderOnBlack(pill);
        EXPECT_TRUE(vornColorNear(image.pixelColor(5, image.height() / 2), over(c.color, 0.2)));
        EXPECT_TRUE(vornColorNear(image.pixelColor(12, image.height() / 2), c.color, 3));
    }
    EXPECT_EQ(VornVirtualMemoryHeaderPill::title(calm, VornLanguage::en), QStringLiteral("VM ON"));
    EXPECT_EQ(help, QStringLiteral("Virtual Memory active — click to open Quarn"));
}

TEST(VornVirtualMemoryHeaderPill, AClickRunsTheOwnersActionOrOpensTheOffloadApp) {
    int taps = 0;
    VornVirtualMemoryHeaderPill owned(VornVirtualMemorySummary{}, VornLanguage::en, [&] { ++taps; });
    QTest::mouseClick(&owned, Qt::LeftButton);
    EXPECT_EQ(taps, 1);

    // Neither running nor installed: nothing happens, and nothing breaks.
    uninstall(VornSuiteApp::quarn);
    VornVirtualMemoryHeaderPill pill(VornVirtualMemorySummary{}, VornLanguage::en, {});
    QTest::mouseClick(&pill, Qt::LeftButton);

    // Installed: its desktop entry's command is started.
    const fs::path marker = suiteHome() / "quarn-started";
    fs::remove(marker);
    install(VornSuiteApp::quarn, "touch " + marker.string());
    QTest::mouseClick(&pill, Qt::LeftButton);
    bool started = false;
    for (int i = 0; i < 30000 && !started; ++i) {  // a generous deadline for loaded machines, not a speed goal
        started = fs::exists(marker);
        if (!started) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    EXPECT_TRUE(started);
    install(VornSuiteApp::quarn);
}

// ---------------------------------------------------------------------------------------------
// Virtual-memory gauge card

TEST(VornVirtualMemoryGaugeCard, AnAllZeroSummaryShowsStandby) {
    uninstall(VornSuiteApp::quarn);
    VornVirtualMemoryGaugeCard card(zeroSummary(), VornLanguage::en, accentColor(VornProductPalette::deepCoral),
                                    VornSuiteApp::vornSled, {});
    EXPECT_EQ(card.stateBadge(), QStringLiteral("STANDBY"));
    EXPECT_EQ(VornVirtualMemoryGaugeCard::statusColor(zeroSummary()), VornGlassTokens::success());
    EXPECT_FALSE(card.showsLiveBadge());
    EXPECT_FALSE(card.capacityBadge().has_value());
    EXPECT_TRUE(card.actionButtons().empty());
    EXPECT_EQ(card.shownGauges()[1].valueText, QStringLiteral("0 B (Standby)"));
    const auto& stats = card.shownStats();
    EXPECT_EQ(stats[0].label, QStringLiteral("Linux Swap"));
    EXPECT_FALSE(stats[0].detail.has_value());
    EXPECT_EQ(stats[0].tint, VornGlassTokens::textSecondary());
    EXPECT_EQ(stats[1].value, QStringLiteral("Off"));
    EXPECT_EQ(stats[2].label, QStringLiteral("Virtual Disk Image"));
    EXPECT_EQ(stats[2].value, QStringLiteral("Off"));
    EXPECT_EQ(stats[3].value, QStringLiteral("0 frozen"));
    EXPECT_EQ(stats[3].tint, VornGlassTokens::textMuted());
    vornRenderOnBlack(card, QSize(640, card.heightForWidth(640)));
    EXPECT_GT(card.gaugeTracks()[1]->width(), 200);
    EXPECT_EQ(card.gaugeTracks()[1]->fillWidth(), 0);

    VornVirtualMemoryGaugeCard turkish(zeroSummary(), VornLanguage::tr, Qt::white, VornSuiteApp::vornSled, {});
    EXPECT_EQ(turkish.stateBadge(), QStringLiteral("HAZIR"));
    EXPECT_EQ(turkish.shownGauges()[1].valueText, QStringLiteral("0 B (Boşta)"));
    EXPECT_EQ(turkish.shownStats()[1].value, QStringLiteral("Kapalı"));
    EXPECT_EQ(turkish.shownStats()[2].label, QStringLiteral("Sanal Disk İmajı"));
    EXPECT_EQ(turkish.shownStats()[3].value, QStringLiteral("0 donuk"));
}

TEST(VornVirtualMemoryGaugeCard, StatusColourAndBadgesFollowTheSummary) {
    VornVirtualMemorySummary swapOnly;
    swapOnly.swapTotalBytes = 4 * GB;
    swapOnly.swapUsedBytes = 1 * GB;
    swapOnly.swapFileCount = 2;
    swapOnly.swapEncrypted = true;
    VornVirtualMemorySummary pool = swapOnly;
    pool.activeDiskPoolCount = 1;
    pool.diskPoolVirtualBytes = 50 * GB;
    pool.diskPoolActualDiskBytes = 2 * GB;
    pool.diskPoolNames = {"alpha", "beta"};
    pool.isQuarnRunning = true;
    VornVirtualMemorySummary critical = pool;
    critical.pressureLevel = "critical";
    VornVirtualMemorySummary warning;
    warning.pressureLevel = "warning";

    const struct {
        const char* name;
        VornVirtualMemorySummary summary;
        QColor color;
        const char* state;
    } cases[] = {
        {"swap in use", swapOnly, vornSuiteRGB(56, 232, 255), "ACTIVE"},
        {"an active pool", pool, vornSuiteRGB(169, 139, 255), "ACTIVE"},
        {"critical wins", critical, VornGlassTokens::danger(), "ACTIVE"},
        {"warning alone changes nothing", warning, VornGlassTokens::success(), "STANDBY"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VornVirtualMemoryGaugeCard::statusColor(c.summary), c.color);
        EXPECT_EQ(VornVirtualMemoryGaugeCard::stateBadgeText(c.summary, VornLanguage::en), QString::fromUtf8(c.state));
        EXPECT_EQ(VornVirtualMemoryGaugeCard::gauges(c.summary, VornLanguage::en, Qt::white)[1].tint, c.color);
    }

    VornVirtualMemoryGaugeCard card(pool, VornLanguage::en, Qt::white, VornSuiteApp::vornSled, {});
    EXPECT_TRUE(card.showsLiveBadge());
    EXPECT_EQ(card.capacityBadge(),
              QStringLiteral("Effective: ") + QString::fromStdString(VornByteFormatter::format(pool.totalEffectiveMemoryCapacityBytes())));
    EXPECT_EQ(VornVirtualMemoryGaugeCard::stateBadgeText(pool, VornLanguage::tr), QStringLiteral("AÇIK"));
    const auto stats = card.shownStats();
    EXPECT_EQ(stats[0].label, QStringLiteral("Linux Swap (2)"));
    EXPECT_EQ(stats[0].detail, QStringLiteral("25% • AES-XTS"));
    EXPECT_EQ(stats[0].tint, vornSuiteRGB(56, 232, 255));
    EXPECT_EQ(stats[1].value, QString::fromStdString(VornByteFormatter::format(2 * GB) + " / " + VornByteFormatter::format(50 * GB)));
    EXPECT_EQ(stats[1].detail, QStringLiteral("alpha, beta"));
    EXPECT_EQ(stats[1].tint, vornSuiteRGB(169, 139, 255));
    swapOnly.swapEncrypted = false;
    EXPECT_EQ(VornVirtualMemoryGaugeCard::stats(swapOnly, VornLanguage::tr)[0].detail, QStringLiteral("25% • Plain"));

    // A RAM disk with reclaimed memory names the reclaimed amount even when disks have names.
    VornVirtualMemorySummary ramDisk;
    ramDisk.mountedRAMDiskCount = 1;
    ramDisk.ramDiskTotalBytes = 2 * GB;
    ramDisk.ramDiskNames = {"scratch"};
    ramDisk.reclaimedFromFrozenBytes = 700LL * 1000 * 1000;
    const auto ramStats = VornVirtualMemoryGaugeCard::stats(ramDisk, VornLanguage::en);
    EXPECT_EQ(ramStats[3].value, QString::fromStdString(VornByteFormatter::format(2 * GB)));
    EXPECT_EQ(ramStats[3].detail, QStringLiteral("↓ ") + QString::fromStdString(VornByteFormatter::format(700LL * 1000 * 1000)));
    EXPECT_EQ(ramStats[3].tint, VornGlassTokens::warning());
    ramDisk.reclaimedFromFrozenBytes = 0;
    EXPECT_EQ(VornVirtualMemoryGaugeCard::stats(ramDisk, VornLanguage::en)[3].detail, QStringLiteral("scratch"));

    // Names another process reported stay on one line, and a flood of them is cut.
    VornVirtualMemorySummary hostile = pool;
    hostile.diskPoolNames = {"first\npool", "\u202Eloop"};
    EXPECT_EQ(VornVirtualMemoryGaugeCard::stats(hostile, VornLanguage::en)[1].detail, QStringLiteral("first pool,  loop"));
    hostile.diskPoolNames.assign(100000, std::string(40, 'n'));
    const auto flooded = VornVirtualMemoryGaugeCard::stats(hostile, VornLanguage::en)[1].detail;
    ASSERT_TRUE(flooded.has_value());
    EXPECT_LE(flooded->size(), 512);
    VornVirtualMemoryGaugeCard floodedCard(hostile, VornLanguage::en, Qt::white, VornSuiteApp::vornSled, {});
    EXPECT_FALSE(vornRenderOnBlack(floodedCard, QSize(700, floodedCard.heightForWidth(700))).isNull());
}

TEST(VornVirtualMemoryGaugeCard, GaugesRoundTheirPercentagesAndKeepASliver) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double fraction;
        double fill;
    } fills[] = {{0.001, 4}, {0.5, 100}, {1.0, 200}, {1.5, 200}, {0, 0}, {-0.3, 0}, {nan, 0}};
    for (const auto& c : fills) {
        SCOPED_TRACE(c.fraction);
        EXPECT_DOUBLE_EQ(VornVirtualMemoryGaugeCard::gaugeFillWidth(c.fraction, 200), c.fill);
    }

    const struct {
        std::int64_t used;
        std::int64_t total;
        const char* percent;
    } physical[] = {{8500LL * 1000 * 1000, 16 * GB, "(53%)"}, {995, 1000, "(100%)"}, {5, 1000, "(1%)"}, {4, 1000, "(0%)"}};
    for (const auto& c : physical) {
        SCOPED_TRACE(c.percent);
        VornVirtualMemorySummary summary;
        summary.physicalUsedBytes = c.used;
        summary.physicalTotalBytes = c.total;
        const auto gauge = VornVirtualMemoryGaugeCard::gauges(summary, VornLanguage::en, Qt::red)[0];
        EXPECT_TRUE(gauge.valueText.endsWith(QString::fromUtf8(c.percent))) << gauge.valueText.toStdString();
        EXPECT_EQ(gauge.tint, QColor(Qt::red));
        EXPECT_DOUBLE_EQ(gauge.fraction, summary.physicalUsedPercent() / 100.0);
    }

    VornVirtualMemorySummary used;
    used.swapTotalBytes = 4 * GB;
    used.swapUsedBytes = 3 * GB;
    used.diskPoolVirtualBytes = 6 * GB;
    used.activeDiskPoolCount = 1;
    const auto area = VornVirtualMemoryGaugeCard::gauges(used, VornLanguage::tr, Qt::white)[1];
    EXPECT_EQ(area.title, QStringLiteral("Sanal RAM Alanı (Swap + Quarn)"));
    EXPECT_EQ(area.valueText, QString::fromStdString(VornByteFormatter::format(used.totalVirtualUsedBytes()) + " / " +
                                                     VornByteFormatter::format(used.totalVirtualAllocatedBytes())) +
                                  QStringLiteral(" (") + QString::number(vornRoundedPercent(used.virtualUsedPercent())) +
                                  QStringLiteral("%)"));
}

TEST(VornVirtualMemoryGaugeCard, ActionsSendCommandsToTheOffloadAppWhenItIsInstalled) {
    clearCommands();
    VornVirtualMemorySummary frozen;
    frozen.frozenAppCount = 2;
    frozen.isQuarnRunning = true;

    uninstall(VornSuiteApp::quarn);
    QStringList said;
    VornVirtualMemoryGaugeCard absent(frozen, VornLanguage::en, Qt::white, VornSuiteApp::hessom,
                                      [&](const QString& text) { said << text; });
    EXPECT_TRUE(absent.actionButtons().empty());
    EXPECT_FALSE(absent.perform(VornVirtualMemoryGaugeCard::Action{}));
    EXPECT_TRUE(said.isEmpty());

    install(VornSuiteApp::quarn);
    VornVirtualMemoryGaugeCard card(frozen, VornLanguage::en, Qt::white, VornSuiteApp::hessom,
                                    [&](const QString& text) { said << text; });
    const auto buttons = card.actionButtons();
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[0]->label(), QStringLiteral("Smart Offload"));
    EXPECT_TRUE(buttons[0]->isActive());
    EXPECT_EQ(buttons[1]->label(), QStringLiteral("Thaw (2)"));
    EXPECT_FALSE(buttons[1]->isActive());
    EXPECT_EQ(buttons[2]->label(), QStringLiteral("Disk Lab"));

    QTest::mouseClick(buttons[0], Qt::LeftButton);
    auto sent = takeCommand(VornSuiteApp::quarn);
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(sent->kind, VornSuiteCommandKind::quarnSmartOffload);
    EXPECT_EQ(sent->sourceApp, VornSuiteApp::hessom);
    EXPECT_EQ(said, QStringList{QStringLiteral("Triggered Quarn Smart RAM Offload")});

    QTest::mouseClick(buttons[2], Qt::LeftButton);
    sent = takeCommand(VornSuiteApp::quarn);
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(sent->kind, VornSuiteCommandKind::quarnOpenDiskLab);
    EXPECT_EQ(said.size(), 1);  // the disk lab reports nothing

    card.setLanguage(VornLanguage::tr);
    ASSERT_EQ(card.actionButtons().size(), 3u);
    EXPECT_EQ(card.actionButtons()[1]->label(), QStringLiteral("Uyandır (2)"));
    QTest::mouseClick(card.actionButtons()[1], Qt::LeftButton);
    EXPECT_EQ(takeCommand(VornSuiteApp::quarn)->kind, VornSuiteCommandKind::quarnThawAll);
    EXPECT_EQ(said.back(), QStringLiteral("Quarn donukları uyandırma komutu gönderildi"));

    VornVirtualMemorySummary none;
    EXPECT_EQ(VornVirtualMemoryGaugeCard::actions(none, VornLanguage::en).size(), 2u);
}

TEST(VornVirtualMemoryGaugeCard, TheActionRowMovesBelowWhenTheHeaderIsTooNarrow) {
    install(VornSuiteApp::quarn);
    VornVirtualMemorySummary busy;
    busy.swapTotalBytes = 4 * GB;
    busy.swapUsedBytes = 1 * GB;
    busy.frozenAppCount = 1;
    busy.isQuarnRunning = true;
    VornVirtualMemoryGaugeCard card(busy, VornLanguage::en, Qt::white, VornSuiteApp::vornSled, {});
    for (const auto& [width, below] : {std::pair{1100, false}, std::pair{420, true}, std::pair{1100, false}}) {
        // Rendering lays the card out at that width, as showing it would.
        const QImage image = vornRenderOnBlack(card, QSize(width, card.heightForWidth(width)));
        EXPECT_EQ(card.actionsBelowTitle(), below) << width;
        // The card needs no more than that height: no minimum taken at a narrower width stretches it.
        EXPECT_LE(card.minimumSizeHint().height(), card.heightForWidth(width)) << width;
        EXPECT_EQ(image.height(), card.heightForWidth(width));
        vornSaveArtefact(image, QStringLiteral("suite-gauge-card-%1").arg(width));
    }
}

TEST(VornVirtualMemoryGaugeCard, PicturesInBothLanguages) {
    install(VornSuiteApp::quarn);
    VornVirtualMemorySummary busy;
    busy.physicalTotalBytes = 16 * GB;
    busy.physicalUsedBytes = 11200LL * 1000 * 1000;
    busy.swapTotalBytes = 4 * GB;
    busy.swapUsedBytes = 1300LL * 1000 * 1000;
    busy.swapFileCount = 1;
    busy.swapEncrypted = true;
    busy.isQuarnRunning = true;
    busy.activeDiskPoolCount = 2;
    busy.diskPoolVirtualBytes = 64 * GB;
    busy.diskPoolActualDiskBytes = 9 * GB;
    busy.diskPoolNames = {"studio-pool", "render-cache"};
    busy.mountedSparseDiskCount = 1;
    busy.sparseDiskVirtualBytes = 32 * GB;
    busy.sparseDiskActualBytes = 4 * GB;
    busy.sparseDiskNames = {"Quarn Overflow"};
    busy.frozenAppCount = 3;
    busy.reclaimedFromFrozenBytes = 1800LL * 1000 * 1000;
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        const QColor accent = accentColor(VornProductPalette::deepCoral);
        std::vector<QWidget*> views{
            new VornVirtualMemoryHeaderPill(busy, language, [] {}),
            new VornVirtualMemoryGaugeCard(busy, language, accent, VornSuiteApp::vornSled, {}),
            new VornVirtualMemoryGaugeCard(zeroSummary(), language, accent, VornSuiteApp::vornSled, {}),
        };
        const QString code = QString::fromUtf8(language.code().data(), qsizetype(language.code().size()));
        saveOnGround(views, QStringLiteral("suite-virtual-memory-%1").arg(code), 760,
                     {{}, {language == VornLanguage::en ? "Memory" : "Bellek"}});
    }
}

// ---------------------------------------------------------------------------------------------
// Shared parts

TEST(VornSuiteViewParts, AdaptiveColumnsAndShrinkingTextFollowTheirRules) {
    QWidget host;
    auto* grid = new VornAdaptiveGridLayout(135, 6, 6, &host);
    VornSuiteTagLook wide;
    wide.text = QStringLiteral("2. Freeze Idle Apps, and a little more");
    wide.font = vornFont(9.5, QFont::DemiBold);
    for (int i = 0; i < 4; ++i) {
        grid->addWidget(new VornSuiteTag(wide, true));
    }
    const struct {
        double width;
        int columns;
    } plain[] = {{0, 1}, {134, 1}, {276, 2}, {275, 1}, {700, 5}, {qInf(), 1}, {-5, 1}};
    for (const auto& c : plain) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(grid->columnsFor(c.width), c.columns);
    }
    // Fitted to its widest item, a column is as wide as that item wants.
    grid->setFitsWidestItem(true);
    const int itemWidth = VornSuiteTag(wide).sizeHint().width();
    ASSERT_GT(itemWidth, 135);
    EXPECT_EQ(grid->columnsFor(2 * itemWidth + 6), 2);
    EXPECT_EQ(grid->columnsFor(2 * itemWidth + 5), 1);
    // Laid out, every item fills its cell and none overlaps the next.
    host.resize(2 * itemWidth + 6, grid->heightForWidth(2 * itemWidth + 6));
    grid->activate();
    grid->setGeometry(host.rect());
    EXPECT_EQ(grid->itemAt(0)->geometry().width(), itemWidth);
    EXPECT_EQ(grid->itemAt(1)->geometry().left(), itemWidth + 6);
    EXPECT_EQ(grid->itemAt(2)->geometry().top(), grid->itemAt(0)->geometry().bottom() + 1 + 6);

    // A value shrinks to 0.8 of its size before it is cut.
    VornSuiteText value(QStringLiteral("123.45 GB / 678.90 GB"), vornFont(10.5, QFont::Bold, VornFontDesign::monospaced),
                        Qt::white);
    value.setMinimumScale(0.8);
    const double full = value.sizeHint().width();
    value.resize(int(full * 0.9), value.sizeHint().height());
    EXPECT_LT(value.shownFont().pointSizeF(), vornFont(10.5).pointSizeF());
    EXPECT_GT(value.shownFont().pointSizeF(), vornFont(10.5).pointSizeF() * 0.8);
    EXPECT_EQ(value.shownLines(), QStringList{value.text()});
    value.resize(int(full * 0.5), value.sizeHint().height());
    EXPECT_NEAR(value.shownFont().pointSizeF(), vornFont(10.5).pointSizeF() * 0.8, 0.01);
    ASSERT_EQ(value.shownLines().size(), 1);
    EXPECT_TRUE(value.shownLines().front().endsWith(QStringLiteral("…")));
}

TEST(VornSuiteQuickActionsStrip, ARowWiderThanItsPlaceTurnsWithTheWheelAndFollowsTheFocus) {
    installOnly({VornSuiteApp::quarn, VornSuiteApp::brakka, VornSuiteApp::hessom});
    VornSuiteQuickActionsStrip strip(VornSuiteApp::vornSled, std::nullopt, std::nullopt, VornLanguage::tr, false);
    strip.resize(360, strip.sizeHint().height());
    strip.show();
    QApplication::processEvents();
    ASSERT_GT(strip.scrollRange(), 0);
    EXPECT_EQ(strip.scrollOffset(), 0);

    QWidget* viewport = strip.chipButtons().front()->parentWidget()->parentWidget();
    const QPointF inside(20, 10);
    QWheelEvent down(inside, strip.mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &down);
    EXPECT_EQ(strip.scrollOffset(), 48);
    QWheelEvent up(inside, strip.mapToGlobal(inside), QPoint(), QPoint(0, 600), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &up);
    EXPECT_EQ(strip.scrollOffset(), 0);

    // Reaching the last chip with the keyboard brings it into view.
    strip.activateWindow();
    QApplication::setActiveWindow(&strip);
    strip.chipButtons().back()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(strip.chipButtons().back()->hasFocus());
    EXPECT_EQ(strip.scrollOffset(), strip.scrollRange());
}
