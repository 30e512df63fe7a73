#include "SledCredentialStore.h"

#include "VornKeychainStore.h"

void SledCredentialStore::saveSecret(std::string_view secret, const VornUUID& profileID) {
    if (secret.empty()) {
        deleteSecret(profileID);
        return;
    }
    VornKeychainStore::save(secret, service, profileID.uuidString());
}

void SledCredentialStore::deleteSecret(const VornUUID& profileID) noexcept {
    try {
        VornKeychainStore::remove(service, profileID.uuidString());
    } catch (...) {
        // Only the text of the account could fail to allocate; there is nothing to undo.
    }
}

std::optional<std::string> SledCredentialStore::loadSecret(const VornUUID& profileID) noexcept {
    try {
        return VornKeychainStore::load(service, profileID.uuidString());
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> SledCredentialStore::loadSecretOrThrow(const VornUUID& profileID) {
    return VornKeychainStore::loadOrThrow(service, profileID.uuidString());
}
