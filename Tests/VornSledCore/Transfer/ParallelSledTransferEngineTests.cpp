#include "ParallelSledTransferEngine.h"

#include "LocalFileProvider.h"
#include "SFTPTestSupport.h"
#include "SledError.h"
#include "VornChecksum.h"
#include "VornRawValue.h"
#include "VornTaskCancelled.h"
#include "VornTestMemoryProvider.h"
#include "VornTestSupport.h"
#include "VornTestTmpfs.h"
#include "VornXDG.h"
#include "../S3/S3ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Operation = VornTestMemoryProvider::Operation;
using Script = VornTestMemoryProvider::Script;
using Steps = std::vector<std::pair<std::int64_t, std::int64_t>>;

namespace {

const std::string content1001(1001, 'r');
const std::string digest1001 = VornSHA256::hexDigest(content1001);

// Every update of a batch, rendered as one line per update so a whole sequence reads as a table:
// "status done/total", then " #D" for the digest of the 1001-byte test content (or " #<digest>"
// for any other), " verified" and " !<message>" when present.
class UpdateLog {
public:
    SledTransferUpdateCallback callback(std::function<void(const VornUUID&, SledTransferStatus)> also = {}) {
        return [this, also](const VornUUID& id, SledTransferStatus status, std::int64_t done, std::int64_t total,
                            const std::optional<std::string>& digest, bool verified,
                            const std::optional<std::string>& message) {
            std::string line = std::string(rawValue(status)) + " " + std::to_string(done) + "/" + std::to_string(total);
            if (digest) {
                line += " #" + (*digest == digest1001 ? std::string("D") : *digest);
            }
            if (verified) {
                line += " verified";
            }
            if (message) {
                line += " !" + *message;
            }
            {
                std::lock_guard guard(lock_);
                lines_[id].push_back(line);
                ++count_;
            }
            if (also) {
                also(id, status);
            }
        };
    }
    std::vector<std::string> of(const VornUUID& id) const {
        std::lock_guard guard(lock_);
        const auto found = lines_.find(id);
        return found == lines_.end() ? std::vector<std::string>{} : found->second;
    }
    int count() const {
        std::lock_guard guard(lock_);
        return count_;
    }

private:
    mutable std::mutex lock_;
    std::map<VornUUID, std::vector<std::string>> lines_;
    int count_ = 0;
};

SledTransferJobSpec job(std::string fileName, std::string source, std::string destination, std::int64_t expectedSize,
                        SledTransferDirection direction = SledTransferDirection::remoteToRemote) {
    return SledTransferJobSpec{VornUUID::random(), std::move(fileName), std::move(source), std::move(destination),
                               expectedSize, direction};
}

std::vector<std::string> relayFilesLeft() {
    std::vector<std::string> found;
    for (const auto& item : fs::directory_iterator(VornXDG::privateTemporaryDirectory())) {
        if (item.path().filename().string().starts_with("vornsled-relay-")) {
            found.push_back(item.path().filename().string());
        }
    }
    return found;
}

const SledTransferJobResult& resultFor(const std::vector<SledTransferJobResult>& results, const VornUUID& id) {
    const auto found = std::find_if(results.begin(), results.end(), [&](const auto& r) { return r.recordID == id; });
    if (found == results.end()) {
        throw std::runtime_error("no result for " + id.uuidString());
    }
    return *found;
}

std::string mismatchText(const std::string& fileName, const std::string& expected, const std::string& actual) {
    return SledError::checksumMismatch(fileName, expected, actual).description();
}

const ParallelSledTransferEngine engine;

}  // namespace

