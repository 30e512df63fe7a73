#include "LanAirDropView.h"
#include "LANSledClient.h"
#include "LANSledServer.h"
#include "MainSledWorkspaceView.h"
#include "SledError.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"
#include "VornByteFormatter.h"
#include "VornGlassCard.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornGroundBackground.h"
#include "VornPalette.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>
#include <QVBoxLayout>

#include <mutex>
#include <random>

namespace {

// Records what the tab asks the file manager to show, instead of opening one.
class LanTestRevealer final : public SledFileRevealer {
public:
    std::vector<std::filesystem::path> revealed;
    void reveal(const std::filesystem::path& item) override { revealed.push_back(item); }
};

struct HTTPAnswer {
    int status = 0;
    std::string body;
};

// A real HTTP client (curl) against the program's server; never through a proxy.
HTTPAnswer httpGet(const std::string& url, const std::vector<std::string>& headers = {}) {
    VornTestTempDir scratch;
    const std::filesystem::path body = scratch / "body";
    std::string command = "curl -s --noproxy '*' --max-time 30 -o " + vornShellQuote(body.string()) + " -w '%{http_code}'";
    for (const std::string& header : headers) {
        command += " -H " + vornShellQuote(header);
    }
    command += " " + vornShellQuote(url);
    const VornShellResult result = vornShell(command);
    HTTPAnswer answer;
    answer.status = std::atoi(result.output.c_str());
    if (std::filesystem::exists(body)) {
        answer.body = vornReadFile(body);
    }
    return answer;
}

// What zbarimg reads from a picture; empty when it finds no code.
std::string decodeQR(const QImage& image) {
    VornTestTempDir scratch;
    const std::filesystem::path file = scratch / "code.png";
    EXPECT_TRUE(image.save(QString::fromStdString(file.string()), "PNG"));
    const VornShellResult result = vornShell("zbarimg --raw -q " + vornShellQuote(file.string()) + " 2>/dev/null");
    std::string text = result.output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return result.exitCode == 0 ? text : std::string();
}

// OpenSSL's own digest of a file, from its command-line tool.
std::string opensslSHA256(const std::filesystem::path& file) {
    const VornShellResult result = vornShell("openssl dgst -sha256 -r " + vornShellQuote(file.string()));
    return result.output.substr(0, result.output.find(' '));
}

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

QMimeData* fileDrop(const std::vector<std::filesystem::path>& files, const std::vector<QUrl>& others = {}) {
    auto* mime = new QMimeData();
    QList<QUrl> urls;
    for (const auto& file : files) {
        urls.append(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    }
    for (const QUrl& url : others) {
        urls.append(url);
    }
    mime->setUrls(urls);
    return mime;
}

// Drags `mime` onto `target` and drops it there, as the window system would; returns whether the
// drop was accepted.
bool dragAndDrop(QWidget& target, QMimeData* mime) {
    const QPoint at = target.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &drop);
    const bool accepted = drop.isAccepted();
    delete mime;
    return accepted;
}

// Clicks the middle of a rectangle inside a list's viewport.
void clickInList(QListView* list, const QRectF& rect) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center().toPoint());
}

}  // namespace

class LanTabTest : public ViewsTest {
protected:
    VornTestTempDir downloads;
    std::shared_ptr<LanTestRevealer> revealer = std::make_shared<LanTestRevealer>();

    // Declared before the tab's ground, so the tab goes first.
    std::unique_ptr<SledViewModel> ownedModel;

