#pragma once

#include "ConnectionProfile.h"
#include "LANClipboardMessage.h"
#include "LANPeerDiscovery.h"
#include "LANPeerInfo.h"
#include "LANReceivedFileItem.h"
#include "LANSharedFileItem.h"
#include "LANSledClient.h"
#include "LANSledServer.h"
#include "PaneBrowserState.h"
#include "RecursiveDirectoryWalker.h"
#include "ParallelSledTransferEngine.h"
#include "SledKeyringLane.h"
#include "SledListModels.h"
#include "SledModelEnvironment.h"
#include "SledPreviewPayload.h"
#include "SledProfileRepository.h"
#include "SledSettings.h"
#include "SledTransferRecord.h"
#include "SyncPlanItem.h"
#include "VornLanguage.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The main window's tabs.
enum class SledWorkspaceTab { dualPane, lanAirDrop, transfers };

template <>
struct VornRawValueTable<SledWorkspaceTab> {
    static constexpr std::string_view typeName = "SledWorkspaceTab";
    static constexpr std::array entries{
        std::pair{SledWorkspaceTab::dualPane, std::string_view("dualPane")},
        std::pair{SledWorkspaceTab::lanAirDrop, std::string_view("lanAirDrop")},
        std::pair{SledWorkspaceTab::transfers, std::string_view("transfers")},
    };
};

// One file to copy: where it goes below the destination folder, and the source file as listed.
struct SledRelativeFile {
    std::string relativePath;
    SledFileEntry entry;
    // Named by the user outside any listing (a drop): a link is sent as its target. Otherwise a
    // local file is opened below the folder it was listed in without following links (a link the
    // user selected in a listing is still sent as its target).
    bool namedByUser = false;
    // What the destination held when the user decided to replace it (a sync row's target side).
    std::optional<SledListedDestination> listedDestination;
};

// A secret as the profile editor found it in the keyring.
struct SledSecretLookup {
    enum class State {
        absent,      // the keyring answered: no secret is stored
        loaded,      // `value` is the stored secret
        unreadable,  // the keyring is locked or missing: whether a secret exists is unknown
    };
    State state = State::absent;
    std::string value;
    std::string errorText;

    // What the editor passes to saveProfile(): the typed text when the user edited the field (an
    // emptied field over a secret that was read deletes it), else nothing, so a secret that could
    // not be read, or had not arrived yet, is never overwritten or deleted by mistake.
    static std::optional<std::string> secretToSave(const std::optional<SledSecretLookup>& lookup, bool edited,
                                                   const std::string& typed);
};

