#include "DualPaneSyncPlanner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

using enum SyncActionKind;
using enum SyncDirectionMode;

// One file of a small tree: relative path, size and modification time in milliseconds after a
// fixed instant (absent: no time known).
struct File {
    std::string path;
    std::int64_t size = 0;
    std::optional<std::int64_t> millis;
};

const VornDate base = std::chrono::sys_days{std::chrono::year{2024} / 3 / 1};

SledFileEntry entryFor(const File& file, const std::string& root) {
    const std::size_t slash = file.path.rfind('/');
    return SledFileEntry{slash == std::string::npos ? file.path : file.path.substr(slash + 1),
                         root + "/" + file.path,
                         false,
                         file.size,
                         file.millis ? std::optional(base + std::chrono::milliseconds(*file.millis)) : std::nullopt,
                         std::nullopt,
                         std::nullopt};
}

std::vector<RelativeFileNode> tree(const std::vector<File>& files, const std::string& root) {
    std::vector<RelativeFileNode> nodes;
    for (const File& file : files) {
        nodes.push_back(RelativeFileNode{file.path, entryFor(file, root)});
    }
    return nodes;
}

// What a row must say, beside the entries it carries (checked against the trees).
struct Row {
    std::string path;
    SyncActionKind action;
    std::int64_t bytes;
    std::string reason;
};

struct PlanCase {
    const char* name;
    std::vector<File> left;
    std::vector<File> right;
    SyncDirectionMode mode;
    bool deleteOrphans;
    std::vector<Row> rows;
};

void expectPlan(const PlanCase& c) {
    SCOPED_TRACE(c.name);
    const std::vector<RelativeFileNode> left = tree(c.left, "/L");
    const std::vector<RelativeFileNode> right = tree(c.right, "/R");
    const std::vector<SyncPlanItem> plan = DualPaneSyncPlanner::planRecursive(left, right, c.mode, c.deleteOrphans);
    // Nodes handed over to be used up give the same plan.
    EXPECT_EQ(DualPaneSyncPlanner::planRecursive(std::vector(left), std::vector(right), c.mode, c.deleteOrphans), plan);
    ASSERT_EQ(plan.size(), c.rows.size());
    for (std::size_t index = 0; index < plan.size(); ++index) {
        const SyncPlanItem& item = plan[index];
        const Row& expected = c.rows[index];
        SCOPED_TRACE(expected.path);
        EXPECT_EQ(item.relativeName(), expected.path);
        EXPECT_EQ(item.action(), expected.action);
        EXPECT_EQ(item.bytesToTransfer(), expected.bytes);
        EXPECT_EQ(item.reason(), expected.reason);
        // Each row carries exactly the entries the two sides have for its path.
        const auto find = [&](const std::vector<RelativeFileNode>& nodes) -> std::optional<SledFileEntry> {
            for (const RelativeFileNode& node : nodes) {
                if (node.relativePath == expected.path) {
                    return node.entry;
                }
            }
            return std::nullopt;
        };
        EXPECT_EQ(item.leftEntry(), find(left));
        EXPECT_EQ(item.rightEntry(), find(right));
    }
}

}  // namespace

TEST(DualPaneSyncPlanner, MirrorLeftToRight) {
    const std::vector<File> left = {
        {"same.txt", 10, 0},       {"docs/new.md", 7, 0},   {"older-source.txt", 5, 0},
        {"grown.bin", 12, 5000},   {"close.txt", 4, 1900},  {"untimed.txt", 3, std::nullopt},
    };
    const std::vector<File> right = {
        {"same.txt", 10, 0},     {"older-source.txt", 5, 2000}, {"grown.bin", 9, 5000},
        {"close.txt", 4, 0},     {"untimed.txt", 3, std::nullopt}, {"docs/orphan.md", 2, 0},
    };
    for (const bool deleteOrphans : {false, true}) {
        expectPlan({"mirror left to right", left, right, mirrorLeftToRight, deleteOrphans,
                    {
                        {"close.txt", identicalSkip, 0, "Identical"},  // 1.9 s apart
                        {"docs/new.md", copyLeftToRight, 7, "Missing on Right"},
                        deleteOrphans ? Row{"docs/orphan.md", deleteOnRight, 0, "Orphan on Right"}
                                      : Row{"docs/orphan.md", identicalSkip, 0, "Kept on Right"},
                        {"grown.bin", copyLeftToRight, 12, "Size changed"},
                        // Exactly 2.0 s apart is a difference, and the source wins though it is older.
                        {"older-source.txt", copyLeftToRight, 5, "Newer on Left"},
                        {"same.txt", identicalSkip, 0, "Identical"},
                        {"untimed.txt", identicalSkip, 0, "Identical"},  // equal sizes, no times
                    }});
    }
}

