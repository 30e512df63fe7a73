#include "SledViewModel.h"

#include "LANNetworkHelpers.h"
#include "LocalFileProvider.h"
#include "S3R2StorageProvider.h"
#include "SFTPStorageProvider.h"
#include "SledError.h"
#include "SledImageProbe.h"
#include "SledListingError.h"
#include "SledPreviewImage.h"
#include "VornKeychainStore.h"
#include "VornLocalizationStore.h"
#include "VornSystemErrorText.h"
#include "VornTaskCancelled.h"
#include "VornUnicode.h"
#include "VornXDG.h"

#include <QMetaObject>
#include <QPointer>

#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

// Decodes preview images with QtGui's reader: the bytes count as an image only when they decode
// whole within the preview's memory limit.
std::optional<SledImagePixelSize> probeImage(std::span<const std::byte> bytes) {
    const QImage image = sledDecodePreviewImage(bytes);
    if (image.isNull()) {
        return std::nullopt;
    }
    return SledImagePixelSize{image.width(), image.height()};
}

std::string parentFolder(const std::string& path) {
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

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const auto slash = trimmed.rfind('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    return name.empty() ? "/" : name;
}

}  // namespace

std::optional<std::string> SledSecretLookup::secretToSave(const std::optional<SledSecretLookup>& lookup, bool edited,
                                                          const std::string& typed) {
    if (!edited) {
        return std::nullopt;
    }
    if (typed.empty() && (!lookup || lookup->state == State::unreadable)) {
        // Emptying a field whose stored secret was never read would delete a secret nobody saw.
        return std::nullopt;
    }
    return typed;
}