    SledViewModel* makeLANModel(std::uint16_t port) {
        SledSettings settings;
        settings.lanDeviceName = "Workspace";
        settings.lanPort = port;
        settings.lanPIN = "4826";
        settings.lanRequirePIN = false;
        settings.lanDownloadDirectory = downloads.path().string();
        SledProfileRepository(data.path()).saveSettings(settings);
        SledModelEnvironment environment = this->environment();
        environment.revealer = revealer;
        ownedModel = std::make_unique<SledViewModel>(environment);
        SledViewModel* model = ownedModel.get();
        EXPECT_TRUE(viewsWaitFor([&] { return !model->leftPane()->isLoading() && !model->rightPane()->isLoading(); }));
        return model;
    }
    static void startReceiver(SledViewModel& model) {
        model.startLANServices();
        ASSERT_TRUE(viewsWaitFor([&] { return model.isLANServerRunning(); }));
    }
    static std::string loopback(const SledViewModel& model, const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(model.activeLANPort()) + path;
    }
    static LANPeerInfo workspacePeer(const SledViewModel& model) {
        LANPeerInfo peer;
        peer.deviceName = "Workspace";
        peer.host = "127.0.0.1";
        peer.port = model.activeLANPort();
        return peer;
    }
    // The tab on the window's ground, at the size it has in the main window.
    VornGroundBackground ground{VornProductPalette::deepCoral};
    LanAirDropView& placeTab(SledViewModel& model) {
        auto* view = new LanAirDropView(model, accentColor(VornProductPalette::deepCoral), &ground);
        auto* layout = new QVBoxLayout(&ground);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->addWidget(view);
        ground.resize(1260, 652);
        ground.show();
        QCoreApplication::processEvents();
        return *view;
    }
};

