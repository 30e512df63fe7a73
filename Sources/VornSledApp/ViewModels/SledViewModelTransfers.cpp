#include "SledViewModel.h"

#include "DualPaneSyncPlanner.h"
#include "RecursiveDirectoryWalker.h"
#include "SledPathInside.h"
#include "VornLocalizationStore.h"
#include "VornTaskCancelled.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <system_error>
#include <thread>

namespace {

constexpr int walkDepth = 12;

// Whether listings of the endpoint show names beginning with ".": this disk's and SFTP's leave
// them out, an object store lists every key.
bool listsHiddenNames(const PaneEndpoint& endpoint, const std::vector<ConnectionProfile>& profiles) {
    if (endpoint.isLocal()) {
        return false;
    }
    const auto profile = std::find_if(profiles.begin(), profiles.end(), [&](const ConnectionProfile& candidate) {
        return candidate.id == *endpoint.profileID();
    });
    return profile != profiles.end() && isObjectStorage(profile->kind);
}

// A sync compares both sides on the same names: where one side's listing cannot show hidden
// names, the other side's are not compared either, or each would read as missing there.
bool comparesWithoutHiddenNames(const PaneEndpoint& left, const PaneEndpoint& right,
                                const std::vector<ConnectionProfile>& profiles) {
    return !listsHiddenNames(left, profiles) || !listsHiddenNames(right, profiles);
}

bool isHiddenFile(const SledFileEntry& entry) {
    return !entry.isDirectory && entry.name.starts_with('.');
}

// The listing without its hidden files: `entries` itself when it holds none, else a copy in `kept`.
const std::vector<SledFileEntry>& withoutHiddenFiles(const std::vector<SledFileEntry>& entries,
                                                     std::vector<SledFileEntry>& kept) {
    if (std::none_of(entries.begin(), entries.end(), isHiddenFile)) {
        return entries;
    }
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(kept),
                 [](const SledFileEntry& entry) { return !isHiddenFile(entry); });
    return kept;
}

// The hidden files of a one-level listing that no pattern excludes, as skipped entries with their
// reason (folders are never compared there).
std::vector<SkippedFileNode> hiddenFiles(const std::vector<SledFileEntry>& entries, const std::vector<std::string>& excluded) {
    std::vector<SkippedFileNode> hidden;
    for (const SledFileEntry& entry : entries) {
        if (isHiddenFile(entry) && !DualPaneSyncPlanner::shouldExclude(entry.name, excluded)) {
            hidden.push_back({entry.name, SledSkippedEntry{entry.name, entry.path, false, sledHiddenItemReason(),
                                                           SledSkippedEntry::Why::hidden}});
        }
    }
    return hidden;
}
// How long progress reports may gather before the transfer list shows them.
constexpr int progressFlushMilliseconds = 40;

std::string destinationBase(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') {
        return folder;
    }
    return folder + "/";
}

SledTransferDirection directionFor(const PaneEndpoint& source, const PaneEndpoint& destination) {
    if (source.isLocal()) {
        return destination.isLocal() ? SledTransferDirection::localCopy : SledTransferDirection::upload;
    }
    return destination.isLocal() ? SledTransferDirection::download : SledTransferDirection::remoteToRemote;
}

// The folder below `root` that holds the file at `relativePath` ("a/b.txt" → root + "/a"), and the
// file's name there.
std::pair<std::string, std::string> folderAndName(const std::string& root, const std::string& relativePath) {
    const std::size_t slash = relativePath.rfind('/');
    if (slash == std::string::npos) {
        return {root, relativePath};
    }
    return {destinationBase(root) + relativePath.substr(0, slash), relativePath.substr(slash + 1)};
}

// The file is still the one the plan listed: same kind, size and time, and for object storage the
// same entity tag. A listing's own precision is the same at both readings, so equality is exact.
bool sameAsListed(const SledFileEntry& listed, const SledFileEntry& now) {
    return listed.isDirectory == now.isDirectory && listed.isSymbolicLink == now.isSymbolicLink &&
           listed.sizeBytes == now.sizeBytes && listed.modifiedAt == now.modifiedAt &&
           (!listed.eTag || listed.eTag == now.eTag);
}

// What a sync row's target side held when it was listed, for the engine to hold the copy to at
// the moment it replaces the file.
SledListedDestination listedOf(const std::optional<SledFileEntry>& target) {
    if (!target) {
        return SledListedDestination{};
    }
    return SledListedDestination{true, target->sizeBytes, target->modifiedAt};
}

// A new row of the transfer list for the file at `relativePath`, before any of its bytes moved.
SledTransferRecord newRecord(const std::string& relativePath, const std::string& sourceLabel,
                             const std::string& destinationLabel, SledTransferDirection direction,
                             SledTransferStatus status, const VornDate& createdAt) {
    SledTransferRecord record;
    record.id = VornUUID::random();
    record.fileName = relativePath;
    record.sourceLabel = sourceLabel;
    record.destinationLabel = destinationLabel;
    record.direction = direction;
    record.status = status;
    record.createdAt = createdAt;
    return record;
}

