#include "LANRequestHead.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct HeadCase {
    const char* name;
    std::string head;
    std::string method;
    std::string path;
    std::optional<std::string> pinQuery;
    std::string presentedPIN;
};

TEST(LANRequestHead, ParsesRequestLinesPathsAndPINs) {
    const HeadCase cases[] = {
        {"plain", "GET /api/v1/info HTTP/1.1\r\nHost: x", "GET", "/api/v1/info", std::nullopt, ""},
        {"lower-case method", "get /api/v1/info HTTP/1.1", "GET", "/api/v1/info", std::nullopt, ""},
        {"extra spaces dropped", "POST   /api/v1/upload   HTTP/1.1", "POST", "/api/v1/upload", std::nullopt, ""},
        {"version ignored", "GET /", "GET", "/", std::nullopt, ""},
        {"percent-decoded path", "GET /a%20b/%C3%A7 HTTP/1.1", "GET", "/a b/ç", std::nullopt, ""},
        {"query pin", "GET /api/v1/shares?x=1&pin=12%2034&pin=9 HTTP/1.1", "GET", "/api/v1/shares", "12 34", "12 34"},
        {"pin without value", "GET /api/v1/shares?pin HTTP/1.1", "GET", "/api/v1/shares", "", ""},
        {"header beats query", "GET /x?pin=1234 HTTP/1.1\r\nX-VornSled-PIN: 9999", "GET", "/x", "1234", "9999"},
        {"empty header beats query", "GET /x?pin=1234 HTTP/1.1\r\nx-vornsled-pin:", "GET", "/x", "1234", ""},
        {"malformed escape keeps raw target", "GET /a%zz?pin=1 HTTP/1.1", "GET", "/a%zz?pin=1", std::nullopt, ""},
        {"space-free but invalid URL character", "GET /a|b HTTP/1.1", "GET", "/a|b", std::nullopt, ""},
        {"escape of invalid UTF-8 keeps encoded path", "GET /a%FF HTTP/1.1", "GET", "/a%FF", std::nullopt, ""},
        {"fragment dropped", "GET /api/v1/info#top HTTP/1.1", "GET", "/api/v1/info", std::nullopt, ""},
        {"query value with bad escape used as sent", "GET /s?pin=%G1 HTTP/1.1", "GET", "/s?pin=%G1", std::nullopt, ""},
        {"target without slash", "GET info?pin=5 HTTP/1.1", "GET", "", "5", "5"},
    };
    for (const HeadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<LANRequestHead> head = LANRequestHead::parse(c.head);
        ASSERT_TRUE(head.has_value());
        EXPECT_EQ(head->method, c.method);
        EXPECT_EQ(head->path, c.path);
        EXPECT_EQ(head->pinQueryItem, c.pinQuery);
        EXPECT_EQ(head->presentedPIN(), c.presentedPIN);
    }
}

TEST(LANRequestHead, RefusesRequestLinesOfFewerThanTwoPieces) {
    for (const std::string& head : {std::string(), std::string("GET"), std::string("   GET   "), std::string("\r\nHost: a"), std::string("\0", 1)}) {
        EXPECT_FALSE(LANRequestHead::parse(head).has_value()) << head;
    }
}

TEST(LANRequestHead, ReadsHeadersByTheirRules) {
    const std::string text = "POST /api/v1/upload HTTP/1.1\r\n"
                             "  Content-LENGTH \t:  42 \t\r\n"
                             "no colon here\r\n"
                             "X-VornSled-Filename: first\r\n"
                             "x-vornsled-filename: second: with colon\r\n"
                             "X-Spaces:\xC2\xA0 value \xE3\x80\x80\r\n"
                             "X-Bad: a\xFF" "b";
    const std::optional<LANRequestHead> head = LANRequestHead::parse(text);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->header("content-length"), "42");
    EXPECT_EQ(head->contentLength(), 42);
    EXPECT_EQ(head->header("x-vornsled-filename"), "second: with colon");
    EXPECT_EQ(head->header("x-spaces"), "value");  // no-break and ideographic spaces trimmed
    EXPECT_EQ(head->header("x-bad"), "a\xEF\xBF\xBD" "b");  // invalid UTF-8 replaced by U+FFFD
    EXPECT_FALSE(head->header("no colon here").has_value());
    EXPECT_FALSE(head->header("x-vornsled-pin").has_value());
}

TEST(LANRequestHead, ContentLengthOnlyForPlainNonNegativeDecimals) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"0", 0}, {"17", 17}, {"+17", 17}, {"-5", 0}, {"abc", 0}, {"12abc", 0}, {"", 0}, {"1 2", 0},
        {"9223372036854775807", 9223372036854775807LL}, {"9223372036854775808", 0}, {"99999999999999999999999", 0},
        {"0x10", 0}, {"1e3", 0},
    };
    for (const auto& [value, expected] : cases) {
        const std::optional<LANRequestHead> head =
            LANRequestHead::parse(std::string("POST /api/v1/upload HTTP/1.1\r\nContent-Length: ") + value);
        ASSERT_TRUE(head.has_value());
        EXPECT_EQ(head->contentLength(), expected) << value;
    }
    EXPECT_EQ(LANRequestHead::parse("POST / HTTP/1.1")->contentLength(), 0);
}

TEST(LANRequestHead, PercentDecodingFailsCleanly) {
    EXPECT_EQ(lanPercentDecoded("a%2Fb+c"), "a/b+c");
    EXPECT_EQ(lanPercentDecoded("%E2%9C%93"), "\xE2\x9C\x93");
    for (const char* bad : {"%", "%4", "%zz", "%FF", "%C3", "abc%2"}) {
        EXPECT_FALSE(lanPercentDecoded(bad).has_value()) << bad;
        EXPECT_EQ(lanPercentDecodedOrSelf(bad), bad);
    }
}

}  // namespace
