#pragma once

#include "ModelTestSupport.h"

#include "../../VornSledCore/S3/S3ProviderTestSupport.h"
#include "SFTPTestSupport.h"
#include "SledCredentialStore.h"

#include <QSignalSpy>

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

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
        for (const std::filesystem::path& folder : serverFolders_) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    }
    // A fresh folder in the loopback sshd login's home, made by this process's user but open to
    // the login; removed after the test.
    std::filesystem::path serverFolder() {
        const std::filesystem::path folder = std::filesystem::path(VornTestServices::value("SSHD_HOME")) / randomFolder();
        serverFolders_.push_back(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::all, std::filesystem::perm_options::replace);
        return folder;
    }
    // A workspace whose right pane shows a profile of the loopback sshd's key login (saved
    // without a secret) at its initial path `initialPath`, listed.
    std::unique_ptr<SledViewModel> modelShowingServer(const std::string& initialPath) {
        ConnectionProfile profile = sftpTestProfile();
        profile.id = VornUUID::random();
        profile.initialRemotePath = initialPath;
        auto environment = this->environment();
        environment.providerFactory = sftpTestProviderFactory();
        auto model = makeModel(environment);
        saveProfile(*model, profile, std::nullopt);
        model->selectEndpoint(PaneEndpoint::remote(profile.id), model->rightPane());
        waitForListing(*model->rightPane());
        EXPECT_FALSE(model->rightPane()->errorMessage().has_value()) << *model->rightPane()->errorMessage();
        return model;
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
    std::vector<std::filesystem::path> serverFolders_;
};

// Each row of the model's sync plan as "<action> <relative name> (<reason>)".
inline std::vector<std::string> syncRows(const SledViewModel& model) {
    std::vector<std::string> rows;
    for (const SyncPlanItem& item : model.syncPlanItems()) {
        rows.push_back(rawValue(item.action()) + " " + item.relativeName() + " (" + item.reason() + ")");
    }
    return rows;
}
