// Discovery end to end: services published through the avahi-daemon of namespace A are found
// through the daemon of namespace B, and a file goes from B to A across the veth pair.
//
// libdbus reads the system bus address once per process, so publishing through bus A and browsing
// through bus B cannot happen in one process. Each side runs in a child: this test program started
// again with VORN_LAN_TEST_CHILD holding what the child is to do. The test process itself never
// talks to D-Bus.
#include "LANBonjourAdvertiser.h"
#include "LANPeerDiscovery.h"
#include "LANProtocol.h"
#include "LANServerTestSupport.h"
#include "LANSledClient.h"
#include "SledError.h"
#include "VornChecksum.h"
#include "VornProcessRunner.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

void enterNetworkNamespace(const std::string& name) {
    const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        throw std::runtime_error("cannot enter network namespace " + name + ": " + std::strerror(errno));
    }
    ::close(fd);
}

// MARK: - The child side

void emitLine(const json& line) {
    const std::string text = line.dump() + "\n";
    (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

// A TXT value of the configuration: text, or {"hex": "..."} for bytes that are not UTF-8.
std::string txtBytes(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    const std::string hex = value.at("hex").get<std::string>();
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Publishes (a server and/or bare services) or discovers, as the configuration says, reports on
// standard output one JSON object per line, and lives until the parent ends it.
[[noreturn]] void runChild(const json& config) {
    // Standard output carries the reports alone.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDERR_FILENO);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", config.at("bus").get<std::string>().c_str(), 1);
    if (config.contains("namespace")) enterNetworkNamespace(config["namespace"].get<std::string>());

    std::unique_ptr<LANSledServer> server;
    std::vector<std::unique_ptr<LANBonjourAdvertiser>> services;
    std::unique_ptr<LANPeerDiscovery> discovery;
    json ready = {{"ready", true}};
    if (config.contains("server")) {
        const json& spec = config["server"];
        server = std::make_unique<LANSledServer>(spec.at("name").get<std::string>(), spec.at("downloads").get<std::string>(),
                                                 true, spec.at("pin").get<std::string>());
        ready["port"] = server->start(0, true, {});
        ready["id"] = server->deviceID();
    }
    for (const json& spec : config.value("services", json::array())) {
        LANBonjourAdvertiser::TXTRecord txt;
        // Written as pairs; a lone pair collapses into an object in JSON's braced form.
        for (const auto& [key, value] : spec.at("txt").items()) {
            if (value.is_array()) {
                txt.emplace_back(value.at(0).get<std::string>(), txtBytes(value.at(1)));
            } else {
                txt.emplace_back(key, txtBytes(value));
            }
        }
        services.push_back(std::make_unique<LANBonjourAdvertiser>(spec.at("name").get<std::string>(),
                                                                  std::string(LANProtocol::bonjourServiceType),
                                                                  spec.at("port").get<std::uint16_t>(), std::move(txt)));
    }
    if (config.contains("discoverAs")) {
        discovery = std::make_unique<LANPeerDiscovery>();
        const auto report = [](const std::vector<LANPeerInfo>& peers) {
            json list = json::array();
            for (const LANPeerInfo& peer : peers) list.push_back(json::parse(peer.toJSON().dump()));
            emitLine({{"peers", list}});
        };
        // Starting, stopping and starting again must leave one working browse.
        discovery->start("first", report);
        discovery->stop();
        discovery->start(config["discoverAs"].get<std::string>(), report);
    }
    emitLine(ready);
    while (true) ::pause();
}

// Runs before main: a child never reaches the tests.
[[maybe_unused]] const bool isChild = [] {
    if (const char* config = std::getenv("VORN_LAN_TEST_CHILD")) runChild(json::parse(config));
    return false;
}();

// MARK: - The parent side

// One child, ended (and so its published records withdrawn) when the object goes.
class LANTestChild {
public:
    explicit LANTestChild(json config)
        : runner_([this, config = std::move(config)](std::stop_token stop) {
              try {
                  VornProcessRunner::run("/proc/self/exe", {"--gtest_filter=-*"}, std::nullopt,
                                         std::map<std::string, std::string>{{"VORN_LAN_TEST_CHILD", config.dump()}},
                                         false, nullptr, [this](std::string_view chunk) { received(chunk); }, stop);
              } catch (...) {
              }
              const std::lock_guard lock(mutex_);
              ended_ = true;
              changed_.notify_all();
          }) {}

    ~LANTestChild() { runner_.request_stop(); }

    // Waits for a line that satisfies `condition` (lines already seen count); nothing when the
    // child ends first or after a generous bound, so a fault fails instead of hanging.
    template <typename Condition>
    std::optional<json> waitFor(Condition condition) {
        std::unique_lock lock(mutex_);
        std::optional<json> found;
        changed_.wait_for(lock, 30s, [&] {
            for (std::size_t i = lines_.size(); i-- > 0;) {
                if (condition(lines_[i])) {
                    found = lines_[i];
                    return true;
                }
            }
            return ended_;
        });
        return found;
    }

    json waitUntilReady() {
        auto ready = waitFor([](const json& line) { return line.contains("ready"); });
        if (!ready) throw std::runtime_error("the child did not start");
        return *ready;
    }

    // The latest reported peer list that satisfies `condition`.
    template <typename Condition>
    std::optional<std::vector<LANPeerInfo>> waitForPeers(Condition condition) {
        std::optional<std::vector<LANPeerInfo>> peers;
        waitFor([&](const json& line) {
            if (!line.contains("peers")) return false;
            std::vector<LANPeerInfo> list;
            for (const json& peer : line["peers"]) list.push_back(LANPeerInfo::fromJSON(peer));
            if (!condition(list)) return false;
            peers = std::move(list);
            return true;
        });
        return peers;
    }

    // Waits until the newest report satisfies `condition`.
    template <typename Condition>
    bool waitUntilLatestPeers(Condition condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] {
            for (std::size_t i = lines_.size(); i-- > 0;) {
                if (!lines_[i].contains("peers")) continue;
                std::vector<LANPeerInfo> list;
                for (const json& peer : lines_[i]["peers"]) list.push_back(LANPeerInfo::fromJSON(peer));
                return condition(list);
            }
            return false;
        });
    }

private:
    void received(std::string_view chunk) {
        const std::lock_guard lock(mutex_);
        pending_ += chunk;
        std::size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            json line = json::parse(pending_.substr(0, end), nullptr, false);
            if (!line.is_discarded()) lines_.push_back(std::move(line));
            pending_.erase(0, end + 1);
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string pending_;
    std::vector<json> lines_;
    bool ended_ = false;
    std::jthread runner_;  // last: ends first
};

// A suffix of its own per run: the other side's cache must not answer with a service of an
// earlier run.
const std::string& runTag() {
    static const std::string tag = " " + VornUUID::random().uuidString().substr(0, 8);
    return tag;
}

const LANPeerInfo* findNamed(const std::vector<LANPeerInfo>& peers, std::string_view name) {
    const auto found = std::find_if(peers.begin(), peers.end(), [&](const auto& peer) { return peer.deviceName == name; });
    return found == peers.end() ? nullptr : &*found;
}

// Runs `work` on a thread inside the named network namespace (sockets it opens live there) and
// returns its result or rethrows its exception.
template <typename Work>
auto inNamespace(const std::string& name, Work work) -> decltype(work()) {
    std::packaged_task<decltype(work())()> task([&] {
        enterNetworkNamespace(name);
        return work();
    });
    auto result = task.get_future();
    std::thread(std::move(task)).join();
    return result.get();
}

json service(const std::string& name, int port, json txt) {
    return {{"name", name}, {"port", port}, {"txt", std::move(txt)}};
}

std::string socketPath(const std::string& busAddress) { return busAddress.substr(std::string("unix:path=").size()); }

class LANPeerDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("avahi");
        publishBus = VornTestServices::value("AVAHI_PUBLISH_BUS");
        browseBus = VornTestServices::value("AVAHI_BROWSE_BUS");
        address = VornTestServices::value("AVAHI_ADDRESS_A");
    }

    VornTestTempDir root;
    std::string publishBus;
    std::string browseBus;
    std::string address;
};

