#include "DualPaneExplorerView.h"
#include "MainSledWorkspaceView.h"
#include "SyncPreviewSheetView.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"
#include "VornSegmentedControl.h"

#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QSignalSpy>

#include <fstream>
#include <map>

namespace {

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> planRows(const SledViewModel& model) {
    std::vector<std::string> rows;
    for (const SyncPlanItem& item : model.syncPlanItems()) {
        rows.push_back(rawValue(item.action()) + " " + item.relativeName());
    }
    return rows;
}

void clickSegment(VornSegmentedControl& control, int index) {
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(index).center().toPoint());
}

}  // namespace

class SyncSheetTest : public ViewsTest {
protected:
    static void waitForPlan(SledViewModel& model) {
        ASSERT_TRUE(viewsWaitFor([&] { return !model.isComputingSyncPlan(); }));
    }
    // Shows the workspace at its usual size and opens the sync preview in it; the sheet it shows.
    static SyncPreviewSheetView* showSyncSheet(SledViewModel& model, MainSledWorkspaceView& view) {
        view.resize(1228, 700);
        view.show();
        model.openSyncPreview();
        return view.syncSheet();
    }
};

// The sheet on two real folders: the plan rows and summary, each option asking for exactly one
// new plan, Delete Orphans disabled in two-way mode with its value kept, Run disabled while a
// plan is worked out (and refused by the model then), no verification claim while verification
// is off, and Run really copying and deleting on disk.
TEST_F(SyncSheetTest, TheSheetEditsThePlanAndRunsItOnDisk) {
    writeBytes(left.path() / "report final.txt", std::string(4096, 'r'));
    writeBytes(left.path() / "docs/guide.md", "# guide, newer and longer");
    writeBytes(right.path() / "docs/guide.md", "# guide");
    writeBytes(left.path() / "same.txt", "same");
    writeBytes(right.path() / "same.txt", "same");
    writeBytes(right.path() / "orphan.log", "only on the right");
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    SyncPreviewSheetView* sheet = showSyncSheet(*model, view);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->size(), QSize(660, 500));
    // The walk over subfolders shows the scanning state, and Run waits for its plan.
    EXPECT_TRUE(model->isComputingSyncPlan());
    EXPECT_TRUE(sheet->showsScanning());
    EXPECT_EQ(sheet->scanningLabel()->text(), QString::fromUtf8("Scanning directories & subfolders\u2026"));
    EXPECT_FALSE(sheet->runButton()->isEnabled());
    waitForPlan(*model);
    EXPECT_FALSE(sheet->showsScanning());
    EXPECT_EQ(sheet->titleLabel()->text(), "Dual-Pane Synchronization Preview");
    EXPECT_EQ(sheet->panesLabel()->text(), QString::fromUtf8("This Computer \u2194 This Computer"));
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"copyLeftToRight docs/guide.md", "identicalSkip orphan.log",
                                                          "copyLeftToRight report final.txt", "identicalSkip same.txt"}));
    EXPECT_EQ(sheet->planList()->model()->rowCount(), 4);
    EXPECT_EQ(sheet->actionableCount(), 2u);
    const std::int64_t bytes = 4096 + static_cast<std::int64_t>(std::string("# guide, newer and longer").size());
    EXPECT_EQ(sheet->actionableBytes(), bytes);
    EXPECT_EQ(sheet->summaryLabel()->text(), QString::fromStdString("2 operation(s) \u2022 " + VornByteFormatter::format(bytes) +
                                                                    " \u2022 SHA-256 verified"));
    EXPECT_TRUE(sheet->runButton()->isEnabled());
    EXPECT_FALSE(sheet->deleteOrphansToggle()->isChecked());

    // Delete Orphans: one new plan, now with the orphan.
    QSignalSpy plans(model.get(), &SledViewModel::syncPlanItemsChanged);
    QTest::mouseClick(sheet->deleteOrphansToggle(), Qt::LeftButton);
    EXPECT_TRUE(model->syncDeleteOrphans());
    waitForPlan(*model);
    EXPECT_EQ(plans.count(), 1);
    EXPECT_EQ(sheet->actionableCount(), 3u);
    const std::vector<std::string> rows = planRows(*model);
    EXPECT_NE(std::find(rows.begin(), rows.end(), "deleteOnRight orphan.log"), rows.end());
    snapshot(*sheet, QStringLiteral("app-sync-sheet-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(sheet->titleLabel()->text(), QString::fromUtf8("Çift Panel Senkronizasyon Önizlemesi"));
    EXPECT_EQ(sheet->runButton()->label(), QString::fromUtf8("Paralel Senkronizasyonu Başlat"));
    EXPECT_TRUE(sheet->summaryLabel()->text().endsWith(QString::fromUtf8(" işlem \u2022 ") +
                                                       QString::fromStdString(VornByteFormatter::format(sheet->actionableBytes())) +
                                                       QString::fromUtf8(" \u2022 SHA-256 doğrulamalı")));
    snapshot(*sheet, QStringLiteral("app-sync-sheet-tr"));
    model->setLanguage(VornLanguage::en);

    // Two-way: Delete Orphans is disabled but keeps its value; back to mirroring it is enabled.
    plans.clear();
    clickSegment(*sheet->modePicker(), 2);
    EXPECT_EQ(model->syncMode(), SyncDirectionMode::twoWayUpdate);
    waitForPlan(*model);
    EXPECT_EQ(plans.count(), 1);
    EXPECT_FALSE(sheet->deleteOrphansToggle()->isEnabled());
    EXPECT_TRUE(sheet->deleteOrphansToggle()->isChecked());
    EXPECT_TRUE(model->syncDeleteOrphans());
    plans.clear();
    clickSegment(*sheet->modePicker(), 0);
    waitForPlan(*model);
    EXPECT_EQ(plans.count(), 1);
    EXPECT_TRUE(sheet->deleteOrphansToggle()->isEnabled());
    EXPECT_TRUE(sheet->deleteOrphansToggle()->isChecked());

    // Subfolders off: a flat plan, made at once, once.
    plans.clear();
    QTest::mouseClick(sheet->subfoldersToggle(), Qt::LeftButton);
    EXPECT_FALSE(model->syncIncludeSubfolders());
    EXPECT_EQ(plans.count(), 1);
    plans.clear();
    QTest::mouseClick(sheet->subfoldersToggle(), Qt::LeftButton);
    EXPECT_TRUE(model->isComputingSyncPlan());
    // While the walk runs, the footer still counts the plan on screen, Run is disabled, and the
    // model itself refuses to run the plan being replaced.
    EXPECT_TRUE(sheet->showsScanning());
    EXPECT_FALSE(sheet->runButton()->isEnabled());
    EXPECT_EQ(sheet->summaryLabel()->text().left(2), QString::number(sheet->actionableCount()) + " ");
    model->executeSyncPlan();
    EXPECT_TRUE(model->showingSyncSheet());
    EXPECT_TRUE(model->toastIsError());
    EXPECT_EQ(model->toastMessage(), "The sync plan is still being worked out; run it once it is shown.");
    waitForPlan(*model);
    EXPECT_EQ(plans.count(), 1);
    EXPECT_TRUE(std::filesystem::exists(right.path() / "orphan.log"));

    // No false claim: with verification off the summary does not say "verified".
    SledSettings settings = model->settings();
    settings.verifySHA256OnTransfer = false;
    model->saveSettings(settings, false);
    EXPECT_EQ(sheet->summaryLabel()->text(),
              QString::fromStdString("3 operation(s) \u2022 " + VornByteFormatter::format(sheet->actionableBytes())));
    settings.verifySHA256OnTransfer = true;
    model->saveSettings(settings, false);

    // Run: the sheet closes, the copies land and the orphan goes.
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    QPointer<SyncPreviewSheetView> watched(sheet);
    QTest::mouseClick(sheet->runButton(), Qt::LeftButton);
    EXPECT_FALSE(model->showingSyncSheet());
    ASSERT_TRUE(viewsWaitFor([&] { return watched.isNull(); }));
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 1 && !std::filesystem::exists(right.path() / "orphan.log"); }));
    EXPECT_EQ(readBytes(right.path() / "report final.txt"), std::string(4096, 'r'));
    EXPECT_EQ(readBytes(right.path() / "docs/guide.md"), "# guide, newer and longer");
    EXPECT_EQ(readBytes(right.path() / "same.txt"), "same");
}

