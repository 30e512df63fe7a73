#include "LANNetworkHelpers.h"
#include "LANScriptedPeer.h"
#include "LANServerTestSupport.h"
#include "LANSledClient.h"
#include "SledError.h"
#include "VornChecksum.h"
#include "VornTaskCancelled.h"
#include "VornTestHTTPServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <netdb.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <map>
#include <set>

namespace {

constexpr const char* pin = "2468";

LANPeerInfo loopbackPeer(std::uint16_t port) {
    return LANPeerInfo{"peer", "Peer", "Linux", "127.0.0.1", port, "", false, false};
}

// Runs `operation`, expecting a SledError; returns it for the caller's checks.
template <typename Operation>
SledError expectSledError(Operation&& operation) {
    try {
        operation();
    } catch (const SledError& error) {
        return error;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "expected a SledError, got: " << other.what();
        throw;
    }
    ADD_FAILURE() << "expected a SledError, nothing was thrown";
    throw std::logic_error("no error");
}

// A port nothing listens on: bound by the kernel's choice, then released.
std::uint16_t closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class LANSledClientTest : public ::testing::Test {
protected:
    void startServer(bool requirePIN) {
        server = std::make_unique<LANSledServer>("Atölye Masası", root / "downloads", requirePIN,
                                                 requirePIN ? pin : "");
        port = server->start(0, false, recorder.callbacks());
    }

    LANPeerInfo serverPeer() const {
        LANPeerInfo peer = loopbackPeer(port);
        peer.id = server->deviceID();
        peer.requiresPIN = true;
        return peer;
    }

    VornTestTempDir root;
    LANCallbackRecorder recorder;
    std::unique_ptr<LANSledServer> server;
    std::uint16_t port = 0;
    LANSledClient client;
};

TEST_F(LANSledClientTest, ProbeReadsTheServersInfo) {
    startServer(true);
    const LANPeerInfo peer = client.probePeer("127.0.0.1", port);
    EXPECT_EQ(peer, (LANPeerInfo{server->deviceID(), "Atölye Masası", "Linux", "127.0.0.1", port, "", true, true}));
}

TEST_F(LANSledClientTest, ProbeToleratesSparseInfoAndRefusesWhatIsNotInfo) {
    const std::uint16_t deadPort = closedPort();
    const std::string dead = "127.0.0.1:" + std::to_string(deadPort);
    const struct {
        const char* name;
        std::string reply;  // empty: nothing listens
        const char* error;  // empty: a peer comes back
    } cases[] = {
        {"empty object", lanScriptedReply("200 OK", "{}"), ""},
        {"fields of the wrong types", lanScriptedReply("200 OK", R"({"id":7,"deviceName":[],"requiresPIN":"yes"})"), ""},
        {"array", lanScriptedReply("200 OK", "[1,2]"), "Malformed peer info JSON"},
        {"not JSON", lanScriptedReply("200 OK", "<html>hello</html>"), "Malformed peer info JSON"},
        {"invalid UTF-8 in a string", lanScriptedReply("200 OK", "{\"deviceName\":\"\xC3\x28\"}"), "Malformed peer info JSON"},
        {"deeply nested", lanScriptedReply("200 OK", std::string(20000, '[') + std::string(20000, ']')), "Malformed peer info JSON"},
        {"not found", lanScriptedReply("404 Not Found", R"({"error":"Endpoint not found"})"), "Peer did not respond on "},
        {"created", lanScriptedReply("201 Created", "{}"), "Peer did not respond on "},
        {"not HTTP", "SSH-2.0-OpenSSH_9.2\r\n", "Peer did not respond on "},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        LANScriptedPeer peer(LANScriptedPeer::Mode::answer, testCase.reply);
        const std::string where = "127.0.0.1:" + std::to_string(peer.port());
        if (std::string_view(testCase.error).empty()) {
            EXPECT_EQ(client.probePeer("127.0.0.1", peer.port()),
                      (LANPeerInfo{where, "127.0.0.1", "LAN Device", "127.0.0.1", peer.port(), "", false, true}));
            continue;
        }
        const SledError error = expectSledError([&] { client.probePeer("127.0.0.1", peer.port()); });
        EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
        const std::string expected = std::string(testCase.error) == "Malformed peer info JSON"
                                         ? testCase.error
                                         : std::string(testCase.error) + where;
        EXPECT_EQ(error.message(), expected);
    }

    const SledError refused = expectSledError([&] { client.probePeer("127.0.0.1", deadPort); });
    EXPECT_EQ(refused.kind(), SledError::Kind::connectionFailed);
    EXPECT_EQ(refused.message(), "Peer did not respond on " + dead);
}

TEST_F(LANSledClientTest, ProbeRefusesAddressesThatAreNotOneHost) {
    for (const std::string host : {"", "bad host", "a/b", "evil@127.0.0.1", "127.0.0.1:80", "ho\r\nst", "[::1"}) {
        SCOPED_TRACE(host);
        const SledError error = expectSledError([&] { client.probePeer(host, 8080); });
        EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
        EXPECT_EQ(error.message(), "Invalid LAN peer address " + host + ":8080");
    }
}

TEST_F(LANSledClientTest, ReplyBodiesAreReadOnlyUpToACap) {
    LANScriptedPeer peer(LANScriptedPeer::Mode::endlessBody);
    const SledError probe = expectSledError([&] { client.probePeer("127.0.0.1", peer.port()); });
    EXPECT_EQ(probe.message(), "Malformed peer info JSON");

    const auto file = root.write("small.txt", "abc");
    const SledError send = expectSledError([&] { client.sendFile(file, loopbackPeer(peer.port()), "Me", {}); });
    EXPECT_EQ(send.kind(), SledError::Kind::connectionFailed);
    EXPECT_EQ(send.message(), "Invalid response from LAN peer");

    const SledError clipboard = expectSledError([&] { client.sendClipboard("hi", loopbackPeer(peer.port()), "Me", {}); });
    EXPECT_EQ(clipboard.message(), "Invalid peer response");
}

TEST_F(LANSledClientTest, SendFileDeliversTheBytesUnderASafeNameAndIsVerified) {
    startServer(true);
    std::string content;
    for (int i = 0; i < 300'000; ++i) content += static_cast<char>('a' + i % 26);
    // A name the wire must carry intact: a percent escape of its own, non-ASCII, a colon, a quote.
    const std::string name = "Çalışma %41 \"rapor\": v2.txt";
    const auto file = root.write(name, content);

    const LANSledUploadResponse response = client.sendFile(file, serverPeer(), "Ayşe & Ali?", std::string(pin));
    const std::string digest = VornSHA256::hexDigest(content);
    const std::string savedName = LANNetworkHelpers::sanitizeIncomingFileName(name);
    EXPECT_EQ(response, (LANSledUploadResponse{savedName, 300'000, digest, true}));
    EXPECT_EQ(vornReadFile(root / "downloads" / savedName), content);

    const auto received = recorder.receivedFiles();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].senderName, "Ayşe & Ali?");
    EXPECT_EQ(received[0].sha256Hex, digest);
    EXPECT_TRUE(received[0].verifiedMatch);

    // An empty file is a file too.
    const auto empty = root.write("empty.bin", "");
    const LANSledUploadResponse none = client.sendFile(empty, serverPeer(), "Me", std::string(pin));
    EXPECT_EQ(none.bytes, 0);
    EXPECT_EQ(none.sha256Hex, VornSHA256::hexDigest(""));
    EXPECT_EQ(vornReadFile(root / "downloads" / "empty.bin"), "");
}

TEST_F(LANSledClientTest, WrongOrMissingPINIsInvalidPINAndStoresNothing) {
    startServer(true);
    const auto file = root.write("secret.txt", std::string(200'000, 'x'));
    for (const std::optional<std::string>& presented : {std::optional<std::string>("0000"), std::optional<std::string>(""),
                                                        std::optional<std::string>()}) {
        SCOPED_TRACE(presented.value_or("(none)"));
        EXPECT_EQ(expectSledError([&] { client.sendFile(file, serverPeer(), "Me", presented); }).kind(),
                  SledError::Kind::invalidPIN);
        EXPECT_EQ(expectSledError([&] { client.sendClipboard("hello", serverPeer(), "Me", presented); }).kind(),
                  SledError::Kind::invalidPIN);
    }
    EXPECT_TRUE(lanFolderNames(root / "downloads").empty());
    EXPECT_TRUE(recorder.receivedFiles().empty());
    EXPECT_TRUE(recorder.receivedClipboard().empty());
}

// "Verified" needs proof: the peer's digest equal to ours and its byte count equal to the file's
// size. A different digest is a checksum mismatch; a count that differs or cannot be a count
// means the peer does not hold this file.
TEST_F(LANSledClientTest, EchoedDigestAndCountAreJudged) {
    const auto file = root.write("data.bin", "payload");
    const std::string digest = VornSHA256::hexDigest("payload");
    std::string shouting = digest;
    std::transform(shouting.begin(), shouting.end(), shouting.begin(), ::toupper);
    const std::string other = VornSHA256::hexDigest("something else");
    const std::string echo = R"("sha256":")" + digest + R"(")";

    enum class Outcome { accepted, checksumMismatch, invalidResponse };
    const struct {
        const char* name;
        std::string body;
        Outcome outcome;
        LANSledUploadResponse expected = {};
    } cases[] = {
        {"the same digest in capitals", R"({"status":"ok","fileName":"data (1).bin","bytes":7,"sha256":")" + shouting + R"(","verified":true})",
         Outcome::accepted, {"data (1).bin", 7, digest, true}},
        {"digest and count without a verdict", "{" + echo + R"(,"bytes":7})", Outcome::accepted, {"data.bin", 7, digest, true}},
        {"a digest without a count", "{" + echo + "}", Outcome::accepted, {"data.bin", 7, digest, false}},
        {"a count without a digest", R"({"bytes":7,"verified":true})", Outcome::accepted, {"data.bin", 7, digest, false}},
        {"a verdict alone", R"({"verified":true})", Outcome::accepted, {"data.bin", 7, digest, false}},
        {"the peer says not verified", "{" + echo + R"(,"bytes":7,"verified":false})", Outcome::accepted,
         {"data.bin", 7, digest, false}},
        {"no digest and no verdict", R"({"status":"ok"})", Outcome::accepted, {"data.bin", 7, digest, false}},
        {"not an object", R"("ok")", Outcome::accepted, {"data.bin", 7, digest, false}},
        {"fields of the wrong types", R"({"fileName":1,"bytes":"7","sha256":"","verified":"yes"})", Outcome::accepted,
         {"data.bin", 7, digest, false}},
        {"another digest", R"({"status":"ok","sha256":")" + other + R"(","bytes":7,"verified":true})",
         Outcome::checksumMismatch},
        {"fewer bytes", "{" + echo + R"(,"bytes":6,"verified":true})", Outcome::invalidResponse},
        {"more bytes", "{" + echo + R"(,"bytes":8})", Outcome::invalidResponse},
        {"a negative count", "{" + echo + R"(,"bytes":-1})", Outcome::invalidResponse},
        {"a count past 2^63-1", "{" + echo + R"(,"bytes":9223372036854775808})", Outcome::invalidResponse},
        {"a count that wraps to the size", "{" + echo + R"(,"bytes":18446744073709551623})", Outcome::invalidResponse},
        {"a fractional count", "{" + echo + R"(,"bytes":7.5})", Outcome::invalidResponse},
        {"a count without a digest that differs", R"({"bytes":0})", Outcome::invalidResponse},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        LANScriptedPeer peer(LANScriptedPeer::Mode::answer, lanScriptedReply("200 OK", testCase.body));
        const auto send = [&] { return client.sendFile(file, loopbackPeer(peer.port()), "Me", {}); };
        switch (testCase.outcome) {
        case Outcome::accepted:
            EXPECT_EQ(send(), testCase.expected);
            break;
        case Outcome::checksumMismatch: {
            const SledError error = expectSledError(send);
            EXPECT_EQ(error.kind(), SledError::Kind::checksumMismatch);
            EXPECT_EQ(error.fileName(), "data.bin");
            EXPECT_EQ(error.expected(), digest);
            EXPECT_EQ(error.actual(), other);
            break;
        }
        case Outcome::invalidResponse: {
            const SledError error = expectSledError(send);
            EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
            EXPECT_EQ(error.message(), "Invalid response from LAN peer");
            break;
        }
        }
    }
}

TEST_F(LANSledClientTest, ErrorStatusesCarryTheStartOfTheBody) {
    const auto file = root.write("data.bin", "payload");
    // 299 ASCII bytes then a two-byte letter cut by the 300-byte excerpt.
    const std::string longBody = std::string(299, 'e') + "ü" + std::string(100, 'z');
    const struct {
        const char* status;
        std::string body;
        std::int64_t code;
        std::string fileMessage;
        std::string clipboardMessage;
    } cases[] = {
        {"422 Unprocessable Entity", R"({"error":"SHA-256 verification failed"})", 422,
         R"({"error":"SHA-256 verification failed"})", R"({"error":"SHA-256 verification failed"})"},
        {"500 Internal Server Error", longBody, 500, std::string(299, 'e') + "\uFFFD", std::string(200, 'e')},
        {"302 Found", "", 302, "", ""},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.status);
        LANScriptedPeer peer(LANScriptedPeer::Mode::answer, lanScriptedReply(testCase.status, testCase.body));
        const SledError sent = expectSledError([&] { client.sendFile(file, loopbackPeer(peer.port()), "Me", {}); });
        EXPECT_EQ(sent.kind(), SledError::Kind::httpStatus);
        EXPECT_EQ(sent.statusCode(), testCase.code);
        EXPECT_EQ(sent.message(), testCase.fileMessage);
        const SledError clip = expectSledError([&] { client.sendClipboard("x", loopbackPeer(peer.port()), "Me", {}); });
        EXPECT_EQ(clip.statusCode(), testCase.code);
        EXPECT_EQ(clip.message(), testCase.clipboardMessage);
    }
}

TEST_F(LANSledClientTest, RequestsCarryTheProtocolHeaders) {
    LANScriptedPeer peer(LANScriptedPeer::Mode::answer, lanScriptedReply("200 OK", R"({"status":"ok"})"));
    const auto file = root.write("ünï code.bin", "12345");
    client.sendFile(file, loopbackPeer(peer.port()), "Ali/Veli #1", std::string("9999"));
    client.sendFile(file, loopbackPeer(peer.port()), "Me", std::string(""));
    client.sendClipboard("text", loopbackPeer(peer.port()), "Me", {});
    const std::vector<std::string> heads = peer.heads();
    ASSERT_EQ(heads.size(), 3u);
    for (const std::string line :
         {"POST /api/v1/upload HTTP/1.1\r\n", "Content-Type: application/octet-stream\r\n", "Content-Length: 5\r\n",
          "X-VornSled-Filename: %C3%BCn%C3%AF%20code.bin\r\n", "X-VornSled-Sender: Ali/Veli%20%231\r\n",
          "X-VornSled-PIN: 9999\r\n"}) {
        EXPECT_NE((heads[0] + "\r\n").find(line), std::string::npos) << line << "in\n" << heads[0];
    }
    EXPECT_NE(heads[0].find("X-VornSled-SHA256: " + VornSHA256::hexDigest("12345")), std::string::npos);
    // Expect is never sent; an empty PIN is not sent at all.
    for (const std::string& head : heads) EXPECT_EQ(head.find("Expect"), std::string::npos) << head;
    EXPECT_EQ(heads[1].find("X-VornSled-PIN"), std::string::npos);
    EXPECT_NE(heads[2].find("POST /api/v1/clipboard HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(heads[2].find("Content-Type: application/json\r\n"), std::string::npos);
}

TEST_F(LANSledClientTest, UnreachableOrInvalidPeersFailClearly) {
    const auto file = root.write("a.txt", "a");
    const LANPeerInfo dead = loopbackPeer(closedPort());
    for (const auto& failure : {expectSledError([&] { client.sendFile(file, dead, "Me", {}); }),
                                expectSledError([&] { client.sendClipboard("x", dead, "Me", {}); })}) {
        EXPECT_EQ(failure.kind(), SledError::Kind::connectionFailed);
        EXPECT_FALSE(failure.message().empty());
    }

    LANPeerInfo invalid = loopbackPeer(80);
    invalid.host = "bad host";
    EXPECT_EQ(expectSledError([&] { client.sendFile(file, invalid, "Me", {}); }).message(), "Invalid peer URL");
    EXPECT_EQ(expectSledError([&] { client.sendClipboard("x", invalid, "Me", {}); }).message(), "Invalid peer URL");
}

TEST_F(LANSledClientTest, LocalFilesThatCannotBeReadFailBeforeAnythingIsSent) {
    LANScriptedPeer peer(LANScriptedPeer::Mode::answer, lanScriptedReply("200 OK", "{}"));
    std::filesystem::create_directories(root / "folder");
    for (const auto& path : {root / "missing.bin", root / "folder"}) {
        SCOPED_TRACE(path.string());
        EXPECT_THROW(client.sendFile(path, loopbackPeer(peer.port()), "Me", {}), std::filesystem::filesystem_error);
    }
    EXPECT_TRUE(peer.heads().empty());
    EXPECT_THROW(client.sendClipboard("\xFF\xFE", loopbackPeer(peer.port()), "Me", {}), std::invalid_argument);
    EXPECT_THROW(client.sendClipboard("ok", loopbackPeer(peer.port()), "\xC0", {}), std::invalid_argument);
}

TEST_F(LANSledClientTest, ClipboardRoundTrip) {
    startServer(true);
    const std::string text = "Merhaba dünya 🌍\n\"quoted\" \\ line\ttab";
    EXPECT_EQ(client.sendClipboard(text, serverPeer(), "Ayşe", std::string(pin)), VornSHA256::hexDigest(text));
    const auto messages = recorder.receivedClipboard();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[0].senderName, "Ayşe");
    EXPECT_EQ(messages[0].sha256Hex, VornSHA256::hexDigest(text));
    EXPECT_FALSE(messages[0].isOutgoing);
}

TEST_F(LANSledClientTest, ParallelSendsCollectEveryOutcomeInCompletionOrder) {
    startServer(true);
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 10; ++i) files.push_back(root.write("in/file-" + std::to_string(i) + ".txt", std::string(1000 + i, 'a' + i)));
    const auto big = root.write("in/too big.bin", std::string(256 * 1024, 'B'));
    files.insert(files.begin() + 4, big);
    files.insert(files.begin() + 7, root / "in" / "vanished.txt");

    // The peer may write no file beyond 64 KiB, so storing the big one fails on its side.
    rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const std::vector<LANSledSendOutcome> outcomes =
        client.sendFilesInParallel(files, serverPeer(), "Me", std::string(pin), 3);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(outcomes.size(), files.size());
    std::set<std::filesystem::path> seen;
    for (const LANSledSendOutcome& outcome : outcomes) {
        SCOPED_TRACE(outcome.localURL.string());
        EXPECT_TRUE(seen.insert(outcome.localURL).second);
        if (outcome.localURL == big) {
            ASSERT_FALSE(outcome.succeeded());
            try {
                std::rethrow_exception(outcome.error());
            } catch (const SledError& error) {
                EXPECT_EQ(error.kind(), SledError::Kind::httpStatus);
                EXPECT_EQ(error.statusCode(), 500);
            }
        } else if (outcome.localURL.filename() == "vanished.txt") {
            ASSERT_FALSE(outcome.succeeded());
            EXPECT_THROW(std::rethrow_exception(outcome.error()), std::filesystem::filesystem_error);
        } else {
            ASSERT_TRUE(outcome.succeeded());
            EXPECT_EQ(outcome.error(), nullptr);
            EXPECT_EQ(outcome.response()->fileName, outcome.localURL.filename().string());
            EXPECT_TRUE(outcome.response()->remoteVerified);
            EXPECT_EQ(vornReadFile(root / "downloads" / outcome.response()->fileName), vornReadFile(outcome.localURL));
        }
    }
    EXPECT_FALSE(lanHasTemporaryFile(root / "downloads"));
    // The peer stored exactly the files reported as sent.
    std::multiset<std::string> sent;
    for (const auto& outcome : outcomes) {
        if (outcome.succeeded()) sent.insert(outcome.response()->fileName);
    }
    std::multiset<std::string> stored;
    for (const auto& item : recorder.receivedFiles()) stored.insert(item.fileName);
    EXPECT_EQ(sent, stored);
    EXPECT_EQ(sent.size(), 10u);
}

TEST_F(LANSledClientTest, ParallelWidthIsHeldBetweenOneAndEight) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 20; ++i) files.push_back(root.write("f" + std::to_string(i), std::to_string(i)));
    for (const auto& [asked, width] : std::map<int, int>{{-3, 1}, {0, 1}, {1, 1}, {5, 5}, {8, 8}, {20, 8}}) {
        SCOPED_TRACE(asked);
        LANScriptedPeer peer(LANScriptedPeer::Mode::gatherThenAnswer, lanScriptedReply("200 OK", R"({"status":"ok"})"));
        peer.gather(width, static_cast<int>(files.size()));
        const auto outcomes = client.sendFilesInParallel(files, loopbackPeer(peer.port()), "Me", {}, asked);
        EXPECT_EQ(outcomes.size(), files.size());
        EXPECT_TRUE(std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o.succeeded(); }));
        EXPECT_EQ(peer.mostHeldAtOnce(), width);
    }
    EXPECT_TRUE(client.sendFilesInParallel({}, loopbackPeer(1), "Me", {}, 4).empty());
}

