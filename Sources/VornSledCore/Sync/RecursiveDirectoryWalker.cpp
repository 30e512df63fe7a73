#include "RecursiveDirectoryWalker.h"

#include "SledListingError.h"
#include "SyncExclusionPatterns.h"
#include "VornLocalizedCompare.h"
#include "VornTaskCancelled.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string_view>

namespace {

// A name that can stand as one component of a relative path without escaping the folder it is
// joined to or splitting into two components.
bool isSafeComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

struct Walk {
    const SledStorageProvider& provider;
    const SyncExclusionPatterns& patterns;
    int maxDepth;
    std::stop_token stop;
    std::vector<RelativeFileNode>& nodes;

    void folder(const std::string& currentPath, const std::string& relativePrefix, int depth) {
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        if (depth > maxDepth) {
            return;
        }
        for (SledFileEntry& entry : provider.listDirectory(currentPath, stop)) {
            if (patterns.excludes(entry.name)) {
                continue;
            }
            if (!isSafeComponent(entry.name)) {
                throw SledListingError::unsafeName(currentPath, entry.name);
            }
            std::string relativePath = relativePrefix.empty() ? entry.name : relativePrefix + "/" + entry.name;
            if (entry.isDirectory) {
                folder(entry.path, relativePath, depth + 1);
            } else {
                nodes.push_back(RelativeFileNode{std::move(relativePath), std::move(entry)});
            }
        }
    }
};

}  // namespace

std::vector<RelativeFileNode> RecursiveDirectoryWalker::collectFiles(const std::string& in,
                                                                     const SledStorageProvider& provider,
                                                                     const std::vector<std::string>& excludedPatterns,
                                                                     int maxDepth, std::stop_token stop) {
    if (maxDepth < 0) {
        throw std::invalid_argument("the depth limit of a walk must not be negative");
    }
    const SyncExclusionPatterns patterns(excludedPatterns);
    std::vector<RelativeFileNode> nodes;
    Walk{provider, patterns, maxDepth, std::move(stop), nodes}.folder(in, "", 0);
    const auto less = [](const RelativeFileNode& a, const RelativeFileNode& b) {
        return localizedStandardLess(a.relativePath, b.relativePath);
    };
    // Sorted listings walked depth first mostly come out in order already; checking costs one
    // pass, whereas the stable sort would take a buffer of half the nodes besides them.
    if (!std::is_sorted(nodes.begin(), nodes.end(), less)) {
        std::stable_sort(nodes.begin(), nodes.end(), less);
    }
    return nodes;
}

std::vector<std::string> RecursiveDirectoryWalker::requiredParentDirectories(
    const std::vector<std::string>& relativePaths) {
    std::set<std::string> folders;
    std::vector<std::string_view> components;
    for (const std::string& path : relativePaths) {
        components.clear();
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t slash = std::min(path.find('/', start), path.size());
            if (slash > start) {
                components.emplace_back(path.data() + start, slash - start);
            }
            start = slash + 1;
        }
        // Every component but the last names a folder on the way to the file.
        std::string prefix;
        for (std::size_t index = 0; index + 1 < components.size(); ++index) {
            if (index > 0) {
                prefix += '/';
            }
            prefix += components[index];
            folders.insert(prefix);
        }
    }
    std::vector<std::string> sorted(folders.begin(), folders.end());
    // The set already gives code-point order; a stable sort by depth keeps it within each depth.
    std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '/') < std::count(b.begin(), b.end(), '/');
    });
    return sorted;
}
