#include "ModelTestSupport.h"

#include "SledError.h"

#include <QSignalSpy>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::vector<std::string> recordNames(const SledViewModel& model) {
    std::vector<std::string> result;
    for (const SledTransferRecord& record : model.transfers()) {
        result.push_back(record.fileName);
    }
    return result;
}

}  // namespace

TEST_F(ModelTest, ATransferOfFilesAndAFolderCopiesEveryFileAndEndsEveryRecord) {
    left.write("one.txt", "1");
    left.write("two.txt", "22");
    left.write("Folder/inner/deep.txt", "deep");
    left.write("Folder/top.txt", "top");
    left.write("Folder/skip.tmp", "excluded");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& from = *model->leftPane();
    PaneBrowserState& to = *model->rightPane();

    model->transferSelected(&from, &to);
    EXPECT_EQ(toasts.last(), "Select one or more files or folders to transfer.");

    select(from, {"one.txt", "two.txt"});
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->transferSelected(&from, &to);
    // Records exist, queued, before anything is copied; the last file lies on top.
    EXPECT_EQ(recordNames(*model), (std::vector<std::string>{"two.txt", "one.txt"}));
    EXPECT_TRUE(model->isSyncingOrTransferring());
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_FALSE(model->isSyncingOrTransferring());
    EXPECT_EQ(toasts.last(), "Transferred 2/2 file(s) (SHA-256 verified)");
    EXPECT_EQ(vornReadFile(right / "two.txt"), "22");
    for (const SledTransferRecord& record : model->transfers()) {
        EXPECT_EQ(record.status, SledTransferStatus::completed) << record.fileName;
        EXPECT_EQ(record.direction, SledTransferDirection::localCopy);
        EXPECT_EQ(record.sourceLabel, "This Computer");
        EXPECT_TRUE(record.completedAt.has_value());
        EXPECT_EQ(record.transferredBytes, record.totalBytes);
    }

    select(from, {"Folder"});
    model->transferSelected(&from, &to);
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 2; }));
    EXPECT_EQ(toasts.last(), "Transferred 2/2 file(s) (SHA-256 verified)");
    EXPECT_EQ(recordNames(*model)[0], "Folder/top.txt");
    EXPECT_EQ(recordNames(*model)[1], "Folder/inner/deep.txt");
    EXPECT_EQ(vornReadFile(right / "Folder" / "inner" / "deep.txt"), "deep");
    EXPECT_FALSE(std::filesystem::exists(right / "Folder" / "skip.tmp"));
    ASSERT_TRUE(modelWaitFor([&] { return !to.isLoading() && to.entries().size() == 3; }));

    // Dropped files: folders and missing paths are skipped.
    const auto dropped = left.write("dropped.bin", "d");
    model->handleDroppedLocalURLs({left / "Folder", left / "ghost", dropped}, &to);
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 3; }));
    EXPECT_EQ(toasts.last(), "Transferred 1/1 file(s) (SHA-256 verified)");
    EXPECT_EQ(vornReadFile(right / "dropped.bin"), "d");
}

TEST_F(ModelTest, ABatchThatCannotStartEndsItsRecordsFailed) {
    left.write("a.txt", "a");
    left.write("b.txt", "b");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& from = *model->leftPane();
    PaneBrowserState& to = *model->rightPane();
    // The destination's profile does not exist: no provider can be made for it.
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(VornUUID::random()), "/"}, &to);
    waitForListing(to);
    select(from, {"a.txt", "b.txt"});
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->transferSelected(&from, &to);
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    ASSERT_EQ(model->transfers().size(), 2u);
    for (const SledTransferRecord& record : model->transfers()) {
        EXPECT_EQ(record.status, SledTransferStatus::failed);
        EXPECT_EQ(record.errorMessage, "Invalid connection profile: Profile not found");
        EXPECT_EQ(record.destinationLabel, "Remote");
    }
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_FALSE(model->isSyncingOrTransferring());
}

TEST_F(ModelTest, BatchToastsClaimVerificationOnlyForFilesThatWereVerified) {
    // A store that reports no digest: a download from it cannot be compared with anything.
    ModelMemoryRemote remote;
    remote.store.addFile("/a.txt", "a");
    remote.store.addFile("/b.txt", "b");
    remote.store.addFile("/c.txt", "c");
    remote.store.setScript(VornTestMemoryProvider::Operation::download, "/b.txt",
                           {.reportedSHA256 = std::optional<std::optional<std::string>>(std::nullopt)});
    remote.store.setScript(VornTestMemoryProvider::Operation::download, "/c.txt",
                           {.error = std::make_exception_ptr(SledError::connectionFailed("gone"))});
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    ModelToastLog toasts(*model);
    PaneBrowserState& from = *model->leftPane();
    model->jumpToBookmark({VornUUID::random(), "", remote.endpoint(), "/"}, &from);
    waitForListing(from);
    select(from, {"a.txt", "b.txt", "c.txt"});
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->transferSelected(&from, model->rightPane());
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    const SledTransferRecord* failed = nullptr;
    int verified = 0;
    for (const SledTransferRecord& record : model->transfers()) {
        EXPECT_EQ(record.direction, SledTransferDirection::download);
        if (record.status == SledTransferStatus::failed) {
            failed = &record;
        }
        verified += record.isSHA256Verified ? 1 : 0;
    }
    ASSERT_NE(failed, nullptr);
    EXPECT_FALSE(failed->completedAt.has_value());
    EXPECT_TRUE(failed->errorMessage.has_value());
    const std::string toast = toasts.last();
    EXPECT_TRUE(toasts.messages.back().isError);
    if (verified == 2) {
        EXPECT_EQ(toast, "Transferred 2/3 file(s) (SHA-256 verified)");
    } else {
        EXPECT_EQ(toast, "Transferred 2/3 file(s) (" + std::to_string(2 - verified) + " not verified by SHA-256)");
    }
}

