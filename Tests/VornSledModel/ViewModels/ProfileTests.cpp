#include "ModelTestSupport.h"

#include "SledCredentialStore.h"
#include "VornTestKeyringDaemons.h"
#include "VornTestTmpfs.h"
#include "VornXDG.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>

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

namespace {

// The real keyring, counting the calls that came back: a call still out after the model is gone
// shows that the model did not wait for it.
class CountingKeyring final : public SledCredentialAccess {
public:
    std::atomic<int> started{0};
    std::atomic<int> finished{0};

    std::optional<std::string> load(const VornUUID& profileID) override {
        const Count count(*this);
        return real_.load(profileID);
    }
    std::optional<std::string> loadOrThrow(const VornUUID& profileID) override {
        const Count count(*this);
        return real_.loadOrThrow(profileID);
    }
    void save(const std::string& secret, const VornUUID& profileID) override {
        const Count count(*this);
        real_.save(secret, profileID);
    }
    void remove(const VornUUID& profileID) override {
        const Count count(*this);
        real_.remove(profileID);
    }

private:
    struct Count {
        explicit Count(CountingKeyring& owner) : owner_(owner) { owner_.started += 1; }
        ~Count() { owner_.finished += 1; }
        CountingKeyring& owner_;
    };
    SledKeyringCredentials real_;
};

// What a save reported to its caller; nothing until it did.
struct SaveOutcome {
    bool reported = false;
    std::optional<std::string> failure;
    std::function<void(const std::optional<std::string>&)> callback() {
        return [this](const std::optional<std::string>& text) {
            reported = true;
            failure = text;
        };
    }
};

std::optional<SledSecretLookup> lookUp(SledViewModel& model, const VornUUID& id) {
    std::optional<SledSecretLookup> lookup;
    model.loadProfileSecret(id, [&](const SledSecretLookup& found) { lookup = found; });
    EXPECT_TRUE(modelWaitFor([&] { return lookup.has_value(); }));
    return lookup;
}

}  // namespace

// Part of the keyring work runs off the GUI thread, but saves and deletes still take effect in the
// order the user made them: a keyring that takes 1.5 s to store (its daemon held still meanwhile)
// must not let an older save land over a newer one, nor bring back a deleted profile or secret.
TEST_F(ModelKeyringTest, SavesAndDeletesTakeEffectInTheOrderTheyWereMade) {
    struct Case {
        std::string name;
        bool deleteSecond;  // else the second step saves the profile renamed, without a secret
    };
    for (const Case& c : {Case{"rename", false}, Case{"delete", true}}) {
        SCOPED_TRACE(c.name);
        auto model = makeModel();
        ConnectionProfile made = profile(ConnectionProtocolKind::sftp, "First");
        made.sftpAuthMethod = SFTPAuthMethod::password;
        SaveOutcome first;
        SaveOutcome second;
        {
            VornPausedKeyring paused;
            ASSERT_TRUE(paused.paused());
            model->saveProfile(made, "pw-" + c.name, first.callback());
            QTest::qWait(100);
            if (c.deleteSecond) {
                model->deleteProfile(made);
            } else {
                ConnectionProfile renamed = made;
                renamed.name = "Second";
                model->saveProfile(renamed, std::nullopt, second.callback());
            }
            QTest::qWait(1400);
            EXPECT_FALSE(first.reported);  // still storing: the keyring has not answered
        }
        ASSERT_TRUE(modelWaitFor([&] { return first.reported; }));
        EXPECT_FALSE(first.failure.has_value()) << *first.failure;
        // The lane runs keyring calls in order, so this read comes after the delete, if any.
        const std::optional<SledSecretLookup> secret = lookUp(*model, made.id);
        ASSERT_TRUE(secret.has_value());
        const std::vector<ConnectionProfile> stored = SledProfileRepository(data.path()).currentSnapshot().profiles;
        const auto isMade = [&](const ConnectionProfile& candidate) { return candidate.id == made.id; };
        if (c.deleteSecond) {
            EXPECT_TRUE(std::none_of(model->profiles().begin(), model->profiles().end(), isMade));
            EXPECT_TRUE(std::none_of(stored.begin(), stored.end(), isMade));
            EXPECT_EQ(secret->state, SledSecretLookup::State::absent);
        } else {
            ASSERT_TRUE(second.reported);
            ASSERT_EQ(model->profiles().size(), 1u);
            EXPECT_EQ(model->profiles()[0].name, "Second");
            ASSERT_EQ(stored.size(), 1u);
            EXPECT_EQ(stored[0].name, "Second");
            EXPECT_EQ(secret->value, "pw-rename");
        }
    }
}

