// Discovery end to end: services published through the avahi-daemon of namespace A are found
// through the daemon of namespace B, and a file goes from B to A across the veth pair.
#include "LANBonjourAdvertiser.h"
#include "LANPeerDiscovery.h"
#include "LANProtocol.h"
#include "LANServerTestSupport.h"
#include "LANSledClient.h"
#include "SledError.h"
#include "VornChecksum.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Collects the reports of a discovery.
class PeerListRecorder {
public:
    LANPeerDiscovery::ChangeHandler handler() {
        return [this](const std::vector<LANPeerInfo>& peers) {
            const std::lock_guard lock(mutex_);
            latest_ = peers;
            ++reports_;
            changed_.notify_all();
        };
    }

    // Waits until a report satisfies `condition`; mDNS answers take a moment to cross namespaces.
    // Returns the list that did, or nothing after a generous bound (so a fault fails, not hangs).
    template <typename Condition>
    std::optional<std::vector<LANPeerInfo>> waitFor(Condition condition) {
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, 30s, [&] { return reports_ > 0 && condition(latest_); })) return latest_;
        return std::nullopt;
    }

    std::vector<LANPeerInfo> latest() {
        const std::lock_guard lock(mutex_);
        return latest_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<LANPeerInfo> latest_;
    int reports_ = 0;
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

// Runs `work` on a thread that has entered the named network namespace (sockets it opens live
// there, and keep living there), and returns its result or rethrows its exception.
template <typename Work>
auto inNamespace(const std::string& name, Work work) -> decltype(work()) {
    std::packaged_task<decltype(work())()> task([&] {
        const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            throw std::runtime_error("cannot enter network namespace " + name + ": " + std::strerror(errno));
        }
        ::close(fd);
        return work();
    });
    auto result = task.get_future();
    std::thread(std::move(task)).join();
    return result.get();
}

class LANPeerDiscoveryTest : public ::testing::Test {
protected:
    static std::string publishBus() { return VornTestServices::value("AVAHI_PUBLISH_BUS"); }
    static std::string browseBus() { return VornTestServices::value("AVAHI_BROWSE_BUS"); }

    VornTestTempDir root;
};

