#include "VornBundle.h"
#include "VornButtons.h"
#include "VornFeedbackButton.h"
#include "VornSegmentedControl.h"
#include "VornTestBrowser.h"
#include "VornTestSupport.h"
#include "VornTestUI.h"
#include "VornVersionAndLogsView.h"
#include "VornVersionBadge.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const VornAppVersion testVersion("1.4.2", "57");

QImage picture(QWidget& view, QSize size) {
    view.resize(size);
    view.show();
    // Layout requests travel up one level per pass of the event loop.
    for (int pass = 0; pass < 8; ++pass) {
        QCoreApplication::processEvents();
    }
    return vornRenderOnBlack(view, size);
}

template <class W = QWidget>
W* child(QWidget& parent, const char* name) {
    W* found = parent.findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QStringList messages(const VornVersionAndLogsView& view) {
    QStringList result;
    for (const VornLogEntry& entry : view.entries()) {
        result << QString::fromStdString(entry.message);
    }
    return result;
}

void pickLevel(VornVersionAndLogsView& view, int index) {
    auto* picker = child<VornSegmentedControl>(view, "levelPicker");
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(index).center().toPoint());
}

class VersionLogsTest : public testing::Test {
protected:
    VornTestTempDir dir;
    std::shared_ptr<VornAppLogger> logger = std::make_shared<VornAppLogger>(
        "Notes", dir / "logs", 8 * 1024 * 1024, 2, [] { return testVersion; });
    int closes = 0;

    std::unique_ptr<VornVersionAndLogsView> makeView(VornLanguage language = VornLanguage::en, bool closable = true,
                                                     std::vector<VornReleaseLogRecord> fallback = {},
                                                     std::string app = "Notes") {
        return std::make_unique<VornVersionAndLogsView>(
            std::move(app), testVersion, logger, VornProductPalette::deepIndigo, language, std::move(fallback),
            closable ? VornVersionAndLogsView::OnClose([this] { ++closes; }) : VornVersionAndLogsView::OnClose());
    }
};

VornReleaseLogRecord record(std::string version, std::string summary, std::vector<std::string> details) {
    VornReleaseLogRecord result;
    result.timestamp = "2026-02-11T08:00:00Z";
    result.app = "Notes";
    result.toVersion = std::move(version);
    result.toBuild = 57;
    result.bumpKind = "minor";
    result.section = "Added";
    result.summary = std::move(summary);
    result.details = std::move(details);
    return result;
}

}  // namespace

TEST(VornVersionAndLogsView, RowTimestampsShowTheTimeOfDay) {
    const struct {
        const char* stored;
        const char* shown;
    } cases[] = {
        {"2026-03-01T09:15:02.481Z", "09:15:02"},
        {"2026-03-01 09:15:02", "2026-03-"},
        {"12:3", "12:3"},
        {"xT12:3", "12:3"},
        {"T", ""},
        {"", ""},
        {"ÇağrıTşöğüçıİ€ab", "şöğüçıİ€"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VornVersionAndLogsView::rowTimestamp(c.stored), QString::fromUtf8(c.shown)) << c.stored;
    }
}

TEST_F(VersionLogsTest, TheSheetFaceHasHeaderGroundAndEscapeTheEmbeddedOneOnlyCards) {
    auto embedded = makeView(VornLanguage::en, false);
    EXPECT_EQ(embedded->findChild<QWidget*>(QStringLiteral("versionHeader")), nullptr);
    const QImage bare = picture(*embedded, QSize(760, 700));
    EXPECT_TRUE(vornColorNear(bare.pixelColor(3, 3), Qt::black)) << "no ground behind the cards";
    QTest::keyClick(embedded.get(), Qt::Key_Escape);
    EXPECT_EQ(closes, 0);

    auto sheet = makeView();
    ASSERT_NE(sheet->findChild<QWidget*>(QStringLiteral("versionHeader")), nullptr);
    const QImage grounded = picture(*sheet, QSize(760, 700));
    EXPECT_FALSE(vornColorNear(grounded.pixelColor(3, 3), Qt::black, 6)) << "the ground fills the sheet";
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_EQ(closes, 1);
    QTest::mouseClick(child(*sheet, "closeButton"), Qt::LeftButton);
    EXPECT_EQ(closes, 2);
}