// With the keyring daemon held still: SFTP panes that log in with a key read no secret and list at
// once; everything else that needs the keyring gives up after the model's deadline with a clear
// error, and destroying the model waits for none of the calls still out.
TEST_F(ModelKeyringTest, ASilentKeyringAnswersWithinTheDeadlineAndNeverHoldsUpQuitting) {
    ModelMemoryRemote keyLogin;
    keyLogin.store.addFile("/notes.txt", "n");
    keyLogin.install(data.path());
    auto credentials = std::make_shared<CountingKeyring>();
    SledModelEnvironment environment = this->environment();
    environment.credentials = credentials;
    environment.providerFactory = keyLogin.factory();
    environment.keyringDeadline = std::chrono::milliseconds(300);
    auto model = makeModel(environment);
    model->setLanguage(VornLanguage::en);  // another test may have left the shared choice in Turkish
    ModelToastLog toasts(*model);
    const ConnectionProfile bucket = profile(ConnectionProtocolKind::awsS3, "Bucket");
    save(*model, toasts, bucket, std::nullopt);
    const std::string silent = "The system keyring did not answer";

    VornPausedKeyring paused;
    ASSERT_TRUE(paused.paused());
    PaneBrowserState& left = *model->leftPane();
    PaneBrowserState& right = *model->rightPane();
    model->selectEndpoint(keyLogin.endpoint(), &left);
    model->selectEndpoint(PaneEndpoint::remote(bucket.id), &right);
    waitForListing(left);
    waitForListing(right);
    EXPECT_EQ(left.errorMessage(), std::nullopt);
    EXPECT_EQ(names(left.entries()), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(right.errorMessage(), silent);

    SaveOutcome saved;
    ConnectionProfile withPassword = profile(ConnectionProtocolKind::sftp, "With password");
    withPassword.sftpAuthMethod = SFTPAuthMethod::password;
    model->saveProfile(withPassword, "pw", saved.callback());
    ASSERT_TRUE(modelWaitFor([&] { return saved.reported; }));
    EXPECT_EQ(saved.failure, silent);
    EXPECT_EQ(toasts.last(), silent);
    EXPECT_TRUE(toasts.messages.back().isError);
    EXPECT_EQ(model->profiles().size(), 2u);  // the key-login profile and the bucket: nothing new

    const std::optional<SledSecretLookup> lookup = lookUp(*model, bucket.id);
    EXPECT_EQ(lookup->state, SledSecretLookup::State::unreadable);
    EXPECT_EQ(lookup->errorText, silent);

    model->deleteProfile(bucket);
    ASSERT_TRUE(toasts.waitForCount(toasts.messages.size() + 1));
    EXPECT_EQ(toasts.last(), "The system keyring did not answer. The secret is removed once it does.");

    // One more read is out when the model goes; quitting does not wait for it.
    model->selectEndpoint(PaneEndpoint::remote(withPassword.id), &left);
    model.reset();
    EXPECT_LT(credentials->finished.load(), credentials->started.load());
    paused.resume();
    // The abandoned calls end on their own threads, with nobody left to tell. The store that timed
    // out lands once the keyring wakes, but the profile was never saved, so its secret goes again.
    ASSERT_TRUE(modelWaitFor([&] {
        return credentials->finished.load() == credentials->started.load() && !credentials->load(withPassword.id);
    }));
}

// A profile edited to another server and saved while the keyring daemon is held still past the
// deadline keeps its old server; once the keyring wakes, the new secret that landed late is undone,
// so the kept profile never sends it to the old server. Also after two such saves in a row, and for
// a profile that had no secret.
TEST_F(ModelKeyringTest, AStoreThatAnswersTooLateLeavesTheSecretTheKeptProfileExpects) {
    struct Case {
        std::string name;
        std::optional<std::string> before;
        std::vector<std::string> late;  // the secrets saved, one after the other, while it is still
    };
    const std::vector<Case> cases{
        {"edited", "secret-A", {"secret-B"}},
        {"edited twice", "secret-A", {"secret-B", "secret-C"}},
        {"no secret before", std::nullopt, {"secret-B"}},
    };
    const std::string silent = "The system keyring did not answer";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto credentials = std::make_shared<CountingKeyring>();
        SledModelEnvironment environment = this->environment();
        environment.credentials = credentials;
        environment.keyringDeadline = std::chrono::milliseconds(300);
        auto model = makeModel(environment);
        model->setLanguage(VornLanguage::en);
        ModelToastLog toasts(*model);
        ConnectionProfile kept = profile(ConnectionProtocolKind::sftp, "P");
        kept.sftpAuthMethod = SFTPAuthMethod::password;
        kept.host = "old-server.example";
        save(*model, toasts, kept, std::nullopt);
        if (c.before) {
            SledCredentialStore::saveSecret(*c.before, kept.id);
        }
        ConnectionProfile moved = kept;
        moved.host = "new-server.example";

        std::vector<SaveOutcome> outcomes(c.late.size());
        {
            VornPausedKeyring paused;
            ASSERT_TRUE(paused.paused());
            for (std::size_t i = 0; i < c.late.size(); ++i) {
                model->saveProfile(moved, c.late[i], outcomes[i].callback());
            }
            ASSERT_TRUE(modelWaitFor([&] {
                return std::all_of(outcomes.begin(), outcomes.end(), [](const SaveOutcome& o) { return o.reported; });
            }));
        }
        for (const SaveOutcome& outcome : outcomes) {
            EXPECT_EQ(outcome.failure, silent);
        }
        const auto found = std::find_if(model->profiles().begin(), model->profiles().end(),
                                        [&](const ConnectionProfile& candidate) { return candidate.id == kept.id; });
        ASSERT_NE(found, model->profiles().end());
        EXPECT_EQ(found->host, "old-server.example");
        // The read of the old secret, every store, and the one putting things back.
        const int calls = static_cast<int>(c.late.size()) + 2;
        ASSERT_TRUE(modelWaitFor([&] { return credentials->finished.load() >= calls; }));
        EXPECT_EQ(credentials->finished.load(), calls);
        EXPECT_EQ(SledCredentialStore::loadSecret(kept.id), c.before);
    }
}

