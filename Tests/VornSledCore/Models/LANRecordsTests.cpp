#include "LANClipboardMessage.h"
#include "LANPeerInfo.h"
#include "LANReceivedFileItem.h"
#include "LANSharedFileItem.h"
#include "VornJSON.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

LANPeerInfo peer(std::string host, std::uint16_t port) {
    return LANPeerInfo{.id = "dev-1", .deviceName = "Ayşe's Laptop", .platform = "linux", .host = std::move(host),
                       .port = port, .fingerprint = "AB:CD", .requiresPIN = true, .isManual = false};
}

}  // namespace

TEST(LANPeerInfo, BaseURLTable) {
    const struct {
        const char* host;
        std::uint16_t port;
        std::optional<std::string> url;
    } cases[] = {
        {"192.168.1.20", 53318, "http://192.168.1.20:53318"},
        {"studio.local", 80, "http://studio.local:80"},
        {"[fe80::1%25en0]", 53318, "http://[fe80::1%25en0]:53318"},
        {"", 0, "http://:0"},
        {"my host", 53318, std::nullopt},
        {"host\"quote", 1, std::nullopt},
        {"bad%zz", 1, std::nullopt},
        {"trailing%", 1, std::nullopt},
        {"çalışma", 1, std::nullopt},
        {"tab\there", 1, std::nullopt},
        {"a{b}", 1, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(peer(c.host, c.port).baseURL(), c.url) << c.host;
    }
}

TEST(LANPeerInfo, EqualityHashAndJSONCoverEveryField) {
    const LANPeerInfo found = peer("10.0.0.2", 53318);
    LANPeerInfo manual = found;
    manual.isManual = true;
    EXPECT_NE(found, manual);
    EXPECT_NE(std::hash<LANPeerInfo>{}(found), std::hash<LANPeerInfo>{}(manual));
    EXPECT_EQ(vornJSONText(found.toJSON()),
              R"({"id":"dev-1","deviceName":"Ayşe's Laptop","platform":"linux","host":"10.0.0.2","port":53318,)"
              R"("fingerprint":"AB:CD","requiresPIN":true,"isManual":false})");
    EXPECT_EQ(LANPeerInfo::fromJSON(json::parse(vornJSONText(manual.toJSON()))), manual);
    json outOfRange = json::parse(vornJSONText(found.toJSON()));
    outOfRange["port"] = 65536;
    EXPECT_THROW(LANPeerInfo::fromJSON(outOfRange), VornDecodingError);
}

TEST(LANSharedFileItem, WritesMembersInDeclarationOrderAndRequiresAll) {
    const LANSharedFileItem item{.id = "tok-1", .fileName = "a b.txt", .filePath = "/home/u/a b.txt",
                                 .sizeBytes = 5368709120, .sha256Hex = std::string(64, 'f')};
    EXPECT_EQ(vornJSONText(item.toJSON()), R"({"id":"tok-1","fileName":"a b.txt","filePath":"\/home\/u\/a b.txt",)"
                                           R"("sizeBytes":5368709120,"sha256Hex":")" + std::string(64, 'f') + "\"}");
    json extra = json::parse(vornJSONText(item.toJSON()));
    extra["other"] = "ignored";
    EXPECT_EQ(LANSharedFileItem::fromJSON(extra), item);
    for (const char* key : {"id", "fileName", "filePath", "sizeBytes", "sha256Hex"}) {
        json missing = extra;
        missing.erase(key);
        EXPECT_THROW(LANSharedFileItem::fromJSON(missing), VornDecodingError) << key;
    }
}

TEST(LANRecords, ClipboardAndReceivedItemsRoundTrip) {
    const VornDate when = *vornDateFromISO8601("2026-03-01T09:15:02.123456Z");
    const LANClipboardMessage message{.id = VornUUID::random(), .senderName = "Pixel", .text = "merhaba\n/ok",
                                      .sha256Hex = std::string(64, '0'), .receivedAt = when, .isOutgoing = true};
    EXPECT_EQ(LANClipboardMessage::fromJSON(json::parse(vornJSONText(message.toJSON()))), message);
    const LANReceivedFileItem received{.id = VornUUID::random(), .fileName = "x.bin", .savedPath = "/d/x.bin",
                                       .sizeBytes = 0, .senderName = "Pixel", .sha256Hex = std::string(64, 'e'),
                                       .verifiedMatch = true, .receivedAt = when};
    const auto written = received.toJSON();
    EXPECT_EQ(written.begin().key(), "id");
    EXPECT_EQ((--written.end()).key(), "receivedAt");
    EXPECT_EQ(LANReceivedFileItem::fromJSON(json::parse(vornJSONText(written))), received);
    json missing = json::parse(vornJSONText(written));
    missing.erase("verifiedMatch");
    EXPECT_THROW(LANReceivedFileItem::fromJSON(missing), VornDecodingError);
    LANClipboardMessage incoming = message;
    incoming.isOutgoing = false;
    EXPECT_NE(incoming, message);
}