TEST(DualPaneSyncPlanner, MirrorRightToLeft) {
    const std::vector<File> left = {
        {"a/orphan.txt", 1, 0}, {"equal-times.txt", 8, 0}, {"newer-left.txt", 3, 9000}, {"same.txt", 2, 100},
    };
    const std::vector<File> right = {
        {"b/only-right.txt", 6, 0}, {"equal-times.txt", 5, 0}, {"newer-left.txt", 3, 0}, {"same.txt", 2, -1800},
    };
    for (const bool deleteOrphans : {false, true}) {
        expectPlan({"mirror right to left", left, right, mirrorRightToLeft, deleteOrphans,
                    {
                        deleteOrphans ? Row{"a/orphan.txt", deleteOnLeft, 0, "Orphan on Left"}
                                      : Row{"a/orphan.txt", identicalSkip, 0, "Kept on Left"},
                        {"b/only-right.txt", copyRightToLeft, 6, "Missing on Left"},
                        {"equal-times.txt", copyRightToLeft, 5, "Size changed"},
                        {"newer-left.txt", copyRightToLeft, 3, "Newer on Right"},
                        {"same.txt", identicalSkip, 0, "Identical"},
                    }});
    }
}

TEST(DualPaneSyncPlanner, TwoWayUpdateNeverDeletesAndFollowsTheLaterTime) {
    const std::vector<File> left = {
        {"left-only.txt", 4, 0},       {"sizes-differ-tie.txt", 9, 0}, {"right-newer-by-half.txt", 9, 0},
        {"left-newer.txt", 1, 3000},   {"untimed-left.txt", 2, std::nullopt}, {"same.txt", 3, 0},
    };
    const std::vector<File> right = {
        {"right-only.txt", 8, 0},      {"sizes-differ-tie.txt", 1, 0}, {"right-newer-by-half.txt", 1, 500},
        {"left-newer.txt", 1, 0},      {"untimed-left.txt", 2, 0},     {"same.txt", 3, 1999},
    };
    for (const bool deleteOrphans : {false, true}) {
        expectPlan({"two-way update", left, right, twoWayUpdate, deleteOrphans,
                    {
                        {"left-newer.txt", copyLeftToRight, 1, "Newer on Left"},
                        {"left-only.txt", copyLeftToRight, 4, "Missing on Right"},
                        // Different sizes, right later by half a second: to the left, never "Size changed".
                        {"right-newer-by-half.txt", copyRightToLeft, 1, "Newer on Right"},
                        {"right-only.txt", copyRightToLeft, 8, "Missing on Left"},
                        {"same.txt", identicalSkip, 0, "Identical"},
                        // Different sizes and equal times go left to right.
                        {"sizes-differ-tie.txt", copyLeftToRight, 9, "Newer on Left"},
                        // A missing time counts as year 1, so the timed right side is newer.
                        {"untimed-left.txt", copyRightToLeft, 2, "Newer on Right"},
                    }});
    }
}

TEST(DualPaneSyncPlanner, RowsFollowTheListingOrderOnePerPath) {
    // Whichever side holds them: numeric runs by value, letters without regard to case.
    expectPlan({"order", {{"b.txt", 1, 0}, {"9.txt", 1, 0}}, {{"A.txt", 1, 0}, {"10.txt", 1, 0}, {"9.txt", 1, 0}},
                twoWayUpdate, false,
                {
                    {"9.txt", identicalSkip, 0, "Identical"},
                    {"10.txt", copyRightToLeft, 1, "Missing on Left"},
                    {"A.txt", copyRightToLeft, 1, "Missing on Left"},
                    {"b.txt", copyLeftToRight, 1, "Missing on Right"},
                }});
    // Paths that differ only in case are two rows, in code-point order; the one that would be
    // deleted is what the copy lands on where names ignore case, so it is left alone.
    expectPlan({"case", {{"a.txt", 1, 0}}, {{"A.txt", 1, 0}}, mirrorLeftToRight, true,
                {
                    {"A.txt", identicalSkip, 0, "Same name as a file copied here"},
                    {"a.txt", copyLeftToRight, 1, "Missing on Right"},
                }});
    expectPlan({"empty", {}, {}, mirrorLeftToRight, true, {}});
}

