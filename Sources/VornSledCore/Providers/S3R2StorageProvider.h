#pragma once

#include "AWSSigV4Signer.h"
#include "ConnectionProfile.h"
#include "SledStorageProvider.h"
#include "VornDate.h"
#include "VornHTTPClient.h"
#include "VornURLComponents.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One bucket of Amazon S3, Cloudflare R2 or another S3-compatible store seen as a tree of folders.
// Keys are paths without their leading "/"; a folder is a key prefix ending in "/", and an empty
// folder is a zero-length marker object whose key is that prefix. Every request is one HTTP
// exchange through VornHTTPClient, signed with SigV4; nothing is retried and nothing is cached.
//
// Behaviour beyond the common interface:
// - listDirectory() reads ListObjectsV2 pages of 1,000 keys with the delimiter "/", at most 50
//   pages (50,000 keys). A folder that is still truncated after 50 pages throws SledListingError::tooLarge,
//   carrying the entries read so far (sorted), so a pane can browse them while a walk for a sync,
//   copy or rename refuses to act on part of a folder. A page that says it is truncated but gives
//   no continuation token, or a token already followed, throws SledListingError::incomplete the
//   same way. Keys and prefixes of a reply are kept exactly as sent; one whose name in the folder
//   is not exactly one path component (empty, "." or "..", holding "/" as from a server that
//   ignores the delimiter) is never listed as an entry:
//   listDirectoryWithSkipped() reports it with its reason. A reply that is an S3 error document sent
//   with status 200 fails like any other error reply instead of reading as an empty folder.
// - Uploads are one PUT of the whole file, streamed, with "x-amz-meta-vornsled-sha256" and the
//   file's SHA-256 as the signed payload hash. Downloads stream into a hidden temporary sibling of
//   the destination that replaces it only when complete; a failed download leaves the destination
//   as it was and removes the folders it created for it. Only status 200 delivers an object: a 206
//   (no range is ever asked for) or a 200 whose body is an error document without an entity tag
//   fails with SledError::httpStatus. The digest returned is the stored metadata, else the
//   service's own SHA-256 checksum.
// - Renames are server-side copies followed by deletes. A folder's rename lists its prefix flat
//   (listObjectsUnder) before anything moves and moves every object under it in key order, the
//   markers of the folders in it and its own included, each copied then deleted; the first failure
//   ends it with a message naming how many objects stayed under the old name (nothing is moved
//   back). A rename never overwrites or merges: a target object, or any key under a target folder,
//   fails it with "An item named '<name>' already exists." before anything moves.
// - A delete of the bucket root is refused before anything is sent, and so is that of a folder
//   that still holds anything (its one DELETE would remove only its marker): a one-key listing
//   after the marker tells.
// - A key that is not UTF-8 text is refused before anything is sent, with a message naming it.
// - The stop token ends a transfer in flight (VornTaskCancelled); a folder rename stops between files.
class S3R2StorageProvider final : public SledStorageProvider {
public:
    // One parsed ListObjectsV2 reply.
    struct ListObjectsV2Page {
        std::vector<SledFileEntry> entries;  // in listing order
        // Keys whose name in the folder is not exactly one path component, left out of `entries`.
        std::vector<SledSkippedEntry> skipped;
        bool isTruncated = false;
        std::optional<std::string> nextContinuationToken;  // absent when missing or empty
        // The name of the document element: "ListBucketResult" for a listing, "Error" for an S3
        // error document (which some services send with status 200).
        std::string documentElement;
        // Every "Contents" and "CommonPrefixes" of the reply, including the ones not shown (the
        // folder's own marker, markers of deeper folders).
        std::size_t keyCount = 0;
    };

    // One item of a request's query, in the order it is sent; an item without value is sent as
    // its name alone.
    using QueryItem = VornURLQueryItem;

    // The longest ListObjectsV2 reply that is read; a longer one fails as unparsable.
    static constexpr std::size_t maxListingReplyBytes = 16 * 1024 * 1024;

    // Keys asked for per ListObjectsV2 page, and pages read before a folder counts as too large.
    // Only tests of the page limit change them; every profile uses the defaults.
    struct ListingLimits {
        int keysPerPage = 1000;
        int maxPages = 50;
        // Pages of a flat listing of a whole tree (listObjectsUnder).
        int maxFlatPages = 500;
    };

    // Nothing is checked or sent here; the signer uses the profile's access key ID, this secret,
    // the profile's resolved signing region and the service "s3".
    S3R2StorageProvider(ConnectionProfile profile, std::string secretAccessKey);
    S3R2StorageProvider(ConnectionProfile profile, std::string secretAccessKey, ListingLimits limits);

    const ConnectionProfile& profile() const { return profile_; }
    const AWSSigV4Signer& signer() const { return signer_; }

    std::string displayName() const override;
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override;
    SledListing listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const override;
    SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override;
    SledUploadResult uploadFile(const std::filesystem::path& localURL, const std::string& to,
                    const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                    std::stop_token stop) const override;
    void createDirectory(const std::string& at, std::stop_token stop) const override;
    // A key that is not UTF-8.
    std::optional<std::string> pathOutOfReach(const std::string& path, bool writing) const override;
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override;
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override;
    void testConnection(std::stop_token stop) const override;

