#include "ModelTestSupport.h"

#include "SledCredentialStore.h"
#include "VornXDG.h"

// Profiles against the private keyring daemon of the test services.
class ModelKeyringTest : public ModelTest {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
    }
    void TearDown() override {
        if (bus_) {
            for (const VornUUID& id : made_) {
                SledCredentialStore::deleteSecret(id);
            }
        }
    }
    ConnectionProfile profile(ConnectionProtocolKind kind, const std::string& name) {
        ConnectionProfile made;
        made.id = VornUUID::random();
        made.name = name;
        made.kind = kind;
        made.host = "127.0.0.1";
        made.endpointURL = "http://127.0.0.1:9";
        made.bucket = "bucket";
        made_.push_back(made.id);
        return made;
    }
    static void save(SledViewModel& model, ModelToastLog& toasts, const ConnectionProfile& profile,
                     const std::optional<std::string>& secret) {
        const std::size_t before = toasts.messages.size();
        model.saveProfile(profile, secret);
        ASSERT_TRUE(toasts.waitForCount(before + 1));
    }

private:
    std::optional<VornScopedEnv> bus_;
    std::vector<VornUUID> made_;
};

TEST_F(ModelKeyringTest, SavingKeepsOrDeletesTheStoredSecretAsAskedAndKeepsTheListOrder) {
    auto model = makeModel();
    ModelToastLog toasts(*model);
    ConnectionProfile first = profile(ConnectionProtocolKind::awsS3, "First");
    const ConnectionProfile second = profile(ConnectionProtocolKind::sftp, "Second");
    save(*model, toasts, first, "s3cret");
    save(*model, toasts, second, std::nullopt);
    EXPECT_EQ(toasts.last(), "Profile saved securely in system keyring: Second");
    EXPECT_EQ(SledCredentialStore::loadSecret(first.id), "s3cret");

    first.name = "First renamed";
    save(*model, toasts, first, std::nullopt);  // nothing given: the stored secret stays
    ASSERT_EQ(model->profiles().size(), 2u);
    EXPECT_EQ(model->profiles()[0].name, "First renamed");
    EXPECT_EQ(SledCredentialStore::loadSecret(first.id), "s3cret");
    EXPECT_EQ(SledProfileRepository(data.path()).currentSnapshot().profiles.size(), 2u);

    std::optional<SledSecretLookup> lookup;
    model->loadProfileSecret(first.id, [&](const SledSecretLookup& found) { lookup = found; });
    ASSERT_TRUE(modelWaitFor([&] { return lookup.has_value(); }));
    EXPECT_EQ(lookup->state, SledSecretLookup::State::loaded);
    EXPECT_EQ(lookup->value, "s3cret");

    save(*model, toasts, first, "");  // an emptied field deletes it
    EXPECT_FALSE(SledCredentialStore::loadSecret(first.id).has_value());
    lookup.reset();
    model->loadProfileSecret(first.id, [&](const SledSecretLookup& found) { lookup = found; });
    ASSERT_TRUE(modelWaitFor([&] { return lookup.has_value(); }));
    EXPECT_EQ(lookup->state, SledSecretLookup::State::absent);

    // An object store without its secret lists with the missing-credential text.
    PaneBrowserState& pane = *model->leftPane();
    model->selectEndpoint(PaneEndpoint::remote(first.id), &pane);
    waitForListing(pane);
    EXPECT_EQ(pane.errorMessage(), "Missing system keyring credential: Secret Access Key");
    std::optional<std::optional<std::string>> tested;
    model->testConnection(first, "", [&](const std::optional<std::string>& error) { tested = error; });
    ASSERT_TRUE(modelWaitFor([&] { return tested.has_value(); }));
    EXPECT_EQ(*tested, "Missing system keyring credential: Secret Access Key");
}

TEST_F(ModelKeyringTest, ASecretThatCouldNotBeReadIsNeverOverwrittenByTheEditor) {
    auto model = makeModel();
    ModelToastLog toasts(*model);
    const ConnectionProfile stored = profile(ConnectionProtocolKind::sftp, "Stored");
    save(*model, toasts, stored, "password");

    // Another program stored bytes that are no text: the secret exists but cannot be read, and
    // the editor learns that, not "no secret".
    VORN_REQUIRE_TOOL("secret-tool");
    const std::string storeCommand = "printf '\\377\\376' | secret-tool store --label=x service " +
                                     vornShellQuote(std::string(SledCredentialStore::service)) + " account " +
                                     vornShellQuote(stored.id.uuidString());
    ASSERT_EQ(vornShell(storeCommand).exitCode, 0);
    std::optional<SledSecretLookup> lookup;
    model->loadProfileSecret(stored.id, [&](const SledSecretLookup& found) { lookup = found; });
    ASSERT_TRUE(modelWaitFor([&] { return lookup.has_value(); }));
    EXPECT_EQ(lookup->state, SledSecretLookup::State::unreadable);

    struct Case {
        std::optional<SledSecretLookup> lookup;
        bool edited;
        std::string typed;
        std::optional<std::string> saved;
    };
    const SledSecretLookup loaded{SledSecretLookup::State::loaded, "old", ""};
    const SledSecretLookup absent{SledSecretLookup::State::absent, "", ""};
    const std::vector<Case> cases = {
        {lookup, false, "", std::nullopt},           // unread and untouched: left alone
        {lookup, true, "", std::nullopt},            // unread and emptied: nothing is deleted blindly
        {lookup, true, "typed", "typed"},            // a new secret typed over it
        {std::nullopt, false, "", std::nullopt},     // not arrived yet
        {std::nullopt, true, "", std::nullopt},
        {loaded, false, "old", std::nullopt},
        {loaded, true, "", ""},                      // a read secret the user emptied: delete
        {absent, true, "new", "new"},
    };
    for (std::size_t index = 0; index < cases.size(); ++index) {
        const Case& c = cases[index];
        EXPECT_EQ(SledSecretLookup::secretToSave(c.lookup, c.edited, c.typed), c.saved) << "case " << index;
    }
    save(*model, toasts, stored, SledSecretLookup::secretToSave(lookup, true, ""));
    const VornShellResult kept = vornShell("secret-tool lookup service " +
                                           vornShellQuote(std::string(SledCredentialStore::service)) + " account " +
                                           vornShellQuote(stored.id.uuidString()) + " | od -An -tx1");
    EXPECT_NE(kept.output.find("ff fe"), std::string::npos) << kept.output;
}

TEST_F(ModelKeyringTest, DeletingAProfileShownInBothPanesBringsThemHome) {
    auto model = makeModel();
    ModelToastLog toasts(*model);
    const ConnectionProfile gone = profile(ConnectionProtocolKind::sftp, "Gone");
    save(*model, toasts, gone, "pw");
    model->selectEndpoint(PaneEndpoint::remote(gone.id), model->leftPane());
    model->selectEndpoint(PaneEndpoint::remote(gone.id), model->rightPane());
    model->deleteProfile(gone);
    EXPECT_TRUE(model->profiles().empty());
    for (PaneBrowserState* pane : {model->leftPane(), model->rightPane()}) {
        EXPECT_EQ(pane->endpoint(), PaneEndpoint::local());
        EXPECT_EQ(pane->currentPath(), VornXDG::home().string());
        waitForListing(*pane);
    }
    ASSERT_TRUE(modelWaitFor([&] { return !SledCredentialStore::loadSecret(gone.id).has_value(); }));
}