TEST(ParallelSledTransferEngine, EachRouteSendsItsUpdatesInTheSpecifiedOrder) {
    VornTestTempDir dir;
    const auto localSource = dir.write("local/source.bin", content1001);
    const std::string failure = "Remote operation failed: boom";

    struct Case {
        std::string label;
        bool sourceLocal;
        bool destinationLocal;
        bool verify;
        std::int64_t expectedSize;
        std::optional<Steps> downloadProgress;
        std::optional<Steps> uploadProgress;
        bool uploadFails;
        std::vector<std::string> expected;
        std::int64_t bytes;
        bool verified;
    };
    const Steps downloadSteps{{300, 1001}, {1001, 1001}};
    const Steps uploadSteps{{10, 20}, {500, 1001}, {1001, 1001}};
    const Steps relayDownload{{1001, 1001}};
    const Steps relayUpload{{0, 1001}, {1001, 1001}};
    const std::vector<Case> cases = {
        {"upload, verified", true, false, true, 900, std::nullopt, uploadSteps, false,
         {"transferring 0/900", "verifying 0/1001", "transferring 0/1001 #D", "transferring 10/1001 #D",
          "transferring 500/1001 #D", "transferring 1001/1001 #D", "completed 1001/1001 #D verified"},
         1001, true},
        {"upload, unverified", true, false, false, 900, std::nullopt, uploadSteps, false,
         {"transferring 0/900", "transferring 0/1001", "transferring 10/1001", "transferring 500/1001",
          "transferring 1001/1001", "completed 1001/1001"},
         1001, false},
        {"upload that fails", true, false, true, 900, std::nullopt, uploadSteps, true,
         {"transferring 0/900", "verifying 0/1001", "transferring 0/1001 #D", "failed 0/900 !" + failure}, 0, false},
        {"download, verified", false, true, true, 2000, downloadSteps, std::nullopt, false,
         {"transferring 0/2000", "transferring 300/2000", "transferring 1001/2000", "verifying 1001/1001",
          "completed 1001/1001 #D verified"},
         1001, true},
        {"download, unverified", false, true, false, 2000, downloadSteps, std::nullopt, false,
         {"transferring 0/2000", "transferring 300/2000", "transferring 1001/2000", "completed 1001/1001"}, 1001,
         false},
        {"relay between two remote stores, verified", false, false, true, 900, relayDownload, relayUpload, false,
         {"transferring 0/900", "transferring 500/1001", "verifying 500/1001", "transferring 500/1001 #D",
          "transferring 1000/1001 #D", "completed 1001/1001 #D verified"},
         1001, true},
        {"relay between two remote stores, unverified", false, false, false, 900, relayDownload, relayUpload, false,
         {"transferring 0/900", "transferring 500/1001", "transferring 500/1001", "transferring 1000/1001",
          "completed 1001/1001"},
         1001, false},
        {"relay whose upload fails", false, false, true, 900, relayDownload, relayUpload, true,
         {"transferring 0/900", "transferring 500/1001", "verifying 500/1001", "failed 0/900 !" + failure}, 0, false},
        {"relay between two local folders, verified", true, true, true, 1001, std::nullopt, std::nullopt, false,
         {"transferring 0/1001", "transferring 500/1001", "verifying 500/1001", "transferring 1000/1001 #D",
          "completed 1001/1001 #D verified"},
         1001, true},
    };

    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const LocalFileProvider local;
        const VornTestMemoryProvider remoteSource("Source");
        const VornTestMemoryProvider remoteDestination("Destination");
        remoteSource.addFile("/bucket/source.bin", content1001);
        remoteSource.setScript(Operation::download, VornTestMemoryProvider::anyPath,
                               Script{.progress = c.downloadProgress});
        remoteDestination.setScript(
            Operation::upload, VornTestMemoryProvider::anyPath,
            Script{.error = c.uploadFails ? std::make_exception_ptr(SledError::remoteCommandFailed("boom")) : nullptr,
                   .progress = c.uploadProgress});

        const fs::path localDestination = dir / ("out" + std::to_string(++index)) / "copy.bin";
        // The direction names a route the engine must not follow: it decides by the providers.
        const auto spec = job("source.bin", c.sourceLocal ? localSource.string() : "/bucket/source.bin",
                              c.destinationLocal ? localDestination.string() : "/dest/copy.bin", c.expectedSize,
                              c.sourceLocal ? SledTransferDirection::download : SledTransferDirection::upload);
        const SledStorageProvider& source = c.sourceLocal ? static_cast<const SledStorageProvider&>(local) : remoteSource;
        const SledStorageProvider& destination =
            c.destinationLocal ? static_cast<const SledStorageProvider&>(local) : remoteDestination;

        UpdateLog log;
        const auto results = engine.executeBatch({spec}, source, destination, 4, c.verify, log.callback());
        EXPECT_EQ(log.of(spec.recordID), c.expected);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].recordID, spec.recordID);
        EXPECT_EQ(results[0].success, !c.uploadFails);
        EXPECT_EQ(results[0].bytesTransferred, c.bytes);
        EXPECT_EQ(results[0].isVerified, c.verified);
        EXPECT_EQ(results[0].sha256Hex, c.verified ? std::optional(digest1001) : std::nullopt);
        EXPECT_EQ(results[0].errorMessage, c.uploadFails ? std::optional(failure) : std::nullopt);
        if (!c.destinationLocal && !c.uploadFails) {
            EXPECT_EQ(remoteDestination.file("/dest/copy.bin"), content1001);
            // The destination gets the digest to store or check; absent without verification.
            EXPECT_EQ(remoteDestination.receivedDigest("/dest/copy.bin"),
                      std::optional<std::optional<std::string>>(c.verify ? std::optional(digest1001) : std::nullopt));
        }
        if (c.destinationLocal && !c.uploadFails) {
            EXPECT_EQ(vornReadFile(localDestination), content1001);
        }
        EXPECT_TRUE(relayFilesLeft().empty());
    }
}

