#include "VornSecurityBookmarkStore.h"
#include "VornTestSupport.h"

#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

class VornSecurityBookmarkStoreTest : public ::testing::Test {
protected:
    VornTestTempDir dir;
    VornUserDefaults defaults{"com.vornworks.bookmarks", dir / "defaults.json"};
    VornSecurityBookmarkStore store{"com.vornworks.bookmarks.places", defaults};
    fs::path places = dir / "places";

    void SetUp() override {
        fs::create_directories(places / "a" / "c");
        dir.write("places/a/b", "one");
        dir.write("places/z.txt", "two");
        fs::create_directories(places / "m");
    }
    json stored() const { return defaults.value(store.storageKey()).value_or(json()); }
};

TEST_F(VornSecurityBookmarkStoreTest, DotSegmentsAndTrailingSeparatorsNameOneEntry) {
    store.saveBookmark(places / "a" / "." / "b");
    store.saveBookmark(places / "a" / "c" / ".." / "b");
    store.saveBookmark(places / "m" / "");
    const json records = stored();
    ASSERT_EQ(records.size(), 2u) << records.dump();
    const std::string key = (places / "a" / "b").string();
    EXPECT_EQ(records[key]["path"], key);
    EXPECT_TRUE(records.contains((places / "m").string()));
    EXPECT_EQ(store.resolveAllBookmarks(), (std::vector<fs::path>{places / "a" / "b", places / "m"}));
}

TEST_F(VornSecurityBookmarkStoreTest, ResolutionSkipsReplacedAndMissingFilesButKeepsThem) {
    store.saveBookmark(places / "z.txt");
    store.saveBookmark(places / "a" / "b");
    store.saveBookmark(places / "m");

    // Same name, another file: a bookmark must not hand the new one out as the one the user chose.
    // The new file is made before the old one goes, so it cannot take over the freed inode.
    dir.write("places/other", "three");
    fs::rename(places / "other", places / "a" / "b");
    fs::remove(places / "m");

    EXPECT_EQ(store.resolveAllBookmarks(), std::vector<fs::path>{places / "z.txt"});
    EXPECT_EQ(stored().size(), 3u) << "entries that do not resolve stay stored";

    // A folder that comes back under the same inode (a remounted disk) resolves again; here the
    // original file is simply renamed back into place.
    fs::rename(places / "z.txt", places / "moved");
    EXPECT_TRUE(store.resolveAllBookmarks().empty());
    fs::rename(places / "moved", places / "z.txt");
    EXPECT_EQ(store.resolveAllBookmarks(), std::vector<fs::path>{places / "z.txt"});
}

TEST_F(VornSecurityBookmarkStoreTest, AValueOfAnotherShapeReadsAsEmptyAndIsReplacedOnSave) {
    const std::vector<json> wrongShapes = {
        json("text"),
        json::array({1, 2}),
        json{{"/x", "not a record"}},
        json{{"/x", {{"path", "/y"}, {"device", 1}, {"inode", 2}}}},  // a record filed under another path
        json{{"/x", {{"path", "/x"}, {"device", -1}, {"inode", 2}}}},
    };
    for (const json& wrong : wrongShapes) {
        defaults.setValue(store.storageKey(), wrong);
        EXPECT_TRUE(store.resolveAllBookmarks().empty()) << wrong.dump();
        store.saveBookmark(places / "z.txt");
        ASSERT_EQ(stored().size(), 1u) << wrong.dump();
        EXPECT_TRUE(stored().contains((places / "z.txt").string()));
    }
}

TEST_F(VornSecurityBookmarkStoreTest, FailedSavesStoreNothing) {
    store.saveBookmark(places / "z.txt");
    const json before = stored();
    EXPECT_THROW(store.saveBookmark(places / "missing"), fs::filesystem_error);
    const fs::path notText = places / std::string("caf\xe9");
    dir.write(fs::relative(notText, dir.path()), "x");
    EXPECT_THROW(store.saveBookmark(notText), fs::filesystem_error);
    EXPECT_EQ(stored(), before);
}

TEST_F(VornSecurityBookmarkStoreTest, RemovingTakesTheExactKeyAndAlwaysWritesBack) {
    store.saveBookmark(places / "z.txt");
    store.saveBookmark(places / "m");
    store.removeBookmark((places / "m" / "").string());  // not the stored form: nothing removed
    EXPECT_EQ(stored().size(), 2u);
    store.removeBookmark((places / "m").string());
    EXPECT_EQ(store.resolveAllBookmarks(), std::vector<fs::path>{places / "z.txt"});

    defaults.remove(store.storageKey());
    store.removeBookmark("/nothing/here");
    EXPECT_EQ(defaults.value(store.storageKey()), json::object()) << "the empty object is written back";
}

TEST_F(VornSecurityBookmarkStoreTest, ScopedAccessRunsTheBodyAndPassesItsErrorOn) {
    int runs = 0;
    EXPECT_EQ(store.withScopedAccess(places, [&] { return ++runs * 7; }), 7);
    EXPECT_THROW(store.withScopedAccess(places / "missing", [&]() -> int { ++runs; throw std::runtime_error("body"); }),
                 std::runtime_error);
    EXPECT_EQ(runs, 2);
}

}  // namespace