// A plan of identical files only: every row shows, nothing to run; Cancel and the close button
// dismiss without touching the plan; a long path is shortened in the middle on one line.
TEST_F(SyncSheetTest, AnIdenticalPlanHasNothingToRunAndLongNamesShortenInTheMiddle) {
    const std::string deep = "a-very-long-folder-name-that-goes-on/and-on-and-on-further-still/more-and-more-levels/"
                             "yet-another-level/the-final-file-name.txt";
    for (const auto& folder : {left.path(), right.path()}) {
        writeBytes(folder / "line\nbreak.txt", "1");
        writeBytes(folder / deep, "deep");
    }
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    SyncPreviewSheetView* sheet = showSyncSheet(*model, view);
    ASSERT_NE(sheet, nullptr);
    waitForPlan(*model);
    ASSERT_EQ(model->syncPlanItems().size(), 2u);
    EXPECT_EQ(sheet->actionableCount(), 0u);
    EXPECT_TRUE(sheet->summaryLabel()->text().startsWith("0 operation(s) \u2022 "));
    EXPECT_FALSE(sheet->runButton()->isEnabled());
    for (const SyncPlanItem& item : model->syncPlanItems()) {
        EXPECT_EQ(SledSyncPlanRowDelegate::actionSymbol(item.action()), "equal.circle");
        EXPECT_EQ(sheet->delegate()->actionColor(item.action()), VornGlassTokens::textMuted());
    }
    const auto item = std::find_if(model->syncPlanItems().begin(), model->syncPlanItems().end(),
                                   [&](const SyncPlanItem& row) { return row.relativeName() == deep; });
    ASSERT_NE(item, model->syncPlanItems().end());
    const QString shown = sheet->delegate()->shownName(*item, sheet->planList()->viewport()->width());
    ASSERT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("a-very-long"));
    EXPECT_TRUE(shown.endsWith("name.txt"));
    EXPECT_FALSE(shown.contains('\n'));
    const auto broken = std::find_if(model->syncPlanItems().begin(), model->syncPlanItems().end(),
                                     [&](const SyncPlanItem& row) { return row.relativeName() == "line\nbreak.txt"; });
    ASSERT_NE(broken, model->syncPlanItems().end());
    EXPECT_EQ(sheet->delegate()->shownName(*broken, sheet->planList()->viewport()->width()),
              QString::fromUtf8("line\u240Abreak.txt"));
    snapshot(*sheet, QStringLiteral("app-sync-sheet-identical-en"));

    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(model->showingSyncSheet());
    EXPECT_EQ(model->syncPlanItems().size(), 2u);
    model->openSyncPreview();
    sheet = view.syncSheet();
    ASSERT_NE(sheet, nullptr);
    QTest::mouseClick(sheet->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(model->showingSyncSheet());
    waitForPlan(*model);
}

