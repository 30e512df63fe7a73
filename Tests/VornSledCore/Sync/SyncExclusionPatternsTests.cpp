#include "SyncExclusionPatterns.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(SyncExclusionPatterns, MatchesNamesByEndingOrWholeNameWithoutRegardToCase) {
    const struct {
        std::vector<std::string> patterns;
        std::string name;
        bool excluded;
    } cases[] = {
        {{}, "anything", false},
        {{"*.LOG"}, "app.log", true},
        {{"*.LOG"}, "x.Log", true},
        {{"*.log"}, "log", false},
        {{"*.tar.gz"}, "a.tar.gz", true},
        {{"*.tar.gz"}, "a.gz", false},
        {{"*.JPG"}, "photo.jpg", true},
        {{" *.tmp "}, "a.TMP", true},
        {{"\t\n*.tmp\r\n"}, "a.tmp", true},
        {{".DS_Store"}, ".ds_store", true},
        {{"node_modules"}, "Node_Modules", true},
        {{"node_modules"}, "node_modules2", false},
        // No wildcards beyond the leading "*.": these only match their literal text.
        {{"*"}, "a.txt", false},
        {{"*"}, "*", true},
        {{"foo*"}, "foobar", false},
        {{"foo*"}, "FOO*", true},
        {{"*.*"}, "a.txt", false},
        {{"*.*"}, "a.*", true},
        {{"*."}, "trailing.", true},
        // A "*." pattern is only an ending; it is not also tried as a whole name.
        {{"*.txt"}, "*.txt", true},
        {{"*.txt"}, "*.txt2", false},
        // Blank patterns exclude nothing, also not the empty or blank name.
        {{"", "   ", "\n"}, "", false},
        {{"", "   ", "\n"}, "   ", false},
        // Any one matching pattern is enough.
        {{"build", "*.o", "cache"}, "main.O", true},
        {{"build", "*.o", "cache"}, "Cache", true},
        {{"build", "*.o", "cache"}, "src", false},
        // Root-locale folding: no Turkish dotless-i rule, and full folding of sharp s.
        {{"INFO.TXT"}, "info.txt", true},
        {{"STRASSE"}, "straße", true},
        {{"*.ÇAĞ"}, "dosya.çağ", true},
        // Names only, never paths.
        {{"a/b.txt"}, "b.txt", false},
        // Ill-formed bytes neither crash nor match by accident.
        {{"*.bin"}, "x\xff.bin", true},
        {{"\xff"}, "\xfe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "name '" << c.name << "', first pattern '"
                                        << (c.patterns.empty() ? "" : c.patterns.front()) << "'");
        EXPECT_EQ(SyncExclusionPatterns(c.patterns).excludes(c.name), c.excluded);
    }
}

TEST(SyncExclusionPatterns, BlankPatternsLeaveNothingToMatch) {
    EXPECT_TRUE(SyncExclusionPatterns().empty());
    EXPECT_TRUE(SyncExclusionPatterns({"", " \t", "\u2028"}).empty());
    EXPECT_FALSE(SyncExclusionPatterns({"", "*.o"}).empty());
}
