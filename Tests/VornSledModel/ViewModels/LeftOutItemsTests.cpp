#include "ModelRemoteTestSupport.h"

#include "VornFileIO.h"

#include <algorithm>

// What a folder copy or a sync leaves out (hidden items where a side cannot show them, folders
// below the walk's depth) is named in a row with its reason, and never decides what is copied or
// deleted on the other side.

namespace {

constexpr const char* hiddenReason = "Hidden item; not copied";
constexpr const char* tooDeepReason = "More than 12 folder levels deep; not copied";

// "d1/d2/…/dN".
std::string nestedFolders(int levels) {
    std::string path;
    for (int level = 1; level <= levels; ++level) {
        path += (level > 1 ? "/d" : "d") + std::to_string(level);
    }
    return path;
}

std::vector<std::string> sortedRows(const SledViewModel& model) {
    std::vector<std::string> rows = syncRows(model);
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Each failed record as "<name>: <reason>", sorted.
std::vector<std::string> failedRecords(const SledViewModel& model) {
    std::vector<std::string> failed;
    for (const SledTransferRecord& record : model.transfers()) {
        if (record.status == SledTransferStatus::failed) {
            failed.push_back(record.fileName + ": " + record.errorMessage.value_or(""));
        }
    }
    std::sort(failed.begin(), failed.end());
    return failed;
}

std::vector<std::string> keysUnder(const S3R2StorageProvider& store, const std::string& folder) {
    std::vector<std::string> keys;
    for (const SledFileEntry& object : store.listObjectsUnder(folder, {})) {
        keys.push_back(object.name);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace

class ModelLeftOutTest : public ModelRemoteTest {
protected:
    void previewSync(SledViewModel& model) {
        model.openSyncPreview();
        ASSERT_TRUE(modelWaitFor([&] { return !model.isComputingSyncPlan(); }));
        ASSERT_FALSE(model.syncPlanError().has_value()) << *model.syncPlanError();
    }
    // A workspace showing this disk's `left` folder on the left and the bucket folder on the right.
    std::unique_ptr<SledViewModel> modelBesideBucket(const std::string& folder) {
        auto model = makeModel();
        ConnectionProfile profile = s3TestProfile();
        saveProfile(*model, profile, VornTestServices::value("S3_SECRET_KEY"));
        model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(profile.id), folder}, model->rightPane());
        waitForListing(*model->rightPane());
        EXPECT_FALSE(model->rightPane()->errorMessage().has_value()) << *model->rightPane()->errorMessage();
        return model;
    }
};

// The bucket lists every key, this disk hides names beginning with ".": a mirror onto the bucket
// compares neither side's hidden names, so the bucket's copies of them are kept, whether the disk
// holds them or not, and the rest of the mirror runs as planned.
TEST_F(ModelLeftOutTest, AMirrorOntoABucketNeitherCopiesNorDeletesHiddenNames) {
    VORN_REQUIRE_SERVICE("s3");
    const std::string folder = s3TestFolder();
    const S3R2StorageProvider writer = s3TestProvider();
    const VornTestTempDir staging;
    for (const char* key : {".env", "src/.gitignore", ".config/tool", ".only-in-bucket", "old.txt", "src/.cache/x"}) {
        writer.uploadFile(staging.write("object", std::string("bucket ") + key), folder + "/" + key, std::nullopt, {}, {});
    }
    left.write(".env", "SECRET=1");
    left.write("src/.gitignore", "build/");
    left.write(".config/tool", "settings");
    left.write("src/main.c", "int main(void) { return 0; }");
    auto model = modelBesideBucket(folder);
    model->setSyncDeleteOrphans(true);

    const std::string hidden = std::string(" (") + hiddenReason + ")";
    model->setSyncIncludeSubfolders(true);
    previewSync(*model);
    EXPECT_EQ(sortedRows(*model), (std::vector<std::string>{
                                      "copyLeftToRight src/main.c (Missing on Right)",
                                      "deleteOnRight old.txt (Orphan on Right)",
                                      "identicalSkip .config" + hidden,
                                      "identicalSkip .env" + hidden,
                                      "identicalSkip .only-in-bucket" + hidden,
                                      "identicalSkip src/.cache" + hidden,
                                      "identicalSkip src/.gitignore" + hidden,
                                  }));

    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    QSignalSpy deleted(model.get(), &SledViewModel::syncDeletionsFinished);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1 && deleted.count() == 1; }));
    EXPECT_EQ(keysUnder(writer, folder), (std::vector<std::string>{".config/tool", ".env", ".only-in-bucket", "src/",
                                                                   "src/.cache/x", "src/.gitignore", "src/main.c"}));

    // One level only, as the panes list it: the same rule.
    model->refresh(model->rightPane());
    waitForListing(*model->rightPane());
    model->setSyncIncludeSubfolders(false);
    previewSync(*model);
    EXPECT_EQ(sortedRows(*model), (std::vector<std::string>{
                                      "identicalSkip .env" + hidden,
                                      "identicalSkip .only-in-bucket" + hidden,
                                  }));

    // The other way round a hidden object is no longer "missing" on this disk on every run.
    model->setSyncIncludeSubfolders(true);
    model->setSyncMode(SyncDirectionMode::twoWayUpdate);
    previewSync(*model);
    for (const std::string& row : syncRows(*model)) {
        EXPECT_EQ(row.find("Missing on Left"), std::string::npos) << row;
    }
}