// A folder Send does not follow a link inside the folder out of it: the link becomes a failed
// record with its reason, counted in the batch. A link the user selected or dropped by itself is
// sent as its target.
TEST_F(ModelTest, LinksInsideASentFolderAreSkippedWithTheirReasonLinksChosenAloneAreSentAsTheirTarget) {
    const VornTestTempDir elsewhere;
    const auto secret = elsewhere.write("secret.txt", "secret");
    left.write("Folder/ok.txt", "ok");
    std::filesystem::create_symlink(secret, left / "Folder" / "link.txt");
    std::filesystem::create_directory_symlink(elsewhere.path(), left / "Folder" / "linked-folder");
    std::filesystem::create_symlink(secret, left / "chosen-link.txt");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    PaneBrowserState& from = *model->leftPane();
    PaneBrowserState& to = *model->rightPane();
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);

    select(from, {"Folder"});
    model->transferSelected(&from, &to);
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(toasts.last(), "Transferred 1/3 file(s) (SHA-256 verified)");
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_EQ(vornReadFile(right / "Folder" / "ok.txt"), "ok");
    EXPECT_FALSE(std::filesystem::exists(right / "Folder" / "link.txt"));
    EXPECT_FALSE(std::filesystem::exists(right / "Folder" / "linked-folder"));
    std::vector<std::string> failed;
    for (const SledTransferRecord& record : model->transfers()) {
        if (record.status == SledTransferStatus::failed) {
            failed.push_back(record.fileName);
            EXPECT_NE(record.errorMessage.value_or("").find("symbolic link"), std::string::npos)
                << record.errorMessage.value_or("");
        }
    }
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(failed, (std::vector<std::string>{"Folder/link.txt", "Folder/linked-folder"}));

    select(from, {"chosen-link.txt"});
    model->transferSelected(&from, &to);
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 2; }));
    EXPECT_EQ(vornReadFile(right / "chosen-link.txt"), "secret");

    model->handleDroppedLocalURLs({left / "Folder" / "link.txt"}, &to);
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 3; }));
    EXPECT_EQ(toasts.last(), "Transferred 1/1 file(s) (SHA-256 verified)");
    EXPECT_EQ(vornReadFile(right / "link.txt"), "secret");
}

TEST_F(ModelTest, EveryRecordShowsItsFinalStateOnceReachedWithItsDigestOrItsError) {
    // Enough small files that their reports reach the list many at a time.
    constexpr int fileCount = 300;
    for (int index = 0; index < fileCount; ++index) {
        left.write("Many/f" + std::to_string(index) + ".txt", "content " + std::to_string(index));
    }
    // A folder where one copy must land: that file fails, the others complete.
    std::filesystem::create_directories(right.path() / "Many" / "f7.txt" / "occupied");
    auto model = makeModel();
    PaneBrowserState& from = *model->leftPane();
    select(from, {"Many"});

    // What the views are told, record by record, in the order they are told it.
    std::unordered_map<VornUUID, std::vector<SledTransferStatus>> shown;
    const QMetaObject::Connection watching = QObject::connect(model->transferList(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& top, const QModelIndex& bottom) {
                         for (int row = top.row(); row <= bottom.row(); ++row) {
                             const SledTransferRecord& record = model->transfers()[static_cast<std::size_t>(row)];
                             std::vector<SledTransferStatus>& states = shown[record.id];
                             if (states.empty() || states.back() != record.status) {
                                 states.push_back(record.status);
                             }
                         }
                     });
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->transferSelected(&from, model->rightPane());
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    QObject::disconnect(watching);

    ASSERT_EQ(model->transfers().size(), static_cast<std::size_t>(fileCount));
    int failures = 0;
    for (const SledTransferRecord& record : model->transfers()) {
        SCOPED_TRACE(record.fileName);
        // The views were told of the final state, and nothing came after it.
        const std::vector<SledTransferStatus>& states = shown[record.id];
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), record.status);
        for (std::size_t index = 0; index + 1 < states.size(); ++index) {
            EXPECT_NE(states[index], SledTransferStatus::completed);
            EXPECT_NE(states[index], SledTransferStatus::failed);
            EXPECT_NE(states[index], SledTransferStatus::cancelled);
        }
        if (record.fileName == "Many/f7.txt") {
            ++failures;
            EXPECT_EQ(record.status, SledTransferStatus::failed);
            EXPECT_TRUE(record.errorMessage && !record.errorMessage->empty());
            EXPECT_FALSE(record.isSHA256Verified);
        } else {
            EXPECT_EQ(record.status, SledTransferStatus::completed);
            EXPECT_TRUE(record.sha256Hex.has_value());
            EXPECT_TRUE(record.isSHA256Verified);
            EXPECT_FALSE(record.errorMessage.has_value());
            EXPECT_EQ(record.transferredBytes, record.totalBytes);
        }
    }
    EXPECT_EQ(failures, 1);
}
