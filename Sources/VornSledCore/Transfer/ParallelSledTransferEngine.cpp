#include "ParallelSledTransferEngine.h"

#include "LocalFileProvider.h"
#include "SledError.h"
#include "SledTemporaryFileName.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"
#include "VornSystemErrorText.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t digestChunkSize = 1'048'576;

using Digest = std::optional<std::string>;

// A digest that can be compared: 64 hexadecimal digits, in either letter case.
bool isSHA256Hex(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

enum class Comparison { agree, disagree, nothingToCompare };

// Our digest against one the other side computed. An absent digest, or one that is not 64 hex
// digits, leaves nothing to compare: the copy may be fine, but no one can say so.
Comparison compareDigests(const Digest& theirs, const std::string& ours) {
    if (!theirs || !isSHA256Hex(*theirs)) {
        return Comparison::nothingToCompare;
    }
    return VornASCII::equalIgnoringCase(*theirs, ours) ? Comparison::agree : Comparison::disagree;
}

// The digest of a local file. It gives up at the next chunk once the batch is cancelled, so a huge
// file (or one that never ends) does not hold a cancelled batch.
std::string digestOf(const fs::path& path, const std::stop_token& stop) {
    return VornChecksum::sha256(path, digestChunkSize, stop);
}

// A job the engine refuses on its own; the text is already in the user's language.
class JobRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void refuseNotARegularFile(const std::string& fileName) {
    throw JobRefused(vornText("'" + fileName + "' is not a regular file and is not copied.",
                              "'" + fileName + "' normal bir dosya değil, kopyalanmaz."));
}

[[noreturn]] void refuseLink(const std::string& path) {
    throw JobRefused(vornText("'" + path + "' is a symbolic link; nothing is written through it.",
                              "'" + path + "' sembolik bir bağlantı; onun üzerinden hiçbir şey yazılmaz."));
}

std::string duplicateDestinationText(const std::string& path) {
    return vornText("Another file of this batch already goes to '" + path + "'.",
                    "Bu toplu aktarımda başka bir dosya zaten '" + path + "' hedefine gidiyor.");
}

// The folder that every destination of a local batch lies in: the deepest common parent folder.
// Folders below it are the batch's own, so none of them may be a link.
fs::path commonParentFolder(const std::vector<SledTransferJobSpec>& jobs) {
    std::optional<fs::path> common;
    for (const SledTransferJobSpec& job : jobs) {
        const fs::path parent = fs::path(job.destinationPath).lexically_normal().parent_path();
        if (!common) {
            common = parent;
            continue;
        }
        fs::path shared;
        auto a = common->begin();
        auto b = parent.begin();
        for (; a != common->end() && b != parent.end() && *a == *b; ++a, ++b) {
            shared /= *a;
        }
        common = shared;
    }
    return common.value_or(fs::path());
}

// The file's place on this disk, reached through the batch's folder: no folder between that
// folder and the file, nor the file itself, may be a symbolic link, and a folder is never
// replaced by a file.
void checkLocalDestination(const fs::path& destination, const fs::path& batchFolder) {
    const fs::path target = destination.lexically_normal();
    const fs::path below = target.lexically_relative(batchFolder);
    fs::path walked = batchFolder;
    if (!below.empty() && *below.begin() != "..") {
        for (auto part = below.begin(); part != below.end(); ++part) {
            walked /= *part;
            struct stat status {};
            if (::lstat(walked.c_str(), &status) != 0) {
                return;  // not there yet: the copy creates it
            }
            if (S_ISLNK(status.st_mode)) {
                refuseLink(walked.string());
            }
        }
    }
    struct stat status {};
    if (::lstat(target.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            refuseLink(target.string());
        }
        if (S_ISDIR(status.st_mode)) {
            throw SledError::remoteCommandFailed(LocalFileProvider::alreadyExistsMessage(target));
        }
    }
}

// Gives a checked copy its final name. The file it replaces reaches nothing of the new one until
// this moment; a crash right after must not leave an empty file in place of the old one, so the
// copy is flushed first when something is replaced.
void putInPlace(const fs::path& copy, const fs::path& destination) {
    struct stat status {};
    if (::lstat(destination.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            refuseLink(destination.string());
        }
        if (S_ISDIR(status.st_mode)) {
            throw SledError::remoteCommandFailed(LocalFileProvider::alreadyExistsMessage(destination));
        }
        VornUniqueFd file(::open(copy.c_str(), O_RDONLY | O_CLOEXEC));
        if (!file || ::fdatasync(file.get()) != 0) {
            throw fs::filesystem_error("cannot write", copy, std::error_code(errno, std::system_category()));
        }
    }
    if (::rename(copy.c_str(), destination.c_str()) != 0) {
        throw fs::filesystem_error("cannot put the copy in place", copy, destination,
                                   std::error_code(errno, std::system_category()));
    }
}

// The user text of a failure that ends a job.
std::string describe(std::exception_ptr failure) {
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const SledError& error) {
        return error.description();
    } catch (const fs::filesystem_error& error) {
        // libstdc++ prefixes every filesystem_error text with this; the rest names the operation,
        // the reason and the paths.
        std::string_view text = error.what();
        constexpr std::string_view prefix = "filesystem error: ";
        if (text.starts_with(prefix)) {
            text.remove_prefix(prefix.size());
        }
        // The operation's own words are English; other languages read the reason and the paths.
        std::string where = error.path1().string();
        if (!error.path2().empty()) {
            where += " \u2192 " + error.path2().string();
        }
        const std::string reason = vornSystemErrorText(error.code());
        return vornText(text, where.empty() ? reason : reason + ": " + where);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return vornText("Unknown error.", "Bilinmeyen hata.");
    }
}

