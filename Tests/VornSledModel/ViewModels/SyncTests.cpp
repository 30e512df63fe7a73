#include "ModelTestSupport.h"

#include <QSignalSpy>

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

    // The right pane moves before the run: the plan still acts on the folder it compared.
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), elsewhere.path().string()},
                          model->rightPane());
    waitForListing(*model->rightPane());
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
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
