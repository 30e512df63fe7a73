#pragma once

#include "S3R2StorageProvider.h"
#include "SledError.h"
#include "VornTestSupport.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

// Providers on the S3 test server (SigV4-verifying, path-style, on loopback), each test in its
// own folder of the shared bucket so that test programs running at once never meet.

inline ConnectionProfile s3TestProfile(const std::string& endpoint = VornTestServices::value("S3_ENDPOINT"),
                                       const std::string& bucket = VornTestServices::value("S3_BUCKET")) {
    ConnectionProfile profile;
    profile.id = VornUUID::random();
    profile.name = "Test bucket";
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = endpoint;
    profile.bucket = bucket;
    profile.region = VornTestServices::value("S3_REGION");
    profile.accessKeyID = VornTestServices::value("S3_ACCESS_KEY");
    profile.usePathStyleAddressing = true;
    return profile;
}

inline S3R2StorageProvider s3TestProvider() {
    return S3R2StorageProvider(s3TestProfile(), VornTestServices::value("S3_SECRET_KEY"));
}

// "/run-<random>": a folder of the bucket that no other test uses.
inline std::string s3TestFolder() {
    static std::mt19937_64 random{std::random_device{}()};
    return "/run-" + std::to_string(random() % 1'000'000'000'000ULL);
}

inline std::vector<std::string> s3EntryNames(const std::vector<SledFileEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.name + (entry.isDirectory ? "/" : ""));
    return names;
}

// The SledError `action` throws (fails the test when it throws none or something else).
template <typename Action>
SledError s3ExpectSledError(Action&& action) {
    try {
        action();
    } catch (const SledError& error) {
        return error;
    }
    ADD_FAILURE() << "no SledError was thrown";
    return SledError::cancelled();
}

// rclone with a private configuration naming the test server as remote "vorn".
class Rclone {
public:
    explicit Rclone(const VornTestTempDir& temp) : config_(temp / "rclone.conf") {
        std::ofstream(config_) << "[vorn]\ntype = s3\nprovider = Other\nenv_auth = false\n"
                               << "access_key_id = " << VornTestServices::value("S3_ACCESS_KEY") << "\n"
                               << "secret_access_key = " << VornTestServices::value("S3_SECRET_KEY") << "\n"
                               << "endpoint = " << VornTestServices::value("S3_ENDPOINT") << "\n"
                               << "region = " << VornTestServices::value("S3_REGION") << "\n"
                               << "force_path_style = true\n";
    }

    // `arguments` are already quoted for the shell.
    VornShellResult run(const std::string& arguments) const {
        return vornShell("env -u AWS_CA_BUNDLE -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY RCLONE_CONFIG=" +
                         vornShellQuote(config_.string()) + " rclone --retries 1 --low-level-retries 1 " + arguments +
                         " 2>&1");
    }

    static std::string remote(const std::string& path) {
        return vornShellQuote("vorn:" + VornTestServices::value("S3_BUCKET") + path);
    }

private:
    std::filesystem::path config_;
};
