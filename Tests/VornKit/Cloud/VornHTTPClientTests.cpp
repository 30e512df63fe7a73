#include "VornHTTPClient.h"
#include "VornLanguage.h"
#include "VornTaskCancelled.h"
#include "VornTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

namespace {

// A TCP socket bound to a free loopback port; returns the socket and the port.
std::pair<int, int> boundLoopbackSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot bind a loopback socket");
    }
    return {fd, ntohs(address.sin_port)};
}

// Reads one request (head and Content-Length body) from the socket into `request`; false when the
// peer closes first (`request` then holds what did arrive).
bool readRequest(int socket, std::string& request) {
    request.clear();
    char buffer[4096];
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = 0;
    while (headEnd == std::string::npos || request.size() < headEnd + 4 + wanted) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        request.append(buffer, static_cast<std::size_t>(got));
        if (headEnd == std::string::npos && (headEnd = request.find("\r\n\r\n")) != std::string::npos) {
            const auto at = request.find("Content-Length: ");
            if (at != std::string::npos && at < headEnd) wanted = std::stoul(request.substr(at + 16));
        }
    }
    return true;
}

// A loopback HTTP peer that misbehaves on request: it reads each request (head and
// Content-Length body), records it, and lets the test's script answer (or not) on the socket.
// Connections stay open until the server goes away, so a silent script means a silent peer.
class ScriptedPeer {
public:
    using Script = std::function<void(int socket)>;

    explicit ScriptedPeer(Script script) : script_(std::move(script)) {
        std::tie(listener_, port_) = boundLoopbackSocket();
        if (::listen(listener_, 8) != 0) throw std::runtime_error("cannot listen on loopback");
        thread_ = std::thread([this] { serve(); });
    }

    ~ScriptedPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        {
            std::lock_guard lock(mutex_);
            for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
        }
        thread_.join();
        for (int fd : connections_) ::close(fd);
        ::close(listener_);
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // Blocks until the peer has read `count` requests.
    void waitForRequests(std::size_t count) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return requests_.size() >= count; });
    }

private:
    void serve() {
        while (true) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            {
                std::lock_guard lock(mutex_);
                connections_.push_back(fd);
            }
            std::string request;
            (void)readRequest(fd, request);
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            changed_.notify_all();
            script_(fd);
        }
    }

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<int> connections_;
    std::vector<std::string> requests_;
};

void sendText(int socket, std::string_view text) { (void)::send(socket, text.data(), text.size(), MSG_NOSIGNAL); }

ScriptedPeer::Script answer(std::string response) {
    return [response](int socket) { sendText(socket, response); };
}

VornHTTPOptions loopbackOptions() {
    VornHTTPOptions options;
    options.bypassProxy = true;
    options.connectTimeout = std::chrono::seconds(5);
    options.idleTimeout = std::chrono::seconds(30);
    return options;
}

VornHTTPRequest requestTo(const ScriptedPeer& peer, const std::string& path, const std::string& method = "GET") {
    VornHTTPRequest request;
    request.method = method;
    request.url = peer.url(path);
    return request;
}

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

}  // namespace

