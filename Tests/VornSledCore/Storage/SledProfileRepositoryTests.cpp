#include "SledProfileRepository.h"
#include "VornJSON.h"
#include "VornTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const VornUUID profileID = *VornUUID::fromString("0F8FAD5B-D9CB-469F-A165-70867728950E");
const VornUUID bookmarkID = *VornUUID::fromString("6BA7B810-9DAD-11D1-80B4-00C04FD430C8");

ConnectionProfile sampleProfile() {
    return ConnectionProfile{.id = profileID,
                             .name = "Sunucu/1",
                             .kind = ConnectionProtocolKind::sftp,
                             .host = "files.example.org",
                             .port = 22,
                             .username = "deploy",
                             .sftpAuthMethod = SFTPAuthMethod::sshKey,
                             .privateKeyPath = "~/.ssh/id_ed25519",
                             .initialRemotePath = "/srv"};
}

SledSettings sampleSettings() {
    return SledSettings({.parallelWorkers = 3,
                         .verifySHA256OnTransfer = true,
                         .lanDeviceName = "Atölye",
                         .lanPort = 53318,
                         .lanRequirePIN = false,
                         .lanPIN = "4821",
                         .lanDownloadDirectory = "/home/ayse/Downloads/VornSled",
                         .syncExcludedPatterns = std::vector<std::string>{".git", "*.tmp"},
                         .bookmarks = std::vector<SledBookmark>{
                             {bookmarkID, "Kök", PaneEndpoint::local(), "/"}}});
}

// The other files in the folder besides profiles.json.
std::vector<std::string> siblings(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename() != "profiles.json") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(SledProfileRepository, WritesTheExactBytesOfThePlatformEncoder) {
    VornTestTempDir dir;
    SledProfileRepository repository(dir.path());
    repository.saveProfiles({sampleProfile()});
    repository.saveSettings(sampleSettings());
    const std::string expected = R"({
  "profiles" : [
    {
      "accessKeyID" : "",
      "bucket" : "",
      "cloudflareAccountID" : "",
      "endpointURL" : "",
      "host" : "files.example.org",
      "id" : "0F8FAD5B-D9CB-469F-A165-70867728950E",
      "initialRemotePath" : "\/srv",
      "kind" : "sftp",
      "name" : "Sunucu\/1",
      "port" : 22,
      "privateKeyPath" : "~\/.ssh\/id_ed25519",
      "region" : "",
      "sftpAuthMethod" : "sshKey",
      "usePathStyleAddressing" : false,
      "username" : "deploy"
    }
  ],
  "settings" : {
    "bookmarks" : [
      {
        "endpoint" : {
          "local" : {

          }
        },
        "id" : "6BA7B810-9DAD-11D1-80B4-00C04FD430C8",
        "label" : "Kök",
        "path" : "\/"
      }
    ],
    "lanDeviceName" : "Atölye",
    "lanDownloadDirectory" : "\/home\/ayse\/Downloads\/VornSled",
    "lanPIN" : "4821",
    "lanPort" : 53318,
    "lanRequirePIN" : false,
    "parallelWorkers" : 3,
    "syncExcludedPatterns" : [
      ".git",
      "*.tmp"
    ],
    "verifySHA256OnTransfer" : true
  }
})";
    EXPECT_EQ(vornReadFile(repository.fileURL()), expected);
    EXPECT_TRUE(siblings(dir.path()).empty());  // no temporary file left behind
    struct stat info {};
    ASSERT_EQ(::stat(repository.fileURL().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);  // the file holds the LAN PIN

    // A new repository reads back exactly what was saved.
    const SledStoreSnapshot reread = SledProfileRepository(dir.path()).currentSnapshot();
    EXPECT_EQ(reread, (SledStoreSnapshot{{sampleProfile()}, sampleSettings()}));
    EXPECT_EQ(SledProfileRepository::encode(reread), expected);

    SledStoreSnapshot empty{{}, sampleSettings()};
    empty.settings.bookmarks.clear();
    const std::string emptyLists = SledProfileRepository::encode(empty);
    EXPECT_EQ(emptyLists.substr(0, 24), "{\n  \"profiles\" : [\n\n  ],");
    EXPECT_NE(emptyLists.find("\"bookmarks\" : [\n\n    ],"), std::string::npos);
}

