#include "ExplorerTestSupport.h"

#include "../../VornSledCore/S3/S3ProviderTestSupport.h"
#include "SFTPStorageProvider.h"
#include "SFTPTestSupport.h"
#include "SledCredentialStore.h"
#include "VornButtons.h"
#include "VornGlassInputField.h"
#include "VornGroundBackground.h"
#include "VornMessageText.h"
#include "VornPalette.h"

#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <random>

namespace fs = std::filesystem;

namespace {

std::string uniqueName(const std::string& stem) {
    static std::mt19937_64 random{std::random_device{}()};
    return stem + "-" + std::to_string(random() % 1'000'000'000'000ULL);
}

}  // namespace

// Both panes remote: the left one on the loopback sshd, the right one on the SigV4-checking S3
// server, chosen through the endpoint menus. Files dropped from this computer land in either,
// and the rail copies between the two both ways; the link menu exists only for the object store.
class ExplorerRemoteTest : public ViewsTest {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        VORN_REQUIRE_SERVICE("sshd");
        VORN_REQUIRE_SERVICE("s3");
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
    }
    void TearDown() override {
        if (s3Profile_) {
            SledCredentialStore::deleteSecret(*s3Profile_);
        }
        if (!sftpFolder_.empty()) {
            std::error_code ignored;
            fs::remove_all(sftpFolder_, ignored);
        }
    }

    // A model whose SFTP profiles trust the loopback sshd's host key, both panes listed.
    std::unique_ptr<SledViewModel> makeRemoteModel() {
        auto environment = this->environment();
        environment.providerFactory = sftpTestProviderFactory();
        auto model = std::make_unique<SledViewModel>(environment);
        explorerWaitListed(*model->leftPane());
        explorerWaitListed(*model->rightPane());
        return model;
    }
    // Saves both profiles, the bucket's with the service's secret (removed again at the end).
    void saveProfiles(SledViewModel& model, const ConnectionProfile& sftp, const ConnectionProfile& s3) {
        s3Profile_ = s3.id;
        for (const auto& [profile, secret] : {std::pair{sftp, std::optional<std::string>()},
                                              std::pair{s3, std::optional(VornTestServices::value("S3_SECRET_KEY"))}}) {
            QSignalSpy saved(&model, &SledViewModel::profilesChanged);
            model.saveProfile(profile, secret);
            ASSERT_TRUE(viewsWaitFor([&] { return saved.count() > 0; }));
        }
    }
    // The explorer filling `ground`, shown at the size the pictures are taken at.
    static DualPaneExplorerView& showExplorer(QWidget& ground, SledViewModel& model) {
        auto* view = new DualPaneExplorerView(model, &ground);
        (new QVBoxLayout(&ground))->addWidget(view);
        ground.resize(1280, 640);
        ground.show();
        return *view;
    }

    std::optional<VornScopedEnv> bus_;
    std::optional<VornUUID> s3Profile_;
    fs::path sftpFolder_;
};

