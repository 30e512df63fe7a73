#include "ModelTestSupport.h"

#include "LANSledClient.h"
#include "LANSledServer.h"
#include "VornChecksum.h"

#include <QSignalSpy>

#include <atomic>
#include <mutex>

namespace {

// Another instance on loopback: a real LAN server of its own, with its own download folder.
class ModelPeer {
public:
    explicit ModelPeer(const std::filesystem::path& downloads) : server_("Peer", downloads, false, "1234") {
        LANServerCallbacks callbacks;
        callbacks.onClipboardReceived = [this](const LANClipboardMessage& message) {
            std::lock_guard lock(lock_);
            clipboard_.push_back(message.text);
        };
        port_ = server_.start(0, false, callbacks);
    }
    LANPeerInfo info() const {
        LANPeerInfo peer;
        peer.id = server_.deviceID();
        peer.deviceName = "Peer";
        peer.host = "127.0.0.1";
        peer.port = port_;
        return peer;
    }
    std::uint16_t port() const { return port_; }
    std::vector<std::string> clipboard() const {
        std::lock_guard lock(lock_);
        return clipboard_;
    }

private:
    LANSledServer server_;
    std::uint16_t port_ = 0;
    mutable std::mutex lock_;
    std::vector<std::string> clipboard_;
};

}  // namespace

class ModelLANTest : public ModelTest {
protected:
    VornTestTempDir downloads;

    std::unique_ptr<SledViewModel> makeLANModel(std::uint16_t configuredPort) {
        SledSettings settings;
        settings.lanDeviceName = "Workspace";
        settings.lanPort = configuredPort;
        settings.lanDownloadDirectory = downloads.path().string();
        SledProfileRepository(data.path()).saveSettings(settings);
        return makeModel();
    }
    static void settle(SledViewModel& model, QSignalSpy& settled, int count) {
        ASSERT_TRUE(modelWaitFor([&] { return settled.count() >= count; }));
        (void)model;
    }
};