// The receiver card from stopped to running on a busy port: the code on screen scans to the
// address where the server really listens, the PIN switch guards the running server at once, and
// a stopped receiver never shows a code it no longer answers.
TEST_F(LanTabTest, TheReceiverShowsAScannableCodeOfTheBoundPortAndThePINGuardsIt) {
    VORN_REQUIRE_TOOL("zbarimg");
    VORN_REQUIRE_TOOL("curl");
    VornTestTempDir busyDownloads;
    LANSledServer busy("Busy", busyDownloads.path(), false, "0000");
    const std::uint16_t busyPort = busy.start(0, false, {});
    SledViewModel* model = makeLANModel(busyPort);
    LanAirDropView* view = &placeTab(*model);

    const std::string configured = "http://" + model->localLANIP() + ":" + std::to_string(busyPort);
    EXPECT_EQ(view->titleLabel()->text(), "Cross-Platform LAN Drop");
    EXPECT_EQ(view->subtitleLabel()->text(), QString::fromUtf8("Linux ↔ Windows / Android / Mac (Zero Account)"));
    EXPECT_EQ(view->serverButton()->label(), "Start");
    EXPECT_FALSE(view->serverButton()->isActive());
    EXPECT_FALSE(view->qrCodeView()->showsCode());
    EXPECT_EQ(view->portalAddressLabel()->text().toStdString(), configured);
    EXPECT_EQ(view->pinToggle()->text(), "Require PIN (4826)");
    EXPECT_FALSE(view->pinToggle()->isChecked());
    // Copy URL copies the address whatever the receiver's state.
    QTest::mouseClick(view->copyURLButton(), Qt::LeftButton);
    EXPECT_EQ(clipboard->value, configured);
    EXPECT_EQ(model->toastMessage(), "Copied LAN URL");
    snapshot(ground, QStringLiteral("app-lan-stopped-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(view->serverButton()->label(), QString::fromUtf8("Başlat"));
    EXPECT_EQ(view->pinToggle()->text(), QString::fromUtf8("PIN İste (4826)"));
    EXPECT_EQ(view->shelfTitle()->text(), QString::fromUtf8("Bu Bilgisayardan Paylaşılan Dosyalar"));
    snapshot(ground, QStringLiteral("app-lan-stopped-tr"));
    model->setLanguage(VornLanguage::en);

    // Start: the configured port is taken, so the server falls back to one the system gives.
    QSignalSpy settled(model, &SledViewModel::lanServicesSettled);
    QTest::mouseClick(view->serverButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return settled.count() == 1; }));
    ASSERT_TRUE(model->isLANServerRunning());
    EXPECT_NE(model->activeLANPort(), busyPort);
    EXPECT_EQ(view->serverButton()->label(), "Active");
    EXPECT_TRUE(view->serverButton()->isActive());
    ASSERT_TRUE(view->qrCodeView()->showsCode());
    EXPECT_EQ(view->portalAddressLabel()->text().toStdString(), model->lanPortalURLString());

    // What a phone's camera would read off the screen, and a real request to that very address.
    const QImage shown = vornRenderOnBlack(*view->qrCodeView(), view->qrCodeView()->size());
    const std::string scanned = decodeQR(shown);
    EXPECT_EQ(scanned, model->lanPortalURLString());
    EXPECT_NE(scanned.find(":" + std::to_string(model->activeLANPort())), std::string::npos);
    const HTTPAnswer info = httpGet(scanned + "/api/v1/info");
    EXPECT_EQ(info.status, 200) << info.body;
    EXPECT_NE(info.body.find("\"Workspace\""), std::string::npos) << info.body;
    EXPECT_EQ(httpGet(loopback(*model, "/api/v1/shares")).status, 200);

    // The PIN switch on a running receiver: stored, applied by one restart, and enforced.
    QTest::mouseClick(view->pinToggle(), Qt::LeftButton);
    EXPECT_TRUE(model->settings().lanRequirePIN);
    EXPECT_TRUE(SledProfileRepository(data.path()).currentSnapshot().settings.lanRequirePIN);
    ASSERT_TRUE(viewsWaitFor([&] { return settled.count() == 2; }));
    EXPECT_TRUE(model->isLANServerRunning());
    EXPECT_TRUE(view->pinToggle()->isChecked());
    const HTTPAnswer guardedInfo = httpGet(loopback(*model, "/api/v1/info"));
    EXPECT_NE(guardedInfo.body.find("\"requiresPIN\":true"), std::string::npos) << guardedInfo.body;
    EXPECT_EQ(httpGet(loopback(*model, "/api/v1/shares")).status, 401);
    EXPECT_EQ(httpGet(loopback(*model, "/api/v1/shares"), {"X-VornSled-PIN: 4826"}).status, 200);
    EXPECT_EQ(decodeQR(vornRenderOnBlack(*view->qrCodeView(), view->qrCodeView()->size())), model->lanPortalURLString());
    snapshot(ground, QStringLiteral("app-lan-running-en"));

    // Stopped: the placeholder again, though the model still holds the last code.
    QTest::mouseClick(view->serverButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return settled.count() == 3; }));
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_FALSE(model->lanQRCodeImage().isNull());
    EXPECT_FALSE(view->qrCodeView()->showsCode());
    EXPECT_EQ(view->serverButton()->label(), "Start");
    EXPECT_EQ(view->portalAddressLabel()->text().toStdString(), configured);

    // The switch on a stopped receiver only stores the choice.
    QTest::mouseClick(view->pinToggle(), Qt::LeftButton);
    EXPECT_FALSE(model->settings().lanRequirePIN);
    EXPECT_FALSE(SledProfileRepository(data.path()).currentSnapshot().settings.lanRequirePIN);
    QTest::qWait(50);
    EXPECT_EQ(settled.count(), 3);
    EXPECT_FALSE(model->isLANServerRunning());
    EXPECT_FALSE(model->lanServer().isRunning());
}