TEST_F(VersionLogsTest, TheLevelFilterReReadsTheRealLog) {
    logger->debug("cache warmed", "cache");
    logger->info("window opened", "lifecycle");
    logger->warn("slow listing", "sftp");
    logger->warn("token=abc123 retry", "auth");
    auto view = makeView();
    picture(*view, QSize(760, 700));
    EXPECT_EQ(messages(*view),
              QStringList({"token=[REDACTED] retry", "slow listing", "window opened", "cache warmed"}));
    EXPECT_EQ(view->findChildren<QWidget*>(QStringLiteral("logRow")).size(), 4);
    EXPECT_FALSE(child(*view, "noEntries")->isVisible());

    pickLevel(*view, 3);  // ERROR: nothing matches
    EXPECT_EQ(view->selectedMinLevel(), VornLogLevel::error);
    EXPECT_TRUE(view->entries().empty());
    EXPECT_TRUE(child(*view, "noEntries")->isVisible());
    EXPECT_EQ(child<QLabel>(*view, "noEntries")->text(), QStringLiteral("No runtime log entries match the filter yet."));

    pickLevel(*view, 0);  // back to everything at once
    EXPECT_EQ(view->entries().size(), 4u);
    pickLevel(*view, 1);
    EXPECT_EQ(messages(*view), QStringList({"token=[REDACTED] retry", "slow listing", "window opened"}));

    logger->error("disk full", "transfer");
    EXPECT_EQ(view->entries().size(), 3u);  // nothing polls
    QTest::mouseClick(child(*view, "refreshLogs"), Qt::LeftButton);
    EXPECT_EQ(messages(*view).front(), QStringLiteral("disk full"));
    EXPECT_EQ(child<QLabel>(*view, "logFileName")->text().toStdString(), logger->currentLogFileURL().filename().string());
    vornSaveArtefact(picture(*view, QSize(760, 980)), QStringLiteral("version-logs-en"));
}

TEST_F(VersionLogsTest, CopyTakesTheNewest250AndClearEmptiesTheLog) {
    for (int i = 0; i < 300; ++i) {
        logger->info("line " + std::to_string(i), "bulk");
    }
    auto view = makeView(VornLanguage::tr);
    picture(*view, QSize(760, 700));
    EXPECT_EQ(view->entries().size(), 120u);
    auto* copy = child<VornGlassButton>(*view, "copyLogs");
    EXPECT_EQ(copy->label(), QStringLiteral("Kopyala"));
    QTest::mouseClick(copy, Qt::LeftButton);
    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 250);
    EXPECT_TRUE(lines.front().endsWith(QStringLiteral("[bulk] line 50"))) << lines.front().toStdString();
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("[bulk] line 299"))) << lines.back().toStdString();
    EXPECT_TRUE(view->copiedToast());
    EXPECT_EQ(copy->label(), QStringLiteral("Kopyalandı"));

    QTest::mouseClick(child(*view, "clearLogs"), Qt::LeftButton);
    EXPECT_FALSE(fs::exists(logger->currentLogFileURL()));
    EXPECT_TRUE(view->entries().empty());
    EXPECT_TRUE(child(*view, "noEntries")->isVisible());
    EXPECT_EQ(child<QLabel>(*view, "noEntries")->text(), QStringLiteral("Filtreye uyan çalışma logu henüz yok."));
    EXPECT_EQ(copy->label(), QStringLiteral("Kopyalandı"));  // the copy mark stays while the view lives
}

TEST_F(VersionLogsTest, TheFolderButtonRevealsTheLogFolder) {
    VORN_REQUIRE_TOOL("xdg-open");
    const VornTestBrowser browser(dir);
    auto view = makeView();
    QTest::mouseClick(child(*view, "revealLogs"), Qt::LeftButton);
    EXPECT_NE(browser.awaitOpened().find(logger->logDirectoryURL().string()), std::string::npos);
}

