#pragma once

#include "SledStorageProvider.h"
#include "SledTransferRecord.h"
#include "VornDate.h"
#include "VornUUID.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// One file to copy. `recordID` names the transfer record that every update and the result report
// to. `expectedSize` is the size known before the copy: the total of the first update and of
// failure updates, and the lower bound of totals while downloading. `direction` is the caller's
// name for the route; the engine chooses the route from the providers, not from it.
struct SledTransferJobSpec {
    VornUUID recordID;
    std::string fileName;
    std::string sourcePath;
    std::string destinationPath;
    std::int64_t expectedSize = 0;
    SledTransferDirection direction = SledTransferDirection::localCopy;
    // The folder the user chose to copy into (a pane's folder, a sync root). The destination must
    // lie below it once both are folded ("." and ".." resolved), or the job fails and writes
    // nothing. On this disk it is opened as the user sees it (a link there is followed) and no
    // folder below it is reached through a link. Absent: the batch's common folder stands for it.
    std::optional<std::string> destinationRoot;
    // For a source on this disk that a walk or a listing found: the folder it was listed in. The
    // file is then opened below it without following any link and must still be a regular file.
    // Absent for a file the user named by itself: a link is then sent as its target.
    std::optional<std::string> sourceRoot;
    // What the destination held when the user decided to replace it (a sync row's target). The copy
    // replaces only that: at the moment it is put in place (on this disk, or where the back end
    // renames its copy into place) or just before it is sent (an object store, which is also asked
    // to store it only over that object) the destination must still be absent, or the same size
    // with the same time (or entity tag), or the job fails with changedSinceListedText() and the
    // file there stays.
    std::optional<SledListedDestination> listedDestination;
};

// The outcome of one job. On failure: no success, 0 bytes, no digest, not verified, and the user
// text of the error. `sha256Hex` is the digest the engine computed when it verified.
//
// `isVerified` is true only when two digests of the same bytes were compared and agreed: ours, and
// one computed on the other side (the source's own digest, the server's digest of what it stored)
// or from the bytes after they landed. A success without that comparison - the source or the
// server gave no digest, or one that is not 64 hexadecimal digits, or verification was off - is
// completed but not verified, and nothing may present it as checked.
struct SledTransferJobResult {
    VornUUID recordID;
    bool success = false;
    std::int64_t bytesTransferred = 0;
    std::optional<std::string> sha256Hex;
    bool isVerified = false;
    std::optional<std::string> errorMessage;
};

// (record identifier, status, transferred bytes, total bytes, SHA-256 hex, verified, error text).
// Called from the worker threads and from the providers' progress callbacks, concurrently for
// different jobs; it must be safe for that and return quickly. One job's updates arrive in order.
using SledTransferUpdateCallback =
    std::function<void(const VornUUID& recordID, SledTransferStatus status, std::int64_t transferredBytes,
                       std::int64_t totalBytes, const std::optional<std::string>& sha256Hex, bool isVerified,
                       const std::optional<std::string>& errorMessage)>;

// Copies a batch of files from one provider to another with a bounded number of copies in flight,
// checks each copy with SHA-256 when asked, and reports every step of every file.
//
// Routes, chosen once per batch by whether each provider is exactly a LocalFileProvider:
// - local to remote: upload of the source file, with its digest handed to the destination, whose
//   digest of what it stored is compared with ours;
// - remote to local: download, compared with the digest the source reports;
// - anything else (remote to remote, local to local): download into a relay file in the private
//   temporary folder, then upload from it. The relay file is removed at every end of the job.
//
// Whatever lands on this disk is written into a hidden sibling of its destination, checked there,
// and only then renamed over the destination: a copy that fails, is cancelled or does not match
// is removed and the file that was there stays. No copy is written through a symbolic link: the
// chosen folder (the job's destinationRoot, else the batch's common folder) is opened once, every
// folder below it is opened from that descriptor without following links, and the hidden file is
// created and renamed on the last folder's descriptor; a folder is never replaced. A destination
// that leaves the chosen folder fails its job before anything is written, on every route.
// A download from a store whose files carry no permission bits (SledDownloadResult::modeOfItsOwn
// false) that replaces a file takes that file's read, write and execute bits, never its
// set-user or set-group bit.
//
// A local source is opened once and refused unless it is a regular file (a FIFO, a device, or
// below a sourceRoot a link, is never read); it is hashed and sent from that open file, its size
// taken at open. A source whose size or modification time changed by the end of its send fails
// its job: the bytes sent may not be the bytes hashed. It is checked once more just before the
// destination is replaced, where the back end has such a moment (SledReplaceConditions), so the
// destination stays; a change seen only afterwards fails the job with a message saying that the
// destination now holds the version read when the copy began. Within one batch each destination is written by one job: a
// later job naming a destination that an earlier one writes fails with its own message.
//
// Stateless: one engine may run several batches at once; batches share nothing.
class ParallelSledTransferEngine {
public:
    static constexpr int minimumWorkers = 1;
    static constexpr int maximumWorkers = 8;

    // Runs every job and returns exactly one result per job, in the order the jobs finished (match
    // them to jobs by recordID). Never throws for a job's failure: each failure ends its own job.
    //
    // `maxConcurrency` is clamped to 1...8; that many worker threads each take the next job of the
    // list as they free up, so jobs start in list order and one slow file holds back no other.
    //
    // Stopping `stop` cancels the batch: jobs that have not started still start and end at once
    // (transferring, then cancelled); running jobs end when their provider call or their digest
    // gives up with VornTaskCancelled. Their status is `cancelled` with the user text of
    // SledError::cancelled. A provider's own SledError::cancelled is a failure like any other error
    // (status `failed`).
    std::vector<SledTransferJobResult> executeBatch(const std::vector<SledTransferJobSpec>& jobs,
                                                    const SledStorageProvider& sourceProvider,
                                                    const SledStorageProvider& destinationProvider,
                                                    int maxConcurrency, bool verifySHA256,
                                                    const SledTransferUpdateCallback& onUpdate,
                                                    std::stop_token stop = {}) const;

    // The number of workers a batch uses for the wished number: clamped to 1...8.
    static int clampedWorkerCount(int maxConcurrency) noexcept;

    // The name of the relay file of a job: "vornsled-relay-" + a new UUID + "-" + the made-safe
    // file name, shortened at a character boundary so that the name fits a file system's limit.
    static std::string relayFileName(const std::string& fileName);

    // The user text of a copy refused because its destination changed after it was listed.
    static std::string changedSinceListedText();
};
