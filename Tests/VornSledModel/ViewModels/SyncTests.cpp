#include "ModelTestSupport.h"

#include <QSignalSpy>

#include <algorithm>
#include <chrono>

namespace {

std::vector<std::string> planRows(const SledViewModel& model) {
    std::vector<std::string> rows;
    for (const SyncPlanItem& item : model.syncPlanItems()) {
        rows.push_back(rawValue(item.action()) + " " + item.relativeName());
    }
    return rows;
}

}  // namespace

TEST_F(ModelTest, AWalkedMirrorPlanRunsAgainstTheFoldersThatWereCompared) {
    left.write("a.txt", "left a, longer");
    left.write("sub/b.txt", "b");
    right.write("a.txt", "right a");
    right.write("orphan.txt", "o");
    VornTestTempDir elsewhere;
    elsewhere.write("orphan.txt", "must stay");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->setSyncDeleteOrphans(true);
    model->openSyncPreview();
    EXPECT_TRUE(model->showingSyncSheet());
    EXPECT_TRUE(model->isComputingSyncPlan());
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"copyLeftToRight a.txt", "deleteOnRight orphan.txt",
                                                          "copyLeftToRight sub/b.txt"}));
    EXPECT_EQ(model->syncPlanList()->rowCount(), 3);

    EXPECT_TRUE(model->isSyncPlanRunnable());

    // The right pane moves before the run: the plan compared other folders, so it is not run at
    // all, here or there; moving back makes it the plan of what is shown again.
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), elsewhere.path().string()},
                          model->rightPane());
    EXPECT_TRUE(model->isSyncPlanStale());
    EXPECT_FALSE(model->isSyncPlanRunnable());
    waitForListing(*model->rightPane());
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->executeSyncPlan();
    EXPECT_TRUE(model->showingSyncSheet());
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_EQ(toasts.last(), "This plan compared other folders than the panes show now. Compare again before running it.");
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(model->transfers().empty());
    EXPECT_TRUE(std::filesystem::exists(right / "orphan.txt"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "a.txt"));

    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), right.path().string()}, model->rightPane());
    waitForListing(*model->rightPane());
    EXPECT_FALSE(model->isSyncPlanStale());
    ASSERT_TRUE(model->isSyncPlanRunnable());
    model->executeSyncPlan();
    EXPECT_FALSE(model->showingSyncSheet());
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1 && !std::filesystem::exists(right / "orphan.txt"); }));
    EXPECT_EQ(vornReadFile(right / "a.txt"), "left a, longer");
    EXPECT_EQ(vornReadFile(right / "sub" / "b.txt"), "b");
    EXPECT_EQ(vornReadFile(elsewhere / "orphan.txt"), "must stay");
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "a.txt"));
    EXPECT_EQ(toasts.last(), "Transferred 2/2 file(s) (SHA-256 verified)");
}

TEST_F(ModelTest, AFlatPlanFollowsTheVisibleListingsWhateverTheSearch) {
    left.write("only-left.txt", "l");
    left.write("Folder/inside.txt", "i");
    right.write("only-right.txt", "r");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->leftPane()->setSearchQuery("nothing matches");
    model->setSyncIncludeSubfolders(false);
    model->setSyncMode(SyncDirectionMode::twoWayUpdate);
    model->recomputeSyncPlan();
    EXPECT_FALSE(model->isComputingSyncPlan());
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"copyLeftToRight only-left.txt",
                                                          "copyRightToLeft only-right.txt"}));

    // Both directions run as two batches, each with its toast; the busy flag lasts until both end.
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    QSignalSpy busy(model.get(), &SledViewModel::isSyncingOrTransferringChanged);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 2; }));
    EXPECT_EQ(busy.count(), 2);  // on once, off once
    EXPECT_FALSE(model->isSyncingOrTransferring());
    EXPECT_EQ(vornReadFile(right / "only-left.txt"), "l");
    EXPECT_EQ(vornReadFile(left / "only-right.txt"), "r");
    EXPECT_EQ(toasts.messages.size(), 2u);
}

