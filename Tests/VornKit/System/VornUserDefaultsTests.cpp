#include "VornTestSupport.h"
#include "VornUserDefaults.h"

#include <cmath>
#include <algorithm>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

class VornUserDefaultsTest : public ::testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    VornUserDefaults defaults{"com.vornworks.test"};
    fs::path file = dir / "config/vornworks/com.vornworks.test.json";

    json onDisk() const { return json::parse(vornReadFile(file)); }
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(file.parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(VornUserDefaultsTest, TypedValuesRoundTripThroughTheFile) {
    EXPECT_EQ(defaults.filePath(), file);
    EXPECT_FALSE(defaults.contains("name"));
    EXPECT_EQ(defaults.string("name"), std::nullopt);

    defaults.setString("name", "Çalışma ☃");
    defaults.setBoolean("flag", true);
    defaults.setInteger("count", -9007199254740993);
    defaults.setNumber("ratio", 0.25);
    defaults.setStringArray("list", {"a", "", "ü"});
    defaults.setValue("raw", json{{"nested", {1, 2}}});

    // A second object on the same file sees everything, as another process would.
    VornUserDefaults other("com.vornworks.test");
    EXPECT_EQ(other.string("name"), "Çalışma ☃");
    EXPECT_EQ(other.boolean("flag"), true);
    EXPECT_EQ(other.integer("count"), -9007199254740993);
    EXPECT_EQ(other.number("ratio"), 0.25);
    EXPECT_EQ(other.number("count"), -9007199254740993.0);
    EXPECT_EQ(other.stringArray("list"), (std::vector<std::string>{"a", "", "ü"}));
    EXPECT_EQ(other.value("raw"), (json{{"nested", {1, 2}}}));
    EXPECT_EQ(onDisk().size(), 6u);

    defaults.remove("name");
    defaults.remove("never-set");
    EXPECT_FALSE(other.contains("name"));
    EXPECT_EQ(onDisk().size(), 5u);
    // Only the file itself is left in the folder: no temporary siblings.
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"com.vornworks.test.json"});
}

TEST_F(VornUserDefaultsTest, GettersOfTheWrongTypeGiveNothing) {
    defaults.setValue("text", "1");
    defaults.setValue("int", 1);
    defaults.setValue("big", json(std::uint64_t{18446744073709551615u}));
    defaults.setValue("float", 1.5);
    defaults.setValue("bool", false);
    defaults.setValue("mixed", json::array({"a", 1}));
    defaults.setValue("null", nullptr);
    EXPECT_EQ(defaults.string("int"), std::nullopt);
    EXPECT_EQ(defaults.integer("text"), std::nullopt);
    EXPECT_EQ(defaults.integer("float"), std::nullopt);
    EXPECT_EQ(defaults.integer("big"), std::nullopt);
    EXPECT_EQ(defaults.boolean("int"), std::nullopt);
    EXPECT_EQ(defaults.number("bool"), std::nullopt);
    EXPECT_EQ(defaults.stringArray("mixed"), std::nullopt);
    EXPECT_EQ(defaults.stringArray("text"), std::nullopt);
    EXPECT_EQ(defaults.string("null"), std::nullopt);
    EXPECT_TRUE(defaults.contains("null"));
    EXPECT_EQ(defaults.boolean("bool"), false);
}

TEST_F(VornUserDefaultsTest, ChangesByAnotherWriterAreSeen) {
    defaults.setString("a", "mine");
    dir.write("config/vornworks/com.vornworks.test.json", R"({"a":"theirs","b":true})");
    EXPECT_EQ(defaults.string("a"), "theirs");
    // A write starts from the file as it is now, not from an older picture of it.
    defaults.setInteger("c", 3);
    EXPECT_EQ(onDisk(), (json{{"a", "theirs"}, {"b", true}, {"c", 3}}));
}

TEST_F(VornUserDefaultsTest, BadFilesReadAsEmptyAndAreKeptAside) {
    struct Row {
        std::string name, bytes;
    };
    const std::vector<Row> rows = {
        {"truncated", R"({"a":"x)"},
        {"not an object", R"(["a"])"},
        {"invalid UTF-8", "{\"a\":\"\xff\"}"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(file.parent_path());
        dir.write(fs::relative(file, dir.path()), row.bytes);
        EXPECT_FALSE(defaults.contains("a"));
        EXPECT_EQ(defaults.dictionary(), json::object());
        defaults.setString("b", "new");
        EXPECT_EQ(onDisk(), (json{{"b", "new"}}));
        fs::path aside = file;
        aside += ".corrupt";
        EXPECT_EQ(vornReadFile(aside), row.bytes);
    }
}

TEST_F(VornUserDefaultsTest, OversizedAndSpecialFilesReadAsEmpty) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << R"({"a":"x"})";
    fs::resize_file(file, VornUserDefaults::maxFileSize + 1);
    EXPECT_FALSE(defaults.contains("a"));
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // must not block
    EXPECT_FALSE(defaults.contains("a"));
}

TEST_F(VornUserDefaultsTest, RejectedWritesChangeNothing) {
    defaults.setString("a", "kept");
    const std::string before = vornReadFile(file);
    EXPECT_THROW(defaults.setNumber("n", std::nan("")), std::invalid_argument);
    EXPECT_THROW(defaults.setNumber("n", INFINITY), std::invalid_argument);
    EXPECT_THROW(defaults.setString("s", "\xff\xfe"), nlohmann::json::type_error);
    EXPECT_EQ(vornReadFile(file), before);
    EXPECT_FALSE(defaults.contains("s"));

    // The folder cannot be made: a file stands where it belongs.
    VornScopedEnv elsewhere("XDG_CONFIG_HOME", (dir / "blocked").string());
    dir.write("blocked/vornworks", "a file");
    EXPECT_THROW(defaults.setString("a", "lost?"), fs::filesystem_error);
    EXPECT_FALSE(defaults.contains("a"));
}

TEST_F(VornUserDefaultsTest, StandardDomainFollowsTheConfigFolder) {
    EXPECT_EQ(VornUserDefaults::standard().domain(), "com.vornworks.vornsled");
    EXPECT_EQ(VornUserDefaults::standard().filePath(), dir / "config/vornworks/com.vornworks.vornsled.json");
    VornUserDefaults explicitFile("x", dir / "x.json");
    explicitFile.setBoolean("k", true);
    EXPECT_EQ(json::parse(vornReadFile(dir / "x.json")), (json{{"k", true}}));
}

TEST_F(VornUserDefaultsTest, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                defaults.setInteger("k" + std::to_string(t) + "-" + std::to_string(i), i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(onDisk().size(), 40u);
}

}  // namespace
