#pragma once

#include "VornUUID.h"

#include <optional>
#include <string>
#include <string_view>

// The one secret of each connection profile (SFTP password or secret access key), kept in the
// system keyring under the service below and the profile's id in canonical text as the account.
struct SledCredentialStore {
    static constexpr std::string_view service = "com.vornworks.vornsled.credentials";

    // Stores the secret unchanged (blanks included). An empty secret deletes the profile's item
    // instead and never fails. Otherwise a keyring failure throws VornKeychainError, and the
    // profile's earlier secret stays as it was.
    static void saveSecret(std::string_view secret, const VornUUID& profileID);

    // Removes the profile's item; a missing item or an unreachable keyring is no error.
    static void deleteSecret(const VornUUID& profileID) noexcept;

    // The profile's secret, or nothing when there is none or it cannot be read.
    static std::optional<std::string> loadSecret(const VornUUID& profileID) noexcept;

    // For callers that must not take a keyring they could not read for a missing secret (the
    // profile editor, which would otherwise save the empty field back and delete the secret):
    // nothing means no item exists; a keyring that cannot be read throws VornKeychainError.
    static std::optional<std::string> loadSecretOrThrow(const VornUUID& profileID);
};
