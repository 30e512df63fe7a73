#include "VornJSON.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using nlohmann::json;
using nlohmann::ordered_json;

TEST(VornJSON, PrettySortedOutputHasTheExactLayout) {
    ordered_json document;
    document["settings"] = ordered_json{{"lanPort", 53318}, {"bookmarks", ordered_json::array()}, {"empty", ordered_json::object()}};
    document["profiles"] = ordered_json::array({ordered_json{{"name", "a/b"}, {"id", "X"}}});
    const std::string expected =
        "{\n"
        "  \"profiles\" : [\n"
        "    {\n"
        "      \"id\" : \"X\",\n"
        "      \"name\" : \"a\\/b\"\n"
        "    }\n"
        "  ],\n"
        "  \"settings\" : {\n"
        "    \"bookmarks\" : [\n"
        "\n"
        "    ],\n"
        "    \"empty\" : {\n"
        "\n"
        "    },\n"
        "    \"lanPort\" : 53318\n"
        "  }\n"
        "}";
    EXPECT_EQ(vornJSONText(document, {.prettyPrinted = true, .sortedKeys = true}), expected);
    EXPECT_EQ(vornJSONText(document),
              R"({"settings":{"lanPort":53318,"bookmarks":[],"empty":{}},"profiles":[{"name":"a\/b","id":"X"}]})");
    EXPECT_EQ(vornJSONText(json::parse(R"({"b":1,"a":[true,false,null]})")), R"({"a":[true,false,null],"b":1})");
}

TEST(VornJSON, StringsAreEscapedLikeThePlatformEncoder) {
    const struct {
        std::string text;
        bool escapeSlashes;
        const char* written;
    } cases[] = {
        {"a/b", true, R"("a\/b")"},
        {"a/b", false, R"("a/b")"},
        {"say \"hi\" \\ there", true, R"("say \"hi\" \\ there")"},
        {"\b\f\n\r\t", true, R"("\b\f\n\r\t")"},
        {std::string("\x01\x1f\x7f", 3), true, "\"\\u0001\\u001f\x7f\""},
        {std::string("nul\0byte", 8), true, R"("nul\u0000byte")"},
        {"Çift Yönlü → ✓", true, "\"Çift Yönlü → ✓\""},
    };
    for (const auto& c : cases) {
        const std::string written = vornJSONText(json(c.text), {.escapeSlashes = c.escapeSlashes});
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(json::parse(written).get<std::string>(), c.text);
    }
}

TEST(VornJSON, NumbersUseShortestRoundTripText) {
    const struct {
        json value;
        const char* written;
    } cases[] = {
        {json(0), "0"},
        {json(-9223372036854775807LL - 1), "-9223372036854775808"},
        {json(18446744073709551615ULL), "18446744073709551615"},
        {json(0.0), "0"},
        {json(2.0), "2"},
        {json(-1.5), "-1.5"},
        {json(0.1), "0.1"},
        {json(0.0001), "0.0001"},
        {json(0.00001), "1e-05"},
        {json(794000000.123456), "794000000.123456"},
        {json(9007199254740992.0), "9007199254740992"},
        {json(1e16), "1e+16"},
        {json(1.5e300), "1.5e+300"},
        {json(5e-324), "5e-324"},
    };
    for (const auto& c : cases) {
        const std::string written = vornJSONText(c.value);
        EXPECT_EQ(written, c.written);
        if (c.value.is_number_float()) {
            EXPECT_EQ(json::parse(written).get<double>(), c.value.get<double>()) << written;
        }
    }
    EXPECT_THROW(vornJSONText(json(std::numeric_limits<double>::infinity())), VornDecodingError);
    EXPECT_THROW(vornJSONText(json(std::nan(""))), VornDecodingError);
}

TEST(VornJSON, ParsingRefusesOversizedMalformedAndNonUTF8Text) {
    EXPECT_EQ(vornJSONParse(R"({"a":1})", 7)["a"], 1);
    const std::string bad[] = {R"({"a":1})" /* over the cap below */, "", "{", R"({"a":1,})", "[1] [2]",
                               "{\"a\":\"\xC3\x28\"}", "{\"a\":\"\xFF\"}", std::string("{\"a\":\"\0\"}", 8)};
    EXPECT_THROW(vornJSONParse(bad[0], 6), VornDecodingError);
    for (std::size_t i = 1; i < std::size(bad); ++i) {
        EXPECT_THROW(vornJSONParse(bad[i], 1000), VornDecodingError) << i;
    }
    // Deep nesting neither exhausts the stack nor builds anything: it is refused.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_THROW(vornJSONParse(deep, deep.size()), VornDecodingError);
    EXPECT_TRUE(vornJSONParseOrDiscarded(deep, deep.size()).is_discarded());
    EXPECT_TRUE(vornJSONParseOrDiscarded("{", 10).is_discarded());
    EXPECT_EQ(vornJSONParseOrDiscarded("[1]", 10), json::array({1}));
}