// The workspace model: the whole state behind every window of the application, and every
// operation the views call. Lives on the GUI thread; blocking work (listings, keyring, hashing,
// transfers, the network) runs on its worker threads and comes back queued, and a generation
// counter drops what a newer request superseded.
class SledViewModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(SledWorkspaceTab activeTab READ activeTab WRITE setActiveTab NOTIFY activeTabChanged)
    Q_PROPERTY(VornLanguage language READ language NOTIFY languageChanged)
    Q_PROPERTY(std::vector<ConnectionProfile> profiles READ profiles NOTIFY profilesChanged)
    Q_PROPERTY(SledSettings settings READ settings NOTIFY settingsChanged)
    Q_PROPERTY(PaneBrowserState* leftPane READ leftPane CONSTANT)
    Q_PROPERTY(PaneBrowserState* rightPane READ rightPane CONSTANT)
    Q_PROPERTY(std::deque<SledTransferRecord> transfers READ transfers NOTIFY transfersChanged)
    Q_PROPERTY(std::deque<LANSharedFileItem> sharedLANFiles READ sharedLANFiles NOTIFY sharedLANFilesChanged)
    Q_PROPERTY(std::deque<LANReceivedFileItem> receivedLANFiles READ receivedLANFiles NOTIFY receivedLANFilesChanged)
    Q_PROPERTY(std::deque<LANClipboardMessage> clipboardMessages READ clipboardMessages NOTIFY clipboardMessagesChanged)
    Q_PROPERTY(std::deque<SyncPlanItem> syncPlanItems READ syncPlanItems NOTIFY syncPlanItemsChanged)
    Q_PROPERTY(bool isSyncingOrTransferring READ isSyncingOrTransferring NOTIFY isSyncingOrTransferringChanged)
    Q_PROPERTY(bool isLANServerRunning READ isLANServerRunning NOTIFY isLANServerRunningChanged)
    Q_PROPERTY(std::uint16_t activeLANPort READ activeLANPort NOTIFY activeLANPortChanged)
    Q_PROPERTY(std::string localLANIP READ localLANIP NOTIFY localLANIPChanged)
    Q_PROPERTY(std::vector<LANPeerInfo> discoveredPeers READ discoveredPeers NOTIFY discoveredPeersChanged)
    Q_PROPERTY(std::vector<LANPeerInfo> manualPeers READ manualPeers NOTIFY manualPeersChanged)
    Q_PROPERTY(QImage lanQRCodeImage READ lanQRCodeImage NOTIFY lanQRCodeImageChanged)
    Q_PROPERTY(bool showingProfileSheet READ showingProfileSheet WRITE setShowingProfileSheet NOTIFY showingProfileSheetChanged)
    Q_PROPERTY(std::optional<ConnectionProfile> editingProfile READ editingProfile NOTIFY editingProfileChanged)
    Q_PROPERTY(bool showingSyncSheet READ showingSyncSheet WRITE setShowingSyncSheet NOTIFY showingSyncSheetChanged)
    Q_PROPERTY(SyncDirectionMode syncMode READ syncMode WRITE setSyncMode NOTIFY syncModeChanged)
    Q_PROPERTY(bool syncDeleteOrphans READ syncDeleteOrphans WRITE setSyncDeleteOrphans NOTIFY syncDeleteOrphansChanged)
    Q_PROPERTY(bool syncIncludeSubfolders READ syncIncludeSubfolders WRITE setSyncIncludeSubfolders NOTIFY syncIncludeSubfoldersChanged)
    Q_PROPERTY(bool isComputingSyncPlan READ isComputingSyncPlan NOTIFY isComputingSyncPlanChanged)
    Q_PROPERTY(std::optional<std::string> syncPlanError READ syncPlanError NOTIFY syncPlanErrorChanged)
    Q_PROPERTY(bool isSyncPlanStale READ isSyncPlanStale NOTIFY isSyncPlanStaleChanged)
    Q_PROPERTY(bool isSyncPlanRunnable READ isSyncPlanRunnable NOTIFY isSyncPlanRunnableChanged)
    Q_PROPERTY(bool showingPreviewSheet READ showingPreviewSheet WRITE setShowingPreviewSheet NOTIFY showingPreviewSheetChanged)
    Q_PROPERTY(bool isLoadingPreview READ isLoadingPreview NOTIFY isLoadingPreviewChanged)
    Q_PROPERTY(bool isSavingPreviewEdit READ isSavingPreviewEdit NOTIFY isSavingPreviewEditChanged)
    Q_PROPERTY(std::optional<SledFilePreviewResult> previewResult READ previewResult NOTIFY previewResultChanged)
    Q_PROPERTY(std::optional<std::string> previewError READ previewError NOTIFY previewErrorChanged)
    Q_PROPERTY(std::optional<std::string> previewSaveError READ previewSaveError NOTIFY previewSaveErrorChanged)
    Q_PROPERTY(std::optional<std::string> toastMessage READ toastMessage NOTIFY toastMessageChanged)
    Q_PROPERTY(bool toastIsError READ toastIsError NOTIFY toastIsErrorChanged)