TEST(VornHTTPClient, RequestHeadIsSentAsGivenWithOneLengthAndNoExpect) {
    ScriptedPeer peer(answer("HTTP/1.1 200 OK\r\nX-Mixed-Case:  value  \r\nContent-Length: 2\r\n\r\nok"));
    VornTestTempDir dir;
    const auto file = dir.write("body.bin", "0123456789");

    struct Case {
        const char* name;
        std::string method;
        VornHTTPBody body;
        std::optional<std::string> callerLength;
        std::string expectedBody;
    };
    const Case cases[] = {
        {"bytes with the caller's length", "PUT", VornHTTPBody::bytes("hello"), "5", "hello"},
        {"file slice with POST", "post", VornHTTPBody::file(file, 2, 5), std::nullopt, "23456"},
        {"stream", "PATCH",
         VornHTTPBody::stream(4, [](std::span<std::byte> out) { out[0] = std::byte{'x'}; return std::size_t{1}; }),
         std::nullopt, "xxxx"},
        {"PUT without body", "PUT", VornHTTPBody::none(), std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = requestTo(peer, "/a/../b%20c//d?x=1&y");
        request.method = c.method;
        request.setHeader("X-Empty", "");
        if (c.callerLength) request.setHeader("Content-Length", *c.callerLength);
        const auto before = peer.requests().size();
        const auto response = VornHTTPClient::send(request, c.body, VornHTTPSink::memory(1024), loopbackOptions());
        EXPECT_EQ(response.statusCode, 200);
        EXPECT_EQ(response.body, "ok");
        EXPECT_EQ(response.header("x-mixed-case"), "value");

        ASSERT_EQ(peer.requests().size(), before + 1);
        const auto sent = peer.requests().back();
        std::string upper = c.method;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(sent.starts_with(upper + " /a/../b%20c//d?x=1&y HTTP/1.1\r\n")) << sent;
        EXPECT_EQ(countOf(sent, "Content-Length: "), 1u) << sent;
        EXPECT_NE(sent.find("Content-Length: " + std::to_string(c.expectedBody.size()) + "\r\n"), std::string::npos);
        EXPECT_EQ(sent.find("Expect:"), std::string::npos) << sent;
        EXPECT_EQ(sent.find("Transfer-Encoding"), std::string::npos) << sent;
        EXPECT_NE(sent.find("\r\nX-Empty:"), std::string::npos) << sent;
        EXPECT_TRUE(sent.ends_with("\r\n\r\n" + c.expectedBody)) << sent;
    }
}

// A file body checked before its end: a check that passes lets the whole body go; one that throws
// ends the request before the last bytes with the check's own error, so the peer never holds the
// whole body (a server that acts only on a whole body never acts).
TEST(VornHTTPClient, AFileBodyCheckedBeforeItsEndGoesWholeOnlyWhenTheCheckPasses) {
    ScriptedPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    VornTestTempDir dir;
    const std::string content(300'000, 'x');
    const auto file = dir.write("body.bin", content);
    int checks = 0;
    const VornHTTPBody passing = VornHTTPBody::file(file).checkedBeforeItsEnd([&] { ++checks; });
    EXPECT_EQ(VornHTTPClient::send(requestTo(peer, "/ok", "PUT"), passing, VornHTTPSink::memory(1024),
                                   loopbackOptions())
                  .statusCode,
              200);
    EXPECT_GE(checks, 1);
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_TRUE(peer.requests().back().ends_with("\r\n\r\n" + content));

    struct Refused : std::runtime_error {
        Refused() : std::runtime_error("refused") {}
    };
    const VornHTTPBody refusing = VornHTTPBody::file(file).checkedBeforeItsEnd([] { throw Refused(); });
    EXPECT_THROW(VornHTTPClient::send(requestTo(peer, "/no", "PUT"), refusing, VornHTTPSink::memory(1024),
                                      loopbackOptions()),
                 Refused);
    peer.waitForRequests(2);
    const std::string partial = peer.requests().back();
    EXPECT_TRUE(partial.starts_with("PUT /no HTTP/1.1\r\n")) << partial.substr(0, 200);
    const std::size_t head = partial.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_LT(partial.size() - head - 4, content.size());
}

TEST(VornHTTPClient, RedirectsAreReturnedNotFollowed) {
    ScriptedPeer peer(answer("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"));
    const auto response = VornHTTPClient::send(requestTo(peer, "/start"), VornHTTPBody::none(),
                                               VornHTTPSink::memory(1024), loopbackOptions());
    EXPECT_EQ(response.statusCode, 302);
    EXPECT_EQ(response.header("location"), "/elsewhere");
    EXPECT_EQ(peer.requests().size(), 1u);
}

TEST(VornHTTPClient, MemorySinkRefusesBodiesOverItsLimit) {
    ScriptedPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(1000, 'a')));
    const auto fits = VornHTTPClient::send(requestTo(peer, "/"), VornHTTPBody::none(), VornHTTPSink::memory(1000),
                                           loopbackOptions());
    EXPECT_EQ(fits.body.size(), 1000u);
    try {
        (void)VornHTTPClient::send(requestTo(peer, "/"), VornHTTPBody::none(), VornHTTPSink::memory(999),
                                   loopbackOptions());
        FAIL() << "a body over the limit was accepted";
    } catch (const VornHTTPError& error) {
        EXPECT_EQ(error.kind(), VornHTTPError::Kind::bodyTooLarge) << error.what();
    }
}

TEST(VornHTTPClient, StreamedSinksGetOnlySuccessfulBodies) {
    VornTestTempDir dir;
    ScriptedPeer missing(answer("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNoSuchKey"));
    bool called = false;
    const auto response = VornHTTPClient::send(requestTo(missing, "/k"), VornHTTPBody::none(),
                                               VornHTTPSink::stream([&](auto) { called = true; }), loopbackOptions());
    EXPECT_EQ(response.statusCode, 404);
    EXPECT_EQ(response.body, "NoSuchKey");
    EXPECT_FALSE(called);
    (void)VornHTTPClient::send(requestTo(missing, "/k"), VornHTTPBody::none(), VornHTTPSink::file(dir / "out"),
                               loopbackOptions());
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));

    ScriptedPeer found(answer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nbytes"));
    std::vector<VornHTTPProgress> reports;
    auto options = loopbackOptions();
    options.progress = [&](const VornHTTPProgress& progress) { reports.push_back(progress); };
    const auto ok = VornHTTPClient::send(requestTo(found, "/k"), VornHTTPBody::none(), VornHTTPSink::file(dir / "out"),
                                         options);
    EXPECT_EQ(ok.statusCode, 200);
    EXPECT_TRUE(ok.body.empty());
    EXPECT_EQ(vornReadFile(dir / "out"), "bytes");
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().bytesReceived, 5u);
    EXPECT_EQ(reports.back().bytesToReceive, 5u);
}