TEST(DualPaneSyncPlanner, RowIdentityIsTheActionAndThePath) {
    const auto plan = DualPaneSyncPlanner::planRecursive(tree({{"a/b.txt", 1, 0}}, "/L"), {}, mirrorLeftToRight, false);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].id(), "copyLeftToRight:a/b.txt");
}

TEST(DualPaneSyncPlanner, ARepeatedPathCountsOnceWithItsFirstNode) {
    const std::vector<RelativeFileNode> left = tree({{"x.txt", 1, 0}, {"x.txt", 99, 0}}, "/L");
    const auto plan = DualPaneSyncPlanner::planRecursive(left, tree({{"x.txt", 1, 0}}, "/R"), mirrorLeftToRight, true);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].action(), identicalSkip);
    EXPECT_EQ(plan[0].leftEntry(), left[0].entry);
    EXPECT_EQ(DualPaneSyncPlanner::planRecursive(std::vector(left), tree({{"x.txt", 1, 0}}, "/R"), mirrorLeftToRight, true),
              plan);
}

TEST(DualPaneSyncPlanner, OneLevelPlanDropsFoldersAndExcludedFiles) {
    const auto folder = [](std::string name, std::string root) {
        return SledFileEntry{name, root + "/" + name, true, 0, std::nullopt, std::nullopt, std::nullopt};
    };
    const std::vector<SledFileEntry> left = {folder("only-left-folder", "/L"), entryFor({"keep.txt", 3, 0}, "/L"),
                                             entryFor({"photo.JPG", 5, 0}, "/L"), entryFor({"*", 1, 0}, "/L")};
    const std::vector<SledFileEntry> right = {folder("node_modules", "/R"), entryFor({".DS_Store", 1, 0}, "/R"),
                                              entryFor({"keep.txt", 3, 4000}, "/R")};
    const auto plan = DualPaneSyncPlanner::plan(left, right, mirrorLeftToRight, true, {" *.jpg", ".ds_store", ""});
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].relativeName(), "*");  // "*" is no wildcard
    EXPECT_EQ(plan[0].action(), copyLeftToRight);
    EXPECT_EQ(plan[1].relativeName(), "keep.txt");
    EXPECT_EQ(plan[1].action(), copyLeftToRight);
    EXPECT_EQ(plan[1].reason(), "Newer on Left");
    EXPECT_EQ(plan[1].rightEntry()->path, "/R/keep.txt");

    EXPECT_TRUE(DualPaneSyncPlanner::shouldExclude("photo.jpg", {"*.JPG"}));
    EXPECT_FALSE(DualPaneSyncPlanner::shouldExclude("photo.jpg", {}));
    EXPECT_FALSE(DualPaneSyncPlanner::shouldExclude("photo.jpg", {"  "}));
}

