#pragma once

#include "RelativeFileNode.h"
#include "SledStorageProvider.h"

#include <stop_token>
#include <string>
#include <vector>

// An entry a walk left out rather than follow or copy: its place below the walked folder (the
// folders on the way, then its name as listed, joined by "/"), its listing entry and the reason.
struct SkippedFileNode {
    std::string relativePath;
    SledSkippedEntry entry;
};

// Turns a folder on any storage provider into a flat list of every file below it, and works out
// which folders a destination needs before such a list can be copied into it. Stateless.
struct RecursiveDirectoryWalker {
    RecursiveDirectoryWalker() = delete;

    // Every file below the folder `in`, each with its path relative to `in`, sorted by relative
    // path under localizedStandardLess (stable). Depth first, one listing per folder visited: the
    // root is depth 0 and folders down to depth `maxDepth` are listed, deeper ones not
    // (with 0 only the root's own files are found). A name matched by `excludedPatterns` (see
    // SyncExclusionPatterns) is skipped, and an excluded folder is not entered. Empty folders leave
    // no trace.
    //
    // All or nothing: the first failing listing ends the walk with its error, unchanged (a
    // SledListingError::tooLarge among them, so a truncated folder never passes for a whole one).
    // An entry whose name cannot be a path component fails it with SledListingError::unsafeName.
    // Hidden items a back end leaves out of its listings stay out.
    // A stop request is noticed before each listing and throws VornTaskCancelled. A negative
    // `maxDepth` is refused with std::invalid_argument.
    static std::vector<RelativeFileNode> collectFiles(const std::string& in, const SledStorageProvider& provider,
                                                      const std::vector<std::string>& excludedPatterns,
                                                      int maxDepth, std::stop_token stop);

    // What a walk found and what it left out.
    struct Collected {
        std::vector<RelativeFileNode> files;
        std::vector<SkippedFileNode> skipped;  // in the order met
    };

    // The same walk, but what it leaves out is reported, each entry with its reason, so that no
    // caller loses part of the tree in silence: an entry whose name is not exactly one path
    // component, in the listing or left out of it by the provider (instead of failing the walk);
    // a hidden item the provider leaves out of its listings (see
    // SledStorageProvider::listDirectoryWithSkipped), and with `leaveOutHidden` every listed name
    // beginning with "." too, a folder not entered; with `skipLinks` a symbolic link, which a copy
    // of the folder must not follow out of it; and each folder below `maxDepth`, not entered. An
    // excluded name is not reported. Listing failures still end the walk.
    static Collected collectFilesAndSkipped(const std::string& in, const SledStorageProvider& provider,
                                            const std::vector<std::string>& excludedPatterns, int maxDepth,
                                            std::stop_token stop, bool skipLinks = false,
                                            bool leaveOutHidden = false);

    // Every folder that must exist before files at these relative paths can be created, each once,
    // parents before children: fewer "/" first, then plain code-point order. Empty components are
    // ignored ("a//b/c.txt" needs "a" and "a/b"); a path of one name needs nothing.
    static std::vector<std::string> requiredParentDirectories(const std::vector<std::string>& relativePaths);

private:
    // The walk both share; `reportTooDeep` names the folders below `maxDepth` instead of leaving
    // them out in silence.
    static Collected walkTree(const std::string& in, const SledStorageProvider& provider,
                              const std::vector<std::string>& excludedPatterns, int maxDepth, std::stop_token stop,
                              bool skipLinks, bool leaveOutHidden, bool reportTooDeep);
};
