#include "DualPaneSyncPlanner.h"

#include "SyncExclusionPatterns.h"
#include "VornLocalizationStore.h"
#include "VornLocalizedCompare.h"
#include "VornUnicode.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

// The first day of year 1, standing in for a missing modification time.
constexpr VornDate distantPast =
    std::chrono::sys_days{std::chrono::year{1} / std::chrono::January / 1};

// The unit a time of this precision is exact to; nothing for a precise one.
std::optional<std::chrono::seconds> precisionUnit(SledTimePrecision precision) {
    switch (precision) {
    case SledTimePrecision::precise:
        return std::nullopt;
    case SledTimePrecision::second:
        return std::chrono::seconds(1);
    case SledTimePrecision::minute:
        return std::chrono::minutes(1);
    case SledTimePrecision::day:
        return std::chrono::days(1);
    }
    return std::nullopt;
}

// A time cut down to a whole unit, towards the past, as ls cuts it. Days are the local calendar's,
// as ls prints them and the listing's reader takes them.
VornDate truncated(VornDate time, std::chrono::seconds unit) {
    const std::int64_t seconds = std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count();
    if (unit >= std::chrono::days(1)) {
        std::time_t at = static_cast<std::time_t>(seconds);
        std::tm fields{};
        if (::localtime_r(&at, &fields) != nullptr) {
            fields.tm_hour = 0;
            fields.tm_min = 0;
            fields.tm_sec = 0;
            fields.tm_isdst = -1;
            const std::time_t midnight = std::mktime(&fields);
            if (midnight != static_cast<std::time_t>(-1)) {
                return VornDate(std::chrono::seconds(midnight));
            }
        }
    }
    const std::int64_t step = unit.count();
    const std::int64_t floored = seconds >= 0 ? seconds / step * step : -((-seconds + step - 1) / step) * step;
    return VornDate(std::chrono::seconds(floored));
}

// left time − right time, in seconds, both cut to the coarser of the two precisions: a file listed
// to the minute on one side cannot be told apart from its copy listed to the nanosecond on the
// other by the seconds the listing left out.
double timeDifference(const SledFileEntry& left, const SledFileEntry& right) {
    VornDate leftDate = left.modifiedAt.value_or(distantPast);
    VornDate rightDate = right.modifiedAt.value_or(distantPast);
    const std::optional<std::chrono::seconds> unit =
        precisionUnit(std::max(left.modifiedAtPrecision, right.modifiedAtPrecision));
    if (unit && left.modifiedAt && right.modifiedAt) {
        leftDate = truncated(leftDate, *unit);
        rightDate = truncated(rightDate, *unit);
    }
    const auto leftTime = leftDate.time_since_epoch().count();
    const auto rightTime = rightDate.time_since_epoch().count();
    // Through double rather than an integer subtraction, which could overflow for far-off dates a
    // provider might report.
    return (static_cast<double>(leftTime) - static_cast<double>(rightTime)) / 1e6;
}

// The order of the plan's rows: localizedStandardCompare, and code-point order between paths that
// it holds equivalent (those differing only in case), so the order is total and never depends on
// the order the nodes came in.
bool planOrder(std::string_view a, std::string_view b) {
    const std::weak_ordering order = localizedStandardCompare(a, b);
    return order != 0 ? order < 0 : a < b;
}

// One side's nodes in plan order. Walks deliver theirs nearly so, and most often exactly so, which
// is checked in one pass before anything is sorted. The sort is stable, so of a path given twice the
// first node stays first.
std::vector<const RelativeFileNode*> inPlanOrder(const std::vector<RelativeFileNode>& nodes) {
    std::vector<const RelativeFileNode*> sorted;
    sorted.reserve(nodes.size());
    for (const RelativeFileNode& node : nodes) {
        sorted.push_back(&node);
    }
    const auto less = [](const RelativeFileNode* a, const RelativeFileNode* b) {
        return planOrder(a->relativePath, b->relativePath);
    };
    if (!std::is_sorted(sorted.begin(), sorted.end(), less)) {
        std::stable_sort(sorted.begin(), sorted.end(), less);
    }
    return sorted;
}