TEST_F(LANPeerDiscoveryTest, ServerInNamespaceAIsFoundFromBThenReceivesAFileAndDisappears) {
    const std::string name = "Atölye A" + runTag();
    std::filesystem::create_directories(root / "downloads");
    auto publisher = std::make_unique<LANTestChild>(json{
        {"bus", publishBus},
        {"namespace", VornTestServices::value("AVAHI_NAMESPACE_A")},
        {"server", {{"name", name}, {"downloads", (root / "downloads").string()}, {"pin", "5150"}}}});
    const json ready = publisher->waitUntilReady();
    LANTestChild browser(json{{"bus", browseBus}, {"discoverAs", "Atölye B"}});

    const auto found = browser.waitForPeers([&](const auto& peers) { return findNamed(peers, name) != nullptr; });
    ASSERT_TRUE(found.has_value()) << "the server published in A was not found through B";
    const LANPeerInfo peer = *findNamed(*found, name);
    EXPECT_EQ(peer, (LANPeerInfo{ready["id"].get<std::string>(), name, "Linux", address,
                                 ready["port"].get<std::uint16_t>(), "", true, false}));

    // A real send from namespace B to the peer as discovery reported it.
    const auto file = root.write("across the wire.bin", std::string(3 * 1024 * 1024 + 17, 'v'));
    const LANSledClient client;
    const std::string namespaceB = VornTestServices::value("AVAHI_NAMESPACE_B");
    const LANSledUploadResponse response =
        inNamespace(namespaceB, [&] { return client.sendFile(file, peer, "Atölye B", std::string("5150")); });
    EXPECT_EQ(response.sha256Hex, VornChecksum::sha256(file));
    EXPECT_TRUE(response.remoteVerified);
    EXPECT_EQ(vornReadFile(root / "downloads" / response.fileName), vornReadFile(file));

    // The wrong PIN across the wire, and a port nothing listens on, fail clearly and at once.
    LANPeerInfo closed = peer;
    closed.port = static_cast<std::uint16_t>(peer.port == 1 ? 2 : 1);
    const auto failures = inNamespace(namespaceB, [&] {
        std::vector<SledError::Kind> kinds;
        for (const auto& attempt : {std::function<void()>([&] { client.sendClipboard("hi", peer, "B", std::string("1")); }),
                                    std::function<void()>([&] { client.sendClipboard("hi", closed, "B", {}); })}) {
            try {
                attempt();
            } catch (const SledError& error) {
                kinds.push_back(error.kind());
            }
        }
        return kinds;
    });
    EXPECT_EQ(failures, (std::vector{SledError::Kind::invalidPIN, SledError::Kind::connectionFailed}));

    publisher.reset();
    EXPECT_TRUE(browser.waitUntilLatestPeers([&](const auto& peers) { return findNamed(peers, name) == nullptr; }))
        << "the withdrawn service is still listed";
}