TEST(ParallelSledTransferEngine, DownloadDigestComparisons) {
    struct Case {
        std::string label;
        bool verify;
        std::optional<std::string> reported;
        bool success;
        std::optional<std::string> resultDigest;
        bool verified;
        std::string finalUpdate;
    };
    std::string upper = digest1001;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    const std::string wrong(64, '0');
    // Verified means two digests of the same bytes agreed; our own digest alone proves nothing.
    const std::vector<Case> cases = {
        {"an upper-case source digest that matches", true, upper, true, digest1001, true,
         "completed 1001/1001 #D verified"},
        {"no source digest", true, std::nullopt, true, digest1001, false, "completed 1001/1001 #D"},
        {"an empty source digest", true, std::string(), true, digest1001, false, "completed 1001/1001 #D"},
        {"a source digest that is not 64 hex digits", true, digest1001.substr(0, 63) + "g", true, digest1001, false,
         "completed 1001/1001 #D"},
        {"a source digest one digit short", true, digest1001.substr(0, 63), true, digest1001, false,
         "completed 1001/1001 #D"},
        {"verification off drops the source digest", false, digest1001, true, std::nullopt, false,
         "completed 1001/1001"},
        {"a source digest that differs", true, wrong, false, std::nullopt, false,
         "failed 0/1001 !" + mismatchText("report 2026.pdf", wrong, digest1001)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        VornTestTempDir dir;
        const VornTestMemoryProvider remote;
        remote.addFile("/r/report.pdf", content1001);
        remote.setScript(Operation::download, "/r/report.pdf", Script{.reportedSHA256 = c.reported});
        const fs::path destination = dir / "report.pdf";
        const auto spec = job("report 2026.pdf", "/r/report.pdf", destination.string(), 1001);
        UpdateLog log;
        const auto results = engine.executeBatch({spec}, remote, LocalFileProvider(), 2, c.verify, log.callback());
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].success, c.success);
        EXPECT_EQ(results[0].sha256Hex, c.resultDigest);
        EXPECT_EQ(results[0].isVerified, c.verified);
        EXPECT_EQ(results[0].bytesTransferred, c.success ? 1001 : 0);
        EXPECT_EQ(log.of(spec.recordID).back(), c.finalUpdate);
        EXPECT_EQ(fs::exists(destination), c.success) << "a download that fails its comparison is removed";
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), c.success ? 1 : 0)
            << "nothing but the destination is left in its folder";
    }
}

TEST(ParallelSledTransferEngine, RelayMismatchStopsBeforeTheUploadAndRemovesTheRelayFile) {
    const VornTestMemoryProvider source;
    const VornTestMemoryProvider destination;
    source.addFile("/a.bin", content1001);
    const std::string wrong(64, 'f');
    source.setScript(Operation::download, "/a.bin", Script{.reportedSHA256 = wrong});
    const auto spec = job("a.bin", "/a.bin", "/b.bin", 1001);
    UpdateLog log;
    const auto results = engine.executeBatch({spec}, source, destination, 1, true, log.callback());
    EXPECT_EQ(results[0].errorMessage, mismatchText("a.bin", wrong, digest1001));
    EXPECT_EQ(log.of(spec.recordID).back(), "failed 0/1001 !" + mismatchText("a.bin", wrong, digest1001));
    EXPECT_TRUE(destination.calls().empty());
    EXPECT_TRUE(relayFilesLeft().empty());
}

TEST(ParallelSledTransferEngine, RelayFileIsNamedSafelyInsideThePrivateTemporaryFolder) {
    const VornTestMemoryProvider source;
    const VornTestMemoryProvider destination;
    source.addFile("/x", "payload");
    std::vector<std::string> seenDuringUpload;
    destination.setScript(Operation::upload, VornTestMemoryProvider::anyPath,
                          Script{.onStart = [&] { seenDuringUpload = relayFilesLeft(); }});
    const auto spec = job("../../etc/passwd", "/x", "/y", 7);
    const auto results = engine.executeBatch({spec}, source, destination, 1, true, {});
    ASSERT_TRUE(results[0].success) << results[0].errorMessage.value_or("");
    ASSERT_EQ(seenDuringUpload.size(), 1u);
    const std::string& name = seenDuringUpload[0];
    EXPECT_EQ(name.size(), std::string("vornsled-relay-").size() + 36 + 1 + std::string("passwd").size()) << name;
    EXPECT_TRUE(VornUUID::fromString(name.substr(15, 36)).has_value()) << name;
    EXPECT_EQ(name.substr(15, 36), VornUUID::fromString(name.substr(15, 36))->uuidString()) << "upper-case UUID";
    EXPECT_TRUE(name.ends_with("-passwd")) << name;
    EXPECT_TRUE(relayFilesLeft().empty());

    for (const std::string& fileName : {std::string(400, 'n'), std::string(300, '\xc3') + "\xa9", std::string()}) {
        const std::string relay = ParallelSledTransferEngine::relayFileName(fileName);
        EXPECT_LE(relay.size(), 255u);
        EXPECT_TRUE(relay.starts_with("vornsled-relay-"));
        EXPECT_EQ(relay.find('/'), std::string::npos);
    }
}

TEST(ParallelSledTransferEngine, EmptyBatchReturnsAtOnceWithoutCalls) {
    const VornTestMemoryProvider source;
    const VornTestMemoryProvider destination;
    UpdateLog log;
    EXPECT_TRUE(engine.executeBatch({}, source, destination, 4, true, log.callback()).empty());
    EXPECT_EQ(log.count(), 0);
    EXPECT_TRUE(source.calls().empty());
    EXPECT_TRUE(destination.calls().empty());
}

