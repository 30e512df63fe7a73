#include "ConnectionProfile.h"
#include "VornJSON.h"

#include <gtest/gtest.h>

#include <unordered_set>

using nlohmann::json;

namespace {

ConnectionProfile profile(ConnectionProtocolKind kind) {
    return ConnectionProfile{.id = *VornUUID::fromString("0F8FAD5B-D9CB-469F-A165-70867728950E"),
                             .name = "Arşiv",
                             .kind = kind,
                             .host = "files.example.org",
                             .port = 22,
                             .username = "deploy",
                             .sftpAuthMethod = SFTPAuthMethod::password,
                             .initialRemotePath = "/srv",
                             .bucket = "media"};
}

}  // namespace

TEST(ConnectionProtocolKind, CasesRawValuesSymbolsAndLabels) {
    const struct {
        ConnectionProtocolKind kind;
        const char* raw;
        const char* symbol;
        const char* english;
        const char* turkish;
        bool objectStorage;
    } cases[] = {
        {ConnectionProtocolKind::sftp, "sftp", "terminal.fill", "SFTP (SSH)", "SFTP (SSH)", false},
        {ConnectionProtocolKind::awsS3, "awsS3", "externaldrive.connected.to.line.below.fill", "AWS S3", "AWS S3", true},
        {ConnectionProtocolKind::cloudflareR2, "cloudflareR2", "cloud.bolt.fill", "Cloudflare R2", "Cloudflare R2", true},
        {ConnectionProtocolKind::s3Compatible, "s3Compatible", "server.rack", "S3-Compatible", "S3 Uyumlu", true},
    };
    const auto all = allCases<ConnectionProtocolKind>();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(all[i], c.kind);
        EXPECT_EQ(rawValue(c.kind), c.raw);
        EXPECT_EQ(fromRawValue<ConnectionProtocolKind>(c.raw), c.kind);
        EXPECT_EQ(symbolName(c.kind), c.symbol);
        EXPECT_EQ(label(c.kind, VornLanguage::en), c.english);
        EXPECT_EQ(label(c.kind, VornLanguage::tr), c.turkish);
        EXPECT_EQ(isObjectStorage(c.kind), c.objectStorage);
    }
    for (const char* text : {"SFTP", "AwsS3", "s3compatible", "", "sftp "}) {
        EXPECT_FALSE(fromRawValue<ConnectionProtocolKind>(text).has_value()) << text;
    }
    EXPECT_EQ((allCases<SFTPAuthMethod>()), (std::array{SFTPAuthMethod::sshKey, SFTPAuthMethod::password,
                                                         SFTPAuthMethod::sshAgent}));
    EXPECT_FALSE(fromRawValue<SFTPAuthMethod>("SshKey").has_value());
}

TEST(ConnectionProfile, ResolvedEndpointRegionAndSummaryTable) {
    const struct {
        ConnectionProtocolKind kind;
        const char* endpointURL;
        const char* region;
        const char* accountID;
        std::int64_t port;
        const char* endpoint;
        const char* signingRegion;
        const char* summary;
    } cases[] = {
        {ConnectionProtocolKind::awsS3, " ", "", "", 0, "https://s3.us-east-1.amazonaws.com", "us-east-1", "s3://media (us-east-1)"},
        {ConnectionProtocolKind::awsS3, "", "eu-central-1", "", 0, "https://s3.eu-central-1.amazonaws.com", "eu-central-1", "s3://media (eu-central-1)"},
        {ConnectionProtocolKind::awsS3, "", "  ", "", 0, "https://s3.  .amazonaws.com", "  ", "s3://media (  )"},
        {ConnectionProtocolKind::awsS3, "\n https://minio.local:9000 \t", "", "", 0, "https://minio.local:9000", "us-east-1", "s3://media (us-east-1)"},
        {ConnectionProtocolKind::cloudflareR2, "", "", " \n", 0, "", "auto", "r2://media"},
        {ConnectionProtocolKind::cloudflareR2, "", "", " abc123 ", 0, "https://abc123.r2.cloudflarestorage.com", "auto", "r2://media"},
        {ConnectionProtocolKind::cloudflareR2, "https://custom.example", "weur", "abc123", 0, "https://custom.example", "weur", "r2://media"},
        {ConnectionProtocolKind::s3Compatible, "  ", "", "", 0, "", "us-east-1", "media @ "},
        {ConnectionProtocolKind::s3Compatible, "s3.example.com", "", "", 0, "s3.example.com", "us-east-1", "media @ s3.example.com"},
        {ConnectionProtocolKind::sftp, "https://ignored", "", "", 2222, "", "us-east-1", "deploy@files.example.org:2222"},
        {ConnectionProtocolKind::sftp, "", "x", "", -1, "", "x", "deploy@files.example.org:-1"},
    };
    for (const auto& c : cases) {
        ConnectionProfile p = profile(c.kind);
        p.endpointURL = c.endpointURL;
        p.region = c.region;
        p.cloudflareAccountID = c.accountID;
        p.port = c.port;
        EXPECT_EQ(p.resolvedObjectStorageEndpoint(), c.endpoint) << rawValue(c.kind) << " [" << c.endpointURL << "]";
        EXPECT_EQ(p.resolvedSigningRegion(), c.signingRegion) << rawValue(c.kind);
        EXPECT_EQ(p.summarySubtitle(), c.summary) << rawValue(c.kind);
        EXPECT_EQ(p.endpointURL, c.endpointURL);  // the stored field keeps what was typed
    }
}

