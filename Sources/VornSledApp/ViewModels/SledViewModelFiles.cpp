#include "SledViewModel.h"

#include "LANNetworkHelpers.h"
#include "S3R2StorageProvider.h"
#include "SledError.h"
#include "SledQuickPreviewService.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"

#include <QPointer>

namespace {

std::string childPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// The folder an entry lives in, from its own path.
std::string folderOf(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const auto slash = trimmed.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return "/";
    }
    return trimmed.substr(0, slash);
}

}  // namespace

void SledViewModel::createFolder(const std::string& name, PaneBrowserState* pane) {
    const std::string sanitized = LANNetworkHelpers::sanitizeIncomingFileName(name);
    const SledPanePlace place = pane->place();
    const std::string path = childPath(place.path, sanitized);
    const std::vector<ConnectionProfile> profiles = profiles_;
    background([this, place, path, sanitized, profiles](std::stop_token stop) {
        std::optional<std::string> failure;
        try {
            makeProvider(place.endpoint, profiles)->createDirectory(path, stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, place, sanitized, failure] {
            if (failure) {
                showToast(*failure, true);
                return;
            }
            refreshPanesShowing(place);
            showToast(vornText("Folder created: " + sanitized, "Klasör oluşturuldu: " + sanitized, std::nullopt,
                               language_));
        });
    });
}

void SledViewModel::deleteSelected(PaneBrowserState* pane) {
    if (pane->selectedPaths().empty()) {
        return;
    }
    if (!requireCurrentListing(pane)) {
        return;
    }
    if (pane->isListingIncomplete()) {
        showToast(t("This folder could not be listed completely, so nothing is deleted from it.",
                    "Bu klasör tam listelenemediği için içinden hiçbir şey silinmez."),
                  true);
        return;
    }
    const std::vector<SledFileEntry> entries = pane->selectedEntries();
    if (entries.empty()) {
        return;
    }
    // The entries are deleted where they were listed, whatever the pane shows meanwhile.
    const SledPanePlace place = *pane->listedPlace();
    const std::vector<ConnectionProfile> profiles = profiles_;
    QPointer<PaneBrowserState> target(pane);
    background([this, target, place, entries, profiles](std::stop_token stop) {
        std::optional<std::string> failure;
        try {
            auto provider = makeProvider(place.endpoint, profiles);
            for (const SledFileEntry& entry : entries) {
                provider->deleteItem(entry.path, entry.isDirectory, stop);
            }
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, target, place, count = entries.size(), failure] {
            if (failure) {
                showToast(*failure, true);
                return;
            }
            if (target && target->place() == place) {
                target->setSelectedPaths({});
            }
            refreshPanesShowing(place);
            const std::string number = std::to_string(count);
            showToast(vornText("Deleted " + number + " item(s)", number + " öğe silindi", std::nullopt, language_));
        });
    });
}

void SledViewModel::renameEntry(const SledFileEntry& entry, const std::string& newName, PaneBrowserState* pane) {
    if (LANNetworkHelpers::sanitizeIncomingFileName(newName) == entry.name) {
        return;
    }
    if (!requireCurrentListing(pane)) {
        return;
    }
    renameEntry(entry, newName, *pane->listedPlace());
}

void SledViewModel::renameEntry(const SledFileEntry& entry, const std::string& newName, const SledPanePlace& listedAt) {
    const std::string sanitized = LANNetworkHelpers::sanitizeIncomingFileName(newName);
    if (sanitized == entry.name) {
        return;
    }
    const SledPanePlace place = listedAt;
    // The entry moves within its own folder on the storage it was listed from.
    const std::string newPath = childPath(folderOf(entry.path), sanitized);
    const std::vector<ConnectionProfile> profiles = profiles_;
    background([this, place, entry, newPath, sanitized, profiles](std::stop_token stop) {
        std::optional<std::string> failure;
        try {
            makeProvider(place.endpoint, profiles)->renameItem(entry.path, newPath, entry.isDirectory, stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, place, entry, newPath, sanitized, failure] {
            if (failure) {
                showToast(*failure, true);
                return;
            }
            // The renamed entry stays (or becomes) selected where its folder is shown.
            for (PaneBrowserState* shown : {leftPane_, rightPane_}) {
                if (shown->place() == place) {
                    std::set<std::string> selection = shown->selectedPaths();
                    selection.erase(entry.path);
                    selection.insert(newPath);
                    shown->setSelectedPaths(selection);
                }
            }
            refreshPanesShowing(place);
            showToast(vornText("Renamed '" + entry.name + "' → '" + sanitized + "'",
                               "Yeniden adlandırıldı: '" + entry.name + "' → '" + sanitized + "'", std::nullopt,
                               language_));
        });
    });
}