TEST_F(LANSledClientTest, SlowPeersTimeOutOrAreCancelled) {
    LANScriptedPeer peer(LANScriptedPeer::Mode::stall);
    const auto file = root.write("a.txt", "abc");

    // A peer that never answers: the idle limit ends the exchange.
    LANSledClientSession impatient;
    impatient.probeTimeLimit = impatient.uploadTimeLimit = impatient.clipboardTimeLimit = std::chrono::seconds(1);
    const LANSledClient quick(impatient);
    EXPECT_EQ(expectSledError([&] { quick.probePeer("127.0.0.1", peer.port()); }).message(),
              "Peer did not respond on 127.0.0.1:" + std::to_string(peer.port()));
    EXPECT_EQ(expectSledError([&] { quick.sendFile(file, loopbackPeer(peer.port()), "Me", {}); }).kind(),
              SledError::Kind::connectionFailed);

    // A peer that answers one byte at a time never goes idle; the whole exchange still has a
    // deadline for a probe and a clipboard send.
    {
        LANScriptedPeer dripping(LANScriptedPeer::Mode::trickle,
                                 lanScriptedReply("200 OK", "{\"deviceName\":\"" + std::string(4000, 'x') + "\"}"));
        LANSledClientSession patient;
        patient.probeTimeLimit = patient.clipboardTimeLimit = std::chrono::seconds(30);
        patient.probeDeadline = patient.clipboardDeadline = std::chrono::seconds(1);
        const LANSledClient bounded(patient);
        EXPECT_EQ(expectSledError([&] { bounded.probePeer("127.0.0.1", dripping.port()); }).message(),
                  "Peer did not respond on 127.0.0.1:" + std::to_string(dripping.port()));
        EXPECT_EQ(expectSledError([&] { bounded.sendClipboard("x", loopbackPeer(dripping.port()), "Me", {}); }).kind(),
                  SledError::Kind::connectionFailed);
    }

    // A peer that took the whole body and then answers a byte at a time, or not at all: the
    // answer has its own deadline from the body's last byte, and the send says the file may
    // have arrived.
    {
        LANSledClientSession patient;
        patient.uploadTimeLimit = std::chrono::seconds(30);
        patient.uploadAnswerDeadline = std::chrono::seconds(1);
        const LANSledClient bounded(patient);
        LANScriptedPeer dripping(LANScriptedPeer::Mode::trickle,
                                 lanScriptedReply("200 OK", "{\"status\":\"" + std::string(4000, 'x') + "\"}"));
        LANScriptedPeer silent(LANScriptedPeer::Mode::stall);
        LANPeerInfo to = loopbackPeer(dripping.port());
        to.deviceName = "Lab PC";
        for (const std::uint16_t stuck : {dripping.port(), silent.port()}) {
            to.port = stuck;
            const SledError error = expectSledError([&] { bounded.sendFile(file, to, "Me", {}); });
            EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
            EXPECT_EQ(error.message(), "Lab PC did not confirm receiving 'a.txt'; the file may have arrived.");
        }
    }

    // The caller stops waiting: every send ends as cancelled, started or not.
    std::stop_source stop;
    std::jthread canceller([&] {
        peer.waitForRequests(4);
        stop.request_stop();
    });
    const std::vector<std::filesystem::path> files(5, file);
    const auto outcomes = client.sendFilesInParallel(files, loopbackPeer(peer.port()), "Me", {}, 2, stop.get_token());
    ASSERT_EQ(outcomes.size(), 5u);
    for (const auto& outcome : outcomes) EXPECT_THROW(std::rethrow_exception(outcome.error()), VornTaskCancelled);
    EXPECT_THROW(client.sendClipboard("x", loopbackPeer(peer.port()), "Me", {}, stop.get_token()), VornTaskCancelled);
}

}  // namespace