TEST(ParallelSledTransferEngine, WorkersAreClampedToOneThroughEight) {
    struct Case {
        int wished;
        int workers;
    };
    for (const auto& c : std::vector<Case>{{0, 1}, {-5, 1}, {1, 1}, {3, 3}, {8, 8}, {100, 8}}) {
        SCOPED_TRACE("maxConcurrency " + std::to_string(c.wished));
        EXPECT_EQ(ParallelSledTransferEngine::clampedWorkerCount(c.wished), c.workers);
        const VornTestMemoryProvider source;
        const VornTestMemoryProvider destination;
        std::vector<SledTransferJobSpec> jobs;
        for (int i = 0; i < 20; ++i) {
            source.addFile("/f" + std::to_string(i), "data " + std::to_string(i));
            jobs.push_back(job("f", "/f" + std::to_string(i), "/g" + std::to_string(i), 6));
        }
        // Every transfer waits until that many are in flight together, so the pool has to fill.
        source.setRendezvous(c.workers);
        const auto results = engine.executeBatch(jobs, source, destination, c.wished, false, {});
        EXPECT_EQ(results.size(), jobs.size());
        EXPECT_EQ(source.maxTransfersInFlight(), c.workers);
        EXPECT_EQ(source.transferThreadCount(), static_cast<std::size_t>(c.workers));
        EXPECT_TRUE(std::all_of(results.begin(), results.end(), [](const auto& r) { return r.success; }));
    }
}

TEST(ParallelSledTransferEngine, ResultsComeInCompletionOrderThroughASlidingWindow) {
    const VornTestMemoryProvider source;
    const VornTestMemoryProvider destination;
    source.addFile("/long", "long job");
    source.addFile("/short", "short job");
    source.addFile("/third", "third job");
    // With two workers the long first job is held until the third job has started: the short job's
    // slot went to the next job of the list while the long one was still running. The short job
    // waits for the long one to be under way, so both are in flight at once however the threads
    // are scheduled.
    auto gate = std::make_shared<VornTestGate>();
    auto longStarted = std::make_shared<VornTestGate>();
    source.setScript(Operation::download, "/long", Script{.onStart = [longStarted] { longStarted->open(); }, .gate = gate});
    source.setScript(Operation::download, "/short", Script{.gate = longStarted});
    source.setScript(Operation::download, "/third", Script{.onStart = [gate] { gate->open(); }});
    const auto longJob = job("long", "/long", "/out/long", 8);
    const auto shortJob = job("short", "/short", "/out/short", 9);
    const auto thirdJob = job("third", "/third", "/out/third", 9);
    const auto results = engine.executeBatch({longJob, shortJob, thirdJob}, source, destination, 2, true, {});
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].recordID, shortJob.recordID);
    EXPECT_TRUE((results[1].recordID == thirdJob.recordID && results[2].recordID == longJob.recordID) ||
                (results[1].recordID == longJob.recordID && results[2].recordID == thirdJob.recordID));
    EXPECT_EQ(source.maxTransfersInFlight(), 2);
    EXPECT_EQ(destination.file("/out/long"), "long job");
    EXPECT_EQ(destination.file("/out/third"), "third job");
}

TEST(ParallelSledTransferEngine, ABatchCancelledBeforeItStartsEndsEveryJobAtOnce) {
    const VornTestMemoryProvider source;
    const VornTestMemoryProvider destination;
    std::vector<SledTransferJobSpec> jobs;
    for (int i = 0; i < 5; ++i) {
        source.addFile("/f" + std::to_string(i), "x");
        jobs.push_back(job("f", "/f" + std::to_string(i), "/g", 40 + i));
    }
    std::stop_source stop;
    stop.request_stop();
    UpdateLog log;
    const auto results = engine.executeBatch(jobs, source, destination, 2, true, log.callback(), stop.get_token());
    ASSERT_EQ(results.size(), jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const std::string size = std::to_string(40 + i);
        EXPECT_EQ(log.of(jobs[i].recordID),
                  (std::vector<std::string>{"transferring 0/" + size, "cancelled 0/" + size + " !Transfer cancelled."}));
        const auto& result = resultFor(results, jobs[i].recordID);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.bytesTransferred, 0);
        EXPECT_EQ(result.errorMessage, "Transfer cancelled.");
    }
    EXPECT_TRUE(source.calls().empty());
}