bool SledViewModel::supportsPresignedURL(const PaneEndpoint& endpoint) const {
    if (endpoint.isLocal()) {
        return false;
    }
    const ConnectionProfile* profile = findProfile(*endpoint.profileID());
    return profile != nullptr && profile->kind != ConnectionProtocolKind::sftp;
}

void SledViewModel::copyPresignedURL(const SledFileEntry& entry, PaneBrowserState* pane,
                                     std::int64_t expiresInSeconds) {
    if (entry.isDirectory) {
        return;
    }
    const SledPanePlace place = pane->place();
    const std::vector<ConnectionProfile> profiles = profiles_;
    background([this, place, entry, expiresInSeconds, profiles](std::stop_token) {
        std::optional<std::string> failure;
        std::optional<std::string> link;
        bool unsupported = false;
        try {
            auto provider = makeProvider(place.endpoint, profiles);
            if (auto* objectStore = dynamic_cast<S3R2StorageProvider*>(provider.get())) {
                link = objectStore->generatePresignedDownloadURL(entry.path, expiresInSeconds, vornDateNow());
            } else {
                unsupported = true;
            }
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, entry, expiresInSeconds, failure, link, unsupported] {
            if (failure) {
                showToast(*failure, true);
                return;
            }
            if (unsupported) {
                showToast(t("Signed share links are available on AWS S3 & Cloudflare R2 connections.",
                            "İmzalı paylaşım linkleri AWS S3 ve Cloudflare R2 bağlantılarında desteklenir."),
                          true);
                return;
            }
            environment_.clipboard->setText(*link);
            const std::string label = expiresInSeconds <= 3600    ? t("1 hour", "1 saat")
                                      : expiresInSeconds <= 86400 ? t("24 hours", "24 saat")
                                                                  : t("7 days", "7 gün");
            showToast(vornText("Copied signed S3/R2 URL (" + label + "): " + entry.name,
                               "İmzalı S3/R2 linki kopyalandı (" + label + "): " + entry.name, std::nullopt,
                               language_));
        });
    });
}

void SledViewModel::setPreviewState(bool loading, std::optional<SledFilePreviewResult> result,
                                    std::optional<std::string> error) {
    if (result != previewResult_) {
        previewResult_ = std::move(result);
        emit previewResultChanged();
    }
    if (error != previewError_) {
        previewError_ = std::move(error);
        emit previewErrorChanged();
    }
    if (loading != isLoadingPreview_) {
        isLoadingPreview_ = loading;
        emit isLoadingPreviewChanged();
    }
}

void SledViewModel::setPreviewSaveError(std::optional<std::string> error) {
    if (error != previewSaveError_) {
        previewSaveError_ = std::move(error);
        emit previewSaveErrorChanged();
    }
}

void SledViewModel::openQuickPreview(const SledFileEntry& entry, PaneBrowserState* pane) {
    if (entry.isDirectory) {
        return;
    }
    if (!requireCurrentListing(pane)) {
        return;
    }
    // The file previewed is the one a later save writes to: its storage and path are fixed here.
    const SledPanePlace place = *pane->listedPlace();
    const std::uint64_t generation = ++previewGeneration_;
    previewSourcePlace_ = place;
    previewSourceEntry_ = entry;
    setShowingPreviewSheet(true);
    setPreviewSaveError(std::nullopt);
    if (isSavingPreviewEdit_) {
        isSavingPreviewEdit_ = false;
        emit isSavingPreviewEditChanged();
    }
    setPreviewState(true, std::nullopt, std::nullopt);
    const std::vector<ConnectionProfile> profiles = profiles_;
    background([this, generation, place, entry, profiles](std::stop_token stop) {
        std::optional<SledFilePreviewResult> result;
        std::optional<std::string> failure;
        try {
            result = SledQuickPreviewService::loadPreview(entry, *makeProvider(place.endpoint, profiles), stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, generation, result, failure] {
            if (generation != previewGeneration_) {
                return;  // another preview opened since: its result is the one shown
            }
            setPreviewState(false, result, failure);
        });
    });
}

