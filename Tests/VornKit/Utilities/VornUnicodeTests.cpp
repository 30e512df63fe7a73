#include "VornTestSupport.h"
#include "VornUnicode.h"

#include <string>
#include <vector>

namespace {

struct Decoded {
    char32_t value;
    std::size_t length;
    bool valid;
    bool operator==(const Decoded&) const = default;
};

std::vector<Decoded> decodeAll(std::string_view text) {
    std::vector<Decoded> out;
    std::size_t expectedOffset = 0;
    VornUnicode::forEachCodePoint(text, [&](const VornCodePoint& point) {
        EXPECT_EQ(point.offset, expectedOffset);
        expectedOffset += point.length;
        out.push_back({point.value, point.length, point.valid});
    });
    EXPECT_EQ(expectedOffset, text.size());
    return out;
}

std::ostream& operator<<(std::ostream& os, const Decoded& d) {
    return os << "{U+" << std::hex << static_cast<std::uint32_t>(d.value) << std::dec << ", " << d.length << ", "
              << d.valid << "}";
}

constexpr char32_t FFFD = U'\uFFFD';

}  // namespace

TEST(VornUnicode, DecodesWellFormedAndSplitsIllFormedIntoMaximalSubparts) {
    struct Case {
        std::string text;
        std::vector<Decoded> expected;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {{U'a', 1, true}}},
        {"\xC3\x87", {{U'Ç', 2, true}}},
        {"\xE2\x80\xA8", {{U'\u2028', 3, true}}},
        {"\xF0\x9F\x87\xB9", {{U'\U0001F1F9', 4, true}}},
        {"\xF4\x8F\xBF\xBF", {{U'\U0010FFFF', 4, true}}},
        {"\xEF\xBF\xBE", {{U'\uFFFE', 3, true}}},  // a noncharacter is still well-formed
        {std::string(1, '\0'), {{0, 1, true}}},
        // The standard's own example of maximal subparts.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         {{U'a', 1, true}, {FFFD, 3, false}, {FFFD, 2, false}, {FFFD, 1, false}, {U'b', 1, true},
          {FFFD, 1, false}, {U'c', 1, true}, {FFFD, 1, false}, {FFFD, 1, false}, {U'd', 1, true}}},
        {"\xC0\xAF", {{FFFD, 1, false}, {FFFD, 1, false}}},                      // overlong "/"
        {"\xE0\x80\xAF", {{FFFD, 1, false}, {FFFD, 1, false}, {FFFD, 1, false}}},  // overlong
        {"\xED\xA0\x80", {{FFFD, 1, false}, {FFFD, 1, false}, {FFFD, 1, false}}},  // surrogate
        {"\xF4\x90\x80\x80", {{FFFD, 1, false}, {FFFD, 1, false}, {FFFD, 1, false}, {FFFD, 1, false}}},
        {"\xF5\xFF\xFE", {{FFFD, 1, false}, {FFFD, 1, false}, {FFFD, 1, false}}},
        {"\xF0\x9F\x87", {{FFFD, 3, false}}},  // cut off at the end
        {"\xE2\x80", {{FFFD, 2, false}}},
        {"x\xC3", {{U'x', 1, true}, {FFFD, 1, false}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decodeAll(c.text), c.expected) << testing::PrintToString(c.text);
        bool allValid = true;
        for (const Decoded& d : c.expected) {
            allValid = allValid && d.valid;
        }
        EXPECT_EQ(VornUnicode::isValidUTF8(c.text), allValid) << testing::PrintToString(c.text);
    }
    EXPECT_THROW(VornUnicode::decodeUTF8("ab", 2), std::out_of_range);
}

TEST(VornUnicode, EveryScalarValueRoundTripsAndSurrogatesBecomeReplacement) {
    std::string text;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        text.clear();
        VornUnicode::appendUTF8(text, c);
        const VornCodePoint point = VornUnicode::decodeUTF8(text, 0);
        const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
        const auto code = static_cast<std::uint32_t>(c);
        ASSERT_TRUE(point.valid) << code;
        ASSERT_EQ(point.length, text.size()) << code;
        ASSERT_EQ(point.value, surrogate ? FFFD : c) << code;
    }
    text.clear();
    VornUnicode::appendUTF8(text, 0x110000);
    EXPECT_EQ(text, "\uFFFD");
}

