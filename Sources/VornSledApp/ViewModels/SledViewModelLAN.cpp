#include "SledViewModel.h"

#include "LANNetworkHelpers.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::uint16_t defaultPeerPort = 53318;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n\v\f");
    return text.substr(first, last - first + 1);
}

std::uint16_t parsePort(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value > 65535) {
        return defaultPeerPort;
    }
    return static_cast<std::uint16_t>(value);
}

bool isRegularFile(const std::filesystem::path& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

QImage qrImage(const std::string& text) {
    const std::optional<LANQRCodeImage> code = LANNetworkHelpers::generateQRCodeImage(text, 220.0);
    if (!code) {
        return {};
    }
    QImage image(code->pixelWidth, code->pixelHeight, QImage::Format_Grayscale8);
    for (int y = 0; y < code->pixelHeight; ++y) {
        std::copy_n(code->pixels.data() + static_cast<std::size_t>(y) * code->pixelWidth, code->pixelWidth,
                    image.scanLine(y));
    }
    return image;
}

}  // namespace

void SledViewModel::setLANState(bool running, std::uint16_t port) {
    if (running != isLANServerRunning_) {
        isLANServerRunning_ = running;
        emit isLANServerRunningChanged();
    }
    if (port != activeLANPort_) {
        activeLANPort_ = port;
        emit activeLANPortChanged();
    }
}

void SledViewModel::startLANServices() {
    lanWanted_ = true;
    const std::uint64_t generation = ++lanGeneration_;
    const std::string address = LANNetworkHelpers::primaryLANIPv4();
    if (address != localLANIP_) {
        localLANIP_ = address;
        emit localLANIPChanged();
    }
    const SledSettings settings = settings_;
    const bool advertise = environment_.advertiseLANServer;
    LANServerCallbacks callbacks;
    callbacks.onFileReceived = [this](const LANReceivedFileItem& item) {
        onGUI([this, item] {
            receivedFileList_.insertFront(item);
            emit receivedLANFilesChanged();
            SledTransferRecord record;
            record.id = VornUUID::random();
            record.fileName = item.fileName;
            record.sourceLabel = "LAN (" + item.senderName + ")";
            record.destinationLabel = t("VornSled Downloads", "VornSled İndirilenler");
            record.direction = SledTransferDirection::lanReceive;
            record.status = SledTransferStatus::completed;
            record.totalBytes = item.sizeBytes;
            record.transferredBytes = item.sizeBytes;
            record.sha256Hex = item.sha256Hex;
            record.isSHA256Verified = item.verifiedMatch;
            record.createdAt = vornDateNow();
            record.completedAt = record.createdAt;
            insertTransferRecord(record);
            // "OK" only when the digest the sender declared was compared and matched.
            if (item.verifiedMatch) {
                showToast(vornText("Received via LAN: " + item.fileName + " (SHA-256 OK)",
                                   "Yerel ağdan alındı: " + item.fileName + " (SHA-256 OK)", std::nullopt, language_));
            } else {
                showToast(vornText("Received via LAN: " + item.fileName + " (SHA-256 not verified)",
                                   "Yerel ağdan alındı: " + item.fileName + " (SHA-256 doğrulanmadı)", std::nullopt,
                                   language_));
            }
        });
    };
    callbacks.onClipboardReceived = [this](const LANClipboardMessage& message) {
        onGUI([this, message] {
            insertClipboardMessage(message);
            environment_.clipboard->setText(message.text);
            showToast(vornText("Clipboard synced from " + message.senderName,
                               message.senderName + " cihazından pano senkronize edildi", std::nullopt, language_));
        });
    };
    lanQueue_.start([this, generation, settings, advertise, callbacks] {
        LANSledServer& server = *lanServer_;
        server.updateConfiguration(settings.lanDeviceName, settings.lanDownloadDirectory, settings.lanRequirePIN,
                                   settings.lanPIN);
        std::optional<std::uint16_t> port;
        std::optional<std::string> firstFailure;
        try {
            port = server.start(settings.lanPort, advertise, callbacks);
        } catch (...) {
            firstFailure = describe(std::current_exception());
            try {
                port = server.start(0, advertise, callbacks);
            } catch (...) {
                // Nothing listens now; the first failure is the one worth reporting.
            }
        }
        lanDiscovery_->start(settings.lanDeviceName, [this](const std::vector<LANPeerInfo>& peers) {
            onGUI([this, peers] {
                if (peers != discoveredPeers_) {
                    discoveredPeers_ = peers;
                    emit discoveredPeersChanged();
                    refreshPeerList();
                }
            });
        });
        onGUI([this, generation, port, firstFailure, configuredPort = settings.lanPort] {
            if (generation != lanGeneration_) {
                return;  // a newer start or stop was asked for; it decides what is shown
            }
            if (port) {
                setLANState(true, *port);
            } else {
                lanWanted_ = false;
                setLANState(false, 0);
            }
            // The code always shows the address peers can reach now (the configured port while
            // nothing listens), never a port of a listener that is gone.
            lanQRCodeImage_ = port ? qrImage(lanPortalURLString()) : QImage();
            emit lanQRCodeImageChanged();
            if (!port && firstFailure) {
                showToast(*firstFailure, true);
            } else if (port && firstFailure) {
                // Peers and printed codes that use the configured port reach nothing now.
                const std::string configured = std::to_string(configuredPort);
                const std::string bound = std::to_string(*port);
                showToast(vornText("LAN port " + configured + " is in use, so sharing runs on port " + bound +
                                       " instead.",
                                   "Yerel ağ bağlantı noktası " + configured + " kullanımda; paylaşım bunun yerine " +
                                       bound + " numaralı bağlantı noktasında çalışıyor.",
                                   std::nullopt, language_));
            }
            emit lanServicesSettled();
        });
    });
}