TEST(ConnectionProfile, JSONRoundTripsAndLeavesOutAnAbsentKeyPath) {
    ConnectionProfile p = profile(ConnectionProtocolKind::sftp);
    const std::string written = vornJSONText(p.toJSON());
    EXPECT_EQ(written,
              R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","name":"Arşiv","kind":"sftp","host":"files.example.org",)"
              R"("port":22,"username":"deploy","sftpAuthMethod":"password","initialRemotePath":"\/srv","endpointURL":"",)"
              R"("region":"","bucket":"media","accessKeyID":"","cloudflareAccountID":"","usePathStyleAddressing":false})");
    EXPECT_EQ(ConnectionProfile::fromJSON(json::parse(written)), p);

    json withNull = json::parse(written);
    withNull["privateKeyPath"] = nullptr;
    withNull["futureField"] = "ignored";
    EXPECT_EQ(ConnectionProfile::fromJSON(withNull), p);

    p.privateKeyPath = "~/.ssh/id_ed25519";
    p.kind = ConnectionProtocolKind::cloudflareR2;
    p.usePathStyleAddressing = true;
    EXPECT_EQ(p.toJSON()["privateKeyPath"], "~/.ssh/id_ed25519");
    EXPECT_EQ(ConnectionProfile::fromJSON(json::parse(vornJSONText(p.toJSON()))), p);

    ConnectionProfile other = p;
    other.privateKeyPath.reset();
    EXPECT_NE(other, p);
    EXPECT_NE(std::hash<ConnectionProfile>{}(other), std::hash<ConnectionProfile>{}(p));
    const std::unordered_set<ConnectionProfile> set{p, other, p};
    EXPECT_EQ(set.size(), 2u);
}

TEST(ConnectionProfile, EveryRequiredKeyAndTypeIsChecked) {
    const json good = json::parse(vornJSONText(profile(ConnectionProtocolKind::awsS3).toJSON()));
    for (const auto& [key, ignored] : good.items()) {
        json missing = good;
        missing.erase(key);
        EXPECT_THROW(ConnectionProfile::fromJSON(missing), VornDecodingError) << key;
    }
    const struct {
        const char* key;
        json value;
    } bad[] = {
        {"kind", "AwsS3"},       {"kind", "ftp"},          {"sftpAuthMethod", "Password"}, {"id", "not-a-uuid"},
        {"port", 22.5},          {"port", "22"},           {"port", 1e20},                 {"name", nullptr},
        {"usePathStyleAddressing", "true"}, {"privateKeyPath", 7}, {"bucket", json::array()},
    };
    for (const auto& c : bad) {
        json broken = good;
        broken[c.key] = c.value;
        EXPECT_THROW(ConnectionProfile::fromJSON(broken), VornDecodingError) << c.key << "=" << c.value.dump();
    }
    json integral = good;
    integral["port"] = 2222.0;
    EXPECT_EQ(ConnectionProfile::fromJSON(integral).port, 2222);
}
