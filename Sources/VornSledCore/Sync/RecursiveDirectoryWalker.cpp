#include "RecursiveDirectoryWalker.h"

#include "SledListingError.h"
#include "SledPathInside.h"
#include "SyncExclusionPatterns.h"
#include "VornLocalizationStore.h"
#include "VornLocalizedCompare.h"
#include "VornTaskCancelled.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

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

std::string joined(const std::string& prefix, const std::string& name) {
    return prefix.empty() ? name : prefix + "/" + name;
}

// Where an item comes in a walk that lists one folder at a time, depth first: the position of each
// entry on the way in its folder's listing (the entries it left out first, then the listed ones).
// Keys compare as that walk meets the items, a folder before everything below it.
using WalkOrder = std::vector<std::uint32_t>;

WalkOrder below(const WalkOrder& folder, std::size_t position) {
    WalkOrder order;
    order.reserve(folder.size() + 1);
    order = folder;
    order.push_back(static_cast<std::uint32_t>(position));
    return order;
}

struct PendingFolder {
    std::string path;
    std::string relativePrefix;
    int depth = 0;
};

// One walk, with up to listingsAtOnce folder listings in flight. Every listed folder's files and
// skipped entries are kept, with the subfolders still to list; what comes out is what the walk
// one folder at a time would give: the same files (sorted afterwards), the skipped entries in
// its order, and the error it would meet first. A folder that comes after a failed one in that
// order is not listed (or its listing is stopped); one before it still is, since it might fail
// first.
class Walk {
public:
    Walk(const SledStorageProvider& provider, const SyncExclusionPatterns& patterns, int maxDepth,
         std::stop_token stop, bool skipLinks, bool leaveOutHidden, bool reportTooDeep)
        : provider_(provider), patterns_(patterns), maxDepth_(maxDepth), stop_(std::move(stop)), skipLinks_(skipLinks),
          leaveOutHidden_(leaveOutHidden), reportTooDeep_(reportTooDeep) {}