public:
    explicit SledViewModel(SledModelEnvironment environment = {}, QObject* parent = nullptr);
    ~SledViewModel() override;
    SledViewModel(const SledViewModel&) = delete;
    SledViewModel& operator=(const SledViewModel&) = delete;

    // The application's one model, made on first use with the desktop's defaults.
    static SledViewModel& shared();

    // --- State ----------------------------------------------------------------------------------
    SledWorkspaceTab activeTab() const { return activeTab_; }
    void setActiveTab(SledWorkspaceTab tab);
    VornLanguage language() const { return language_; }
    const std::vector<ConnectionProfile>& profiles() const { return profiles_; }
    const SledSettings& settings() const { return settings_; }
    PaneBrowserState* leftPane() { return leftPane_; }
    PaneBrowserState* rightPane() { return rightPane_; }
    const std::deque<SledTransferRecord>& transfers() const { return transferList_.rows(); }
    bool isSyncingOrTransferring() const { return activeBatches_ > 0; }
    bool isLANServerRunning() const { return isLANServerRunning_; }
    std::uint16_t activeLANPort() const { return activeLANPort_; }
    const std::string& localLANIP() const { return localLANIP_; }
    const std::vector<LANPeerInfo>& discoveredPeers() const { return discoveredPeers_; }
    const std::vector<LANPeerInfo>& manualPeers() const { return manualPeers_; }
    const std::deque<LANSharedFileItem>& sharedLANFiles() const { return sharedFileList_.rows(); }
    const std::deque<LANReceivedFileItem>& receivedLANFiles() const { return receivedFileList_.rows(); }
    const std::deque<LANClipboardMessage>& clipboardMessages() const { return clipboardList_.rows(); }
    const QImage& lanQRCodeImage() const { return lanQRCodeImage_; }
    bool showingProfileSheet() const { return showingProfileSheet_; }
    void setShowingProfileSheet(bool showing);
    const std::optional<ConnectionProfile>& editingProfile() const { return editingProfile_; }
    bool showingSyncSheet() const { return showingSyncSheet_; }
    void setShowingSyncSheet(bool showing);
    SyncDirectionMode syncMode() const { return syncMode_; }
    void setSyncMode(SyncDirectionMode mode);
    bool syncDeleteOrphans() const { return syncDeleteOrphans_; }
    void setSyncDeleteOrphans(bool on);
    bool syncIncludeSubfolders() const { return syncIncludeSubfolders_; }
    void setSyncIncludeSubfolders(bool on);
    bool isComputingSyncPlan() const { return isComputingSyncPlan_; }
    const std::deque<SyncPlanItem>& syncPlanItems() const { return syncPlanList_.rows(); }
    // Why the last plan could not be made (a folder that could not be listed, a missing
    // credential); nothing while a plan stands or is being made. There is then no plan to run.
    const std::optional<std::string>& syncPlanError() const { return syncPlanError_; }
    // The plan compared other folders than the panes show now (a pane moved or swapped), or was
    // made with a connection that has since changed: it is shown for reference and never run.
    bool isSyncPlanStale() const { return isSyncPlanStale_; }
    // A plan stands for the folders both panes show, is not being replaced, and has something to do.
    bool isSyncPlanRunnable() const { return isSyncPlanRunnable_; }
    // "left ↔ right" of the folders the current plan compared; empty without a plan.
    std::string syncPlanPlacesTitle() const;
    bool showingPreviewSheet() const { return showingPreviewSheet_; }
    void setShowingPreviewSheet(bool showing);
    bool isLoadingPreview() const { return isLoadingPreview_; }
    bool isSavingPreviewEdit() const { return isSavingPreviewEdit_; }
    const std::optional<SledFilePreviewResult>& previewResult() const { return previewResult_; }
    const std::optional<std::string>& previewError() const { return previewError_; }
    // Why the last save from the preview did not happen (the file changed meanwhile, the upload
    // failed); cleared when another save starts or another preview opens.
    const std::optional<std::string>& previewSaveError() const { return previewSaveError_; }
    const std::optional<std::string>& toastMessage() const { return toastMessage_; }
    bool toastIsError() const { return toastIsError_; }

    // The lists the views show row by row.
    SledTransferListModel* transferList() { return &transferList_; }
    SledReceivedFileListModel* receivedFileList() { return &receivedFileList_; }
    SledClipboardListModel* clipboardList() { return &clipboardList_; }
    SledPeerListModel* peerList() { return &peerList_; }
    SledSharedFileListModel* sharedFileList() { return &sharedFileList_; }
    SledSyncPlanListModel* syncPlanList() { return &syncPlanList_; }

    // The injected desktop services, for views that need them too.
    SledConfirmation* confirmation() const { return environment_.confirmation.get(); }
    SledProfileRepository& repository() { return *repository_; }

    // --- Texts, language, toasts ---------------------------------------------------------------
    std::string t(std::string_view en, std::string_view tr) const;
    void setLanguage(VornLanguage language);
    void toggleLanguage();
    void showToast(const std::string& message, bool isError = false);
    // How long a toast stays.
    static constexpr int toastMilliseconds = 3200;
    void copyText(const std::string& text, const std::string& label);
    void revealPathInFinder(const std::string& path);
    void clearCompletedTransfers();
    void refreshBothPanes();
    void openSyncPreview();
    void openNewProfileSheet();

    // --- Panes ----------------------------------------------------------------------------------
    // The provider of an endpoint. Blocks (the keyring): call it off the GUI thread.
    std::shared_ptr<SledStorageProvider> provider(const PaneEndpoint& endpoint) const;
    std::string endpointTitle(const PaneEndpoint& endpoint) const;
    void selectEndpoint(const PaneEndpoint& endpoint, PaneBrowserState* pane);
    void refresh(PaneBrowserState* pane);
    void openDirectory(const SledFileEntry& entry, PaneBrowserState* pane);
    void navigateUp(PaneBrowserState* pane);
    // Lists the folder the user typed into the path field: an absolute path on the pane's
    // endpoint, without the white space around it (the pane's own path, passed back, is taken as
    // it is). Anything else is refused with a toast and the pane stays where it is.
    void openTypedPath(const std::string& typed, PaneBrowserState* pane);
    void swapPanes();
    bool isCurrentPathBookmarked(const PaneBrowserState* pane) const;
    void toggleBookmark(PaneBrowserState* pane);
    void jumpToBookmark(const SledBookmark& bookmark, PaneBrowserState* pane);
    void removeBookmark(const VornUUID& id);
    // The one way settings change (the views' included): stores them and, when asked, restarts
    // the LAN services if they run. False (after an error toast) when the file was not written.
    bool saveSettings(const SledSettings& settings, bool restartLAN);

    // --- File operations ------------------------------------------------------------------------
    void createFolder(const std::string& name, PaneBrowserState* pane);
    void deleteSelected(PaneBrowserState* pane);
    void renameEntry(const SledFileEntry& entry, const std::string& newName, PaneBrowserState* pane);
    // Renames an entry of the listing of `listedAt`, whatever the panes show by now: a rename
    // started before a navigation still acts on the storage and folder the entry was listed in.
    void renameEntry(const SledFileEntry& entry, const std::string& newName, const SledPanePlace& listedAt);
    bool supportsPresignedURL(const PaneEndpoint& endpoint) const;
    void copyPresignedURL(const SledFileEntry& entry, PaneBrowserState* pane, std::int64_t expiresInSeconds);
    void openQuickPreview(const SledFileEntry& entry, PaneBrowserState* pane);
    // Saves the edited text to the file that was previewed; `done` (optional) gets whether it was
    // saved and verified, on the GUI thread.
    void saveEditedPreviewText(const std::string& text, std::function<void(bool)> done = {});

    // --- Transfers ------------------------------------------------------------------------------
    void transferSelected(PaneBrowserState* from, PaneBrowserState* to);
    void handleDroppedLocalURLs(const std::vector<std::filesystem::path>& urls, PaneBrowserState* into);

    // --- Sync -----------------------------------------------------------------------------------
    void recomputeSyncPlan();
    // Runs the plan when it is runnable (else refuses with a toast and leaves the sheet open).
    // Every row is checked against a fresh listing first: a file that is no longer as the plan
    // listed it is skipped as a failed record "Changed since the preview".
    void executeSyncPlan();
    // The current plan can no longer be run (a connection it was made with changed); it stays on
    // show, marked stale, until the next recompute.
    void invalidateSyncPlan();

    // --- Profiles -------------------------------------------------------------------------------
    void openEditProfileSheet(const ConnectionProfile& profile);
    // Stores the secret when one is given (nothing leaves the stored one untouched), then the
    // profile. Saves and deletes of one profile take effect in the order they were asked for, and
    // a delete wins over a save still on its way. `done` (optional) gets, on the GUI thread,
    // nothing when the profile was saved, else the readable reason it was not (the keyring refused
    // or did not answer, or the profile file could not be written).
    void saveProfile(const ConnectionProfile& profile, const std::optional<std::string>& secret,
                     std::function<void(const std::optional<std::string>&)> done = {});
    void deleteProfile(const ConnectionProfile& profile);
    // Raised each time a saved profile's connection (where and as whom it connects) changes. Work
    // made against the profile (a listing, a preview, a sync plan) that recorded a lower value was
    // made against another server and must not act any more.
    std::uint64_t profileConnectionGeneration(const VornUUID& profileID) const;
    // Reads a profile's secret for the editor; `done` runs on the GUI thread.
    void loadProfileSecret(const VornUUID& profileID, std::function<void(const SledSecretLookup&)> done);
    // Tests an unsaved profile; `done` gets nothing on success, else the error text, on the GUI
    // thread.
    void testConnection(const ConnectionProfile& profile, const std::optional<std::string>& secret,
                        std::function<void(const std::optional<std::string>&)> done);

    // --- LAN ------------------------------------------------------------------------------------
    void startLANServices();
    void stopLANServices();
    void toggleLANServer();
    std::vector<LANPeerInfo> allLANPeers() const;
    std::string lanPortalURLString() const;
    void addFilesToLANShareShelf(const std::vector<std::filesystem::path>& urls);
    void chooseFilesForLANShare();
    void removeSharedLANFile(const std::string& id);
    void publishMacClipboardToLANPortal();
    void connectManualPeer(const std::string& host, const std::string& portString);
    void sledFiles(const std::vector<std::filesystem::path>& urls, const LANPeerInfo& to,
                   const std::optional<std::string>& pin);
    void sledMacClipboard(const LANPeerInfo& to, const std::optional<std::string>& pin);
    void chooseFilesAndSled(const LANPeerInfo& to, const std::optional<std::string>& pin);
    // The server this model runs (its device id, for peers' tests and the info page).
    const LANSledServer& lanServer() const { return *lanServer_; }

    // Clipboard history bounds: a peer without a PIN may post large texts in a loop.
    static constexpr std::size_t maximumClipboardMessages = 500;
    static constexpr std::size_t maximumClipboardTextBytes = 64u * 1024u * 1024u;

