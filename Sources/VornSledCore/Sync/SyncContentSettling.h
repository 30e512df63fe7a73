#pragma once

#include "RelativeFileNode.h"
#include "SledStorageProvider.h"

#include <stop_token>
#include <vector>

// An object store gives each object the time it was stored, not the time of the file it came
// from, so after a copy the two sides of a sync keep different times for the same bytes and the
// planner (size and time) would copy them again on every run. This settles such pairs before
// planning, asking as little as it can.
struct SyncContentSettling {
    SyncContentSettling() = delete;

    // For each relative path that is a file on both sides, where at least one side is an object
    // (its entry has an entity tag), the sizes are equal and the planner would not call the two
    // identical: whether the bytes are the same. An entity tag that is an MD5 (an object stored
    // in one PUT) is compared with the MD5 of the other side's bytes, taken where they are
    // (contentDigests); a tag of an object stored in parts is no digest, so then the SHA-256 each
    // side knows of its bytes is compared (for an object, the one stored with it). Where they are
    // the same, the object's entry takes its counterpart's time (when both are objects, the right
    // one takes the left one's), so the planner finds the two identical; otherwise, and wherever a
    // side cannot tell, both stay as listed. A path a side holds twice counts with its first node,
    // as in the planner. Links are left alone. Only cancellation passes on.
    // Whether settle() would compare any pair of these (without asking anything).
    static bool needsComparing(std::vector<RelativeFileNode> left, std::vector<RelativeFileNode> right);

    static void settle(std::vector<RelativeFileNode>& left, std::vector<RelativeFileNode>& right,
                       const SledStorageProvider& leftProvider, const SledStorageProvider& rightProvider,
                       std::stop_token stop);
};
