#pragma once

#include "SledFileEntry.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

// A folder listing that a walk cannot act on as a whole.
//
// tooLarge: the back end stopped at its limit before the end of the folder (an object store's page
// limit). A provider throws this from listDirectory() instead of returning part of the folder, and
// hands over what it read in entriesRead(), in listing order. A pane that only browses catches it
// and shows those entries; everything that works on a whole tree (a walk for a sync, a copy or a
// rename) lets it end the operation, so no deletion is ever planned from a truncated tree. The
// safe outcome is the default: a caller that does not know about truncation gets an error, never
// a silently shortened list.
//
// incomplete: the back end said the folder goes on but gave no way to read the rest (an object
// store's truncated page without a continuation token, or one leading back to a page already
// read). Handled exactly like tooLarge: entriesRead() holds what was read, a pane may show it, a
// walk fails.
//
// unsafeName: an entry whose name cannot be one component of a relative path ("", ".", "..", or a
// name holding "/" or a NUL byte). The walker raises it rather than build a path that could point
// outside the folder it copies into.
//
// unreadableEntry: an entry whose type could not be read (a folder that can be read but not
// entered names its children and nothing more). A provider throws this from listDirectory() with
// the entries it did understand in entriesRead(); a walk ends with it, so no plan is ever made
// from a tree that was only partly understood, and a browsing pane may show entriesRead().
class SledListingError : public std::exception {
public:
    enum class Kind { tooLarge, incomplete, unsafeName, unreadableEntry };

    static SledListingError tooLarge(std::string folderPath, std::vector<SledFileEntry> entriesRead);
    static SledListingError incomplete(std::string folderPath, std::vector<SledFileEntry> entriesRead);
    static SledListingError unsafeName(std::string folderPath, std::string name);
    static SledListingError unreadableEntry(std::string folderPath, std::string name,
                                            std::vector<SledFileEntry> entriesRead);

    Kind kind() const noexcept { return data_->kind; }
    // The folder whose listing failed, as the provider names it.
    const std::string& folderPath() const noexcept { return data_->folderPath; }
    // unsafeName, unreadableEntry: the offending name; empty otherwise.
    const std::string& name() const noexcept { return data_->name; }
    // tooLarge, incomplete: the entries read before the listing stopped; unreadableEntry: the
    // entries whose type could be read. Sorted as a listing; empty for unsafeName.
    const std::vector<SledFileEntry>& entriesRead() const noexcept { return data_->entriesRead; }
    // True for the kinds that carry part of a folder a pane may still show (tooLarge, incomplete,
    // unreadableEntry).
    bool isPartialListing() const noexcept { return data_->kind != Kind::unsafeName; }

    // The message for the user, in the interface language in force when it is called.
    std::string description() const;
    // The English message, for logs.
    const char* what() const noexcept override { return data_->english.c_str(); }

private:
    struct Data {
        Kind kind;
        std::string folderPath;
        std::string name;
        std::vector<SledFileEntry> entriesRead;
        std::string english;
    };
    explicit SledListingError(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

    // Shared so that copying the exception never allocates or throws.
    std::shared_ptr<const Data> data_;
};
