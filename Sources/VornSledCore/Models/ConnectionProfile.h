#pragma once

#include "VornLanguage.h"
#include "VornRawValue.h"
#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Which remote storage a profile describes.
enum class ConnectionProtocolKind { sftp, awsS3, cloudflareR2, s3Compatible };

template <>
struct VornRawValueTable<ConnectionProtocolKind> {
    static constexpr std::string_view typeName = "ConnectionProtocolKind";
    static constexpr std::array entries{
        std::pair{ConnectionProtocolKind::sftp, std::string_view("sftp")},
        std::pair{ConnectionProtocolKind::awsS3, std::string_view("awsS3")},
        std::pair{ConnectionProtocolKind::cloudflareR2, std::string_view("cloudflareR2")},
        std::pair{ConnectionProtocolKind::s3Compatible, std::string_view("s3Compatible")},
    };
};

// The symbol image shown beside the kind ("terminal.fill", "server.rack", ...).
std::string_view symbolName(ConnectionProtocolKind kind);
// "SFTP (SSH)", "AWS S3", "Cloudflare R2" in every language; the S3-compatible label is translated.
std::string label(ConnectionProtocolKind kind, VornLanguage language);
// Every kind but sftp.
bool isObjectStorage(ConnectionProtocolKind kind);

// How an SFTP login authenticates.
enum class SFTPAuthMethod { sshKey, password, sshAgent };

template <>
struct VornRawValueTable<SFTPAuthMethod> {
    static constexpr std::string_view typeName = "SFTPAuthMethod";
    static constexpr std::array entries{
        std::pair{SFTPAuthMethod::sshKey, std::string_view("sshKey")},
        std::pair{SFTPAuthMethod::password, std::string_view("password")},
        std::pair{SFTPAuthMethod::sshAgent, std::string_view("sshAgent")},
    };
};

// The saved description of one remote storage. It never holds a secret: the SFTP password or the
// secret access key lives in the credential store under `id`. Fields that do not apply to the
// kind hold empty text, zero or false.
struct ConnectionProfile {
    VornUUID id;
    std::string name;
    ConnectionProtocolKind kind = ConnectionProtocolKind::sftp;
    std::string host;
    std::int64_t port = 0;
    std::string username;
    SFTPAuthMethod sftpAuthMethod = SFTPAuthMethod::sshKey;
    std::optional<std::string> privateKeyPath;  // may start with "~"; the SFTP provider expands it
    std::string initialRemotePath;
    std::string endpointURL;  // as typed; required for s3Compatible, an override for the others
    std::string region;
    std::string bucket;
    std::string accessKeyID;
    std::string cloudflareAccountID;
    bool usePathStyleAddressing = false;

    // The base URL object-storage requests are built on: the trimmed endpointURL when set, else
    // the AWS regional endpoint (awsS3) or the R2 account endpoint (cloudflareR2, when an account
    // ID is set); empty when there is none, and always for sftp.
    std::string resolvedObjectStorageEndpoint() const;
    // `region` as stored when not empty, else "auto" for cloudflareR2 and "us-east-1" otherwise.
    std::string resolvedSigningRegion() const;
    // "user@host:22", "s3://bucket (region)", "r2://bucket" or "bucket @ endpoint".
    std::string summarySubtitle() const;

    friend bool operator==(const ConnectionProfile&, const ConnectionProfile&) = default;

    // Keys are the field names in declaration order; privateKeyPath only when present.
    nlohmann::ordered_json toJSON() const;
    // Every key but privateKeyPath is required; unknown keys are ignored. Throws VornDecodingError.
    static ConnectionProfile fromJSON(const nlohmann::json& value, std::string_view path = "ConnectionProfile");
};

template <>
struct std::hash<ConnectionProfile> {
    std::size_t operator()(const ConnectionProfile& profile) const noexcept;
};