class JobRunner {
public:
    JobRunner(const SledTransferJobSpec& job, const SledStorageProvider& source, const SledStorageProvider& destination,
              bool isSourceLocal, bool isDestLocal, bool verify, const SledTransferUpdateCallback& onUpdate,
              std::stop_token stop, const fs::path& batchFolder, bool duplicate)
        : job_(job),
          source_(source),
          destination_(destination),
          isSourceLocal_(isSourceLocal),
          isDestLocal_(isDestLocal),
          verify_(verify),
          onUpdate_(onUpdate),
          stop_(std::move(stop)),
          batchFolder_(batchFolder),
          duplicate_(duplicate) {}

    SledTransferJobResult run() {
        update(SledTransferStatus::transferring, 0, job_.expectedSize);
        try {
            if (stop_.stop_requested()) {
                throw VornTaskCancelled();
            }
            if (duplicate_) {
                // Two copies racing for one name would both end "completed" and one would be lost.
                return fail(SledTransferStatus::failed, duplicateDestinationText(job_.destinationPath));
            }
            if (isSourceLocal_ && !isDestLocal_) {
                return upload();
            }
            if (!isSourceLocal_ && isDestLocal_) {
                return download();
            }
            return relay();
        } catch (const VornTaskCancelled&) {
            return fail(SledTransferStatus::cancelled, SledError::cancelled().description());
        } catch (...) {
            return fail(SledTransferStatus::failed, describe(std::current_exception()));
        }
    }

private:
    void update(SledTransferStatus status, std::int64_t done, std::int64_t total, const Digest& digest = std::nullopt,
                bool verified = false, const std::optional<std::string>& message = std::nullopt) const {
        if (onUpdate_) {
            onUpdate_(job_.recordID, status, done, total, digest, verified, message);
        }
    }

    SledTransferJobResult succeed(std::int64_t bytes, Digest digest, bool verified) const {
        update(SledTransferStatus::completed, bytes, bytes, digest, verified);
        return SledTransferJobResult{job_.recordID, true, bytes, std::move(digest), verified, std::nullopt};
    }

    SledTransferJobResult fail(SledTransferStatus status, std::string message) const {
        update(status, 0, job_.expectedSize, std::nullopt, false, message);
        return SledTransferJobResult{job_.recordID, false, 0, std::nullopt, false, std::move(message)};
    }

    // Where a copy to this disk is written before it is checked: a hidden sibling of the
    // destination, so the final rename stays on one file system and the file that was there stays
    // untouched until the copy has passed every comparison. Removed on every failure.
    VornTemporaryFile localLanding() const {
        checkLocalDestination(job_.destinationPath, batchFolder_);
        return VornTemporaryFile(sledHiddenSibling(job_.destinationPath, "transfer"));
    }