TEST(ParallelSledTransferEngine, CancellingARunningBatchStillReturnsOneResultPerJob) {
    const VornTestMemoryProvider source;
    const VornTestMemoryProvider destination;
    std::vector<SledTransferJobSpec> jobs;
    for (int i = 0; i < 6; ++i) {
        source.addFile("/f" + std::to_string(i), "x");
        jobs.push_back(job("f", "/f" + std::to_string(i), "/g" + std::to_string(i), 1));
    }
    std::stop_source stop;
    std::atomic<int> started{0};
    // Both workers' downloads block until the caller stops the batch, which happens once both run.
    source.setScript(Operation::download, VornTestMemoryProvider::anyPath,
                     Script{.onStart = [&] {
                                if (++started == 2) {
                                    stop.request_stop();
                                }
                            },
                            .waitForStop = true});
    UpdateLog log;
    const auto results = engine.executeBatch(jobs, source, destination, 2, true, log.callback(), stop.get_token());
    ASSERT_EQ(results.size(), jobs.size());
    for (const auto& spec : jobs) {
        EXPECT_EQ(log.of(spec.recordID),
                  (std::vector<std::string>{"transferring 0/1", "cancelled 0/1 !Transfer cancelled."}));
        EXPECT_EQ(resultFor(results, spec.recordID).errorMessage, "Transfer cancelled.");
    }
    EXPECT_EQ(source.calls().size(), 2u) << "jobs that start after the stop never reach the provider";
    EXPECT_TRUE(destination.calls().empty());
    EXPECT_TRUE(relayFilesLeft().empty());
}

TEST(ParallelSledTransferEngine, AProvidersOwnCancelledErrorIsAFailure) {
    const VornTestMemoryProvider source;
    source.addFile("/f", "x");
    source.setScript(Operation::download, "/f", Script{.error = std::make_exception_ptr(SledError::cancelled())});
    const auto spec = job("f", "/f", "/g", 3);
    UpdateLog log;
    const auto results = engine.executeBatch({spec}, source, VornTestMemoryProvider(), 1, true, log.callback());
    EXPECT_EQ(log.of(spec.recordID),
              (std::vector<std::string>{"transferring 0/3", "failed 0/3 !Transfer cancelled."}));
    EXPECT_FALSE(results[0].success);
}

// A source that cannot be opened is never sent (nothing could say what was sent); its updates
// carry the size known before the copy.
TEST(ParallelSledTransferEngine, AnUploadWhoseLocalFileCannotBeOpenedFailsWithTheExpectedSize) {
    const VornTestMemoryProvider destination;
    destination.setScript(Operation::upload, "/up", Script{.ignoreLocalFile = true});
    const auto spec = job("gone", "/nonexistent/vornsled-test/gone", "/up", 700, SledTransferDirection::upload);
    UpdateLog log;
    const auto results = engine.executeBatch({spec}, LocalFileProvider(), destination, 1, false, log.callback());
    const std::vector<std::string> lines = log.of(spec.recordID);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "transferring 0/700");
    EXPECT_TRUE(lines[1].starts_with("failed 0/700 !")) << lines[1];
    EXPECT_FALSE(results[0].success);
    EXPECT_FALSE(destination.file("/up"));
}

TEST(ParallelSledTransferEngine, HostileNamesAndVanishingSourcesFailOnlyTheirOwnJob) {
    VornTestTempDir dir;
    struct Case {
        std::string label;
        std::string name;
        bool removeSourceBeforeItStarts;
        std::string expectedFailure;  // empty: the job succeeds
    };
    const std::vector<Case> cases = {
        {"spaces", "with some spaces.txt", false, ""},
        {"quotes", "it's \"quoted\".txt", false, ""},
        {"backslashes", "back\\slash\\name.txt", false, ""},
        {"a newline", "line\nbreak.txt", false, ""},
        {"invalid UTF-8", std::string("bad\xc3\x28\xff.txt"), false, ""},
        {"the longest name a folder can hold", std::string(251, 'l') + ".txt", false, ""},
        {"a name too long for the destination", std::string(300, 'x'), false, "File name too long"},
        {"a source that disappears mid-batch", "vanishes.txt", true, "No such file or directory"},
        {"a plain name after the failures", "plain.txt", false, ""},
    };
    std::vector<SledTransferJobSpec> jobs;
    std::map<VornUUID, fs::path> sourceOf;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        // Each job's source sits in a folder of its own: a 300-byte name cannot exist as a source
        // either, so that one job copies an ordinary file onto the impossible name.
        const fs::path folder = dir / "src" / std::to_string(i);
        const fs::path source =
            dir.write(folder.lexically_relative(dir.path()) / (c.name.size() > 255 ? "short" : c.name), c.label);
        jobs.push_back(job(c.name, source.string(), (dir / "dst" / c.name).string(),
                           static_cast<std::int64_t>(c.label.size()), SledTransferDirection::localCopy));
        sourceOf[jobs.back().recordID] = source;
    }
    // One worker runs the jobs in list order: the vanishing source is removed when the job before it
    // completes, so it disappears after the batch began and before its own copy starts.
    const VornUUID beforeVanishing = jobs[6].recordID;
    const fs::path vanishing = sourceOf[jobs[7].recordID];
    UpdateLog log;
    const auto results = engine.executeBatch(jobs, LocalFileProvider(), LocalFileProvider(), 1, true,
                                             log.callback([&](const VornUUID& id, SledTransferStatus status) {
                                                 if (id == beforeVanishing && status != SledTransferStatus::transferring) {
                                                     fs::remove(vanishing);
                                                 }
                                             }));
    ASSERT_EQ(results.size(), jobs.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.label);
        const auto& result = resultFor(results, jobs[i].recordID);
        if (c.expectedFailure.empty()) {
            EXPECT_TRUE(result.success) << result.errorMessage.value_or("");
            EXPECT_TRUE(result.isVerified);
            EXPECT_EQ(vornReadFile(dir / "dst" / c.name), c.label);
        } else {
            EXPECT_FALSE(result.success);
            ASSERT_TRUE(result.errorMessage.has_value());
            EXPECT_NE(result.errorMessage->find(c.expectedFailure), std::string::npos) << *result.errorMessage;
            EXPECT_EQ(log.of(jobs[i].recordID).back().rfind("failed 0/", 0), 0u);
        }
    }
    EXPECT_TRUE(relayFilesLeft().empty());
}

