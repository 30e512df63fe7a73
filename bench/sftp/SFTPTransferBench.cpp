// Copies a folder of files to or from the loopback sshd through the transfer engine and the SFTP
// provider, with SHA-256 verification, and prints the wall time in seconds. bench/sftp/run.sh runs
// it beside OpenSSH sftp and rclone on the same data and prints the ratios.
//
//   bench_sftp upload|download HOST PORT USER KEY KNOWN_HOSTS LOCAL_DIR REMOTE_DIR WORKERS
#include "ConnectionProfile.h"
#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "SFTPStorageProvider.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 10) {
        std::fprintf(stderr, "usage: %s upload|download HOST PORT USER KEY KNOWN_HOSTS LOCAL_DIR REMOTE_DIR WORKERS\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    ConnectionProfile profile;
    profile.name = "bench";
    profile.kind = ConnectionProtocolKind::sftp;
    profile.host = argv[2];
    profile.port = std::stoll(argv[3]);
    profile.username = argv[4];
    profile.sftpAuthMethod = SFTPAuthMethod::sshKey;
    profile.privateKeyPath = argv[5];
    const SFTPStorageProvider remote(profile, std::nullopt, fs::path(argv[6]));
    const LocalFileProvider local;
    const fs::path localDir = argv[7];
    const std::string remoteDir = argv[8];
    const int workers = std::stoi(argv[9]);
    const bool upload = mode == "upload";

    std::vector<SledTransferJobSpec> jobs;
    if (upload) {
        for (const auto& entry : fs::directory_iterator(localDir)) {
            const std::string name = entry.path().filename().string();
            jobs.push_back({VornUUID::random(), name, entry.path().string(), remoteDir + "/" + name,
                            static_cast<std::int64_t>(entry.file_size()), SledTransferDirection::upload});
        }
    } else {
        for (const SledFileEntry& entry : remote.listDirectory(remoteDir, {})) {
            jobs.push_back({VornUUID::random(), entry.name, entry.path, (localDir / entry.name).string(),
                            entry.sizeBytes, SledTransferDirection::download});
        }
    }

    const auto start = std::chrono::steady_clock::now();
    const std::vector<SledTransferJobResult> results =
        ParallelSledTransferEngine().executeBatch(jobs, upload ? static_cast<const SledStorageProvider&>(local) : remote,
                                                  upload ? static_cast<const SledStorageProvider&>(remote) : local,
                                                  workers, true, {});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SFTPStorageProvider::closeSharedConnections();
    int failed = 0;
    for (const SledTransferJobResult& result : results) {
        if (!result.success || !result.isVerified) {
            ++failed;
            std::fprintf(stderr, "%s\n", result.errorMessage.value_or("not verified").c_str());
        }
    }
    std::printf("%.3f\n", seconds);
    return failed == 0 ? 0 : 1;
}