TEST(VornHTTPClient, SilentPeerEndsInIdleTimeOut) {
    ScriptedPeer peer([](int) {});
    auto options = loopbackOptions();
    options.idleTimeout = std::chrono::seconds(1);
    try {
        (void)VornHTTPClient::send(requestTo(peer, "/"), VornHTTPBody::none(), VornHTTPSink::memory(1024), options);
        FAIL() << "a silent peer did not time out";
    } catch (const VornHTTPError& error) {
        EXPECT_EQ(error.kind(), VornHTTPError::Kind::timedOut) << error.what();
        EXPECT_NE(std::string(error.what()).find("GET 127.0.0.1"), std::string::npos) << error.what();
    }
}

TEST(VornHTTPClient, StopTokenCancelsMidTransfer) {
    // Half a body, then silence: only the stop request can end the exchange.
    ScriptedPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'z')));

    std::stop_source fromSink;
    EXPECT_THROW((void)VornHTTPClient::send(requestTo(peer, "/"), VornHTTPBody::none(),
                                            VornHTTPSink::stream([&](auto) { fromSink.request_stop(); }),
                                            loopbackOptions(), fromSink.get_token()),
                 VornTaskCancelled);

    // Stopped from another thread while the peer says nothing at all.
    ScriptedPeer silent([](int) {});
    std::stop_source fromOutside;
    std::jthread canceller([&] {
        silent.waitForRequests(1);
        fromOutside.request_stop();
    });
    EXPECT_THROW((void)VornHTTPClient::send(requestTo(silent, "/"), VornHTTPBody::none(), VornHTTPSink::memory(10),
                                            loopbackOptions(), fromOutside.get_token()),
                 VornTaskCancelled);

    std::stop_source already;
    already.request_stop();
    EXPECT_THROW((void)VornHTTPClient::send(requestTo(peer, "/"), VornHTTPBody::none(), VornHTTPSink::memory(10),
                                            loopbackOptions(), already.get_token()),
                 VornTaskCancelled);
}