SledViewModel::SledViewModel(SledModelEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)), keyringLane_(environment_.keyringDeadline),
      lanClient_(environment_.lanClientSession),
      language_(VornLanguage::current()), workerLanguage_(language_.value()), transferList_(this),
      receivedFileList_(&sledDescribeReceivedFile, this), clipboardList_(&sledDescribeClipboardMessage, this),
      peerList_(&sledDescribePeer, this), sharedFileList_(&sledDescribeSharedFile, this),
      syncPlanList_(&sledDescribePlanItem, this) {
    static std::once_flag probeInstalled;
    std::call_once(probeInstalled, [] {
        if (!SledImageProbe::isInstalled()) {
            SledImageProbe::install(&probeImage);
        }
    });
    if (!environment_.clipboard) {
        environment_.clipboard = std::make_shared<SledSystemClipboard>();
    }
    if (!environment_.revealer) {
        environment_.revealer = std::make_shared<SledDesktopRevealer>();
    }
    if (!environment_.credentials) {
        environment_.credentials = std::make_shared<SledKeyringCredentials>();
    }
    // Transfers hold a worker for a whole batch; listings and keyring calls must not queue behind
    // them.
    workers_.setMaxThreadCount(32);
    workers_.setExpiryTimeout(30'000);
    lanQueue_.setMaxThreadCount(1);
    toastTimer_.setSingleShot(true);
    toastTimer_.setInterval(toastMilliseconds);
    connect(&toastTimer_, &QTimer::timeout, this, [this] {
        if (toastMessage_) {
            toastMessage_.reset();
            emit toastMessageChanged();
        }
    });

    localLANIP_ = LANNetworkHelpers::primaryLANIPv4();
    repository_ = std::make_unique<SledProfileRepository>(environment_.dataFolder);
    const SledStoreSnapshot snapshot = repository_->currentSnapshot();
    profiles_ = snapshot.profiles;
    settings_ = snapshot.settings;

    const std::string home = environment_.leftStartPath.value_or(VornXDG::home().string());
    std::string downloads;
    if (environment_.rightStartPath) {
        downloads = *environment_.rightStartPath;
    } else {
        std::error_code error;
        const std::filesystem::path folder = VornXDG::downloads();
        downloads = std::filesystem::is_directory(folder, error) ? folder.string() : VornXDG::home().string();
    }
    leftPane_ = new PaneBrowserState(PaneEndpoint::local(), home, this);
    rightPane_ = new PaneBrowserState(PaneEndpoint::local(), downloads, this);
    // A plan belongs to the folders it compared: it stops being runnable the moment a pane moves.
    for (PaneBrowserState* pane : {leftPane_, rightPane_}) {
        connect(pane, &PaneBrowserState::endpointChanged, this, &SledViewModel::updateSyncPlanState);
        connect(pane, &PaneBrowserState::currentPathChanged, this, &SledViewModel::updateSyncPlanState);
    }

    lanServer_ = std::make_unique<LANSledServer>(settings_.lanDeviceName, settings_.lanDownloadDirectory,
                                                 settings_.lanRequirePIN, settings_.lanPIN);
    lanDiscovery_ = std::make_unique<LANPeerDiscovery>();

    refresh(leftPane_);
    refresh(rightPane_);
    if (environment_.startLANServicesOnLaunch) {
        startLANServices();
    }
}

SledViewModel::~SledViewModel() {
    stopSource_.request_stop();
    lanQueue_.waitForDone();
    // Nothing may report into a model being torn down: discovery and the server stop first, then
    // the work in flight (told to stop) is waited for.
    lanDiscovery_->stop();
    lanServer_->stop();
    workers_.waitForDone();
}

SledViewModel& SledViewModel::shared() {
    static SledViewModel* const instance = new SledViewModel();
    return *instance;
}

void SledViewModel::background(std::function<void(std::stop_token)> work) {
    std::stop_token token = stopSource_.get_token();
    workers_.start([work = std::move(work), token] { work(token); });
}

void SledViewModel::onGUI(std::function<void()> apply) {
    // Posted to this object: Qt drops the call when the object is gone before it runs, and the
    // destructor waits for every worker, so `this` is valid while a worker posts.
    QMetaObject::invokeMethod(this, std::move(apply), Qt::QueuedConnection);
}

std::string SledViewModel::describe(const std::exception_ptr& error) const {
    const VornLanguage language(workerLanguage_.load());
    try {
        std::rethrow_exception(error);
    } catch (const SledError& sledError) {
        return sledError.description(language);
    } catch (const SledListingError& listingError) {
        return listingError.description();
    } catch (const SledChangedSinceListed&) {
        return sledChangedSinceListedText(language);
    } catch (const SledKeyringTimeout&) {
        return vornText("The system keyring did not answer", "Sistem anahtarlığı yanıt vermedi", std::nullopt,
                        language);
    } catch (const VornTaskCancelled&) {
        return SledError::cancelled().description(language);
    } catch (const std::filesystem::filesystem_error& fileError) {
        std::string text = vornSystemErrorText(fileError.code(), language);
        if (!fileError.path1().empty()) {
            text += ": " + fileError.path1().string();
        }
        return text;
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
        return vornText("Unknown error", "Bilinmeyen hata", std::nullopt, language);
    }
}

// --- State ----------------------------------------------------------------------------------------

void SledViewModel::setActiveTab(SledWorkspaceTab tab) {
    if (tab != activeTab_) {
        activeTab_ = tab;
        emit activeTabChanged();
    }
}

void SledViewModel::setShowingProfileSheet(bool showing) {
    if (showing != showingProfileSheet_) {
        showingProfileSheet_ = showing;
        emit showingProfileSheetChanged();
    }
}

void SledViewModel::setShowingSyncSheet(bool showing) {
    if (showing != showingSyncSheet_) {
        showingSyncSheet_ = showing;
        emit showingSyncSheetChanged();
    }
}

void SledViewModel::setSyncMode(SyncDirectionMode mode) {
    if (mode != syncMode_) {
        syncMode_ = mode;
        emit syncModeChanged();
    }
}

void SledViewModel::setSyncDeleteOrphans(bool on) {
    if (on != syncDeleteOrphans_) {
        syncDeleteOrphans_ = on;
        emit syncDeleteOrphansChanged();
    }
}

void SledViewModel::setSyncIncludeSubfolders(bool on) {
    if (on != syncIncludeSubfolders_) {
        syncIncludeSubfolders_ = on;
        emit syncIncludeSubfoldersChanged();
    }
}

void SledViewModel::setShowingPreviewSheet(bool showing) {
    if (showing != showingPreviewSheet_) {
        showingPreviewSheet_ = showing;
        emit showingPreviewSheetChanged();
    }
}

// --- Texts, language, toasts ----------------------------------------------------------------------

std::string SledViewModel::t(std::string_view en, std::string_view tr) const {
    return vornText(en, tr, std::nullopt, language_);
}

void SledViewModel::setLanguage(VornLanguage language) {
    if (language != language_) {
        language_ = language;
        workerLanguage_.store(language.value());
        emit languageChanged();
    }
    VornLanguage::setCurrent(language);
}

void SledViewModel::toggleLanguage() {
    setLanguage(language_ == VornLanguage::en ? VornLanguage::tr : VornLanguage::en);
}

void SledViewModel::showToast(const std::string& message, bool isError) {
    // The newest toast always gets its full time; an older one's dismissal is cancelled here.
    toastTimer_.stop();
    if (toastMessage_ != message) {
        toastMessage_ = message;
        emit toastMessageChanged();
    }
    if (toastIsError_ != isError) {
        toastIsError_ = isError;
        emit toastIsErrorChanged();
    }
    toastTimer_.start();
    emit toastShown();
}

void SledViewModel::copyText(const std::string& text, const std::string& label) {
    environment_.clipboard->setText(text);
    showToast(vornText("Copied " + label, label + " kopyalandı", std::nullopt, language_));
}

void SledViewModel::revealPathInFinder(const std::string& path) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        environment_.revealer->reveal(path);
    }
}