void SledViewModel::stopLANServices() {
    lanWanted_ = false;
    const std::uint64_t generation = ++lanGeneration_;
    lanQueue_.start([this, generation] {
        lanServer_->stop();
        lanDiscovery_->stop();
        onGUI([this, generation] {
            if (generation != lanGeneration_) {
                return;
            }
            setLANState(false, 0);
            emit lanServicesSettled();
        });
    });
}

void SledViewModel::toggleLANServer() {
    // Acts on what was last asked for, so a press while a start is still binding stops it.
    if (lanWanted_) {
        stopLANServices();
    } else {
        startLANServices();
    }
}

std::vector<LANPeerInfo> SledViewModel::allLANPeers() const {
    std::vector<LANPeerInfo> peers = discoveredPeers_;
    for (const LANPeerInfo& manual : manualPeers_) {
        bool listed = false;
        for (const LANPeerInfo& peer : peers) {
            listed = listed || (peer.host == manual.host && peer.port == manual.port);
        }
        if (!listed) {
            peers.push_back(manual);
        }
    }
    return peers;
}

void SledViewModel::refreshPeerList() {
    peerList_.replaceAll(allLANPeers());
}

std::string SledViewModel::lanPortalURLString() const {
    const std::uint16_t port = activeLANPort_ != 0 ? activeLANPort_ : settings_.lanPort;
    return "http://" + localLANIP_ + ":" + std::to_string(port);
}

void SledViewModel::addFilesToLANShareShelf(const std::vector<std::filesystem::path>& urls) {
    background([this, urls](std::stop_token) {
        std::vector<LANSharedFileItem> added;
        for (const std::filesystem::path& url : urls) {
            if (!isRegularFile(url)) {
                continue;
            }
            LANSharedFileItem item;
            std::string token = VornUUID::random().uuidString();
            std::erase(token, '-');
            for (char& c : token) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            item.id = token;
            item.fileName = url.filename().string();
            item.filePath = url.string();
            std::error_code error;
            const auto size = std::filesystem::file_size(url, error);
            item.sizeBytes = error ? 0 : static_cast<std::int64_t>(size);
            try {
                item.sha256Hex = VornChecksum::sha256(url, 1'048'576);
            } catch (...) {
                item.sha256Hex.clear();
            }
            added.push_back(std::move(item));
        }
        onGUI([this, added] {
            for (const LANSharedFileItem& item : added) {
                sharedFileList_.append(item);
            }
            const std::vector<LANSharedFileItem> shelf(sharedLANFiles().begin(), sharedLANFiles().end());
            lanServer_->setSharedFiles(shelf);
            if (!added.empty()) {
                emit sharedLANFilesChanged();
                const std::string count = std::to_string(added.size());
                showToast(vornText("Shared " + count + " file(s) on LAN portal",
                                   count + " dosya yerel ağ portalında paylaşıldı", std::nullopt, language_));
            }
        });
    });
}