// A folder copy from SFTP or from this disk carries no hidden item, and names each one it meets
// (a hidden folder once, not entered) as a failed row counted in the toast.
TEST_F(ModelLeftOutTest, AFolderCopyNamesEachHiddenItemItLeavesOut) {
    VORN_REQUIRE_SERVICE("sshd");
    VORN_REQUIRE_SERVICE("s3");
    const std::filesystem::path remoteRoot = serverFolder();
    for (const char* name : {"project/.env", "project/.config/tool", "project/src/.htaccess", "project/src/main.c"}) {
        std::filesystem::create_directories((remoteRoot / name).parent_path());
        vornWriteFileAtomically(remoteRoot / name, name, 0644);
    }
    for (const auto& item : std::filesystem::recursive_directory_iterator(remoteRoot)) {
        std::filesystem::permissions(item.path(), std::filesystem::perms::all, std::filesystem::perm_options::replace);
    }
    auto model = modelShowingServer(remoteRoot.string());
    ModelToastLog toasts(*model);
    const std::vector<std::string> expected{
        std::string("project/.config: ") + hiddenReason,
        std::string("project/.env: ") + hiddenReason,
        std::string("project/src/.htaccess: ") + hiddenReason,
    };

    select(*model->rightPane(), {"project"});
    transfer(*model, *model->rightPane(), *model->leftPane());
    EXPECT_EQ(toasts.last(), "Transferred 1/4 file(s) (SHA-256 verified)");
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_EQ(failedRecords(*model), expected);
    EXPECT_EQ(vornReadFile(left / "project" / "src" / "main.c"), "project/src/main.c");
    EXPECT_FALSE(std::filesystem::exists(left / "project" / ".env"));

    // The same folder on this disk, sent to a bucket, which could hold the hidden names.
    std::filesystem::create_directories(left / "project" / ".config");
    vornWriteFileAtomically(left / "project" / ".env", "SECRET=1", 0600);
    vornWriteFileAtomically(left / "project" / ".config" / "tool", "settings", 0644);
    vornWriteFileAtomically(left / "project" / "src" / ".htaccess", "deny", 0644);
    const std::string folder = s3TestFolder();
    ConnectionProfile profile = s3TestProfile();
    saveProfile(*model, profile, VornTestServices::value("S3_SECRET_KEY"));
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(profile.id), folder}, model->rightPane());
    waitForListing(*model->rightPane());
    model->refresh(model->leftPane());
    waitForListing(*model->leftPane());
    select(*model->leftPane(), {"project"});
    transfer(*model, *model->leftPane(), *model->rightPane());
    EXPECT_EQ(toasts.last(), "Transferred 1/4 file(s) (SHA-256 verified)");
    std::vector<std::string> bothCopies = expected;
    bothCopies.insert(bothCopies.end(), expected.begin(), expected.end());
    std::sort(bothCopies.begin(), bothCopies.end());
    EXPECT_EQ(failedRecords(*model), bothCopies);
    EXPECT_EQ(keysUnder(s3TestProvider(), folder),
              (std::vector<std::string>{"project/", "project/src/", "project/src/main.c"}));
}