TEST_F(ModelTest, OnlyTheNewestWalkedPlanIsPublished) {
    ModelMemoryRemote remote;
    remote.store.addFile("/slow/stale.txt", "s");
    remote.store.addFile("/fast/fresh.txt", "f");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    PaneBrowserState& rightPane = *model->rightPane();
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/slow"}, &rightPane);
    waitForListing(rightPane);
    auto gate = std::make_shared<VornTestGate>();
    remote.store.setScript(VornTestMemoryProvider::Operation::list, "/slow", {.gate = gate});
    model->setSyncMode(SyncDirectionMode::mirrorRightToLeft);
    model->recomputeSyncPlan();  // walks /slow: held at the gate

    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/fast"}, &rightPane);
    waitForListing(rightPane);
    model->recomputeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"copyRightToLeft fresh.txt"}));

    QSignalSpy published(model.get(), &SledViewModel::syncPlanItemsChanged);
    QSignalSpy computing(model.get(), &SledViewModel::isComputingSyncPlanChanged);
    gate->open();
    ASSERT_TRUE(modelWaitFor([&] {
        const auto calls = remote.store.calls();
        return std::count(calls.begin(), calls.end(), "list /slow") >= 2;
    }));
    // Give the late walk's answer time to arrive; it must change nothing when it does.
    QTest::qWait(50);
    EXPECT_EQ(published.count(), 0);
    EXPECT_EQ(computing.count(), 0);
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"copyRightToLeft fresh.txt"}));
}

namespace {

// Moves a file's modification time, as another program's write would, without touching its size.
void touchLater(const std::filesystem::path& file, std::chrono::seconds by) {
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + by);
}

std::vector<std::string> failedRecords(const SledViewModel& model) {
    std::vector<std::string> rows;
    for (const SledTransferRecord& record : model.transfers()) {
        if (record.status == SledTransferStatus::failed) {
            rows.push_back(record.fileName + ": " + record.errorMessage.value_or(""));
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

}  // namespace

// The world changes between the preview and Run: a target edited in place (same size), a target
// created where the plan saw none, an orphan rewritten. The copies are skipped as failed records
// and counted, the orphan is kept and named by the deletions' toast; the rest of the plan runs.
TEST_F(ModelTest, RowsChangedSinceThePreviewAreSkippedAndTheRestRuns) {
    left.write("edited.txt", "left version, longer");
    right.write("edited.txt", "right v");
    left.write("created.txt", "from the left");
    left.write("plain.txt", "plain copy");
    right.write("orphan.txt", "orphan");
    right.write("gone.txt", "old orphan");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->setSyncDeleteOrphans(true);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_EQ(planRows(*model),
              (std::vector<std::string>{"copyLeftToRight created.txt", "copyLeftToRight edited.txt",
                                        "deleteOnRight gone.txt", "deleteOnRight orphan.txt",
                                        "copyLeftToRight plain.txt"}));

    right.write("edited.txt", "RIGHT V");  // same size as listed
    touchLater(right / "edited.txt", std::chrono::seconds(30));
    right.write("created.txt", "someone else's file");
    right.write("orphan.txt", "orphan, rewritten");

    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    QSignalSpy deleted(model.get(), &SledViewModel::syncDeletionsFinished);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1 && deleted.count() == 1; }));
    EXPECT_EQ(vornReadFile(right / "edited.txt"), "RIGHT V");
    EXPECT_EQ(vornReadFile(right / "created.txt"), "someone else's file");
    EXPECT_EQ(vornReadFile(right / "orphan.txt"), "orphan, rewritten");
    EXPECT_EQ(vornReadFile(right / "plain.txt"), "plain copy");
    EXPECT_FALSE(std::filesystem::exists(right / "gone.txt"));
    EXPECT_EQ(failedRecords(*model),
              (std::vector<std::string>{"created.txt: Changed since the preview", "edited.txt: Changed since the preview"}));
    // The orphan that was kept is a deletion, reported by the deletions' toast, never a copy row.
    for (const SledTransferRecord& record : model->transfers()) {
        EXPECT_NE(record.fileName, "orphan.txt");
        EXPECT_NE(record.fileName, "gone.txt");
    }
    std::vector<std::string> texts;
    for (const ModelToastLog::Toast& toast : toasts.messages) {
        EXPECT_TRUE(toast.isError) << toast.text;
        texts.push_back(toast.text);
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "1 deletion(s) failed; the first, " + (right / "orphan.txt").string() +
                             ": Changed since the preview",
                         "Transferred 1/3 file(s) (SHA-256 verified)"}));
}

