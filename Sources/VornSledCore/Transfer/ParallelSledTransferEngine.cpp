#include "ParallelSledTransferEngine.h"

#include "LocalFileProvider.h"
#include "SledError.h"
#include "SledTemporaryFileName.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <typeinfo>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t digestChunkSize = 1'048'576;

using Digest = std::optional<std::string>;

// Digests are compared without regard to letter case; absent or empty means nothing to compare.
bool digestsDisagree(const Digest& reported, const std::string& computed) {
    if (!reported || reported->empty()) {
        return false;
    }
    return !VornASCII::equalIgnoringCase(*reported, computed);
}

// The digest of a local file. It runs to its end even when the batch is cancelled meanwhile: the
// caller's stop token is deliberately not consulted here.
std::string digestOf(const fs::path& path) {
    return VornChecksum::sha256(path, digestChunkSize);
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
        return std::string(text);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "Unknown error.";
    }
}

class JobRunner {
public:
    JobRunner(const SledTransferJobSpec& job, const SledStorageProvider& source, const SledStorageProvider& destination,
              bool isSourceLocal, bool isDestLocal, bool verify, const SledTransferUpdateCallback& onUpdate,
              std::stop_token stop)
        : job_(job),
          source_(source),
          destination_(destination),
          isSourceLocal_(isSourceLocal),
          isDestLocal_(isDestLocal),
          verify_(verify),
          onUpdate_(onUpdate),
          stop_(std::move(stop)) {}

    SledTransferJobResult run() {
        update(SledTransferStatus::transferring, 0, job_.expectedSize);
        try {
            if (stop_.stop_requested()) {
                throw VornTaskCancelled();
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

    SledTransferJobResult upload() {
        const fs::path localFile(job_.sourcePath);
        struct stat status {};
        const std::int64_t size = ::stat(localFile.c_str(), &status) == 0 ? status.st_size : job_.expectedSize;
        Digest digest;
        if (verify_) {
            update(SledTransferStatus::verifying, 0, size);
            digest = digestOf(localFile);
        }
        update(SledTransferStatus::transferring, 0, size, digest);
        destination_.uploadFile(
            localFile, job_.destinationPath, digest,
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done, std::max(total, size), digest);
            },
            stop_);
        // Any comparison of an upload happens inside the destination, which received the digest.
        const bool verified = digest.has_value();
        return succeed(size, std::move(digest), verified);
    }

    SledTransferJobResult download() {
        const fs::path localFile(job_.destinationPath);
        const SledDownloadResult downloaded = source_.downloadFile(
            job_.sourcePath, localFile,
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done, std::max(total, job_.expectedSize));
            },
            stop_);
        const std::int64_t bytes = downloaded.bytes;
        if (!verify_) {
            return succeed(bytes, std::nullopt, false);
        }
        update(SledTransferStatus::verifying, bytes, bytes);
        std::string local = digestOf(localFile);
        if (digestsDisagree(downloaded.remoteSHA256, local)) {
            std::error_code ignored;
            fs::remove(localFile, ignored);
            throw SledError::checksumMismatch(job_.fileName, *downloaded.remoteSHA256, local);
        }
        // A source that gives no digest still yields a verified download: the digest is ours.
        return succeed(bytes, std::move(local), true);
    }

    SledTransferJobResult relay() {
        // Removed at every end of the job; a file that cannot be removed is left alone.
        VornTemporaryFile relayFile =
            VornTemporaryFile::inPrivateDirectory(ParallelSledTransferEngine::relayFileName(job_.fileName));
        const SledDownloadResult downloaded = source_.downloadFile(
            job_.sourcePath, relayFile.path(),
            [&](std::int64_t done, std::int64_t total) {
                update(SledTransferStatus::transferring, done / 2, std::max(total, job_.expectedSize));
            },
            stop_);
        const std::int64_t bytes = downloaded.bytes;
        Digest relayDigest;
        if (verify_) {
            update(SledTransferStatus::verifying, bytes / 2, bytes);
            relayDigest = digestOf(relayFile.path());
            if (digestsDisagree(downloaded.remoteSHA256, *relayDigest)) {
                throw SledError::checksumMismatch(job_.fileName, *downloaded.remoteSHA256, *relayDigest);
            }
        }
        destination_.uploadFile(
            relayFile.path(), job_.destinationPath, relayDigest,
            [&](std::int64_t done, std::int64_t total) {
                // Each half is truncated on its own, so an odd total can end one below it.
                const std::int64_t whole = std::max(total, bytes);
                update(SledTransferStatus::transferring, whole / 2 + done / 2, whole, relayDigest);
            },
            stop_);
        if (isDestLocal_ && relayDigest) {
            const std::string final = digestOf(job_.destinationPath);
            if (digestsDisagree(relayDigest, final)) {
                throw SledError::checksumMismatch(job_.fileName, *relayDigest, final);
            }
        }
        relayFile.remove();
        const bool verified = relayDigest.has_value();
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
};

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
                                                     isDestLocal, verifySHA256, onUpdate, stop)
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
