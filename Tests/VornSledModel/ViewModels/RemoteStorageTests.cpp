#include "ModelTestSupport.h"

#include "SFTPStorageProvider.h"
#include "SFTPTestSupport.h"
#include "SledCredentialStore.h"
#include "VornChecksum.h"

#include <QSignalSpy>

#include <random>

// The model on real remote storage: the SigV4-checking S3 server and the loopback sshd, with the
// secrets in the keyring daemon of the test services.
class ModelRemoteTest : public ModelTest {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
    }
    void TearDown() override {
        if (bus_ && saved_) {
            SledCredentialStore::deleteSecret(*saved_);
        }
    }
    void saveProfile(SledViewModel& model, const ConnectionProfile& profile, const std::optional<std::string>& secret) {
        saved_ = profile.id;
        ModelToastLog toasts(model);
        model.saveProfile(profile, secret);
        ASSERT_TRUE(toasts.waitForCount(1));
        ASSERT_FALSE(toasts.messages.back().isError) << toasts.last();
    }
    static void transfer(SledViewModel& model, PaneBrowserState& from, PaneBrowserState& to) {
        QSignalSpy finished(&model, &SledViewModel::transferBatchFinished);
        model.transferSelected(&from, &to);
        ASSERT_TRUE(modelWaitFor([&] { return finished.count() == 1; }));
        ASSERT_TRUE(modelWaitFor([&] { return !to.isLoading(); }));
    }
    static std::string randomFolder() {
        static std::mt19937_64 random{std::random_device{}()};
        return "model-" + std::to_string(random() % 1'000'000'000'000ULL);
    }

private:
    std::optional<VornScopedEnv> bus_;
    std::optional<VornUUID> saved_;
};

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
