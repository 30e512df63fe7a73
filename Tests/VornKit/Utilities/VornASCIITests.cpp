#include "VornASCII.h"
#include "VornTestSupport.h"

#include <utility>

TEST(VornASCII, CaseMappingTouchesOnlyASCIILetters) {
    struct Row {
        std::string_view text, lower, upper;
    } const rows[] = {
        {"Content-Length", "content-length", "CONTENT-LENGTH"},
        {"zh-Hant_09", "zh-hant_09", "ZH-HANT_09"},
        {"", "", ""},
        // Dotted capital I, sharp s and a byte that is no UTF-8 at all stay as they are.
        {"\xC4\xB0stra\xC3\x9F" "e\xFF", "\xC4\xB0stra\xC3\x9F" "e\xFF", "\xC4\xB0STRA\xC3\x9F" "E\xFF"},
        {"@[`{", "@[`{", "@[`{"},  // the neighbours of the letter ranges
    };
    for (const Row& row : rows) {
        EXPECT_EQ(VornASCII::lowercased(row.text), row.lower) << row.text;
        EXPECT_EQ(VornASCII::uppercased(row.text), row.upper) << row.text;
        EXPECT_TRUE(VornASCII::equalIgnoringCase(row.lower, row.upper)) << row.text;
    }
    EXPECT_FALSE(VornASCII::equalIgnoringCase("Expect", "Expec"));
    EXPECT_FALSE(VornASCII::equalIgnoringCase("\xC4\xB0", "\xC4\xB1"));
    static_assert(VornASCII::equalIgnoringCase(".LZFSE", ".lzfse"));
}

TEST(VornASCII, HexDigitValues) {
    const std::pair<char, int> rows[] = {
        {'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},
        {'/', -1}, {':', -1}, {'@', -1}, {'G', -1}, {'`', -1}, {'g', -1}, {' ', -1}, {'\xFF', -1},
    };
    for (const auto& [digit, value] : rows) {
        EXPECT_EQ(VornASCII::hexDigitValue(digit), value) << digit;
    }
}

TEST(VornASCII, ReplacingAllGoesLeftToRightOverWhatIsNotReplacedYet) {
    struct Row {
        std::string_view text, what, with, result;
    };
    const Row rows[] = {
        {"a%b%%c", "%", "%%", "a%%b%%%%c"},  // the replacement holds the pattern: never replaced again
        {"aaa", "aa", "b", "ba"},
        {"it's", "'", "'\\''", "it'\\''s"},
        {"", "x", "y", ""},
        {"no match", "z", "y", "no match"},
        {"\xC3\xA9\xC3\xA9", "\xC3\xA9", "e", "ee"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(VornASCII::replacingAll(row.text, row.what, row.with), row.result) << row.text;
    }
}