signals:
    void activeTabChanged();
    void languageChanged();
    void profilesChanged();
    void settingsChanged();
    void transfersChanged();
    void isSyncingOrTransferringChanged();
    void isLANServerRunningChanged();
    void activeLANPortChanged();
    void localLANIPChanged();
    void discoveredPeersChanged();
    void manualPeersChanged();
    void sharedLANFilesChanged();
    void receivedLANFilesChanged();
    void clipboardMessagesChanged();
    void lanQRCodeImageChanged();
    void showingProfileSheetChanged();
    void editingProfileChanged();
    void showingSyncSheetChanged();
    void syncModeChanged();
    void syncDeleteOrphansChanged();
    void syncIncludeSubfoldersChanged();
    void isComputingSyncPlanChanged();
    void syncPlanItemsChanged();
    void syncPlanErrorChanged();
    void isSyncPlanStaleChanged();
    void isSyncPlanRunnableChanged();
    // A sync run's deletions have ended (their failures reported, the panes listed again).
    void syncDeletionsFinished();
    void showingPreviewSheetChanged();
    void isLoadingPreviewChanged();
    void isSavingPreviewEditChanged();
    void previewResultChanged();
    void previewErrorChanged();
    void previewSaveErrorChanged();
    void toastMessageChanged();
    void toastIsErrorChanged();
    // Every toast shown, also one whose text equals the one before.
    void toastShown();
    // A LAN start or stop request has been carried out (whether or not it succeeded).
    void lanServicesSettled();
    // A transfer batch (its toast shown, its destination listed again) has ended.
    void transferBatchFinished();