TEST_F(LANPeerDiscoveryTest, ServerInNamespaceAIsFoundFromBThenReceivesAFileAndDisappears) {
    VORN_REQUIRE_SERVICE("avahi");
    LANCallbackRecorder received;
    const std::string name = "Atölye A" + runTag();
    LANSledServer server(name, root / "downloads", true, "5150");
    std::uint16_t port = 0;
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", publishBus());
        // Listening inside namespace A, where its address 10.203.77.1 lives.
        port = inNamespace(VornTestServices::value("AVAHI_NAMESPACE_A"),
                           [&] { return server.start(0, true, received.callbacks()); });
    }

    PeerListRecorder reports;
    LANPeerDiscovery discovery;
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", browseBus());
        discovery.start("Atölye B", reports.handler());
    }
    const auto found = reports.waitFor([&](const auto& peers) { return findNamed(peers, name) != nullptr; });
    ASSERT_TRUE(found.has_value()) << "the server published in A was not found through B";
    const LANPeerInfo peer = *findNamed(*found, name);
    EXPECT_EQ(peer, (LANPeerInfo{server.deviceID(), name, "Linux", VornTestServices::value("AVAHI_ADDRESS_A"),
                                 port, "", true, false}));

    // A real send from namespace B to the peer as discovery reported it.
    const auto file = root.write("across the wire.bin", std::string(3 * 1024 * 1024 + 17, 'v'));
    const LANSledClient client;
    const LANSledUploadResponse response = inNamespace(VornTestServices::value("AVAHI_NAMESPACE_B"), [&] {
        return client.sendFile(file, peer, "Atölye B", std::string("5150"));
    });
    EXPECT_EQ(response.sha256Hex, VornChecksum::sha256(file));
    EXPECT_TRUE(response.remoteVerified);
    EXPECT_EQ(vornReadFile(root / "downloads" / response.fileName), vornReadFile(file));
    ASSERT_EQ(received.receivedFiles().size(), 1u);
    EXPECT_EQ(received.receivedFiles()[0].senderName, "Atölye B");

    // A port nothing listens on in A is refused at once, not waited for.
    LANPeerInfo closed = peer;
    closed.port = static_cast<std::uint16_t>(port == 1 ? 2 : 1);
    const auto refused = inNamespace(VornTestServices::value("AVAHI_NAMESPACE_B"), [&]() -> std::optional<SledError> {
        try {
            client.sendClipboard("hello", closed, "B", {});
        } catch (const SledError& error) {
            return error;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind(), SledError::Kind::connectionFailed);

    server.stop();
    EXPECT_TRUE(reports.waitFor([&](const auto& peers) { return findNamed(peers, name) == nullptr; }).has_value())
        << "the withdrawn service is still listed";
}

TEST_F(LANPeerDiscoveryTest, TXTRecordsAreReadWithDefaultsAndOurOwnNameIsSkipped) {
    VORN_REQUIRE_SERVICE("avahi");
    const std::string bare = "Bare Peer" + runTag(), odd = "Odd Peer" + runTag(), locked = "Locked Peer" + runTag();
    const std::string twinOne = "Twin One" + runTag(), twinTwo = "Twin Two" + runTag(), self = "This Desk" + runTag();
    const std::string twinID = "twin" + runTag();
    const std::string longSelf = runTag() + std::string(70, 'D');
    const std::string fittedLongSelf = LANBonjourAdvertiser::serviceName(longSelf);
    const std::string type(LANProtocol::bonjourServiceType);
    std::vector<std::unique_ptr<LANBonjourAdvertiser>> services;
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", publishBus());
        const auto publish = [&](std::string_view name, LANBonjourAdvertiser::TXTRecord txt) {
            services.push_back(std::make_unique<LANBonjourAdvertiser>(name, type, 4000 + services.size(), std::move(txt)));
        };
        publish(bare, {});
        publish(odd, {{"id", "odd-1" + runTag()}, {"platform", "\xFF\xFEx"}, {"pin", "yes"}, {"name", std::string(240, 'n')}});
        publish(locked, {{"id", "locked" + runTag()}, {"platform", "Linux"}, {"pin", "1"}, {"v", "1"}});
        publish(twinOne, {{"id", twinID}, {"pin", "0"}});
        publish(twinTwo, {{"id", twinID}, {"pin", "0"}});
        // This machine's own name, in full and as fitted to a DNS-SD name.
        publish(self, {{"id", "self" + runTag()}});
        publish(longSelf, {{"id", "self-long" + runTag()}});
    }

    PeerListRecorder reports;
    LANPeerDiscovery discovery;
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", browseBus());
        discovery.start(self, reports.handler());
    }
    PeerListRecorder longReports;
    LANPeerDiscovery selfLong;  // a second discovery, in another machine's name
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", browseBus());
        selfLong.start(longSelf, longReports.handler());
    }

    const auto all = reports.waitFor([&](const auto& peers) {
        return findNamed(peers, bare) && findNamed(peers, odd) && findNamed(peers, locked) &&
               (findNamed(peers, twinOne) || findNamed(peers, twinTwo)) &&
               findNamed(peers, fittedLongSelf);
    });
    ASSERT_TRUE(all.has_value()) << "listed: " << reports.latest().size();
    const std::string address = VornTestServices::value("AVAHI_ADDRESS_A");
    EXPECT_EQ(*findNamed(*all, bare), (LANPeerInfo{bare, bare, "Linux", address, 4000, "", false, false}));
    EXPECT_EQ(*findNamed(*all, odd), (LANPeerInfo{"odd-1" + runTag(), odd, "\uFFFD\uFFFDx", address, 4001, "", false, false}));
    EXPECT_EQ(*findNamed(*all, locked), (LANPeerInfo{"locked" + runTag(), locked, "Linux", address, 4002, "", true, false}));
    EXPECT_EQ(std::count_if(all->begin(), all->end(), [&](const auto& peer) { return peer.id == twinID; }), 1);
    EXPECT_EQ(findNamed(*all, self), nullptr);
    // Sorted by device name.
    EXPECT_TRUE(std::is_sorted(all->begin(), all->end(), [](const auto& a, const auto& b) { return a.deviceName < b.deviceName; }));

    // The other discovery skips the long name (published shortened) but lists self.
    const auto other = longReports.waitFor([&](const auto& peers) { return findNamed(peers, self) != nullptr; });
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(findNamed(*other, fittedLongSelf), nullptr);

    // Withdrawing one twin keeps the id listed through the other.
    services.erase(services.begin() + 3);
    const auto afterTwin = reports.waitFor([&](const auto& peers) {
        return findNamed(peers, twinOne) == nullptr &&
               std::count_if(peers.begin(), peers.end(), [&](const auto& peer) { return peer.id == twinID; }) == 1;
    });
    ASSERT_TRUE(afterTwin.has_value());
    EXPECT_EQ(findNamed(*afterTwin, twinTwo)->id, twinID);
}

TEST_F(LANPeerDiscoveryTest, ADaemonThatAppearsLaterIsFollowed) {
    VORN_REQUIRE_SERVICE("avahi");
    const std::string late = "Late Peer" + runTag();
    std::unique_ptr<LANBonjourAdvertiser> service;
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", publishBus());
        service = std::make_unique<LANBonjourAdvertiser>(late, std::string(LANProtocol::bonjourServiceType),
                                                         4100, LANBonjourAdvertiser::TXTRecord{{"id", "late" + runTag()}});
    }
    // The bus address names a socket that is not there yet.
    const auto socket = root / "system_bus_socket";
    PeerListRecorder reports;
    PeerListRecorder again;
    LANPeerDiscovery discovery;
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket.string());
        discovery.start("Nobody", reports.handler());
    }
    // Now the daemon's bus appears at that address.
    std::filesystem::create_symlink(browseBus().substr(std::string("unix:path=").size()), socket);
    EXPECT_TRUE(reports.waitFor([&](const auto& peers) { return findNamed(peers, late) != nullptr; }).has_value());

    // Stopping forgets the list; starting again finds the peer again.
    discovery.stop();
    {
        const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", browseBus());
        discovery.start("Nobody", again.handler());
    }
    EXPECT_TRUE(again.waitFor([&](const auto& peers) { return findNamed(peers, late) != nullptr; }).has_value());
}

TEST_F(LANPeerDiscoveryTest, WithoutAnyDaemonNothingIsFoundAndNothingBreaks) {
    const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (root / "no-bus-here").string());
    PeerListRecorder reports;
    {
        LANPeerDiscovery discovery;
        discovery.start("Alone", reports.handler());
        discovery.start("Alone again", reports.handler());
        discovery.stop();
        discovery.stop();
        discovery.start("Alone", reports.handler());
    }
    EXPECT_TRUE(reports.latest().empty());
}

}  // namespace
