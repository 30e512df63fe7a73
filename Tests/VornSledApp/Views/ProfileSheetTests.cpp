#include "ConnectionProfileSheetView.h"
#include "MainSledWorkspaceView.h"
#include "SledCredentialStore.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"
#include "VornGlassInputField.h"
#include "VornMessageText.h"
#include "VornSegmentedControl.h"
#include "VornSpinner.h"
#include "VornTestHTTPServer.h"
#include "VornTestKeyringDaemons.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextDocument>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>

// The port is parsed by hand: the whole text, an optional sign and digits, within 64 bits; any
// other text is 22.
TEST(ProfileFormState, PortTextsAreParsedExactly) {
    const std::vector<std::pair<std::string, std::int64_t>> cases{
        {"2222", 2222}, {"+2222", 2222}, {"-1", -1}, {"0", 0}, {" 2222", 22}, {"2222 ", 22}, {"22a", 22},
        {"", 22}, {"+", 22}, {"-", 22}, {"0x16", 22}, {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", 22}, {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"-9223372036854775809", 22}, {"٢٢", 22},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(ProfileFormState::parsePort(text), port) << "'" << text << "'";
    }
}

// Defaults of a new form, the kind switch and what the built profile keeps.
TEST(ProfileFormState, KindSwitchAndBuiltProfile) {
    ProfileFormState form(std::nullopt);
    EXPECT_FALSE(form.isEditing);
    EXPECT_EQ(form.kind, ConnectionProtocolKind::cloudflareR2);
    EXPECT_EQ(form.region, "auto");
    EXPECT_TRUE(form.usePathStyle);
    EXPECT_EQ(form.portString, "22");
    EXPECT_EQ(form.privateKeyPath, "~/.ssh/id_ed25519");
    EXPECT_EQ(form.initialRemotePath, "/");
    EXPECT_EQ(form.sftpAuthMethod, SFTPAuthMethod::sshKey);
    EXPECT_FALSE(form.canSave());
    EXPECT_NE(ProfileFormState(std::nullopt).profileID, form.profileID);

    form.chooseKind(ConnectionProtocolKind::awsS3);
    EXPECT_EQ(form.region, "us-east-1");
    form.region = "eu-west-2";
    form.usePathStyle = false;
    form.chooseKind(ConnectionProtocolKind::awsS3);
    EXPECT_EQ(form.region, "eu-west-2");
    form.chooseKind(ConnectionProtocolKind::cloudflareR2);
    EXPECT_EQ(form.region, "auto");
    EXPECT_TRUE(form.usePathStyle);

    form.name = " \t ";
    EXPECT_FALSE(form.canSave());
    form.name = "  Web  ";
    form.host = " host.example ";
    form.bucket = "assets";
    form.privateKeyPath = "   ";
    form.initialRemotePath = " /srv ";
    form.chooseKind(ConnectionProtocolKind::sftp);
    const ConnectionProfile profile = form.buildProfile();
    EXPECT_EQ(profile.name, "Web");
    EXPECT_EQ(profile.host, "host.example");
    EXPECT_EQ(profile.bucket, "assets");  // the other kind's fields travel along
    EXPECT_FALSE(profile.privateKeyPath.has_value());
    EXPECT_EQ(profile.initialRemotePath, " /srv ");
    form.initialRemotePath = "  ";
    EXPECT_EQ(form.buildProfile().initialRemotePath, "/");
}

namespace {

// Shows the workspace at its usual size and opens a new connection's sheet in it; the sheet shown.
ConnectionProfileSheetView* showNewProfileSheet(SledViewModel& model, MainSledWorkspaceView& view) {
    view.resize(1228, 700);
    view.show();
    model.openNewProfileSheet();
    return view.profileSheet();
}

}  // namespace

class ProfileSheetTest : public ViewsTest {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        VORN_REQUIRE_TOOL("secret-tool");
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
    }
    void TearDown() override {
        if (bus_) {
            for (const VornUUID& id : made_) {
                SledCredentialStore::deleteSecret(id);
            }
        }
    }
    std::vector<VornUUID> made_;

private:
    std::optional<VornScopedEnv> bus_;
};