TEST_F(ExplorerRemoteTest, AnSFTPPaneAndAnS3PaneExchangeFilesThroughTheRailAndDrops) {
    ConnectionProfile sftp = sftpTestProfile();
    sftp.id = VornUUID::random();
    sftp.initialRemotePath = VornTestServices::value("SSHD_HOME");
    const ConnectionProfile s3 = s3TestProfile();

    auto model = makeRemoteModel();
    ASSERT_NO_FATAL_FAILURE(saveProfiles(*model, sftp, s3));

    VornGroundBackground ground(VornProductPalette::deepCoral);
    DualPaneExplorerView* view = &showExplorer(ground, *model);
    PaneBrowserCard& leftCard = *view->leftCard();
    PaneBrowserCard& rightCard = *view->rightCard();
    PaneBrowserState& sftpPane = *model->leftPane();
    PaneBrowserState& bucketPane = *model->rightPane();

    // The endpoint menu lists this computer, every profile with its kind, and "add server".
    std::unique_ptr<QMenu> endpoints(leftCard.buildEndpointMenu(&leftCard));
    EXPECT_EQ(explorerActionTexts(*endpoints),
              (QStringList{"This Computer", "—", "Loopback SFTP (SFTP (SSH))", "Test bucket (S3-Compatible)", "—",
                           QString::fromUtf8("Add SFTP / S3 / R2 Server…")}));
    explorerAction(*endpoints, "Loopback SFTP (SFTP (SSH))")->trigger();
    std::unique_ptr<QMenu> rightEndpoints(rightCard.buildEndpointMenu(&rightCard));
    explorerAction(*rightEndpoints, "Test bucket (S3-Compatible)")->trigger();
    explorerWaitListed(sftpPane);
    explorerWaitListed(bucketPane);
    ASSERT_FALSE(sftpPane.errorMessage().has_value()) << *sftpPane.errorMessage();
    ASSERT_FALSE(bucketPane.errorMessage().has_value()) << *bucketPane.errorMessage();
    EXPECT_EQ(leftCard.endpointButton()->leadingSymbol(), "server.rack");
    EXPECT_EQ(leftCard.endpointButton()->text(), "Loopback SFTP");
    EXPECT_TRUE(leftCard.editConnectionButton()->isVisible());
    EXPECT_TRUE(rightCard.editConnectionButton()->isVisible());
    EXPECT_FALSE(leftCard.linkButton()->isVisible()) << "no signed links over SFTP";
    EXPECT_TRUE(rightCard.linkButton()->isVisible());
    EXPECT_FALSE(rightCard.linkButton()->isEnabled());

    // A fresh folder on each side, made and opened through the card.
    const std::string folder = uniqueName("explorer");
    sftpFolder_ = fs::path(sftp.initialRemotePath) / folder;
    for (PaneBrowserCard* card : {&leftCard, &rightCard}) {
        card->toggleNewFolderInput();
        card->newFolderField()->setText(QString::fromStdString(folder));
        QTest::keyClick(card->newFolderField(), Qt::Key_Return);
    }
    ASSERT_TRUE(viewsWaitFor([&] {
        return !sftpPane.isLoading() && !bucketPane.isLoading() && explorerRowOf(leftCard, folder) >= 0 &&
               explorerRowOf(rightCard, folder) >= 0;
    }));
    for (PaneBrowserCard* card : {&leftCard, &rightCard}) {
        QTest::mouseDClick(card->listView()->viewport(), Qt::LeftButton, {}, explorerRowCentre(*card, folder));
        explorerWaitListed(card->pane());
        ASSERT_FALSE(card->pane().errorMessage().has_value()) << *card->pane().errorMessage();
    }

    // Drops from this computer: one into each pane.
    VornTestTempDir outside;
    outside.write("to sftp.txt", "dropped on the sshd");
    outside.write("to bucket.txt", "dropped on the bucket");
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    EXPECT_TRUE(explorerDrop(leftCard, {explorerFileURL(outside / "to sftp.txt")}).accepted);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(vornReadFile(sftpFolder_ / "to sftp.txt"), "dropped on the sshd");
    EXPECT_TRUE(explorerDrop(rightCard, {explorerFileURL(outside / "to bucket.txt")}).accepted);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 2; }));
    ASSERT_TRUE(viewsWaitFor([&] {
        return !sftpPane.isLoading() && !bucketPane.isLoading() && explorerRowOf(leftCard, "to sftp.txt") >= 0 &&
               explorerRowOf(rightCard, "to bucket.txt") >= 0;
    }));
    for (const SledTransferRecord& record : model->transfers()) {
        EXPECT_EQ(record.status, SledTransferStatus::completed) << record.errorMessage.value_or("");
    }

    // Through the rail: the sshd's file to the bucket, the bucket's file to the sshd.
    leftCard.toggleSelection(explorerEntry(leftCard, "to sftp.txt").path);
    QTest::mouseClick(view->sendButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 3; }));
    rightCard.toggleSelection(explorerEntry(rightCard, "to bucket.txt").path);
    EXPECT_TRUE(view->pullButton()->isActive());
    QTest::mouseClick(view->pullButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 4; }));
    EXPECT_EQ(vornReadFile(sftpFolder_ / "to bucket.txt"), "dropped on the bucket");
    ASSERT_TRUE(viewsWaitFor([&] { return !bucketPane.isLoading() && explorerRowOf(rightCard, "to sftp.txt") >= 0; }));
    EXPECT_EQ(model->transfers().front().direction, SledTransferDirection::remoteToRemote);
    for (const SledTransferRecord& record : model->transfers()) {
        EXPECT_EQ(record.status, SledTransferStatus::completed) << record.errorMessage.value_or("");
    }

    // The bucket's copy, read back through a signed link from the link menu.
    bucketPane.setSelectedPaths({explorerEntry(rightCard, "to sftp.txt").path});
    EXPECT_TRUE(rightCard.linkButton()->isEnabled());
    std::unique_ptr<QMenu> links(rightCard.buildLinkMenu(&rightCard));
    EXPECT_EQ(explorerActionTexts(*links), (QStringList{"Copy Signed Link (1 Hour)", "Copy Signed Link (24 Hours)",
                                                        "Copy Signed Link (7 Days)"}));
    explorerAction(*links, "Copy Signed Link (1 Hour)")->trigger();
    ASSERT_TRUE(viewsWaitFor([&] { return clipboard->value.has_value(); }));
    VORN_REQUIRE_TOOL("curl");
    EXPECT_EQ(vornShell("curl -sf " + vornShellQuote(*clipboard->value)).output, "dropped on the sshd");

    snapshot(ground, QStringLiteral("app-explorer-remote-en"));
    model->setLanguage(VornLanguage::tr);
    snapshot(ground, QStringLiteral("app-explorer-remote-tr"));
    model->setLanguage(VornLanguage::en);
}

