#include "SledSettings.h"
#include "VornJSON.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <set>

using nlohmann::json;

namespace {

bool isDefaultPIN(const std::string& pin) {
    return pin.size() == 4 && pin.find_first_not_of("0123456789") == std::string::npos && pin[0] != '0';
}

// A home with no user-dirs file, so the Downloads folder is ~/Downloads.
struct ScopedHome {
    VornTestTempDir dir;
    VornScopedEnv home{"HOME", dir.path().string()};
    VornScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
};

}  // namespace

TEST(SledSettings, EmptyObjectReadsAsTheDefaults) {
    ScopedHome home;
    const SledSettings settings = SledSettings::fromJSON(json::object());
    EXPECT_EQ(settings.parallelWorkers, 4);
    EXPECT_TRUE(settings.verifySHA256OnTransfer);
    EXPECT_EQ(settings.lanDeviceName, SledSettings::defaultDeviceName());
    EXPECT_FALSE(settings.lanDeviceName.empty());
    EXPECT_EQ(settings.lanPort, 53318);
    EXPECT_FALSE(settings.lanRequirePIN);
    EXPECT_TRUE(isDefaultPIN(settings.lanPIN)) << settings.lanPIN;
    EXPECT_EQ(settings.lanDownloadDirectory, (home.dir / "Downloads" / "VornSled").string());
    EXPECT_EQ(settings.syncExcludedPatterns, (std::vector<std::string>{".DS_Store", ".git", "node_modules", "*.tmp"}));
    EXPECT_TRUE(settings.bookmarks.empty());

    home.dir.write("config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/İndirilenler\"\n");
    EXPECT_EQ(SledSettings().lanDownloadDirectory, (home.dir / "İndirilenler" / "VornSled").string());
}

TEST(SledSettings, EachDefaultDrawsAFreshFourDigitPIN) {
    std::set<std::string> pins;
    for (int i = 0; i < 200; ++i) {
        const std::string pin = SledSettings::fromJSON(json::parse(R"({"lanPIN":null})")).lanPIN;
        ASSERT_TRUE(isDefaultPIN(pin)) << pin;
        pins.insert(pin);
    }
    // 200 draws from 9000 values: a repeat-only source would give very few distinct PINs.
    EXPECT_GT(pins.size(), 150u);
}

TEST(SledSettings, ParallelWorkersIsClampedOnConstructionAndReadingOnly) {
    const struct {
        const char* json;
        std::int64_t workers;
    } cases[] = {
        {R"({"parallelWorkers":0})", 1},   {R"({"parallelWorkers":-5})", 1}, {R"({"parallelWorkers":20})", 8},
        {R"({"parallelWorkers":8})", 8},   {R"({"parallelWorkers":3.0})", 3}, {R"({"parallelWorkers":null})", 4},
        {R"({})", 4},                      {R"({"parallelWorkers":-9223372036854775808})", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SledSettings::fromJSON(json::parse(c.json)).parallelWorkers, c.workers) << c.json;
    }
    SledSettings settings({.parallelWorkers = 12});
    EXPECT_EQ(settings.parallelWorkers, 8);
    settings.parallelWorkers = 12;
    EXPECT_EQ(settings.parallelWorkers, 12);
    EXPECT_EQ(SledSettings::fromJSON(json::parse(vornJSONText(settings.toJSON()))).parallelWorkers, 8);
}

TEST(SledSettings, PresentValuesOfTheWrongShapeFailTheWholeRead) {
    const char* const bad[] = {
        R"({"parallelWorkers":2.5})",
        R"({"parallelWorkers":"4"})",
        R"({"verifySHA256OnTransfer":1})",
        R"({"lanDeviceName":42})",
        R"({"lanPort":70000})",
        R"({"lanPort":-1})",
        R"({"lanPort":80.5})",
        R"({"lanRequirePIN":"false"})",
        R"({"lanPIN":1234})",
        R"({"lanDownloadDirectory":[]})",
        R"({"syncExcludedPatterns":".git"})",
        R"({"syncExcludedPatterns":[".git",null]})",
        R"({"bookmarks":{}})",
        R"({"bookmarks":[{"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","label":"x","endpoint":{},"path":"/"}]})",
        R"([])",
    };
    for (const char* text : bad) {
        EXPECT_THROW(SledSettings::fromJSON(json::parse(text)), VornDecodingError) << text;
    }
    EXPECT_EQ(SledSettings::fromJSON(json::parse(R"({"lanPort":0})")).lanPort, 0);
    EXPECT_TRUE(SledSettings::fromJSON(json::parse(R"({"syncExcludedPatterns":[]})")).syncExcludedPatterns.empty());
}

TEST(SledSettings, RoundTripsEveryFieldAndIgnoresUnknownKeys) {
    const SledSettings settings({.parallelWorkers = 6,
                                 .verifySHA256OnTransfer = false,
                                 .lanDeviceName = "Atölye",
                                 .lanPort = 0,
                                 .lanRequirePIN = true,
                                 .lanPIN = "0042",
                                 .lanDownloadDirectory = "/srv/in",
                                 .syncExcludedPatterns = std::vector<std::string>{},
                                 .bookmarks = std::vector<SledBookmark>{
                                     {VornUUID::random(), "Kök", PaneEndpoint::local(), "/"},
                                     {VornUUID::random(), "Bulut", PaneEndpoint::remote(VornUUID::random()), "/a"}}});
    json written = json::parse(vornJSONText(settings.toJSON()));
    EXPECT_EQ(written.size(), 9u);
    written["futureKey"] = {{"nested", true}};
    EXPECT_EQ(SledSettings::fromJSON(written), settings);
    SledSettings changed = settings;
    changed.bookmarks[1].path = "/b";
    EXPECT_NE(changed, settings);
}