    void land(VornTemporaryFile& landing) const {
        checkLocalDestination(job_.destinationPath, batchFolder_);
        putInPlace(landing.path(), job_.destinationPath);
        landing.release();
    }

    SledTransferJobResult upload() {
        const fs::path localFile(job_.sourcePath);
        struct stat status {};
        const bool known = ::stat(localFile.c_str(), &status) == 0;
        // A FIFO or a device could block the digest (or the upload) for ever; nothing is read.
        if (known && !S_ISREG(status.st_mode)) {
            refuseNotARegularFile(job_.fileName);
        }
        const std::int64_t size = known ? status.st_size : job_.expectedSize;
        Digest digest;
        if (verify_) {
            update(SledTransferStatus::verifying, 0, size);
            digest = digestOf(localFile, stop_);
        }
        update(SledTransferStatus::transferring, 0, size, digest);
        const SledUploadResult uploaded = destination_.uploadFile(
            localFile, job_.destinationPath, digest,
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done, std::max(total, size), digest);
            },
            stop_);
        bool verified = false;
        if (digest) {
            verified = checkStored(uploaded, *digest);
        }
        return succeed(size, std::move(digest), verified);
    }

    // The destination's digest of what it stored against ours: a disagreement fails the job;
    // true only when there was a digest of the destination's own to compare.
    bool checkStored(const SledUploadResult& uploaded, const std::string& ours) const {
        switch (compareDigests(uploaded.storedSHA256, ours)) {
        case Comparison::agree:
            return true;
        case Comparison::disagree:
            throw SledError::checksumMismatch(job_.fileName, ours, *uploaded.storedSHA256);
        case Comparison::nothingToCompare:
            break;
        }
        return false;
    }

    SledTransferJobResult download() {
        VornTemporaryFile landing = localLanding();
        const SledDownloadResult downloaded = source_.downloadFile(
            job_.sourcePath, landing.path(),
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done, std::max(total, job_.expectedSize));
            },
            stop_);
        const std::int64_t bytes = downloaded.bytes;
        if (!verify_) {
            land(landing);
            return succeed(bytes, std::nullopt, false);
        }
        update(SledTransferStatus::verifying, bytes, bytes);
        std::string local = digestOf(landing.path(), stop_);
        const Comparison comparison = compareDigests(downloaded.remoteSHA256, local);
        if (comparison == Comparison::disagree) {
            // The copy goes with the landing file; whatever was at the destination stays.
            throw SledError::checksumMismatch(job_.fileName, *downloaded.remoteSHA256, local);
        }
        land(landing);
        // Without a digest from the source our own digest proves nothing: completed, not verified.
        return succeed(bytes, std::move(local), comparison == Comparison::agree);
    }

    SledTransferJobResult relay() {
        // Removed at every end of the job; a file that cannot be removed is left alone.
        VornTemporaryFile relayFile =
            VornTemporaryFile::inPrivateDirectory(ParallelSledTransferEngine::relayFileName(job_.fileName));
        std::optional<VornTemporaryFile> landing;
        if (isDestLocal_) {
            landing = localLanding();
        }
        const SledDownloadResult downloaded = source_.downloadFile(
            job_.sourcePath, relayFile.path(),
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done / 2, std::max(total, job_.expectedSize));
            },
            stop_);
        const std::int64_t bytes = downloaded.bytes;
        Digest relayDigest;
        bool sourceAgrees = false;
        if (verify_) {
            update(SledTransferStatus::verifying, bytes / 2, bytes);
            relayDigest = digestOf(relayFile.path(), stop_);
            const Comparison comparison = compareDigests(downloaded.remoteSHA256, *relayDigest);
            if (comparison == Comparison::disagree) {
                throw SledError::checksumMismatch(job_.fileName, *downloaded.remoteSHA256, *relayDigest);
            }
            sourceAgrees = comparison == Comparison::agree;
        }
        const SledUploadResult uploaded = destination_.uploadFile(
            relayFile.path(), landing ? landing->path().string() : job_.destinationPath, relayDigest,
            [&](std::int64_t done, std::int64_t total) {
                // Each half is truncated on its own, so an odd total can end one below it.
                const std::int64_t whole = std::max(total, bytes);
                update(SledTransferStatus::transferring, whole / 2 + done / 2, whole, relayDigest);
            },
            stop_);
        bool destinationAgrees = false;
        if (relayDigest) {
            destinationAgrees = checkStored(uploaded, *relayDigest);
        }
        if (landing) {
            land(*landing);
        }
        relayFile.remove();
        // Verified end to end only: the source's digest and the destination's both matched ours.
        const bool verified = sourceAgrees && destinationAgrees;
        return succeed(bytes, std::move(relayDigest), verified);
    }

    const SledTransferJobSpec& job_;
    const SledStorageProvider& source_;
    const SledStorageProvider& destination_;
    const bool isSourceLocal_;
    const bool isDestLocal_;
    const bool verify_;
    const SledTransferUpdateCallback& onUpdate_;
    const std::stop_token stop_;
    const fs::path& batchFolder_;
    const bool duplicate_;
};

