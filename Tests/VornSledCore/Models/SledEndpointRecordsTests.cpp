#include "PaneEndpoint.h"
#include "SledBookmark.h"
#include "SledFileEntry.h"
#include "VornJSON.h"

#include <gtest/gtest.h>

#include <unordered_set>

using nlohmann::json;

namespace {

const VornUUID profileA = *VornUUID::fromString("0F8FAD5B-D9CB-469F-A165-70867728950E");

std::string compact(const nlohmann::ordered_json& value) {
    return vornJSONText(value);
}

}  // namespace

TEST(PaneEndpoint, WritesOneKeyObjectsAndReadsThemBack) {
    EXPECT_EQ(compact(PaneEndpoint::local().toJSON()), R"({"local":{}})");
    EXPECT_EQ(compact(PaneEndpoint::remote(profileA).toJSON()),
              R"({"remote":{"profileID":"0F8FAD5B-D9CB-469F-A165-70867728950E"}})");
    for (const PaneEndpoint& endpoint : {PaneEndpoint::local(), PaneEndpoint::remote(profileA)}) {
        EXPECT_EQ(PaneEndpoint::fromJSON(json::parse(compact(endpoint.toJSON()))), endpoint);
    }
    EXPECT_EQ(PaneEndpoint::remote(profileA), PaneEndpoint::remote(*VornUUID::fromString(
                                                  "0f8fad5b-d9cb-469f-a165-70867728950e")));
    EXPECT_NE(PaneEndpoint::local(), PaneEndpoint::remote(VornUUID()));
    EXPECT_NE(PaneEndpoint::remote(profileA), PaneEndpoint::remote(VornUUID::random()));
    const std::unordered_set<PaneEndpoint> set{PaneEndpoint::local(), PaneEndpoint::remote(profileA),
                                               PaneEndpoint::remote(profileA)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(PaneEndpoint, ReadingTable) {
    const struct {
        const char* text;
        std::optional<PaneEndpoint> expected;  // nothing: the read fails
        const char* message = nullptr;
    } cases[] = {
        {R"({"local":{}})", PaneEndpoint::local()},
        {R"({"local":{"ignored":1}})", PaneEndpoint::local()},
        {R"({"local":{},"extra":true})", PaneEndpoint::local()},
        {R"({"remote":{"profileID":"0f8fad5b-d9cb-469f-a165-70867728950e"},"x":1})", PaneEndpoint::remote(profileA)},
        {R"({})", std::nullopt, "PaneEndpoint: Invalid number of keys found, expected one."},
        {R"({"other":{}})", std::nullopt, "PaneEndpoint: Invalid number of keys found, expected one."},
        {R"({"local":{},"remote":{"profileID":"0F8FAD5B-D9CB-469F-A165-70867728950E"}})", std::nullopt,
         "PaneEndpoint: Invalid number of keys found, expected one."},
        {R"({"local":true})", std::nullopt, "PaneEndpoint.local: expected an object, found boolean"},
        {R"({"local":null})", std::nullopt, "PaneEndpoint.local: expected an object, found null"},
        {R"({"remote":{}})", std::nullopt, "PaneEndpoint.remote.profileID: required key is missing"},
        {R"({"remote":{"profileID":"nope"}})", std::nullopt, "PaneEndpoint.remote.profileID: \"nope\" is not a UUID"},
        {R"({"remote":"0F8FAD5B-D9CB-469F-A165-70867728950E"})", std::nullopt,
         "PaneEndpoint.remote: expected an object, found string"},
        {R"([])", std::nullopt, "PaneEndpoint: expected an object, found array"},
    };
    for (const auto& c : cases) {
        if (c.expected) {
            EXPECT_EQ(PaneEndpoint::fromJSON(json::parse(c.text)), *c.expected) << c.text;
            continue;
        }
        try {
            PaneEndpoint::fromJSON(json::parse(c.text));
            ADD_FAILURE() << "read " << c.text;
        } catch (const VornDecodingError& error) {
            EXPECT_STREQ(error.what(), c.message) << c.text;
        }
    }
}

TEST(SledFileEntry, IdentityIsThePathButEqualityTakesEveryField) {
    const SledFileEntry plain{.name = "a.txt", .path = "/docs/a.txt", .isDirectory = false, .sizeBytes = 12};
    SledFileEntry dated = plain;
    dated.modifiedAt = vornDateFromISO8601("2026-03-01T09:15:02.481Z");
    EXPECT_EQ(plain.id(), dated.id());
    EXPECT_NE(plain, dated);
    EXPECT_NE(std::hash<SledFileEntry>{}(plain), std::hash<SledFileEntry>{}(dated));

    EXPECT_EQ(compact(plain.toJSON()), R"({"name":"a.txt","path":"\/docs\/a.txt","isDirectory":false,"sizeBytes":12})");
    const SledFileEntry full{.name = "b",
                             .path = "/b",
                             .isDirectory = true,
                             .sizeBytes = -1,
                             .modifiedAt = vornDateFromISO8601("2026-03-01T09:15:02.481Z"),
                             .permissions = "drwxr-xr-x",
                             .eTag = "\"9b2cf535f27731c974343645a3985328\""};
    for (const SledFileEntry& entry : {plain, dated, full}) {
        EXPECT_EQ(SledFileEntry::fromJSON(json::parse(compact(entry.toJSON()))), entry);
    }
    EXPECT_EQ(SledFileEntry::fromJSON(json::parse(
                  R"({"name":"a.txt","path":"/docs/a.txt","isDirectory":false,"sizeBytes":12,"modifiedAt":null,"eTag":null,"x":1})")),
              plain);
    for (const char* bad : {R"({"path":"/a","isDirectory":false,"sizeBytes":1})",
                            R"({"name":"a","path":"/a","isDirectory":0,"sizeBytes":1})",
                            R"({"name":"a","path":"/a","isDirectory":false,"sizeBytes":1.5})",
                            R"({"name":"a","path":"/a","isDirectory":false,"sizeBytes":1,"modifiedAt":"2026-03-01T09:15:02Z"})",
                            R"({"name":"a","path":"/a","isDirectory":false,"sizeBytes":1,"eTag":7})",
                            R"({"name":"a","path":"/a","isDirectory":false,"sizeBytes":1,"modifiedAtPrecision":"hour"})"}) {
        EXPECT_THROW(SledFileEntry::fromJSON(json::parse(bad)), VornDecodingError) << bad;
    }
}

// A time's precision travels with it; a precise one (every entry written before it existed)
// writes nothing, so older files read as before.
TEST(SledFileEntry, ATimesPrecisionIsWrittenOnlyWhenItIsCoarse) {
    SledFileEntry minute{.name = "a.txt", .path = "/a.txt", .sizeBytes = 1,
                         .modifiedAt = vornDateFromISO8601("2026-03-01T09:15:00Z")};
    EXPECT_EQ(minute.toJSON().contains("modifiedAtPrecision"), false);
    minute.modifiedAtPrecision = SledTimePrecision::minute;
    EXPECT_EQ(minute.toJSON()["modifiedAtPrecision"], "minute");
    EXPECT_EQ(SledFileEntry::fromJSON(json::parse(compact(minute.toJSON()))), minute);
    SledFileEntry precise = minute;
    precise.modifiedAtPrecision = SledTimePrecision::precise;
    EXPECT_NE(precise, minute);
    EXPECT_NE(std::hash<SledFileEntry>{}(precise), std::hash<SledFileEntry>{}(minute));
    EXPECT_EQ(SledFileEntry::fromJSON(json::parse(
                  R"({"name":"a.txt","path":"/a.txt","isDirectory":false,"sizeBytes":1,"modifiedAt":794049300,"modifiedAtPrecision":null})")),
              precise);
}

TEST(SledBookmark, RoundTripsAndRequiresAllFourKeys) {
    const SledBookmark bookmark{.id = *VornUUID::fromString("6BA7B810-9DAD-11D1-80B4-00C04FD430C8"),
                                .label = "Yedekler / backups",
                                .endpoint = PaneEndpoint::remote(profileA),
                                .path = "/srv/backups"};
    const std::string text = compact(bookmark.toJSON());
    EXPECT_EQ(text, R"({"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","label":"Yedekler \/ backups",)"
                    R"("endpoint":{"remote":{"profileID":"0F8FAD5B-D9CB-469F-A165-70867728950E"}},"path":"\/srv\/backups"})");
    EXPECT_EQ(SledBookmark::fromJSON(json::parse(text)), bookmark);

    for (const char* key : {"id", "label", "endpoint", "path"}) {
        json broken = json::parse(text);
        broken.erase(key);
        EXPECT_THROW(SledBookmark::fromJSON(broken), VornDecodingError) << key;
    }
    json badEndpoint = json::parse(text);
    badEndpoint["endpoint"] = json::object();
    EXPECT_THROW(SledBookmark::fromJSON(badEndpoint), VornDecodingError);
}