// The jobs one of the two back ends can never carry out (a path longer than its tools carry, a
// name it cannot hold), each with the reason, by index.
std::map<std::size_t, std::string> jobsOutOfReach(const std::vector<SledTransferJobSpec>& jobs,
                                                  const SledStorageProvider& from, const SledStorageProvider& to) {
    std::map<std::size_t, std::string> refused;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        std::optional<std::string> reason = from.pathOutOfReach(jobs[index].sourcePath, false);
        if (!reason) {
            reason = to.pathOutOfReach(jobs[index].destinationPath, true);
        }
        if (reason) {
            refused.emplace(index, std::move(*reason));
        }
    }
    return refused;
}

bool isFinal(SledTransferStatus status) {
    return status == SledTransferStatus::completed || status == SledTransferStatus::failed ||
           status == SledTransferStatus::cancelled;
}

}  // namespace

void SledViewModel::insertTransferRecord(SledTransferRecord record) {
    transferList_.insertFront(std::move(record));
    emit transfersChanged();
}

void SledViewModel::beginBatch() {
    if (activeBatches_++ == 0) {
        emit isSyncingOrTransferringChanged();
    }
}

void SledViewModel::endBatch() {
    if (activeBatches_ > 0 && --activeBatches_ == 0) {
        emit isSyncingOrTransferringChanged();
    }
}

void SledViewModel::transferSelected(PaneBrowserState* from, PaneBrowserState* to) {
    if (!from->selectedPaths().empty() && !requireCurrentListing(from)) {
        return;
    }
    const std::vector<SledFileEntry> selected = from->selectedEntries();
    if (selected.empty()) {
        showToast(t("Select one or more files or folders to transfer.",
                    "Transfer için bir veya daha fazla dosya/klasör seçin."),
                  true);
        return;
    }
    const TransferSide source{from->listedPlace()->endpoint, from->listedPlace()->path};
    const TransferSide destination{to->endpoint(), to->currentPath()};
    bool hasFolder = false;
    for (const SledFileEntry& entry : selected) {
        hasFolder = hasFolder || entry.isDirectory;
    }
    if (!hasFolder) {
        std::vector<SledRelativeFile> files;
        for (const SledFileEntry& entry : selected) {
            files.push_back({entry.name, entry});
        }
        runTransferRelativeFiles(std::move(files), source, destination);
        return;
    }
    const std::vector<std::string> excluded = settings_.syncExcludedPatterns;
    const std::vector<ConnectionProfile> profiles = profiles_;
    const std::string sourceLabel = endpointTitle(source.endpoint);
    const std::string destinationLabel = endpointTitle(destination.endpoint);
    beginBatch();
    background([this, selected, source, destination, excluded, profiles, sourceLabel,
                destinationLabel](std::stop_token stop) {
        std::vector<SledRelativeFile> files;
        std::vector<SkippedFileNode> skipped;
        std::optional<std::string> failure;
        try {
            auto provider = makeProvider(source.endpoint, profiles);
            for (const SledFileEntry& entry : selected) {
                if (!entry.isDirectory) {
                    files.push_back({entry.name, entry});
                    continue;
                }
                // Links inside the folder are not followed out of it, and names that cannot be
                // one path component are not built into paths: both are reported, not dropped.
                RecursiveDirectoryWalker::Collected found = RecursiveDirectoryWalker::collectFilesAndSkipped(
                    entry.path, *provider, excluded, walkDepth, stop, true);
                for (RelativeFileNode& node : found.files) {
                    files.push_back({entry.name + "/" + node.relativePath, std::move(node.entry)});
                }
                for (SkippedFileNode& node : found.skipped) {
                    node.relativePath = entry.name + "/" + node.relativePath;
                    skipped.push_back(std::move(node));
                }
            }
        } catch (...) {
            failure = describe(std::current_exception());
        }
        // A large folder's records and jobs are made here, so that the GUI thread only lists them.
        const bool empty = files.empty() && skipped.empty();
        TransferBatch batch;
        if (!failure && !empty) {
            batch = makeTransferBatch(files, skipped, source, destination, sourceLabel, destinationLabel);
        }
        onGUI([this, batch = std::move(batch), failure, empty, source, destination]() mutable {
            endBatch();
            if (failure) {
                showToast(*failure, true);
                return;
            }
            if (empty) {
                showToast(t("Selected folder(s) contain no files.", "Seçilen klasörlerde aktarılacak dosya yok."),
                          true);
                return;
            }
            startTransferBatch(std::move(batch), source, destination);
        });
    });
}