TEST(ParallelSledTransferEngine, ADestinationWithoutRoomFailsOnlyTheJobThatDoesNotFit) {
    VornTestTmpfs small("1m");
    VORN_REQUIRE_TMPFS(small);
    VornTestTempDir dir;
    const auto big = dir.write("big.bin", std::string(2 * 1024 * 1024, 'B'));
    const auto little = dir.write("little.txt", "fits");
    const auto bigJob = job("big.bin", big.string(), (small / "big.bin").string(), 2 * 1024 * 1024);
    const auto littleJob = job("little.txt", little.string(), (small / "little.txt").string(), 4);
    const auto results =
        engine.executeBatch({bigJob, littleJob}, LocalFileProvider(), LocalFileProvider(), 1, true, {});
    const auto& bigResult = resultFor(results, bigJob.recordID);
    EXPECT_FALSE(bigResult.success);
    EXPECT_NE(bigResult.errorMessage.value_or("").find("No space left on device"), std::string::npos)
        << bigResult.errorMessage.value_or("");
    // Named as the user chose it, not as the descriptor path it was written through.
    EXPECT_NE(bigResult.errorMessage.value_or("").find((small / "big.bin").string()), std::string::npos)
        << bigResult.errorMessage.value_or("");
    EXPECT_EQ(bigResult.errorMessage.value_or("").find("/proc/"), std::string::npos) << bigResult.errorMessage.value_or("");
    EXPECT_TRUE(resultFor(results, littleJob.recordID).success);
    EXPECT_EQ(vornReadFile(small / "little.txt"), "fits");
    EXPECT_FALSE(fs::exists(small / "big.bin"));
    for (const auto& item : fs::directory_iterator(small.path())) {
        EXPECT_EQ(item.path().filename(), "little.txt") << "nothing half-written stays behind";
    }
    EXPECT_TRUE(relayFilesLeft().empty());
}

// The same from a server: each back end writes its own partial file beside the destination, and
// its failure (sftp's words, or this process's own) still names the file the user chose.
TEST(ParallelSledTransferEngine, ADownloadThatFillsTheDiskNamesTheChosenFile) {
    VORN_REQUIRE_SERVICE("sshd");
    VORN_REQUIRE_SERVICE("s3");
    VornTestTmpfs small("1m");
    VORN_REQUIRE_TMPFS(small);
    const std::string big(2 * 1024 * 1024, 'B');
    const std::string name = "full-" + VornUUID::random().uuidString() + ".bin";
    const fs::path onServer = fs::path(VornTestServices::value("SSHD_HOME")) / name;
    std::ofstream(onServer, std::ios::binary) << big;
    const struct RemoveAfter {
        fs::path path;
        ~RemoveAfter() {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    } removeAfter{onServer};
    const S3R2StorageProvider bucket = s3TestProvider();
    const std::string key = s3TestFolder() + "/" + name;
    VornTestTempDir dir;
    bucket.uploadFile(dir.write("up", big), key, std::nullopt, {}, {});
    const SFTPStorageProvider server = sftpTestProvider();

    const struct {
        std::string label;
        const SledStorageProvider& source;
        std::string path;
    } cases[] = {{"sftp", server, onServer.string()}, {"s3", bucket, key}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path chosen = small / (c.label + ".bin");
        const auto copy = job(name, c.path, chosen.string(), static_cast<std::int64_t>(big.size()),
                              SledTransferDirection::download);
        const auto results = engine.executeBatch({copy}, c.source, LocalFileProvider(), 1, true, {});
        ASSERT_EQ(results.size(), 1u);
        const std::string message = results[0].errorMessage.value_or("");
        EXPECT_FALSE(results[0].success);
        EXPECT_NE(message.find(chosen.string()), std::string::npos) << message;
        EXPECT_EQ(message.find("/proc/"), std::string::npos) << message;
        EXPECT_TRUE(fs::is_empty(small.path())) << "nothing half-written stays behind";
    }
    SFTPStorageProvider::closeSharedConnections();
}

namespace {

// Hidden partial files ("." names) left in a folder: a finished job leaves none behind.
std::vector<std::string> hiddenFilesIn(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& item : fs::directory_iterator(folder)) {
        if (item.path().filename().string().starts_with(".")) {
            found.push_back(item.path().filename().string());
        }
    }
    return found;
}

}  // namespace