void SledViewModel::chooseFilesForLANShare() {
    if (!environment_.fileChooser) {
        return;
    }
    const auto chosen = environment_.fileChooser->chooseFiles(t("Share files on LAN", "Yerel ağda dosya paylaş"));
    if (!chosen.empty()) {
        addFilesToLANShareShelf(chosen);
    }
}

void SledViewModel::removeSharedLANFile(const std::string& id) {
    const int removed = sharedFileList_.removeIf([&](const LANSharedFileItem& item) { return item.id == id; });
    const std::vector<LANSharedFileItem> shelf(sharedLANFiles().begin(), sharedLANFiles().end());
    lanServer_->setSharedFiles(shelf);
    if (removed > 0) {
        emit sharedLANFilesChanged();
    }
}

void SledViewModel::insertClipboardMessage(LANClipboardMessage message) {
    clipboardTextBytes_ += message.text.size();
    clipboardList_.insertFront(std::move(message));
    // The newest messages stay, within both bounds; the newest one always stays.
    while (clipboardList_.rowCount() > 1 && (clipboardList_.rows().size() > maximumClipboardMessages ||
                                             clipboardTextBytes_ > maximumClipboardTextBytes)) {
        clipboardTextBytes_ -= clipboardList_.rows().back().text.size();
        clipboardList_.removeLast();
    }
    emit clipboardMessagesChanged();
}

void SledViewModel::publishMacClipboardToLANPortal() {
    const std::optional<std::string> text = environment_.clipboard->text();
    if (!text || text->empty()) {
        showToast(t("Clipboard is empty.", "Pano boş."), true);
        return;
    }
    lanServer_->setLatestOutgoingClipboard(*text);
    LANClipboardMessage message;
    message.id = VornUUID::random();
    message.senderName = settings_.lanDeviceName;
    message.text = *text;
    message.sha256Hex = VornSHA256::hexDigest(*text);
    message.receivedAt = vornDateNow();
    message.isOutgoing = true;
    insertClipboardMessage(std::move(message));
    showToast(t("Clipboard published to LAN portal!", "Pano yerel ağ portalında paylaşıldı!"));
}

void SledViewModel::connectManualPeer(const std::string& host, const std::string& portString) {
    const std::string address = trimmed(host);
    const std::uint16_t port = parsePort(trimmed(portString));
    if (address.empty()) {
        return;
    }
    background([this, address, port](std::stop_token stop) {
        std::optional<LANPeerInfo> peer;
        std::optional<std::string> failure;
        try {
            peer = lanClient_.probePeer(address, port, stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, peer, failure] {
            if (failure) {
                showToast(*failure, true);
                return;
            }
            std::erase_if(manualPeers_, [&](const LANPeerInfo& known) {
                return known.host == peer->host && known.port == peer->port;
            });
            manualPeers_.push_back(*peer);
            emit manualPeersChanged();
            refreshPeerList();
            showToast(vornText("Connected to " + peer->deviceName, peer->deviceName + " cihazına bağlanıldı",
                               std::nullopt, language_));
        });
    });
}

