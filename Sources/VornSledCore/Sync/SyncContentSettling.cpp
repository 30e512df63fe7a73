#include "SyncContentSettling.h"

#include "DualPaneSyncPlanner.h"
#include "S3R2StorageProvider.h"
#include "VornTaskCancelled.h"

#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// One pair to compare: where each side's digest comes from.
struct Pair {
    SledFileEntry* left = nullptr;
    SledFileEntry* right = nullptr;
    SledContentDigest kind = SledContentDigest::md5;
    std::optional<std::string> leftDigest;   // known from the listing
    std::optional<std::string> rightDigest;  // known from the listing
};

// Not a folder, a link, a socket, a pipe or a device (whose permission text says so, as ls writes
// it): the planner leaves those alone, so nothing of them is read.
bool isPlainFile(const SledFileEntry& entry) {
    const bool special = entry.permissions && !entry.permissions->empty() &&
                         std::string_view("lspcb").find(entry.permissions->front()) != std::string_view::npos;
    return !entry.isDirectory && !entry.isSymbolicLink && !special;
}

// The first node of each path, as the planner counts them.
std::unordered_map<std::string, SledFileEntry*> firstNodes(std::vector<RelativeFileNode>& nodes) {
    std::unordered_map<std::string, SledFileEntry*> byPath;
    byPath.reserve(nodes.size());
    for (RelativeFileNode& node : nodes) {
        byPath.emplace(node.relativePath, &node.entry);
    }
    return byPath;
}

// The digests one side gives of the entries asked for, by path; nothing when it cannot tell.
std::map<std::string, std::string> digestsOf(const SledStorageProvider& provider,
                                             const std::vector<SledFileEntry>& asked, SledContentDigest kind,
                                             const std::stop_token& stop) {
    if (asked.empty()) {
        return {};
    }
    try {
        return provider.contentDigests(asked, kind, stop);
    } catch (const VornTaskCancelled&) {
        throw;
    } catch (const std::exception&) {
        return {};  // compared as listed, by time: the newer side wins as it always did
    }
}

// The pairs whose content must decide, each with the digests its listings already give.
std::vector<Pair> pairsToCompare(std::vector<RelativeFileNode>& left, std::vector<RelativeFileNode>& right) {
    const std::unordered_map<std::string, SledFileEntry*> rightByPath = firstNodes(right);
    std::vector<Pair> pairs;
    std::unordered_set<std::string> seen;
    for (RelativeFileNode& node : left) {
        if (!seen.insert(node.relativePath).second) {
            continue;
        }
        const auto found = rightByPath.find(node.relativePath);
        if (found == rightByPath.end()) {
            continue;
        }
        SledFileEntry& leftEntry = node.entry;
        SledFileEntry& rightEntry = *found->second;
        if (!isPlainFile(leftEntry) || !isPlainFile(rightEntry) || (!leftEntry.eTag && !rightEntry.eTag) ||
            leftEntry.sizeBytes != rightEntry.sizeBytes || DualPaneSyncPlanner::areIdentical(leftEntry, rightEntry)) {
            continue;
        }
        Pair pair{&leftEntry, &rightEntry};
        const std::optional<std::string> leftMD5 =
            leftEntry.eTag ? S3R2StorageProvider::md5OfEntityTag(*leftEntry.eTag) : std::nullopt;
        const std::optional<std::string> rightMD5 =
            rightEntry.eTag ? S3R2StorageProvider::md5OfEntityTag(*rightEntry.eTag) : std::nullopt;
        // An object stored in parts: its tag is no digest of its bytes, only a stored SHA-256 is.
        if ((leftEntry.eTag && !leftMD5) || (rightEntry.eTag && !rightMD5)) {
            pair.kind = SledContentDigest::sha256;
        } else {
            pair.leftDigest = leftMD5;
            pair.rightDigest = rightMD5;
        }
        pairs.push_back(std::move(pair));
    }
    return pairs;
}

}  // namespace

bool SyncContentSettling::needsComparing(std::vector<RelativeFileNode> left, std::vector<RelativeFileNode> right) {
    return !pairsToCompare(left, right).empty();
}

void SyncContentSettling::settle(std::vector<RelativeFileNode>& left, std::vector<RelativeFileNode>& right,
                                 const SledStorageProvider& leftProvider, const SledStorageProvider& rightProvider,
                                 std::stop_token stop) {
    std::vector<Pair> pairs = pairsToCompare(left, right);
    if (pairs.empty()) {
        return;
    }

    // Each side is asked once per kind of digest, for every file whose digest the listing lacks.
    std::vector<SledFileEntry> leftMD5Asked, leftSHA256Asked, rightMD5Asked, rightSHA256Asked;
    for (const Pair& pair : pairs) {
        const bool md5 = pair.kind == SledContentDigest::md5;
        if (!pair.leftDigest) {
            (md5 ? leftMD5Asked : leftSHA256Asked).push_back(*pair.left);
        }
        if (!pair.rightDigest) {
            (md5 ? rightMD5Asked : rightSHA256Asked).push_back(*pair.right);
        }
    }
    const auto leftMD5 = digestsOf(leftProvider, leftMD5Asked, SledContentDigest::md5, stop);
    const auto leftSHA256 = digestsOf(leftProvider, leftSHA256Asked, SledContentDigest::sha256, stop);
    const auto rightMD5 = digestsOf(rightProvider, rightMD5Asked, SledContentDigest::md5, stop);
    const auto rightSHA256 = digestsOf(rightProvider, rightSHA256Asked, SledContentDigest::sha256, stop);

    const auto digest = [](const std::optional<std::string>& listed, const std::map<std::string, std::string>& asked,
                           const SledFileEntry& entry) -> std::optional<std::string> {
        if (listed) {
            return listed;
        }
        const auto found = asked.find(entry.path);
        return found == asked.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    for (Pair& pair : pairs) {
        const bool md5 = pair.kind == SledContentDigest::md5;
        const std::optional<std::string> leftDigest = digest(pair.leftDigest, md5 ? leftMD5 : leftSHA256, *pair.left);
        const std::optional<std::string> rightDigest =
            digest(pair.rightDigest, md5 ? rightMD5 : rightSHA256, *pair.right);
        if (!leftDigest || !rightDigest || *leftDigest != *rightDigest) {
            continue;
        }
        // The object's time is only when it was stored; the other side's is the file's own.
        SledFileEntry& object = pair.right->eTag ? *pair.right : *pair.left;
        const SledFileEntry& counterpart = &object == pair.right ? *pair.left : *pair.right;
        object.modifiedAt = counterpart.modifiedAt;
        object.modifiedAtPrecision = counterpart.modifiedAtPrecision;
    }
}