void SledViewModel::handleDroppedLocalURLs(const std::vector<std::filesystem::path>& urls, PaneBrowserState* into) {
    std::vector<SledRelativeFile> files;
    for (const std::filesystem::path& url : urls) {
        std::error_code error;
        const auto status = std::filesystem::status(url, error);
        if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
            continue;
        }
        SledFileEntry entry;
        entry.name = url.filename().string();
        entry.path = url.string();
        const auto size = std::filesystem::file_size(url, error);
        entry.sizeBytes = error ? 0 : static_cast<std::int64_t>(size);
        // Dropped by the user: a dropped link is sent as its target.
        files.push_back({entry.name, entry, true});
    }
    if (files.empty()) {
        return;
    }
    const TransferSide source{PaneEndpoint::local(), urls.front().parent_path().string()};
    runTransferRelativeFiles(std::move(files), source, {into->endpoint(), into->currentPath()});
}

SledViewModel::TransferBatch SledViewModel::makeTransferBatch(const std::vector<SledRelativeFile>& files,
                                                             const std::vector<SkippedFileNode>& skipped,
                                                             const TransferSide& source,
                                                             const TransferSide& destination,
                                                             const std::string& sourceLabel,
                                                             const std::string& destinationLabel) {
    TransferBatch batch;
    batch.base = destinationBase(destination.folder);
    const SledTransferDirection direction = directionFor(source.endpoint, destination.endpoint);
    const VornDate now = vornDateNow();
    std::vector<std::string> relativePaths;
    batch.records.reserve(files.size());
    batch.jobs.reserve(files.size());
    relativePaths.reserve(files.size());
    const auto recordOf = [&](const std::string& relativePath, SledTransferStatus status) {
        return newRecord(relativePath, sourceLabel, destinationLabel, direction, status, now);
    };
    for (const SledRelativeFile& file : files) {
        SledTransferRecord record = recordOf(file.relativePath, SledTransferStatus::queued);
        record.totalBytes = file.entry.sizeBytes;
        SledTransferJobSpec job{record.id, file.entry.name, file.entry.path, batch.base + file.relativePath,
                                file.entry.sizeBytes, direction};
        // Everything lands inside the folder the user chose, however the names read.
        job.destinationRoot = destination.folder;
        if (source.endpoint.isLocal() && !file.namedByUser && !file.entry.isSymbolicLink) {
            job.sourceRoot = source.folder;
        }
        job.listedDestination = file.listedDestination;
        batch.jobs.push_back(std::move(job));
        relativePaths.push_back(file.relativePath);
        batch.records.push_back(std::move(record));
    }
    // What a walk left out is a failure of this batch, each with its reason: never a silent gap.
    for (const SkippedFileNode& node : skipped) {
        SledTransferRecord record = recordOf(node.relativePath, SledTransferStatus::failed);
        record.errorMessage = node.entry.reason;
        batch.records.push_back(std::move(record));
    }
    batch.failedBeforeStart = skipped.size();
    batch.parents = RecursiveDirectoryWalker::requiredParentDirectories(relativePaths);
    return batch;
}

void SledViewModel::runTransferRelativeFiles(std::vector<SledRelativeFile> files, const TransferSide& source,
                                             const TransferSide& destination, std::vector<SkippedFileNode> skipped,
                                             std::size_t refusedEarlier) {
    TransferBatch batch = makeTransferBatch(files, skipped, source, destination, endpointTitle(source.endpoint),
                                            endpointTitle(destination.endpoint));
    batch.failedBeforeStart += refusedEarlier;
    startTransferBatch(std::move(batch), source, destination);
}

