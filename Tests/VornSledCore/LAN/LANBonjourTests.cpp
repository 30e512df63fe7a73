#include "LANBonjourAdvertiser.h"
#include "LANServerTestSupport.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace {

// avahi-browse -p writes names with every unusual byte as "\DDD" (decimal).
std::string unescapeBrowseField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && std::isdigit(static_cast<unsigned char>(field[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 2])) && std::isdigit(static_cast<unsigned char>(field[i + 3]))) {
            out.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3))));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

struct ResolvedService {
    std::string name;
    std::string address;
    std::string port;
    std::string txt;
};

// The resolved _vornsled._tcp services that namespace B sees. One run waits for its resolves, and a
// resolve of a service that went away meanwhile may never end: each run is bounded.
std::vector<ResolvedService> browseFromB() {
    const VornShellResult result = vornShell("DBUS_SYSTEM_BUS_ADDRESS=" + vornShellQuote(VornTestServices::value("AVAHI_BROWSE_BUS")) +
                                             " timeout -k 2 15 avahi-browse -rpt _vornsled._tcp 2>/dev/null");
    std::vector<ResolvedService> services;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.starts_with("=;")) {
            continue;
        }
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (int i = 0; i < 9; ++i) {
            const std::size_t semicolon = line.find(';', start);
            fields.push_back(line.substr(start, semicolon - start));
            start = semicolon + 1;
        }
        fields.push_back(line.substr(start));
        services.push_back({unescapeBrowseField(fields[3]), fields[7], fields[8], unescapeBrowseField(fields[9])});
    }
    return services;
}

std::optional<ResolvedService> findService(const std::string& name) {
    for (const ResolvedService& service : browseFromB()) {
        if (service.name == name) {
            return service;
        }
    }
    return std::nullopt;
}

// mDNS answers take a moment to cross the namespaces, and longer on a loaded machine (each
// avahi-browse run waits for its resolves): ask again until a generous deadline.
template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

TEST(LANBonjour, ServiceNamesFitDNSSD) {
    EXPECT_EQ(LANBonjourAdvertiser::serviceName("Desk"), "Desk");
    EXPECT_EQ(LANBonjourAdvertiser::serviceName(""), "VornSled");
    // 62 ASCII bytes then a two-byte letter: the letter would end at byte 64, so it goes.
    const std::string name = std::string(62, 'a') + "ç" + "tail";
    EXPECT_EQ(LANBonjourAdvertiser::serviceName(name), std::string(62, 'a'));
    const std::string turkish = "Çalışma Masası Çalışma Masası Çalışma Masası Çalışma";
    const std::string fitted = LANBonjourAdvertiser::serviceName(turkish);
    EXPECT_LE(fitted.size(), 63u);
    EXPECT_TRUE(turkish.starts_with(fitted));
}

TEST(LANBonjour, StartsWithoutAnyDaemon) {
    VornTestTempDir dir;
    const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir / "no-bus-here").string());
    LANSledServer server("Lonely", dir / "in", false, "");
    const std::uint16_t port = server.start(0, true, {});
    EXPECT_EQ(lanParseResponse(lanExchange(port, "GET /api/v1/info HTTP/1.1\r\n\r\n")).statusLine, "HTTP/1.1 200 OK");
    server.stop();
}

TEST(LANBonjour, RecordIsPublishedWithItsTXTKeysAndRenamedOnCollision) {
    VORN_REQUIRE_SERVICE("avahi");
    VORN_REQUIRE_TOOL("avahi-browse");
    VornTestTempDir dir;
    const VornScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", VornTestServices::value("AVAHI_PUBLISH_BUS"));
    // A name of its own per run: the other side's cache must not answer with an earlier run.
    const std::string longName = "Çalışma Masası — " + VornUUID::random().uuidString() + std::string(40, 'x');
    const std::string expectedName = LANBonjourAdvertiser::serviceName(longName);

    auto first = std::make_unique<LANSledServer>(longName, dir / "in", true, "1234");
    const std::uint16_t port = first->start(0, true, {});
    std::optional<ResolvedService> seen;
    eventually([&] { return (seen = findService(expectedName)).has_value(); });
    ASSERT_TRUE(seen.has_value()) << "not seen by avahi-browse in the other namespace";
    EXPECT_EQ(seen->address, VornTestServices::value("AVAHI_ADDRESS_A"));
    EXPECT_EQ(seen->port, std::to_string(port));
    for (const std::string& key : {"\"id=" + first->deviceID() + "\"", "\"name=" + longName + "\"",
                                   std::string("\"platform=Linux\""), std::string("\"pin=1\""), std::string("\"v=1\"")}) {
        EXPECT_NE(seen->txt.find(key), std::string::npos) << key << " in " << seen->txt;
    }

    // A second server with the same name takes the next alternative name.
    LANSledServer second(longName, dir / "in", false, "");
    second.start(0, true, {});
    std::string renamed;
    eventually([&] { return (renamed = second.advertisedName()) != expectedName; });
    EXPECT_NE(renamed, expectedName);
    EXPECT_LE(renamed.size(), 63u);
    std::optional<ResolvedService> other;
    eventually([&] { return (other = findService(renamed)).has_value(); });
    ASSERT_TRUE(other.has_value()) << renamed;
    EXPECT_NE(other->txt.find("\"pin=0\""), std::string::npos);

    // Stopping withdraws the record.
    second.stop();
    EXPECT_TRUE(eventually([&] { return !findService(renamed).has_value(); }));
    EXPECT_EQ(second.advertisedName(), "");

    // So does destroying the server.
    first.reset();
    EXPECT_TRUE(eventually([&] { return !findService(expectedName).has_value(); }));
}

}  // namespace
