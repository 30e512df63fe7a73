// Our side of the S3 benchmark: copies a local folder into a bucket folder, or a bucket folder into
// a local folder, through the transfer engine with SHA-256 verification, or lists one bucket
// folder. bench/s3/run.sh times each run beside rclone and the AWS command-line client.
//
//   bench_s3 upload LOCAL_FOLDER REMOTE_FOLDER [WORKERS]
//   bench_s3 download REMOTE_FOLDER LOCAL_FOLDER [WORKERS]
//   bench_s3 list REMOTE_FOLDER            prints the number of entries
//
// The bucket comes from S3_ENDPOINT, S3_BUCKET, S3_REGION, S3_ACCESS_KEY and S3_SECRET_KEY
// (path-style addressing). Exits non-zero when any file fails.

#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "RecursiveDirectoryWalker.h"
#include "S3R2StorageProvider.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

S3R2StorageProvider bucketProvider() {
    ConnectionProfile profile;
    profile.name = "bench";
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = environment("S3_ENDPOINT");
    profile.bucket = environment("S3_BUCKET");
    profile.region = environment("S3_REGION");
    profile.accessKeyID = environment("S3_ACCESS_KEY");
    profile.usePathStyleAddressing = true;
    return S3R2StorageProvider(profile, environment("S3_SECRET_KEY"));
}

int copyTree(const SledStorageProvider& source, const std::string& sourceRoot, const SledStorageProvider& destination,
             const std::string& destinationRoot, SledTransferDirection direction, int workers) {
    const auto files = RecursiveDirectoryWalker::collectFiles(sourceRoot, source, {}, 12, {});
    std::vector<std::string> relativePaths;
    std::vector<SledTransferJobSpec> jobs;
    for (const auto& file : files) {
        relativePaths.push_back(file.relativePath);
        SledTransferJobSpec job{VornUUID::random(), file.entry.name, file.entry.path,
                                destinationRoot + "/" + file.relativePath, file.entry.sizeBytes, direction};
        // As the workstation sends a folder: inside the chosen folder, a local source opened once
        // below its walked folder, hashed and sent from that one open file.
        job.destinationRoot = destinationRoot;
        if (direction == SledTransferDirection::upload) {
            job.sourceRoot = sourceRoot;
        }
        jobs.push_back(std::move(job));
    }
    // Object stores need no folders before their files; a local destination does, starting with
    // the chosen folder itself, which the workstation always has (a pane's folder).
    if (direction == SledTransferDirection::download) {
        destination.createDirectory(destinationRoot, {});
        for (const auto& folder : RecursiveDirectoryWalker::requiredParentDirectories(relativePaths)) {
            destination.createDirectory(destinationRoot + "/" + folder, {});
        }
    }
    const auto results = ParallelSledTransferEngine().executeBatch(jobs, source, destination, workers, true,
                                                                   [](auto&&...) {});
    int failures = 0;
    for (const auto& result : results) {
        if (!result.success) {
            if (failures++ < 5) std::fprintf(stderr, "failed: %s\n", result.errorMessage.value_or("?").c_str());
        }
    }
    std::printf("%zu files, %d failed\n", results.size(), failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        if (arguments.size() >= 3 && (arguments[0] == "upload" || arguments[0] == "download")) {
            const int workers = arguments.size() > 3 ? std::stoi(arguments[3]) : 4;
            const auto bucket = bucketProvider();
            const LocalFileProvider local;
            if (arguments[0] == "upload") {
                return copyTree(local, std::filesystem::absolute(arguments[1]).string(), bucket, arguments[2],
                                SledTransferDirection::upload, workers);
            }
            return copyTree(bucket, arguments[1], local, std::filesystem::absolute(arguments[2]).string(),
                            SledTransferDirection::download, workers);
        }
        if (arguments.size() == 2 && arguments[0] == "list") {
            std::printf("%zu\n", bucketProvider().listDirectory(arguments[1], {}).size());
            return 0;
        }
        std::fprintf(stderr, "usage: bench_s3 upload LOCAL REMOTE [WORKERS] | download REMOTE LOCAL [WORKERS] | list REMOTE\n");
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_s3: %s\n", error.what());
        return 1;
    }
}