void SledViewModel::clearCompletedTransfers() {
    const int removed = transferList_.removeRecordsIf([](const SledTransferRecord& record) {
        return record.status == SledTransferStatus::completed || record.status == SledTransferStatus::cancelled;
    });
    if (removed > 0) {
        emit transfersChanged();
    }
}

void SledViewModel::refreshBothPanes() {
    refresh(leftPane_);
    refresh(rightPane_);
}

void SledViewModel::openSyncPreview() {
    setShowingSyncSheet(true);
    recomputeSyncPlan();
}

void SledViewModel::openNewProfileSheet() {
    if (editingProfile_) {
        editingProfile_.reset();
        emit editingProfileChanged();
    }
    setShowingProfileSheet(true);
}

// --- Panes ----------------------------------------------------------------------------------------

const ConnectionProfile* SledViewModel::findProfile(const VornUUID& id) const {
    for (const ConnectionProfile& profile : profiles_) {
        if (profile.id == id) {
            return &profile;
        }
    }
    return nullptr;
}

std::shared_ptr<SledStorageProvider> SledViewModel::provider(const PaneEndpoint& endpoint) const {
    return makeProvider(endpoint, profiles_);
}

std::shared_ptr<SledStorageProvider> SledViewModel::makeProvider(const PaneEndpoint& endpoint,
                                                                 const std::vector<ConnectionProfile>& profiles) const {
    if (endpoint.isLocal()) {
        if (environment_.providerFactory) {
            if (auto made = environment_.providerFactory(endpoint, nullptr, std::nullopt)) {
                return made;
            }
        }
        return std::make_shared<LocalFileProvider>();
    }
    const ConnectionProfile* profile = nullptr;
    for (const ConnectionProfile& candidate : profiles) {
        if (candidate.id == *endpoint.profileID()) {
            profile = &candidate;
            break;
        }
    }
    if (profile == nullptr) {
        throw SledError::invalidProfile(vornText("Profile not found", "Profil bulunamadı"));
    }
    // A key or the agent logs in without a secret: asking the keyring would only add a wait on a
    // daemon that may not answer.
    std::optional<std::string> secret;
    if (isObjectStorage(profile->kind) || profile->sftpAuthMethod == SFTPAuthMethod::password) {
        const std::shared_ptr<SledCredentialAccess> credentials = environment_.credentials;
        const VornUUID id = profile->id;
        secret = keyringLane_.submit([credentials, id] { return credentials->load(id); })
                     .wait(stopSource_.get_token());
    }
    if (isObjectStorage(profile->kind) && (!secret || secret->empty())) {
        throw SledError::missingCredential("Secret Access Key");
    }
    if (environment_.providerFactory) {
        if (auto made = environment_.providerFactory(endpoint, profile, secret)) {
            return made;
        }
    }
    if (isObjectStorage(profile->kind)) {
        return std::make_shared<S3R2StorageProvider>(*profile, *secret);
    }
    return std::make_shared<SFTPStorageProvider>(*profile, secret);
}

