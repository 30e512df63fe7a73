#include "ModelRemoteTestSupport.h"

#include "SFTPStorageProvider.h"
#include "VornChecksum.h"
#include "VornFileIO.h"

#include <QSignalSpy>

#include <algorithm>
#include <map>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>

TEST_F(ModelRemoteTest, AnObjectStoreIsBrowsedFilledPreviewedEditedAndReadBack) {
    VORN_REQUIRE_SERVICE("s3");
    left.write("report.txt", "quarterly figures");
    auto model = makeModel();
    ModelToastLog toasts(*model);
    ConnectionProfile profile;
    profile.id = VornUUID::random();
    profile.name = "Test bucket";
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = VornTestServices::value("S3_ENDPOINT");
    profile.bucket = VornTestServices::value("S3_BUCKET");
    profile.region = VornTestServices::value("S3_REGION");
    profile.accessKeyID = VornTestServices::value("S3_ACCESS_KEY");
    profile.usePathStyleAddressing = true;
    saveProfile(*model, profile, VornTestServices::value("S3_SECRET_KEY"));
    EXPECT_TRUE(model->supportsPresignedURL(PaneEndpoint::remote(profile.id)));

    PaneBrowserState& local = *model->leftPane();
    PaneBrowserState& bucket = *model->rightPane();
    const std::string folder = "/" + randomFolder();
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(profile.id), folder}, &bucket);
    waitForListing(bucket);
    ASSERT_FALSE(bucket.errorMessage().has_value()) << *bucket.errorMessage();

    select(local, {"report.txt"});
    transfer(*model, local, bucket);
    EXPECT_EQ(model->transfers().front().direction, SledTransferDirection::upload);
    EXPECT_EQ(model->transfers().front().status, SledTransferStatus::completed);
    EXPECT_EQ(model->transfers().front().destinationLabel, "Test bucket");
    ASSERT_EQ(names(bucket.entries()), (std::vector<std::string>{"report.txt"}));

    model->openQuickPreview(entryNamed(bucket, "report.txt"), &bucket);
    ASSERT_TRUE(modelWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_TRUE(model->previewResult().has_value()) << model->previewError().value_or("");
    EXPECT_EQ(model->previewResult()->sha256Hex, VornSHA256::hexDigest("quarterly figures"));
    bool saved = false;
    bool answered = false;
    model->saveEditedPreviewText("revised figures", [&](bool ok) {
        answered = true;
        saved = ok;
    });
    ASSERT_TRUE(modelWaitFor([&] { return answered; }));
    EXPECT_TRUE(saved) << toasts.last();
    EXPECT_EQ(model->transfers().front().direction, SledTransferDirection::upload);

    struct Lifetime {
        std::int64_t seconds;
        std::string label;
    };
    for (const Lifetime& lifetime : {Lifetime{604800, "7 days"}, Lifetime{86400, "24 hours"}, Lifetime{3600, "1 hour"}}) {
        model->copyPresignedURL(entryNamed(bucket, "report.txt"), &bucket, lifetime.seconds);
        const std::string expected = "Copied signed S3/R2 URL (" + lifetime.label + "): report.txt";
        ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == expected; })) << toasts.last();
    }
    ASSERT_TRUE(clipboard->value.has_value());
    VORN_REQUIRE_TOOL("curl");
    EXPECT_EQ(vornShell("curl -sf " + vornShellQuote(*clipboard->value)).output, "revised figures");

    // Back to this computer, into a folder of its own.
    std::filesystem::create_directory(left / "back");
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), (left / "back").string()}, &local);
    waitForListing(local);
    waitForListing(bucket);
    select(bucket, {"report.txt"});
    transfer(*model, bucket, local);
    EXPECT_EQ(model->transfers().front().direction, SledTransferDirection::download);
    EXPECT_EQ(vornReadFile(left / "back" / "report.txt"), "revised figures");

    select(bucket, {"report.txt"});
    model->deleteSelected(&bucket);
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Deleted 1 item(s)"; }));
    waitForListing(bucket);
    ASSERT_TRUE(modelWaitFor([&] { return !bucket.isLoading() && bucket.entries().empty(); }));
}