TEST(ParallelSledTransferEngine, ACopyThatFailsOrIsCancelledKeepsTheFileThatWasThere) {
    struct Case {
        std::string label;
        Script script;
        bool cancel;
        std::string finalUpdate;
    };
    const std::string wrong(64, 'e');
    const std::vector<Case> cases = {
        {"the source's digest disagrees", Script{.reportedSHA256 = wrong}, false,
         "failed 0/1001 !" + mismatchText("keep.txt", wrong, digest1001)},
        {"the source fails", Script{.error = std::make_exception_ptr(SledError::connectionFailed("reset"))}, false,
         "failed 0/1001 !" + SledError::connectionFailed("reset").description()},
        {"the batch is cancelled", Script{.waitForStop = true}, true, "cancelled 0/1001 !Transfer cancelled."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        VornTestTempDir dir;
        const fs::path destination = dir.write("keep.txt", "the old file");
        const VornTestMemoryProvider remote;
        remote.addFile("/keep.txt", content1001);
        std::stop_source stop;
        Script script = c.script;
        if (c.cancel) {
            // Stopped while the bytes are on their way, after the copy has begun.
            script.onStart = [&stop] { stop.request_stop(); };
        }
        remote.setScript(Operation::download, "/keep.txt", script);
        UpdateLog log;
        const auto spec = job("keep.txt", "/keep.txt", destination.string(), 1001);
        const auto results =
            engine.executeBatch({spec}, remote, LocalFileProvider(), 1, true, log.callback(), stop.get_token());
        ASSERT_EQ(results.size(), 1u);
        EXPECT_FALSE(results[0].success);
        EXPECT_EQ(log.of(spec.recordID).back(), c.finalUpdate);
        EXPECT_EQ(vornReadFile(destination), "the old file");
        EXPECT_TRUE(hiddenFilesIn(dir.path()).empty());
    }
}

TEST(ParallelSledTransferEngine, VerifiedOnlyWhenTheDestinationsOwnDigestAgrees) {
    struct Case {
        std::string label;
        bool localSource;  // upload route; else a relay between two remote stores
        std::optional<std::optional<std::string>> stored;  // the destination's digest of what it stored
        bool success;
        bool verified;
    };
    const std::string wrong(64, '1');
    const std::vector<Case> cases = {
        {"upload, the server hashes what it stored", true, std::nullopt, true, true},
        {"upload, the server cannot hash", true, std::optional<std::string>(), true, false},
        {"upload, the server's digest is not 64 hex digits", true, std::optional<std::string>("abc"), true, false},
        {"upload, the server's digest differs", true, std::optional<std::string>(wrong), false, false},
        {"relay, the destination hashes what it stored", false, std::nullopt, true, true},
        {"relay, the destination cannot hash", false, std::optional<std::string>(), true, false},
        {"relay, the destination's digest differs", false, std::optional<std::string>(wrong), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        VornTestTempDir dir;
        const fs::path local = dir.write("a.bin", content1001);
        const VornTestMemoryProvider source;
        const VornTestMemoryProvider destination;
        source.addFile("/a.bin", content1001);
        if (c.stored) {
            destination.setScript(Operation::upload, VornTestMemoryProvider::anyPath,
                                  Script{.reportedSHA256 = *c.stored});
        }
        const auto spec = job("a.bin", c.localSource ? local.string() : "/a.bin", "/out/a.bin", 1001);
        UpdateLog log;
        const auto results = c.localSource
                                 ? engine.executeBatch({spec}, LocalFileProvider(), destination, 1, true, log.callback())
                                 : engine.executeBatch({spec}, source, destination, 1, true, log.callback());
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].success, c.success) << results[0].errorMessage.value_or("");
        EXPECT_EQ(results[0].isVerified, c.verified);
        if (c.success) {
            EXPECT_EQ(results[0].sha256Hex, digest1001);
            EXPECT_EQ(log.of(spec.recordID).back(),
                      std::string("completed 1001/1001 #D") + (c.verified ? " verified" : ""));
        } else {
            EXPECT_EQ(results[0].errorMessage, mismatchText("a.bin", digest1001, wrong));
        }
    }
}

TEST(ParallelSledTransferEngine, SpecialFilesAreRefusedBeforeAnythingReadsThem) {
    VornTestTempDir dir;
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nothing ever writes to the FIFO: reading it (to hash or to copy) would wait for ever.
    for (const fs::path& special : {fifo, fs::path("/dev/zero")}) {
        for (const bool remoteDestination : {true, false}) {
            for (const bool verify : {true, false}) {
                SCOPED_TRACE(special.string() + (remoteDestination ? " to a remote store" : " to this disk") +
                             (verify ? ", verified" : ""));
                const VornTestMemoryProvider destination;
                const fs::path localCopy = dir / "copies" / "copy";
                const auto spec = job(special.filename().string(), special.string(),
                                      remoteDestination ? "/copy" : localCopy.string(), 0);
                const auto results =
                    remoteDestination ? engine.executeBatch({spec}, LocalFileProvider(), destination, 1, verify, {})
                                      : engine.executeBatch({spec}, LocalFileProvider(), LocalFileProvider(), 1,
                                                            verify, {});
                ASSERT_EQ(results.size(), 1u);
                EXPECT_FALSE(results[0].success);
                EXPECT_FALSE(results[0].errorMessage.value_or("").empty());
                EXPECT_TRUE(destination.calls().empty());
                EXPECT_FALSE(fs::exists(localCopy));
            }
        }
    }
    EXPECT_TRUE(relayFilesLeft().empty());
}

