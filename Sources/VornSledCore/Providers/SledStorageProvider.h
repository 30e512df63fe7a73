#pragma once

#include "SledFileEntry.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// Progress of one download or upload: (bytes done, bytes in total; 0 while the provider does not
// know the total). Providers may call it from any thread, any number of times; it must return
// quickly. An empty function means "no progress wanted".
using SledProgressCallback = std::function<void(std::int64_t done, std::int64_t total)>;

// What a download leaves behind: the size of the file now at the local destination, and the
// lower-case hexadecimal SHA-256 of the file as the source side knows it (absent when the provider
// cannot tell; the transfer engine then relies on its own hash of the downloaded file).
struct SledDownloadResult {
    std::int64_t bytes = 0;
    std::optional<std::string> remoteSHA256;
};

// What an upload learnt about the bytes that landed: their SHA-256 (lower-case hexadecimal) as the
// back end computed it of the bytes it received (and checked before accepting them), or as this
// computer read them back from where they landed. Absent when the back end cannot hash, was given
// no digest to check, or gave nothing; the transfer engine then reports the copy as completed but
// not verified.
struct SledUploadResult {
    std::optional<std::string> storedSHA256;
};

// An entry a listing or a walk left out, with why. `path` is the provider's path of it, `reason`
// the user text.
struct SledSkippedEntry {
    enum class Why {
        // Its name cannot be one component of a path (empty, "." or "..", holding "/" or a NUL
        // byte): S3 keys may hold such pieces, and a server that ignores the delimiter can list a
        // name holding "/".
        unusableName,
        symbolicLink,  // a link inside a folder, which a copy of the folder does not follow
        hidden,        // a name beginning with "." on a back end whose listings leave such names out
        tooDeep,       // a folder below the depth a walk enters
    };
    std::string name;
    std::string path;
    bool isDirectory = false;
    std::string reason;
    Why why = Why::unusableName;
};

// The reason given for a hidden item a listing leaves out.
std::string sledHiddenItemReason();

// A listing with the entries it left out.
struct SledListing {
    std::vector<SledFileEntry> entries;
    std::vector<SledSkippedEntry> skipped;
};

// One storage back end (this computer's disk, an SFTP server, an S3/R2 bucket) seen as a tree of
// text paths. The transfer engine, the walker and the preview reach storage only through this
// interface.
//
// Implementations are small values without shared mutable state: any number of calls may run at
// once, from any thread, on one provider. Callers hold them through a type-erased holder
// (std::shared_ptr<SledStorageProvider>) and do not keep them beyond the operation at hand.
//
// Every operation but displayName() blocks until it is done and reports failure by throwing:
// a SledError, or the platform's own error (std::filesystem::filesystem_error, std::system_error)
// passed on unchanged. Operations take the caller's std::stop_token; a provider that stops because
// the caller asked throws VornTaskCancelled (never SledError::cancelled, which a provider may raise
// for a cancellation of its own). A provider may also ignore the token and run the call to its end.
class SledStorageProvider {
public:
    virtual ~SledStorageProvider() = default;

    // The name shown for the back end.
    virtual std::string displayName() const = 0;

    // The direct children of the folder at `at`, one level only, in listing order (folders first,
    // then names by localizedStandardLess, stable: see sortListing). Each entry's path can be passed
    // back unchanged to this provider's operations.
    virtual std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const = 0;

    // The same listing with the entries it left out, for a walk that must not lose them silently:
    // on a back end that hides names beginning with "." (this computer's disk, SFTP), each such
    // item is there with Why::hidden. The default leaves nothing out.
    virtual SledListing listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const;

    // Leaves the whole file at `remotePath` at the local path `to`, creating missing parent folders
    // and replacing a file already there.
    virtual SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                            const SledProgressCallback& onProgress, std::stop_token stop) const = 0;

    // Stores the local file `localURL` at the path `to`. `sha256Hex`, when present, is the caller's
    // lower-case hexadecimal SHA-256 of the local file; a provider may store it or check the stored
    // copy against it, and returns the digest of the stored bytes when the back end computed one
    // (never `sha256Hex` merely handed back unchecked).
    virtual SledUploadResult uploadFile(const std::filesystem::path& localURL, const std::string& to,
                            const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                            std::stop_token stop) const = 0;

    // uploadFile into the folder `insideFolder` the user chose (empty: no such folder): a back end
    // with symbolic links checks, just before the copy takes its final name, that no folder from
    // there down to `to` is a link. The default is uploadFile.
    virtual SledUploadResult uploadFileInside(const std::filesystem::path& localURL, const std::string& to,
                                              const std::string& insideFolder,
                                              const std::optional<std::string>& sha256Hex,
                                              const SledProgressCallback& onProgress, std::stop_token stop) const;

    // uploadFileInside for a caller still hashing the file while it goes up: `sha256Hex` gives the
    // digest (or nothing) when called, waiting for it if need be, and is called at most once. A back
    // end that needs the digest before the first byte (a signed request) asks at once, which is the
    // default; one that checks the stored copy asks only once the bytes are up, so the hash and the
    // send overlap.
    virtual SledUploadResult uploadFileInsideHashing(const std::filesystem::path& localURL, const std::string& to,
                                                     const std::string& insideFolder,
                                                     const std::function<std::optional<std::string>()>& sha256Hex,
                                                     const SledProgressCallback& onProgress,
                                                     std::stop_token stop) const;

    // Why this back end can never store a file at `path` (`writing`), or give one from there — a
    // path longer than its tools carry, a name it cannot hold — in the user's words; nothing when
    // nothing stands in the way before trying. Sends nothing: a batch asks before it makes any
    // folder for the file. The default knows no such reason.
    virtual std::optional<std::string> pathOutOfReach(const std::string& path, bool writing) const;

    // Creates the folder at `at` with its missing parents; an existing folder is no error.
    virtual void createDirectory(const std::string& at, std::stop_token stop) const = 0;

    // Removes the item at `at`. `isDirectory` says what kind of item the path names, for back ends
    // that need to know.
    virtual void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const = 0;

    // Renames or moves the item at `from` to `to`.
    virtual void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                            std::stop_token stop) const = 0;

    // A cheap check that the back end is reachable and the credentials work; returns on success.
    virtual void testConnection(std::stop_token stop) const = 0;

    // The listing order every provider returns: folders before files, and within each group by name
    // under localizedStandardLess. Stable: entries that compare equal keep the order they came in.
    static void sortListing(std::vector<SledFileEntry>& entries);

protected:
    SledStorageProvider() = default;
    SledStorageProvider(const SledStorageProvider&) = default;
    SledStorageProvider& operator=(const SledStorageProvider&) = default;
    SledStorageProvider(SledStorageProvider&&) = default;
    SledStorageProvider& operator=(SledStorageProvider&&) = default;
};