TEST_F(LANPeerDiscoveryTest, TXTRecordsAreReadWithDefaultsAndOurOwnNameIsSkipped) {
    const std::string bare = "Bare Peer" + runTag(), odd = "Odd Peer" + runTag(), locked = "Locked Peer" + runTag();
    const std::string twinOne = "Twin One" + runTag(), twinTwo = "Twin Two" + runTag(), self = "This Desk" + runTag();
    const std::string twinID = "twin" + runTag();
    const std::string longSelf = runTag() + std::string(70, 'D');
    const std::string fittedLongSelf = LANBonjourAdvertiser::serviceName(longSelf);

    LANTestChild publisher(json{
        {"bus", publishBus},
        {"services",
         {service(bare, 4000, json::array()),
          // Unknown keys, a value that is not UTF-8, a PIN flag that is not "1", a long value.
          service(odd, 4001, {{"id", "odd" + runTag()}, {"platform", {{"hex", "fffe78"}}}, {"pin", "yes"}, {"name", std::string(240, 'n')}}),
          service(locked, 4002, {{"id", "locked" + runTag()}, {"platform", "Linux"}, {"pin", "1"}, {"v", "1"}}),
          service(twinTwo, 4004, {{"id", twinID}}),
          // This machine's own name, in full and as fitted to a DNS-SD name.
          service(self, 4005, {{"id", "self" + runTag()}}),
          service(longSelf, 4006, {{"id", "long" + runTag()}})}}});
    auto twinPublisher = std::make_unique<LANTestChild>(
        json{{"bus", publishBus}, {"services", {service(twinOne, 4003, {{"id", twinID}})}}});
    publisher.waitUntilReady();
    twinPublisher->waitUntilReady();

    LANTestChild browser(json{{"bus", browseBus}, {"discoverAs", self}});
    LANTestChild otherBrowser(json{{"bus", browseBus}, {"discoverAs", longSelf}});
    const auto twins = [&](const std::vector<LANPeerInfo>& peers) {
        return std::count_if(peers.begin(), peers.end(), [&](const auto& peer) { return peer.id == twinID; });
    };

    const auto all = browser.waitForPeers([&](const auto& peers) {
        return findNamed(peers, bare) && findNamed(peers, odd) && findNamed(peers, locked) &&
               (findNamed(peers, twinOne) || findNamed(peers, twinTwo)) && twins(peers) == 1 &&
               findNamed(peers, fittedLongSelf);
    });
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(*findNamed(*all, bare), (LANPeerInfo{bare, bare, "Linux", address, 4000, "", false, false}));
    EXPECT_EQ(*findNamed(*all, odd), (LANPeerInfo{"odd" + runTag(), odd, "\uFFFD\uFFFDx", address, 4001, "", false, false}));
    EXPECT_EQ(*findNamed(*all, locked), (LANPeerInfo{"locked" + runTag(), locked, "Linux", address, 4002, "", true, false}));
    EXPECT_EQ(findNamed(*all, self), nullptr);
    EXPECT_TRUE(std::is_sorted(all->begin(), all->end(), [](const auto& a, const auto& b) { return a.deviceName < b.deviceName; }));

    // The other browser skips the long name (published shortened) and lists this one.
    const auto other = otherBrowser.waitForPeers([&](const auto& peers) { return findNamed(peers, self) != nullptr; });
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(findNamed(*other, fittedLongSelf), nullptr);

    // Withdrawing one twin keeps the shared id listed through the other.
    twinPublisher.reset();
    const auto afterTwin = browser.waitForPeers([&](const auto& peers) {
        return findNamed(peers, twinOne) == nullptr && findNamed(peers, twinTwo) != nullptr && twins(peers) == 1;
    });
    EXPECT_TRUE(afterTwin.has_value());
}

