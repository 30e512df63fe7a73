#include "RecursiveDirectoryWalker.h"

#include "SledListingError.h"
#include "SledPathInside.h"
#include "SyncExclusionPatterns.h"
#include "VornLocalizationStore.h"
#include "VornLocalizedCompare.h"
#include "VornTaskCancelled.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>

namespace {

std::string unsafeNameReason(const std::string& name) {
    return vornText("The name '" + name + "' is not a single file name; it is left out.",
                    "'" + name + "' adı tek bir dosya adı değil; atlandı.");
}

std::string linkReason(const std::string& name) {
    return vornText("'" + name + "' is a symbolic link; links inside a folder are not followed.",
                    "'" + name + "' sembolik bir bağlantı; klasör içindeki bağlantılar izlenmez.");
}

std::string tooDeepReason(int maxDepth) {
    const std::string levels = std::to_string(maxDepth);
    return vornText("More than " + levels + " folder levels deep; not copied",
                    levels + " klasör düzeyinden daha derinde; kopyalanmadı");
}

struct Walk {
    const SledStorageProvider& provider;
    const SyncExclusionPatterns& patterns;
    int maxDepth;
    std::stop_token stop;
    bool skipLinks;
    bool leaveOutHidden;
    bool reportTooDeep;
    RecursiveDirectoryWalker::Collected& found;

    static std::string joined(const std::string& prefix, const std::string& name) {
        return prefix.empty() ? name : prefix + "/" + name;
    }

    std::string reason(SledSkippedEntry::Why why, const std::string& name) const {
        switch (why) {
        case SledSkippedEntry::Why::unusableName: return unsafeNameReason(name);
        case SledSkippedEntry::Why::symbolicLink: return linkReason(name);
        case SledSkippedEntry::Why::hidden: return sledHiddenItemReason();
        case SledSkippedEntry::Why::tooDeep: return tooDeepReason(maxDepth);
        }
        return {};
    }

    void folder(const std::string& currentPath, const std::string& relativePrefix, int depth) {
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        if (depth > maxDepth) {
            return;
        }
        SledListing listing = provider.listDirectoryWithSkipped(currentPath, stop);
        for (SledSkippedEntry& skipped : listing.skipped) {
            if (!patterns.excludes(skipped.name)) {
                std::string relativePath = joined(relativePrefix, skipped.name);
                found.skipped.push_back(SkippedFileNode{std::move(relativePath), std::move(skipped)});
            }
        }
        for (SledFileEntry& entry : listing.entries) {
            if (patterns.excludes(entry.name)) {
                continue;
            }
            std::string relativePath = joined(relativePrefix, entry.name);
            std::optional<SledSkippedEntry::Why> why;
            if (!sledIsOneComponent(entry.name)) {
                why = SledSkippedEntry::Why::unusableName;
            } else if (leaveOutHidden && entry.name.starts_with('.')) {
                why = SledSkippedEntry::Why::hidden;
            } else if (skipLinks && entry.isSymbolicLink) {
                why = SledSkippedEntry::Why::symbolicLink;
            } else if (reportTooDeep && entry.isDirectory && depth + 1 > maxDepth) {
                why = SledSkippedEntry::Why::tooDeep;
            }
            if (why) {
                found.skipped.push_back(SkippedFileNode{
                    std::move(relativePath),
                    SledSkippedEntry{entry.name, entry.path, entry.isDirectory, reason(*why, entry.name), *why}});
                continue;
            }
            if (entry.isDirectory) {
                folder(entry.path, relativePath, depth + 1);
            } else {
                found.files.push_back(RelativeFileNode{std::move(relativePath), std::move(entry)});
            }
        }
    }
};

}  // namespace

std::vector<RelativeFileNode> RecursiveDirectoryWalker::collectFiles(const std::string& in,
                                                                     const SledStorageProvider& provider,
                                                                     const std::vector<std::string>& excludedPatterns,
                                                                     int maxDepth, std::stop_token stop) {
    Collected collected = walkTree(in, provider, excludedPatterns, maxDepth, std::move(stop), false, false, false);
    // All or nothing: a caller that cannot report what was left out gets no part of the tree. What
    // this walk is asked to leave out (hidden items where the back end hides them) is no loss.
    const auto unusable = std::find_if(collected.skipped.begin(), collected.skipped.end(), [](const SkippedFileNode& node) {
        return node.entry.why == SledSkippedEntry::Why::unusableName;
    });
    if (unusable != collected.skipped.end()) {
        const SkippedFileNode& first = *unusable;
        const std::size_t slash = first.relativePath.size() - first.entry.name.size();
        const std::string folder = slash == 0 ? in : Walk::joined(in, first.relativePath.substr(0, slash - 1));
        throw SledListingError::unsafeName(folder, first.entry.name);
    }
    return std::move(collected.files);
}

RecursiveDirectoryWalker::Collected RecursiveDirectoryWalker::collectFilesAndSkipped(
    const std::string& in, const SledStorageProvider& provider, const std::vector<std::string>& excludedPatterns,
    int maxDepth, std::stop_token stop, bool skipLinks, bool leaveOutHidden) {
    return walkTree(in, provider, excludedPatterns, maxDepth, std::move(stop), skipLinks, leaveOutHidden, true);
}

RecursiveDirectoryWalker::Collected RecursiveDirectoryWalker::walkTree(
    const std::string& in, const SledStorageProvider& provider, const std::vector<std::string>& excludedPatterns,
    int maxDepth, std::stop_token stop, bool skipLinks, bool leaveOutHidden, bool reportTooDeep) {
    if (maxDepth < 0) {
        throw std::invalid_argument("the depth limit of a walk must not be negative");
    }
    const SyncExclusionPatterns patterns(excludedPatterns);
    Collected collected;
    Walk{provider, patterns, maxDepth, std::move(stop), skipLinks, leaveOutHidden, reportTooDeep, collected}.folder(
        in, "", 0);
    std::vector<RelativeFileNode>& files = collected.files;
    const auto less = [](const RelativeFileNode& a, const RelativeFileNode& b) {
        return localizedStandardLess(a.relativePath, b.relativePath);
    };
    // Sorted listings walked depth first mostly come out in order already; checking costs one
    // pass, whereas the stable sort would take a buffer of half the nodes besides them.
    if (!std::is_sorted(files.begin(), files.end(), less)) {
        std::stable_sort(files.begin(), files.end(), less);
    }
    return collected;
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