// Files dropped on the shelf card carry OpenSSL's digests and come down the portal byte for byte;
// a removed file is no longer served; drops with nothing local in them are refused.
TEST_F(LanTabTest, FilesDroppedOnTheShelfAreHashedAndServedIntact) {
    VORN_REQUIRE_TOOL("curl");
    VORN_REQUIRE_TOOL("openssl");
    SledViewModel* model = makeLANModel(0);
    startReceiver(*model);
    LanAirDropView& view = placeTab(*model);
    EXPECT_TRUE(view.showsShelfDropZone());
    EXPECT_EQ(view.shelfDropZoneLabel()->text(),
              "Drop files here so Windows/Android/Linux devices can download them directly from the QR portal.");

    // The drop zone lights up while a drag hovers over the card, and goes dark when it leaves.
    QWidget& card = *view.sharedShelfCard();
    std::unique_ptr<QMimeData> hovering(fileDrop({left.path()}));
    QDragEnterEvent enter(card.rect().center(), Qt::CopyAction, hovering.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&card, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(view.uiState().isShareDropTargeted);
    const QImage lit = vornRenderOnBlack(view, view.size());
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&card, &leave);
    EXPECT_FALSE(view.uiState().isShareDropTargeted);
    const QImage dark = vornRenderOnBlack(view, view.size());
    const QPoint inside = view.shelfDropZone()->mapTo(&view, QPoint(20, 20));
    EXPECT_GT(lit.pixelColor(inside).red(), dark.pixelColor(inside).red() + 20);

    const auto big = left.write("site backup.tar", randomBytes(3 * 1024 * 1024 + 11, 7));
    const auto odd = left.write("ağ raporu #1 (son).txt", "quarterly figures\n");
    const auto empty = left.write("empty.dat", "");
    const QUrl web(QStringLiteral("https://example.com/not-a-file.txt"));
    EXPECT_TRUE(dragAndDrop(card, fileDrop({big, odd, empty, left.path()}, {web})));
    EXPECT_FALSE(view.uiState().isShareDropTargeted);
    ASSERT_TRUE(viewsWaitFor([&] { return model->sharedLANFiles().size() == 3; }));
    EXPECT_FALSE(view.showsShelfDropZone());

    for (const LANSharedFileItem& item : model->sharedLANFiles()) {
        SCOPED_TRACE(item.fileName);
        EXPECT_EQ(item.sha256Hex, opensslSHA256(item.filePath));
        EXPECT_EQ(LanSharedFileDelegate::detailText(item).toStdString(),
                  VornByteFormatter::format(item.sizeBytes) + " • SHA-256 " + item.sha256Hex.substr(0, 10) + "…");
        VornTestTempDir scratch;
        const auto fetched = scratch / "fetched";
        const VornShellResult download =
            vornShell("curl -s --noproxy '*' --max-time 60 -o " + vornShellQuote(fetched.string()) + " -w '%{http_code}' " +
                      vornShellQuote(loopback(*model, "/api/v1/download/" + item.id)));
        EXPECT_EQ(download.output, "200");
        EXPECT_EQ(vornReadFile(fetched), vornReadFile(item.filePath));
    }
    // A short digest shows whole, still followed by the ellipsis.
    LANSharedFileItem shortDigest;
    shortDigest.sha256Hex = "abc";
    EXPECT_EQ(LanSharedFileDelegate::detailText(shortDigest), QString::fromUtf8("0 B • SHA-256 abc…"));

    snapshot(ground, QStringLiteral("app-lan-shelf-en"));

    // Drops of nothing local are refused and change nothing; the card takes drops with rows shown.
    EXPECT_FALSE(dragAndDrop(card, fileDrop({}, {web})));
    QCoreApplication::processEvents();
    EXPECT_EQ(model->sharedLANFiles().size(), 3u);

    // The remove button takes the row off the shelf and the portal stops serving it.
    const LANSharedFileItem first = model->sharedLANFiles().front();
    const QRect row = view.shelfList()->visualRect(model->sharedFileList()->index(0));
    clickInList(view.shelfList(), LanSharedFileDelegate::buttonRect(QRectF(row)));
    ASSERT_EQ(model->sharedLANFiles().size(), 2u);
    EXPECT_NE(model->sharedLANFiles().front().id, first.id);
    EXPECT_EQ(httpGet(loopback(*model, "/api/v1/download/" + first.id)).status, 404);
    EXPECT_TRUE(std::filesystem::exists(first.filePath));  // the file itself stays
}