void SledViewModel::startTransferBatch(TransferBatch batch, const TransferSide& source,
                                       const TransferSide& destination) {
    transferList_.insertFrontBatch(std::move(batch.records));
    emit transfersChanged();

    beginBatch();
    const int workers = static_cast<int>(settings_.parallelWorkers);
    const bool verify = settings_.verifySHA256OnTransfer;
    const std::vector<ConnectionProfile> profiles = profiles_;
    background([this, jobs = std::move(batch.jobs), parents = std::move(batch.parents), base = std::move(batch.base),
                skippedCount = batch.failedBeforeStart, source, destination, workers, verify,
                profiles](std::stop_token stop) {
        std::shared_ptr<SledStorageProvider> from;
        std::shared_ptr<SledStorageProvider> to;
        try {
            from = makeProvider(source.endpoint, profiles);
            to = makeProvider(destination.endpoint, profiles);
        } catch (...) {
            const std::string failure = describe(std::current_exception());
            std::vector<VornUUID> ids;
            for (const SledTransferJobSpec& job : jobs) {
                ids.push_back(job.recordID);
            }
            onGUI([this, ids, failure] {
                // A batch that cannot start ends its records instead of leaving them queued.
                failRecords(ids, failure);
                showToast(failure, true);
                endBatch();
                emit transferBatchFinished();
            });
            return;
        }
        // Such a file fails here with its reason, before any folder is made for it, instead of
        // with what it would meet half way.
        const std::map<std::size_t, std::string> refused = jobsOutOfReach(jobs, *from, *to);
        std::vector<SledTransferJobSpec> reachable;
        std::vector<std::string> reachableParents;
        if (!refused.empty()) {
            std::vector<std::string> relativePaths;
            for (std::size_t index = 0; index < jobs.size(); ++index) {
                const SledTransferJobSpec& job = jobs[index];
                if (const auto reason = refused.find(index); reason != refused.end()) {
                    enqueueProgress(job.recordID, {SledTransferStatus::failed, 0, job.expectedSize, std::nullopt,
                                                   false, reason->second});
                    continue;
                }
                reachable.push_back(job);
                relativePaths.push_back(job.destinationPath.substr(base.size()));
            }
            reachableParents = RecursiveDirectoryWalker::requiredParentDirectories(relativePaths);
        }
        const std::vector<SledTransferJobSpec>& runnable = refused.empty() ? jobs : reachable;
        for (const std::string& parent : refused.empty() ? parents : reachableParents) {
            // On this disk the engine makes the folders itself, from the chosen folder down and
            // never through a link; elsewhere only folders inside the chosen one are made.
            if (destination.endpoint.isLocal() || !sledPathBelow(destination.folder, base + parent)) {
                continue;
            }
            try {
                to->createDirectory(base + parent, stop);
            } catch (...) {
                // A folder that cannot be made shows up as the failed jobs of its files.
            }
        }
        const auto results = transferEngine_.executeBatch(
            runnable, *from, *to, workers, verify,
            [this](const VornUUID& id, SledTransferStatus status, std::int64_t transferred, std::int64_t total,
                   const std::optional<std::string>& sha, bool verified, const std::optional<std::string>& error) {
                enqueueProgress(id, {status, transferred, total, sha, verified, error});
            },
            stop);
        std::size_t succeeded = 0;
        std::size_t unverified = 0;
        for (const SledTransferJobResult& result : results) {
            if (result.success) {
                ++succeeded;
                if (!result.isVerified) {
                    ++unverified;
                }
            }
        }
        onGUI([this, succeeded, total = results.size() + skippedCount + refused.size(), unverified, verify,
               destination] {
            flushProgress();
            refreshPanesShowing({destination.endpoint, destination.folder});
            const std::string counts = std::to_string(succeeded) + "/" + std::to_string(total);
            std::string en;
            std::string tr;
            if (succeeded == 0) {
                // Nothing landed, so nothing was verified or done: the counts say it all.
                en = "Transferred " + counts + " file(s)";
                tr = counts + " dosya aktarıldı";
            } else if (!verify) {
                en = "Transferred " + counts + " file(s) (done)";
                tr = counts + " dosya aktarıldı (tamam)";
            } else if (unverified == 0) {
                en = "Transferred " + counts + " file(s) (SHA-256 verified)";
                tr = counts + " dosya aktarıldı (SHA-256 doğrulandı)";
            } else {
                // Verification is claimed only for files whose digests were really compared.
                const std::string number = std::to_string(unverified);
                en = "Transferred " + counts + " file(s) (" + number + " not verified by SHA-256)";
                tr = counts + " dosya aktarıldı (" + number + " dosya SHA-256 ile doğrulanamadı)";
            }
            showToast(vornText(en, tr, std::nullopt, language_), succeeded < total);
            endBatch();
            emit transferBatchFinished();
        });
    });
}

void SledViewModel::failRecords(const std::vector<VornUUID>& ids, const std::string& errorText) {
    for (const VornUUID& id : ids) {
        transferList_.update(id, [&](SledTransferRecord& record) {
            if (!isFinal(record.status)) {
                record.status = SledTransferStatus::failed;
                record.errorMessage = errorText;
            }
        });
    }
    emit transfersChanged();
}

void SledViewModel::enqueueProgress(const VornUUID& id, ProgressUpdate update) {
    bool schedule = false;
    {
        std::lock_guard lock(progressLock_);
        // try_emplace moves nothing when the record already has a pending report.
        auto [slot, inserted] = pendingProgress_.try_emplace(id, std::move(update));
        if (!inserted) {
            // Merged as the record would have applied both: a report without a total or a digest
            // keeps the earlier one.
            ProgressUpdate& pending = slot->second;
            if (isFinal(pending.status) && !isFinal(update.status)) {
                // A record's end, with its message and digest, is never covered by a late report.
                return;
            }
            if (update.totalBytes <= 0) {
                update.totalBytes = pending.totalBytes;
            }
            if (!update.sha256Hex) {
                update.sha256Hex = pending.sha256Hex;
            }
            pending = std::move(update);
        }
        if (!progressFlushScheduled_) {
            progressFlushScheduled_ = true;
            schedule = true;
        }
    }
    if (schedule) {
        // Reports that come within the same short while reach the list together: small files end
        // by the thousand a second, and each flush costs the GUI thread a pass over the list and
        // its signals. The batch's own end flushes at once.
        onGUI([this] { QTimer::singleShot(progressFlushMilliseconds, this, [this] { flushProgress(); }); });
    }
}