// The digest in the head is the digest of the body: both come from one open file, exactly the
// bytes it held when opened. A file that changed before the peer's answer arrived fails the send,
// even though the peer confirms the bytes it got; the same exchange on a file left alone succeeds.
TEST_F(LANSledClientTest, AFileThatChangesWhileItIsSentFailsTheSend) {
    const std::string content(200'000, 'c');
    const auto file = root.write("grows.log", content);
    bool grow = true;
    std::string received;
    VornTestHTTPServer peer([&](const VornRecordedRequest& request) {
        received = request.body;
        if (grow) std::ofstream(file, std::ios::app) << "more";
        const nlohmann::json reply{{"status", "ok"},
                                   {"fileName", "grows.log"},
                                   {"bytes", request.body.size()},
                                   {"sha256", VornSHA256::hexDigest(request.body)},
                                   {"verified", request.header("x-vornsled-sha256") == VornSHA256::hexDigest(request.body)}};
        return VornTestHTTPReply{VornTestHTTPReply::Action::respond, 200, {{"Content-Type", "application/json"}},
                                 reply.dump()};
    });
    const SledError error = expectSledError([&] { client.sendFile(file, loopbackPeer(peer.port()), "Me", {}); });
    EXPECT_NE(error.description().find("changed while it was sent"), std::string::npos) << error.description();
    EXPECT_EQ(received, content);

    grow = false;
    const LANSledUploadResponse calm = client.sendFile(file, loopbackPeer(peer.port()), "Me", {});
    EXPECT_TRUE(calm.remoteVerified);
    EXPECT_EQ(received, content + "more");
}

namespace {

// Two instances on this machine, each added to the other by the machine's own name, as a user
// types it: the name reaches the server in the Host field and must be taken as this machine's.
TEST(LANSledClientPairing, InstancesAddedByTheMachinesNameExchangeFilesAndTexts) {
    const std::vector<std::string> own = LANNetworkHelpers::currentMachineNames(false);
    ASSERT_FALSE(own.empty());
    const std::string name = own.front();
    addrinfo* found = nullptr;
    ASSERT_EQ(::getaddrinfo(name.c_str(), nullptr, nullptr, &found), 0) << "this machine's name " << name << " must resolve";
    ::freeaddrinfo(found);

    VornTestTempDir root;
    LANCallbackRecorder firstRecorder;
    LANCallbackRecorder secondRecorder;
    LANSledServer first("First", root / "first", true, "1357");
    LANSledServer second("Second", root / "second", false, "");
    const std::uint16_t firstPort = first.start(0, false, firstRecorder.callbacks());
    const std::uint16_t secondPort = second.start(0, false, secondRecorder.callbacks());
    const std::filesystem::path note = root.write("outgoing/note.txt", "paired by name\n");

    LANSledClient client;
    const LANPeerInfo toFirst = client.probePeer(name, firstPort);
    const LANPeerInfo toSecond = client.probePeer(name, secondPort);
    EXPECT_EQ(toFirst.deviceName, "First");
    EXPECT_EQ(toSecond.deviceName, "Second");
    EXPECT_TRUE(toFirst.requiresPIN);

    EXPECT_TRUE(client.sendFile(note, toFirst, "Second", std::string("1357")).remoteVerified);
    EXPECT_TRUE(client.sendFile(note, toSecond, "First", std::nullopt).remoteVerified);
    client.sendClipboard("from second", toFirst, "Second", std::string("1357"));
    client.sendClipboard("from first", toSecond, "First", std::nullopt);

    EXPECT_EQ(vornReadFile(root / "first/note.txt"), "paired by name\n");
    EXPECT_EQ(vornReadFile(root / "second/note.txt"), "paired by name\n");
    ASSERT_EQ(firstRecorder.receivedClipboard().size(), 1u);
    EXPECT_EQ(firstRecorder.receivedClipboard()[0].text, "from second");
    ASSERT_EQ(secondRecorder.receivedClipboard().size(), 1u);
    EXPECT_EQ(secondRecorder.receivedClipboard()[0].text, "from first");
}

}  // namespace

namespace {

// The answer's deadline starts when the body is all out: a peer that leaves a large body unread
// for longer than the deadline and then takes it and answers is a successful send.
TEST(LANSledClientAnswerDeadline, CountsFromTheBodysLastByte) {
    VornTestTempDir root;
    const std::filesystem::path big = root / "big.bin";
    {
        std::ofstream out(big, std::ios::binary);
        const std::string block(1 << 20, 'b');
        for (int i = 0; i < 64; ++i) out << block;
    }
    LANScriptedPeer slowReader(LANScriptedPeer::Mode::pauseThenAnswer, lanScriptedReply("200 OK", R"({"status":"ok"})"));
    // The pause is well beyond the deadline; the deadline is well beyond the moment the peer
    // needs to take the few MiB still in the sockets' buffers once it reads again.
    slowReader.setPause(std::chrono::seconds(12));
    LANSledClientSession session;
    session.uploadAnswerDeadline = std::chrono::seconds(5);
    const LANSledClient client(session);
    const LANSledUploadResponse response = client.sendFile(big, loopbackPeer(slowReader.port()), "Me", {});
    EXPECT_EQ(response.bytes, 64 << 20);
}

}  // namespace