TEST(VornJSON, NestingIsLimitedOnReadAndWrite) {
    const auto nested = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    std::string objects;  // {"k":{"k":...1...}}
    for (std::size_t i = 0; i < vornJSONMaxDepth; ++i) {
        objects += "{\"k\":";
    }
    objects += "1" + std::string(vornJSONMaxDepth, '}');
    const struct {
        const char* what;
        std::string text;
        bool accepted;
    } cases[] = {
        {"arrays at the limit", nested(vornJSONMaxDepth), true},
        {"arrays one past it", nested(vornJSONMaxDepth + 1), false},
        {"objects at the limit", objects, true},
        {"objects one past it", "[" + objects + "]", false},
        {"brackets inside a string", "[\"" + std::string(100000, '[') + "\"]", true},
        {"escaped quote, then brackets in the string", "[\"\\\"" + std::string(1000, '{') + "\"]", true},
        {"escaped backslash ends the string", "[\"\\\\\"," + nested(vornJSONMaxDepth) + "]", false},
        {"unclosed past the limit", std::string(vornJSONMaxDepth + 1, '['), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vornJSONNestingWithin(c.text, vornJSONMaxDepth), c.accepted);
        if (c.accepted) {
            const json value = vornJSONParse(c.text, c.text.size());
            EXPECT_EQ(vornJSONParse(vornJSONText(value), c.text.size()), value);  // written back readable
        } else {
            try {
                vornJSONParse(c.text, c.text.size());
                ADD_FAILURE() << "parsed";
            } catch (const VornDecodingError& error) {
                EXPECT_NE(std::string(error.what()).find("nests deeper than 512 levels"), std::string::npos)
                    << error.what();
            }
        }
    }
    // What would be refused on reading is not written either.
    json deep = json::array();
    for (std::size_t i = 1; i < vornJSONMaxDepth; ++i) {
        deep = json::array({std::move(deep)});
    }
    EXPECT_NO_THROW(vornJSONText(deep));
    EXPECT_THROW(vornJSONText(json::array({deep})), VornDecodingError);
    EXPECT_THROW(vornJSONText(json::object({{"k", deep}}), {.prettyPrinted = true}), VornDecodingError);
}

TEST(VornJSON, TextThatIsNotUTF8IsNeverWritten) {
    const std::string invalid[] = {"\xFF", "a\xC3", "\xC3\x28", "\xED\xA0\x80" /* a surrogate */,
                                   "\xC0\xAF" /* overlong "/" */, "\xF4\x90\x80\x80" /* past U+10FFFF */};
    for (const std::string& text : invalid) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_THROW(vornJSONText(json::array({text})), VornDecodingError);
        EXPECT_THROW(vornJSONText(ordered_json{{text, 1}}), VornDecodingError);  // a key
        // Each of them is also what the reader refuses: writing it would make an unreadable file.
        EXPECT_THROW(vornJSONParse("[\"" + text + "\"]", 100), VornDecodingError);
    }
    EXPECT_EQ(vornJSONText(json::array({"Kök ☃ 𝄞"})), "[\"Kök ☃ 𝄞\"]");
}

TEST(VornJSON, ObjectReaderTypesAndNamesEveryFailure) {
    const json object = json::parse(R"({"s":"x","b":true,"i":5,"f":5.0,"half":5.5,"big":9223372036854775808,
        "neg":-3,"n":null,"port":65535,"far":70000,"arr":[1]})");
    const VornJSONObjectReader reader(object, "Thing");
    EXPECT_EQ(reader.string("s"), "x");
    EXPECT_TRUE(reader.boolean("b"));
    EXPECT_EQ(reader.int64("i"), 5);
    EXPECT_EQ(reader.int64("f"), 5);
    EXPECT_EQ(reader.int64("neg"), -3);
    EXPECT_EQ(reader.uint16("port"), 65535);
    EXPECT_EQ(reader.optionalString("n"), std::nullopt);
    EXPECT_EQ(reader.optionalString("missing"), std::nullopt);
    EXPECT_EQ(reader.optionalValue("n"), nullptr);

    const struct {
        const char* key;
        int kind;  // 0 string, 1 boolean, 2 int64, 3 uint16
        const char* message;
    } failures[] = {
        {"missing", 0, "Thing.missing: required key is missing"},
        {"n", 0, "Thing.n: required value is null"},
        {"i", 0, "Thing.i: expected a string, found 5"},
        {"i", 1, "Thing.i: expected a boolean, found 5"},
        {"s", 2, "Thing.s: expected an integer, found string"},
        {"b", 2, "Thing.b: expected an integer, found boolean"},
        {"half", 2, "Thing.half: 5.5 is not an integer of 64 bits"},
        {"big", 2, "Thing.big: 9223372036854775808 does not fit a 64-bit integer"},
        {"far", 3, "Thing.far: 70000 is outside 0 to 65535"},
        {"neg", 3, "Thing.neg: -3 is outside 0 to 65535"},
        {"arr", 3, "Thing.arr: expected an integer from 0 to 65535, found array"},
    };
    for (const auto& f : failures) {
        try {
            switch (f.kind) {
                case 0: (void)reader.string(f.key); break;
                case 1: (void)reader.boolean(f.key); break;
                case 2: (void)reader.int64(f.key); break;
                default: (void)reader.uint16(f.key); break;
            }
            ADD_FAILURE() << "no error for " << f.key;
        } catch (const VornDecodingError& error) {
            EXPECT_STREQ(error.what(), f.message);
        }
    }
    EXPECT_THROW(VornJSONObjectReader(json::array(), "Thing"), VornDecodingError);
}
