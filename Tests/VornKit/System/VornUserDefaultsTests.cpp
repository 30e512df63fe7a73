#include "VornJSON.h"
#include "VornTestSupport.h"
#include "VornUserDefaults.h"

#include <cmath>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Runs `body` in a child process once it has read one byte from `start` (or at once without one);
// the child's exit status: 0 when `body` returned, 3 when it threw.
pid_t spawnChild(const std::function<void()>& body, int start = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (start >= 0) {
            char byte = 0;
            while (::read(start, &byte, 1) < 0 && errno == EINTR) {
            }
        }
        int status = 0;
        try {
            body();
        } catch (...) {
            status = 3;
        }
        ::_exit(status);
    }
    return pid;
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

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
        {"nested past the reading limit", "{\"a\":" + std::string(600, '[') + std::string(600, ']') + "}"},
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

// A file that is there but cannot be read is never replaced by a file of the one new key: it is kept
// aside (or, when even that is impossible, the write fails), and an earlier kept file stays too.
TEST_F(VornUserDefaultsTest, UnreadableFilesAreNeverOverwritten) {
    const std::string original = R"({"a":"kept","theme":"dark"})";
    fs::path aside = file;
    aside += ".corrupt";
    fs::path asideAgain = file;
    asideAgain += ".corrupt-1";

    // Without permission to read. Root reads anything, so the writer then runs as nobody.
    dir.write(fs::relative(file, dir.path()), original);
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    for (const fs::path& folder : {dir.path(), dir / "config", file.parent_path()}) {
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    }
    const int written = exitStatusOf(spawnChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(4);
        }
        VornUserDefaults writer("com.vornworks.test", file);
        if (writer.contains("a")) {
            ::_exit(5);  // the file was readable after all: nothing shown here
        }
        writer.setString("b", "new");
    }));
    ASSERT_TRUE(written == 0 || written == 3) << written;
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    if (written == 0) {  // kept aside, then written
        EXPECT_EQ(vornReadFile(aside), original);
        EXPECT_EQ(onDisk(), (json{{"b", "new"}}));
    } else {  // nothing could be kept, so nothing was written
        EXPECT_EQ(vornReadFile(file), original);
        EXPECT_FALSE(fs::exists(aside));
    }

    // A second bad file while the first one is still kept aside.
    fs::remove_all(file.parent_path());
    dir.write(fs::relative(aside, dir.path()), "first");
    dir.write(fs::relative(file, dir.path()), "second");
    defaults.setString("b", "new");
    EXPECT_EQ(vornReadFile(aside), "first");
    EXPECT_EQ(vornReadFile(asideAgain), "second");
    EXPECT_EQ(onDisk(), (json{{"b", "new"}}));
}

// Two processes writing one domain at the same time: each write re-reads and renames under the
// folder's lock, so every key of both ends up in the file.
TEST_F(VornUserDefaultsTest, TwoProcessesWritingOneDomainLoseNothing) {
    fs::create_directories(file.parent_path());
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    constexpr int keysEach = 60;
    std::vector<pid_t> writers;
    for (const char* name : {"first", "second"}) {
        writers.push_back(spawnChild(
            [&, name] {
                VornUserDefaults writer("com.vornworks.test", file);
                for (int i = 0; i < keysEach; ++i) {
                    writer.setInteger(std::string(name) + "-" + std::to_string(i), i);
                }
            },
            start[0]));
    }
    ASSERT_EQ(::write(start[1], "go", 2), 2);  // one byte each: both start now
    ::close(start[0]);
    ::close(start[1]);
    for (const pid_t pid : writers) {
        EXPECT_EQ(exitStatusOf(pid), 0);
    }
    const json result = onDisk();
    EXPECT_EQ(result.size(), std::size_t{2 * keysEach});
    for (int i = 0; i < keysEach; ++i) {
        EXPECT_EQ(result.value("first-" + std::to_string(i), -1), i);
        EXPECT_EQ(result.value("second-" + std::to_string(i), -1), i);
    }
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"com.vornworks.test.json"});
}

TEST_F(VornUserDefaultsTest, ValuesTheReaderWouldRefuseAreNotWritten) {
    defaults.setString("a", "kept");
    const std::string before = vornReadFile(file);
    json deep = json::array();
    for (std::size_t i = 0; i < vornJSONMaxDepth; ++i) {
        deep = json::array({std::move(deep)});
    }
    EXPECT_THROW(defaults.setValue("deep", deep), std::invalid_argument);
    EXPECT_EQ(vornReadFile(file), before);
    EXPECT_EQ(defaults.string("a"), "kept");
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
