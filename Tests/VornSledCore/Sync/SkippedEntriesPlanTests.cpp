#include "DualPaneSyncPlanner.h"

#include "VornRawValue.h"

#include <gtest/gtest.h>

// Entries a walk could not name show in the plan as skipped rows with their reason, and keep the
// plan from copying over them or deleting beside them.

namespace {

RelativeFileNode node(const std::string& relativePath, std::int64_t size) {
    SledFileEntry entry;
    entry.name = relativePath.substr(relativePath.rfind('/') + 1);
    entry.path = "/" + relativePath;
    entry.sizeBytes = size;
    return RelativeFileNode{relativePath, entry};
}

SkippedFileNode skipped(const std::string& relativePath, bool isDirectory) {
    return SkippedFileNode{relativePath, SledSkippedEntry{relativePath, "/" + relativePath, isDirectory, "left out"}};
}

std::vector<std::string> rows(const std::vector<SyncPlanItem>& plan) {
    std::vector<std::string> lines;
    for (const SyncPlanItem& item : plan) {
        lines.push_back(std::string(rawValue(item.action())) + " " + item.relativeName() + " (" + item.reason() + ")");
    }
    return lines;
}

}  // namespace

TEST(DualPaneSyncPlanner, SkippedEntriesAreRowsOfTheirOwnAndShieldWhatLiesAtOrBelowThem) {
    // Left is the source of a mirror with deletions; the right side's orphans would go.
    const std::vector<RelativeFileNode> left = {node("a.txt", 1), node("odd/x.txt", 2)};
    const std::vector<RelativeFileNode> right = {node("odd/y.txt", 3), node("orphan.txt", 4), node("z/w.txt", 5)};
    const std::vector<SkippedFileNode> leftSkipped = {skipped("z", true)};
    const std::vector<SkippedFileNode> rightSkipped = {skipped("odd", true), skipped("..", false)};
    const auto plan = DualPaneSyncPlanner::planRecursive(left, right, SyncDirectionMode::mirrorLeftToRight, true,
                                                         leftSkipped, rightSkipped);
    EXPECT_EQ(rows(plan), (std::vector<std::string>{
                              "identicalSkip .. (left out)",
                              "copyLeftToRight a.txt (Missing on Right)",
                              "identicalSkip odd (left out)",
                              "identicalSkip odd/x.txt (left out)",
                              "identicalSkip odd/y.txt (left out)",
                              "deleteOnRight orphan.txt (Orphan on Right)",
                              "identicalSkip z (left out)",
                              "identicalSkip z/w.txt (left out)",
                          }));
}

// A path both sides left out (a folder too deep on both, a hidden file on both) is one row holding
// both entries, and a path one side left out where the other lists a file keeps that file's row.
TEST(DualPaneSyncPlanner, APathLeftOutOnBothSidesIsOneRow) {
    const std::vector<RelativeFileNode> left = {node("deep/x.txt", 1)};
    const std::vector<RelativeFileNode> right = {node(".env", 2)};
    const auto plan = DualPaneSyncPlanner::planRecursive(left, right, SyncDirectionMode::mirrorLeftToRight, true,
                                                         {skipped("deep", true), skipped(".env", false)},
                                                         {skipped("deep", true)});
    EXPECT_EQ(rows(plan), (std::vector<std::string>{"identicalSkip .env (left out)", "identicalSkip deep (left out)",
                                                    "identicalSkip deep/x.txt (left out)"}));
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_TRUE(plan[0].leftEntry().has_value() || plan[0].rightEntry().has_value());
    EXPECT_TRUE(plan[1].leftEntry().has_value());
    EXPECT_TRUE(plan[1].rightEntry().has_value());
}
