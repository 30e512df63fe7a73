#include "LANNetworkHelpers.h"
#include "LANServerTestSupport.h"
#include "SledLeftoverTestSupport.h"
#include "VornChecksum.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

namespace {

constexpr const char* pin = "4821";

class LANSledServerTest : public ::testing::Test {
protected:
    // Wrong PINs here wait a little, not the real second per recent wrong PIN.
    void SetUp() override {
        LANServerLimits limits;
        limits.pinWrongAnswerWait = std::chrono::milliseconds(20);
        startServer(limits);
    }

    void startServer(LANServerLimits limits) {
        server.reset();
        downloads = root / "downloads";
        server = std::make_unique<LANSledServer>("Desk & <Lab>", downloads, true, pin, limits);
        port = server->start(0, false, recorder.callbacks());
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    // curl's answer: the status code on the last line, the body before it.
    VornShellResult curl(const std::string& arguments) const {
        return vornShell("curl -sS --noproxy '*' -H 'Expect:' -w '\\n%{http_code}' " + arguments);
    }

    static std::string statusOf(const VornShellResult& result) {
        return result.output.substr(result.output.rfind('\n') + 1);
    }
    static nlohmann::json bodyOf(const VornShellResult& result) {
        return nlohmann::json::parse(result.output.substr(0, result.output.rfind('\n')), nullptr, false);
    }

    std::string upload(const std::string& headers, std::string_view body) const {
        return lanExchange(port, "POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: " + std::string(pin) + "\r\n" +
                                     headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                     std::string(body));
    }

    VornTestTempDir root;
    std::filesystem::path downloads;
    LANCallbackRecorder recorder;
    std::unique_ptr<LANSledServer> server;
    std::uint16_t port = 0;
};

TEST_F(LANSledServerTest, RoutesAnswerInTheirOrder) {
    const std::string pinHeader = std::string("X-VornSled-PIN: ") + pin + "\r\n";
    const struct {
        const char* name;
        std::string request;
        const char* status;
        const char* body;  // substring of the body
    } cases[] = {
        {"portal without PIN", "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "<title>VornSled LAN — Desk &amp; &lt;Lab&gt;"},
        {"portal alias", "GET /index.html HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "id=\"pin\""},
        {"info without PIN", "GET /api/v1/info HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "\"protocolVersion\":1"},
        {"lower-case method", "get /api/v1/info HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "\"platform\":\"Linux\""},
        {"wrong case path, no PIN", "GET /API/v1/info HTTP/1.1\r\n\r\n", "HTTP/1.1 401 Unauthorized", "{\"error\":\"Invalid PIN\"}"},
        {"wrong case path, PIN", "GET /API/v1/info HTTP/1.1\r\n" + pinHeader + "\r\n", "HTTP/1.1 404 Not Found",
         "{\"error\":\"Endpoint not found\"}"},
        {"unknown path wrong PIN", "GET /nope?pin=0000 HTTP/1.1\r\n\r\n", "HTTP/1.1 401 Unauthorized", "Invalid PIN"},
        {"PIN by query", std::string("GET /api/v1/clipboard?pin=") + pin + " HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", "{\"text\":\"\"}"},
        {"PIN by header", "GET /api/v1/shares HTTP/1.1\r\n" + pinHeader + "\r\n", "HTTP/1.1 200 OK", "[]"},
        {"empty header beside a valid query", std::string("GET /api/v1/shares?pin=") + pin + " HTTP/1.1\r\nX-VornSled-PIN:\r\n\r\n",
         "HTTP/1.1 401 Unauthorized", "Invalid PIN"},
        {"upload path with GET", "GET /api/v1/upload HTTP/1.1\r\n" + pinHeader + "\r\n", "HTTP/1.1 404 Not Found", "Endpoint not found"},
        {"unknown download token", "GET /api/v1/download/zzz HTTP/1.1\r\n" + pinHeader + "\r\n", "HTTP/1.1 404 Not Found",
         "{\"error\":\"Shared file not found\"}"},
        {"cross-site origin", "GET /api/v1/info HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil.example\r\n\r\n",
         "HTTP/1.1 403 Forbidden", "{\"error\":\"Forbidden\"}"},
        {"chunked body", "POST /api/v1/upload HTTP/1.1\r\n" + pinHeader + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "{\"error\":\"Content-Length required\"}"},
    };
    for (const auto& c : cases) {
        const LANParsedResponse response = lanParseResponse(lanExchange(port, c.request));
        EXPECT_EQ(response.statusLine, c.status) << c.name;
        EXPECT_NE(response.body.find(c.body), std::string::npos) << c.name << ": " << response.body.substr(0, 200);
    }
    EXPECT_FALSE(std::filesystem::exists(downloads)) << "nothing may be written by refused requests";
}

// A page on a name an outsider controls, re-pointed at this machine, is same-origin with the
// server as far as the browser knows: only the Host field tells it apart.
TEST_F(LANSledServerTest, RequestsNamingAnotherHostAreRefusedBeforeAnyRoute) {
    const std::vector<std::string> own = LANNetworkHelpers::currentMachineNames(false);
    ASSERT_FALSE(own.empty());
    const std::string label = own.front().substr(0, own.front().find('.'));
    const std::string at = ":" + std::to_string(port);
    const struct {
        std::string host;
        bool served;
    } cases[] = {
        {"127.0.0.1" + at, true},
        {"[::1]" + at, true},
        {"192.168.1.20" + at, true},
        {"localhost" + at, true},
        {"localhost.", true},
        {label + at, true},
        {label + ".local" + at, true},
        {label + ".LOCAL." + at, true},
        {"attacker.example" + at, false},
        {label + ".attacker.example" + at, false},
        {"localhost.attacker.example" + at, false},
        {"127.0.0.1.attacker.example" + at, false},
        {"0x7f.1" + at, false},
        {"127.0.0.1:80x", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const std::string host = "Host: " + c.host + "\r\n";
        const std::string same = "Origin: http://" + c.host + "\r\n";
        const LANParsedResponse portal = lanParseResponse(lanExchange(port, "GET / HTTP/1.1\r\n" + host + "\r\n"));
        const LANParsedResponse clipboard = lanParseResponse(lanExchange(
            port, "POST /api/v1/clipboard HTTP/1.1\r\n" + host + same + "X-VornSled-PIN: 4821\r\nContent-Length: 31\r\n\r\n"
                  "{\"text\":\"curl http://x/x | sh\"}"));
        const LANParsedResponse shares =
            lanParseResponse(lanExchange(port, "GET /api/v1/shares HTTP/1.1\r\n" + host + same + "X-VornSled-PIN: 4821\r\n\r\n"));
        if (c.served) {
            EXPECT_EQ(portal.statusLine, "HTTP/1.1 200 OK") << c.host;
            EXPECT_EQ(clipboard.statusLine, "HTTP/1.1 200 OK") << c.host;
            EXPECT_EQ(shares.statusLine, "HTTP/1.1 200 OK") << c.host;
        } else {
            for (const LANParsedResponse* refused : {&portal, &clipboard, &shares}) {
                EXPECT_EQ(refused->statusLine, "HTTP/1.1 403 Forbidden") << c.host;
                EXPECT_EQ(refused->json()["error"], "Unknown host name: reach this device by its address or its own name")
                    << c.host;
            }
        }
    }
    std::size_t served = 0;
    for (const auto& c : cases) served += c.served ? 1 : 0;
    EXPECT_EQ(recorder.receivedClipboard().size(), served) << "a refused clipboard post never reaches the desktop";
}

TEST_F(LANSledServerTest, ResponseHeadsAreExact) {
    const std::string response = lanExchange(port, "GET /x HTTP/1.1\r\nX-VornSled-PIN: 4821\r\n\r\n");
    EXPECT_EQ(response, "HTTP/1.1 404 Not Found\r\nContent-Type: application/json; charset=utf-8\r\n"
                        "Content-Length: 30\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n"
                        "{\"error\":\"Endpoint not found\"}");
    const LANParsedResponse info = lanParseResponse(lanExchange(port, "GET /api/v1/info HTTP/1.1\r\n\r\n"));
    const nlohmann::json object = info.json();
    const std::string id = object["id"].get<std::string>();
    ASSERT_EQ(id.size(), 12u);
    for (std::size_t i = 0; i < id.size(); ++i) {
        EXPECT_TRUE(i == 8 ? id[i] == '-' : std::isxdigit(static_cast<unsigned char>(id[i])) && !std::isupper(static_cast<unsigned char>(id[i]))) << id;
    }
    EXPECT_EQ(object["id"], server->deviceID());
    EXPECT_EQ(object["deviceName"], "Desk & <Lab>");
    EXPECT_EQ(object["port"], port);
    EXPECT_EQ(object["requiresPIN"], true);
    EXPECT_EQ(object["platform"], "Linux");
}

TEST_F(LANSledServerTest, HeadsArriveInAnyPiecesButNotBeyondTheCap) {
    {
        LANRawClient client(port);
        for (const char c : std::string("GET /api/v1/info HTTP/1.1\r\nHost: localhost\r\n\r\n")) {
            ASSERT_TRUE(client.send(std::string_view(&c, 1)));
        }
        EXPECT_EQ(lanParseResponse(client.readAll()).statusLine, "HTTP/1.1 200 OK");
    }
    const std::string huge = "GET /api/v1/info HTTP/1.1\r\nX-Pad: " + std::string(70'000, 'p') + "\r\n\r\n";
    const LANParsedResponse refused = lanParseResponse(lanExchange(port, huge));
    EXPECT_EQ(refused.statusLine, "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_EQ(refused.body, "{\"error\":\"Header too large\"}");

    // No head, or a request line of one piece: closed without a word.
    for (const std::string& request : {std::string("GET /api/v1/info HTTP/1.1\r\n"), std::string("GARBAGE\r\n\r\n"),
                                      std::string("\r\n\r\n")}) {
        EXPECT_EQ(lanExchange(port, request), "") << request;
    }
}

TEST_F(LANSledServerTest, UploadsAreVerifiedStoredAndReported) {
    VORN_REQUIRE_TOOL("curl");
    const std::string content = "hello over the LAN\n";
    const std::filesystem::path source = root.write("source/note.txt", content);
    const std::string digest = VornSHA256::hexDigest(content);
    std::string upper = digest;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string common = std::string(" -H 'X-VornSled-PIN: ") + pin + "' --data-binary @" + vornShellQuote(source.string()) +
                               " " + url("/api/v1/upload");

    const struct {
        const char* name;
        std::string headers;
        std::string status;
        bool verified;
        std::string savedAs;
    } cases[] = {
        {"right digest", "-H 'X-VornSled-Filename: note.txt' -H 'X-VornSled-SHA256: " + digest + "'", "200", true, "note.txt"},
        {"upper-case digest", "-H 'X-VornSled-Filename: note.txt' -H 'X-VornSled-SHA256:  " + upper + " '", "200", true, "note (1).txt"},
        {"no digest", "-H 'X-VornSled-Filename: note.txt'", "200", false, "note (2).txt"},
        {"empty digest counts as none", "-H 'X-VornSled-Filename: %E2%9C%93 ok.txt' -H 'X-VornSled-SHA256;'", "200", false, "✓ ok.txt"},
        {"no name", "", "200", false, "sleded-file.bin"},
    };
    for (const auto& c : cases) {
        const VornShellResult result = curl(c.headers + common);
        ASSERT_EQ(statusOf(result), c.status) << c.name << ": " << result.output;
        const nlohmann::json reply = bodyOf(result);
        EXPECT_EQ(reply["status"], "ok") << c.name;
        EXPECT_EQ(reply["fileName"], c.savedAs) << c.name;
        EXPECT_EQ(reply["bytes"], content.size()) << c.name;
        EXPECT_EQ(reply["sha256"], digest) << c.name;
        EXPECT_EQ(reply["verified"], c.verified) << c.name;
        EXPECT_EQ(vornReadFile(downloads / c.savedAs), content) << c.name;
    }
    const std::vector<LANReceivedFileItem> received = recorder.receivedFiles();
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(received[0].senderName, "LAN Peer");
    EXPECT_EQ(received[0].savedPath, (downloads / "note.txt").string());
    EXPECT_TRUE(received[0].verifiedMatch);
    EXPECT_FALSE(received[2].verifiedMatch);

    const VornShellResult wrong = curl("-H 'X-VornSled-Filename: bad.txt' -H 'X-VornSled-SHA256: " + std::string(64, '0') + "'" + common);
    EXPECT_EQ(statusOf(wrong), "422");
    const nlohmann::json mismatch = bodyOf(wrong);
    EXPECT_EQ(mismatch["error"], "SHA-256 verification failed");
    EXPECT_EQ(mismatch["expected"], std::string(64, '0'));
    EXPECT_EQ(mismatch["actual"], digest);
    EXPECT_FALSE(std::filesystem::exists(downloads / "bad.txt"));
    EXPECT_FALSE(lanHasTemporaryFile(downloads));
    EXPECT_EQ(recorder.receivedFiles().size(), 5u);
}

TEST_F(LANSledServerTest, BodiesShorterOrLongerThanAnnounced) {
    // Empty, and lengths that are no number: an empty file.
    for (const char* length : {"0", "abc", "-12"}) {
        const std::string response = lanExchange(port, std::string("POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\n"
                                                                   "X-VornSled-Filename: empty.bin\r\nContent-Length: ") +
                                                           length + "\r\n\r\n");
        EXPECT_EQ(lanParseResponse(response).statusLine, "HTTP/1.1 200 OK") << length;
    }
    EXPECT_EQ(std::filesystem::file_size(downloads / "empty.bin"), 0u);

    // Extra bytes after the announced length are not written.
    const LANParsedResponse extra = lanParseResponse(
        lanExchange(port, "POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nX-VornSled-Filename: five.txt\r\n"
                          "Content-Length: 5\r\n\r\n12345EXTRA-BYTES"));
    EXPECT_EQ(extra.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(vornReadFile(downloads / "five.txt"), "12345");

    // A peer that ends early: 400, and no file or temporary file stays.
    for (const char* length : {"100", "9000000000000000000"}) {
        LANRawClient client(port);
        client.send(std::string("POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nX-VornSled-Filename: short.txt\r\n"
                                "Content-Length: ") + length + "\r\n\r\n0123456789");
        client.finishSending();
        const LANParsedResponse response = lanParseResponse(client.readAll());
        EXPECT_EQ(response.statusLine, "HTTP/1.1 400 Bad Request");
        EXPECT_EQ(response.json()["error"], std::string("Incomplete upload: received 10 of ") + length + " bytes");
    }
    EXPECT_FALSE(std::filesystem::exists(downloads / "short.txt"));
    EXPECT_FALSE(lanHasTemporaryFile(downloads));
}

TEST_F(LANSledServerTest, StorageFailuresAnswer500AndLeaveNothing) {
    // The download folder cannot be created: the system's own words come back.
    root.write("blocker", "a file where a folder should be");
    server->updateConfiguration("Desk", root / "blocker" / "in", true, pin);
    const LANParsedResponse noFolder = lanParseResponse(upload("X-VornSled-Filename: a.txt\r\n", "abc"));
    EXPECT_EQ(noFolder.statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(noFolder.json()["error"], "Not a directory");

    // A write that fails half-way (the file-size limit stands in for a full disk).
    server->updateConfiguration("Desk", downloads, true, pin);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = 100'000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string response = upload("X-VornSled-Filename: big.bin\r\n", std::string(300'000, 'w'));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    const LANParsedResponse full = lanParseResponse(response);
    EXPECT_EQ(full.statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(full.json()["error"], "Disk write failed");
    EXPECT_EQ(lanFolderNames(downloads), std::vector<std::string>{});
    EXPECT_TRUE(recorder.receivedFiles().empty());
}

TEST_F(LANSledServerTest, HostileFileNamesStayInTheDownloadFolder) {
    const std::string longName(10'000, 'L');
    const struct {
        std::string sent;
        std::string saved;
    } cases[] = {
        {"..%2F..%2Fescape.txt", "escape.txt"},
        {"../../escape2.txt", "escape2.txt"},
        {"%2Fetc%2Fpasswd", "passwd"},
        {"..%5C..%5Cwin.ini", "win.ini"},
        {"nul%00byte.sh", "nul_byte.sh"},
        {"%E2%80%AEfdp.exe", "_fdp.exe"},
        {"%zz-bad-escape.txt", "%zz-bad-escape.txt"},
        {"%FF%FE.txt", "%FF%FE.txt"},
        {"..", "sleded-file.bin"},
        {longName + ".txt", std::string(251, 'L') + ".txt"},
    };
    for (const auto& c : cases) {
        const LANParsedResponse response =
            lanParseResponse(upload("X-VornSled-Filename: " + c.sent + "\r\n", "payload"));
        ASSERT_EQ(response.statusLine, "HTTP/1.1 200 OK") << c.sent.substr(0, 40);
        EXPECT_EQ(response.json()["fileName"], c.saved) << c.sent.substr(0, 40);
        EXPECT_EQ(vornReadFile(downloads / c.saved), "payload");
    }
    EXPECT_EQ(lanFolderNames(root.path()), std::vector<std::string>{"downloads"});
    EXPECT_EQ(lanFolderNames(downloads).size(), std::size(cases));
}

TEST_F(LANSledServerTest, ParallelUploadsOfOneNameAllSurvive) {
    constexpr int uploads = 12;
    std::vector<std::thread> senders;
    for (int i = 0; i < uploads; ++i) {
        senders.emplace_back([this, i] { upload("X-VornSled-Filename: same.txt\r\n", "copy " + std::to_string(i)); });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    std::set<std::string> contents;
    for (const std::string& name : lanFolderNames(downloads)) {
        contents.insert(vornReadFile(downloads / name));
    }
    EXPECT_EQ(contents.size(), static_cast<std::size_t>(uploads));
    EXPECT_EQ(lanFolderNames(downloads).size(), static_cast<std::size_t>(uploads));
    EXPECT_EQ(recorder.receivedFiles().size(), static_cast<std::size_t>(uploads));
}

// Bodies larger than every receive chunk in flight together, several at once: the disk writes
// run beside the receiving, and each file must still come out whole, in order and verified.
TEST_F(LANSledServerTest, UploadsOfManyChunksArriveWholeAndInOrder) {
    VORN_REQUIRE_TOOL("curl");
    constexpr int uploads = 3;
    std::vector<std::string> contents;
    std::vector<std::filesystem::path> sources;
    for (int i = 0; i < uploads; ++i) {
        std::string content((6 << 20) + 7 * i + 1, '\0');
        std::uint32_t state = static_cast<std::uint32_t>(i) + 1;
        for (char& c : content) {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        }
        sources.push_back(root.write("source/part-" + std::to_string(i) + ".bin", content));
        contents.push_back(std::move(content));
    }
    std::vector<VornShellResult> results(uploads);
    std::vector<std::thread> senders;
    for (int i = 0; i < uploads; ++i) {
        senders.emplace_back([&, i] {
            results[static_cast<std::size_t>(i)] =
                curl("-H 'X-VornSled-PIN: " + std::string(pin) + "' -H 'X-VornSled-Filename: part-" + std::to_string(i) +
                     ".bin' -H 'X-VornSled-SHA256: " + VornSHA256::hexDigest(contents[static_cast<std::size_t>(i)]) +
                     "' -X POST -T " + vornShellQuote(sources[static_cast<std::size_t>(i)].string()) + " " +
                     url("/api/v1/upload"));
        });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    for (int i = 0; i < uploads; ++i) {
        const VornShellResult& result = results[static_cast<std::size_t>(i)];
        ASSERT_EQ(statusOf(result), "200") << result.output;
        EXPECT_EQ(bodyOf(result)["verified"], true);
        EXPECT_TRUE(vornReadFile(downloads / ("part-" + std::to_string(i) + ".bin")) == contents[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_FALSE(lanHasTemporaryFile(downloads));
}

TEST_F(LANSledServerTest, WrongPINOnABigUploadIsAnsweredNotReset) {
    VORN_REQUIRE_TOOL("curl");
    const std::filesystem::path big = root / "big.bin";
    std::filesystem::create_directories(root.path());
    {
        std::ofstream out(big, std::ios::binary);
        const std::string block(1 << 20, 'b');
        for (int i = 0; i < 50; ++i) {
            out << block;
        }
    }
    const VornShellResult result = curl("-H 'X-VornSled-PIN: 0000' --data-binary @" + vornShellQuote(big.string()) + " " +
                                        url("/api/v1/upload"));
    EXPECT_EQ(statusOf(result), "401") << result.output;
    EXPECT_EQ(bodyOf(result)["error"], "Invalid PIN");
    EXPECT_FALSE(std::filesystem::exists(downloads));
}

// curl with its default headers announces bodies over 1 MiB with "Expect: 100-continue" and waits
// for an answer before sending them: a good head hears "100 Continue", a refused one its final
// answer, and then no byte of the body travels.
TEST_F(LANSledServerTest, ExpectContinueIsAnsweredFromTheHead) {
    VORN_REQUIRE_TOOL("curl");
    std::filesystem::create_directories(root.path());
    const std::filesystem::path body = root / "two-mib.bin";
    {
        std::ofstream out(body, std::ios::binary);
        out << std::string(2 << 20, 'e');
    }
    struct Case {
        std::string name;
        std::string headers;
        std::string status;
        bool continued;  // the server's 100 reached curl
        std::string uploaded;
    };
    const std::vector<Case> cases = {
        {"right PIN", "-H 'X-VornSled-PIN: " + std::string(pin) + "' -H 'X-VornSled-Filename: big.bin'", "200", true,
         std::to_string(2 << 20)},
        {"wrong PIN", "-H 'X-VornSled-PIN: 0000' -H 'X-VornSled-Filename: refused.bin'", "401", false, "0"},
        {"no such route", "-H 'X-VornSled-PIN: " + std::string(pin) + "'", "404", false, "0"},
    };
    for (const Case& c : cases) {
        const std::string path = c.status == "404" ? "/api/v1/nowhere" : "/api/v1/upload";
        const VornShellResult result =
            vornShell("curl -sS -v --noproxy '*' -o /dev/null -w 'status=%{http_code} uploaded=%{size_upload}\\n' " +
                      c.headers + " --data-binary @" + vornShellQuote(body.string()) + " " + url(path) + " 2>&1");
        const std::string& log = result.output;
        EXPECT_NE(log.find("> Expect: 100-continue"), std::string::npos) << c.name << "\n" << log;
        EXPECT_EQ(log.find("< HTTP/1.1 100 Continue") != std::string::npos, c.continued) << c.name << "\n" << log;
        // curl says so when it gave up waiting and sent the body unasked.
        EXPECT_EQ(log.find("Done waiting for 100-continue"), std::string::npos) << c.name << "\n" << log;
        EXPECT_NE(log.find("status=" + c.status + " uploaded=" + c.uploaded), std::string::npos) << c.name << "\n"
                                                                                                 << log;
    }
    EXPECT_EQ(std::filesystem::file_size(downloads / "big.bin"), std::uintmax_t{2} << 20);
    EXPECT_FALSE(std::filesystem::exists(downloads / "refused.bin"));
}

TEST_F(LANSledServerTest, ClipboardInAndOut) {
    const auto post = [&](const std::string& body) {
        return lanParseResponse(lanExchange(port, "POST /api/v1/clipboard HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nContent-Length: " +
                                                      std::to_string(body.size()) + "\r\n\r\n" + body));
    };
    const LANParsedResponse accepted = post(R"({"text":"Grüße","sender":"Phone"})");
    EXPECT_EQ(accepted.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(accepted.json(), (nlohmann::json{{"status", "ok"}, {"sha256", VornSHA256::hexDigest("Grüße")}}));
    EXPECT_EQ(post(R"({"text":"","sender":7})").json()["sha256"], VornSHA256::hexDigest(""));
    for (const std::string& bad : {std::string(R"(["text"])"), std::string(R"({"sender":"x"})"), std::string(R"({"text":5})"),
                                  std::string("not json"), std::string()}) {
        const LANParsedResponse refused = post(bad);
        EXPECT_EQ(refused.statusLine, "HTTP/1.1 400 Bad Request") << bad;
        EXPECT_EQ(refused.json()["error"], "Invalid JSON clipboard payload") << bad;
    }
    // Past 2 MiB the body is cut before parsing, so an oversized text is no JSON object any more.
    EXPECT_EQ(post("{\"text\":\"" + std::string(2'100'000, 'x') + "\"}").statusLine, "HTTP/1.1 400 Bad Request");

    const std::vector<LANClipboardMessage> messages = recorder.receivedClipboard();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].senderName, "Phone");
    EXPECT_EQ(messages[0].text, "Grüße");
    EXPECT_FALSE(messages[0].isOutgoing);
    EXPECT_EQ(messages[1].senderName, "LAN Peer");

    server->setLatestOutgoingClipboard("from this computer");
    EXPECT_EQ(lanParseResponse(lanExchange(port, "GET /api/v1/clipboard?pin=4821 HTTP/1.1\r\n\r\n")).json()["text"],
              "from this computer");
}

TEST_F(LANSledServerTest, SharesAreListedAndDownloaded) {
    VORN_REQUIRE_TOOL("curl");
    std::string payload(700'000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 7 % 251);
    }
    const std::filesystem::path big = root.write("shared/zeta \"quoted\".bin", payload);
    const std::filesystem::path small = root.write("shared/alpha.txt", "alpha");
    const std::filesystem::path changing = root.write("shared/changing.txt", "12345");
    server->setSharedFiles({
        {"tok-z", "zeta \"quoted\".bin", big.string(), static_cast<std::int64_t>(payload.size()), VornSHA256::hexDigest(payload)},
        {"tok-a", "alpha.txt", small.string(), 5, VornSHA256::hexDigest("alpha")},
        {"tok-c", "changing.txt", changing.string(), 5, VornSHA256::hexDigest("12345")},
        {"tok-gone", "gone.txt", (root / "shared/gone.txt").string(), 1, std::string(64, 'a')},
    });

    const VornShellResult list = curl(std::string("-H 'X-VornSled-PIN: ") + pin + "' -D " +
                                      vornShellQuote((root / "list-head").string()) + " " + url("/api/v1/shares"));
    ASSERT_EQ(statusOf(list), "200");
    EXPECT_NE(vornReadFile(root / "list-head").find("Content-Type: application/json\r\n"), std::string::npos);
    const nlohmann::json shares = bodyOf(list);
    ASSERT_EQ(shares.size(), 4u);
    EXPECT_EQ(shares[0]["fileName"], "alpha.txt");
    EXPECT_EQ(shares[3]["fileName"], "zeta \"quoted\".bin");
    EXPECT_EQ(shares[0], (nlohmann::json{{"id", "tok-a"}, {"fileName", "alpha.txt"}, {"filePath", small.string()},
                                         {"sizeBytes", 5}, {"sha256Hex", VornSHA256::hexDigest("alpha")}}));

    const std::filesystem::path fetched = root / "fetched.bin";
    const VornShellResult download = vornShell("curl -sS --noproxy '*' -D - -o " + vornShellQuote(fetched.string()) + " " +
                                               vornShellQuote(url("/api/v1/download/tok-z?pin=4821")));
    EXPECT_EQ(download.output, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 700000\r\n"
                               "Content-Disposition: attachment; filename=\"zeta _quoted_.bin\"\r\nX-VornSled-SHA256: " +
                                   VornSHA256::hexDigest(payload) + "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(vornReadFile(fetched), payload);

    // A shared file that changed size since it was shared, or is gone, is not served.
    root.write("shared/changing.txt", "1234567890");
    for (const char* token : {"tok-c", "tok-gone", "nope"}) {
        const LANParsedResponse missing = lanParseResponse(
            lanExchange(port, std::string("GET /api/v1/download/") + token + " HTTP/1.1\r\nX-VornSled-PIN: 4821\r\n\r\n"));
        EXPECT_EQ(missing.statusLine, "HTTP/1.1 404 Not Found") << token;
        EXPECT_EQ(missing.body, "{\"error\":\"Shared file not found\"}") << token;
    }
}

TEST_F(LANSledServerTest, SlowSilentAndVanishingPeersLeaveNothing) {
    LANServerLimits limits;
    limits.headTimeout = std::chrono::milliseconds(300);
    limits.bodyIdleTimeout = std::chrono::milliseconds(300);
    startServer(limits);

    // A head that never completes is cut off without an answer.
    LANRawClient slow(port);
    slow.send("GET /api/v1/info HTTP/1.1\r\nX-Slow: ");
    EXPECT_EQ(slow.readAll(), "");

    // A body that stops arriving: the connection closes and the temporary file goes.
    LANRawClient stalled(port);
    stalled.send("POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nContent-Length: 1000\r\n\r\npartial");
    EXPECT_EQ(stalled.readAll(), "");
    EXPECT_FALSE(lanHasTemporaryFile(downloads));

    // A peer that resets mid-upload, once the server has begun storing it.
    {
        LANRawClient vanishing(port);
        vanishing.send("POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nX-VornSled-Filename: v.bin\r\n"
                       "Content-Length: 100000\r\n\r\n" + std::string(50'000, 'v'));
        for (int i = 0; i < 400 && !lanHasTemporaryFile(downloads); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ASSERT_TRUE(lanHasTemporaryFile(downloads)) << "the upload never began";
        vanishing.vanish();
    }
    // The server notices the reset on its next read; the folder must end up clean.
    for (int i = 0; i < 400 && lanHasTemporaryFile(downloads); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_FALSE(lanHasTemporaryFile(downloads));
    EXPECT_FALSE(std::filesystem::exists(downloads / "v.bin"));

    // Downloads of a large shared file (sparse: cheap to make).
    constexpr std::int64_t size = std::int64_t(256) << 20;
    const std::filesystem::path shared = root / "large.bin";
    std::ofstream(shared).close();
    std::filesystem::resize_file(shared, static_cast<std::uintmax_t>(size));
    server->setSharedFiles({{"tok-l", "large.bin", shared.string(), size, std::string(64, '0')}});
    const std::string request = "GET /api/v1/download/tok-l HTTP/1.1\r\nX-VornSled-PIN: 4821\r\n\r\n";

    // A reader that stops reading is let go after the idle limit, its body cut short.
    {
        LANRawClient idle(port);
        idle.send(request);
        const std::string first = idle.readAtLeast(100'000);
        ASSERT_EQ(first.substr(0, 15), "HTTP/1.1 200 OK");
        std::this_thread::sleep_for(std::chrono::seconds(2));
        EXPECT_LT(first.size() + idle.readAll().size(), static_cast<std::size_t>(size));
    }

    // A file that shrinks while it is sent: the peer gets a short body, never other bytes.
    {
        LANRawClient reader(port);
        reader.send(request);
        std::string received = reader.readAtLeast(100'000);
        std::filesystem::resize_file(shared, 1 << 20);
        received += reader.readAll();
        const std::size_t body = received.size() - (received.find("\r\n\r\n") + 4);
        EXPECT_LT(body, static_cast<std::size_t>(size));
        EXPECT_EQ(received.find_first_not_of('\0', received.find("\r\n\r\n") + 4), std::string::npos);
    }
}

TEST_F(LANSledServerTest, ConnectionsBeyondTheCapAreClosedAtOnce) {
    LANServerLimits limits;
    limits.maximumConnections = 2;
    startServer(limits);
    LANRawClient first(port);
    LANRawClient second(port);
    first.send("GET /api/v1/info HTTP/1.1\r\n");
    second.send("GET /api/v1/info HTTP/1.1\r\n");
    LANRawClient third(port);
    EXPECT_EQ(third.readAll(), "");
    first.send("\r\n");
    EXPECT_EQ(lanParseResponse(first.readAll()).statusLine, "HTTP/1.1 200 OK");
}

TEST_F(LANSledServerTest, APeerHoldingItsShareLeavesRoomForOthers) {
    LANServerLimits limits;
    limits.maximumConnections = 8;
    limits.maximumConnectionsPerPeer = 3;
    startServer(limits);
    // Three slow heads from one address, as a peer dribbling a byte now and then would hold them.
    std::vector<std::unique_ptr<LANRawClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<LANRawClient>(port, "127.0.0.1"));
        ASSERT_TRUE(held.back()->send("GET /api/v1/info HTTP/1.1\r\n"));
    }
    LANRawClient beyondItsShare(port, "127.0.0.1");
    EXPECT_EQ(beyondItsShare.readAll(), "");
    for (const char* other : {"127.0.0.2", "127.0.0.3"}) {
        EXPECT_EQ(lanParseResponse(lanExchange(port, "GET / HTTP/1.1\r\n\r\n", other)).statusLine, "HTTP/1.1 200 OK")
            << other;
    }
    // The held connections are still served, and a finished one frees its place.
    held.front()->send("\r\n");
    EXPECT_EQ(lanParseResponse(held.front()->readAll()).statusLine, "HTTP/1.1 200 OK");
    std::string again;
    for (int attempt = 0; attempt < 3000 && again.empty(); ++attempt) {
        again = lanExchange(port, "GET /api/v1/info HTTP/1.1\r\n\r\n", "127.0.0.1");
        if (again.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(lanParseResponse(again).statusLine, "HTTP/1.1 200 OK");
}

// Guessers on several connections from each of `peers`, each trying PIN after PIN until told to
// stop; counts the wrong answers and when the last arrived.
class LANPINGuessers {
public:
    LANPINGuessers(std::uint16_t port, std::vector<const char*> peers, int connectionsPerPeer) {
        start_ = std::chrono::steady_clock::now();
        int next = 0;
        for (const char* peer : peers) {
            for (int i = 0; i < connectionsPerPeer; ++i) {
                threads_.emplace_back([this, port, peer, first = next++] {
                    for (int guess = first; !stopping(); guess += 100) {
                        char text[8];
                        std::snprintf(text, sizeof text, "%04d", 1000 + guess % 9000);
                        const std::string answer = lanExchange(
                            port, "GET /api/v1/shares HTTP/1.1\r\nX-VornSled-PIN: " + std::string(text) + "\r\n\r\n", peer);
                        if (lanParseResponse(answer).statusLine == "HTTP/1.1 401 Unauthorized") {
                            const std::lock_guard lock(mutex_);
                            wrongAnswers_ += 1;
                            lastAnswer_ = std::chrono::steady_clock::now();
                            changed_.notify_all();
                        }
                    }
                });
            }
        }
    }

    // Once at least `count` wrong answers came and `stretch` has passed: how many came, and in
    // how long from the start.
    std::pair<int, std::chrono::steady_clock::duration> countAfter(int count, std::chrono::milliseconds stretch) {
        std::this_thread::sleep_for(stretch);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return wrongAnswers_ >= count; });
        return {wrongAnswers_, lastAnswer_ - start_};
    }

    // The guessers still waiting for an answer are released by the server's end.
    void stop() {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    ~LANPINGuessers() {
        stop();
        for (std::thread& thread : threads_) thread.join();
    }

private:
    bool stopping() {
        const std::lock_guard lock(mutex_);
        return stop_;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    int wrongAnswers_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastAnswer_;
    std::vector<std::thread> threads_;
};

// The k-th wrong PIN the server has seen waits k times the unit, and a peer has one PIN judged at
// a time; so n wrong answers to `peers` addresses need at least unit * n(n+1)/2 / peers. With
// the real unit (1 s) and memory (1 h), one address needs about a day for half of the 9,000 PINs
// and 254 addresses some hours; a wait per request instead would let them through in seconds.
TEST_F(LANSledServerTest, WrongPINsCostTimeFromOneAddressAndFromSeveral) {
    const std::chrono::milliseconds unit(40);
    LANServerLimits limits;
    limits.pinWrongAnswerWait = unit;
    const struct {
        std::vector<const char*> peers;
        int connectionsPerPeer;
    } cases[] = {
        {{"127.0.0.1"}, 12},
        {{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}, 4},
    };
    for (const auto& c : cases) {
        startServer(limits);
        std::pair<int, std::chrono::steady_clock::duration> seen;
        {
            LANPINGuessers guessers(port, c.peers, c.connectionsPerPeer);
            seen = guessers.countAfter(3, std::chrono::milliseconds(2000));
            // Meanwhile an address that never guessed wrong is answered at once, right PIN or wrong.
            EXPECT_EQ(lanParseResponse(lanExchange(port, "GET /api/v1/shares HTTP/1.1\r\nX-VornSled-PIN: 4821\r\n\r\n",
                                                   "127.0.0.9"))
                          .statusLine,
                      "HTTP/1.1 200 OK");
            guessers.stop();
            server.reset();
        }
        const auto [answers, elapsed] = seen;
        const double least = static_cast<double>(unit.count()) * answers * (answers + 1) / 2.0 /
                             static_cast<double>(c.peers.size());
        const double tookMilliseconds = std::chrono::duration<double, std::milli>(elapsed).count();
        EXPECT_GE(tookMilliseconds, least)
            << answers << " wrong answers to " << c.peers.size() << " addresses";
        // A wait of one unit per request on 12 parallel connections would have answered hundreds.
        EXPECT_LT(answers, 60) << c.peers.size() << " addresses";
    }
}

TEST_F(LANSledServerTest, AGuessingAddressWaitsItsTurnWhileOthersAreAnsweredAtOnce) {
    LANServerLimits limits;
    limits.pinWrongAnswerWait = std::chrono::hours(1);
    startServer(limits);
    const std::string right = "GET /api/v1/shares HTTP/1.1\r\nX-VornSled-PIN: 4821\r\n\r\n";
    LANRawClient wrong(port);
    wrong.send("GET /api/v1/shares HTTP/1.1\r\nX-VornSled-PIN: 0000\r\n\r\n");
    // A wrong PIN now waits an hour; any other address is still answered at once.
    EXPECT_EQ(lanParseResponse(lanExchange(port, right, "127.0.0.7")).statusLine, "HTTP/1.1 200 OK");
    EXPECT_FALSE(wrong.answersWithin(std::chrono::milliseconds(0)));

    // With a short wait the queue moves on: every PIN is judged, the wrong one refused after its
    // wait and the right one accepted, in whichever order they were judged.
    limits.pinWrongAnswerWait = std::chrono::milliseconds(300);
    startServer(limits);
    LANRawClient guess(port);
    guess.send("GET /api/v1/shares HTTP/1.1\r\nX-VornSled-PIN: 1111\r\n\r\n");
    LANRawClient owner(port);
    owner.send(right);
    EXPECT_EQ(lanParseResponse(owner.readAll()).statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(lanParseResponse(guess.readAll()).statusLine, "HTTP/1.1 401 Unauthorized");
    // The portal and the info object never wait.
    EXPECT_EQ(lanParseResponse(lanExchange(port, "GET / HTTP/1.1\r\n\r\n")).statusLine, "HTTP/1.1 200 OK");
}

TEST_F(LANSledServerTest, LifecycleAndConfiguration) {
    EXPECT_TRUE(server->isRunning());
    EXPECT_NE(port, 0);
    EXPECT_EQ(server->activePort(), port);

    // The port is taken by our own listener: a second server cannot bind it.
    LANSledServer other("Other", downloads, false, "");
    EXPECT_THROW(other.start(port, false, {}), std::system_error);
    EXPECT_FALSE(other.isRunning());
    EXPECT_EQ(other.activePort(), 0);

    server->updateConfiguration("Renamed", downloads, true, "9999");
    EXPECT_EQ(lanParseResponse(lanExchange(port, "GET /api/v1/clipboard?pin=4821 HTTP/1.1\r\n\r\n")).statusLine,
              "HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(lanParseResponse(lanExchange(port, "GET /api/v1/clipboard?pin=9999 HTTP/1.1\r\n\r\n")).statusLine,
              "HTTP/1.1 200 OK");
    EXPECT_EQ(lanParseResponse(lanExchange(port, "GET /api/v1/info HTTP/1.1\r\n\r\n")).json()["deviceName"], "Renamed");

    // Starting again stops the old listener first; the same port can be bound again at once.
    const std::uint16_t again = server->start(port, false, {});
    EXPECT_EQ(again, port);
    server->stop();
    server->stop();
    EXPECT_FALSE(server->isRunning());
    EXPECT_EQ(server->activePort(), 0);
    EXPECT_FALSE(LANRawClient(port).connected());
}

TEST_F(LANSledServerTest, DestroyingTheServerMidUploadLeavesNoTemporaryFile) {
    LANRawClient client(port);
    client.send("POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nContent-Length: 1000\r\n\r\nstarted");
    for (int i = 0; i < 200 && !lanHasTemporaryFile(downloads); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(lanHasTemporaryFile(downloads));
    server.reset();
    EXPECT_FALSE(lanHasTemporaryFile(downloads));
    EXPECT_EQ(client.readAll(), "");
}

// Uploads cut off by the end of the process receiving them (kill -9) go when a server starts on
// the folder; an upload another server is receiving right now goes on and lands.
TEST_F(LANSledServerTest, StartRemovesUploadsLeftByEndedProcesses) {
    LANRawClient client(port);
    const std::string body(1000, 'u');
    client.send("POST /api/v1/upload HTTP/1.1\r\nX-VornSled-PIN: 4821\r\nX-VornSled-Filename: live.bin\r\n"
                "Content-Length: 1000\r\n\r\n" + body.substr(0, 10));
    for (int i = 0; i < 200 && !lanHasTemporaryFile(downloads); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(lanHasTemporaryFile(downloads));
    const std::vector<std::string> live = lanFolderNames(downloads);

    // Named as locked, but nothing holds its lock any more: its receiver was killed.
    const std::string ended = "." + VornUUID::random().uuidString() + ".lock.vornsled.tmp";
    // An earlier build's, which named its receiver instead: it may still be receiving.
    const std::string earlierBuild =
        "." + VornUUID::random().uuidString() + "." + sledLocklessOwnerTag() + ".vornsled.tmp";
    const std::string unowned = "." + VornUUID::random().uuidString() + ".vornsled.tmp";
    const std::string someonesFile = "notes.vornsled.tmp";
    for (const std::string& name : {ended, earlierBuild, unowned, someonesFile}) {
        std::ofstream(downloads / name) << "left";
    }

    LANSledServer other("Other", downloads, false, "");
    other.start(0, false, {});
    std::vector<std::string> expected = live;
    expected.insert(expected.end(), {earlierBuild, unowned, someonesFile});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lanFolderNames(downloads), expected);

    client.send(body.substr(10));
    EXPECT_EQ(lanParseResponse(client.readAll()).statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(vornReadFile(downloads / "live.bin"), body);
}

TEST(LANSledServerPIN, ConstantTimeEqualsComparesDigests) {
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"1234", "1234", true}, {"", "", true}, {"", "1234", false}, {"1234", "12345", false},
        {"1234", "1235", false}, {"çok", "çok", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LANSledServer::constantTimeEquals(c.a, c.b), c.equal) << c.a << " / " << c.b;
    }
}

}  // namespace
