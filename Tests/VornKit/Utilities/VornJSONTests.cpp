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
    // Deep nesting must not exhaust the stack.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_NO_THROW(vornJSONParse(deep, deep.size()));
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
