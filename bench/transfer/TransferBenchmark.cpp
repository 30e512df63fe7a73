// A verified local-to-local batch through the transfer engine, timed beside the peer tools on the
// same data in the same run: `cp -r` followed by `sha256sum` of source and copy, and
// `rclone copy --checksum`. Prints each time and the ratios.
//
//   bench_transfer [--big] [--workdir DIR] [--workers N] [--rounds N]
//
// Each contestant runs --rounds times (default 3), the three taking turns, and the best time of
// each counts: the machine may be busy with other work, and the best run is the least disturbed.
// Default data: 200 files of 1 MiB plus 4 of 32 MiB, and 10,000 files of 4 KiB (the engine's
// per-file overhead and its update callback). --big uses 1,000 × 1 MiB plus 4 × 256 MiB.

#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "VornUUID.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// printf-style text; GCC 12 has no std::format yet. Locale-independent for the "C" locale we run in.
std::string text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string text(const char* format, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

struct FileGroup {
    int count;
    std::size_t bytes;
};

struct DataSet {
    std::string name;
    std::vector<FileGroup> groups;
};

// Incompressible contents, different in every file, spread over a few folders.
void makeDataSet(const fs::path& root, const DataSet& set) {
    std::mt19937_64 random(42);
    std::vector<char> buffer;
    int index = 0;
    for (const auto& group : set.groups) {
        buffer.resize(group.bytes);
        for (int i = 0; i < group.count; ++i, ++index) {
            for (std::size_t at = 0; at + 8 <= buffer.size(); at += 8) {
                const std::uint64_t value = random();
                std::memcpy(buffer.data() + at, &value, 8);
            }
            const fs::path file = root / text("dir%02d", index % 16) / text("file%05d.bin", index);
            fs::create_directories(file.parent_path());
            std::ofstream(file, std::ios::binary).write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        }
    }
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

std::string quote(const fs::path& path) {
    std::string result = "'";
    for (char c : path.string()) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Seconds taken by `work`, after flushing earlier writes so one contestant's write-back does not
// land on the next one's clock.
template <typename Work>
double timed(Work&& work) {
    ::sync();
    const auto start = Clock::now();
    work();
    ::sync();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double runEngine(const fs::path& source, const fs::path& destination, int workers, bool describe) {
    std::vector<SledTransferJobSpec> jobs;
    for (const auto& item : fs::recursive_directory_iterator(source)) {
        if (item.is_regular_file()) {
            const fs::path relative = item.path().lexically_relative(source);
            jobs.push_back(SledTransferJobSpec{VornUUID::random(), item.path().filename().string(), item.path().string(),
                                               (destination / relative).string(),
                                               static_cast<std::int64_t>(item.file_size()),
                                               SledTransferDirection::localCopy});
        }
    }
    // What a caller does with the updates: apply each to its row, under a lock.
    struct Row {
        SledTransferStatus status = SledTransferStatus::queued;
        std::int64_t done = 0;
    };
    std::mutex lock;
    std::unordered_map<VornUUID, Row> rows;
    std::size_t updates = 0;
    const SledTransferUpdateCallback onUpdate = [&](const VornUUID& id, SledTransferStatus status, std::int64_t done,
                                                    std::int64_t, const std::optional<std::string>&, bool,
                                                    const std::optional<std::string>&) {
        std::lock_guard guard(lock);
        rows[id] = Row{status, done};
        ++updates;
    };
    const LocalFileProvider local;
    std::size_t failures = 0;
    const double seconds = timed([&] {
        // The caller makes the destination's folders first, as the workspace does.
        for (const auto& spec : jobs) {
            local.createDirectory(fs::path(spec.destinationPath).parent_path().string(), {});
        }
        const auto results =
            ParallelSledTransferEngine().executeBatch(jobs, local, local, workers, true, onUpdate);
        for (const auto& result : results) {
            failures += result.success && result.isVerified ? 0 : 1;
        }
    });
    if (failures != 0) {
        std::cerr << "engine: " << failures << " of " << jobs.size() << " files failed\n";
        std::exit(1);
    }
    if (describe) {
        std::cout << text("  engine (%d workers, %zu files, %zu updates)\n", workers, jobs.size(), updates);
    }
    return seconds;
}

double runCopyAndHash(const fs::path& source, const fs::path& destination) {
    return timed([&] {
        const std::string hash = " -type f -print0 | xargs -0 sha256sum > /dev/null";
        if (run("cp -r " + quote(source) + " " + quote(destination)) != 0 ||
            run("find " + quote(source) + hash) != 0 || run("find " + quote(destination) + hash) != 0) {
            std::cerr << "cp -r + sha256sum failed\n";
            std::exit(1);
        }
    });
}

double runRclone(const fs::path& source, const fs::path& destination) {
    return timed([&] {
        if (run("rclone copy -q --checksum --transfers 4 " + quote(source) + " " + quote(destination)) != 0) {
            std::cerr << "rclone copy failed\n";
            std::exit(1);
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    bool big = false;
    int workers = 4;
    int rounds = 3;
    fs::path workdir = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--big") {
            big = true;
        } else if (argument == "--workdir" && i + 1 < argc) {
            workdir = argv[++i];
        } else if (argument == "--workers" && i + 1 < argc) {
            workers = std::atoi(argv[++i]);
        } else if (argument == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::cerr << "usage: bench_transfer [--big] [--workdir DIR] [--workers N] [--rounds N]\n";
            return 2;
        }
    }
    if (run("command -v rclone > /dev/null && command -v sha256sum > /dev/null") != 0) {
        std::cerr << "rclone and sha256sum are needed (scripts/setup.sh --test)\n";
        return 2;
    }
    constexpr std::size_t MiB = 1024 * 1024;
    const std::vector<DataSet> sets = {
        big ? DataSet{"1,000 x 1 MiB + 4 x 256 MiB", {{1000, MiB}, {4, 256 * MiB}}}
            : DataSet{"200 x 1 MiB + 4 x 32 MiB", {{200, MiB}, {4, 32 * MiB}}},
        DataSet{"10,000 x 4 KiB", {{10'000, 4096}}},
    };

    const fs::path root = workdir / ("vornsled-bench-transfer-" + VornUUID::random().uuidString());
    for (const auto& set : sets) {
        const fs::path source = root / "source";
        fs::create_directories(source);
        makeDataSet(source, set);
        std::cout << "data: " << set.name << " (best of " << rounds << " rounds)\n";

        double engine = 1e300;
        double copyAndHash = 1e300;
        double rclone = 1e300;
        for (int round = 0; round < rounds; ++round) {
            // Some file systems (ext4 without a journal) slow the creation of files for a few seconds
            // after many were deleted; let the previous round's removals age first, untimed.
            ::sync();
            std::this_thread::sleep_for(std::chrono::seconds(6));
            engine = std::min(engine, runEngine(source, root / "engine", workers, round == 0));
            copyAndHash = std::min(copyAndHash, runCopyAndHash(source, root / "cp"));
            rclone = std::min(rclone, runRclone(source, root / "rclone"));
            for (const char* copy : {"engine", "cp", "rclone"}) {
                fs::remove_all(root / copy);
            }
        }
        std::cout << text("  engine, verified          %8.3f s\n", engine)
                  << text("  cp -r + sha256sum (both)  %8.3f s   engine / this = %.2f  (goal <= 1.50)\n",
                                 copyAndHash, engine / copyAndHash)
                  << text("  rclone copy --checksum    %8.3f s   engine / this = %.2f  (goal <= 1.00)\n",
                                 rclone, engine / rclone);
        fs::remove_all(root);
    }
    return 0;
}