// Twelve folder levels are walked: each folder the walk meets below them is named, in a copy as a
// failed row counted in the toast, in a sync preview as a row not compared, with nothing below it
// copied or deleted.
TEST_F(ModelTest, FoldersBelowTwelveLevelsAreNamedInACopyAndInASyncPreview) {
    left.write("Tree/top.txt", "top");
    left.write("Tree/" + nestedFolders(14) + "/leaf.txt", "leaf");
    left.write("Tree/" + nestedFolders(3) + "/shallow.txt", "shallow");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);

    select(*model->leftPane(), {"Tree"});
    model->transferSelected(model->leftPane(), model->rightPane());
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(toasts.last(), "Transferred 2/3 file(s) (SHA-256 verified)");
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_EQ(failedRecords(*model),
              std::vector<std::string>{"Tree/" + nestedFolders(13) + ": " + tooDeepReason});
    EXPECT_EQ(vornReadFile(right / "Tree" / nestedFolders(3) / "shallow.txt"), "shallow");
    EXPECT_FALSE(std::filesystem::exists(right / "Tree" / nestedFolders(13)));

    // Both sides hold the deep folder, the right side an orphan down there: one row names it, and
    // the mirror deletes nothing below it.
    right.write("Tree/" + nestedFolders(14) + "/orphan.txt", "orphan");
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), (left / "Tree").string()}, model->leftPane());
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), (right / "Tree").string()}, model->rightPane());
    waitForListing(*model->leftPane());
    waitForListing(*model->rightPane());
    model->setSyncIncludeSubfolders(true);
    model->setSyncDeleteOrphans(true);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_FALSE(model->syncPlanError().has_value()) << *model->syncPlanError();
    std::vector<std::string> rows = syncRows(*model);
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [](const std::string& row) { return row.find("(Identical)") != std::string::npos; }),
               rows.end());
    EXPECT_EQ(rows, std::vector<std::string>{"identicalSkip " + nestedFolders(13) + " (" + tooDeepReason + ")"});
    EXPECT_FALSE(model->isSyncPlanRunnable());
    EXPECT_EQ(vornReadFile(right / "Tree" / nestedFolders(14) / "orphan.txt"), "orphan");
}

// A bucket folder fourteen levels deep, with the marker of an empty folder inside it, is renamed
// whole: nothing stays under the old name.
TEST_F(ModelLeftOutTest, ABucketFolderFourteenLevelsDeepIsRenamedWhole) {
    VORN_REQUIRE_SERVICE("s3");
    const std::string folder = s3TestFolder();
    const S3R2StorageProvider writer = s3TestProvider();
    const VornTestTempDir staging;
    writer.uploadFile(staging.write("top", "top"), folder + "/Tree/top.txt", std::nullopt, {}, {});
    writer.uploadFile(staging.write("leaf", "leaf"), folder + "/Tree/" + nestedFolders(14) + "/leaf.txt", std::nullopt,
                      {}, {});
    writer.createDirectory(folder + "/Tree/" + nestedFolders(13) + "/empty", {});
    auto model = modelBesideBucket(folder);
    ModelToastLog toasts(*model);
    PaneBrowserState& bucket = *model->rightPane();
    ASSERT_EQ(names(bucket.entries()), std::vector<std::string>{"Tree"});

    const std::size_t before = toasts.messages.size();
    model->renameEntry(entryNamed(bucket, "Tree"), "Moved", &bucket);
    ASSERT_TRUE(toasts.waitForCount(before + 1));
    EXPECT_FALSE(toasts.messages.back().isError) << toasts.last();
    waitForListing(bucket);
    EXPECT_EQ(keysUnder(writer, folder), (std::vector<std::string>{
                                             "Moved/" + nestedFolders(14) + "/leaf.txt",
                                             "Moved/" + nestedFolders(13) + "/empty/",
                                             "Moved/top.txt",
                                         }));
    const VornTestTempDir back;
    writer.downloadFile(folder + "/Moved/" + nestedFolders(14) + "/leaf.txt", back / "leaf.txt", {}, {});
    EXPECT_EQ(vornReadFile(back / "leaf.txt"), "leaf");
}