TEST_F(ModelRemoteTest, AnSFTPLoginIsBrowsedAndFilesGoBothWaysAndAreRenamed) {
    VORN_REQUIRE_SERVICE("sshd");
    left.write("notes.md", "# notes");
    ConnectionProfile profile = sftpTestProfile();
    profile.id = VornUUID::random();
    profile.initialRemotePath = VornTestServices::value("SSHD_HOME");
    auto environment = this->environment();
    // The usual provider, told which host key to trust.
    environment.providerFactory = sftpTestProviderFactory();
    auto model = makeModel(environment);
    ModelToastLog toasts(*model);
    saveProfile(*model, profile, std::nullopt);

    PaneBrowserState& local = *model->leftPane();
    PaneBrowserState& remote = *model->rightPane();
    EXPECT_FALSE(model->supportsPresignedURL(PaneEndpoint::remote(profile.id)));
    EXPECT_FALSE(model->supportsPresignedURL(PaneEndpoint::local()));
    model->selectEndpoint(PaneEndpoint::remote(profile.id), &remote);
    EXPECT_EQ(remote.currentPath(), profile.initialRemotePath);
    waitForListing(remote);
    ASSERT_FALSE(remote.errorMessage().has_value()) << *remote.errorMessage();
    const std::string folder = randomFolder();
    model->createFolder(folder, &remote);
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Folder created: " + folder; }));
    ASSERT_TRUE(modelWaitFor([&] { return !remote.isLoading(); }));
    model->openDirectory(entryNamed(remote, folder), &remote);
    waitForListing(remote);

    select(local, {"notes.md"});
    transfer(*model, local, remote);
    EXPECT_EQ(toasts.last().rfind("Transferred 1/1 file(s)", 0), 0u) << toasts.last();
    model->copyPresignedURL(entryNamed(remote, "notes.md"), &remote, 3600);
    ASSERT_TRUE(modelWaitFor([&] { return toasts.messages.back().isError; }));
    EXPECT_EQ(toasts.last(), "Signed share links are available on AWS S3 & Cloudflare R2 connections.");
    model->renameEntry(entryNamed(remote, "notes.md"), "renamed.md", &remote);
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Renamed 'notes.md' → 'renamed.md'"; }));
    waitForListing(remote);
    ASSERT_TRUE(modelWaitFor([&] { return !remote.isLoading() && names(remote.entries()) ==
                                                                      std::vector<std::string>{"renamed.md"}; }));
    EXPECT_EQ(vornReadFile(std::filesystem::path(profile.initialRemotePath) / folder / "renamed.md"), "# notes");

    std::filesystem::create_directory(left / "back");
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::local(), (left / "back").string()}, &local);
    waitForListing(local);
    select(remote, {"renamed.md"});
    transfer(*model, remote, local);
    EXPECT_EQ(vornReadFile(left / "back" / "renamed.md"), "# notes");
    EXPECT_EQ(model->transfers().front().direction, SledTransferDirection::download);
    std::filesystem::remove_all(std::filesystem::path(profile.initialRemotePath) / folder);
}

namespace {

void setTime(const std::filesystem::path& file, std::int64_t seconds, long nanoseconds) {
    const struct timespec stamp {seconds, nanoseconds};
    const struct timespec times[2] = {stamp, stamp};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
}

}  // namespace

