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
// unsafeName: an entry whose name cannot be one component of a relative path ("", ".", "..", or a
// name holding "/" or a NUL byte). The walker raises it rather than build a path that could point
// outside the folder it copies into.
class SledListingError : public std::exception {
public:
    enum class Kind { tooLarge, unsafeName };

    static SledListingError tooLarge(std::string folderPath, std::vector<SledFileEntry> entriesRead);
    static SledListingError unsafeName(std::string folderPath, std::string name);

    Kind kind() const noexcept { return data_->kind; }
    // The folder whose listing failed, as the provider names it.
    const std::string& folderPath() const noexcept { return data_->folderPath; }
    // unsafeName: the offending name; empty for tooLarge.
    const std::string& name() const noexcept { return data_->name; }
    // tooLarge: the entries read before the limit, sorted as a listing; empty for unsafeName.
    const std::vector<SledFileEntry>& entriesRead() const noexcept { return data_->entriesRead; }

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