// Two-way: the right side's copy is edited after the preview, so the left's older copy that the
// plan would have sent over it is not sent; with nothing landed, the toast claims no verification.
TEST_F(ModelTest, ATwoWayRunNeverReplacesAnEditMadeAfterThePreview) {
    right.write("notes.txt", "old notes");
    left.write("notes.txt", "newer notes");
    touchLater(right / "notes.txt", -std::chrono::seconds(600));
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->setSyncMode(SyncDirectionMode::twoWayUpdate);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_EQ(planRows(*model), (std::vector<std::string>{"copyLeftToRight notes.txt"}));

    right.write("notes.txt", "the right's edit");
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(vornReadFile(right / "notes.txt"), "the right's edit");
    EXPECT_EQ(failedRecords(*model), (std::vector<std::string>{"notes.txt: Changed since the preview"}));
    EXPECT_EQ(toasts.last(), "Transferred 0/1 file(s)");
    EXPECT_TRUE(toasts.messages.back().isError);

    model->setLanguage(VornLanguage::tr);
    model->recomputeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    right.write("notes.txt", "yet another edit");
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 2; }));
    model->setLanguage(VornLanguage::en);
    EXPECT_EQ(toasts.last(), "0/1 dosya aktarıldı");
    EXPECT_EQ(model->transfers().front().errorMessage, "Önizlemeden sonra değişti");
}

// A recompute that fails leaves no plan to run: the old rows go, the reason stays with the plan,
// and Run refuses.
TEST_F(ModelTest, AFailedRecomputeLeavesNoRunnablePlan) {
    left.write("a.txt", "a");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_TRUE(model->isSyncPlanRunnable());

    model->openTypedPath((right / "does-not-exist").string(), model->rightPane());
    waitForListing(*model->rightPane());
    EXPECT_TRUE(model->isSyncPlanStale());
    const std::size_t before = toasts.messages.size();
    model->recomputeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_GT(toasts.messages.size(), before);
    EXPECT_TRUE(toasts.messages.back().isError);
    ASSERT_TRUE(model->syncPlanError().has_value());
    EXPECT_EQ(*model->syncPlanError(), toasts.last());
    EXPECT_TRUE(model->syncPlanItems().empty());
    EXPECT_FALSE(model->isSyncPlanRunnable());
    EXPECT_FALSE(model->isSyncPlanStale());

    model->executeSyncPlan();
    QTest::qWait(50);
    EXPECT_TRUE(model->showingSyncSheet());
    EXPECT_TRUE(model->transfers().empty());
    EXPECT_FALSE(std::filesystem::exists(right / "a.txt"));
}

// Swapping the panes while a walked plan is worked out drops that plan and works out the one of
// the swapped sides.
TEST_F(ModelTest, ASwapWhileAPlanComputesPlansTheSwappedSides) {
    left.write("local.txt", "l");
    ModelMemoryRemote remote;
    remote.store.addFile("/slow/remote.txt", "r");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/slow"}, model->rightPane());
    waitForListing(*model->rightPane());
    auto gate = std::make_shared<VornTestGate>();
    remote.store.setScript(VornTestMemoryProvider::Operation::list, "/slow", {.gate = gate});
    model->recomputeSyncPlan();
    ASSERT_TRUE(model->isComputingSyncPlan());

    QSignalSpy published(model.get(), &SledViewModel::syncPlanItemsChanged);
    model->swapPanes();
    EXPECT_TRUE(model->isComputingSyncPlan());
    gate->open();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    QTest::qWait(50);
    EXPECT_EQ(published.count(), 1);
    // Mirror left to right, left now the store: its file goes right, the local one is kept.
    EXPECT_EQ(planRows(*model), (std::vector<std::string>{"identicalSkip local.txt", "copyLeftToRight remote.txt"}));
    EXPECT_FALSE(model->isSyncPlanStale());
    EXPECT_TRUE(model->isSyncPlanRunnable());
}