TEST(ParallelSledTransferEngine, OneDestinationIsWrittenByOneJobOfABatch) {
    VornTestTempDir dir;
    const fs::path first = dir.write("in/first.txt", "first");
    const fs::path second = dir.write("in/second.txt", "second");
    const fs::path third = dir.write("in/third.txt", "third");
    const fs::path target = dir / "out" / "same.txt";
    const std::string spelledOtherwise = (dir / "out" / "." / "same.txt").string();
    std::vector<SledTransferJobSpec> jobs = {
        job("first.txt", first.string(), target.string(), 5),
        job("second.txt", second.string(), spelledOtherwise, 6),
        job("third.txt", third.string(), (dir / "out" / "third.txt").string(), 5),
    };
    fs::create_directories(dir / "out");
    const auto results = engine.executeBatch(jobs, LocalFileProvider(), LocalFileProvider(), 3, true, {});
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(resultFor(results, jobs[0].recordID).success);
    EXPECT_TRUE(resultFor(results, jobs[2].recordID).success);
    const auto& refused = resultFor(results, jobs[1].recordID);
    EXPECT_FALSE(refused.success);
    EXPECT_FALSE(refused.isVerified);
    EXPECT_EQ(refused.errorMessage, "Another file of this batch already goes to '" + spelledOtherwise + "'.");
    EXPECT_EQ(vornReadFile(target), "first");

    // Remote keys are exact: the same text twice is one object.
    const VornTestMemoryProvider store;
    const std::vector<SledTransferJobSpec> uploads = {job("a", first.string(), "/k", 5),
                                                      job("b", second.string(), "/k", 6)};
    const auto uploaded = engine.executeBatch(uploads, LocalFileProvider(), store, 2, false, {});
    EXPECT_TRUE(resultFor(uploaded, uploads[0].recordID).success);
    EXPECT_FALSE(resultFor(uploaded, uploads[1].recordID).success);
    EXPECT_EQ(store.file("/k"), "first");
}

TEST(ParallelSledTransferEngine, NothingIsWrittenThroughASymbolicLink) {
    VornTestTempDir dir;
    const fs::path outside = dir.write("outside/victim.txt", "not part of the copy");
    const fs::path source = dir.write("in/victim.txt", "new bytes");
    const fs::path sourceOther = dir.write("in/top.txt", "top");
    fs::create_directories(dir / "out");
    fs::create_symlink(outside, dir / "out" / "link.txt");
    fs::create_directory_symlink(dir / "outside", dir / "out" / "sub");

    struct Case {
        std::string label;
        std::vector<std::string> destinations;  // the refused one is the last
    };
    const std::vector<Case> cases = {
        {"the destination is a link to a file", {(dir / "out" / "link.txt").string()}},
        {"a folder on the way is a link",
         {(dir / "out" / "top.txt").string(), (dir / "out" / "sub" / "victim.txt").string()}},
    };
    for (const bool remoteSource : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.label + (remoteSource ? ", download" : ", local copy"));
            const VornTestMemoryProvider remote;
            remote.addFile("/top.txt", "top");
            remote.addFile("/victim.txt", "new bytes");
            std::vector<SledTransferJobSpec> jobs;
            for (const std::string& destination : c.destinations) {
                const bool victim = &destination == &c.destinations.back();
                jobs.push_back(job(victim ? "victim.txt" : "top.txt",
                                   remoteSource ? (victim ? "/victim.txt" : "/top.txt")
                                                : (victim ? source.string() : sourceOther.string()),
                                   destination, 9));
            }
            const auto results = remoteSource
                                     ? engine.executeBatch(jobs, remote, LocalFileProvider(), 2, true, {})
                                     : engine.executeBatch(jobs, LocalFileProvider(), LocalFileProvider(), 2, true, {});
            const auto& refused = resultFor(results, jobs.back().recordID);
            EXPECT_FALSE(refused.success);
            EXPECT_NE(refused.errorMessage.value_or("").find("is a symbolic link"), std::string::npos)
                << refused.errorMessage.value_or("");
            EXPECT_EQ(vornReadFile(outside), "not part of the copy");
            EXPECT_TRUE(fs::is_symlink(dir / "out" / "link.txt"));
            EXPECT_TRUE(fs::is_symlink(dir / "out" / "sub"));
            EXPECT_TRUE(hiddenFilesIn(dir / "outside").empty());
            EXPECT_TRUE(hiddenFilesIn(dir / "out").empty());
        }
    }
}
