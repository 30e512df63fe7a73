#include "ConnectionProfile.h"

#include "VornHash.h"
#include "VornJSON.h"
#include "VornLocalizationStore.h"
#include "VornUnicode.h"

std::string_view symbolName(ConnectionProtocolKind kind) {
    switch (kind) {
        case ConnectionProtocolKind::sftp: return "terminal.fill";
        case ConnectionProtocolKind::awsS3: return "externaldrive.connected.to.line.below.fill";
        case ConnectionProtocolKind::cloudflareR2: return "cloud.bolt.fill";
        case ConnectionProtocolKind::s3Compatible: return "server.rack";
    }
    return "server.rack";
}

std::string label(ConnectionProtocolKind kind, VornLanguage language) {
    switch (kind) {
        case ConnectionProtocolKind::sftp: return "SFTP (SSH)";
        case ConnectionProtocolKind::awsS3: return "AWS S3";
        case ConnectionProtocolKind::cloudflareR2: return "Cloudflare R2";
        case ConnectionProtocolKind::s3Compatible: return vornText("S3-Compatible", "S3 Uyumlu", std::nullopt, language);
    }
    return {};
}

bool isObjectStorage(ConnectionProtocolKind kind) {
    return kind != ConnectionProtocolKind::sftp;
}

std::string ConnectionProfile::resolvedObjectStorageEndpoint() const {
    switch (kind) {
        case ConnectionProtocolKind::sftp: return {};
        case ConnectionProtocolKind::awsS3: {
            std::string endpoint = VornUnicode::trimmed(endpointURL);
            if (!endpoint.empty()) {
                return endpoint;
            }
            return "https://s3." + (region.empty() ? std::string("us-east-1") : region) + ".amazonaws.com";
        }
        case ConnectionProtocolKind::cloudflareR2: {
            std::string endpoint = VornUnicode::trimmed(endpointURL);
            if (!endpoint.empty()) {
                return endpoint;
            }
            const std::string account = VornUnicode::trimmed(cloudflareAccountID);
            if (account.empty()) {
                return {};
            }
            return "https://" + account + ".r2.cloudflarestorage.com";
        }
        case ConnectionProtocolKind::s3Compatible: return VornUnicode::trimmed(endpointURL);
    }
    return {};
}

std::string ConnectionProfile::resolvedSigningRegion() const {
    if (!region.empty()) {
        return region;
    }
    return kind == ConnectionProtocolKind::cloudflareR2 ? "auto" : "us-east-1";
}

std::string ConnectionProfile::summarySubtitle() const {
    switch (kind) {
        case ConnectionProtocolKind::sftp: return username + "@" + host + ":" + std::to_string(port);
        case ConnectionProtocolKind::awsS3: return "s3://" + bucket + " (" + resolvedSigningRegion() + ")";
        case ConnectionProtocolKind::cloudflareR2: return "r2://" + bucket;
        case ConnectionProtocolKind::s3Compatible: return bucket + " @ " + resolvedObjectStorageEndpoint();
    }
    return {};
}

nlohmann::ordered_json ConnectionProfile::toJSON() const {
    nlohmann::ordered_json value = {{"id", id.uuidString()},
                                    {"name", name},
                                    {"kind", rawValue(kind)},
                                    {"host", host},
                                    {"port", port},
                                    {"username", username},
                                    {"sftpAuthMethod", rawValue(sftpAuthMethod)}};
    if (privateKeyPath) {
        value["privateKeyPath"] = *privateKeyPath;
    }
    value["initialRemotePath"] = initialRemotePath;
    value["endpointURL"] = endpointURL;
    value["region"] = region;
    value["bucket"] = bucket;
    value["accessKeyID"] = accessKeyID;
    value["cloudflareAccountID"] = cloudflareAccountID;
    value["usePathStyleAddressing"] = usePathStyleAddressing;
    return value;
}

ConnectionProfile ConnectionProfile::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    ConnectionProfile profile;
    profile.id = vornJSONGetUUID(reader.value("id"), reader.path("id"));
    profile.name = reader.string("name");
    profile.kind = vornJSONGetEnum<ConnectionProtocolKind>(reader.value("kind"), reader.path("kind"));
    profile.host = reader.string("host");
    profile.port = reader.int64("port");
    profile.username = reader.string("username");
    profile.sftpAuthMethod = vornJSONGetEnum<SFTPAuthMethod>(reader.value("sftpAuthMethod"), reader.path("sftpAuthMethod"));
    profile.privateKeyPath = reader.optionalString("privateKeyPath");
    profile.initialRemotePath = reader.string("initialRemotePath");
    profile.endpointURL = reader.string("endpointURL");
    profile.region = reader.string("region");
    profile.bucket = reader.string("bucket");
    profile.accessKeyID = reader.string("accessKeyID");
    profile.cloudflareAccountID = reader.string("cloudflareAccountID");
    profile.usePathStyleAddressing = reader.boolean("usePathStyleAddressing");
    return profile;
}

std::size_t std::hash<ConnectionProfile>::operator()(const ConnectionProfile& profile) const noexcept {
    return vornHashOf(profile.id, profile.name, rawValue(profile.kind), profile.host, profile.port, profile.username,
                      rawValue(profile.sftpAuthMethod), profile.privateKeyPath, profile.initialRemotePath,
                      profile.endpointURL, profile.region, profile.bucket, profile.accessKeyID,
                      profile.cloudflareAccountID, profile.usePathStyleAddressing);
}