TEST(VornHTTPClient, BadRequestsAreRefusedBeforeAnythingIsSent) {
    ScriptedPeer peer(answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    VornTestTempDir dir;
    const auto file = dir.write("f", "abc");

    struct Case {
        const char* name;
        VornHTTPRequest request;
        std::function<VornHTTPBody()> body;
        VornHTTPError::Kind kind;
    };
    auto withHeader = [&](const std::string& name, const std::string& value) {
        auto request = requestTo(peer, "/");
        request.headers.emplace_back(name, value);
        return request;
    };
    const Case cases[] = {
        {"line break in a value", withHeader("X-A", "a\r\nX-Injected: 1"), [] { return VornHTTPBody::none(); },
         VornHTTPError::Kind::invalidRequest},
        {"colon in a name", withHeader("X:A", "1"), [] { return VornHTTPBody::none(); },
         VornHTTPError::Kind::invalidRequest},
        {"length that lies", withHeader("Content-Length", "10"), [] { return VornHTTPBody::bytes("abc"); },
         VornHTTPError::Kind::invalidRequest},
        {"chunked", withHeader("Transfer-Encoding", "chunked"), [] { return VornHTTPBody::bytes("abc"); },
         VornHTTPError::Kind::invalidRequest},
        {"not http", VornHTTPRequest{"GET", "ftp://127.0.0.1/x", {}}, [] { return VornHTTPBody::none(); },
         VornHTTPError::Kind::invalidRequest},
        {"space in URL", VornHTTPRequest{"GET", peer.url("/a b"), {}}, [] { return VornHTTPBody::none(); },
         VornHTTPError::Kind::invalidRequest},
        {"method with space", VornHTTPRequest{"GET X", peer.url("/"), {}}, [] { return VornHTTPBody::none(); },
         VornHTTPError::Kind::invalidRequest},
        {"slice past the end", requestTo(peer, "/"), [&] { return VornHTTPBody::file(file, 2, 2); },
         VornHTTPError::Kind::invalidRequest},
        {"missing file", requestTo(peer, "/"), [&] { return VornHTTPBody::file(dir / "absent"); },
         VornHTTPError::Kind::invalidRequest},
        {"stream that ends early", requestTo(peer, "/", "PUT"),
         [] { return VornHTTPBody::stream(10, [](std::span<std::byte>) { return std::size_t{0}; }); },
         VornHTTPError::Kind::bodyReadFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            (void)VornHTTPClient::send(c.request, c.body(), VornHTTPSink::memory(10), loopbackOptions());
            ADD_FAILURE() << "accepted";
        } catch (const VornHTTPError& error) {
            EXPECT_EQ(error.kind(), c.kind) << error.what();
        }
    }
    // Only the stream that ended early got as far as the wire, and its peer saw no complete body.
    EXPECT_LE(peer.requests().size(), 1u);

    // Nobody listens on a port that was just released.
    const auto [probe, closedPort] = boundLoopbackSocket();
    ::close(probe);
    try {
        (void)VornHTTPClient::send({"GET", "http://127.0.0.1:" + std::to_string(closedPort) + "/", {}});
        ADD_FAILURE() << "connected to a closed port";
    } catch (const VornHTTPError& error) {
        EXPECT_EQ(error.kind(), VornHTTPError::Kind::connectionFailed) << error.what();
    }
}

TEST(VornHTTPClient, KeptConnectionServesTheThreadsNextRequests) {
    // Each call of the script is one connection: it answers requests on it, keeping it open, until
    // the client goes away or, after its third answer, it closes the connection itself.
    std::atomic<int> connections{0};
    std::vector<std::string> bodies;
    ScriptedPeer peer([&](int socket) {
        const int connection = ++connections;
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        sendText(socket, reply);
        for (int answered = 1; connection > 1 || answered < 3; ++answered) {
            std::string request;
            if (!readRequest(socket, request)) return;
            bodies.push_back(request.substr(request.find("\r\n\r\n") + 4));
            sendText(socket, reply);
        }
        ::shutdown(socket, SHUT_RDWR);
    });
    auto options = loopbackOptions();
    options.reuseConnection = true;
    const VornTestTempDir temp;
    const auto file = temp.write("body", "file body bytes");
    const std::pair<std::string, VornHTTPBody> exchanges[] = {
        {"GET", VornHTTPBody::none()},
        {"PUT", VornHTTPBody::bytes("first body")},
        {"GET", VornHTTPBody::none()},
        // The peer has closed the kept connection: the body goes out whole on a new one.
        {"PUT", VornHTTPBody::file(file)},
        {"PUT", VornHTTPBody::bytes("last body")},
    };
    for (const auto& [method, body] : exchanges) {
        const auto response =
            VornHTTPClient::send(requestTo(peer, "/x", method), body, VornHTTPSink::memory(64), options);
        EXPECT_EQ(response.statusCode, 200);
        EXPECT_EQ(response.body, "ok");
    }
    EXPECT_EQ(connections, 2);
    // The peer records the first request of each connection itself; the script the later ones.
    const auto firsts = peer.requests();
    ASSERT_EQ(firsts.size(), 2u);
    EXPECT_TRUE(firsts[0].starts_with("GET /x HTTP/1.1\r\n"));
    EXPECT_TRUE(firsts[1].starts_with("PUT /x HTTP/1.1\r\n"));
    EXPECT_TRUE(firsts[1].ends_with("\r\n\r\nfile body bytes"));
    EXPECT_EQ(bodies, (std::vector<std::string>{"first body", "", "last body"}));
}

// A failure on the way to a server reads in the user's language: a closed port in Turkish says
// so in Turkish, without libcurl's English words.
TEST(VornHTTPClient, TransportFailuresReadInTheUsersLanguage) {
    // A user of the system's language, with nothing chosen in this program's own preferences.
    VornTestTempDir home;
    VornScopedEnv config{"XDG_CONFIG_HOME", (home / "config").string()};
    VornScopedEnv language{"LANGUAGE", std::string("tr")};
    VornScopedEnv lcAll{"LC_ALL", std::nullopt};
    ASSERT_EQ(VornLanguage::current(), VornLanguage::tr);
    const auto [probe, closedPort] = boundLoopbackSocket();
    ::close(probe);
    try {
        (void)VornHTTPClient::send({"GET", "http://127.0.0.1:" + std::to_string(closedPort) + "/", {}});
        ADD_FAILURE() << "connected to a closed port";
    } catch (const VornHTTPError& error) {
        EXPECT_EQ(error.kind(), VornHTTPError::Kind::connectionFailed);
        EXPECT_EQ(std::string(error.what()), "HTTP isteği GET 127.0.0.1 başarısız oldu: Sunucuya bağlanılamadı");
    }
}