TEST(VornUnicode, CategoriesOfCodePoints) {
    struct Case {
        char32_t c;
        bool whiteSpace, newline, control, format;
    };
    const std::vector<Case> cases = {
        {U'a', false, false, false, false},
        {U' ', true, false, false, false},
        {U'\t', true, false, true, false},
        {U'\n', true, true, true, false},
        {U'\v', true, true, true, false},
        {U'\f', true, true, true, false},
        {U'\r', true, true, true, false},
        {0x00, false, false, true, false},
        {0x1B, false, false, true, false},
        {0x7F, false, false, true, false},
        {0x85, true, true, true, false},     // NEXT LINE
        {0x9F, false, false, true, false},
        {0xA0, true, false, false, false},   // NO-BREAK SPACE
        {0xAD, false, false, false, true},   // SOFT HYPHEN
        {0x1680, true, false, false, false},
        {0x2003, true, false, false, false},
        {0x200B, false, false, false, true}, // ZERO WIDTH SPACE is not white space
        {0x200D, false, false, false, true},
        {0x200E, false, false, false, true},
        {0x2028, true, true, false, false},  // LINE SEPARATOR
        {0x2029, true, true, false, false},  // PARAGRAPH SEPARATOR
        {0x202E, false, false, false, true}, // RIGHT-TO-LEFT OVERRIDE
        {0x2066, false, false, false, true},
        {0x3000, true, false, false, false},
        {0xFEFF, false, false, false, true},
        {0xFFFD, false, false, false, false},
        {0xE0001, false, false, false, true},
        {0x110000, false, false, false, false},
        {0xFFFFFFFF, false, false, false, false},
    };
    for (const Case& c : cases) {
        const auto code = static_cast<std::uint32_t>(c.c);
        EXPECT_EQ(VornUnicode::isWhiteSpace(c.c), c.whiteSpace) << std::hex << code;
        EXPECT_EQ(VornUnicode::isNewline(c.c), c.newline) << std::hex << code;
        EXPECT_EQ(VornUnicode::isControl(c.c), c.control) << std::hex << code;
        EXPECT_EQ(VornUnicode::isFormat(c.c), c.format) << std::hex << code;
    }
}

TEST(VornUnicode, TrimmingRemovesWhiteSpaceAndLineBreaksAtBothEndsOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"abc", "abc"},
        {" \t\n\r\v\f", ""},
        {"  *.tmp \n", "*.tmp"},
        {"\u00A0\u2028name\u2029\u0085\u3000", "name"},
        {"\u2003a b\u2009c\u202F", "a b\u2009c"},
        {"\u200Bx\uFEFF", "\u200Bx\uFEFF"},  // invisible, but not white space
        {" \xFF ", "\xFF"},
        {"\xE2\x80 x", "\xE2\x80 x"},       // a broken line separator is not one
        {"\r\n\u00C7a\u011F\r\n", "\u00C7a\u011F"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(VornUnicode::trimmed(text), expected) << testing::PrintToString(text);
    }
}

TEST(VornUnicode, GraphemeClustersCountAsOneCharacter) {
    const std::vector<std::pair<std::string, std::size_t>> cases = {
        {"", 0},
        {"abc", 3},
        {"e\u0301", 1},
        {"\r\n", 1},
        {"\U0001F1F9\U0001F1F7", 1},                                      // flag
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},              // family
        {"\U0001F44D\U0001F3FD", 1},                                      // skin tone
        {"\u1100\u1161\u11A8", 1},                                        // Hangul jamo
        {"\u0130stanbul", 8},
        {"a\xFF\xFE" "b", 4},
    };
    for (const auto& [text, count] : cases) {
        EXPECT_EQ(VornUnicode::graphemeCount(text), count) << testing::PrintToString(text);
    }
}

TEST(VornUnicode, LowerCaseAndFoldingUseRootRulesAndKeepIllFormedBytes) {
    struct Case {
        std::string text;
        std::string lower;
        std::string folded;
    };
    const std::vector<Case> cases = {
        {"", "", ""},
        {"README.TXT", "readme.txt", "readme.txt"},
        {"I", "i", "i"},                             // never the Turkish dotless ı
        {"\u0130", "i\u0307", "i\u0307"},            // İ keeps its dot as a combining mark
        {"\u0131", "\u0131", "\u0131"},
        {"\u00C7A\u011E", "\u00E7a\u011F", "\u00E7a\u011F"},
        {"Stra\u00DFe", "stra\u00DFe", "strasse"},
        {"STRASSE", "strasse", "strasse"},
        {"\u03A3\u0391\u03A3", "\u03C3\u03B1\u03C2", "\u03C3\u03B1\u03C3"},  // final sigma
        {"\uFB01", "\uFB01", "fi"},
        {"A\xFF" "B\xC3", "a\xFF" "b\xC3", "a\xFF" "b\xC3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VornUnicode::lowercased(c.text), c.lower) << testing::PrintToString(c.text);
        EXPECT_EQ(VornUnicode::caseFolded(c.text), c.folded) << testing::PrintToString(c.text);
    }
}

TEST(VornUnicode, NormalizedNFCComposesAndLeavesIllFormedTextAlone) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain.txt", "plain.txt"},
        {"cafe\u0301.txt", "caf\u00E9.txt"},
        {"caf\u00E9.txt", "caf\u00E9.txt"},
        {"A\u030A", "\u00C5"},
        {"\u212B", "\u00C5"},  // the angstrom sign is canonically the letter
        {"\uFB01", "\uFB01"},  // compatibility forms stay
        {"e\u0301\xFF", "e\u0301\xFF"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(VornUnicode::normalizedNFC(text), expected) << testing::PrintToString(text);
    }
}

TEST(VornUnicode, ReplacingInvalidUTF8KeepsTextAndMarksEachBadSubpartOnce) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain ascii", "plain ascii"},
        {"ç ğ 😀", "ç ğ 😀"},
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
        {"\xC3", "\xEF\xBF\xBD"},                       // a sequence cut at the end of a buffer
        {"\xF0\x9F\x98", "\xEF\xBF\xBD"},               // one maximal subpart, one replacement
        {"\xE9t\xE9", "\xEF\xBF\xBDt\xEF\xBF\xBD"},     // Latin-1 bytes
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // an encoded surrogate
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(VornUnicode::replacingInvalidUTF8(bytes), text);
    }
}
