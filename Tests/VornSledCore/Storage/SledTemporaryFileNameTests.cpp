#include "SledLeftoverTestSupport.h"
#include "SledTemporaryFileName.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

std::string repeated(std::string_view piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

}  // namespace

TEST(SledTemporaryFileName, PrefixUpperCaseUUIDAndTheSafeNameCutToFit) {
    struct Case {
        std::string prefix;
        std::string fileName;
        std::size_t maxBytes;
        std::string tail;  // what follows prefix + UUID + "-"
    } const cases[] = {
        {"vornsled-relay-", "report.pdf", 255, "report.pdf"},
        {"vornsled-relay-", "../../etc/passwd", 255, "passwd"},
        {"vornsled-preview-", "..\\..\\windows\\evil.exe", 255, "evil.exe"},
        {"vornsled-edit-", "", 247, "sleded-file.bin"},
        {"vornsled-edit-", "...", 247, "sleded-file.bin"},
        // Cut at the limit; a two-byte character that does not fit whole is left out entirely.
        {"p-", std::string(400, 'n'), 255, std::string(255 - 2 - 37, 'n')},
        {"p-", repeated("\xc5\x9f", 200), 255, repeated("\xc5\x9f", (255 - 2 - 37) / 2)},
        {"p-", repeated("\xc5\x9f", 200), 254, repeated("\xc5\x9f", (254 - 2 - 37) / 2)},
        // A limit the prefix and UUID already fill keeps them whole and adds nothing.
        {"p-", "name", 20, ""},
    };
    for (const Case& c : cases) {
        const std::string name = sledTemporaryFileName(c.prefix, c.fileName, c.maxBytes);
        SCOPED_TRACE(name);
        ASSERT_TRUE(name.starts_with(c.prefix));
        const std::string uuid = name.substr(c.prefix.size(), 36);
        ASSERT_TRUE(VornUUID::fromString(uuid));
        EXPECT_EQ(VornUUID::fromString(uuid)->uuidString(), uuid) << "upper-case UUID";
        EXPECT_EQ(name.substr(c.prefix.size() + 36), "-" + c.tail);
        EXPECT_EQ(name.find('/'), std::string::npos);
        if (!c.tail.empty()) {
            EXPECT_LE(name.size(), c.maxBytes);
        }
    }
    EXPECT_EQ(sledTemporaryFileName("p-", std::string(400, 'n')).size(), 255u) << "fits a file name by default";
    EXPECT_NE(sledTemporaryFileName("p-", "x"), sledTemporaryFileName("p-", "x"));
}

// A hidden sibling names its destination and its writer, so a later write of the same destination
// removes what a killed writer left and nothing else: not a running writer's file, not another
// destination's, not a name of any other form, not a folder.
TEST(SledTemporaryFileName, LeftoversOfEndedWritersGoBeforeTheSameDestinationIsWrittenAgain) {
    VornTestTempDir dir;
    const std::filesystem::path destination = dir / "report.pdf";
    const std::string ended = sledEndedOwnerTag();
    ASSERT_TRUE(sledOwnerHasEnded(ended)) << ended;
    ASSERT_FALSE(sledOwnerHasEnded(sledOwnerTag()));
    const std::string own = sledOwnerTag();
    const std::string otherBoot = own.substr(0, own.rfind('-')) + "-000000000000";

    const std::filesystem::path fresh = sledHiddenSibling(destination, "transfer");
    EXPECT_EQ(fresh.parent_path(), dir.path());
    EXPECT_TRUE(fresh.filename().string().starts_with(".vornsled-transfer-"));
    EXPECT_TRUE(fresh.filename().string().ends_with("." + sledDestinationKey("report.pdf") + "." + own + ".part"));

    struct Case {
        std::string name;
        bool removed;
    } const cases[] = {
        {sledSiblingName("report.pdf", ended), true},
        {sledSiblingName("report.pdf", ended, "download"), true},
        {sledSiblingName("report.pdf", ended, ""), true},
        {sledSiblingName("report.pdf", otherBoot), true},
        {sledSiblingName("report.pdf", own), false},                                  // a running writer
        {sledSiblingName("other.pdf", ended), false},                                 // another destination
        {".vornsled-" + VornUUID::random().uuidString() + ".part", false},            // no writer named
        {".vornsled-x." + sledDestinationKey("report.pdf") + ".garbage.part", false},  // unreadable writer
    };
    for (const Case& c : cases) {
        dir.write(c.name, "left over");
    }
    const std::string folderName = sledSiblingName("report.pdf", ended);
    std::filesystem::create_directory(dir / folderName);
    dir.write("report.pdf", "the file that was there");

    sledRemoveStaleSiblings(destination);
    for (const Case& c : cases) {
        EXPECT_EQ(std::filesystem::exists(dir / c.name), !c.removed) << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / folderName));
    EXPECT_EQ(vornReadFile(destination), "the file that was there");
    // The other destination's leftover goes when that one is written.
    sledRemoveStaleSiblings(dir / "other.pdf");
    EXPECT_FALSE(std::filesystem::exists(dir / cases[5].name));
}