TEST_F(ModelLANTest, ABusyPortFallsBackAndTheAddressShowsThePortReallyBound) {
    VornTestTempDir peerDownloads;
    ModelPeer busy(peerDownloads.path());  // holds the configured port
    auto model = makeLANModel(busy.port());
    model->setLanguage(VornLanguage::en);  // another test may have left the shared choice in Turkish
    ModelToastLog toasts(*model);
    QSignalSpy settled(model.get(), &SledViewModel::lanServicesSettled);
    EXPECT_EQ(model->lanPortalURLString(), "http://" + model->localLANIP() + ":" + std::to_string(busy.port()));
    EXPECT_TRUE(model->lanQRCodeImage().isNull());

    model->startLANServices();
    settle(*model, settled, 1);
    ASSERT_TRUE(model->isLANServerRunning());
    EXPECT_NE(model->activeLANPort(), busy.port());
    EXPECT_NE(model->activeLANPort(), 0);
    // Peers and printed codes that use the configured port are told where the server went: once,
    // as information, naming both ports.
    const std::string configured = std::to_string(busy.port());
    const std::string bound = std::to_string(model->activeLANPort());
    ASSERT_EQ(toasts.messages.size(), 1u);
    EXPECT_FALSE(toasts.messages[0].isError);
    EXPECT_EQ(toasts.messages[0].text,
              "LAN port " + configured + " is in use, so sharing runs on port " + bound + " instead.");
    model->setLanguage(VornLanguage::tr);
    model->startLANServices();  // a restart moves again, and says so in the language of the moment
    settle(*model, settled, 2);
    ASSERT_EQ(toasts.messages.size(), 2u);
    EXPECT_EQ(toasts.messages[1].text, "Yerel ağ bağlantı noktası " + configured +
                                           " kullanımda; paylaşım bunun yerine " +
                                           std::to_string(model->activeLANPort()) +
                                           " numaralı bağlantı noktasında çalışıyor.");
    model->setLanguage(VornLanguage::en);
    EXPECT_EQ(model->lanPortalURLString(),
              "http://" + model->localLANIP() + ":" + std::to_string(model->activeLANPort()));
    EXPECT_FALSE(model->lanQRCodeImage().isNull());
    EXPECT_EQ(model->lanServer().activePort(), model->activeLANPort());

    // Stopped, the address falls back to the configured port, never the old listener's.
    model->stopLANServices();
    settle(*model, settled, 3);
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_EQ(model->activeLANPort(), 0);
    EXPECT_EQ(model->lanPortalURLString(), "http://" + model->localLANIP() + ":" + std::to_string(busy.port()));

    // Saving settings restarts only what runs.
    SledSettings settings = model->settings();
    settings.lanDeviceName = "Renamed";
    model->saveSettings(settings, true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_FALSE(model->lanServer().isRunning());
}

TEST_F(ModelLANTest, AToggleWhileAStartIsInFlightActsOnTheNewestRequest) {
    auto model = makeLANModel(0);
    QSignalSpy settled(model.get(), &SledViewModel::lanServicesSettled);
    model->startLANServices();
    model->toggleLANServer();  // pressed before the start has settled: a stop
    ASSERT_TRUE(modelWaitFor([&] { return settled.count() >= 1; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_EQ(model->activeLANPort(), 0);
    EXPECT_FALSE(model->lanServer().isRunning());
    model->toggleLANServer();
    ASSERT_TRUE(modelWaitFor([&] { return model->isLANServerRunning(); }));
    EXPECT_TRUE(model->lanServer().isRunning());
}

TEST_F(ModelLANTest, FilesAndClipboardTextsComeAndGoBetweenTwoInstances) {
    VornTestTempDir peerDownloads;
    ModelPeer peer(peerDownloads.path());
    auto model = makeLANModel(0);
    ModelToastLog toasts(*model);
    QSignalSpy settled(model.get(), &SledViewModel::lanServicesSettled);
    model->startLANServices();
    settle(*model, settled, 1);
    ASSERT_TRUE(model->isLANServerRunning());

    // The peer sends a file and a clipboard text to the workspace.
    LANPeerInfo workspace;
    workspace.host = "127.0.0.1";
    workspace.port = model->activeLANPort();
    workspace.deviceName = "Workspace";
    const auto incoming = left.write("incoming.txt", "from the peer");
    const LANSledClient client;
    const LANSledUploadResponse sent = client.sendFile(incoming, workspace, "Peer", std::nullopt);
    ASSERT_TRUE(modelWaitFor([&] { return !model->receivedLANFiles().empty(); }));
    EXPECT_EQ(model->receivedLANFiles().front().fileName, "incoming.txt");
    EXPECT_EQ(vornReadFile(model->receivedLANFiles().front().savedPath), "from the peer");
    ASSERT_FALSE(model->transfers().empty());
    EXPECT_EQ(model->transfers().front().direction, SledTransferDirection::lanReceive);
    EXPECT_EQ(model->transfers().front().sourceLabel, "LAN (Peer)");
    EXPECT_EQ(model->transfers().front().isSHA256Verified, model->receivedLANFiles().front().verifiedMatch);
    EXPECT_EQ(toasts.last(), model->receivedLANFiles().front().verifiedMatch
                                 ? "Received via LAN: incoming.txt (SHA-256 OK)"
                                 : "Received via LAN: incoming.txt (SHA-256 not verified)");
    EXPECT_EQ(sent.sha256Hex, model->receivedLANFiles().front().sha256Hex);

    client.sendClipboard("shared words", workspace, "Peer", std::nullopt);
    ASSERT_TRUE(modelWaitFor([&] { return !model->clipboardMessages().empty(); }));
    EXPECT_EQ(model->clipboardMessages().front().text, "shared words");
    EXPECT_EQ(clipboard->value, "shared words");
    EXPECT_EQ(toasts.last(), "Clipboard synced from Peer");

    // The workspace sends three files to the peer; one cannot be read.
    const auto a = left.write("a.txt", "aaa");
    const auto b = left.write("b.txt", "bb");
    const auto locked = left.write("locked.txt", "secret");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const bool canLock = geteuid() != 0;
    const std::size_t before = model->transfers().size();
    model->sledFiles({a, b, locked, left.path()}, peer.info(), std::nullopt);
    ASSERT_TRUE(modelWaitFor([&] { return model->transfers().size() == before + 3; }));
    int completed = 0;
    int failed = 0;
    for (std::size_t row = 0; row < 3; ++row) {
        const SledTransferRecord& record = model->transfers()[row];
        EXPECT_EQ(record.direction, SledTransferDirection::lanSend);
        EXPECT_EQ(record.destinationLabel, "LAN (Peer)");
        completed += record.status == SledTransferStatus::completed ? 1 : 0;
        failed += record.status == SledTransferStatus::failed ? 1 : 0;
    }
    if (canLock) {
        EXPECT_EQ(completed, 2);
        EXPECT_EQ(failed, 1);
        EXPECT_TRUE(toasts.messages.back().isError);
        EXPECT_EQ(toasts.last().rfind("Sleded 2/3 file(s) to Peer", 0), 0u) << toasts.last();
    }
    EXPECT_EQ(vornReadFile(peerDownloads / "a.txt"), "aaa");

    clipboard->value = "to the peer";
    model->sledMacClipboard(peer.info(), std::nullopt);
    ASSERT_TRUE(modelWaitFor([&] { return !peer.clipboard().empty(); }));
    EXPECT_EQ(peer.clipboard().front(), "to the peer");
    ASSERT_TRUE(modelWaitFor([&] { return toasts.last() == "Clipboard sleded to Peer"; }));
    EXPECT_EQ(model->clipboardMessages().front().senderName, "Workspace → Peer");

    // A peer typed in by hand, twice: one entry, the newer answer.
    model->connectManualPeer(" 127.0.0.1 ", std::to_string(peer.port()) + "\n");
    ASSERT_TRUE(modelWaitFor([&] { return model->manualPeers().size() == 1; }));
    model->connectManualPeer("127.0.0.1", "+" + std::to_string(peer.port()));
    ASSERT_TRUE(modelWaitFor([&] { return toasts.messages.size() >= 2 && toasts.last() == "Connected to Peer"; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(model->manualPeers().size(), 1u);
    EXPECT_EQ(model->allLANPeers().size(), 1u);
    EXPECT_EQ(model->peerList()->rowCount(), 1);
}

TEST_F(ModelLANTest, TheShareShelfAndTheClipboardHistoryStayBounded) {
    auto model = makeLANModel(0);
    ModelToastLog toasts(*model);
    const auto file = left.write("shared.txt", "share me");
    model->addFilesToLANShareShelf({file, file, left.path(), left / "ghost"});
    ASSERT_TRUE(modelWaitFor([&] { return model->sharedLANFiles().size() == 2; }));
    EXPECT_EQ(toasts.last(), "Shared 2 file(s) on LAN portal");
    EXPECT_NE(model->sharedLANFiles()[0].id, model->sharedLANFiles()[1].id);
    EXPECT_EQ(model->sharedLANFiles()[0].id.size(), 32u);
    EXPECT_EQ(model->sharedLANFiles()[0].sha256Hex, VornSHA256::hexDigest("share me"));
    model->removeSharedLANFile(model->sharedLANFiles()[0].id);
    EXPECT_EQ(model->sharedLANFiles().size(), 1u);

    clipboard->value.reset();
    model->publishMacClipboardToLANPortal();
    EXPECT_EQ(toasts.last(), "Clipboard is empty.");

    // Counted messages: the newest 500 stay.
    for (int index = 0; index < 505; ++index) {
        clipboard->value = "text " + std::to_string(index);
        model->publishMacClipboardToLANPortal();
    }
    EXPECT_EQ(model->clipboardMessages().size(), SledViewModel::maximumClipboardMessages);
    EXPECT_EQ(model->clipboardMessages().front().text, "text 504");
    EXPECT_EQ(model->clipboardMessages().back().text, "text 5");
    EXPECT_TRUE(model->clipboardMessages().front().isOutgoing);

    // Large texts: at most 64 MiB of text stay, the newest first.
    const std::string big(2u * 1024u * 1024u, 'x');
    for (int index = 0; index < 40; ++index) {
        clipboard->value = big + std::to_string(index);
        model->publishMacClipboardToLANPortal();
    }
    std::size_t bytes = 0;
    for (const LANClipboardMessage& message : model->clipboardMessages()) {
        bytes += message.text.size();
    }
    EXPECT_LE(bytes, SledViewModel::maximumClipboardTextBytes);
    EXPECT_EQ(model->clipboardMessages().front().text, big + "39");
    EXPECT_EQ(static_cast<std::size_t>(model->clipboardList()->rowCount()), model->clipboardMessages().size());
}