TEST_F(VersionLogsTest, ReleasesComeFromTheBundleElseTheFallback) {
    // The program's own release log, read from its bundle.
    auto own = makeView(VornLanguage::tr, true, {record("9.9.9", "unused", {})}, "VornSled");
    picture(*own, QSize(760, 700));
    const auto bundled = VornReleaseLogReader::loadBundled(std::string("VornSled"), VornBundle::main());
    ASSERT_FALSE(bundled.empty());
    EXPECT_EQ(own->releases(), bundled);
    EXPECT_EQ(own->findChildren<QWidget*>(QStringLiteral("releaseRow")).size(), qsizetype(bundled.size()));
    vornSaveArtefact(picture(*own, QSize(760, 980)), QStringLiteral("version-logs-tr"));

    // No records for the name: the fallback, newest first as given.
    VornReleaseLogRecord translated = record("1.4.0", "Tabs", {"One", "Two"});
    translated.summaryI18n["tr"] = "Sekmeler";
    translated.detailsI18n["tr"] = {"Bir", "İki"};
    auto fallback = makeView(VornLanguage::tr, true, {record("1.4.2", "", {}), translated});
    picture(*fallback, QSize(760, 700));
    ASSERT_EQ(fallback->releases().size(), 2u);
    const QList<QWidget*> rows = fallback->findChildren<QWidget*>(QStringLiteral("releaseRow"));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->findChildren<QLabel*>(QStringLiteral("releaseSummary")).size(), 0);
    EXPECT_EQ(rows[0]->findChildren<QLabel*>(QStringLiteral("releaseDetail")).size(), 0);
    ASSERT_EQ(rows[1]->findChildren<QLabel*>(QStringLiteral("releaseSummary")).size(), 1);
    EXPECT_EQ(rows[1]->findChild<QLabel*>(QStringLiteral("releaseSummary"))->text(), QStringLiteral("Sekmeler"));
    QStringList details;
    for (QLabel* label : rows[1]->findChildren<QLabel*>(QStringLiteral("releaseDetail"))) {
        details << label->text();
    }
    EXPECT_EQ(details, QStringList({QStringLiteral("• Bir"), QStringLiteral("• İki")}));
    EXPECT_FALSE(child(*fallback, "noReleases")->isVisible());

    auto none = makeView();
    picture(*none, QSize(760, 700));
    EXPECT_TRUE(none->releases().empty());
    EXPECT_TRUE(child(*none, "noReleases")->isVisible());
}

TEST(VornVersionBadge, ShowsTheTagAndOptionallyTheBuild) {
    VornVersionBadge withBuild(testVersion, true);
    VornVersionBadge tagOnly(testVersion, false);
    EXPECT_EQ(withBuild.text(), QStringLiteral("v1.4.2 (57)"));
    EXPECT_EQ(tagOnly.text(), QStringLiteral("v1.4.2"));
    EXPECT_GT(withBuild.sizeHint().width(), tagOnly.sizeHint().width());
    const QImage image = vornRenderOnBlack(withBuild);
    vornSaveArtefact(image, QStringLiteral("version-badge"));
    // The capsule's fill (surface2 over black) shows between the text and the border.
    EXPECT_TRUE(vornColorNear(image.pixelColor(3, image.height() / 2), vornWhiteOverBlack(0.10), 12));
}

TEST(VornVersionBadgeButton, OpensAFreshSheetEachTime) {
    const std::string app = "Vorn Badge Test App";
    VornVersionBadgeButton button(app, testVersion, nullptr, VornProductPalette::deepCoral, VornLanguage::en, false,
                                  true);
    EXPECT_EQ(button.logger(), VornAppLogger::shared(app));
    EXPECT_EQ(button.helpText(), QStringLiteral("Version v1.4.2 (57) — Click to view Release History & Logs"));
    EXPECT_EQ(button.badgeButton()->toolTip(), button.helpText());
    ASSERT_NE(button.feedbackButton(), nullptr);
    EXPECT_EQ(static_cast<VornFeedbackButton*>(button.feedbackButton())->style(), VornFeedbackButtonStyle::compactIcon);
    vornSaveArtefact(vornRenderOnBlack(button), QStringLiteral("version-badge-button"));

    VornVersionBadgeButton turkish("Notes", testVersion, nullptr, VornProductPalette::deepCoral, VornLanguage::tr, true,
                                   false);
    EXPECT_EQ(turkish.helpText(), QStringLiteral("Sürüm v1.4.2 (57) — Sürüm Geçmişi ve Logları görmek için tıklayın"));
    EXPECT_EQ(turkish.feedbackButton(), nullptr);

    QWidget window;
    button.setParent(&window);
    window.show();
    QTest::mouseClick(button.badgeButton(), Qt::LeftButton);
    ASSERT_TRUE(button.isPresented());
    QPointer<QDialog> first = button.sheet();
    ASSERT_NE(first, nullptr);
    EXPECT_GE(first->minimumWidth(), 720);
    EXPECT_GE(first->minimumHeight(), 560);
    EXPECT_EQ(first->windowModality(), Qt::WindowModal);
    auto* view = first->findChild<VornVersionAndLogsView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->logger(), button.logger());
    view->setSelectedMinLevel(VornLogLevel::error);
    QTest::mouseClick(child(*view, "closeButton"), Qt::LeftButton);
    EXPECT_FALSE(button.isPresented());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    QTest::mouseClick(button.badgeButton(), Qt::LeftButton);
    ASSERT_NE(button.sheet(), nullptr);
    auto* again = button.sheet()->findChild<VornVersionAndLogsView*>();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->selectedMinLevel(), VornLogLevel::debug);
    button.sheet()->reject();  // closing the dialog itself clears the flag too
    EXPECT_FALSE(button.isPresented());
    button.setParent(nullptr);
}