// The plan on show stops being runnable once a pane moves: the sheet says which folders it
// compared and disables Run; comparing again with a folder that cannot be listed shows the reason
// in place of the rows, and still no Run. Both states in both languages.
TEST_F(SyncSheetTest, AStalePlanAndAFailedPlanCannotRun) {
    writeBytes(left.path() / "a.txt", "a");
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    SyncPreviewSheetView* sheet = showSyncSheet(*model, view);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    waitForPlan(*model);
    EXPECT_TRUE(sheet->runButton()->isEnabled());
    EXPECT_FALSE(sheet->noticeLabel()->isVisible());

    const std::string elsewhere = (right.path() / "elsewhere").string();
    std::filesystem::create_directory(elsewhere);
    model->openTypedPath(elsewhere, model->rightPane());
    ASSERT_TRUE(viewsWaitFor([&] { return !model->rightPane()->isLoading(); }));
    EXPECT_FALSE(sheet->runButton()->isEnabled());
    ASSERT_TRUE(sheet->noticeLabel()->isVisible());
    EXPECT_TRUE(sheet->compareAgainButton()->isVisible());
    EXPECT_NE(sheet->noticeLabel()->text().indexOf(QString::fromStdString(right.path().string())), -1);
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"copyLeftToRight a.txt"}));
    snapshot(*sheet, QStringLiteral("app-sync-sheet-stale-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_NE(sheet->noticeLabel()->text().indexOf(QString::fromUtf8("çalıştırılamaz")), -1);
    snapshot(*sheet, QStringLiteral("app-sync-sheet-stale-tr"));
    model->setLanguage(VornLanguage::en);

    std::filesystem::remove(elsewhere);
    QTest::mouseClick(sheet->compareAgainButton(), Qt::LeftButton);
    waitForPlan(*model);
    ASSERT_TRUE(model->syncPlanError().has_value());
    EXPECT_TRUE(sheet->showsFailure());
    EXPECT_FALSE(sheet->noticeLabel()->isVisible());
    EXPECT_FALSE(sheet->runButton()->isEnabled());
    EXPECT_EQ(sheet->failureLabel()->text().toStdString(), "No sync plan: " + *model->syncPlanError());
    snapshot(*sheet, QStringLiteral("app-sync-sheet-failed-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(sheet->failureLabel()->text().toStdString(), "Eşitleme planı yok: " + *model->syncPlanError());
    snapshot(*sheet, QStringLiteral("app-sync-sheet-failed-tr"));
    QTest::mouseClick(sheet->runButton(), Qt::LeftButton);
    EXPECT_TRUE(model->showingSyncSheet());
}

// The planner's reasons are English data; the rows show them in the chosen language at once when
// it changes, and a text the sheet does not know as it came.
TEST_F(SyncSheetTest, RowsShowThePlannersReasonsInTheChosenLanguage) {
    writeBytes(left.path() / "new.txt", "only on the left");
    writeBytes(left.path() / "grown.txt", "longer on the left");
    writeBytes(right.path() / "grown.txt", "short");
    writeBytes(left.path() / "same.txt", "same");
    writeBytes(right.path() / "same.txt", "same");
    writeBytes(right.path() / "extra.log", "only on the right");
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    model->setLanguage(VornLanguage::tr);
    SyncPreviewSheetView* sheet = showSyncSheet(*model, view);
    ASSERT_NE(sheet, nullptr);
    waitForPlan(*model);

    const std::map<std::string, std::pair<QString, QString>> expected{
        {"new.txt", {"Missing on Right", QString::fromUtf8("Sağda Yok")}},
        {"grown.txt", {"Size changed", QString::fromUtf8("Boyut değişti")}},
        {"same.txt", {"Identical", QString::fromUtf8("Aynı")}},
        {"extra.log", {"Kept on Right", QString::fromUtf8("Sağda Kalır")}},
    };
    auto checkRows = [&](bool turkish) {
        ASSERT_EQ(model->syncPlanItems().size(), expected.size());
        for (const SyncPlanItem& item : model->syncPlanItems()) {
            const auto& [en, tr] = expected.at(item.relativeName());
            EXPECT_EQ(item.reason(), en.toStdString()) << "the plan keeps the planner's text";
            EXPECT_EQ(sheet->delegate()->shownReason(item), turkish ? tr : en) << item.relativeName();
        }
    };
    checkRows(true);
    snapshot(*sheet, QStringLiteral("app-sync-sheet-reasons-tr"));

    // Orphans with their deletion chosen.
    QTest::mouseClick(sheet->deleteOrphansToggle(), Qt::LeftButton);
    waitForPlan(*model);
    const auto orphan = std::find_if(model->syncPlanItems().begin(), model->syncPlanItems().end(),
                                     [](const SyncPlanItem& row) { return row.relativeName() == "extra.log"; });
    ASSERT_NE(orphan, model->syncPlanItems().end());
    EXPECT_EQ(sheet->delegate()->shownReason(*orphan), QString::fromUtf8("Sağda Fazlalık"));
    QTest::mouseClick(sheet->deleteOrphansToggle(), Qt::LeftButton);
    waitForPlan(*model);

    // A text the sheet does not know stays as it is, on one line.
    const SyncPlanItem unknown("odd.txt", SyncActionKind::identicalSkip, std::nullopt, std::nullopt, 0, "Skipped\nby rule");
    EXPECT_EQ(sheet->delegate()->shownReason(unknown), QString::fromUtf8("Skipped\u240Aby rule"));

    model->setLanguage(VornLanguage::en);
    checkRows(false);
    EXPECT_EQ(sheet->delegate()->shownReason(unknown), QString::fromUtf8("Skipped\u240Aby rule"));
}

namespace {

// Where a row of the plan shows colour (its action's symbol; every text is white or grey): the
// horizontal span of its coloured pixels in a picture of the row alone.
std::pair<int, int> colouredSpan(const QImage& row) {
    int first = row.width();
    int last = -1;
    for (int y = 0; y < row.height(); ++y) {
        for (int x = 0; x < row.width(); ++x) {
            const QColor pixel = row.pixelColor(x, y);
            if (std::max({pixel.red(), pixel.green(), pixel.blue()}) - std::min({pixel.red(), pixel.green(), pixel.blue()}) >
                60) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return {first, last};
}

}  // namespace

// "Left" and "Right" are places on the screen: in every language, Arabic too, the left pane stands
// left of the rail and the right pane right of it, and in the sync sheet the modes, the rows'
// arrows and their side words keep that order; the texts still follow the language, and the rest
// of the window still reads from the right in Arabic.
TEST_F(SyncSheetTest, LeftAndRightKeepTheirPlacesInEveryLanguage) {
    writeBytes(left.path() / "report.txt", "only on the left");
    writeBytes(right.path() / "stray.log", "only on the right");
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    auto* explorer = dynamic_cast<DualPaneExplorerView*>(view.page(SledWorkspaceTab::dualPane));
    ASSERT_NE(explorer, nullptr);
    struct Case {
        VornLanguage language;
        Qt::LayoutDirection window;
        const char* send;
        const char* pull;
        const char* orphan;
    };
    const std::vector<Case> cases{
        {VornLanguage::en, Qt::LeftToRight, "Send →", "← Pull", "Kept on Right"},
        {VornLanguage::tr, Qt::LeftToRight, "Gönder →", "← Çek", "Sağda Kalır"},
        {VornLanguage::ar, Qt::RightToLeft, "Send →", "← Pull", "Kept on Right"},
    };
    for (const Case& c : cases) {
        const QString code = QString::fromUtf8(c.language.code().data());
        SCOPED_TRACE(code.toStdString());
        model->setLanguage(c.language);
        QCoreApplication::processEvents();
        EXPECT_EQ(view.layoutDirection(), c.window) << "the window around the explorer follows the language";
        EXPECT_EQ(explorer->layoutDirection(), Qt::LeftToRight);
        const auto x = [&](QWidget* widget) { return widget->mapTo(explorer, QPoint(0, 0)).x(); };
        EXPECT_LT(x(explorer->leftCard()) + explorer->leftCard()->width(), x(explorer->rail()) + 1);
        EXPECT_LT(x(explorer->rail()) + explorer->rail()->width(), x(explorer->rightCard()) + 1);
        EXPECT_EQ(explorer->sendButton()->label(), QString::fromUtf8(c.send));
        EXPECT_EQ(explorer->pullButton()->label(), QString::fromUtf8(c.pull));
        snapshot(view, QStringLiteral("app-explorer-sides-") + code);

        model->openSyncPreview();
        SyncPreviewSheetView* sheet = view.syncSheet();
        ASSERT_NE(sheet, nullptr);
        waitForPlan(*model);
        EXPECT_EQ(sheet->layoutDirection(), Qt::LeftToRight);
        // "Mirror Left → Right" stands left of "Mirror Right → Left".
        VornSegmentedControl& modes = *sheet->modePicker();
        EXPECT_LT(modes.segmentRect(0).center().x(), modes.segmentRect(1).center().x());
        QListView& list = *sheet->planList();
        ASSERT_EQ(list.model()->rowCount(), 2);
        for (int row = 0; row < 2; ++row) {
            const SyncPlanItem& item = model->syncPlanItems()[static_cast<std::size_t>(row)];
            const QRect rect = list.visualRect(list.model()->index(row, 0));
            QImage picture(rect.size(), QImage::Format_ARGB32);
            picture.fill(Qt::black);
            list.viewport()->render(&picture, QPoint(), QRegion(rect));
            const auto [first, last] = colouredSpan(picture);
            // The symbol leads the row from the left edge (the copy's arrow in the accent colour,
            // pointing at the right pane); nothing else of the row is coloured.
            EXPECT_LT(last, 40) << item.relativeName();
            if (item.relativeName() == "stray.log") {
                EXPECT_EQ(sheet->delegate()->shownReason(item), QString::fromUtf8(c.orphan));
            } else {
                EXPECT_EQ(item.action(), SyncActionKind::copyLeftToRight);
                EXPECT_GE(last, first) << item.relativeName();
                EXPECT_LT(first, 20) << item.relativeName();
            }
        }
        snapshot(*sheet, QStringLiteral("app-sync-sheet-sides-") + code);
        sheet->reject();
        ASSERT_TRUE(viewsWaitFor([&] { return view.syncSheet() == nullptr; }));
    }
    model->setLanguage(VornLanguage::en);
}