// A mirror onto the loopback sshd. A copy whose local time is 0.9 s later is identical (the
// 2-second rule). Between preview and Run someone rewrites the file the plan would
// replace: that row is skipped and recorded. An orphan in a folder the login may not write to is
// refused by the server: the toast names how many and the first; the orphan the server lets go
// goes without a word.
TEST_F(ModelRemoteTest, AnSFTPMirrorRechecksItsRowsAndReportsRefusedDeletions) {
    VORN_REQUIRE_SERVICE("sshd");
    const std::filesystem::path remoteRoot = serverFolder();
    // Made by this process's user (not the login's), as the folder is, but not open to the login.
    std::filesystem::create_directories(remoteRoot / "locked");
    vornWriteFileAtomically(remoteRoot / "same.txt", "same bytes", 0644);
    vornWriteFileAtomically(remoteRoot / "edited.txt", "old", 0644);
    vornWriteFileAtomically(remoteRoot / "gone.txt", "orphan", 0644);
    vornWriteFileAtomically(remoteRoot / "locked" / "kept.txt", "orphan the server keeps", 0644);
    left.write("same.txt", "same bytes");
    left.write("edited.txt", "left's newer text");
    left.write("new.txt", "brand new");
    setTime(remoteRoot / "same.txt", 1'700'000'000, 0);
    setTime(left / "same.txt", 1'700'000'000, 900'000'000);

    auto model = modelShowingServer(remoteRoot.string());
    ModelToastLog toasts(*model);

    model->setSyncDeleteOrphans(true);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_FALSE(model->syncPlanError().has_value()) << *model->syncPlanError();
    EXPECT_EQ(syncRows(*model), (std::vector<std::string>{
                                    "copyLeftToRight edited.txt (Size changed)",
                                    "deleteOnRight gone.txt (Orphan on Right)",
                                    "deleteOnRight locked/kept.txt (Orphan on Right)",
                                    "copyLeftToRight new.txt (Missing on Right)",
                                    "identicalSkip same.txt (Identical)",
                                }));

    vornWriteFileAtomically(remoteRoot / "edited.txt", "their edit", 0644);
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    QSignalSpy deleted(model.get(), &SledViewModel::syncDeletionsFinished);
    const std::size_t before = toasts.messages.size();
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1 && deleted.count() == 1; }));
    EXPECT_EQ(vornReadFile(remoteRoot / "edited.txt"), "their edit");
    EXPECT_EQ(vornReadFile(remoteRoot / "new.txt"), "brand new");
    EXPECT_FALSE(std::filesystem::exists(remoteRoot / "gone.txt"));
    EXPECT_EQ(vornReadFile(remoteRoot / "locked" / "kept.txt"), "orphan the server keeps");
    ASSERT_EQ(model->transfers().size(), 2u);
    std::vector<std::string> records;
    for (const SledTransferRecord& record : model->transfers()) {
        records.push_back(record.fileName + " " + rawValue(record.status) + " " + record.errorMessage.value_or(""));
    }
    std::sort(records.begin(), records.end());
    EXPECT_EQ(records, (std::vector<std::string>{"edited.txt failed Changed since the preview", "new.txt completed "}));
    std::vector<std::string> texts;
    for (std::size_t i = before; i < toasts.messages.size(); ++i) {
        EXPECT_TRUE(toasts.messages[i].isError) << toasts.messages[i].text;
        texts.push_back(toasts.messages[i].text);
    }
    ASSERT_EQ(texts.size(), 2u);
    std::sort(texts.begin(), texts.end());
    const std::string refused = "1 deletion(s) failed; the first, " + (remoteRoot / "locked" / "kept.txt").string() + ": ";
    EXPECT_EQ(texts[0].rfind(refused, 0), 0u) << texts[0];
    EXPECT_GT(texts[0].size(), refused.size());
    EXPECT_EQ(texts[1], "Transferred 1/2 file(s) (SHA-256 verified)");
}

// The server gives its times to the fraction of a second: an orphan listed at .100 and rewritten
// after the preview with the same size at .900 of the same second is kept by Run, and the deletion
// toast says why; the other orphan goes.
TEST_F(ModelRemoteTest, AnSFTPOrphanRewrittenWithinTheSameSecondIsKept) {
    VORN_REQUIRE_SERVICE("sshd");
    const std::filesystem::path remoteRoot = serverFolder();
    vornWriteFileAtomically(remoteRoot / "orphan.txt", "version 1", 0644);
    vornWriteFileAtomically(remoteRoot / "gone.txt", "orphan", 0644);
    setTime(remoteRoot / "orphan.txt", 1'700'000'000, 100'000'000);
    auto model = modelShowingServer(remoteRoot.string());
    model->setSyncDeleteOrphans(true);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_EQ(syncRows(*model), (std::vector<std::string>{"deleteOnRight gone.txt (Orphan on Right)",
                                                          "deleteOnRight orphan.txt (Orphan on Right)"}));

    vornWriteFileAtomically(remoteRoot / "orphan.txt", "version 2", 0644);
    setTime(remoteRoot / "orphan.txt", 1'700'000'000, 900'000'000);
    ModelToastLog toasts(*model);
    QSignalSpy deleted(model.get(), &SledViewModel::syncDeletionsFinished);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return deleted.count() == 1; }));
    EXPECT_EQ(vornReadFile(remoteRoot / "orphan.txt"), "version 2");
    EXPECT_FALSE(std::filesystem::exists(remoteRoot / "gone.txt"));
    // A refused deletion is said in the deletion toast, not as a row of the transfer list.
    EXPECT_TRUE(model->transfers().empty());
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last().find("Changed since the preview") != std::string::npos; }))
        << toasts.last();
}