void SledViewModel::sledFiles(const std::vector<std::filesystem::path>& urls, const LANPeerInfo& to,
                              const std::optional<std::string>& pin) {
    std::vector<std::filesystem::path> files;
    for (const std::filesystem::path& url : urls) {
        if (isRegularFile(url)) {
            files.push_back(url);
        }
    }
    if (files.empty()) {
        return;
    }
    const std::string senderName = settings_.lanDeviceName;
    const int workers = static_cast<int>(settings_.parallelWorkers);
    background([this, files, to, pin, senderName, workers](std::stop_token stop) {
        std::vector<LANSledSendOutcome> outcomes =
            lanClient_.sendFilesInParallel(files, to, senderName, pin, workers, stop);
        std::vector<std::optional<std::string>> failures;
        for (const LANSledSendOutcome& outcome : outcomes) {
            failures.push_back(outcome.succeeded() ? std::nullopt
                                                   : std::optional<std::string>(describe(outcome.error())));
        }
        onGUI([this, outcomes = std::move(outcomes), failures, to, senderName] {
            std::size_t succeeded = 0;
            std::size_t unverified = 0;
            for (std::size_t index = 0; index < outcomes.size(); ++index) {
                const LANSledSendOutcome& outcome = outcomes[index];
                SledTransferRecord record;
                record.id = VornUUID::random();
                record.sourceLabel = senderName;
                record.destinationLabel = "LAN (" + to.deviceName + ")";
                record.direction = SledTransferDirection::lanSend;
                record.createdAt = vornDateNow();
                if (const LANSledUploadResponse* response = outcome.response()) {
                    ++succeeded;
                    unverified += response->remoteVerified ? 0 : 1;
                    record.fileName = response->fileName;
                    record.status = SledTransferStatus::completed;
                    record.totalBytes = response->bytes;
                    record.transferredBytes = response->bytes;
                    record.sha256Hex = response->sha256Hex;
                    record.isSHA256Verified = response->remoteVerified;
                    record.completedAt = record.createdAt;
                } else {
                    record.fileName = outcome.localURL.filename().string();
                    record.status = SledTransferStatus::failed;
                    record.errorMessage = failures[index];
                }
                transferList_.insertFront(std::move(record));
            }
            emit transfersChanged();
            const std::string counts = std::to_string(succeeded) + "/" + std::to_string(outcomes.size());
            std::string en = "Sleded " + counts + " file(s) to " + to.deviceName;
            std::string tr = counts + " dosya " + to.deviceName + " cihazına gönderildi";
            if (unverified == 0) {
                en += " (SHA-256 verified)";
                tr += " (SHA-256 doğrulandı)";
            } else {
                const std::string number = std::to_string(unverified);
                en += " (" + number + " not verified by SHA-256)";
                tr += " (" + number + " dosya SHA-256 ile doğrulanamadı)";
            }
            showToast(vornText(en, tr, std::nullopt, language_), succeeded < outcomes.size());
        });
    });
}

void SledViewModel::sledMacClipboard(const LANPeerInfo& to, const std::optional<std::string>& pin) {
    const std::optional<std::string> text = environment_.clipboard->text();
    if (!text || text->empty()) {
        showToast(t("Clipboard is empty.", "Pano boş."), true);
        return;
    }
    const std::string senderName = settings_.lanDeviceName;
    background([this, text = *text, to, pin, senderName](std::stop_token stop) {
        std::optional<std::string> digest;
        std::optional<std::string> failure;
        try {
            digest = lanClient_.sendClipboard(text, to, senderName, pin, stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([this, text, to, senderName, digest, failure] {
            if (failure) {
                showToast(*failure, true);
                return;
            }
            LANClipboardMessage message;
            message.id = VornUUID::random();
            message.senderName = senderName + " → " + to.deviceName;
            message.text = text;
            message.sha256Hex = *digest;
            message.receivedAt = vornDateNow();
            message.isOutgoing = true;
            insertClipboardMessage(std::move(message));
            showToast(vornText("Clipboard sleded to " + to.deviceName, "Pano " + to.deviceName + " cihazına aktarıldı",
                               std::nullopt, language_));
        });
    });
}

void SledViewModel::chooseFilesAndSled(const LANPeerInfo& to, const std::optional<std::string>& pin) {
    if (!environment_.fileChooser) {
        return;
    }
    const auto chosen = environment_.fileChooser->chooseFiles(t("Send files", "Dosya gönder"));
    if (!chosen.empty()) {
        sledFiles(chosen, to, pin);
    }
}
