#pragma once

#include "VornUserDefaults.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// Places the user picked, kept across launches in the user defaults: one JSON object under
// `storageKey`, keyed by the lexically normal absolute path, each value a record of that path
// with the device and inode it named when it was saved. Linux has no sandbox to ask for access,
// so a bookmark's job is to notice when the path no longer names the same file: a file that was
// replaced, or a folder that was deleted and made anew, no longer resolves.
//
// Any thread may call a store; one mutex covers each read-modify-write of the record object.
// Two stores on the same key and defaults do not coordinate with each other.
class VornSecurityBookmarkStore {
public:
    VornSecurityBookmarkStore(std::string storageKey, VornUserDefaults& defaults);

    // Records what `url` names now (symbolic links followed). A relative path is taken from the
    // current folder. Throws std::filesystem::filesystem_error when the file cannot be examined or
    // its path is not UTF-8 (the defaults file holds JSON text); nothing is stored then.
    void saveBookmark(const std::filesystem::path& url);

    // The saved paths that still name the file they named when saved, sorted by path. Entries
    // that no longer do stay stored: the file may come back (a remounted disk).
    std::vector<std::filesystem::path> resolveAllBookmarks() const;

    // Removes the entry stored under exactly `forPath` (the form saveBookmark stored) and writes
    // the object back, also when there was nothing to remove.
    void removeBookmark(std::string_view forPath);

    // Runs `body` and returns its result; its exceptions reach the caller. Linux grants access by
    // permissions alone, so there is no access to start or stop around it.
    template <class Body>
    auto withScopedAccess(const std::filesystem::path& url, Body&& body) -> std::invoke_result_t<Body&&> {
        (void)url;
        return std::forward<Body>(body)();
    }

    // The key a path is stored under: absolute, dot and dot-dot segments resolved lexically, no
    // trailing separator.
    static std::string standardizedPath(const std::filesystem::path& url);

    const std::string& storageKey() const { return storageKey_; }

private:
    std::string storageKey_;
    VornUserDefaults& defaults_;
    mutable std::mutex mutex_;
};
