#pragma once

#include "ConnectionProfile.h"
#include "SledViewModel.h"

#include <cstdint>
#include <optional>
#include <string>

// The editable text of one connection profile, its secret and the state of a running test.
// Made afresh each time the editor opens, so a new profile always gets a new id.
struct ProfileFormState {
    explicit ProfileFormState(const std::optional<ConnectionProfile>& existing);

    VornUUID profileID;
    bool isEditing = false;
    std::string name;
    ConnectionProtocolKind kind = ConnectionProtocolKind::cloudflareR2;
    std::string host;
    std::string portString = "22";
    std::string username;
    SFTPAuthMethod sftpAuthMethod = SFTPAuthMethod::sshKey;
    std::string privateKeyPath = "~/.ssh/id_ed25519";
    std::string initialRemotePath = "/";
    std::string endpointURL;
    std::string region = "auto";
    std::string bucket;
    std::string accessKeyID;
    std::string cloudflareAccountID;
    bool usePathStyle = true;

    // The secret as the field holds it, whether the user changed it, and what the keyring said
    // (nothing until it answered, and always nothing for a new profile).
    std::string secretInput;
    bool secretEdited = false;
    std::optional<SledSecretLookup> secretLookup;

    bool isTesting = false;
    std::optional<std::string> testFeedback;
    bool testSucceeded = false;

    // The keyring's answer for an existing profile; fills the field unless the user typed first.
    void applySecretLookup(const SledSecretLookup& lookup);
    // A secret that could not be read is kept: Save leaves it as it is.
    bool secretIsKept() const;
    // What Save hands to the model: nothing leaves the stored secret untouched.
    std::optional<std::string> secretToSave() const;
    // What a connection test uses: the field's text, or nothing while a kept secret is unread.
    std::optional<std::string> secretForTest() const;

    // Switches the kind, with the region and path-style defaults of the new kind; no other field
    // is cleared.
    void chooseKind(ConnectionProtocolKind newKind);
    // The profile the fields describe.
    ConnectionProfile buildProfile() const;
    // Save needs a name other than spaces and tabs.
    bool canSave() const;

    // The whole text in base 10: an optional "+" or "-" and digits only, within 64 bits; anything
    // else (an empty text, spaces, letters) is 22.
    static std::int64_t parsePort(const std::string& text);
};