// A mirror from a bucket: another writer replaces an object after the preview with one of the
// same size, which only its entity tag tells apart; that row is skipped, the rest runs.
TEST_F(ModelRemoteTest, AnObjectReplacedSinceThePreviewIsNotCopied) {
    VORN_REQUIRE_SERVICE("s3");
    const std::string folder = s3TestFolder();
    const S3R2StorageProvider writer = s3TestProvider();
    const VornTestTempDir staging;
    writer.uploadFile(staging.write("a", "version 1"), folder + "/report.txt", std::nullopt, {}, {});
    writer.uploadFile(staging.write("b", "fresh"), folder + "/other.txt", std::nullopt, {}, {});

    auto model = makeModel();
    ModelToastLog toasts(*model);
    ConnectionProfile profile = s3TestProfile();
    saveProfile(*model, profile, VornTestServices::value("S3_SECRET_KEY"));
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(profile.id), folder}, model->leftPane());
    waitForListing(*model->leftPane());
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_EQ(syncRows(*model), (std::vector<std::string>{"copyLeftToRight other.txt (Missing on Right)",
                                                          "copyLeftToRight report.txt (Missing on Right)"}));

    writer.uploadFile(staging.write("c", "version 2"), folder + "/report.txt", std::nullopt, {}, {});
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->executeSyncPlan();
    ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
    EXPECT_FALSE(std::filesystem::exists(right / "report.txt"));
    EXPECT_EQ(vornReadFile(right / "other.txt"), "fresh");
    EXPECT_EQ(toasts.last(), "Transferred 1/2 file(s) (SHA-256 verified)");
    const auto refused = std::find_if(model->transfers().begin(), model->transfers().end(),
                                      [](const SledTransferRecord& record) { return record.fileName == "report.txt"; });
    ASSERT_NE(refused, model->transfers().end());
    EXPECT_EQ(refused->status, SledTransferStatus::failed);
    EXPECT_EQ(refused->errorMessage, "Changed since the preview");
}

// A copy into an SFTP pane of a file whose path sftp cannot carry (its batch lines hold at most
// 2046 bytes) fails that file's row before anything is made for it, with the limit in the message,
// never as a folder on the way that is not there; the other file goes.
TEST_F(ModelRemoteTest, AFileWhosePathSftpCannotCarryFailsItsRowBeforeAnythingIsMade) {
    VORN_REQUIRE_SERVICE("sshd");
    const std::filesystem::path remoteRoot = serverFolder();
    std::string deepFolder = "deep";
    for (int level = 0; level < 11; ++level) {
        deepFolder += "/" + std::string(200, static_cast<char>('a' + level));
    }
    left.write(deepFolder + "/far.txt", "too far for sftp");
    left.write("deep/near.txt", "near");

    auto model = modelShowingServer(remoteRoot.string());
    ModelToastLog toasts(*model);

    select(*model->leftPane(), {"deep"});
    transfer(*model, *model->leftPane(), *model->rightPane());
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last().rfind("Transferred", 0) == 0; }));
    EXPECT_EQ(toasts.last(), "Transferred 1/2 file(s) (SHA-256 verified)");
    std::map<std::string, SledTransferRecord> records;
    for (const SledTransferRecord& record : model->transfers()) {
        records.emplace(record.fileName, record);
    }
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records.at("deep/near.txt").status, SledTransferStatus::completed);
    const SledTransferRecord& far = records.at(deepFolder + "/far.txt");
    EXPECT_EQ(far.status, SledTransferStatus::failed);
    const std::string message = far.errorMessage.value_or("");
    EXPECT_NE(message.find("too long"), std::string::npos) << message;
    EXPECT_NE(message.find("at most 2046"), std::string::npos) << message;
    EXPECT_EQ(message.find("symbolic link"), std::string::npos) << message;
    EXPECT_EQ(vornReadFile(remoteRoot / "deep" / "near.txt"), "near");
    std::vector<std::string> made;
    for (const auto& item : std::filesystem::directory_iterator(remoteRoot / "deep")) {
        made.push_back(item.path().filename().string());
    }
    EXPECT_EQ(made, std::vector<std::string>{"near.txt"});
}

