// Our side of the remote preview benchmark: the workspace model's sync preview with subfolders
// (both panes walked, the plan made, as the sync sheet asks for it) between a local folder and a
// folder on an SFTP server or in a bucket. bench/preview/run.sh times it beside rclone's dry runs.
//
//   bench_preview sftp HOST PORT USER KEY KNOWN_HOSTS LOCAL_FOLDER REMOTE_FOLDER [EXCLUDED...]
//   bench_preview s3 LOCAL_FOLDER REMOTE_FOLDER [EXCLUDED...]
//   bench_preview stamp LOCAL_FOLDER REMOTE_FOLDER   gives each local file the time of its object
//
// The bucket comes from S3_ENDPOINT, S3_BUCKET, S3_REGION, S3_ACCESS_KEY and S3_SECRET_KEY
// (path-style addressing). A preview prints "SECONDS ROWS IDENTICAL": the time from asking for the
// preview to the plan, the plan's rows and how many of them are "Identical". The right pane shows
// the remote folder first, as the user sees it; its connections are closed before the preview, so
// the preview pays for its own login, as the peer's run does.

#include "LocalFileProvider.h"
#include "RecursiveDirectoryWalker.h"
#include "S3R2StorageProvider.h"
#include "SFTPStorageProvider.h"
#include "SledProfileRepository.h"
#include "SledViewModel.h"

#include <QEventLoop>
#include <QGuiApplication>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

ConnectionProfile bucketProfile(const std::string& folder) {
    ConnectionProfile profile;
    profile.id = VornUUID::random();
    profile.name = "bench";
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = environment("S3_ENDPOINT");
    profile.bucket = environment("S3_BUCKET");
    profile.region = environment("S3_REGION");
    profile.accessKeyID = environment("S3_ACCESS_KEY");
    profile.usePathStyleAddressing = true;
    profile.initialRemotePath = folder;
    return profile;
}

// The secrets the model asks for, in memory.
class MemoryCredentials final : public SledCredentialAccess {
public:
    std::optional<std::string> load(const VornUUID& id) override { return loadOrThrow(id); }
    std::optional<std::string> loadOrThrow(const VornUUID& id) override {
        std::lock_guard guard(lock_);
        const auto found = secrets_.find(id.uuidString());
        return found == secrets_.end() ? std::nullopt : std::optional(found->second);
    }
    void save(const std::string& secret, const VornUUID& id) override {
        std::lock_guard guard(lock_);
        secrets_[id.uuidString()] = secret;
    }
    void remove(const VornUUID& id) override {
        std::lock_guard guard(lock_);
        secrets_.erase(id.uuidString());
    }

private:
    std::mutex lock_;
    std::map<std::string, std::string> secrets_;
};