// Moves `index` past the node at it and any later node with the same path.
void skipPath(const std::vector<const RelativeFileNode*>& nodes, std::size_t& index) {
    const std::string& path = nodes[index]->relativePath;
    do {
        ++index;
    } while (index < nodes.size() && nodes[index]->relativePath == path);
}

// What the plan does with one path: the row carries whichever entries the two sides have.
struct Decision {
    SyncActionKind action;
    std::int64_t bytes;
    const char* reason;
};

Decision decide(const SledFileEntry* left, const SledFileEntry* right, SyncDirectionMode mode, bool deleteOrphans) {
    using enum SyncActionKind;
    if (!left) {
        if (mode == SyncDirectionMode::mirrorLeftToRight) {
            return deleteOrphans ? Decision{deleteOnRight, 0, "Orphan on Right"}
                                 : Decision{identicalSkip, 0, "Kept on Right"};
        }
        return {copyRightToLeft, right->sizeBytes, "Missing on Left"};
    }
    if (!right) {
        if (mode == SyncDirectionMode::mirrorRightToLeft) {
            return deleteOrphans ? Decision{deleteOnLeft, 0, "Orphan on Left"} : Decision{identicalSkip, 0, "Kept on Left"};
        }
        return {copyLeftToRight, left->sizeBytes, "Missing on Right"};
    }
    const bool sameSize = left->sizeBytes == right->sizeBytes;
    const double difference = timeDifference(*left, *right);
    // Cut to a minute or a day, equal times are all the listing can say; the 2-second slack is for
    // times that are known to the second or better.
    if (sameSize && std::fabs(difference) < 2.0) {
        return {identicalSkip, 0, "Identical"};
    }
    switch (mode) {
    case SyncDirectionMode::mirrorLeftToRight:
        return {copyLeftToRight, left->sizeBytes, sameSize ? "Newer on Left" : "Size changed"};
    case SyncDirectionMode::mirrorRightToLeft:
        return {copyRightToLeft, right->sizeBytes, sameSize ? "Newer on Right" : "Size changed"};
    case SyncDirectionMode::twoWayUpdate:
        break;
    }
    return difference >= 0 ? Decision{copyLeftToRight, left->sizeBytes, "Newer on Left"}
                           : Decision{copyRightToLeft, right->sizeBytes, "Newer on Right"};
}

// A listed item that is a symbolic link. A provider that only gives a permission text marks links
// with a leading "l", as ls does.
bool isLink(const SledFileEntry& entry) {
    return entry.isSymbolicLink || (entry.permissions && entry.permissions->starts_with('l'));
}

// A socket, pipe or device: its permission text starts with ls's type letter. Copying one reads
// a stream or a device, not a file, and deleting one breaks whatever listens on it.
bool isSpecialFile(const SledFileEntry& entry) {
    return !entry.isDirectory && entry.permissions && !entry.permissions->empty() &&
           std::string_view("spcb").find(entry.permissions->front()) != std::string_view::npos;
}

// The relative paths of one side's entries that match.
std::unordered_set<std::string> pathsWhere(const std::vector<RelativeFileNode>& nodes,
                                           bool (*matches)(const SledFileEntry&)) {
    std::unordered_set<std::string> paths;
    for (const RelativeFileNode& node : nodes) {
        if (matches(node.entry)) {
            paths.insert(node.relativePath);
        }
    }
    return paths;
}

// True when the path, or a folder on its way, is one of the links.
bool atOrBelowLink(const std::string& path, const std::unordered_set<std::string>& links) {
    if (links.empty()) {
        return false;
    }
    for (std::size_t end = path.find('/'); end != std::string::npos; end = path.find('/', end + 1)) {
        if (links.contains(path.substr(0, end))) {
            return true;
        }
    }
    return links.contains(path);
}

// A path as a case-insensitive or normalising file system sees it: "Docs/a.txt" and "docs/A.txt",
// or a name in NFC and in NFD, name one file there.
std::string samenessKey(std::string_view path) {
    return VornUnicode::normalizedNFC(VornUnicode::caseFolded(VornUnicode::normalizedNFC(path)));
}

std::string linkReason() {
    return vornText("Symbolic link, left alone", "Sembolik bağlantı, dokunulmadı");
}

