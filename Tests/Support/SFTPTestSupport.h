#pragma once

#include "SFTPStorageProvider.h"
#include "VornFileIO.h"
#include "VornTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

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

// The command lines, NULs as spaces, of the processes whose command line names `text`.
inline std::map<pid_t, std::string> processesNaming(const std::string& text) {
    std::map<pid_t, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string id = entry.path().filename().string();
        if (id.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // Read without throwing: the process may end while it is being read.
        std::error_code error;
        std::string line = vornReadFileCapped(entry.path() / "cmdline", 1 << 20, error).value_or("");
        std::replace(line.begin(), line.end(), '\0', ' ');
        if (line.find(text) != std::string::npos) {
            found.emplace(static_cast<pid_t>(std::stol(id)), line);
        }
    }
    return found;
}

// ssh names the process that holds a shared connection "ssh: SOCKET [mux]".
inline bool holdsSharedConnection(const std::string& commandLine) {
    return commandLine.starts_with("ssh: ") && commandLine.find("[mux]") != std::string::npos;
}

// The processes holding the shared connection of `socket`, or with `everyConnection` every
// connection of its login (their sockets are named after the first one's).
inline std::vector<pid_t> sharedConnectionProcesses(const std::filesystem::path& socket, bool everyConnection = false) {
    std::vector<pid_t> holders;
    for (const auto& [pid, commandLine] : processesNaming(socket.string())) {
        if (holdsSharedConnection(commandLine) &&
            (everyConnection || commandLine.starts_with("ssh: " + socket.string() + " [mux]"))) {
            holders.push_back(pid);
        }
    }
    return holders;
}
