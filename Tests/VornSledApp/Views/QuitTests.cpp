#include "SFTPTestSupport.h"
#include "SledProfileRepository.h"
#include "ViewsTestSupport.h"
#include "VornSledApplication.h"

#include <csignal>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

// When the program ends, the SSH connection its pane logged in with ends with it: none stays
// logged in for its idle time after the program, when nothing would be left to close it.
TEST_F(ViewsTest, QuittingEndsTheSharedSSHConnectionsOfThePanes) {
    VORN_REQUIRE_SERVICE("sshd");
    ConnectionProfile sftp = sftpTestProfile();
    sftp.id = VornUUID::random();
    sftp.initialRemotePath = VornTestServices::value("SSHD_HOME");
    SledProfileRepository(data.path()).saveProfiles({sftp});

    SledModelEnvironment environment = this->environment();
    environment.providerFactory = sftpTestProviderFactory();
    auto app = std::make_unique<VornSledApplication>(environment);
    SledViewModel& model = app->viewModel();
    ASSERT_TRUE(viewsWaitFor([&] { return !model.rightPane()->isLoading(); }));
    ASSERT_EQ(model.profiles().size(), 1u);
    model.selectEndpoint(PaneEndpoint::remote(sftp.id), model.rightPane());
    ASSERT_TRUE(viewsWaitFor([&] { return !model.rightPane()->isLoading(); }));
    ASSERT_FALSE(model.rightPane()->errorMessage().has_value()) << *model.rightPane()->errorMessage();

    // The pane's login as the provider names its connection.
    const SFTPStorageProvider login(model.profiles().front(), std::nullopt,
                                    fs::path(VornTestServices::value("SSHD_KNOWN_HOSTS")));
    const fs::path socket = login.sharedConnectionPath().value();
    const std::vector<pid_t> connections = sharedConnectionProcesses(socket, true);
    ASSERT_FALSE(connections.empty()) << "the pane's listing left no shared connection";
    // A session of the test's own on the connection keeps it from ever being idle, so that only
    // being closed can end it (as a transfer still running at the moment of quitting would).
    const VornShellResult held = vornShell(
        "ssh -F /dev/null -o BatchMode=yes -o ControlMaster=no -o " +
        vornShellQuote("ControlPath=" + SFTPLogin::sshOptionPath(socket)) +
        " vornsled-shared-connection 'sleep 600' < /dev/null > /dev/null 2>&1 & echo $!");
    const pid_t session = std::stoi(held.output);
    struct EndSession {
        pid_t pid;
        ~EndSession() { ::kill(pid, SIGKILL); }
    } endSession{session};

    app.reset();
    for (const pid_t connection : connections) {
        EXPECT_TRUE(viewsWaitFor([&] { return !vornProcessIsRunning(connection); })) << connection;
    }
    EXPECT_TRUE(viewsWaitFor([&] { return !vornProcessIsRunning(session); })) << "the session on it lives on";
    EXPECT_TRUE(sharedConnectionProcesses(socket, true).empty());
    EXPECT_FALSE(fs::exists(socket));
}