std::string SledViewModel::endpointTitle(const PaneEndpoint& endpoint) const {
    if (endpoint.isLocal()) {
        return t("This Computer", "Bu Bilgisayar");
    }
    const ConnectionProfile* profile = findProfile(*endpoint.profileID());
    return profile != nullptr ? profile->name : t("Remote", "Uzak");
}

void SledViewModel::selectEndpoint(const PaneEndpoint& endpoint, PaneBrowserState* pane) {
    std::string path;
    if (endpoint.isLocal()) {
        path = VornXDG::home().string();
    } else {
        const ConnectionProfile* profile = findProfile(*endpoint.profileID());
        // Typed into the profile form, so trimmed as a typed path is.
        path = profile != nullptr ? VornUnicode::trimmed(profile->initialRemotePath) : std::string();
        if (path.empty()) {
            path = "/";
        }
    }
    pane->setPlace(endpoint, path);
    pane->setSelectedPaths({});
    refresh(pane);
}

void SledViewModel::refresh(PaneBrowserState* pane) {
    pane->setLoading(true);
    pane->setErrorMessage(std::nullopt);
    const std::uint64_t generation = ++pane->listingGeneration_;
    const SledPanePlace place = pane->place();
    const std::vector<ConnectionProfile> profiles = profiles_;
    QPointer<PaneBrowserState> target(pane);
    background([this, target, generation, place, profiles](std::stop_token stop) {
        std::vector<SledFileEntry> entries;
        bool incomplete = false;
        std::optional<std::string> failure;
        try {
            entries = makeProvider(place.endpoint, profiles)->listDirectory(place.path, stop);
        } catch (const SledListingError& error) {
            if (error.isPartialListing()) {
                entries = error.entriesRead();
                incomplete = true;
            }
            failure = error.description();
        } catch (...) {
            failure = describe(std::current_exception());
        }
        // The rows the list shows, copied here rather than on the GUI thread.
        std::deque<SledFileEntry> rows(entries.begin(), entries.end());
        onGUI([this, target, generation, place, entries = std::move(entries), rows = std::move(rows), incomplete,
               failure]() mutable {
            if (!target || generation != target->listingGeneration_) {
                // A newer listing was asked for: this one must not replace it, whenever it lands.
                return;
            }
            if (!failure || incomplete) {
                target->applyListing(std::move(entries), place, incomplete, std::move(rows));
            } else if (!target->listedPlace() || !(*target->listedPlace() == place)) {
                // Nothing of another place may stay on show under this place's name.
                target->forgetListing();
            }
            target->setErrorMessage(failure);
            target->setLoading(false);
        });
    });
}

void SledViewModel::openDirectory(const SledFileEntry& entry, PaneBrowserState* pane) {
    if (!entry.isDirectory) {
        return;
    }
    pane->setPlace(pane->endpoint(), entry.path);
    pane->setSelectedPaths({});
    refresh(pane);
}

void SledViewModel::navigateUp(PaneBrowserState* pane) {
    const std::string& path = pane->currentPath();
    if (path.empty() || path == "/") {
        return;
    }
    pane->setPlace(pane->endpoint(), parentFolder(path));
    pane->setSelectedPaths({});
    refresh(pane);
}

void SledViewModel::openTypedPath(const std::string& typed, PaneBrowserState* pane) {
    // The pane's own path came from a listing and names that folder exactly ("Backup " is not
    // "Backup"); anything else was typed, and white space around it was not meant.
    const std::string path = typed == pane->currentPath() ? typed : VornUnicode::trimmed(typed);
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
        showToast(t("Type a full path that starts with /.", "/ ile başlayan tam bir yol yazın."), true);
        return;
    }
    if (path != pane->currentPath()) {
        pane->setPlace(pane->endpoint(), path);
        pane->setSelectedPaths({});
    }
    refresh(pane);
}

void SledViewModel::swapPanes() {
    const SledPanePlace left = leftPane_->place();
    const SledPanePlace right = rightPane_->place();
    leftPane_->setPlace(right.endpoint, right.path);
    rightPane_->setPlace(left.endpoint, left.path);
    refresh(leftPane_);
    refresh(rightPane_);
    if (isComputingSyncPlan_) {
        // The plan under way compares the sides as they were; the one wanted now is the swapped one.
        recomputeSyncPlan();
    }
}