std::string specialFileReason() {
    return vornText("Not a regular file, left alone", "Normal bir dosya değil, dokunulmadı");
}

std::string sameNameReason() {
    return vornText("Same name as a file copied here", "Buraya kopyalanan bir dosyayla aynı ad");
}

// Rows the plain table would get wrong on real file systems:
// - a socket, pipe or device on either side is left alone: it has no bytes to copy or compare;
// - a path that is a link on either side, or lies beneath one, is left alone: copying onto it
//   would write through the link, deleting beside it would remove real files that only look like
//   orphans, and comparing it compares the link, not what it points to;
// - a deletion of a path that another row of the plan writes on the same side, but for case or
//   Unicode normalisation, would delete on a case-insensitive or normalising disk the very file
//   the plan has just copied there.
// The paths of each side that the guards below leave alone, taken from the nodes before the rows
// are made, so that the nodes need not outlive the making of the rows.
struct GuardedPaths {
    std::unordered_set<std::string> leftLinks;
    std::unordered_set<std::string> rightLinks;
    std::unordered_set<std::string> leftSpecial;
    std::unordered_set<std::string> rightSpecial;

    GuardedPaths(const std::vector<RelativeFileNode>& leftNodes, const std::vector<RelativeFileNode>& rightNodes)
        : leftLinks(pathsWhere(leftNodes, isLink)),
          rightLinks(pathsWhere(rightNodes, isLink)),
          leftSpecial(pathsWhere(leftNodes, isSpecialFile)),
          rightSpecial(pathsWhere(rightNodes, isSpecialFile)) {}
};

void guardRows(std::vector<SyncPlanItem>& items, const GuardedPaths& guarded) {
    using enum SyncActionKind;
    const auto& [leftLinks, rightLinks, leftSpecial, rightSpecial] = guarded;
    const auto skip = [](const SyncPlanItem& item, const std::string& reason) {
        return SyncPlanItem(item.relativeName(), identicalSkip, item.leftEntry(), item.rightEntry(), 0, reason);
    };
    for (SyncPlanItem& item : items) {
        if (atOrBelowLink(item.relativeName(), leftLinks) || atOrBelowLink(item.relativeName(), rightLinks)) {
            item = skip(item, linkReason());
        } else if (leftSpecial.contains(item.relativeName()) || rightSpecial.contains(item.relativeName())) {
            item = skip(item, specialFileReason());
        }
    }
    std::unordered_set<std::string> writtenOnLeft;
    std::unordered_set<std::string> writtenOnRight;
    for (const SyncPlanItem& item : items) {
        if (item.action() == copyLeftToRight) {
            writtenOnRight.insert(samenessKey(item.relativeName()));
        } else if (item.action() == copyRightToLeft) {
            writtenOnLeft.insert(samenessKey(item.relativeName()));
        }
    }
    if (writtenOnLeft.empty() && writtenOnRight.empty()) {
        return;
    }
    for (SyncPlanItem& item : items) {
        const bool sameName = (item.action() == deleteOnRight && writtenOnRight.contains(samenessKey(item.relativeName()))) ||
                              (item.action() == deleteOnLeft && writtenOnLeft.contains(samenessKey(item.relativeName())));
        if (sameName) {
            item = skip(item, sameNameReason());
        }
    }
}

std::vector<RelativeFileNode> filesKeyedByName(const std::vector<SledFileEntry>& entries,
                                               const SyncExclusionPatterns& patterns) {
    std::vector<RelativeFileNode> nodes;
    for (const SledFileEntry& entry : entries) {
        if (!entry.isDirectory && !patterns.excludes(entry.name)) {
            nodes.push_back(RelativeFileNode{entry.name, entry});
        }
    }
    return nodes;
}

