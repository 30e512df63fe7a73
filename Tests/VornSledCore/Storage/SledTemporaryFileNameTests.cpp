#include "SledTemporaryFileName.h"
#include "VornUUID.h"

#include <gtest/gtest.h>

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