// A keyring that refuses the secret (no unlocked collection, and nobody to answer its prompt):
// nothing is saved, and the reason reads as words, not as the keyring's ids and object paths.
TEST_F(ModelKeyringTest, ARefusedSecretSavesNothingAndSaysWhyReadably) {
    VORN_REQUIRE_TOOL("gnome-keyring-daemon");
    vornRunInFreshProcess(
        [&] {
            VornRefusingKeyring refusing;
            ASSERT_EQ(refusing.failure(), "");
            auto model = makeModel();
            ConnectionProfile made = profile(ConnectionProtocolKind::sftp, "Refused");
            made.sftpAuthMethod = SFTPAuthMethod::password;
            for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
                model->setLanguage(language);
                SaveOutcome outcome;
                model->saveProfile(made, "pw", outcome.callback());
                ASSERT_TRUE(modelWaitFor([&] { return outcome.reported; }));
                ASSERT_TRUE(outcome.failure.has_value());
                EXPECT_EQ(*outcome.failure,
                          model->t("The system keyring refused to store the password or secret key, so "
                                   "nothing was saved. Unlock the keyring (or start one) and save again.",
                                   "Sistem anahtarlığı parolayı ya da gizli anahtarı saklamayı reddetti; "
                                   "hiçbir şey kaydedilmedi. Anahtarlığın kilidini açın (ya da bir "
                                   "anahtarlık başlatın) ve yeniden kaydedin."));
                EXPECT_EQ(outcome.failure->find(made.id.uuidString()), std::string::npos);
                EXPECT_EQ(outcome.failure->find("/org/"), std::string::npos);
                EXPECT_TRUE(model->profiles().empty());
            }
        },
        {data.path(), left.path(), right.path()});
}