template <typename Sender, typename Signal, typename Done>
void runUntil(const Sender* sender, Signal signal, Done done) {
    QEventLoop loop;
    QObject::connect(sender, signal, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    if (!done()) {
        loop.exec();
    }
}

int preview(const ConnectionProfile& profile, const std::optional<std::string>& secret,
            const std::optional<fs::path>& knownHosts, const std::string& localFolder,
            const std::vector<std::string>& excluded) {
    const fs::path data = fs::temp_directory_path() / ("vorn-bench-preview-" + VornUUID::random().uuidString());
    fs::create_directories(data);
    SledSettings settings;
    settings.syncExcludedPatterns = excluded;
    SledProfileRepository(data).saveSettings(settings);
    SledModelEnvironment environment;
    environment.dataFolder = data;
    environment.leftStartPath = fs::absolute(localFolder).string();
    environment.rightStartPath = environment.leftStartPath;
    environment.startLANServicesOnLaunch = false;
    environment.advertiseLANServer = false;
    environment.credentials = std::make_shared<MemoryCredentials>();
    environment.providerFactory = [knownHosts](const PaneEndpoint&, const ConnectionProfile* remote,
                                               const std::optional<std::string>& key)
        -> std::shared_ptr<SledStorageProvider> {
        if (remote == nullptr || remote->kind != ConnectionProtocolKind::sftp) {
            return nullptr;
        }
        return std::make_shared<SFTPStorageProvider>(*remote, key, knownHosts);
    };
    int status = 0;
    {
        SledViewModel model(environment);
        model.saveProfile(profile, secret);
        runUntil(&model, &SledViewModel::profilesChanged, [&] { return !model.profiles().empty(); });
        PaneBrowserState& right = *model.rightPane();
        model.selectEndpoint(PaneEndpoint::remote(profile.id), &right);
        runUntil(&right, &PaneBrowserState::isLoadingChanged, [&] { return !right.isLoading(); });
        if (right.errorMessage()) {
            std::fprintf(stderr, "bench_preview: the remote folder: %s\n", right.errorMessage()->c_str());
            return 1;
        }
        SFTPStorageProvider::closeSharedConnections();

        model.setSyncIncludeSubfolders(true);
        const auto start = Clock::now();
        model.openSyncPreview();
        runUntil(&model, &SledViewModel::isComputingSyncPlanChanged, [&] { return !model.isComputingSyncPlan(); });
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (model.syncPlanError()) {
            std::fprintf(stderr, "bench_preview: the preview failed: %s\n", model.syncPlanError()->c_str());
            status = 1;
        } else {
            std::size_t identical = 0;
            for (const SyncPlanItem& item : model.syncPlanItems()) {
                if (item.action() == SyncActionKind::identicalSkip) {
                    ++identical;
                } else if (model.syncPlanItems().size() - identical < 4) {
                    // The first few rows that are not "Identical", for whoever reads the benchmark.
                    std::fprintf(stderr, "%s: %s\n", item.relativeName().c_str(), item.reason().c_str());
                }
            }
            std::printf("%.3f %zu %zu\n", seconds, model.syncPlanItems().size(), identical);
        }
        SFTPStorageProvider::closeSharedConnections();
    }
    fs::remove_all(data);
    return status;
}

// Gives each local file below `localFolder` the modification time its object below `remoteFolder`
// lists, so that the two sides compare equal by time.
int stamp(const std::string& localFolder, const std::string& remoteFolder) {
    const ConnectionProfile profile = bucketProfile(remoteFolder);
    const S3R2StorageProvider bucket(profile, environment("S3_SECRET_KEY"));
    const auto objects = RecursiveDirectoryWalker::collectFiles(remoteFolder, bucket, {}, 12, {});
    for (const RelativeFileNode& node : objects) {
        if (!node.entry.modifiedAt) {
            continue;
        }
        const std::int64_t micros = node.entry.modifiedAt->time_since_epoch().count();
        const std::int64_t whole = micros / 1'000'000 - (micros % 1'000'000 < 0 ? 1 : 0);
        const struct timespec time{whole, static_cast<long>((micros - whole * 1'000'000) * 1'000)};
        const struct timespec times[2] = {time, time};
        const fs::path file = fs::path(localFolder) / node.relativePath;
        if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) {
            std::fprintf(stderr, "bench_preview: cannot set the time of %s\n", file.c_str());
            return 1;
        }
    }
    std::printf("%zu\n", objects.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        QGuiApplication application(argc, argv);
        if (arguments.size() >= 8 && arguments[0] == "sftp") {
            ConnectionProfile profile;
            profile.id = VornUUID::random();
            profile.name = "bench";
            profile.kind = ConnectionProtocolKind::sftp;
            profile.host = arguments[1];
            profile.port = std::stoll(arguments[2]);
            profile.username = arguments[3];
            profile.sftpAuthMethod = SFTPAuthMethod::sshKey;
            profile.privateKeyPath = arguments[4];
            profile.initialRemotePath = arguments[7];
            return preview(profile, std::nullopt, fs::path(arguments[5]), arguments[6],
                           std::vector<std::string>(arguments.begin() + 8, arguments.end()));
        }
        if (arguments.size() >= 3 && arguments[0] == "s3") {
            return preview(bucketProfile(arguments[2]), environment("S3_SECRET_KEY"), std::nullopt, arguments[1],
                           std::vector<std::string>(arguments.begin() + 3, arguments.end()));
        }
        if (arguments.size() == 3 && arguments[0] == "stamp") {
            return stamp(arguments[1], arguments[2]);
        }
        std::fprintf(stderr,
                     "usage: bench_preview sftp HOST PORT USER KEY KNOWN_HOSTS LOCAL REMOTE [EXCLUDED...]\n"
                     "       bench_preview s3 LOCAL REMOTE [EXCLUDED...] | stamp LOCAL REMOTE\n");
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_preview: %s\n", error.what());
        return 1;
    }
}
