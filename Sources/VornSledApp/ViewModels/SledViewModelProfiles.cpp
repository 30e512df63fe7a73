#include "SledViewModel.h"

#include "S3R2StorageProvider.h"
#include "SFTPStorageProvider.h"
#include "SledError.h"
#include "VornLocalizationStore.h"
#include "VornTaskCancelled.h"

#include <algorithm>

namespace {

// The fields that decide which server a profile reaches and as whom; the name and the start folder
// do not.
bool sameConnection(const ConnectionProfile& a, const ConnectionProfile& b) {
    return a.kind == b.kind && a.host == b.host && a.port == b.port && a.username == b.username &&
           a.sftpAuthMethod == b.sftpAuthMethod && a.privateKeyPath == b.privateKeyPath &&
           a.endpointURL == b.endpointURL && a.region == b.region && a.bucket == b.bucket &&
           a.accessKeyID == b.accessKeyID && a.cloudflareAccountID == b.cloudflareAccountID &&
           a.usePathStyleAddressing == b.usePathStyleAddressing;
}

}  // namespace

bool SledViewModel::setProfiles(std::vector<ConnectionProfile> profiles) {
    const SledStoreSaveResult result = repository_->saveProfiles(profiles);
    // A refused list never entered the store; the model keeps showing what the store holds.
    if (result != SledStoreSaveResult::refused && !(profiles == profiles_)) {
        std::vector<VornUUID> moved;
        for (const ConnectionProfile& updated : profiles) {
            for (const ConnectionProfile& old : profiles_) {
                if (old.id == updated.id && !sameConnection(old, updated)) {
                    moved.push_back(updated.id);
                }
            }
        }
        profiles_ = std::move(profiles);
        emit profilesChanged();
        for (const VornUUID& id : moved) {
            connectionChanged(id);
        }
    }
    return reportStoreResult(result);
}

std::uint64_t SledViewModel::profileConnectionGeneration(const VornUUID& profileID) const {
    const auto found = profileConnectionGeneration_.find(profileID);
    return found == profileConnectionGeneration_.end() ? 0 : found->second;
}

void SledViewModel::connectionChanged(const VornUUID& profileID) {
    ++profileConnectionGeneration_[profileID];
    const PaneEndpoint endpoint = PaneEndpoint::remote(profileID);
    // The listing and selection came from the old server: acting on them now would reach the new
    // one by the old paths. They go, and the pane lists the new server.
    for (PaneBrowserState* pane : {leftPane_, rightPane_}) {
        if (pane->endpoint() == endpoint) {
            pane->forgetListing();
            refresh(pane);
        }
    }
    // A plan compared files on the old server, and one still being worked out does too.
    const bool planUsesProfile = syncPlanContext_ && (syncPlanContext_->left.endpoint == endpoint ||
                                                      syncPlanContext_->right.endpoint == endpoint);
    if (planUsesProfile || isComputingSyncPlan_) {
        ++syncPlanGeneration_;
        setSyncPlan({}, std::nullopt);
        setComputingSyncPlan(false);
    }
    // The previewed file lives on the old server: its edit may not be saved to the new one.
    if (previewSourcePlace_ && previewSourcePlace_->endpoint == endpoint) {
        ++previewGeneration_;
        previewSourcePlace_.reset();
        previewSourceEntry_.reset();
        setPreviewState(false, std::nullopt,
                        t("The connection of this file was changed. Open the file again from its pane.",
                          "Bu dosyanın bağlantısı değiştirildi. Dosyayı bölmesinden yeniden açın."));
    }
}

void SledViewModel::openEditProfileSheet(const ConnectionProfile& profile) {
    if (editingProfile_ != profile) {
        editingProfile_ = profile;
        emit editingProfileChanged();
    }
    setShowingProfileSheet(true);
}