// The rows of the plan, in plan order. `release`: the nodes are the planner's own, and each
// node's text goes as soon as its row holds a copy, so that a large plan does not hold every name
// and path twice at its peak.
std::vector<SyncPlanItem> planNodes(const std::vector<RelativeFileNode>& leftNodes,
                                    const std::vector<RelativeFileNode>& rightNodes, SyncDirectionMode mode,
                                    bool deleteOrphans, bool release) {
    const GuardedPaths guarded(leftNodes, rightNodes);
    // Both sides in the plan's order, then one merging pass: a path on both sides meets itself.
    // The pass only pairs the nodes up, so the rows are then made once, into a list of their size.
    const std::vector<const RelativeFileNode*> left = inPlanOrder(leftNodes);
    const std::vector<const RelativeFileNode*> right = inPlanOrder(rightNodes);
    std::vector<std::pair<const RelativeFileNode*, const RelativeFileNode*>> pairs;
    pairs.reserve(std::max(left.size(), right.size()));
    std::size_t leftIndex = 0;
    std::size_t rightIndex = 0;
    while (leftIndex < left.size() || rightIndex < right.size()) {
        const RelativeFileNode* leftNode = leftIndex < left.size() ? left[leftIndex] : nullptr;
        const RelativeFileNode* rightNode = rightIndex < right.size() ? right[rightIndex] : nullptr;
        if (leftNode && rightNode && leftNode->relativePath != rightNode->relativePath) {
            // The order is total, so different paths are never equivalent: one side comes first.
            if (planOrder(leftNode->relativePath, rightNode->relativePath)) {
                rightNode = nullptr;
            } else {
                leftNode = nullptr;
            }
        }
        pairs.emplace_back(leftNode, rightNode);
        if (leftNode) {
            skipPath(left, leftIndex);
        }
        if (rightNode) {
            skipPath(right, rightIndex);
        }
    }
    std::vector<SyncPlanItem> items;
    items.reserve(pairs.size());
    for (const auto& [leftNode, rightNode] : pairs) {
        const Decision decision = decide(leftNode ? &leftNode->entry : nullptr, rightNode ? &rightNode->entry : nullptr,
                                         mode, deleteOrphans);
        const RelativeFileNode& named = leftNode ? *leftNode : *rightNode;
        if (release) {
            // The nodes are the caller's, passed to be used up: their texts move into the row.
            const auto take = [](const RelativeFileNode* node) -> std::optional<SledFileEntry> {
                return node ? std::optional(std::move(const_cast<RelativeFileNode*>(node)->entry)) : std::nullopt;
            };
            std::string path = std::move(const_cast<RelativeFileNode&>(named).relativePath);
            items.emplace_back(std::move(path), decision.action, take(leftNode), take(rightNode), decision.bytes,
                               decision.reason);
        } else {
            items.emplace_back(named.relativePath, decision.action,
                               leftNode ? std::optional(leftNode->entry) : std::nullopt,
                               rightNode ? std::optional(rightNode->entry) : std::nullopt, decision.bytes,
                               decision.reason);
        }
    }
    guardRows(items, guarded);
    return items;
}

}  // namespace

bool DualPaneSyncPlanner::shouldExclude(std::string_view name, const std::vector<std::string>& patterns) {
    return SyncExclusionPatterns(patterns).excludes(name);
}

std::vector<SyncPlanItem> DualPaneSyncPlanner::plan(const std::vector<SledFileEntry>& leftEntries,
                                                    const std::vector<SledFileEntry>& rightEntries,
                                                    SyncDirectionMode mode, bool deleteOrphans,
                                                    const std::vector<std::string>& excludedPatterns) {
    const SyncExclusionPatterns patterns(excludedPatterns);
    return planRecursive(filesKeyedByName(leftEntries, patterns), filesKeyedByName(rightEntries, patterns), mode,
                         deleteOrphans);
}

std::vector<SyncPlanItem> DualPaneSyncPlanner::planRecursive(const std::vector<RelativeFileNode>& leftNodes,
                                                             const std::vector<RelativeFileNode>& rightNodes,
                                                             SyncDirectionMode mode, bool deleteOrphans) {
    return planNodes(leftNodes, rightNodes, mode, deleteOrphans, false);
}

std::vector<SyncPlanItem> DualPaneSyncPlanner::planRecursive(std::vector<RelativeFileNode>&& leftNodes,
                                                             std::vector<RelativeFileNode>&& rightNodes,
                                                             SyncDirectionMode mode, bool deleteOrphans) {
    std::vector<RelativeFileNode> left = std::move(leftNodes);
    std::vector<RelativeFileNode> right = std::move(rightNodes);
    return planNodes(left, right, mode, deleteOrphans, true);
}

