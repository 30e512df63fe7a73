#pragma once

#include "SFTPStorageProvider.h"
#include "VornTestSupport.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

// Profiles and providers on the loopback OpenSSH server of the test services.

inline ConnectionProfile sftpTestProfile(SFTPAuthMethod method = SFTPAuthMethod::sshKey) {
    ConnectionProfile profile;
    profile.name = "Loopback SFTP";
    profile.kind = ConnectionProtocolKind::sftp;
    profile.host = VornTestServices::value("SSHD_HOST");
    profile.port = std::stoll(VornTestServices::value("SSHD_PORT"));
    profile.username = VornTestServices::value("SSHD_USER");
    profile.sftpAuthMethod = method;
    if (method == SFTPAuthMethod::sshKey) {
        profile.privateKeyPath = VornTestServices::value("SSHD_KEY");
    }
    return profile;
}

// Logs in with the service's key and trusts only the service's host key.
inline SFTPStorageProvider sftpTestProvider() {
    return SFTPStorageProvider(sftpTestProfile(), std::nullopt,
                               std::filesystem::path(VornTestServices::value("SSHD_KNOWN_HOSTS")));
}

// A model's provider factory for the loopback OpenSSH server: SFTP profiles get a provider that
// trusts only the service's host key; everything else is left to the usual providers.
inline auto sftpTestProviderFactory() {
    const std::filesystem::path knownHosts = VornTestServices::value("SSHD_KNOWN_HOSTS");
    return [knownHosts](const auto& /*endpoint*/, const ConnectionProfile* profile,
                        const std::optional<std::string>& secret) -> std::shared_ptr<SledStorageProvider> {
        if (profile == nullptr || profile->kind != ConnectionProtocolKind::sftp) {
            return nullptr;
        }
        return std::make_shared<SFTPStorageProvider>(*profile, secret, knownHosts);
    };
}
