#include "VornLocalizedCompare.h"
#include "VornTestSupport.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

// Ascending order; names on one line compare equivalent and must keep their delivered order.
const std::vector<std::vector<std::string>> expectedGroups = {
    {"_notes"},
    {"1.txt"},
    {"2.txt"},
    {"10.txt"},
    {"a", "A"},
    {"\u00E1"},  // á: the accent only breaks the tie with "a"; "a.txt" is longer
    {"a.txt", "A.TXT"},
    {"a1"},
    {"a2", "A2"},
    {"a10"},
    {"a100b"},
    {"b"},
    {"c", "C"},
    {"\u00C7alar", "\u00E7alar"},  // Ç and ç: after C, before D
    {"d"},
    {"file2"},
    {"file9.txt"},
    {"File10"},
    {"file10.txt"},
    {"i"},
    {"\u0130"},                 // İ: I with a dot above
    {"\u0131"},                 // ı sorts as a letter of its own after i
    {"j"},
    {"Report 2 final", "report 2 FINAL"},
    {"Report 12"},
    {"z"},
};

std::vector<std::string> flattened() {
    std::vector<std::string> names;
    for (const auto& group : expectedGroups) {
        names.insert(names.end(), group.begin(), group.end());
    }
    return names;
}

}  // namespace

TEST(VornLocalizedCompare, StableSortGivesTheListingOrder) {
    const std::vector<std::string> expected = flattened();
    // Delivered backwards group by group but in order within each group, so stability shows.
    std::vector<std::string> delivered;
    for (auto group = expectedGroups.rbegin(); group != expectedGroups.rend(); ++group) {
        delivered.insert(delivered.end(), group->begin(), group->end());
    }
    std::stable_sort(delivered.begin(), delivered.end(),
                     [](const std::string& a, const std::string& b) { return localizedStandardLess(a, b); });
    EXPECT_EQ(delivered, expected);
}

TEST(VornLocalizedCompare, IsAStrictWeakOrderingMatchingTheGroups) {
    std::vector<std::pair<std::string, std::size_t>> names;
    for (std::size_t g = 0; g < expectedGroups.size(); ++g) {
        for (const auto& name : expectedGroups[g]) {
            names.emplace_back(name, g);
        }
    }
    for (const auto& [a, ga] : names) {
        for (const auto& [b, gb] : names) {
            const auto expected = ga < gb ? std::weak_ordering::less
                                  : ga > gb ? std::weak_ordering::greater : std::weak_ordering::equivalent;
            EXPECT_TRUE(localizedStandardCompare(a, b) == expected) << a << " vs " << b;
            EXPECT_EQ(localizedStandardLess(a, b), ga < gb) << a << " vs " << b;
        }
    }
}

TEST(VornLocalizedCompare, IllFormedUTF8IsOrderedWithoutFailing) {
    const std::vector<std::string> names = {"\xFF", "a\xC3", "\xED\xA0\x80", "", "a", "\xC3\x87",
                                            std::string("\0x", 2), "\xF0\x9F\x87"};
    for (const auto& a : names) {
        EXPECT_FALSE(localizedStandardLess(a, a));
        for (const auto& b : names) {
            EXPECT_FALSE(localizedStandardLess(a, b) && localizedStandardLess(b, a))
                << testing::PrintToString(a) << " vs " << testing::PrintToString(b);
        }
    }
    EXPECT_TRUE(localizedStandardLess("", "a"));
    EXPECT_TRUE(localizedStandardLess("a", "a\xC3"));
}

TEST(VornLocalizedCompare, ThreadsSortingAtOnceAgree) {
    const std::vector<std::string> expected = flattened();
    std::vector<std::vector<std::string>> results(4);
    {
        std::vector<std::jthread> threads;
        for (auto& result : results) {
            threads.emplace_back([&result] {
                for (int round = 0; round < 20; ++round) {
                    std::vector<std::string> names;
                    for (auto group = expectedGroups.rbegin(); group != expectedGroups.rend(); ++group) {
                        names.insert(names.end(), group->begin(), group->end());
                    }
                    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
                        return localizedStandardLess(a, b);
                    });
                    result = names;
                }
            });
        }
    }
    for (const auto& result : results) {
        EXPECT_EQ(result, expected);
    }
}