// A peer typed in by hand appears as a card; a drop on the card sends at once to that real
// server with the typed PIN, and the clipboard goes there too. The form starts afresh each time
// the tab is shown.
TEST_F(LanTabTest, APeerConnectedByHandReceivesDropsAndTheClipboard) {
    VornTestTempDir peerDownloads;
    LANSledServer peer("Desk Peer", peerDownloads.path(), true, "7731");
    std::mutex peerLock;
    std::vector<std::string> peerClipboard;
    LANServerCallbacks callbacks;
    callbacks.onClipboardReceived = [&](const LANClipboardMessage& message) {
        std::lock_guard lock(peerLock);
        peerClipboard.push_back(message.text);
    };
    const std::uint16_t peerPort = peer.start(0, false, callbacks);

    SledViewModel* model = makeLANModel(0);
    startReceiver(*model);
    LanAirDropView& view = placeTab(*model);
    EXPECT_TRUE(view.showsScanningHint());
    EXPECT_TRUE(view.scanningHintLabel()->text().startsWith("Scanning local Wi-Fi via mDNS (_vornsled._tcp)."));
    EXPECT_EQ(view.peersTitle()->text(), "Nearby LAN Devices (mDNS + Direct IP)");
    EXPECT_EQ(view.portField()->text(), "53318");
    EXPECT_FALSE(view.connectButton()->isActive());

    // An empty host: the button looks inactive but still asks the model, which refuses quietly.
    QTest::mouseClick(view.connectButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model->manualPeers().empty());

    QTest::keyClicks(view.hostField(), "127.0.0.1");
    EXPECT_TRUE(view.connectButton()->isActive());
    view.portField()->clear();
    QTest::keyClicks(view.portField(), QString::number(peerPort));
    QTest::keyClicks(view.pinField(), "7731");
    EXPECT_EQ(view.uiState().pinOrNone(), std::optional<std::string>("7731"));
    QTest::mouseClick(view.connectButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return view.peerCards().size() == 1; }));
    EXPECT_FALSE(view.showsScanningHint());
    LanPeerCard* card = view.peerCards().front();
    EXPECT_EQ(card->nameLabel()->text(), "Desk Peer");
    EXPECT_EQ(card->addressLabel()->text().toStdString(), "127.0.0.1:" + std::to_string(peerPort));
    EXPECT_EQ(card->sendFilesButton()->label(), "Send Files");
    EXPECT_EQ(model->toastMessage(), "Connected to Desk Peer");

    // Files dropped on the card go to the peer at once, intact and verified.
    const auto photo = left.write("holiday photo.jpg", randomBytes(1024 * 1024 + 5, 3));
    const std::size_t before = model->transfers().size();
    EXPECT_TRUE(dragAndDrop(*card, fileDrop({photo})));
    ASSERT_TRUE(viewsWaitFor([&] { return model->transfers().size() == before + 1; }));
    const SledTransferRecord& sent = model->transfers().front();
    EXPECT_EQ(sent.status, SledTransferStatus::completed) << sent.errorMessage.value_or("");
    EXPECT_TRUE(sent.isSHA256Verified);
    EXPECT_EQ(vornReadFile(peerDownloads / "holiday photo.jpg"), vornReadFile(photo));
    // A drop with no files is reported as not taken and sends nothing.
    EXPECT_FALSE(dragAndDrop(*card, fileDrop({}, {QUrl(QStringLiteral("https://example.com/x"))})));
    QTest::qWait(50);
    EXPECT_EQ(model->transfers().size(), before + 1);

    clipboard->value = "meeting notes for the desk";
    QTest::mouseClick(card->clipboardButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] {
        std::lock_guard lock(peerLock);
        return !peerClipboard.empty();
    }));
    {
        std::lock_guard lock(peerLock);
        EXPECT_EQ(peerClipboard.front(), "meeting notes for the desk");
    }

    snapshot(ground, QStringLiteral("app-lan-peers-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(view.peerCards().front()->sendFilesButton()->label(), QString::fromUtf8("Dosya Gönder"));
    EXPECT_EQ(view.connectButton()->label(), QString::fromUtf8("Bağlan"));
    snapshot(ground, QStringLiteral("app-lan-peers-tr"));
    model->setLanguage(VornLanguage::en);

    // Shown again, the form starts from its first values; with no PIN typed none is sent, and
    // the peer refuses the drop.
    view.hide();
    view.show();
    EXPECT_TRUE(view.hostField()->text().isEmpty());
    EXPECT_EQ(view.portField()->text(), "53318");
    EXPECT_TRUE(view.pinField()->text().isEmpty());
    EXPECT_FALSE(view.connectButton()->isActive());
    EXPECT_EQ(view.uiState().pinOrNone(), std::nullopt);
    ASSERT_EQ(view.peerCards().size(), 1u);
    const auto refused = left.write("refused.txt", "no pin");
    EXPECT_TRUE(dragAndDrop(*view.peerCards().front(), fileDrop({refused})));
    ASSERT_TRUE(viewsWaitFor([&] { return model->transfers().size() == before + 2; }));
    EXPECT_EQ(model->transfers().front().status, SledTransferStatus::failed);
    EXPECT_FALSE(std::filesystem::exists(peerDownloads / "refused.txt"));
    EXPECT_TRUE(model->toastIsError());
}

// What real clients sent: a clipboard text at the head of the list and on the clipboard, cut to
// three lines but copied whole; received files with the green shield only where the digest was
// checked, and the file manager shown the download folder and each file.
TEST_F(LanTabTest, ClipboardTextsAndReceivedFilesFromRealClients) {
    VORN_REQUIRE_TOOL("curl");
    SledViewModel* model = makeLANModel(0);
    startReceiver(*model);
    MainSledWorkspaceView workspace(*model);
    workspace.resize(1260, 752);
    workspace.show();
    model->setActiveTab(SledWorkspaceTab::lanAirDrop);
    auto* view = dynamic_cast<LanAirDropView*>(workspace.page(SledWorkspaceTab::lanAirDrop));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->showsClipboardEmptyState());
    EXPECT_TRUE(view->showsReceivedEmptyState());
    EXPECT_EQ(view->shareClipboardButton()->label(), "Share Clipboard");

    // The folder button shows the configured download folder, even before anything arrived.
    QTest::mouseClick(view->folderButton(), Qt::LeftButton);
    ASSERT_EQ(revealer->revealed.size(), 1u);
    EXPECT_EQ(revealer->revealed.back(), downloads.path());

    const LANSledClient client;
    std::string longText;
    for (int line = 1; line <= 12; ++line) {
        longText += "line " + std::to_string(line) + " of the release checklist\n";
    }
    client.sendClipboard(longText, workspacePeer(*model), "Phone", std::nullopt);
    ASSERT_TRUE(viewsWaitFor([&] { return !model->clipboardMessages().empty(); }));
    EXPECT_EQ(clipboard->value, longText);
    client.sendClipboard("short note", workspacePeer(*model), "Tablet", std::nullopt);
    ASSERT_TRUE(viewsWaitFor([&] { return model->clipboardMessages().size() == 2; }));
    EXPECT_EQ(model->clipboardMessages().front().text, "short note");
    EXPECT_EQ(clipboard->value, "short note");
    EXPECT_FALSE(view->showsClipboardEmptyState());

    // The long text shows three lines, the last one cut.
    const QStringList lines = LanClipboardDelegate::shownLines(QString::fromStdString(longText),
                                                               view->clipboardDelegate()->textWidth());
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "line 1 of the release checklist");
    EXPECT_TRUE(lines[2].endsWith(QChar(0x2026)));
    const QModelIndex longRow = model->clipboardList()->index(1);
    const QModelIndex shortRow = model->clipboardList()->index(0);
    EXPECT_GT(view->clipboardList()->visualRect(longRow).height(), view->clipboardList()->visualRect(shortRow).height());
    // Its copy button copies the whole text.
    clipboard->value.reset();
    clickInList(view->clipboardList(),
                LanClipboardDelegate::copyButtonRect(
                    QRectF(view->clipboardList()->visualRect(longRow)).adjusted(0, 0, 0, -LanClipboardDelegate::rowGap)));
    EXPECT_EQ(clipboard->value, longText);
    EXPECT_EQ(model->toastMessage(), "Copied Clipboard");

    // Megabytes on one line make a row of three lines like any other, and still copy whole.
    std::string huge;
    while (huge.size() < 1'500'000) {
        huge += "wordy ";
    }
    client.sendClipboard(huge, workspacePeer(*model), "Phone", std::nullopt);
    ASSERT_TRUE(viewsWaitFor([&] { return model->clipboardMessages().size() == 3; }));
    QCoreApplication::processEvents();
    const QRect hugeRow = view->clipboardList()->visualRect(model->clipboardList()->index(0));
    EXPECT_EQ(hugeRow.height(), view->clipboardList()->visualRect(model->clipboardList()->index(2)).height());
    clipboard->value.reset();
    clickInList(view->clipboardList(),
                LanClipboardDelegate::copyButtonRect(QRectF(hugeRow).adjusted(0, 0, 0, -LanClipboardDelegate::rowGap)));
    EXPECT_EQ(clipboard->value, huge);

    // This computer's own clipboard, published: an outgoing row in the accent colour.
    clipboard->value = "from this computer";
    QTest::mouseClick(view->shareClipboardButton(), Qt::LeftButton);
    ASSERT_EQ(model->clipboardMessages().size(), 4u);
    EXPECT_TRUE(model->clipboardMessages().front().isOutgoing);
    EXPECT_EQ(view->clipboardDelegate()->senderColor(model->clipboardMessages().front()), view->accent());
    EXPECT_EQ(view->clipboardDelegate()->senderColor(model->clipboardMessages()[1]), VornGlassTokens::success());

    // One file with its digest declared and checked, one sent with no digest at all.
    const auto report = left.write("report.pdf", randomBytes(200'000, 11));
    const LANSledUploadResponse sent = client.sendFile(report, workspacePeer(*model), "Phone", std::nullopt);
    EXPECT_TRUE(sent.remoteVerified);
    ASSERT_TRUE(viewsWaitFor([&] { return model->receivedLANFiles().size() == 1; }));
    const auto notes = left.write("notes.txt", "no digest came with this");
    const VornShellResult upload = vornShell(
        "curl -s --noproxy '*' --max-time 30 -o /dev/null -w '%{http_code}' -H 'Content-Type: application/octet-stream' "
        "-H 'X-VornSled-Filename: notes.txt' -H 'X-VornSled-Sender: Old%20Laptop' --data-binary @" +
        vornShellQuote(notes.string()) + " " + vornShellQuote(loopback(*model, "/api/v1/upload")));
    EXPECT_EQ(upload.output, "200");
    ASSERT_TRUE(viewsWaitFor([&] { return model->receivedLANFiles().size() == 2; }));
    EXPECT_FALSE(view->showsReceivedEmptyState());
    const LANReceivedFileItem& unchecked = model->receivedLANFiles()[0];
    const LANReceivedFileItem& checked = model->receivedLANFiles()[1];
    ASSERT_EQ(unchecked.fileName, "notes.txt");
    ASSERT_FALSE(unchecked.verifiedMatch);
    ASSERT_TRUE(checked.verifiedMatch);
    EXPECT_EQ(LanReceivedFileDelegate::detailText(unchecked), QString::fromUtf8("Old Laptop • 24 B"));
    EXPECT_EQ(LanReceivedFileDelegate::shieldSymbol(checked), "checkmark.shield.fill");
    EXPECT_EQ(LanReceivedFileDelegate::shieldSymbol(unchecked), "shield");
    EXPECT_TRUE(view->receivedDelegate()->shieldToolTip(unchecked).contains("not verified"));
    EXPECT_FALSE(view->receivedDelegate()->shieldToolTip(checked).contains("not"));

    // On screen: green only in the shield of the checked file.
    QCoreApplication::processEvents();
    const QImage rows = vornRenderOnBlack(*view->receivedList()->viewport(), view->receivedList()->viewport()->size());
    const auto greenIn = [&](const QRectF& area) {
        int count = 0;
        for (int y = int(area.top()); y < int(area.bottom()); ++y) {
            for (int x = int(area.left()); x < int(area.right()); ++x) {
                const QColor pixel = rows.pixelColor(x, y);
                count += (pixel.green() > 150 && pixel.red() < 120) ? 1 : 0;
            }
        }
        return count;
    };
    const QRect checkedRow = view->receivedList()->visualRect(model->receivedFileList()->index(1));
    const QRect uncheckedRow = view->receivedList()->visualRect(model->receivedFileList()->index(0));
    EXPECT_GT(greenIn(view->receivedDelegate()->shieldRect(checked, QRectF(checkedRow))), 5);
    EXPECT_EQ(greenIn(QRectF(uncheckedRow)), 0);

    // Each row's button shows its file; a file gone since shows nothing.
    clickInList(view->receivedList(), LanReceivedFileDelegate::buttonRect(QRectF(checkedRow)));
    ASSERT_EQ(revealer->revealed.size(), 2u);
    EXPECT_EQ(revealer->revealed.back(), checked.savedPath);
    std::filesystem::remove(unchecked.savedPath);
    clickInList(view->receivedList(), LanReceivedFileDelegate::buttonRect(QRectF(uncheckedRow)));
    EXPECT_EQ(revealer->revealed.size(), 2u);

    model->addFilesToLANShareShelf({report, notes});
    ASSERT_TRUE(viewsWaitFor([&] { return model->sharedLANFiles().size() == 2; }));
    workspace.resize(1260, 752);
    QTest::qWait(350);
    snapshot(workspace, QStringLiteral("app-lan-history-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(view->receivedTitle()->text(), QString::fromUtf8("Gelen Dosyalar (SHA-256)"));
    EXPECT_EQ(view->shareClipboardButton()->label(), QString::fromUtf8("Panoyu Paylaş"));
    EXPECT_TRUE(view->receivedDelegate()->shieldToolTip(unchecked).contains(QString::fromUtf8("doğrulanmadı")));
    snapshot(workspace, QStringLiteral("app-lan-history-tr"));
    model->setLanguage(VornLanguage::en);
}

// In Turkish the LAN tab's failures read in Turkish: a peer that does not answer at its address,
// and a real peer refusing a wrong PIN.
TEST_F(LanTabTest, PeerFailuresReadInTheChosenLanguage) {
    VornTestTempDir peerDownloads;
    LANSledServer peer("Desk Peer", peerDownloads.path(), true, "7731");
    const std::uint16_t peerPort = peer.start(0, false, {});
    // A port nobody listens on: bound, then closed again.
    LANSledServer gone("Gone", peerDownloads.path(), false, "");
    const std::uint16_t silentPort = gone.start(0, false, {});
    gone.stop();

    SledViewModel* model = makeLANModel(0);
    MainSledWorkspaceView workspace(*model);
    workspace.resize(1260, 752);
    workspace.show();
    model->setActiveTab(SledWorkspaceTab::lanAirDrop);
    auto* view = dynamic_cast<LanAirDropView*>(workspace.page(SledWorkspaceTab::lanAirDrop));
    ASSERT_NE(view, nullptr);
    model->setLanguage(VornLanguage::tr);

    QTest::keyClicks(view->hostField(), "127.0.0.1");
    view->portField()->clear();
    QTest::keyClicks(view->portField(), QString::number(silentPort));
    QTest::mouseClick(view->connectButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return model->toastMessage().has_value() && model->toastIsError(); }));
    EXPECT_NE(model->toastMessage()->find("127.0.0.1:" + std::to_string(silentPort) + " adresinde yanıt vermedi"),
              std::string::npos)
        << *model->toastMessage();
    EXPECT_EQ(model->toastMessage()->find("Peer did not"), std::string::npos) << *model->toastMessage();
    QTest::qWait(350);
    snapshot(workspace, QStringLiteral("app-lan-unreachable-tr"));

    view->portField()->clear();
    QTest::keyClicks(view->portField(), QString::number(peerPort));
    QTest::keyClicks(view->pinField(), "0000");
    QTest::mouseClick(view->connectButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return view->peerCards().size() == 1; }));
    clipboard->value = "gate code";
    QTest::mouseClick(view->peerCards().front()->clipboardButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] {
        return model->toastMessage().has_value() && model->toastIsError() &&
               model->toastMessage()->find("PIN") != std::string::npos;
    }));
    EXPECT_EQ(*model->toastMessage(), SledError::invalidPIN().description(VornLanguage::tr));
    QTest::qWait(350);
    snapshot(workspace, QStringLiteral("app-lan-wrong-pin-tr"));
    model->setLanguage(VornLanguage::en);
}
