#pragma once

#include "SledStorageProvider.h"
#include "VornDate.h"

#include <ctime>
#include <string>
#include <string_view>

// The local file system as a storage provider. Paths are absolute file-system paths (byte strings:
// any name the kernel accepts, valid UTF-8 or not).
//
// Behaviour beyond the common interface:
// - Listing skips names that begin with "." (listDirectoryWithSkipped names them); an entry's type comes from lstat, so a link to a
//   folder lists as a file (marked isSymbolicLink) and is never followed; a socket, pipe or device
//   lists as a file whose permission text is its mode as ls writes it. An item that vanished
//   between reading the folder and asking is left out. An item whose type cannot be read (a folder
//   that can be read but not entered) fails the listing with SledListingError::unreadableEntry,
//   which carries the entries that could be read: a tree that was not fully understood is never
//   passed off as one whose unknown items are empty files.
// - Downloads and uploads are the same local copy. The copy is written to an unnamed file (or,
//   where the file system has none, or a file is being replaced, a hidden temporary sibling) and
//   gets its name only when complete, so a failed copy (no room, a vanished source) leaves nothing
//   half-written and whatever was at the destination untouched. A folder at the destination is never replaced: the
//   copy fails with "An item named '<name>' already exists.". Progress is reported once, at the end.
//   A download also returns the SHA-256 of the source (absent when the source cannot be hashed);
//   an upload given a digest returns the SHA-256 of the copy read back from where it landed.
// - Deletion moves the item to the freedesktop Trash; it never unlinks. A failure to trash throws,
//   and so does an item that is no longer of the kind `isDirectory` says (nothing is trashed).
// - Renaming refuses an existing target (atomically, with RENAME_NOREPLACE) with the same
//   "already exists" message, and across file systems falls back to copy then remove.
// - The stop token is ignored: a started copy runs to its end, so a cancelled caller never leaves a
//   half-written file behind.
class LocalFileProvider final : public SledStorageProvider {
public:
    // The name shown for this computer's disk when the caller has none of its own.
    static constexpr std::string_view defaultDisplayName = "This Computer";

    explicit LocalFileProvider(std::string displayName = std::string(defaultDisplayName));

    std::string displayName() const override;
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override;
    SledListing listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const override;
    SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override;
    SledUploadResult uploadFile(const std::filesystem::path& localURL, const std::string& to,
                    const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                    std::stop_token stop) const override;
    void createDirectory(const std::string& at, std::stop_token stop) const override;
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override;
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override;
    void testConnection(std::stop_token stop) const override;

    // The user text of a rename or copy that would replace an existing item:
    // "An item named '<last path component of target>' already exists."
    static std::string alreadyExistsMessage(const std::filesystem::path& target);

    // A file system time as listings of this disk give it: to the microsecond.
    static VornDate modificationDate(const struct timespec& time);

private:
    // The folder's entries, and with `withHidden` its hidden items as skipped entries.
    static SledListing listing(const std::string& at, bool withHidden);

    std::string displayName_;
};
