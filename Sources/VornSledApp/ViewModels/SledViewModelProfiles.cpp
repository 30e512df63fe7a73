#include "SledViewModel.h"

#include "S3R2StorageProvider.h"
#include "SFTPStorageProvider.h"
#include "SledError.h"
#include "VornLocalizationStore.h"

void SledViewModel::setProfiles(std::vector<ConnectionProfile> profiles) {
    if (!(profiles == profiles_)) {
        profiles_ = std::move(profiles);
        emit profilesChanged();
    }
    repository_->saveProfiles(profiles_);
}

void SledViewModel::openEditProfileSheet(const ConnectionProfile& profile) {
    if (editingProfile_ != profile) {
        editingProfile_ = profile;
        emit editingProfileChanged();
    }
    setShowingProfileSheet(true);
}

void SledViewModel::saveProfile(const ConnectionProfile& profile, const std::optional<std::string>& secret) {
    const std::shared_ptr<SledCredentialAccess> credentials = environment_.credentials;
    background([this, profile, secret, credentials](std::stop_token) {
        std::optional<std::string> failure;
        if (secret) {
            try {
                credentials->save(*secret, profile.id);
            } catch (...) {
                failure = describe(std::current_exception());
            }
        }
        onGUI([this, profile, failure] {
            if (failure) {
                showToast(*failure, true);
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
            setProfiles(std::move(updated));
            showToast(vornText("Profile saved securely in system keyring: " + profile.name,
                               "Profil sistem anahtarlığında güvenle kaydedildi: " + profile.name, std::nullopt,
                               language_));
        });
    });
}

void SledViewModel::deleteProfile(const ConnectionProfile& profile) {
    const std::shared_ptr<SledCredentialAccess> credentials = environment_.credentials;
    const VornUUID id = profile.id;
    background([credentials, id](std::stop_token) { credentials->remove(id); });
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
    background([this, profileID, credentials, done](std::stop_token) {
        SledSecretLookup lookup;
        try {
            if (std::optional<std::string> secret = credentials->loadOrThrow(profileID)) {
                lookup.state = SledSecretLookup::State::loaded;
                lookup.value = std::move(*secret);
            }
        } catch (...) {
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
