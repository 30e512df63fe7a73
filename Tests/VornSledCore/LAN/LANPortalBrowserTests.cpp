#include "LANNetworkHelpers.h"
#include "LANServerTestSupport.h"
#include "VornChecksum.h"

#include <gtest/gtest.h>

namespace {

std::filesystem::path browserDriverFolder() {
    return std::filesystem::path(VORN_TEST_SOURCE_DIR) / "Tests/services/npm/lanportal";
}

// Chromium with playwright-core, or the reason there is none (a failure in CI).
#define VORN_REQUIRE_BROWSER_DRIVER()                                                            \
    do {                                                                                         \
        VORN_REQUIRE_TOOL("chromium");                                                           \
        VORN_REQUIRE_TOOL("node");                                                               \
        if (!std::filesystem::exists(browserDriverFolder() / "node_modules/playwright-core")) {  \
            if (VornTestServices::inCI()) {                                                      \
                FAIL() << "playwright-core is not installed: run scripts/setup.sh --test";       \
            }                                                                                    \
            GTEST_SKIP() << "playwright-core is not installed: run scripts/setup.sh --test";     \
        }                                                                                        \
    } while (false)

// The portal page in Debian's Chromium, driven by playwright-core, against a running server:
// everything a phone does goes through the page's own script.
TEST(LANPortalBrowser, UploadClipboardSharesAndDownloadThroughThePage) {
    VORN_REQUIRE_BROWSER_DRIVER();
    const std::filesystem::path driver = browserDriverFolder();

    VornTestTempDir dir;
    LANCallbackRecorder recorder;
    LANSledServer server("Workbench", dir / "downloads", true, "7351");
    const std::string shared = "shared from this computer\n";
    const std::filesystem::path sharedPath = dir.write("shelf/report.txt", shared);
    server.setSharedFiles({{"token-1", "report.txt", sharedPath.string(), static_cast<std::int64_t>(shared.size()),
                            VornSHA256::hexDigest(shared)}});
    server.setLatestOutgoingClipboard("text waiting on this computer");
    const std::uint16_t port = server.start(0, false, recorder.callbacks());

    const std::string photo(300'000, 'p');
    const std::filesystem::path upload = dir.write("phone/holiday photo.jpg", photo);
    const std::filesystem::path artefacts = std::filesystem::current_path() / "artefacts";
    std::filesystem::create_directories(artefacts);
    const std::filesystem::path screenshot = artefacts / "lan-portal.png";
    std::filesystem::remove(screenshot);

    const VornShellResult run = vornShell(
        "node " + vornShellQuote((driver / "portal-check.js").string()) + " " +
        vornShellQuote("http://127.0.0.1:" + std::to_string(port) + "/") + " 7351 " + vornShellQuote(upload.string()) + " " +
        vornShellQuote((dir / "fetched.txt").string()) + " " + vornShellQuote(screenshot.string()) + " " +
        vornShellQuote("text waiting on this computer"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const nlohmann::json seen = nlohmann::json::parse(run.output.substr(run.output.rfind('{')), nullptr, false);
    ASSERT_TRUE(seen.is_object()) << run.output;

    EXPECT_EQ(seen["title"], "VornSled LAN — Workbench");
    EXPECT_EQ(seen["wrongPINShares"], "Enter valid PIN to view shared files.");
    const std::vector<std::string> log = seen["uploadLog"].get<std::vector<std::string>>();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "Hashing & sleding holiday photo.jpg...");
    EXPECT_EQ(log[1], "✗ holiday photo.jpg: HTTP 401");
    EXPECT_EQ(log[3], "✓ holiday photo.jpg verified (" + VornSHA256::hexDigest(photo).substr(0, 12) + "...)");

    // The upload arrived whole, verified by the digest the browser computed.
    const std::vector<LANReceivedFileItem> files = recorder.receivedFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].verifiedMatch);
    EXPECT_EQ(files[0].fileName, "holiday photo.jpg");
    EXPECT_EQ(vornReadFile(dir / "downloads/holiday photo.jpg"), photo);

    const std::vector<LANClipboardMessage> clipboard = recorder.receivedClipboard();
    ASSERT_EQ(clipboard.size(), 1u);
    EXPECT_EQ(clipboard[0].text, "typed in the browser");
    EXPECT_FALSE(clipboard[0].senderName.empty());

    ASSERT_EQ(seen["shares"].size(), 1u);
    EXPECT_NE(seen["shares"][0].get<std::string>().find("report.txt"), std::string::npos);
    EXPECT_NE(seen["shares"][0].get<std::string>().find("SHA-256: " + VornSHA256::hexDigest(shared).substr(0, 16) + "..."),
              std::string::npos);
    EXPECT_EQ(seen["downloadName"], "report.txt");
    EXPECT_EQ(vornReadFile(dir / "fetched.txt"), shared);
    EXPECT_GT(std::filesystem::file_size(screenshot), 10'000u);

    // Without Web Crypto the page sends no digest and says so.
    EXPECT_FALSE(files[1].verifiedMatch);
    EXPECT_EQ(files[1].fileName, "holiday photo (1).jpg");
    EXPECT_EQ(seen["unverifiedLog"].back(),
              "✓ holiday photo.jpg uploaded (not verified) (" + VornSHA256::hexDigest(photo).substr(0, 12) + "...)");
}

// A page served under a name an outsider controls, once that name points at this machine, gets
// nothing from the server, not even through its own same-origin requests; the machine's own
// ".local" name keeps working in the same browser.
TEST(LANPortalBrowser, APageUnderAReboundNameIsRefused) {
    VORN_REQUIRE_BROWSER_DRIVER();
    VornTestTempDir dir;
    LANCallbackRecorder recorder;
    LANSledServer server("Workbench", dir / "downloads", true, "7351");
    server.setLatestOutgoingClipboard("secret on this computer");
    const std::uint16_t port = server.start(0, false, recorder.callbacks());
    const std::vector<std::string> own = LANNetworkHelpers::currentMachineNames(false);
    ASSERT_FALSE(own.empty());
    const std::string ownName = own.front().substr(0, own.front().find('.')) + ".local";

    const VornShellResult run = vornShell("node " + vornShellQuote((browserDriverFolder() / "rebind-check.js").string()) +
                                          " " + std::to_string(port) + " attacker.example " + vornShellQuote(ownName) +
                                          " 7351");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const nlohmann::json seen = nlohmann::json::parse(run.output.substr(run.output.rfind("{\"foreign\"")), nullptr, false);
    ASSERT_TRUE(seen.is_object()) << run.output;

    EXPECT_EQ(seen["foreign"]["status"], 403);
    EXPECT_NE(seen["foreign"]["text"].get<std::string>().find("reach this device by its address or its own name"),
              std::string::npos);
    EXPECT_EQ(seen["foreign"]["clipboard"]["status"], 403);
    EXPECT_EQ(seen["foreign"]["clipboard"]["body"].get<std::string>().find("secret"), std::string::npos);

    EXPECT_EQ(seen["own"]["status"], 200);
    EXPECT_EQ(seen["own"]["title"], "VornSled LAN — Workbench");
    EXPECT_EQ(seen["own"]["clipboard"]["status"], 200);
    EXPECT_EQ(seen["own"]["clipboard"]["body"], "{\"text\":\"secret on this computer\"}");
}

}  // namespace
