#include "VornBinaryLocator.h"
#include "VornTestSupport.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

fs::path makeTool(const VornTestTempDir& dir, const fs::path& relative, bool executable = true) {
    const fs::path path = dir.write(relative, "#!/bin/sh\nexit 0\n");
    fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
    return path;
}

}  // namespace

TEST(VornBinaryLocator, SearchesResourcesThenExtrasThenSystemFoldersThenPath) {
    VornTestTempDir dir;
    const std::string tool = "vorn-locator-probe-tool";
    const fs::path resources = dir / "resources";
    const std::vector<std::string> extras{(dir / "extra1").string(), (dir / "extra2").string()};
    VornScopedEnv path("PATH", (dir / "path1").string() + ":" + (dir / "path2").string());

    // Each step removes the winner of the step before, so every position of the order shows.
    const std::vector<fs::path> expectedOrder{resources / "bin" / tool, resources / tool, dir / "extra1" / tool,
                                              dir / "extra2" / tool,    dir / "path1" / tool, dir / "path2" / tool};
    for (const fs::path& candidate : expectedOrder) {
        makeTool(dir, fs::relative(candidate, dir.path()));
    }
    for (const fs::path& expected : expectedOrder) {
        SCOPED_TRACE(expected.string());
        EXPECT_EQ(VornBinaryLocator::locate(tool, resources, extras), expected);
        fs::remove(expected);
    }
    EXPECT_EQ(VornBinaryLocator::locate(tool, resources, extras), std::nullopt);
}

TEST(VornBinaryLocator, SystemFoldersComeBeforePath) {
    VornTestTempDir dir;
    makeTool(dir, "path/sh");
    VornScopedEnv path("PATH", (dir / "path").string());
    const auto found = VornBinaryLocator::locate("sh");
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(*found == "/usr/local/bin/sh" || *found == "/usr/bin/sh" || *found == "/bin/sh") << *found;
}

TEST(VornBinaryLocator, OnlyExecutableRegularFilesCount) {
    VornTestTempDir dir;
    const std::string tool = "vorn-locator-probe-tool";
    fs::create_directories(dir / "resources" / "bin" / tool);         // a folder named like the tool
    makeTool(dir, "resources/" + tool, /*executable=*/false);         // a file nobody may execute
    makeTool(dir, "real/" + tool);
    fs::create_directories(dir / "links");
    fs::create_symlink(dir / "real" / tool, dir / "links" / tool);  // a link to a tool is that tool
    fs::create_symlink(dir / "nowhere", dir / "dangling");

    VornScopedEnv path("PATH", "::" + (dir / "dangling").string() + "::" + (dir / "real").string() + ":");
    EXPECT_EQ(VornBinaryLocator::locate(tool, dir / "resources"), dir / "real" / tool);
    EXPECT_EQ(VornBinaryLocator::locate(tool, dir / "resources", {(dir / "links").string()}), dir / "links" / tool);
}

TEST(VornBinaryLocator, NamesThatAreNotToolNamesFindNothing) {
    VornTestTempDir dir;
    makeTool(dir, "bin/tool");
    makeTool(dir, "tool");
    VornScopedEnv path("PATH", (dir / "bin").string());
    for (const std::string& name : {std::string(), std::string("."), std::string(".."), std::string("bin/tool"),
                                    std::string("../tool"), std::string("/bin/sh"), std::string("to\0ol", 5)}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(VornBinaryLocator::locate(name, dir.path(), {(dir / "bin").string()}), std::nullopt);
    }
    EXPECT_EQ(VornBinaryLocator::locate("vorn-no-such-tool-anywhere"), std::nullopt);
}