// In Turkish a pane's remote failures read in Turkish around what the server itself said: a key
// file that is not there, a bucket the object store does not have, and a wrong secret.
TEST_F(ExplorerRemoteTest, RemoteListingErrorsReadInTheChosenLanguage) {
    ConnectionProfile sftp = sftpTestProfile();
    sftp.id = VornUUID::random();
    sftp.name = "Keyless SFTP";
    sftp.privateKeyPath = (left.path() / "no-such-key").string();
    ConnectionProfile s3 = s3TestProfile(VornTestServices::value("S3_ENDPOINT"), uniqueName("no-such-bucket"));
    s3.name = "Missing bucket";

    auto model = makeRemoteModel();
    model->setLanguage(VornLanguage::tr);
    ASSERT_NO_FATAL_FAILURE(saveProfiles(*model, sftp, s3));

    VornGroundBackground ground(VornProductPalette::deepCoral);
    DualPaneExplorerView* view = &showExplorer(ground, *model);
    PaneBrowserCard& leftCard = *view->leftCard();
    PaneBrowserCard& rightCard = *view->rightCard();
    std::unique_ptr<QMenu> endpoints(leftCard.buildEndpointMenu(&leftCard));
    explorerAction(*endpoints, QString::fromUtf8("Keyless SFTP (SFTP (SSH))"))->trigger();
    std::unique_ptr<QMenu> rightEndpoints(rightCard.buildEndpointMenu(&rightCard));
    explorerAction(*rightEndpoints, QString::fromUtf8("Missing bucket (S3 Uyumlu)"))->trigger();
    explorerWaitListed(*model->leftPane());
    explorerWaitListed(*model->rightPane());
    ASSERT_EQ(leftCard.listingState(), PaneBrowserCard::ListingState::error);
    ASSERT_EQ(rightCard.listingState(), PaneBrowserCard::ListingState::error);
    EXPECT_EQ(leftCard.errorLabel()->text().toStdString(),
              "Geçersiz bağlantı profili: SFTP anahtar dosyası \"" + *sftp.privateKeyPath + "\" yok.");
    const std::string bucketError = rightCard.errorLabel()->text().toStdString();
    EXPECT_TRUE(bucketError.starts_with("Uzak sunucu HTTP 404 döndürdü: ")) << bucketError;
    EXPECT_NE(bucketError.find("NoSuchBucket"), std::string::npos) << "the server's own words follow" << bucketError;
    snapshot(ground, QStringLiteral("app-explorer-remote-errors-tr"));

    // The right bucket with a wrong secret.
    ConnectionProfile wrongSecret = s3;
    wrongSecret.bucket = VornTestServices::value("S3_BUCKET");
    QSignalSpy saved(model.get(), &SledViewModel::profilesChanged);
    model->saveProfile(wrongSecret, std::optional<std::string>("not-the-secret"));
    ASSERT_TRUE(viewsWaitFor([&] { return saved.count() > 0; }));
    model->refresh(model->rightPane());
    explorerWaitListed(*model->rightPane());
    ASSERT_EQ(rightCard.listingState(), PaneBrowserCard::ListingState::error);
    const std::string secretError = rightCard.errorLabel()->text().toStdString();
    EXPECT_TRUE(secretError.starts_with("Uzak sunucu HTTP 403 döndürdü: ")) << secretError;
    snapshot(ground, QStringLiteral("app-explorer-wrong-secret-tr"));
    model->setLanguage(VornLanguage::en);
}
