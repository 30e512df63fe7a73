#include "SledViewModel.h"

#include "DualPaneSyncPlanner.h"
#include "RecursiveDirectoryWalker.h"
#include "VornLocalizationStore.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>
#include <thread>

namespace {

constexpr int walkDepth = 12;
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
        std::optional<std::string> failure;
        try {
            auto provider = makeProvider(source.endpoint, profiles);
            for (const SledFileEntry& entry : selected) {
                if (!entry.isDirectory) {
                    files.push_back({entry.name, entry});
                    continue;
                }
                for (RelativeFileNode& node :
                     RecursiveDirectoryWalker::collectFiles(entry.path, *provider, excluded, walkDepth, stop)) {
                    files.push_back({entry.name + "/" + node.relativePath, std::move(node.entry)});
                }
            }
        } catch (...) {
            failure = describe(std::current_exception());
        }
        // A large folder's records and jobs are made here, so that the GUI thread only lists them.
        const bool empty = files.empty();
        TransferBatch batch;
        if (!failure && !empty) {
            batch = makeTransferBatch(files, source, destination, sourceLabel, destinationLabel);
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
        files.push_back({entry.name, entry});
    }
    if (files.empty()) {
        return;
    }
    const TransferSide source{PaneEndpoint::local(), urls.front().parent_path().string()};
    runTransferRelativeFiles(std::move(files), source, {into->endpoint(), into->currentPath()});
}

SledViewModel::TransferBatch SledViewModel::makeTransferBatch(const std::vector<SledRelativeFile>& files,
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
    for (const SledRelativeFile& file : files) {
        SledTransferRecord record;
        record.id = VornUUID::random();
        record.fileName = file.relativePath;
        record.sourceLabel = sourceLabel;
        record.destinationLabel = destinationLabel;
        record.direction = direction;
        record.status = SledTransferStatus::queued;
        record.totalBytes = file.entry.sizeBytes;
        record.createdAt = now;
        batch.jobs.push_back({record.id, file.entry.name, file.entry.path, batch.base + file.relativePath,
                              file.entry.sizeBytes, direction});
        relativePaths.push_back(file.relativePath);
        batch.records.push_back(std::move(record));
    }
    batch.parents = RecursiveDirectoryWalker::requiredParentDirectories(relativePaths);
    return batch;
}