// The editor on the real keyring: typing a new connection, Return that presses nothing, a failing
// test shown in the sheet, Save writing the secret that secret-tool reads back, and editing it
// again with the secret loaded and Delete.
TEST_F(ProfileSheetTest, EditorSavesToTheKeyringAndReturnPressesNothing) {
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    ConnectionProfileSheetView* sheet = showNewProfileSheet(*model, view);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->size(), QSize(600, 550));
    EXPECT_EQ(sheet->titleLabel()->text(), "New SFTP / AWS S3 / Cloudflare R2 Connection");
    EXPECT_TRUE(sheet->kindButton(ConnectionProtocolKind::cloudflareR2)->isSelected());
    EXPECT_FALSE(sheet->deleteButton()->isVisible());
    EXPECT_FALSE(sheet->saveButton()->isEnabled());
    made_.push_back(sheet->form().profileID);
    snapshot(*sheet, QStringLiteral("app-profile-sheet-new-en"));

    QTest::keyClicks(sheet->field("name"), "Assets R2");
    QTest::keyClicks(sheet->field("bucket"), "assets");
    QTest::keyClick(sheet->field("name"), Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(model->showingProfileSheet());
    EXPECT_TRUE(sheet->saveButton()->isEnabled());

    // Tested with no secret: the model's own error comes back into the sheet.
    QTest::mouseClick(sheet->testButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return !sheet->form().isTesting; }));
    ASSERT_TRUE(sheet->form().testFeedback.has_value());
    EXPECT_FALSE(sheet->form().testSucceeded);
    EXPECT_NE(sheet->feedbackLabel()->text().indexOf("Secret Access Key"), -1);
    model->setLanguage(VornLanguage::tr);
    snapshot(*sheet, QStringLiteral("app-profile-sheet-new-tr"));
    model->setLanguage(VornLanguage::en);

    QTest::keyClicks(sheet->field("secretAccessKey"), "r2-s3cret");
    QSignalSpy toasts(model.get(), &SledViewModel::toastShown);
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return toasts.count() >= 1 && model->profiles().size() == 1; }));
    EXPECT_FALSE(model->showingProfileSheet());
    EXPECT_EQ(model->profiles().front().name, "Assets R2");
    const VornShellResult stored = vornShell("secret-tool lookup service " +
                                             vornShellQuote(std::string(SledCredentialStore::service)) + " account " +
                                             vornShellQuote(model->profiles().front().id.uuidString()));
    EXPECT_EQ(stored.output, "r2-s3cret");

    // Editing: the secret arrives from the keyring; Delete removes the stored profile.
    model->openEditProfileSheet(model->profiles().front());
    sheet = view.profileSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->titleLabel()->text(), "Edit Server Connection");
    ASSERT_TRUE(viewsWaitFor([&] { return sheet->form().secretLookup.has_value(); }));
    EXPECT_EQ(sheet->field("secretAccessKey")->text(), "r2-s3cret");
    EXPECT_TRUE(sheet->deleteButton()->isVisibleTo(sheet));
    QTest::keyClick(sheet->field("bucket"), Qt::Key_Return);
    EXPECT_EQ(model->profiles().size(), 1u);
    snapshot(*sheet, QStringLiteral("app-profile-sheet-edit-en"));
    QTest::mouseClick(sheet->deleteButton(), Qt::LeftButton);
    EXPECT_TRUE(model->profiles().empty());
    EXPECT_FALSE(model->showingProfileSheet());
}

// A test result that arrives after the sheet closed is dropped, and the flag closes the sheet.
TEST_F(ViewsTest, ATestResultAfterTheSheetClosedIsDropped) {
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    view.show();
    model->openNewProfileSheet();
    QPointer<ConnectionProfileSheetView> sheet = view.profileSheet();
    ASSERT_TRUE(sheet);
    sheet->runConnectionTest();
    EXPECT_TRUE(sheet->form().isTesting);
    model->setShowingProfileSheet(false);
    ASSERT_TRUE(viewsWaitFor([&] { return sheet.isNull(); }));
    // A later test of the same kind has answered, so the first one's result has been posted (to
    // nobody: under the sanitiser a write into the closed sheet would fail the test).
    bool answered = false;
    model->testConnection(ProfileFormState(std::nullopt).buildProfile(), std::nullopt,
                          [&](const std::optional<std::string>&) { answered = true; });
    ASSERT_TRUE(viewsWaitFor([&] { return answered; }));
    QCoreApplication::processEvents();
}

