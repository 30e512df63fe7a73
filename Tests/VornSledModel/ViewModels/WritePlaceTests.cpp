#include "ModelTestSupport.h"

#include <QSignalSpy>

// The real model, driven as the views drive it, with the world changed between the preview and
// the run: nothing is written outside the folders the user chose.

TEST_F(ModelTest, ASyncRunDoesNotWriteThroughAFolderSwappedForALinkAfterThePreview) {
    left.write("sub/f", "new bytes, longer");
    right.write("sub/f", "old");
    const VornTestTempDir outside;
    outside.write("f", "not yours");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_EQ(model->syncPlanItems().size(), 1u);
    EXPECT_EQ(model->syncPlanItems().begin()->action(), SyncActionKind::copyLeftToRight);

    std::filesystem::remove_all(right / "sub");
    std::filesystem::create_directory_symlink(outside.path(), right / "sub");
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(vornReadFile(outside / "f"), "not yours");
    ASSERT_EQ(model->transfers().size(), 1u);
    EXPECT_EQ(model->transfers().front().status, SledTransferStatus::failed);
    EXPECT_TRUE(toasts.messages.back().isError);
}