    RecursiveDirectoryWalker::Collected run(const std::string& root) {
        if (stop_.stop_requested()) {
            throw VornTaskCancelled();
        }
        pending_.emplace(WalkOrder{}, PendingFolder{root, "", 0});
        {
            // A stop request ends the listings in flight and starts no more.
            const std::stop_callback onStop(stop_, [this] {
                std::lock_guard guard(lock_);
                cancelled_ = true;
                for (auto& [order, listing] : running_) {
                    listing->request_stop();
                }
                changed_.notify_all();
            });
            std::vector<std::jthread> helpers;
            for (int helper = 1; helper < RecursiveDirectoryWalker::listingsAtOnce; ++helper) {
                helpers.emplace_back([this] { work(); });
            }
            work();
        }  // every listing has ended here
        if (cancelled_) {
            throw VornTaskCancelled();
        }
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        std::sort(skipped_.begin(), skipped_.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        RecursiveDirectoryWalker::Collected collected;
        collected.files = std::move(files_);
        collected.skipped.reserve(skipped_.size());
        for (auto& [order, node] : skipped_) {
            collected.skipped.push_back(std::move(node));
        }
        return collected;
    }

private:
    std::string reason(SledSkippedEntry::Why why, const std::string& name) const {
        switch (why) {
        case SledSkippedEntry::Why::unusableName: return unsafeNameReason(name);
        case SledSkippedEntry::Why::symbolicLink: return linkReason(name);
        case SledSkippedEntry::Why::hidden: return sledHiddenItemReason();
        case SledSkippedEntry::Why::tooDeep: return tooDeepReason(maxDepth_);
        }
        return {};
    }

    // Whether a folder at `order` may still be listed: nothing failed before it in walk order.
    bool wanted(const WalkOrder& order) const { return !failedAt_ || order < *failedAt_; }

    void work() {
        std::unique_lock guard(lock_);
        for (;;) {
            changed_.wait(guard, [this] {
                return cancelled_ || (!pending_.empty() && wanted(pending_.begin()->first)) || running_.empty();
            });
            if (cancelled_ || pending_.empty() || !wanted(pending_.begin()->first)) {
                // Nothing left that this walk needs, and nothing running that could add to it.
                if (cancelled_ || running_.empty()) {
                    changed_.notify_all();
                    return;
                }
                continue;
            }
            auto next = pending_.extract(pending_.begin());
            const WalkOrder order = std::move(next.key());
            const PendingFolder folder = std::move(next.mapped());
            std::stop_source own;
            running_.emplace(order, &own);
            guard.unlock();
            std::optional<SledListing> listing;
            std::exception_ptr error;
            try {
                listing = provider_.listDirectoryWithSkipped(folder.path, own.get_token());
            } catch (...) {
                error = std::current_exception();
            }
            guard.lock();
            running_.erase(order);
            if (!cancelled_ && wanted(order)) {
                if (error) {
                    fail(order, error);
                } else {
                    try {
                        take(order, folder, std::move(*listing));
                    } catch (...) {
                        fail(order, std::current_exception());
                    }
                }
            }
            changed_.notify_all();
        }
    }

    // Called with the lock held.
    void fail(const WalkOrder& order, std::exception_ptr error) {
        failedAt_ = order;
        failure_ = std::move(error);
        for (auto& [runningOrder, listing] : running_) {
            if (!wanted(runningOrder)) {
                listing->request_stop();
            }
        }
        // Folders after it in walk order are never listed now.
        pending_.erase(pending_.lower_bound(order), pending_.end());
    }

    // Sorts one folder's listing into files, skipped entries and folders still to list. Called
    // with the lock held.
    void take(const WalkOrder& order, const PendingFolder& folder, SledListing&& listing) {
        std::size_t position = 0;
        for (SledSkippedEntry& skipped : listing.skipped) {
            const std::size_t at = position++;
            if (!patterns_.excludes(skipped.name)) {
                std::string relativePath = joined(folder.relativePrefix, skipped.name);
                skipped_.emplace_back(below(order, at), SkippedFileNode{std::move(relativePath), std::move(skipped)});
            }
        }
        for (SledFileEntry& entry : listing.entries) {
            const std::size_t at = position++;
            if (patterns_.excludes(entry.name)) {
                continue;
            }
            std::string relativePath = joined(folder.relativePrefix, entry.name);
            std::optional<SledSkippedEntry::Why> why;
            if (!sledIsOneComponent(entry.name)) {
                why = SledSkippedEntry::Why::unusableName;
            } else if (leaveOutHidden_ && entry.name.starts_with('.')) {
                why = SledSkippedEntry::Why::hidden;
            } else if (skipLinks_ && entry.isSymbolicLink) {
                why = SledSkippedEntry::Why::symbolicLink;
            } else if (reportTooDeep_ && entry.isDirectory && folder.depth + 1 > maxDepth_) {
                why = SledSkippedEntry::Why::tooDeep;
            }
            if (why) {
                skipped_.emplace_back(below(order, at),
                                      SkippedFileNode{std::move(relativePath),
                                                      SledSkippedEntry{entry.name, entry.path, entry.isDirectory,
                                                                       reason(*why, entry.name), *why}});
                continue;
            }
            if (entry.isDirectory) {
                if (folder.depth + 1 <= maxDepth_ && wanted(below(order, at))) {
                    pending_.emplace(below(order, at), PendingFolder{entry.path, std::move(relativePath), folder.depth + 1});
                }
            } else {
                files_.push_back(RelativeFileNode{std::move(relativePath), std::move(entry)});
            }
        }
    }

    const SledStorageProvider& provider_;
    const SyncExclusionPatterns& patterns_;
    const int maxDepth_;
    const std::stop_token stop_;
    const bool skipLinks_;
    const bool leaveOutHidden_;
    const bool reportTooDeep_;

    std::mutex lock_;
    std::condition_variable changed_;
    // Folders still to list, first in walk order first, so that the walk keeps close to the order
    // of one listing at a time and an early failure is met early.
    std::map<WalkOrder, PendingFolder> pending_;
    std::map<WalkOrder, std::stop_source*> running_;
    bool cancelled_ = false;
    std::optional<WalkOrder> failedAt_;
    std::exception_ptr failure_;
    std::vector<RelativeFileNode> files_;
    std::vector<std::pair<WalkOrder, SkippedFileNode>> skipped_;
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
        const std::string folder = slash == 0 ? in : joined(in, first.relativePath.substr(0, slash - 1));
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
    Collected collected =
        Walk(provider, patterns, maxDepth, std::move(stop), skipLinks, leaveOutHidden, reportTooDeep).run(in);
    std::vector<RelativeFileNode>& files = collected.files;
    const auto less = [](const RelativeFileNode& a, const RelativeFileNode& b) {
        return localizedStandardLess(a.relativePath, b.relativePath);
    };
    // Listings that came in one after another mostly leave the files in order already; checking
    // costs one pass, whereas the stable sort would take a buffer of half the nodes besides them.
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