// Folders named "Backup" and "Backup " side by side on the server: each entry opens its own
// folder, the path field passed back unchanged stays there, and a copy of "Backup " walks that
// folder; only what is typed into the path field (and the profile's typed initial path) is
// trimmed.
TEST_F(ModelRemoteTest, AnSFTPFolderWhoseNameEndsInASpaceIsOpenedAndCopiedAsItself) {
    VORN_REQUIRE_SERVICE("sshd");
    const std::filesystem::path remoteRoot = serverFolder();
    std::filesystem::create_directories(remoteRoot / "Backup");
    std::filesystem::create_directories(remoteRoot / "Backup ");
    vornWriteFileAtomically(remoteRoot / "Backup" / "old.txt", "in Backup", 0644);
    vornWriteFileAtomically(remoteRoot / "Backup " / "new.txt", "in Backup with a space", 0644);

    auto model = modelShowingServer("  " + remoteRoot.string() + " \n");
    PaneBrowserState& remote = *model->rightPane();
    EXPECT_EQ(remote.currentPath(), remoteRoot.string());
    EXPECT_EQ(names(remote.entries()), (std::vector<std::string>{"Backup", "Backup "}));

    const auto listedIn = [&](const std::string& path) {
        EXPECT_EQ(remote.currentPath(), path);
        waitForListing(remote);
        EXPECT_FALSE(remote.errorMessage().has_value()) << *remote.errorMessage();
        return names(remote.entries());
    };
    model->openDirectory(entryNamed(remote, "Backup "), &remote);
    EXPECT_EQ(listedIn((remoteRoot / "Backup ").string()), std::vector<std::string>{"new.txt"});
    model->openTypedPath(remote.currentPath(), &remote);
    EXPECT_EQ(listedIn((remoteRoot / "Backup ").string()), std::vector<std::string>{"new.txt"});
    model->openTypedPath(" " + (remoteRoot / "Backup").string() + "  \n", &remote);
    EXPECT_EQ(listedIn((remoteRoot / "Backup").string()), std::vector<std::string>{"old.txt"});

    model->navigateUp(&remote);
    waitForListing(remote);
    select(remote, {"Backup "});
    transfer(*model, remote, *model->leftPane());
    EXPECT_EQ(vornReadFile(left / "Backup " / "new.txt"), "in Backup with a space");
    EXPECT_FALSE(std::filesystem::exists(left / "Backup"));
}

// A bucket folder that still holds objects is not deleted: its one DELETE would remove only the
// marker and leave the folder listed through what it holds. The pane says why, and nothing goes.
TEST_F(ModelRemoteTest, DeletingABucketFolderThatStillHoldsObjectsIsRefusedWithTheReason) {
    VORN_REQUIRE_SERVICE("s3");
    const std::string folder = s3TestFolder();
    const S3R2StorageProvider writer = s3TestProvider();
    const VornTestTempDir staging;
    writer.createDirectory(folder + "/photos", {});
    writer.uploadFile(staging.write("a", "pixels"), folder + "/photos/a.jpg", std::nullopt, {}, {});

    auto model = makeModel();
    ModelToastLog toasts(*model);
    ConnectionProfile profile = s3TestProfile();
    saveProfile(*model, profile, VornTestServices::value("S3_SECRET_KEY"));
    PaneBrowserState& bucket = *model->rightPane();
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(profile.id), folder}, &bucket);
    waitForListing(bucket);
    ASSERT_EQ(names(bucket.entries()), std::vector<std::string>{"photos"});

    const std::size_t before = toasts.messages.size();
    select(bucket, {"photos"});
    model->deleteSelected(&bucket);
    ASSERT_TRUE(toasts.waitForCount(before + 1));
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_EQ(toasts.last(), "Remote operation failed: The folder 'photos' is not empty; delete what it holds first.");
    EXPECT_EQ(s3EntryNames(writer.listDirectory(folder + "/photos", {})), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(s3EntryNames(writer.listDirectory(folder, {})), std::vector<std::string>{"photos/"});
}