TEST(SledProfileRepository, StartsWithDefaultsAndCreatesTheFileOnlyOnSave) {
    VornTestTempDir dir;
    VornScopedEnv home("HOME", dir.path().string());
    VornScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    VornScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    SledProfileRepository repository;
    EXPECT_EQ(repository.fileURL(), dir / "data" / "VornSled" / "profiles.json");
    EXPECT_TRUE(fs::is_directory(dir / "data" / "VornSled"));
    EXPECT_FALSE(fs::exists(repository.fileURL()));
    const SledStoreSnapshot snapshot = repository.currentSnapshot();
    EXPECT_TRUE(snapshot.profiles.empty());
    EXPECT_EQ(snapshot.settings.parallelWorkers, 4);
    EXPECT_EQ(snapshot.settings.lanDownloadDirectory, (dir / "Downloads" / "VornSled").string());

    repository.saveSettings(snapshot.settings);
    EXPECT_EQ(SledProfileRepository(std::nullopt).currentSnapshot(), snapshot);

    // A base folder that does not exist yet is made with its parents and holds the file directly.
    const fs::path nested = dir / "a" / "b" / "c";
    SledProfileRepository given(nested);
    given.saveProfiles({sampleProfile()});
    EXPECT_TRUE(fs::is_regular_file(nested / "profiles.json"));
}

TEST(SledProfileRepository, SettingsMayLackKeysButProfilesMayNot) {
    VornTestTempDir dir;
    const std::string settingsOnlyPort = R"({"profiles":[],"settings":{"lanPort":9999,"futureKey":1}})";
    dir.write("profiles.json", settingsOnlyPort);
    const SledStoreSnapshot loaded = SledProfileRepository(dir.path()).currentSnapshot();
    EXPECT_EQ(loaded.settings.lanPort, 9999);
    EXPECT_EQ(loaded.settings.parallelWorkers, 4);
    EXPECT_EQ(loaded.settings.syncExcludedPatterns.size(), 4u);

    json lacking = SledStoreSnapshot{{sampleProfile()}, sampleSettings()}.toJSON();
    lacking["profiles"][0].erase("usePathStyleAddressing");
    dir.write("profiles.json", lacking.dump());
    const SledStoreSnapshot fallback = SledProfileRepository(dir.path()).currentSnapshot();
    EXPECT_TRUE(fallback.profiles.empty());
    EXPECT_EQ(fallback.settings.lanDeviceName, SledSettings::defaultDeviceName());  // settings ignored too
}

// Whatever is wrong with the file, the store starts with the defaults, leaves the file alone, and
// keeps it beside the new one when the first save replaces it.
TEST(SledProfileRepository, UnreadableFilesFallBackAndAreKeptOnTheFirstSave) {
    const std::string valid = SledProfileRepository::encode({{sampleProfile()}, sampleSettings()});
    std::string unknownKind = valid;
    unknownKind.replace(unknownKind.find("\"sftp\""), 6, "\"webdav\"");
    std::string huge = valid;
    huge.append(SledProfileRepository::maxFileBytes, ' ');  // valid JSON, but too large to read
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"empty", ""},
        {"not UTF-8", "{\"profiles\":[],\"settings\":{\"lanDeviceName\":\"\xFF\xFE\"}}"},
        {"binary", std::string("\x00\x01\x02\xC3", 4)},
        {"wrong type", R"({"profiles":{},"settings":{}})"},
        {"settings of wrong type", R"({"profiles":[],"settings":{"lanPort":"53318"}})"},
        {"only profiles", R"({"profiles":[]})"},
        {"unknown kind", unknownKind},
        {"not an object", "[1,2,3]"},
        {"huge", huge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VornTestTempDir dir;
        const fs::path file = dir.write("profiles.json", c.bytes);
        SledProfileRepository repository(dir.path());
        const SledStoreSnapshot snapshot = repository.currentSnapshot();
        EXPECT_TRUE(snapshot.profiles.empty());
        EXPECT_EQ(snapshot.settings.parallelWorkers, 4);
        EXPECT_EQ(vornReadFile(file), c.bytes);  // loading never touches the file
        EXPECT_TRUE(siblings(dir.path()).empty());

        SledSettings settings = snapshot.settings;
        settings.lanPort = 1234;
        repository.saveSettings(settings);
        const auto kept = siblings(dir.path());
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_TRUE(kept[0].starts_with("profiles.json.unreadable-")) << kept[0];
        EXPECT_EQ(vornReadFile(dir / kept[0]), c.bytes);
        const SledStoreSnapshot written = SledProfileRepository::decode(vornReadFile(file));
        EXPECT_TRUE(written.profiles.empty());
        EXPECT_EQ(written.settings, settings);

        repository.saveProfiles({sampleProfile()});  // later saves keep nothing more
        EXPECT_EQ(siblings(dir.path()).size(), 1u);
    }
}

