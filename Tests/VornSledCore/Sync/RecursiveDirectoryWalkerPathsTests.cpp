#include "RecursiveDirectoryWalker.h"
#include "RelativeFileNode.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

namespace {

SledFileEntry fileEntry(std::string name, std::string path, std::int64_t size = 0) {
    return SledFileEntry{std::move(name), std::move(path), false, size, std::nullopt, std::nullopt, std::nullopt};
}

}  // namespace

TEST(RelativeFileNode, ParentRelativeDirectory) {
    const struct {
        const char* relativePath;
        std::optional<std::string> parent;
    } cases[] = {
        {"z.bin", std::nullopt},
        {"x/y/z.bin", "x/y"},
        {"x/z.bin", "x"},
        {"/z.bin", std::nullopt},  // nothing before the only "/"
        {"", std::nullopt},
        {"a//b", "a/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relativePath);
        EXPECT_EQ((RelativeFileNode{c.relativePath, fileEntry("n", "/p")}.parentRelativeDirectory()), c.parent);
    }
}

TEST(RelativeFileNode, EqualityAndHashingCoverThePathAndTheWholeEntry) {
    const RelativeFileNode node{"a/b.txt", fileEntry("b.txt", "/root/a/b.txt", 3)};
    RelativeFileNode otherPath = node;
    otherPath.relativePath = "a/B.txt";
    RelativeFileNode otherTime = node;
    otherTime.entry.modifiedAt = VornDate{};
    RelativeFileNode otherTag = node;
    otherTag.entry.eTag = "\"e\"";

    EXPECT_EQ(node, RelativeFileNode(node));
    EXPECT_NE(node, otherPath);
    EXPECT_NE(node, otherTime);
    EXPECT_NE(node, otherTag);
    const std::unordered_set<RelativeFileNode> set{node, node, otherPath, otherTime, otherTag};
    EXPECT_EQ(set.size(), 4u);
}

TEST(RecursiveDirectoryWalker, RequiredParentDirectoriesComeOnceAndParentsFirst) {
    const struct {
        std::vector<std::string> paths;
        std::vector<std::string> folders;
    } cases[] = {
        {{}, {}},
        {{"e.txt"}, {}},
        {{"a/b/c.txt", "a/d.txt", "e.txt"}, {"a", "a/b"}},
        {{"z/1.txt", "a/b/2.txt"}, {"a", "z", "a/b"}},
        {{"a//b/c.txt", "/a/x.txt"}, {"a", "a/b"}},
        {{"a/b/"}, {"a"}},  // empty components are ignored, so b is the last one
        {{"B/x", "a/x", "Z/x", "a/y"}, {"B", "Z", "a"}},  // code-point order: upper case first
        {{"ç/x", "d/x"}, {"d", "ç"}},
        {{"a/b/c/d/e.txt", "a/b/f.txt", "a/g/h.txt"}, {"a", "a/b", "a/g", "a/b/c", "a/b/c/d"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.paths.size() << " paths, first '"
                                        << (c.paths.empty() ? "" : c.paths.front()) << "'");
        EXPECT_EQ(RecursiveDirectoryWalker::requiredParentDirectories(c.paths), c.folders);
    }
}
