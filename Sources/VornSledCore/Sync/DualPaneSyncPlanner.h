#pragma once

#include "RecursiveDirectoryWalker.h"
#include "RelativeFileNode.h"
#include "SledFileEntry.h"
#include "SyncPlanItem.h"

#include <string>
#include <string_view>
#include <vector>

// Decides, file by file, what a sync between the two panes must do: copy one way, delete on one
// side, or leave the file alone, each with a short reason. It only plans: it touches no file and
// calls no provider. Pure functions, safe on any thread.
//
// Two files are identical when their sizes are equal and their modification times differ by less
// than 2 seconds, a missing time counting as the first day of year 1. Times are compared at the
// coarser precision of the two sides (SledFileEntry::modifiedAtPrecision): a time listed to the
// minute or the day is matched with the other side's time cut down to that unit.
struct DualPaneSyncPlanner {
    DualPaneSyncPlanner() = delete;

    // True when one of `patterns` excludes `name` (the rule of SyncExclusionPatterns).
    static bool shouldExclude(std::string_view name, const std::vector<std::string>& patterns);

    // The plan for one folder level: the files of both listings that no pattern excludes (folders
    // are dropped), each keyed by its name, planned as planRecursive does.
    static std::vector<SyncPlanItem> plan(const std::vector<SledFileEntry>& leftEntries,
                                          const std::vector<SledFileEntry>& rightEntries, SyncDirectionMode mode,
                                          bool deleteOrphans, const std::vector<std::string>& excludedPatterns);

    // One row per distinct relative path of either side, sorted by localizedStandardLess (names
    // equal under it in code-point order). No pattern is applied here: the walks already did.
    //
    // Mirror modes: the source side wins every difference, whichever copy is newer; a file only on
    // the target side is kept ("Kept on …") or, with `deleteOrphans`, deleted ("Orphan on …").
    // twoWayUpdate: nothing is deleted, a file on one side only is copied to the other, and a
    // difference goes to the side with the later time (left on a tie).
    //
    // Should one side hold a relative path twice, its first node counts and the later ones are
    // ignored, so the plan still has one row per path.
    //
    // Three guards override the table. A path that is a symbolic link on either side (an entry with
    // isSymbolicLink, or a permission text starting with "l"), or that lies beneath one, becomes
    // identicalSkip with the reason "Symbolic link, left alone": nothing is written through a
    // link, replaced over one, or deleted because a link hid the real files. A socket, pipe or
    // device on either side (a permission text starting with "s", "p", "c" or "b", as ls writes
    // it) becomes identicalSkip with "Not a regular file, left alone". And no deletion is
    // planned for a path that equals, after case folding and NFC (ICU root locale), a path the
    // same plan copies onto that side: it becomes identicalSkip with "Same name as a file copied
    // here", since on a case-insensitive or normalising disk both name one file.
    static std::vector<SyncPlanItem> planRecursive(const std::vector<RelativeFileNode>& leftNodes,
                                                   const std::vector<RelativeFileNode>& rightNodes,
                                                   SyncDirectionMode mode, bool deleteOrphans);
    // The same plan from nodes the caller no longer needs: they are used up while the rows are
    // made, so a large plan's peak memory holds each name and path about once.
    static std::vector<SyncPlanItem> planRecursive(std::vector<RelativeFileNode>&& leftNodes,
                                                   std::vector<RelativeFileNode>&& rightNodes,
                                                   SyncDirectionMode mode, bool deleteOrphans);

    // The same plan with what the walks left out (see addSkipped). The nodes are used up as in the
    // overload above; pass copies to keep them.
    static std::vector<SyncPlanItem> planRecursive(std::vector<RelativeFileNode> leftNodes,
                                                   std::vector<RelativeFileNode> rightNodes,
                                                   SyncDirectionMode mode, bool deleteOrphans,
                                                   const std::vector<SkippedFileNode>& leftSkipped,
                                                   const std::vector<SkippedFileNode>& rightSkipped);

    // Puts what the walks or listings left out into `plan` (names that cannot be one path
    // component, hidden items, folders too deep): each skipped path is a row of its own,
    // identicalSkip with its reason (one row with both entries when both sides left it out), and
    // any row at its path or below it becomes identicalSkip with that reason too, on either side.
    // So nothing is copied over, or deleted as an orphan beside, an item the plan could not
    // compare. The rows stay sorted.
    static void addSkipped(std::vector<SyncPlanItem>& plan, const std::vector<SkippedFileNode>& leftSkipped,
                           const std::vector<SkippedFileNode>& rightSkipped);
};
