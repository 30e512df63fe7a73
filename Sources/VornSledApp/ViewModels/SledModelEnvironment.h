#pragma once

#include "ConnectionProfile.h"
#include "LANSledClient.h"
#include "PaneEndpoint.h"
#include "SledStorageProvider.h"
#include "VornUUID.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the workspace model needs of the desktop and of widgets, behind small interfaces that the
// application implements (and tests replace). The model itself links neither Qt Widgets nor any
// desktop service directly.

// The plain-text clipboard. Called on the GUI thread only.
class SledClipboardAccess {
public:
    virtual ~SledClipboardAccess() = default;
    // The clipboard's text as UTF-8; nothing when it holds no text.
    virtual std::optional<std::string> text() = 0;
    virtual void setText(const std::string& text) = 0;
};

// The system clipboard through QClipboard (needs a QGuiApplication).
class SledSystemClipboard final : public SledClipboardAccess {
public:
    std::optional<std::string> text() override;
    void setText(const std::string& text) override;
};

// Lets the user pick files (a modal open dialog in the application). Called on the GUI thread.
class SledFileChooser {
public:
    virtual ~SledFileChooser() = default;
    // The chosen regular files; empty when the user cancelled.
    virtual std::vector<std::filesystem::path> chooseFiles(const std::string& title) = 0;
};

// Asks the user to confirm a destructive step. The model's own operations never ask; views that
// want a confirmation reach it through the model so tests can answer for the user.
class SledConfirmation {
public:
    virtual ~SledConfirmation() = default;
    virtual bool confirm(const std::string& title, const std::string& message) = 0;
};

// Shows a local file selected in the file manager.
class SledFileRevealer {
public:
    virtual ~SledFileRevealer() = default;
    virtual void reveal(const std::filesystem::path& item) = 0;
};

// The desktop's file manager over D-Bus, else the folder opened (VornDesktop).
class SledDesktopRevealer final : public SledFileRevealer {
public:
    void reveal(const std::filesystem::path& item) override;
};

// The secrets of connection profiles. Every call may block (it talks to the keyring daemon), so
// the model calls it off the GUI thread only.
class SledCredentialAccess {
public:
    virtual ~SledCredentialAccess() = default;
    // Nothing when there is no secret or it cannot be read.
    virtual std::optional<std::string> load(const VornUUID& profileID) = 0;
    // Nothing when there is no secret; throws when the keyring cannot be read.
    virtual std::optional<std::string> loadOrThrow(const VornUUID& profileID) = 0;
    // An empty secret deletes the item; throws when the keyring refuses.
    virtual void save(const std::string& secret, const VornUUID& profileID) = 0;
    virtual void remove(const VornUUID& profileID) = 0;
};

// The system keyring (SledCredentialStore).
class SledKeyringCredentials final : public SledCredentialAccess {
public:
    std::optional<std::string> load(const VornUUID& profileID) override;
    std::optional<std::string> loadOrThrow(const VornUUID& profileID) override;
    void save(const std::string& secret, const VornUUID& profileID) override;
    void remove(const VornUUID& profileID) override;
};

// Makes the storage provider of an endpoint. `profile` is the endpoint's profile (null for the
// local endpoint) and `secret` its stored secret. Returning null means "the usual provider".
// Called off the GUI thread.
using SledProviderFactory = std::function<std::shared_ptr<SledStorageProvider>(
    const PaneEndpoint& endpoint, const ConnectionProfile* profile, const std::optional<std::string>& secret)>;

// Everything the model is built from. Members left empty take the desktop defaults.
struct SledModelEnvironment {
    // The folder of the profile store; nothing selects the store's default folder.
    std::optional<std::filesystem::path> dataFolder;
    // Where the two panes start; nothing selects the home and Downloads folders.
    std::optional<std::string> leftStartPath;
    std::optional<std::string> rightStartPath;

    std::shared_ptr<SledClipboardAccess> clipboard;
    std::shared_ptr<SledFileChooser> fileChooser;
    std::shared_ptr<SledConfirmation> confirmation;
    std::shared_ptr<SledFileRevealer> revealer;
    std::shared_ptr<SledCredentialAccess> credentials;
    // How long a caller waits for one keyring call before it reports "The system keyring did not
    // answer"; the call itself is left to finish on its own.
    std::chrono::milliseconds keyringDeadline{10'000};
    SledProviderFactory providerFactory;

    LANSledClientSession lanClientSession;
    // Start the LAN server and discovery during start-up.
    bool startLANServicesOnLaunch = true;
    // Publish the server through mDNS while it runs.
    bool advertiseLANServer = true;
};