    // Every object whose key lies under the folder `at`, at any depth, read flat (no delimiter)
    // page after page, in the store's key order: the folder's own marker and the markers of the
    // folders in it included. Each entry's `name` is its key below the folder ("" for the folder's
    // own marker, ending in "/" for a marker, which is also isDirectory), its `path` "/" and the key
    // exactly, with size, time and entity tag as listed. More than `maxFlatPages` pages throw
    // SledListingError::tooLarge, a truncated page without a new continuation token
    // SledListingError::incomplete (both without entries): no part of a tree passes for all of it.
    std::vector<SledFileEntry> listObjectsUnder(const std::string& at, std::stop_token stop) const;

    // Server-side copy of one object with its metadata (x-amz-metadata-directive COPY). Keys are
    // normalized keys, without a leading "/".
    void copySingleObject(const std::string& fromKey, const std::string& toKey, std::stop_token stop) const;

    // A GET link for the object at `remotePath`, valid for `expiresInSeconds` clamped to 1…604800.
    // Sends nothing. The bucket root has no link: SledError::invalidProfile
    // ("Cannot generate a signed link for bucket root.").
    std::string generatePresignedDownloadURL(const std::string& remotePath, std::int64_t expiresInSeconds,
                                             VornDate date) const;

    // The URL of `objectKey` (a key, not a path: a leading "/" is part of the key) in the profile's
    // bucket, path-style (always for R2) or virtual-hosted; each "/"-separated piece of the key,
    // empty ones included, is percent-encoded as it is signed, and the query is sent
    // exactly as the signer canonicalises it. Throws SledError::invalidProfile with
    // "Endpoint and bucket name are required.", "Invalid endpoint URL: <endpoint>",
    // "Invalid endpoint host" or "Could not assemble S3/R2 request URL".
    std::string buildObjectURL(const std::string& objectKey, const std::vector<QueryItem>& queryItems = {}) const;

    // Passes a 2xx reply; any other status throws SledError::httpStatus with the code and the
    // first 400 bytes of the body (invalid UTF-8 replaced), or the status's reason phrase when the
    // body is empty. A reply without a status throws connectionFailed("Invalid HTTP response").
    static void validateHTTP(const VornHTTPResponse& response);

    // The key of a path: the path without its one leading "/", nothing else changed (keys are
    // exact; typed names are trimmed where they are typed). "/photos/a.jpg" → "photos/a.jpg",
    // "/" → "", "/ x " → " x ".
    static std::string normalizeObjectKey(std::string_view path);
    // The same, ending in "/" unless empty: "/photos/2024" → "photos/2024/", "/photos/" → "photos/".
    static std::string normalizePrefix(std::string_view path);

    // Reads one ListObjectsV2 reply for the folder `currentPrefix` (empty for the bucket root,
    // otherwise ending in "/"). Malformed or truncated XML, a document type declaration (entity
    // definitions are never expanded) and invalid UTF-8 throw SledError::xmlParseFailed.
    // Well-formed XML without listing elements gives an empty page. A `flat` reply (asked for
    // without a delimiter) gives every object under the prefix as an entry, in reply order and
    // unsorted, as listObjectsUnder() describes; its common prefixes are ignored.
    static ListObjectsV2Page parseListObjectsV2PageXML(std::string_view body, std::string_view currentPrefix,
                                                       bool flat = false);
    static std::vector<SledFileEntry> parseListObjectsV2XML(std::string_view body, std::string_view currentPrefix);

    // Whether `body` is an S3 error document (well-formed XML whose document element is "Error").
    static bool isErrorDocument(std::string_view body);

    // The standard reason phrase of an HTTP status ("Not Found"), or "HTTP status <code>".
    static std::string reasonPhrase(int statusCode);

private:
    // Signs and sends one request; maps a reply that is not HTTP to connectionFailed.
    VornHTTPResponse send(VornHTTPRequest request, std::string_view payloadSHA256Hex, const VornHTTPBody& body,
                          const VornHTTPSink& sink, const SledProgressCallback& onProgress,
                          std::stop_token stop) const;
    // A bodiless request whose reply body is read up to `maxBodyBytes`; checked with validateHTTP.
    VornHTTPResponse sendChecked(const std::string& method, const std::string& url, std::size_t maxBodyBytes,
                                 std::stop_token stop, std::vector<std::pair<std::string, std::string>> headers = {}) const;
    // One ListObjectsV2 page; `startAfter`: only keys that sort after it.
    ListObjectsV2Page listPage(const std::string& prefix, const std::optional<std::string>& delimiter,
                               int maxKeys, const std::optional<std::string>& continuationToken,
                               std::stop_token stop, const std::optional<std::string>& startAfter = std::nullopt,
                               bool flat = false) const;
    bool objectExists(const std::string& key, std::stop_token stop) const;
    bool anyKeyUnder(const std::string& prefix, std::stop_token stop) const;

    ConnectionProfile profile_;
    std::string secretAccessKey_;
    AWSSigV4Signer signer_;
    ListingLimits limits_;
};