TEST(DualPaneSyncPlanner, NoDeletionOfWhatTheSamePlanCopiesUnderAnotherCaseOrNormalisation) {
    const std::string nfc = "caf\u00e9.txt";
    const std::string nfd = "cafe\u0301.txt";
    const std::string copied = "Same name as a file copied here";
    const std::vector<PlanCase> cases = {
        {"case differs in a folder name", {{"Docs/a.txt", 4, 0}}, {{"docs/a.txt", 4, 0}}, mirrorLeftToRight, true,
         {{"Docs/a.txt", copyLeftToRight, 4, "Missing on Right"}, {"docs/a.txt", identicalSkip, 0, copied}}},
        {"full case folding", {{"STRASSE.txt", 2, 0}}, {{"Straße.txt", 2, 0}}, mirrorLeftToRight, true,
         {{"STRASSE.txt", copyLeftToRight, 2, "Missing on Right"}, {"Straße.txt", identicalSkip, 0, copied}}},
        {"NFC against NFD, right to left", {{nfd, 3, 0}}, {{nfc, 3, 0}}, mirrorRightToLeft, true,
         {{nfd, identicalSkip, 0, copied}, {nfc, copyRightToLeft, 3, "Missing on Left"}}},
        {"a real orphan is still deleted", {{"Docs/a.txt", 4, 0}}, {{"docs/b.txt", 4, 0}}, mirrorLeftToRight, true,
         {{"Docs/a.txt", copyLeftToRight, 4, "Missing on Right"}, {"docs/b.txt", deleteOnRight, 0, "Orphan on Right"}}},
    };
    for (const PlanCase& c : cases) {
        expectPlan(c);
    }
}

// A time listed to the minute or the day is compared with the other side's time cut to that unit,
// so a copy listed by `ls -l` on one side and to the nanosecond on the other is identical; the
// 2-second rule stays for times known to the second or better.
TEST(DualPaneSyncPlanner, TimesAreComparedAtTheCoarserPrecision) {
    // 14:07:00 local time of a recent SledTimePrecision::day, as `ls -l` prints "14:07".
    std::tm fields{};
    fields.tm_year = 2024 - 1900;
    fields.tm_mon = 2;
    fields.tm_mday = 1;
    fields.tm_hour = 14;
    fields.tm_min = 7;
    fields.tm_isdst = -1;
    const VornDate atMinute(std::chrono::seconds(std::mktime(&fields)));
    fields.tm_hour = 0;
    fields.tm_min = 0;
    const VornDate midnight(std::chrono::seconds(std::mktime(&fields)));
    struct Case {
        const char* name;
        VornDate left;
        SledTimePrecision leftPrecision;
        VornDate right;
        SledTimePrecision rightPrecision;
        SyncActionKind action;
    };
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    const std::vector<Case> cases{
        {"same minute, 59.9 s apart", atMinute + milliseconds(59'900), SledTimePrecision::precise, atMinute, SledTimePrecision::minute,
         identicalSkip},
        {"next minute", atMinute + seconds(60), SledTimePrecision::precise, atMinute, SledTimePrecision::minute, copyLeftToRight},
        {"a second before the minute", atMinute - seconds(1), SledTimePrecision::precise, atMinute, SledTimePrecision::minute,
         copyLeftToRight},
        {"same day, late evening", midnight + std::chrono::hours(23), SledTimePrecision::precise, midnight, SledTimePrecision::day, identicalSkip},
        {"next day", midnight + std::chrono::hours(25), SledTimePrecision::precise, midnight, SledTimePrecision::day, copyLeftToRight},
        {"whole seconds keep the 2-second rule", atMinute + milliseconds(1'900), SledTimePrecision::precise, atMinute, SledTimePrecision::second,
         identicalSkip},
        {"whole seconds, 2 s apart", atMinute + seconds(2), SledTimePrecision::second, atMinute, SledTimePrecision::second, copyLeftToRight},
        {"both precise, 2 s apart", atMinute + seconds(2), SledTimePrecision::precise, atMinute, SledTimePrecision::precise, copyLeftToRight},
    };
    for (const Case& c : cases) {
        SledFileEntry left{"a.txt", "/l/a.txt", false, 10, c.left, std::nullopt, std::nullopt};
        left.modifiedAtPrecision = c.leftPrecision;
        SledFileEntry right{"a.txt", "/r/a.txt", false, 10, c.right, std::nullopt, std::nullopt};
        right.modifiedAtPrecision = c.rightPrecision;
        for (const bool swapped : {false, true}) {
            const auto plan = swapped ? DualPaneSyncPlanner::plan({right}, {left}, mirrorLeftToRight, false, {})
                                      : DualPaneSyncPlanner::plan({left}, {right}, mirrorLeftToRight, false, {});
            ASSERT_EQ(plan.size(), 1u) << c.name;
            EXPECT_EQ(plan[0].action(), c.action) << c.name << (swapped ? " (swapped)" : "");
        }
    }
}