std::vector<SyncPlanItem> DualPaneSyncPlanner::planRecursive(std::vector<RelativeFileNode> leftNodes,
                                                             std::vector<RelativeFileNode> rightNodes,
                                                             SyncDirectionMode mode, bool deleteOrphans,
                                                             const std::vector<SkippedFileNode>& leftSkipped,
                                                             const std::vector<SkippedFileNode>& rightSkipped) {
    std::vector<SyncPlanItem> plan = planRecursive(std::move(leftNodes), std::move(rightNodes), mode, deleteOrphans);
    addSkipped(plan, leftSkipped, rightSkipped);
    return plan;
}

void DualPaneSyncPlanner::addSkipped(std::vector<SyncPlanItem>& plan, const std::vector<SkippedFileNode>& leftSkipped,
                                     const std::vector<SkippedFileNode>& rightSkipped) {
    if (leftSkipped.empty() && rightSkipped.empty()) {
        return;
    }
    // The skipped entries by path; both sides may leave out one path (a folder too deep on both,
    // a hidden file on both), which is then one row with both entries.
    struct Skipped {
        const SkippedFileNode* left = nullptr;
        const SkippedFileNode* right = nullptr;
        const std::string& reason() const { return (left != nullptr ? left : right)->entry.reason; }
    };
    std::unordered_map<std::string_view, Skipped> skippedByPath;
    for (const SkippedFileNode& node : leftSkipped) {
        skippedByPath[node.relativePath].left = &node;
    }
    for (const SkippedFileNode& node : rightSkipped) {
        skippedByPath[node.relativePath].right = &node;
    }
    // The skipped entry at `path` or at a folder above it, if any.
    const auto skippedAt = [&](std::string_view path) -> const Skipped* {
        for (;;) {
            if (const auto found = skippedByPath.find(path); found != skippedByPath.end()) {
                return &found->second;
            }
            const std::size_t slash = path.rfind('/');
            if (slash == std::string_view::npos) {
                return nullptr;
            }
            path = path.substr(0, slash);
        }
    };
    std::unordered_set<std::string_view> rowed;
    for (SyncPlanItem& item : plan) {
        const Skipped* skipped = skippedAt(item.relativeName());
        if (skipped == nullptr) {
            continue;
        }
        // The row at the skipped path itself says why; one below it keeps "Identical" and the like.
        const bool atSkippedPath = skippedByPath.contains(item.relativeName());
        if (atSkippedPath || item.action() != SyncActionKind::identicalSkip) {
            item = SyncPlanItem(item.relativeName(), SyncActionKind::identicalSkip, item.leftEntry(), item.rightEntry(),
                                0, skipped->reason());
        }
        if (atSkippedPath) {
            rowed.insert((skipped->left != nullptr ? skipped->left : skipped->right)->relativePath);
        }
    }
    const auto entryOf = [](const SkippedFileNode* node) -> std::optional<SledFileEntry> {
        if (node == nullptr) {
            return std::nullopt;
        }
        SledFileEntry entry;
        entry.name = node->entry.name;
        entry.path = node->entry.path;
        entry.isDirectory = node->entry.isDirectory;
        return entry;
    };
    const auto addRow = [&](const SkippedFileNode& node) {
        // A path that already has its row (a file listed on the other side) keeps that one row.
        if (!rowed.insert(node.relativePath).second) {
            return;
        }
        const Skipped& skipped = skippedByPath.at(node.relativePath);
        plan.emplace_back(node.relativePath, SyncActionKind::identicalSkip, entryOf(skipped.left),
                          entryOf(skipped.right), 0, skipped.reason());
    };
    for (const SkippedFileNode& node : leftSkipped) {
        addRow(node);
    }
    for (const SkippedFileNode& node : rightSkipped) {
        addRow(node);
    }
    std::stable_sort(plan.begin(), plan.end(), [](const SyncPlanItem& a, const SyncPlanItem& b) {
        return localizedStandardLess(a.relativeName(), b.relativeName());
    });
}