void SledViewModel::flushProgress() {
    std::unordered_map<VornUUID, ProgressUpdate> updates;
    {
        std::lock_guard lock(progressLock_);
        updates.swap(pendingProgress_);
        progressFlushScheduled_ = false;
    }
    if (updates.empty()) {
        return;
    }
    int firstRow = std::numeric_limits<int>::max();
    int lastRow = -1;
    for (auto& [id, update] : updates) {
        const int row = applyProgress(id, std::move(update));
        if (row >= 0) {
            firstRow = std::min(firstRow, row);
            lastRow = std::max(lastRow, row);
        }
    }
    transferList_.rowsChanged(firstRow, lastRow);
    emit transfersChanged();
}

int SledViewModel::applyProgress(const VornUUID& id, ProgressUpdate&& update) {
    return transferList_.updateSilently(id, [&](SledTransferRecord& record) {
        record.status = update.status;
        record.transferredBytes = update.transferredBytes;
        if (update.totalBytes > 0) {
            record.totalBytes = update.totalBytes;
        }
        if (update.sha256Hex) {
            record.sha256Hex = std::move(update.sha256Hex);
        }
        record.isSHA256Verified = update.isVerified;
        record.errorMessage = std::move(update.errorMessage);
        if (update.status == SledTransferStatus::completed) {
            record.completedAt = vornDateNow();
        }
    });
}

// --- Sync -----------------------------------------------------------------------------------------

void SledViewModel::setComputingSyncPlan(bool computing) {
    if (computing != isComputingSyncPlan_) {
        isComputingSyncPlan_ = computing;
        emit isComputingSyncPlanChanged();
    }
    updateSyncPlanState();
}

void SledViewModel::setSyncPlan(std::vector<SyncPlanItem> items, std::optional<SyncPlanContext> context) {
    syncPlanContext_ = std::move(context);
    syncPlanInvalidated_ = false;
    syncPlanList_.replaceAll(std::move(items));
    emit syncPlanItemsChanged();
    updateSyncPlanState();
}

void SledViewModel::setSyncPlanError(std::optional<std::string> error) {
    if (error != syncPlanError_) {
        syncPlanError_ = std::move(error);
        emit syncPlanErrorChanged();
    }
    updateSyncPlanState();
}

void SledViewModel::updateSyncPlanState() {
    const bool stale = syncPlanContext_ && (syncPlanInvalidated_ || !(leftPane_->place() == syncPlanContext_->left) ||
                                            !(rightPane_->place() == syncPlanContext_->right));
    const bool hasWork = std::any_of(syncPlanItems().begin(), syncPlanItems().end(), [](const SyncPlanItem& item) {
        return item.action() != SyncActionKind::identicalSkip;
    });
    const bool runnable = syncPlanContext_ && !stale && !isComputingSyncPlan_ && !syncPlanError_ && hasWork;
    if (stale != isSyncPlanStale_) {
        isSyncPlanStale_ = stale;
        emit isSyncPlanStaleChanged();
    }
    if (runnable != isSyncPlanRunnable_) {
        isSyncPlanRunnable_ = runnable;
        emit isSyncPlanRunnableChanged();
    }
}

void SledViewModel::invalidateSyncPlan() {
    if (syncPlanContext_ && !syncPlanInvalidated_) {
        syncPlanInvalidated_ = true;
        updateSyncPlanState();
    }
}

std::string SledViewModel::syncPlanPlacesTitle() const {
    if (!syncPlanContext_) {
        return {};
    }
    return endpointTitle(syncPlanContext_->left.endpoint) + ": " + syncPlanContext_->left.path + "  \u2194  " +
           endpointTitle(syncPlanContext_->right.endpoint) + ": " + syncPlanContext_->right.path;
}

