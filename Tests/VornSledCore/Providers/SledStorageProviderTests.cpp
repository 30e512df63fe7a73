#include "SledStorageProvider.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SledFileEntry entry(std::string name, bool isDirectory, std::string path = {}) {
    return SledFileEntry{name, path.empty() ? "/" + name : path, isDirectory, 0, std::nullopt, std::nullopt, std::nullopt};
}

}  // namespace

TEST(SledStorageProviderListingOrder, FoldersFirstThenNamesStableForEqualNames) {
    struct Case {
        std::string label;
        std::vector<SledFileEntry> input;
        std::vector<std::string> expectedPaths;
    };
    const std::vector<Case> cases = {
        {"folders before files, digits by value",
         {entry("a10.txt", false), entry("b", true), entry("a2.txt", false), entry("A", true)},
         {"/A", "/b", "/a2.txt", "/a10.txt"}},
        {"names equal but for case keep their delivered order",
         {entry("readme", false, "/first"), entry("README", false, "/second"), entry("Readme", false, "/third")},
         {"/first", "/second", "/third"}},
        {"a folder and a file of the same name: the folder first",
         {entry("same", false, "/file"), entry("same", true, "/folder")},
         {"/folder", "/file"}},
        {"empty list", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto entries = c.input;
        SledStorageProvider::sortListing(entries);
        std::vector<std::string> paths;
        for (const auto& e : entries) {
            paths.push_back(e.path);
        }
        EXPECT_EQ(paths, c.expectedPaths);
    }
}