// Typed into the SFTP layout, Test Connection logs in to the loopback sshd off the GUI thread and
// reports success in the sheet; nothing is saved by a test.
TEST_F(ViewsTest, TestConnectionReachesTheLoopbackSSHServer) {
    VORN_REQUIRE_SERVICE("sshd");
    // The login trusts the server's key through the user's known hosts, here a private home.
    VornTestTempDir home;
    std::filesystem::create_directories(home.path() / ".ssh");
    std::filesystem::copy_file(VornTestServices::value("SSHD_KNOWN_HOSTS"), home.path() / ".ssh" / "known_hosts");
    VornScopedEnv homeEnv("HOME", home.path().string());
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    view.show();
    model->openNewProfileSheet();
    ConnectionProfileSheetView* sheet = view.profileSheet();
    ASSERT_NE(sheet, nullptr);
    QTest::mouseClick(sheet->kindButton(ConnectionProtocolKind::sftp), Qt::LeftButton);
    EXPECT_EQ(sheet->form().kind, ConnectionProtocolKind::sftp);
    QTest::keyClicks(sheet->field("name"), "Loopback");
    QTest::keyClicks(sheet->field("host"), QString::fromStdString(VornTestServices::value("SSHD_HOST")));
    sheet->field("port")->clear();
    QTest::keyClicks(sheet->field("port"), QString::fromStdString(VornTestServices::value("SSHD_PORT")));
    QTest::keyClicks(sheet->field("username"), QString::fromStdString(VornTestServices::value("SSHD_USER")));
    sheet->field("privateKeyPath")->clear();
    QTest::keyClicks(sheet->field("privateKeyPath"), QString::fromStdString(VornTestServices::value("SSHD_KEY")));
    QTest::mouseClick(sheet->testButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->testButton()->isEnabled());
    ASSERT_TRUE(viewsWaitFor([&] { return !sheet->form().isTesting; }));
    EXPECT_TRUE(sheet->form().testSucceeded) << sheet->feedbackLabel()->text().toStdString();
    EXPECT_EQ(sheet->feedbackLabel()->text(), "Connection verified successfully!");
    EXPECT_TRUE(model->profiles().empty());
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        model->setLanguage(language);
        snapshot(*sheet, QStringLiteral("app-profile-sheet-sftp-") + QString::fromUtf8(language.code().data()));
    }
    model->setLanguage(VornLanguage::en);
}

// A stored secret the keyring cannot give back as text is shown as kept, and saving the edited
// profile leaves it exactly as it was.
TEST_F(ProfileSheetTest, AnUnreadableSecretIsShownAsKeptAndSavedUntouched) {
    auto model = makeModel();
    ConnectionProfile stored;
    stored.id = VornUUID::random();
    stored.name = "Locked";
    stored.kind = ConnectionProtocolKind::awsS3;
    stored.bucket = "bucket";
    made_.push_back(stored.id);
    QSignalSpy toasts(model.get(), &SledViewModel::toastShown);
    model->saveProfile(stored, "readable");
    ASSERT_TRUE(viewsWaitFor([&] { return toasts.count() >= 1; }));
    const std::string lookup = "secret-tool lookup service " + vornShellQuote(std::string(SledCredentialStore::service)) +
                               " account " + vornShellQuote(stored.id.uuidString());
    ASSERT_EQ(vornShell("printf '\\377\\376' | secret-tool store --label=x service " +
                        vornShellQuote(std::string(SledCredentialStore::service)) + " account " +
                        vornShellQuote(stored.id.uuidString()))
                  .exitCode,
              0);

    MainSledWorkspaceView view(*model);
    view.show();
    model->openEditProfileSheet(model->profiles().front());
    ConnectionProfileSheetView* sheet = view.profileSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(viewsWaitFor([&] { return sheet->form().secretLookup.has_value(); }));
    EXPECT_TRUE(sheet->form().secretIsKept());
    EXPECT_TRUE(sheet->field("secretAccessKey")->text().isEmpty());
    EXPECT_EQ(sheet->field("secretAccessKey")->placeholderText(),
              "Kept: the stored secret could not be read and stays as it is");
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(sheet->field("secretAccessKey")->placeholderText(),
              QString::fromUtf8("Korunuyor: kayıtlı gizli bilgi okunamadı, olduğu gibi kalır"));
    snapshot(*sheet, QStringLiteral("app-profile-sheet-kept-tr"));
    model->setLanguage(VornLanguage::en);

    QTest::keyClicks(sheet->field("name"), " renamed");
    const qsizetype before = toasts.count();
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return toasts.count() > before; }));
    EXPECT_EQ(model->profiles().front().name, "Locked renamed");
    const VornShellResult kept = vornShell(lookup + " | od -An -tx1");
    EXPECT_NE(kept.output.find("ff fe"), std::string::npos) << kept.output;
}