void SledViewModel::recomputeSyncPlan() {
    const std::uint64_t generation = ++syncPlanGeneration_;
    setSyncPlanError(std::nullopt);
    // A failed recompute leaves no plan: the old one compared what the user has since asked to
    // compare afresh, and must not stay runnable under the new request.
    const auto fail = [this](const std::string& why) {
        setSyncPlan({}, std::nullopt);
        setSyncPlanError(why);
    };
    if (!syncIncludeSubfolders_) {
        setComputingSyncPlan(false);
        for (PaneBrowserState* pane : {leftPane_, rightPane_}) {
            if (!requireCurrentListing(pane)) {
                fail(toastMessage_.value_or(std::string()));
                return;
            }
            if (pane->isListingIncomplete()) {
                const std::string why = t("A folder could not be listed completely, so no sync plan is made from it.",
                                          "Bir klasör tam listelenemediği için ondan eşitleme planı yapılmaz.");
                showToast(why, true);
                fail(why);
                return;
            }
        }
        const bool leaveOutHidden = comparesWithoutHiddenNames(leftPane_->listedPlace()->endpoint,
                                                               rightPane_->listedPlace()->endpoint, profiles_);
        std::vector<SledFileEntry> leftShown;
        std::vector<SledFileEntry> rightShown;
        const std::vector<SledFileEntry>& leftEntries =
            leaveOutHidden ? withoutHiddenFiles(leftPane_->entries(), leftShown) : leftPane_->entries();
        const std::vector<SledFileEntry>& rightEntries =
            leaveOutHidden ? withoutHiddenFiles(rightPane_->entries(), rightShown) : rightPane_->entries();
        std::vector<SyncPlanItem> plan = DualPaneSyncPlanner::plan(leftEntries, rightEntries, syncMode_,
                                                                   syncDeleteOrphans_, settings_.syncExcludedPatterns);
        if (leaveOutHidden) {
            DualPaneSyncPlanner::addSkipped(plan, hiddenFiles(leftPane_->entries(), settings_.syncExcludedPatterns),
                                            hiddenFiles(rightPane_->entries(), settings_.syncExcludedPatterns));
        }
        setSyncPlan(std::move(plan), SyncPlanContext{*leftPane_->listedPlace(), *rightPane_->listedPlace()});
        return;
    }
    setComputingSyncPlan(true);
    const SyncPlanContext context{leftPane_->place(), rightPane_->place()};
    const SyncDirectionMode mode = syncMode_;
    const bool deleteOrphans = syncDeleteOrphans_;
    const std::vector<std::string> excluded = settings_.syncExcludedPatterns;
    const std::vector<ConnectionProfile> profiles = profiles_;
    // Both sides are compared on the names both can show.
    const bool leaveOutHidden = comparesWithoutHiddenNames(context.left.endpoint, context.right.endpoint, profiles);
    background([this, generation, context, mode, deleteOrphans, excluded, profiles, leaveOutHidden,
                fail](std::stop_token stop) {
        std::optional<std::string> failure;
        std::vector<SyncPlanItem> plan;
        try {
            auto leftProvider = makeProvider(context.left.endpoint, profiles);
            auto rightProvider = makeProvider(context.right.endpoint, profiles);
            RecursiveDirectoryWalker::Collected rightNodes;
            std::exception_ptr rightError;
            std::thread rightWalk([&] {
                try {
                    rightNodes = RecursiveDirectoryWalker::collectFilesAndSkipped(
                        context.right.path, *rightProvider, excluded, walkDepth, stop, false, leaveOutHidden);
                } catch (...) {
                    rightError = std::current_exception();
                }
            });
            RecursiveDirectoryWalker::Collected leftNodes;
            std::exception_ptr leftError;
            try {
                leftNodes = RecursiveDirectoryWalker::collectFilesAndSkipped(context.left.path, *leftProvider, excluded,
                                                                             walkDepth, stop, false, leaveOutHidden);
            } catch (...) {
                leftError = std::current_exception();
            }
            rightWalk.join();
            if (leftError) {
                std::rethrow_exception(leftError);
            }
            if (rightError) {
                std::rethrow_exception(rightError);
            }
            // Names the walks could not use show as skipped rows with their reason.
            plan = DualPaneSyncPlanner::planRecursive(std::move(leftNodes.files), std::move(rightNodes.files), mode,
                                                      deleteOrphans, leftNodes.skipped, rightNodes.skipped);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, generation, context, failure, fail, plan = std::move(plan)]() mutable {
            if (generation != syncPlanGeneration_) {
                return;  // a newer plan was asked for; this one compared what no longer counts
            }
            if (failure) {
                showToast(*failure, true);
                fail(*failure);
            } else {
                setSyncPlan(std::move(plan), context);
            }
            setComputingSyncPlan(false);
        });
    });
}

