#include "VornBuildInfo.h"
#include "VornBundle.h"
#include "VornTestSupport.h"

TEST(VornBundle, MainBundleDescribesThisProgram) {
    const VornBundle& bundle = VornBundle::main();
    EXPECT_EQ(bundle.bundleIdentifier(), "com.vornworks.vornsled");
    EXPECT_EQ(bundle.infoText(VornBundle::shortVersionKey), VORN_APP_VERSION);
    EXPECT_EQ(bundle.infoText(VornBundle::buildKey), VORN_APP_BUILD);
    EXPECT_EQ(bundle.infoText(VornBundle::displayNameKey), "VornSled");
    // A test program is not installed, so its resources come from the source tree.
    EXPECT_EQ(bundle.resourceDirectory(), std::filesystem::path(VORN_BUILD_RESOURCES_DIR));
    EXPECT_EQ(VornBundle::processName(), "VornKit_System_tests");
}

TEST(VornBundle, ResourcesAreLookedUpOnlyAsPlainFilesInTheResourceFolder) {
    VornTestTempDir dir;
    dir.write("res/release-log.jsonl", "{}\n");
    dir.write("res/notes", "x");
    dir.write("secret.jsonl", "x");
    std::filesystem::create_directories(dir / "res" / "folder.jsonl");
    const VornBundle bundle("com.example.tool", {{"CFBundleName", 3}}, dir / "res");

    EXPECT_EQ(bundle.resourcePath("release-log", "jsonl"), dir / "res" / "release-log.jsonl");
    EXPECT_EQ(bundle.resourcePath("notes", ""), dir / "res" / "notes");
    EXPECT_EQ(bundle.resourcePath("missing", "jsonl"), std::nullopt);
    EXPECT_EQ(bundle.resourcePath("folder", "jsonl"), std::nullopt);
    EXPECT_EQ(bundle.resourcePath("../secret", "jsonl"), std::nullopt);
    EXPECT_EQ(bundle.resourcePath("..", ""), std::nullopt);
    EXPECT_EQ(bundle.infoText("CFBundleName"), std::nullopt);  // present but not text
    EXPECT_EQ(VornBundle(std::nullopt, "not an object", {}).infoDictionary(), nlohmann::json::object());
}