// The jobs that write a destination an earlier job of the list already writes. The first keeps
// it; the later ones are refused rather than race it.
std::vector<bool> laterJobsOnOneDestination(const std::vector<SledTransferJobSpec>& jobs, bool isDestLocal) {
    std::vector<bool> duplicate(jobs.size(), false);
    std::set<std::string> seen;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        // On this disk "a//b" and "a/./b" are one file; a remote store's key is taken as written.
        const std::string key = isDestLocal ? fs::path(jobs[index].destinationPath).lexically_normal().string()
                                            : jobs[index].destinationPath;
        duplicate[index] = !seen.insert(key).second;
    }
    return duplicate;
}

}  // namespace

int ParallelSledTransferEngine::clampedWorkerCount(int maxConcurrency) noexcept {
    return std::clamp(maxConcurrency, minimumWorkers, maximumWorkers);
}

std::string ParallelSledTransferEngine::relayFileName(const std::string& fileName) {
    return sledTemporaryFileName("vornsled-relay-", fileName);
}

std::vector<SledTransferJobResult> ParallelSledTransferEngine::executeBatch(
    const std::vector<SledTransferJobSpec>& jobs, const SledStorageProvider& sourceProvider,
    const SledStorageProvider& destinationProvider, int maxConcurrency, bool verifySHA256,
    const SledTransferUpdateCallback& onUpdate, std::stop_token stop) const {
    std::vector<SledTransferJobResult> results;
    if (jobs.empty()) {
        return results;
    }
    // Exactly the local provider, not something built on it: only its paths are this disk's paths.
    const bool isSourceLocal = typeid(sourceProvider) == typeid(LocalFileProvider);
    const bool isDestLocal = typeid(destinationProvider) == typeid(LocalFileProvider);
    const std::size_t workers = std::min(static_cast<std::size_t>(clampedWorkerCount(maxConcurrency)), jobs.size());
    const std::vector<bool> duplicate = laterJobsOnOneDestination(jobs, isDestLocal);
    const fs::path batchFolder = isDestLocal ? commonParentFolder(jobs) : fs::path();

    results.reserve(jobs.size());
    std::mutex lock;
    std::size_t nextJob = 0;
    // Each worker takes the next job of the list when it is free: a sliding window over the list.
    const auto work = [&]() noexcept {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard guard(lock);
                if (nextJob >= jobs.size()) {
                    return;
                }
                index = nextJob++;
            }
            SledTransferJobResult result = JobRunner(jobs[index], sourceProvider, destinationProvider, isSourceLocal,
                                                     isDestLocal, verifySHA256, onUpdate, stop, batchFolder,
                                                     duplicate[index])
                                               .run();
            std::lock_guard guard(lock);
            results.push_back(std::move(result));
        }
    };
    {
        std::vector<std::jthread> pool;
        pool.reserve(workers - 1);
        for (std::size_t i = 1; i < workers; ++i) {
            pool.emplace_back(work);
        }
        work();  // the calling thread is one of the workers
    }
    return results;
}