void SledViewModel::saveEditedPreviewText(const std::string& text, std::function<void(bool)> done) {
    if (!previewSourcePlace_ || !previewSourceEntry_) {
        if (done) {
            done(false);
        }
        return;
    }
    const std::uint64_t generation = previewGeneration_;
    const SledPanePlace place = *previewSourcePlace_;
    const SledFileEntry entry = *previewSourceEntry_;
    // The file as this sheet read it: a save over anything else would destroy a change nobody saw.
    const std::optional<SledFilePreviewResult> openedAs = previewResult_;
    setPreviewSaveError(std::nullopt);
    isSavingPreviewEdit_ = true;
    emit isSavingPreviewEditChanged();
    const std::vector<ConnectionProfile> profiles = profiles_;
    const std::string changedText =
        t("The file changed since the preview opened, so your edit was not saved. Your text is still here: copy "
          "it out before you reopen the preview to see the new version.",
          "Dosya önizleme açıldıktan sonra değişti, bu yüzden düzenlemeniz kaydedilmedi. Metniniz hâlâ burada: yeni "
          "sürümü görmek için önizlemeyi yeniden açmadan önce onu kopyalayın.");
    background([this, generation, place, entry, text, profiles, done, openedAs, changedText](std::stop_token stop) {
        std::optional<SledFilePreviewResult> saved;
        std::optional<std::string> failure;
        bool verified = false;
        try {
            if (!openedAs) {
                throw SledPreviewChangedError("no preview was read");
            }
            auto provider = makeProvider(place.endpoint, profiles);
            saved = SledQuickPreviewService::saveEditedText(text, entry, *provider, stop, &*openedAs);
            // The claim "verified" rests on reading the stored copy back and comparing digests.
            const SledFilePreviewResult reread = SledQuickPreviewService::loadPreview(entry, *provider, stop);
            verified = reread.sha256Hex == saved->sha256Hex && saved->sha256Hex == VornSHA256::hexDigest(text);
            saved = reread;
        } catch (const SledPreviewChangedError&) {
            failure = changedText;
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, generation, place, entry, saved, failure, verified, done] {
            isSavingPreviewEdit_ = false;
            emit isSavingPreviewEditChanged();
            if (failure) {
                if (generation == previewGeneration_) {
                    setPreviewSaveError(failure);
                }
                showToast(*failure, true);
                if (done) {
                    done(false);
                }
                return;
            }
            if (generation == previewGeneration_) {
                setPreviewState(false, saved, std::nullopt);
            }
            refreshPanesShowing(place);
            SledTransferRecord record;
            record.id = VornUUID::random();
            record.fileName = entry.name;
            record.sourceLabel = t("Inline Editor", "Satır İçi Editör");
            record.destinationLabel = endpointTitle(place.endpoint);
            record.direction =
                place.endpoint.isLocal() ? SledTransferDirection::localCopy : SledTransferDirection::upload;
            record.status = SledTransferStatus::completed;
            record.totalBytes = saved->sizeBytes;
            record.transferredBytes = saved->sizeBytes;
            record.sha256Hex = saved->sha256Hex;
            record.isSHA256Verified = verified;
            record.createdAt = vornDateNow();
            record.completedAt = record.createdAt;
            insertTransferRecord(record);
            if (verified) {
                showToast(vornText("Saved & SHA-256 verified: " + entry.name,
                                   "Kaydedildi ve SHA-256 doğrulandı: " + entry.name, std::nullopt, language_));
            } else {
                showToast(vornText("Saved, but the stored copy did not match by SHA-256: " + entry.name,
                                   "Kaydedildi, ancak kayıtlı kopya SHA-256 ile eşleşmedi: " + entry.name,
                                   std::nullopt, language_),
                          true);
            }
            if (done) {
                done(verified);
            }
        });
    });
}