namespace {

// What one side of a sync must still look like for a row to run: the file as listed, or no file.
struct SyncExpectation {
    std::size_t item = 0;
    std::string name;
    bool onLeft = false;
};

// The row's file on one side as the plan listed it; nothing when the plan saw none there.
const std::optional<SledFileEntry>& listedEntry(const SyncPlanItem& item, bool onLeft) {
    return onLeft ? item.leftEntry() : item.rightEntry();
}

// Lists each folder the rows touch on one side, once, and marks in `refused` every row whose file
// there is no longer as the plan listed it (or no longer absent), with the reason.
void recheckSide(const SledStorageProvider& provider, const std::map<std::string, std::vector<SyncExpectation>>& folders,
                 const std::vector<SyncPlanItem>& items, const std::string& changedText,
                 const std::function<std::string(const std::exception_ptr&)>& describe,
                 std::map<std::string, std::string>& refused, std::stop_token stop) {
    for (const auto& [folder, expectations] : folders) {
        std::map<std::string, SledFileEntry> now;
        try {
            for (SledFileEntry& entry : provider.listDirectory(folder, stop)) {
                now.emplace(entry.name, std::move(entry));
            }
        } catch (const VornTaskCancelled&) {
            throw;
        } catch (...) {
            // A folder that cannot be listed holds none of the files the plan saw in it. Where the
            // plan saw none, it is taken as not there yet (a new folder the copy creates).
            const std::string why = describe(std::current_exception());
            for (const SyncExpectation& expectation : expectations) {
                if (listedEntry(items[expectation.item], expectation.onLeft)) {
                    refused.emplace(items[expectation.item].id(), why);
                }
            }
            continue;
        }
        for (const SyncExpectation& expectation : expectations) {
            const std::optional<SledFileEntry>& listed = listedEntry(items[expectation.item], expectation.onLeft);
            const auto found = now.find(expectation.name);
            const bool unchanged = listed ? found != now.end() && sameAsListed(*listed, found->second) : found == now.end();
            if (!unchanged) {
                refused.emplace(items[expectation.item].id(), changedText);
            }
        }
    }
}

}  // namespace

void SledViewModel::executeSyncPlan() {
    // The published plan is about to be replaced: running it now would act on a comparison that no
    // longer counts.
    if (isComputingSyncPlan_) {
        showToast(t("The sync plan is still being worked out; run it once it is shown.",
                    "Eşitleme planı hâlâ hazırlanıyor; gösterildiğinde çalıştırın."),
                  true);
        return;
    }
    if (isSyncPlanStale_) {
        showToast(t("This plan compared other folders than the panes show now. Compare again before running it.",
                    "Bu plan, panellerin şu an gösterdiğinden başka klasörleri karşılaştırdı. Çalıştırmadan önce "
                    "yeniden karşılaştırın."),
                  true);
        return;
    }
    if (syncPlanError_) {
        showToast(*syncPlanError_, true);
        return;
    }
    const std::vector<SyncPlanItem> items(syncPlanItems().begin(), syncPlanItems().end());
    const std::optional<SyncPlanContext> context = syncPlanContext_;
    setShowingSyncSheet(false);
    if (!context || !isSyncPlanRunnable_) {
        return;  // nothing to do: only identical files, or no plan
    }

    // What each row expects on each side, grouped by folder so that each is listed once.
    std::map<std::string, std::vector<SyncExpectation>> leftFolders;
    std::map<std::string, std::vector<SyncExpectation>> rightFolders;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const SyncPlanItem& item = items[index];
        const auto expect = [&](bool left) {
            const SledPanePlace& place = left ? context->left : context->right;
            auto [folder, name] = folderAndName(place.path, item.relativeName());
            (left ? leftFolders : rightFolders)[folder].push_back({index, name, left});
        };
        switch (item.action()) {
        case SyncActionKind::copyLeftToRight:
        case SyncActionKind::copyRightToLeft:
            expect(true);
            expect(false);
            break;
        case SyncActionKind::deleteOnRight:
            expect(false);
            break;
        case SyncActionKind::deleteOnLeft:
            expect(true);
            break;
        case SyncActionKind::identicalSkip:
            break;
        }
    }

    const std::vector<ConnectionProfile> profiles = profiles_;
    const SyncPlanContext places = *context;
    const std::string changedText = ParallelSledTransferEngine::changedSinceListedText();
    beginBatch();
    background([this, items, places, profiles, changedText, leftFolders = std::move(leftFolders),
                rightFolders = std::move(rightFolders)](std::stop_token stop) {
        std::map<std::string, std::string> refused;
        std::optional<std::string> failure;
        const auto describeError = [this](const std::exception_ptr& error) { return describe(error); };
        try {
            const auto leftProvider = makeProvider(places.left.endpoint, profiles);
            const auto rightProvider = makeProvider(places.right.endpoint, profiles);
            recheckSide(*leftProvider, leftFolders, items, changedText, describeError, refused, stop);
            recheckSide(*rightProvider, rightFolders, items, changedText, describeError, refused, stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, items, places, refused = std::move(refused), failure] {
            if (failure) {
                showToast(*failure, true);
            } else {
                runCheckedSyncPlan(items, places, refused);
            }
            // Ended after the batches began, so that the busy flag stays on from the check to the end.
            endBatch();
        });
    });
}