void SledViewModel::runTransferRelativeFiles(std::vector<SledRelativeFile> files, const TransferSide& source,
                                             const TransferSide& destination) {
    startTransferBatch(makeTransferBatch(files, source, destination, endpointTitle(source.endpoint),
                                         endpointTitle(destination.endpoint)),
                       source, destination);
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
                source, destination, workers, verify, profiles](std::stop_token stop) {
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
        for (const std::string& parent : parents) {
            try {
                to->createDirectory(base + parent, stop);
            } catch (...) {
                // A folder that cannot be made shows up as the failed jobs of its files.
            }
        }
        const auto results = transferEngine_.executeBatch(
            jobs, *from, *to, workers, verify,
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
        onGUI([this, succeeded, total = results.size(), unverified, verify, destination] {
            flushProgress();
            refreshPanesShowing({destination.endpoint, destination.folder});
            const std::string counts = std::to_string(succeeded) + "/" + std::to_string(total);
            std::string en;
            std::string tr;
            if (!verify) {
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
        auto [slot, inserted] = pendingProgress_.try_emplace(id, update);
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
}

void SledViewModel::setSyncPlan(std::vector<SyncPlanItem> items, std::optional<SyncPlanContext> context) {
    syncPlanContext_ = std::move(context);
    syncPlanList_.replaceAll(std::move(items));
    emit syncPlanItemsChanged();
}

void SledViewModel::recomputeSyncPlan() {
    const std::uint64_t generation = ++syncPlanGeneration_;
    if (!syncIncludeSubfolders_) {
        setComputingSyncPlan(false);
        for (PaneBrowserState* pane : {leftPane_, rightPane_}) {
            if (!requireCurrentListing(pane)) {
                setSyncPlan({}, std::nullopt);
                return;
            }
            if (pane->isListingIncomplete()) {
                setSyncPlan({}, std::nullopt);
                showToast(t("A folder could not be listed completely, so no sync plan is made from it.",
                            "Bir klasör tam listelenemediği için ondan eşitleme planı yapılmaz."),
                          true);
                return;
            }
        }
        setSyncPlan(DualPaneSyncPlanner::plan(leftPane_->entries(), rightPane_->entries(), syncMode_,
                                              syncDeleteOrphans_, settings_.syncExcludedPatterns),
                    SyncPlanContext{*leftPane_->listedPlace(), *rightPane_->listedPlace()});
        return;
    }
    setComputingSyncPlan(true);
    const SyncPlanContext context{leftPane_->place(), rightPane_->place()};
    const SyncDirectionMode mode = syncMode_;
    const bool deleteOrphans = syncDeleteOrphans_;
    const std::vector<std::string> excluded = settings_.syncExcludedPatterns;
    const std::vector<ConnectionProfile> profiles = profiles_;
    background([this, generation, context, mode, deleteOrphans, excluded, profiles](std::stop_token stop) {
        std::optional<std::string> failure;
        std::vector<SyncPlanItem> plan;
        try {
            auto leftProvider = makeProvider(context.left.endpoint, profiles);
            auto rightProvider = makeProvider(context.right.endpoint, profiles);
            std::vector<RelativeFileNode> rightNodes;
            std::exception_ptr rightError;
            std::thread rightWalk([&] {
                try {
                    rightNodes = RecursiveDirectoryWalker::collectFiles(context.right.path, *rightProvider, excluded,
                                                                        walkDepth, stop);
                } catch (...) {
                    rightError = std::current_exception();
                }
            });
            std::vector<RelativeFileNode> leftNodes;
            std::exception_ptr leftError;
            try {
                leftNodes =
                    RecursiveDirectoryWalker::collectFiles(context.left.path, *leftProvider, excluded, walkDepth, stop);
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
            plan = DualPaneSyncPlanner::planRecursive(std::move(leftNodes), std::move(rightNodes), mode, deleteOrphans);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, generation, context, failure, plan = std::move(plan)]() mutable {
            if (generation != syncPlanGeneration_) {
                return;  // a newer plan was asked for; this one compared what no longer counts
            }
            if (failure) {
                showToast(*failure, true);
            } else {
                setSyncPlan(std::move(plan), context);
            }
            setComputingSyncPlan(false);
        });
    });
}

void SledViewModel::executeSyncPlan() {
    // The published plan is about to be replaced: running it now would act on a comparison that no
    // longer counts.
    if (isComputingSyncPlan_) {
        showToast(t("The sync plan is still being worked out; run it once it is shown.",
                    "Eşitleme planı hâlâ hazırlanıyor; gösterildiğinde çalıştırın."),
                  true);
        return;
    }
    const std::vector<SyncPlanItem> items(syncPlanItems().begin(), syncPlanItems().end());
    const std::optional<SyncPlanContext> context = syncPlanContext_;
    setShowingSyncSheet(false);
    if (!context || items.empty()) {
        return;
    }
    std::vector<SledRelativeFile> leftToRight;
    std::vector<SledRelativeFile> rightToLeft;
    std::vector<SledFileEntry> rightDeletions;
    std::vector<SledFileEntry> leftDeletions;
    for (const SyncPlanItem& item : items) {
        switch (item.action()) {
        case SyncActionKind::copyLeftToRight:
            if (item.leftEntry()) {
                leftToRight.push_back({item.relativeName(), *item.leftEntry()});
            }
            break;
        case SyncActionKind::copyRightToLeft:
            if (item.rightEntry()) {
                rightToLeft.push_back({item.relativeName(), *item.rightEntry()});
            }
            break;
        case SyncActionKind::deleteOnRight:
            if (item.rightEntry()) {
                rightDeletions.push_back(*item.rightEntry());
            }
            break;
        case SyncActionKind::deleteOnLeft:
            if (item.leftEntry()) {
                leftDeletions.push_back(*item.leftEntry());
            }
            break;
        case SyncActionKind::identicalSkip:
            break;
        }
    }
    // Everything runs against the folders that were compared, not what the panes show now.
    const TransferSide left{context->left.endpoint, context->left.path};
    const TransferSide right{context->right.endpoint, context->right.path};
    if (!leftToRight.empty()) {
        runTransferRelativeFiles(std::move(leftToRight), left, right);
    }
    if (!rightToLeft.empty()) {
        runTransferRelativeFiles(std::move(rightToLeft), right, left);
    }
    if (rightDeletions.empty() && leftDeletions.empty()) {
        return;
    }
    const std::vector<ConnectionProfile> profiles = profiles_;
    const SyncPlanContext places = *context;
    background([this, places, rightDeletions, leftDeletions, profiles](std::stop_token stop) {
        const auto deleteAll = [&](const PaneEndpoint& endpoint, const std::vector<SledFileEntry>& entries) {
            if (entries.empty()) {
                return;
            }
            std::shared_ptr<SledStorageProvider> provider;
            try {
                provider = makeProvider(endpoint, profiles);
            } catch (...) {
                return;
            }
            for (const SledFileEntry& entry : entries) {
                try {
                    provider->deleteItem(entry.path, entry.isDirectory, stop);
                } catch (...) {
                    // One file that cannot go does not keep the others.
                }
            }
        };
        deleteAll(places.right.endpoint, rightDeletions);
        deleteAll(places.left.endpoint, leftDeletions);
        onGUI([this, places] {
            refreshPanesShowing(places.left);
            refreshPanesShowing(places.right);
        });
    });
}
