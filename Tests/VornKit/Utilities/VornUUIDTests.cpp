#include "VornUUID.h"

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

TEST(VornUUID, ReadsEitherCaseAndWritesCanonicalUpperCase) {
    const auto lower = VornUUID::fromString("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    const auto upper = VornUUID::fromString("6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    const auto mixed = VornUUID::fromString("6Ba7B810-9dAd-11D1-80b4-00C04fd430C8");
    ASSERT_TRUE(lower && upper && mixed);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(*mixed, *upper);
    EXPECT_EQ(lower->uuidString(), "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
    EXPECT_EQ(lower->bytes()[0], 0x6B);
    EXPECT_EQ(lower->bytes()[15], 0xC8);
    EXPECT_EQ(std::hash<VornUUID>{}(*lower), std::hash<VornUUID>{}(*upper));
}

TEST(VornUUID, RejectsEveryOtherShape) {
    const char* const bad[] = {
        "",
        "6BA7B810-9DAD-11D1-80B4-00C04FD430C",    // one digit short
        "6BA7B810-9DAD-11D1-80B4-00C04FD430C89",  // one digit long
        "6BA7B8109DAD11D180B400C04FD430C8",       // no hyphens
        "{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}",  // braces
        "6BA7B810-9DAD-11D1-80B4_00C04FD430C8",   // wrong separator
        "6BA7B81-09DAD-11D1-80B4-00C04FD430C8",   // hyphen in the wrong place
        "6BA7B810-9DAD-11D1-80B4-00C04FD430CG",   // not hexadecimal
        " 6BA7B810-9DAD-11D1-80B4-00C04FD430C",   // leading blank
        "6BA7B810-9DAD-11D1-80B4-00C04FD430C\xC3", // stray byte
    };
    for (const char* text : bad) {
        EXPECT_FALSE(VornUUID::fromString(text).has_value()) << text;
    }
}

TEST(VornUUID, RandomIdentifiersAreVersionFourDistinctAndRoundTrip) {
    std::set<VornUUID> seen;
    for (int i = 0; i < 1000; ++i) {
        const VornUUID uuid = VornUUID::random();
        EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes()[8] >> 6, 2);
        const std::string text = uuid.uuidString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_EQ(VornUUID::fromString(text), uuid);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(VornUUID, DefaultIsNilAndOrderIsByBytes) {
    const VornUUID nil;
    EXPECT_TRUE(nil.isNil());
    EXPECT_EQ(nil.uuidString(), "00000000-0000-0000-0000-000000000000");
    EXPECT_FALSE(VornUUID::random().isNil());
    const auto low = VornUUID::fromString("00000000-0000-0000-0000-0000000000FF");
    const auto high = VornUUID::fromString("00000000-0000-0000-0000-000000000100");
    ASSERT_TRUE(low && high);
    EXPECT_LT(*low, *high);
    std::unordered_set<VornUUID> set{*low, *high, *low};
    EXPECT_EQ(set.size(), 2u);
}