void SledViewModel::saveProfile(const ConnectionProfile& profile, const std::optional<std::string>& secret,
                                std::function<void(const std::optional<std::string>&)> done) {
    const std::uint64_t generation = ++profileEditGeneration_[profile.id];
    // Applies the profile once its secret is stored, unless a newer save or a delete of the same
    // profile came since: that one carries what the user wants now.
    auto apply = [this, profile, generation, done] {
        if (generation != profileEditGeneration_[profile.id]) {
            if (done) {
                done(std::nullopt);
            }
            return;
        }
        std::vector<ConnectionProfile> updated = profiles_;
        bool replaced = false;
        for (ConnectionProfile& existing : updated) {
            if (existing.id == profile.id) {
                existing = profile;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            updated.push_back(profile);
        }
        if (!setProfiles(std::move(updated))) {
            if (done) {
                done(toastMessage_);
            }
            return;
        }
        showToast(vornText("Profile saved securely in system keyring: " + profile.name,
                           "Profil sistem anahtarlığında güvenle kaydedildi: " + profile.name, std::nullopt,
                           language_));
        if (done) {
            done(std::nullopt);
        }
    };
    if (!secret) {
        apply();
        return;
    }
    // Submitted here, on the GUI thread, so the keyring sees the calls in the order the user made
    // them; only the waiting happens elsewhere. The first store of a run of them reads what the
    // keyring held before, for the case that they all come too late.
    const std::shared_ptr<SledCredentialAccess> credentials = environment_.credentials;
    std::shared_ptr<KeyringBaseline>& baseline = keyringBaselines_[profile.id];
    if (!baseline) {
        baseline = std::make_shared<KeyringBaseline>();
        keyringLane_.submit([credentials, baseline, id = profile.id] {
            baseline->secret = credentials->loadOrThrow(id);
            baseline->read = true;
            return std::optional<std::string>();
        });
    }
    baseline->outstanding += 1;
    const std::uint64_t store = ++keyringStores_;
    baseline->newestStore = store;
    const SledKeyringLane::Call call = keyringLane_.submit([credentials, secret = *secret, id = profile.id] {
        credentials->save(secret, id);
        return std::optional<std::string>();
    });
    background([this, call, apply, done, credentials, baseline, store, id = profile.id](std::stop_token stop) {
        enum class Outcome { stored, refused, silent } outcome = Outcome::stored;
        try {
            call.wait(stop);
        } catch (const VornTaskCancelled&) {
            return;  // the model is going away
        } catch (const SledKeyringTimeout&) {
            outcome = Outcome::silent;
        } catch (...) {
            outcome = Outcome::refused;
        }
        onGUI([this, outcome, apply, done, credentials, baseline, store, id] {
            baseline->outstanding -= 1;
            baseline->timedOut = baseline->timedOut || outcome == Outcome::silent;
            if (baseline->outstanding == 0) {
                const auto open = keyringBaselines_.find(id);
                if (open != keyringBaselines_.end() && open->second == baseline) {
                    keyringBaselines_.erase(open);
                }
            }
            if (outcome == Outcome::stored) {
                apply();
                return;
            }
            if (baseline->timedOut && store == baseline->newestStore) {
                // A store that timed out may still land once the keyring wakes, and the profile it
                // belonged to was not saved. Queued behind it (and before any later save), the
                // keyring goes back to what the profile that was kept expects: its earlier secret,
                // or none for a profile never saved, or where that secret could not be read.
                const bool known = std::any_of(profiles_.begin(), profiles_.end(),
                                               [&](const ConnectionProfile& saved) { return saved.id == id; });
                keyringLane_.submit([credentials, baseline, id, known] {
                    if (known && baseline->read && baseline->secret) {
                        credentials->save(*baseline->secret, id);
                    } else {
                        credentials->remove(id);
                    }
                    return std::optional<std::string>();
                });
            }
            // The keyring's own text names the item's id and D-Bus object paths; the user gets
            // what happened and what to do.
            const std::string reason =
                outcome == Outcome::silent
                    ? t("The system keyring did not answer", "Sistem anahtarlığı yanıt vermedi")
                    : t("The system keyring refused to store the password or secret key, so nothing was saved. "
                        "Unlock the keyring (or start one) and save again.",
                        "Sistem anahtarlığı parolayı ya da gizli anahtarı saklamayı reddetti; hiçbir şey "
                        "kaydedilmedi. Anahtarlığın kilidini açın (ya da bir anahtarlık başlatın) ve yeniden "
                        "kaydedin.");
            showToast(reason, true);
            if (done) {
                done(reason);
            }
        });
    });
}

void SledViewModel::deleteProfile(const ConnectionProfile& profile) {
    const VornUUID id = profile.id;
    ++profileEditGeneration_[id];
    // Queued behind any store of this profile's secret still on its way, so the secret stays gone.
    const std::shared_ptr<SledCredentialAccess> credentials = environment_.credentials;
    const SledKeyringLane::Call call = keyringLane_.submit([credentials, id] {
        credentials->remove(id);
        return std::optional<std::string>();
    });
    background([this, call](std::stop_token stop) {
        try {
            call.wait(stop);
        } catch (const SledKeyringTimeout&) {
            onGUI([this] {
                showToast(t("The system keyring did not answer. The secret is removed once it does.",
                            "Sistem anahtarlığı yanıt vermedi. Gizli bilgi, yanıt verdiğinde silinecek."),
                          true);
            });
        } catch (...) {
            // Removing never fails by itself; a model going away has nothing to report to.
        }
    });
    std::vector<ConnectionProfile> remaining = profiles_;
    std::erase_if(remaining, [&](const ConnectionProfile& candidate) { return candidate.id == id; });
    setProfiles(std::move(remaining));
    for (PaneBrowserState* pane : {leftPane_, rightPane_}) {
        if (pane->endpoint() == PaneEndpoint::remote(id)) {
            selectEndpoint(PaneEndpoint::local(), pane);
        }
    }
}

void SledViewModel::loadProfileSecret(const VornUUID& profileID,
                                      std::function<void(const SledSecretLookup&)> done) {
    const std::shared_ptr<SledCredentialAccess> credentials = environment_.credentials;
    const SledKeyringLane::Call call =
        keyringLane_.submit([credentials, profileID] { return credentials->loadOrThrow(profileID); });
    background([this, call, done](std::stop_token stop) {
        SledSecretLookup lookup;
        try {
            if (std::optional<std::string> secret = call.wait(stop)) {
                lookup.state = SledSecretLookup::State::loaded;
                lookup.value = std::move(*secret);
            }
        } catch (const VornTaskCancelled&) {
            return;
        } catch (...) {
            // Unknown, so Save keeps whatever is stored.
            lookup.state = SledSecretLookup::State::unreadable;
            lookup.errorText = describe(std::current_exception());
        }
        onGUI([lookup, done] { done(lookup); });
    });
}

void SledViewModel::testConnection(const ConnectionProfile& profile, const std::optional<std::string>& secret,
                                   std::function<void(const std::optional<std::string>&)> done) {
    background([this, profile, secret, done](std::stop_token stop) {
        std::optional<std::string> failure;
        try {
            std::shared_ptr<SledStorageProvider> provider;
            if (isObjectStorage(profile.kind)) {
                if (!secret || secret->empty()) {
                    throw SledError::missingCredential("Secret Access Key");
                }
                provider = std::make_shared<S3R2StorageProvider>(profile, *secret);
            } else {
                provider = std::make_shared<SFTPStorageProvider>(profile, secret);
            }
            provider->testConnection(stop);
        } catch (...) {
            failure = describe(std::current_exception());
        }
        onGUI([failure, done] { done(failure); });
    });
}