// A storage server whose error reply is long and has no spaces to break at: while the test waits
// for it the Test button turns a spinner in its middle; the reply's first 400 bytes then show
// whole in the message area, wrapped inside the long token and scrolled rather than clipped,
// and can be selected and copied as they are.
TEST_F(ViewsTest, ALongServerReplyIsReadWholeAndTheTestShowsItsSpinner) {
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><Code>NoSuchBucket</Code><Message>";
    while (body.size() < 520) {
        body += "The-specified-bucket-does-not-exist-";
    }
    std::mutex gate;
    std::condition_variable opened;
    bool released = false;
    VornTestHTTPServer server([&](const VornRecordedRequest&) {
        std::unique_lock lock(gate);
        opened.wait(lock, [&] { return released; });
        return VornTestHTTPReply{VornTestHTTPReply::Action::respond, 404, {{"Content-Type", "application/xml"}}, body};
    });
    auto release = [&] {
        std::lock_guard lock(gate);
        released = true;
        opened.notify_all();
    };
    struct Release {
        std::function<void()> run;
        ~Release() { run(); }
    } releaseOnExit{release};

    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    ConnectionProfileSheetView* sheet = showNewProfileSheet(*model, view);
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    QTest::mouseClick(sheet->kindButton(ConnectionProtocolKind::s3Compatible), Qt::LeftButton);
    QTest::keyClicks(sheet->field("name"), "Loopback store");
    QTest::keyClicks(sheet->field("endpointURL"), QString::fromStdString(server.baseURL()));
    QTest::keyClicks(sheet->field("bucket"), "missing-bucket");
    QTest::keyClicks(sheet->field("accessKeyID"), "AKIALOOPBACK");
    QTest::keyClicks(sheet->field("secretAccessKey"), "s3cret");

    QTest::mouseClick(sheet->testButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return server.requestCount() >= 1; }));
    QCoreApplication::processEvents();
    ASSERT_TRUE(sheet->form().isTesting);
    VornSpinner* spinner = sheet->testSpinner();
    EXPECT_TRUE(spinner->isVisible());
    EXPECT_TRUE(spinner->isRunning());
    const QRect place(spinner->mapTo(sheet->testButton(), QPoint(0, 0)), spinner->size());
    EXPECT_TRUE(sheet->testButton()->rect().contains(place)) << "inside the button";
    EXPECT_LE(std::abs(place.center().x() - sheet->testButton()->rect().center().x()), 1);
    EXPECT_GE(sheet->testButton()->width(), spinner->width() + 16) << "the button keeps its labelled width";
    spinner->setAngle(0);
    snapshot(*sheet, QStringLiteral("app-profile-sheet-testing-en"));

    release();
    ASSERT_TRUE(viewsWaitFor([&] { return !sheet->form().isTesting; }));
    EXPECT_FALSE(spinner->isVisible());
    EXPECT_FALSE(sheet->form().testSucceeded);
    VornMessageText& message = *sheet->feedbackLabel();
    const QString shown = message.text();
    EXPECT_NE(shown.indexOf(QString::fromStdString(body.substr(0, 400))), -1) << shown.toStdString();
    EXPECT_EQ(shown.indexOf(QString::fromStdString(body.substr(0, 401))), -1) << "only the first 400 bytes";
    // Wrapped inside the long token: nothing reaches past the visible width.
    QCoreApplication::processEvents();
    EXPECT_LE(message.document()->size().width(), message.viewport()->width() + 1);
    EXPECT_GT(message.document()->size().height(), message.viewport()->height()) << "more than the area: it scrolls";
    EXPECT_GT(message.verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(message.isReadOnly());
    message.selectAll();
    message.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shown);
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        model->setLanguage(language);
        snapshot(*sheet, QStringLiteral("app-profile-sheet-long-error-") + QString::fromUtf8(language.code().data()));
    }
    model->setLanguage(VornLanguage::en);
}