private:
    struct TransferSide {
        PaneEndpoint endpoint;
        std::string folder;
    };
    struct ProgressUpdate {
        SledTransferStatus status = SledTransferStatus::queued;
        std::int64_t transferredBytes = 0;
        std::int64_t totalBytes = 0;
        std::optional<std::string> sha256Hex;
        bool isVerified = false;
        std::optional<std::string> errorMessage;
    };
    struct SyncPlanContext {
        SledPanePlace left;
        SledPanePlace right;
    };

    // Runs `work` on a worker thread with the model's stop token.
    void background(std::function<void(std::stop_token)> work);
    // Runs `apply` on the GUI thread (dropped when the model is gone by then).
    void onGUI(std::function<void()> apply);
    std::string describe(const std::exception_ptr& error) const;
    std::shared_ptr<SledStorageProvider> makeProvider(const PaneEndpoint& endpoint,
                                                      const std::vector<ConnectionProfile>& profiles) const;
    const ConnectionProfile* findProfile(const VornUUID& id) const;
    // Refuses (with a toast) when the pane's entries are not of the place it shows.
    bool requireCurrentListing(PaneBrowserState* pane);
    PaneBrowserState* paneShowing(const SledPanePlace& place);
    void refreshPanesShowing(const SledPanePlace& place);

    // A batch's records (queued, and failed for what was refused before it), its jobs and the
    // folders its destination needs first. `failedBeforeStart` counts the refused files among the
    // batch's files for its toast.
    struct TransferBatch {
        std::vector<SledTransferRecord> records;
        std::vector<SledTransferJobSpec> jobs;
        std::vector<std::string> parents;
        std::string base;
        std::size_t failedBeforeStart = 0;
    };
    // Safe on any thread: it reads nothing of the model. `skipped`: entries a walk left out, each
    // with its reason; they become failed records of the batch.
    static TransferBatch makeTransferBatch(const std::vector<SledRelativeFile>& files,
                                           const std::vector<SkippedFileNode>& skipped, const TransferSide& source,
                                           const TransferSide& destination, const std::string& sourceLabel,
                                           const std::string& destinationLabel);
    // `refusedEarlier`: files of the same direction refused before the batch (a sync row changed
    // since the preview) whose failed records already stand; the toast counts them too.
    void runTransferRelativeFiles(std::vector<SledRelativeFile> files, const TransferSide& source,
                                  const TransferSide& destination, std::vector<SkippedFileNode> skipped = {},
                                  std::size_t refusedEarlier = 0);
    // Lists the batch's records and starts its jobs (GUI thread).
    void startTransferBatch(TransferBatch batch, const TransferSide& source, const TransferSide& destination);
    void enqueueProgress(const VornUUID& id, ProgressUpdate update);
    void flushProgress();
    // Applies one report to its record without telling the views; returns the record's row (-1
    // when it is no longer listed).
    int applyProgress(const VornUUID& id, ProgressUpdate&& update);
    void beginBatch();
    void endBatch();
    void failRecords(const std::vector<VornUUID>& ids, const std::string& errorText);

    void setPreviewState(bool loading, std::optional<SledFilePreviewResult> result, std::optional<std::string> error);
    void setPreviewSaveError(std::optional<std::string> error);
    void setSyncPlan(std::vector<SyncPlanItem> items, std::optional<SyncPlanContext> context);
    void setSyncPlanError(std::optional<std::string> error);
    // Publishes a plan made away from the interface, unless a newer one was asked for meanwhile.
    void publishComputedSyncPlan(std::uint64_t generation, std::vector<SyncPlanItem> plan,
                                 const SyncPlanContext& context, const std::optional<std::string>& failure,
                                 const std::function<void(const std::string&)>& fail);
    void updateSyncPlanState();
    // Runs the rows of a plan that passed the run-time check; `refused` (item id → reason) are not
    // run but recorded as failed.
    void runCheckedSyncPlan(const std::vector<SyncPlanItem>& items, const SyncPlanContext& context,
                            const std::map<std::string, std::string>& refused);
    void setComputingSyncPlan(bool computing);
    // Publishes and stores the list; false (after an error toast) when the file was not written.
    bool setProfiles(std::vector<ConnectionProfile> profiles);
    // The error toast for a store that was not written; true when it was.
    bool reportStoreResult(SledStoreSaveResult result);
    // A saved profile now connects elsewhere: nothing listed, previewed or planned with it stays
    // usable.
    void connectionChanged(const VornUUID& profileID);
    void setLANState(bool running, std::uint16_t port);
    void insertClipboardMessage(LANClipboardMessage message);
    void refreshPeerList();
    void insertTransferRecord(SledTransferRecord record);

    SledModelEnvironment environment_;
    SledKeyringLane keyringLane_;
    std::unique_ptr<SledProfileRepository> repository_;
    ParallelSledTransferEngine transferEngine_;
    std::unique_ptr<LANSledServer> lanServer_;
    std::unique_ptr<LANPeerDiscovery> lanDiscovery_;
    LANSledClient lanClient_;

    SledWorkspaceTab activeTab_ = SledWorkspaceTab::dualPane;
    VornLanguage language_;
    // The language error texts made on worker threads are written in.
    std::atomic<VornLanguage::Case> workerLanguage_;
    std::vector<ConnectionProfile> profiles_;
    SledSettings settings_;
    PaneBrowserState* leftPane_ = nullptr;
    PaneBrowserState* rightPane_ = nullptr;
    int activeBatches_ = 0;
    bool isLANServerRunning_ = false;
    std::uint16_t activeLANPort_ = 0;
    std::string localLANIP_;
    std::vector<LANPeerInfo> discoveredPeers_;
    std::vector<LANPeerInfo> manualPeers_;
    QImage lanQRCodeImage_;
    bool showingProfileSheet_ = false;
    std::optional<ConnectionProfile> editingProfile_;
    bool showingSyncSheet_ = false;
    SyncDirectionMode syncMode_ = SyncDirectionMode::mirrorLeftToRight;
    bool syncDeleteOrphans_ = false;
    bool syncIncludeSubfolders_ = true;
    bool isComputingSyncPlan_ = false;
    bool showingPreviewSheet_ = false;
    bool isLoadingPreview_ = false;
    bool isSavingPreviewEdit_ = false;
    std::optional<SledFilePreviewResult> previewResult_;
    std::optional<std::string> previewError_;
    std::optional<std::string> previewSaveError_;
    std::optional<std::string> toastMessage_;
    bool toastIsError_ = false;
    QTimer toastTimer_;

    // The preview: which request is the newest, and where its file lives, captured when it opened.
    std::uint64_t previewGeneration_ = 0;
    std::optional<SledPanePlace> previewSourcePlace_;
    std::optional<SledFileEntry> previewSourceEntry_;

    // Per profile: raised by every save and delete, so only the newest one's outcome is applied;
    // and raised by every change of its connection.
    std::unordered_map<VornUUID, std::uint64_t> profileEditGeneration_;
    std::unordered_map<VornUUID, std::uint64_t> profileConnectionGeneration_;
    // Per profile whose secret is being stored: what the keyring held before the first store still
    // out, read on the keyring lane just before it, so that a store that came too late can be
    // undone to match the profile that was kept.
    struct KeyringBaseline {
        // Written and read on the lane only, whose calls run one after the other.
        bool read = false;
        std::optional<std::string> secret;
        // GUI thread: the stores of this profile still out, the newest of them, and whether one
        // of them timed out.
        int outstanding = 0;
        std::uint64_t newestStore = 0;
        bool timedOut = false;
    };
    std::unordered_map<VornUUID, std::shared_ptr<KeyringBaseline>> keyringBaselines_;
    std::uint64_t keyringStores_ = 0;

    std::uint64_t syncPlanGeneration_ = 0;
    std::optional<SyncPlanContext> syncPlanContext_;
    std::optional<std::string> syncPlanError_;
    bool syncPlanInvalidated_ = false;
    bool isSyncPlanStale_ = false;
    bool isSyncPlanRunnable_ = false;

    // LAN start and stop requests run one after the other on their own thread, newest last; only
    // the newest request's outcome is shown.
    std::uint64_t lanGeneration_ = 0;
    bool lanWanted_ = false;
    std::size_t clipboardTextBytes_ = 0;

    SledTransferListModel transferList_;
    SledReceivedFileListModel receivedFileList_;
    SledClipboardListModel clipboardList_;
    SledPeerListModel peerList_;
    SledSharedFileListModel sharedFileList_;
    SledSyncPlanListModel syncPlanList_;

    // Progress reports from the engine's threads, merged per record until the GUI thread applies
    // them.
    std::mutex progressLock_;
    std::unordered_map<VornUUID, ProgressUpdate> pendingProgress_;
    bool progressFlushScheduled_ = false;

    std::stop_source stopSource_;
    QThreadPool workers_;
    QThreadPool lanQueue_;
};