bool SledViewModel::isCurrentPathBookmarked(const PaneBrowserState* pane) const {
    for (const SledBookmark& bookmark : settings_.bookmarks) {
        if (bookmark.endpoint == pane->endpoint() && bookmark.path == pane->currentPath()) {
            return true;
        }
    }
    return false;
}

void SledViewModel::toggleBookmark(PaneBrowserState* pane) {
    SledSettings updated = settings_;
    for (auto it = updated.bookmarks.begin(); it != updated.bookmarks.end(); ++it) {
        if (it->endpoint == pane->endpoint() && it->path == pane->currentPath()) {
            const std::string label = it->label;
            updated.bookmarks.erase(it);
            if (!saveSettings(updated, false)) {
                return;
            }
            showToast(vornText("Removed bookmark: " + label, "Yer imi kaldırıldı: " + label, std::nullopt, language_));
            return;
        }
    }
    SledBookmark bookmark;
    bookmark.id = VornUUID::random();
    bookmark.label = endpointTitle(pane->endpoint()) + ": " + lastComponent(pane->currentPath());
    bookmark.endpoint = pane->endpoint();
    bookmark.path = pane->currentPath();
    updated.bookmarks.insert(updated.bookmarks.begin(), bookmark);
    if (!saveSettings(updated, false)) {
        return;
    }
    showToast(vornText("Bookmarked: " + bookmark.label, "Favorilere eklendi: " + bookmark.label, std::nullopt, language_));
}

void SledViewModel::jumpToBookmark(const SledBookmark& bookmark, PaneBrowserState* pane) {
    pane->setPlace(bookmark.endpoint, bookmark.path);
    pane->setSelectedPaths({});
    refresh(pane);
}

void SledViewModel::removeBookmark(const VornUUID& id) {
    SledSettings updated = settings_;
    std::erase_if(updated.bookmarks, [&](const SledBookmark& bookmark) { return bookmark.id == id; });
    saveSettings(updated, false);
}

bool SledViewModel::saveSettings(const SledSettings& settings, bool restartLAN) {
    const SledStoreSaveResult result = repository_->saveSettings(settings);
    // A refused value never entered the store; the model keeps showing what the store holds.
    const SledSettings& kept = result == SledStoreSaveResult::refused ? settings_ : settings;
    if (!(kept == settings_)) {
        settings_ = kept;
        emit settingsChanged();
    }
    if (restartLAN && lanWanted_ && result != SledStoreSaveResult::refused) {
        startLANServices();
    }
    return reportStoreResult(result);
}

bool SledViewModel::reportStoreResult(SledStoreSaveResult result) {
    switch (result) {
    case SledStoreSaveResult::saved:
        return true;
    case SledStoreSaveResult::refused:
        showToast(t("Not saved: a name or path in it cannot be stored as text in the profile file.",
                    "Kaydedilmedi: içindeki bir ad ya da yol profil dosyasına metin olarak yazılamıyor."),
                  true);
        return false;
    case SledStoreSaveResult::notWritten:
        showToast(vornText("Could not write " + repository_->fileURL().string() +
                               ". The change holds only until VornSled quits.",
                           repository_->fileURL().string() +
                               " yazılamadı. Değişiklik yalnızca VornSled kapanana dek geçerli.",
                           std::nullopt, language_),
                  true);
        return false;
    }
    return false;
}

bool SledViewModel::requireCurrentListing(PaneBrowserState* pane) {
    if (pane->listingIsCurrent()) {
        return true;
    }
    showToast(t("The folder is still being listed. Try again when its files are shown.",
                "Klasör hâlâ listeleniyor. Dosyaları görününce yeniden deneyin."),
              true);
    return false;
}

PaneBrowserState* SledViewModel::paneShowing(const SledPanePlace& place) {
    if (leftPane_->place() == place) {
        return leftPane_;
    }
    if (rightPane_->place() == place) {
        return rightPane_;
    }
    return nullptr;
}

void SledViewModel::refreshPanesShowing(const SledPanePlace& place) {
    if (leftPane_->place() == place) {
        refresh(leftPane_);
    }
    if (rightPane_->place() == place) {
        refresh(rightPane_);
    }
}