// The sheet when the keyring lets a save down: refused (no unlocked keyring and nobody to answer
// its prompt) or silent (its daemon held still past the deadline). The sheet stays open with all
// that was typed and a message a person can read, in both languages; the pictures are kept.
class ProfileSheetKeyringTest : public ProfileSheetTest {
protected:
    void saveIntoFailingKeyring(const std::string& state) {
        for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
            SCOPED_TRACE(state + " " + std::string(language.rawValue()));
            SledModelEnvironment environment = this->environment();
            // Only a keyring held still meets the deadline; a refusing one answers, however slowly
            // a busy machine lets it, and must be heard.
            if (state == "silent") {
                environment.keyringDeadline = std::chrono::milliseconds(300);
            }
            auto model = std::make_unique<SledViewModel>(environment);
            ASSERT_TRUE(viewsWaitFor([&] { return !model->leftPane()->isLoading() && !model->rightPane()->isLoading(); }));
            model->setLanguage(language);
            MainSledWorkspaceView view(*model);
            ConnectionProfileSheetView* sheet = showNewProfileSheet(*model, view);
            ASSERT_NE(sheet, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
            made_.push_back(sheet->form().profileID);
            QTest::keyClicks(sheet->field("name"), "Assets R2");
            QTest::keyClicks(sheet->field("bucket"), "assets");
            QTest::keyClicks(sheet->field("secretAccessKey"), "r2-s3cret");

            std::optional<VornPausedKeyring> paused;
            if (state == "silent") {
                paused.emplace();
                ASSERT_TRUE(paused->paused());
            }
            QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
            ASSERT_TRUE(viewsWaitFor([&] { return sheet->form().testFeedback.has_value(); }));
            const std::string expected =
                state == "refused"
                    ? model->t("The system keyring refused to store the password or secret key, so nothing was "
                               "saved. Unlock the keyring (or start one) and save again.",
                               "Sistem anahtarlığı parolayı ya da gizli anahtarı saklamayı reddetti; hiçbir şey "
                               "kaydedilmedi. Anahtarlığın kilidini açın (ya da bir anahtarlık başlatın) ve yeniden "
                               "kaydedin.")
                    : model->t("The system keyring did not answer", "Sistem anahtarlığı yanıt vermedi");
            EXPECT_EQ(sheet->feedbackLabel()->text().toStdString(), expected);
            EXPECT_TRUE(sheet->isVisible());
            EXPECT_TRUE(model->showingProfileSheet());
            EXPECT_EQ(sheet->field("name")->text(), "Assets R2");
            EXPECT_EQ(sheet->field("bucket")->text(), "assets");
            EXPECT_EQ(sheet->field("secretAccessKey")->text(), "r2-s3cret");
            EXPECT_TRUE(sheet->saveButton()->isEnabled());  // ready to try again
            EXPECT_TRUE(model->profiles().empty());
            snapshot(*sheet, QString::fromStdString("app-profile-sheet-keyring-" + state + "-" +
                                                    std::string(language.rawValue())));
            if (paused) {
                paused->resume();
                // The abandoned store lands now; a read queued behind it shows when it has.
                std::optional<SledSecretLookup> after;
                model->loadProfileSecret(sheet->form().profileID, [&](const SledSecretLookup& found) { after = found; });
                ASSERT_TRUE(viewsWaitFor([&] { return after.has_value(); }));
            }
            model->setLanguage(VornLanguage::en);
        }
    }
};

TEST_F(ProfileSheetKeyringTest, ARefusingKeyringKeepsTheSheetAndWhatWasTyped) {
    VORN_REQUIRE_TOOL("gnome-keyring-daemon");
    vornRunInFreshProcess(
        [&] {
            VornRefusingKeyring refusing;
            ASSERT_EQ(refusing.failure(), "");
            saveIntoFailingKeyring("refused");
        },
        {data.path(), left.path(), right.path()});
}

TEST_F(ProfileSheetKeyringTest, ASilentKeyringKeepsTheSheetAndWhatWasTyped) {
    saveIntoFailingKeyring("silent");
}