void SledViewModel::runCheckedSyncPlan(const std::vector<SyncPlanItem>& items, const SyncPlanContext& context,
                                       const std::map<std::string, std::string>& refused) {
    const TransferSide left{context.left.endpoint, context.left.path};
    const TransferSide right{context.right.endpoint, context.right.path};
    std::vector<SledRelativeFile> leftToRight;
    std::vector<SledRelativeFile> rightToLeft;
    std::vector<SledFileEntry> rightDeletions;
    std::vector<SledFileEntry> leftDeletions;
    std::size_t refusedLeftToRight = 0;
    std::size_t refusedRightToLeft = 0;
    // Refused deletions: their paths and reasons, reported with the deletions that fail.
    std::vector<std::pair<std::string, std::string>> deletionFailures;
    std::vector<SledTransferRecord> refusedRecords;
    const VornDate now = vornDateNow();
    const auto refuse = [&](const SyncPlanItem& item, const TransferSide& from, const TransferSide& to,
                            const SledFileEntry& entry, const std::string& why) {
        SledTransferRecord record =
            newRecord(item.relativeName(), endpointTitle(from.endpoint), endpointTitle(to.endpoint),
                      directionFor(from.endpoint, to.endpoint), SledTransferStatus::failed, now);
        record.totalBytes = entry.sizeBytes;
        record.errorMessage = why;
        refusedRecords.push_back(std::move(record));
    };
    for (const SyncPlanItem& item : items) {
        const auto refusal = refused.find(item.id());
        switch (item.action()) {
        case SyncActionKind::copyLeftToRight:
            if (!item.leftEntry()) {
                break;
            }
            if (refusal != refused.end()) {
                refuse(item, left, right, *item.leftEntry(), refusal->second);
                ++refusedLeftToRight;
            } else {
                leftToRight.push_back({item.relativeName(), *item.leftEntry(), false, listedOf(item.rightEntry())});
            }
            break;
        case SyncActionKind::copyRightToLeft:
            if (!item.rightEntry()) {
                break;
            }
            if (refusal != refused.end()) {
                refuse(item, right, left, *item.rightEntry(), refusal->second);
                ++refusedRightToLeft;
            } else {
                rightToLeft.push_back({item.relativeName(), *item.rightEntry(), false, listedOf(item.leftEntry())});
            }
            break;
        case SyncActionKind::deleteOnRight:
        case SyncActionKind::deleteOnLeft: {
            const bool onRight = item.action() == SyncActionKind::deleteOnRight;
            const std::optional<SledFileEntry>& entry = onRight ? item.rightEntry() : item.leftEntry();
            if (!entry) {
                break;
            }
            if (refusal != refused.end()) {
                refuse(item, onRight ? left : right, onRight ? right : left, *entry, refusal->second);
                deletionFailures.emplace_back(entry->path, refusal->second);
            } else {
                (onRight ? rightDeletions : leftDeletions).push_back(*entry);
            }
            break;
        }
        case SyncActionKind::identicalSkip:
            break;
        }
    }
    if (!refusedRecords.empty()) {
        transferList_.insertFrontBatch(refusedRecords);
        emit transfersChanged();
    }
    // Everything runs against the folders that were compared, which the panes still show.
    if (!leftToRight.empty() || refusedLeftToRight > 0) {
        runTransferRelativeFiles(std::move(leftToRight), left, right, {}, refusedLeftToRight);
    }
    if (!rightToLeft.empty() || refusedRightToLeft > 0) {
        runTransferRelativeFiles(std::move(rightToLeft), right, left, {}, refusedRightToLeft);
    }
    if (rightDeletions.empty() && leftDeletions.empty() && deletionFailures.empty()) {
        return;
    }
    const std::vector<ConnectionProfile> profiles = profiles_;
    beginBatch();
    background([this, context, rightDeletions, leftDeletions, deletionFailures, profiles](std::stop_token stop) mutable {
        const auto deleteAll = [&](const PaneEndpoint& endpoint, const std::vector<SledFileEntry>& entries) {
            if (entries.empty()) {
                return;
            }
            std::shared_ptr<SledStorageProvider> provider;
            try {
                provider = makeProvider(endpoint, profiles);
            } catch (...) {
                const std::string why = describe(std::current_exception());
                for (const SledFileEntry& entry : entries) {
                    deletionFailures.emplace_back(entry.path, why);
                }
                return;
            }
            for (const SledFileEntry& entry : entries) {
                try {
                    provider->deleteItem(entry.path, entry.isDirectory, stop);
                } catch (...) {
                    // One file that cannot go does not keep the others; it is reported at the end.
                    deletionFailures.emplace_back(entry.path, describe(std::current_exception()));
                }
            }
        };
        deleteAll(context.right.endpoint, rightDeletions);
        deleteAll(context.left.endpoint, leftDeletions);
        onGUI([this, context, deletionFailures] {
            refreshPanesShowing(context.left);
            refreshPanesShowing(context.right);
            if (!deletionFailures.empty()) {
                // An unfinished mirror must not look finished.
                const std::string count = std::to_string(deletionFailures.size());
                const auto& [path, why] = deletionFailures.front();
                showToast(vornText(count + " deletion(s) failed; the first, " + path + ": " + why,
                                   count + " silme başarısız oldu; ilki, " + path + ": " + why, std::nullopt,
                                   language_),
                          true);
            }
            endBatch();
            emit syncDeletionsFinished();
        });
    });
}
