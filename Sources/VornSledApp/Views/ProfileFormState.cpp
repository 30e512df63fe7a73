#include "ProfileFormState.h"

#include <limits>

namespace {

bool isWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isWhite(text[begin])) {
        ++begin;
    }
    while (end > begin && isWhite(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

ProfileFormState::ProfileFormState(const std::optional<ConnectionProfile>& existing)
    : profileID(existing ? existing->id : VornUUID::random()), isEditing(existing.has_value()) {
    if (!existing) {
        return;
    }
    name = existing->name;
    kind = existing->kind;
    host = existing->host;
    portString = std::to_string(existing->port);
    username = existing->username;
    sftpAuthMethod = existing->sftpAuthMethod;
    privateKeyPath = existing->privateKeyPath.value_or("");
    initialRemotePath = existing->initialRemotePath;
    endpointURL = existing->endpointURL;
    region = existing->region;
    bucket = existing->bucket;
    accessKeyID = existing->accessKeyID;
    cloudflareAccountID = existing->cloudflareAccountID;
    usePathStyle = existing->usePathStyleAddressing;
}

void ProfileFormState::applySecretLookup(const SledSecretLookup& lookup) {
    secretLookup = lookup;
    if (!secretEdited && lookup.state == SledSecretLookup::State::loaded) {
        secretInput = lookup.value;
    }
}

bool ProfileFormState::secretIsKept() const {
    return isEditing && !secretEdited &&
           (!secretLookup || secretLookup->state == SledSecretLookup::State::unreadable);
}

std::optional<std::string> ProfileFormState::secretToSave() const {
    if (!isEditing) {
        // Nothing can be stored for a fresh id; an untouched field stores nothing.
        return secretEdited ? std::optional<std::string>(secretInput) : std::nullopt;
    }
    return SledSecretLookup::secretToSave(secretLookup, secretEdited, secretInput);
}

std::optional<std::string> ProfileFormState::secretForTest() const {
    if (secretIsKept()) {
        return std::nullopt;
    }
    return secretInput;
}

void ProfileFormState::chooseKind(ConnectionProtocolKind newKind) {
    kind = newKind;
    if (newKind == ConnectionProtocolKind::awsS3 && region == "auto") {
        region = "us-east-1";
    } else if (newKind == ConnectionProtocolKind::cloudflareR2) {
        region = "auto";
        usePathStyle = true;
    }
}

std::int64_t ProfileFormState::parsePort(const std::string& text) {
    constexpr std::int64_t fallback = 22;
    std::size_t index = 0;
    bool negative = false;
    if (index < text.size() && (text[index] == '+' || text[index] == '-')) {
        negative = text[index] == '-';
        ++index;
    }
    if (index == text.size()) {
        return fallback;
    }
    // Accumulated as a negative number so that the smallest 64-bit value fits.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (; index < text.size(); ++index) {
        const char c = text[index];
        if (c < '0' || c > '9') {
            return fallback;
        }
        const int digit = c - '0';
        if (value < (lowest + digit) / 10) {
            return fallback;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) {
            return fallback;
        }
        value = -value;
    }
    return value;
}

ConnectionProfile ProfileFormState::buildProfile() const {
    ConnectionProfile profile;
    profile.id = profileID;
    profile.name = trimmed(name);
    profile.kind = kind;
    profile.host = trimmed(host);
    profile.port = parsePort(portString);
    profile.username = trimmed(username);
    profile.sftpAuthMethod = sftpAuthMethod;
    if (!trimmed(privateKeyPath).empty()) {
        profile.privateKeyPath = privateKeyPath;
    }
    profile.initialRemotePath = trimmed(initialRemotePath).empty() ? std::string("/") : initialRemotePath;
    profile.endpointURL = trimmed(endpointURL);
    profile.region = trimmed(region);
    profile.bucket = trimmed(bucket);
    profile.accessKeyID = trimmed(accessKeyID);
    profile.cloudflareAccountID = trimmed(cloudflareAccountID);
    profile.usePathStyleAddressing = usePathStyle;
    return profile;
}

bool ProfileFormState::canSave() const {
    for (const char c : name) {
        if (c != ' ' && c != '\t') {
            return true;
        }
    }
    return false;
}