TEST_F(LANPeerDiscoveryTest, ABusThatAppearsLaterIsFollowed) {
    const std::string name = "Late Peer" + runTag();
    LANTestChild publisher(json{{"bus", publishBus}, {"services", {service(name, 4100, json::array())}}});
    publisher.waitUntilReady();

    // The browser's bus address names a socket that is not there yet; then the bus appears there.
    const auto link = root / "system_bus_socket";
    LANTestChild browser(json{{"bus", "unix:path=" + link.string()}, {"discoverAs", "Nobody"}});
    browser.waitUntilReady();
    std::filesystem::create_symlink(socketPath(browseBus), link);
    EXPECT_TRUE(browser.waitForPeers([&](const auto& peers) { return findNamed(peers, name) != nullptr; }).has_value());
}

TEST_F(LANPeerDiscoveryTest, ABusThatGoesAwayAndComesBackIsFollowed) {
    VORN_REQUIRE_TOOL("dbus-daemon");
    const std::string name = "Returning Peer" + runTag();
    LANTestChild publisher(json{{"bus", publishBus}, {"services", {service(name, 4200, json::array())}}});
    publisher.waitUntilReady();

    // First a system bus of our own, on which no Avahi daemon runs: the browser waits there.
    const auto privateSocket = root / "private_bus";
    root.write("bus.conf", "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>system</type><listen>unix:path=" + privateSocket.string() +
                           "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                           "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                           "</policy></busconfig>\n");
    const VornShellResult started =
        vornShell("dbus-daemon --config-file=" + vornShellQuote((root / "bus.conf").string()) + " --fork --print-pid");
    ASSERT_EQ(started.exitCode, 0) << started.output;
    const pid_t bus = static_cast<pid_t>(std::stol(started.output));
    const auto link = root / "system_bus_socket";
    std::filesystem::create_symlink(privateSocket, link);
    LANTestChild browser(json{{"bus", "unix:path=" + link.string()}, {"discoverAs", "Nobody"}});
    browser.waitUntilReady();  // connected: the client is made before the child says so

    // The bus dies under the browser, and a bus with a daemon takes its place at the same address.
    ASSERT_EQ(::kill(bus, SIGTERM), 0);
    for (int i = 0; i < 100 && ::kill(bus, 0) == 0; ++i) std::this_thread::sleep_for(50ms);
    const auto replacement = root / "replacement";
    std::filesystem::create_symlink(socketPath(browseBus), replacement);
    std::filesystem::rename(replacement, link);
    EXPECT_TRUE(browser.waitForPeers([&](const auto& peers) { return findNamed(peers, name) != nullptr; }).has_value());
}

TEST_F(LANPeerDiscoveryTest, WithoutAnyBusBrowsingStartsAndStopsQuietly) {
    // The child starts, stops and starts again with no bus at all, then says it is ready.
    LANTestChild browser(json{{"bus", "unix:path=" + (root / "no-bus-here").string()}, {"discoverAs", "Alone"}});
    EXPECT_NO_THROW(browser.waitUntilReady());
}

}  // namespace