// Edits to the profile a pane shows: a new host, port, user or any other connection field is
// another server, so the old listing, selection, sync plan and preview are of no use against it.
// A new name alone is the same server.
TEST_F(ModelTest, ChangingAProfilesConnectionInvalidatesWhatWasMadeWithIt) {
    ModelMemoryRemote remote;
    remote.store.addFile("/a.txt", "a");
    remote.store.addFile("/b.txt", "b");
    remote.install(data.path());
    auto environment = this->environment();
    environment.providerFactory = remote.factory();
    auto model = makeModel(environment);
    ModelToastLog toasts(*model);
    PaneBrowserState& pane = *model->leftPane();
    model->selectEndpoint(remote.endpoint(), &pane);
    waitForListing(pane);
    model->openSyncPreview();
    ASSERT_TRUE(modelWaitFor([&] { return !model->isComputingSyncPlan(); }));
    ASSERT_FALSE(model->syncPlanItems().empty());
    model->openQuickPreview(entryNamed(pane, "a.txt"), &pane);
    ASSERT_TRUE(modelWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_TRUE(model->previewResult().has_value());
    select(pane, {"a.txt"});

    ConnectionProfile edited = remote.profile;
    edited.name = "Renamed only";
    model->saveProfile(edited, std::nullopt);
    EXPECT_EQ(model->profileConnectionGeneration(remote.profile.id), 0u);
    EXPECT_EQ(pane.selectedPaths().size(), 1u);
    EXPECT_TRUE(pane.listingIsCurrent());

    struct Case {
        std::string field;
        std::function<void(ConnectionProfile&)> change;
    };
    const std::vector<Case> cases = {
        {"host", [](ConnectionProfile& p) { p.host = "elsewhere.example"; }},
        {"port", [](ConnectionProfile& p) { p.port = 2022; }},
        {"user", [](ConnectionProfile& p) { p.username = "other"; }},
        {"authentication", [](ConnectionProfile& p) { p.sftpAuthMethod = SFTPAuthMethod::sshAgent; }},
        {"key path", [](ConnectionProfile& p) { p.privateKeyPath = "~/.ssh/other"; }},
        {"endpoint", [](ConnectionProfile& p) { p.endpointURL = "http://127.0.0.1:9"; }},
        {"bucket", [](ConnectionProfile& p) { p.bucket = "other-bucket"; }},
        {"region", [](ConnectionProfile& p) { p.region = "eu-west-1"; }},
        {"access key", [](ConnectionProfile& p) { p.accessKeyID = "AKIAOTHER"; }},
    };
    std::uint64_t generation = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        waitForListing(pane);
        select(pane, {"b.txt"});
        c.change(edited);
        model->saveProfile(edited, std::nullopt);
        EXPECT_GT(model->profileConnectionGeneration(remote.profile.id), generation);
        generation = model->profileConnectionGeneration(remote.profile.id);
        // Nothing of the old server stays to be acted on while the new one is listed.
        EXPECT_TRUE(pane.selectedPaths().empty());
        EXPECT_FALSE(pane.listingIsCurrent());
        EXPECT_TRUE(pane.isLoading());
        waitForListing(pane);
        EXPECT_TRUE(pane.listingIsCurrent());
    }

    // The plan and the preview were made against the first server.
    EXPECT_TRUE(model->syncPlanItems().empty());
    EXPECT_FALSE(model->isComputingSyncPlan());
    EXPECT_FALSE(model->previewResult().has_value());
    EXPECT_TRUE(model->previewError().has_value());
    std::optional<bool> saved;
    model->saveEditedPreviewText("overwritten", [&](bool ok) { saved = ok; });
    ASSERT_TRUE(modelWaitFor([&] { return saved.has_value(); }));
    EXPECT_FALSE(*saved);
    EXPECT_EQ(remote.store.file("/a.txt"), "a");
    model->executeSyncPlan();
    EXPECT_FALSE(model->isSyncingOrTransferring());
}

// A profile file that cannot be written (here: a disk with no room left) is an error, not
// "saved": the success toast never shows, and the editor hears why.
TEST_F(ModelTest, AProfileFileThatCannotBeWrittenIsAnErrorNotASuccess) {
    VornTestTmpfs disk("256k");
    VORN_REQUIRE_TMPFS(disk);
    auto environment = this->environment();
    environment.dataFolder = disk.path() / "store";
    auto model = makeModel(environment);
    model->setLanguage(VornLanguage::en);  // another test may have left the shared choice in Turkish
    ModelToastLog toasts(*model);
    ConnectionProfile made;
    made.id = VornUUID::random();
    made.name = "Kept in memory";
    SledSettings settings = model->settings();
    settings.parallelWorkers = 2;
    ASSERT_TRUE(model->saveSettings(settings, false));  // room enough yet
    {
        std::ofstream filler(disk / "filler.bin", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
        }
    }
    const std::string before = vornReadFile(disk.path() / "store" / "profiles.json");

    std::optional<std::optional<std::string>> reported;
    model->saveProfile(made, std::nullopt, [&](const std::optional<std::string>& failure) { reported = failure; });
    ASSERT_TRUE(modelWaitFor([&] { return reported.has_value(); }));
    ASSERT_TRUE(reported->has_value());
    const std::string expected = "Could not write " + (disk.path() / "store" / "profiles.json").string() +
                                 ". The change holds only until VornSled quits.";
    EXPECT_EQ(**reported, expected);
    ASSERT_EQ(toasts.messages.size(), 1u);
    EXPECT_TRUE(toasts.messages[0].isError);
    EXPECT_EQ(toasts.messages[0].text, expected);

    settings.parallelWorkers = 3;
    EXPECT_FALSE(model->saveSettings(settings, false));
    ASSERT_EQ(toasts.messages.size(), 2u);
    EXPECT_EQ(toasts.messages[1].text, expected);
    // The file kept what it had; the format is untouched.
    EXPECT_EQ(vornReadFile(disk.path() / "store" / "profiles.json"), before);
}
