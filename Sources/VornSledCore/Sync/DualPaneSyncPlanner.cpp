#include "DualPaneSyncPlanner.h"

#include "SyncExclusionPatterns.h"
#include "VornLocalizedCompare.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <unordered_map>

namespace {

// The first day of year 1, standing in for a missing modification time.
constexpr VornDate distantPast =
    std::chrono::sys_days{std::chrono::year{1} / std::chrono::January / 1};

// left time − right time, in seconds.
double timeDifference(const SledFileEntry& left, const SledFileEntry& right) {
    const auto leftTime = left.modifiedAt.value_or(distantPast).time_since_epoch().count();
    const auto rightTime = right.modifiedAt.value_or(distantPast).time_since_epoch().count();
    // Through double rather than an integer subtraction, which could overflow for far-off dates a
    // provider might report.
    return (static_cast<double>(leftTime) - static_cast<double>(rightTime)) / 1e6;
}

using EntryIndex = std::unordered_map<std::string_view, const SledFileEntry*>;

EntryIndex indexByPath(const std::vector<RelativeFileNode>& nodes) {
    EntryIndex index;
    index.reserve(nodes.size());
    for (const RelativeFileNode& node : nodes) {
        index.try_emplace(node.relativePath, &node.entry);  // the first node of a path counts
    }
    return index;
}

// The order of the plan's rows: localizedStandardCompare, and code-point order between paths that
// it holds equivalent (those differing only in case), so the order is total and never depends on
// the order the nodes came in.
bool planOrder(std::string_view a, std::string_view b) {
    const std::weak_ordering order = localizedStandardCompare(a, b);
    return order != 0 ? order < 0 : a < b;
}

SyncPlanItem row(std::string_view path, SyncActionKind action, const SledFileEntry* left,
                 const SledFileEntry* right, std::int64_t bytes, const char* reason) {
    return SyncPlanItem(std::string(path), action, left ? std::optional(*left) : std::nullopt,
                        right ? std::optional(*right) : std::nullopt, bytes, reason);
}

SyncPlanItem planOnePath(std::string_view path, const SledFileEntry* left, const SledFileEntry* right,
                         SyncDirectionMode mode, bool deleteOrphans) {
    using enum SyncActionKind;
    if (!left) {
        if (mode == SyncDirectionMode::mirrorLeftToRight) {
            return deleteOrphans ? row(path, deleteOnRight, nullptr, right, 0, "Orphan on Right")
                                 : row(path, identicalSkip, nullptr, right, 0, "Kept on Right");
        }
        return row(path, copyRightToLeft, nullptr, right, right->sizeBytes, "Missing on Left");
    }
    if (!right) {
        if (mode == SyncDirectionMode::mirrorRightToLeft) {
            return deleteOrphans ? row(path, deleteOnLeft, left, nullptr, 0, "Orphan on Left")
                                 : row(path, identicalSkip, left, nullptr, 0, "Kept on Left");
        }
        return row(path, copyLeftToRight, left, nullptr, left->sizeBytes, "Missing on Right");
    }
    const bool sameSize = left->sizeBytes == right->sizeBytes;
    const double difference = timeDifference(*left, *right);
    if (sameSize && std::fabs(difference) < 2.0) {
        return row(path, identicalSkip, left, right, 0, "Identical");
    }
    switch (mode) {
    case SyncDirectionMode::mirrorLeftToRight:
        return row(path, copyLeftToRight, left, right, left->sizeBytes, sameSize ? "Newer on Left" : "Size changed");
    case SyncDirectionMode::mirrorRightToLeft:
        return row(path, copyRightToLeft, left, right, right->sizeBytes,
                   sameSize ? "Newer on Right" : "Size changed");
    case SyncDirectionMode::twoWayUpdate:
        break;
    }
    return difference >= 0 ? row(path, copyLeftToRight, left, right, left->sizeBytes, "Newer on Left")
                           : row(path, copyRightToLeft, left, right, right->sizeBytes, "Newer on Right");
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
    const EntryIndex left = indexByPath(leftNodes);
    const EntryIndex right = indexByPath(rightNodes);

    // The union of both sides' paths, each once. Walks deliver their nodes sorted already, so each
    // side is sorted only when it is not, and the two are then merged rather than sorted together.
    std::vector<std::string_view> leftPaths;
    leftPaths.reserve(left.size());
    for (const RelativeFileNode& node : leftNodes) {
        if (left.at(node.relativePath) == &node.entry) {
            leftPaths.push_back(node.relativePath);
        }
    }
    std::vector<std::string_view> rightOnlyPaths;
    for (const RelativeFileNode& node : rightNodes) {
        if (right.at(node.relativePath) == &node.entry && !left.contains(node.relativePath)) {
            rightOnlyPaths.push_back(node.relativePath);
        }
    }
    for (std::vector<std::string_view>* side : {&leftPaths, &rightOnlyPaths}) {
        if (!std::is_sorted(side->begin(), side->end(), planOrder)) {
            std::sort(side->begin(), side->end(), planOrder);
        }
    }
    std::vector<std::string_view> paths;
    paths.reserve(leftPaths.size() + rightOnlyPaths.size());
    std::merge(leftPaths.begin(), leftPaths.end(), rightOnlyPaths.begin(), rightOnlyPaths.end(),
               std::back_inserter(paths), planOrder);

    std::vector<SyncPlanItem> items;
    items.reserve(paths.size());
    for (const std::string_view path : paths) {
        const auto leftEntry = left.find(path);
        const auto rightEntry = right.find(path);
        items.push_back(planOnePath(path, leftEntry == left.end() ? nullptr : leftEntry->second,
                                    rightEntry == right.end() ? nullptr : rightEntry->second, mode, deleteOrphans));
    }
    return items;
}