// A value the file cannot hold (a folder name in another encoding, say) is refused, and the caller
// is told: written raw, it would make the next start reset every profile, setting and the PIN.
TEST(SledProfileRepository, ValuesTheFileCannotHoldAreRefusedAndNothingIsLost) {
    const std::string latin1 = "/home/ay\xFE" "e/\xC7" "al\xFD\xFE" "ma";  // not UTF-8
    const struct {
        const char* what;
        std::function<void(SledStoreSnapshot&)> spoil;
    } cases[] = {
        {"download folder", [&](SledStoreSnapshot& s) { s.settings.lanDownloadDirectory = latin1; }},
        {"bookmark path", [&](SledStoreSnapshot& s) { s.settings.bookmarks.at(0).path = latin1; }},
        {"bookmark label", [&](SledStoreSnapshot& s) { s.settings.bookmarks.at(0).label = "K\xF6k"; }},
        {"excluded pattern", [&](SledStoreSnapshot& s) { s.settings.syncExcludedPatterns.push_back("\xFF"); }},
        {"profile key path", [&](SledStoreSnapshot& s) { s.profiles.at(0).privateKeyPath = latin1; }},
        {"profile name", [&](SledStoreSnapshot& s) { s.profiles.at(0).name = "a\xC3"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VornTestTempDir dir;
        SledProfileRepository repository(dir.path());
        ASSERT_EQ(repository.saveProfiles({sampleProfile()}), SledStoreSaveResult::saved);
        ASSERT_EQ(repository.saveSettings(sampleSettings()), SledStoreSaveResult::saved);
        const SledStoreSnapshot good = repository.currentSnapshot();
        const std::string before = vornReadFile(repository.fileURL());

        SledStoreSnapshot spoilt = good;
        c.spoil(spoilt);
        EXPECT_THROW(SledProfileRepository::encode(spoilt), VornDecodingError);
        EXPECT_EQ(repository.saveSettings(spoilt.settings),
                  spoilt.settings == good.settings ? SledStoreSaveResult::saved : SledStoreSaveResult::refused);
        EXPECT_EQ(repository.saveProfiles(spoilt.profiles),
                  spoilt.profiles == good.profiles ? SledStoreSaveResult::saved : SledStoreSaveResult::refused);
        EXPECT_EQ(repository.currentSnapshot(), good);  // a refused part is not kept
        EXPECT_EQ(vornReadFile(repository.fileURL()), before);

        // Later saves are not blocked by it, and the next start finds everything, the PIN included.
        SledSettings changed = good.settings;
        changed.lanPort = 40000;
        EXPECT_EQ(repository.saveSettings(changed), SledStoreSaveResult::saved);
        const SledStoreSnapshot restarted = SledProfileRepository(dir.path()).currentSnapshot();
        EXPECT_EQ(restarted.profiles, good.profiles);
        EXPECT_EQ(restarted.settings, changed);
        EXPECT_EQ(restarted.settings.lanPIN, "4821");
        EXPECT_TRUE(siblings(dir.path()).empty());
    }
}

TEST(SledProfileRepository, AFolderInPlaceOfTheFileIsSurvived) {
    VornTestTempDir dir;
    fs::create_directories(dir / "profiles.json");
    SledProfileRepository repository(dir.path());
    EXPECT_TRUE(repository.currentSnapshot().profiles.empty());
    EXPECT_EQ(repository.saveProfiles({sampleProfile()}), SledStoreSaveResult::notWritten);
    EXPECT_EQ(repository.currentSnapshot().profiles, std::vector<ConnectionProfile>{sampleProfile()});
    EXPECT_TRUE(fs::is_directory(dir / "profiles.json"));
    EXPECT_TRUE(siblings(dir.path()).empty());
}

TEST(SledProfileRepository, ConcurrentSavesLeaveAValidFile) {
    VornTestTempDir dir;
    SledProfileRepository repository(dir.path());
    constexpr int rounds = 25;
    std::thread profilesWriter([&] {
        for (int i = 0; i < rounds; ++i) {
            ConnectionProfile profile = sampleProfile();
            profile.port = i;
            repository.saveProfiles({profile, profile});
        }
    });
    std::thread settingsWriter([&] {
        for (int i = 0; i < rounds; ++i) {
            SledSettings settings = sampleSettings();
            settings.lanPort = static_cast<std::uint16_t>(i);
            repository.saveSettings(settings);
            const SledStoreSnapshot seen = repository.currentSnapshot();
            EXPECT_TRUE(seen.profiles.empty() || seen.profiles[0] == seen.profiles[1]);
        }
    });
    profilesWriter.join();
    settingsWriter.join();
    const SledStoreSnapshot final = SledProfileRepository::decode(vornReadFile(repository.fileURL()));
    EXPECT_EQ(final, repository.currentSnapshot());
    EXPECT_EQ(final.profiles.at(0).port, rounds - 1);
    EXPECT_EQ(final.settings.lanPort, rounds - 1);
    EXPECT_TRUE(siblings(dir.path()).empty());
}
