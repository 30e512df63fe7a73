// The workspace model's cost over the transfer engine it drives, and how long the GUI thread is
// kept from its events meanwhile. Two batches, local to local with SHA-256 verification: 10,000
// files of 4 KiB and 4 files of 256 MiB. Each is copied by the engine alone (walk, folders, batch,
// kept inside the chosen folders, as any caller must) and through the model (selection, walk,
// records, progress, toast), the two taking turns for --rounds rounds (default 5), who goes first
// alternating; the best time of each counts. Before each run the disk is synced, so that no run
// pays for writing back what the one before it copied. While the model works the GUI thread runs
// its event loop as the application does, and a 5 ms timer on it records the longest gap between
// its ticks. The small batch then runs again on a loaded machine: one busy process per core spins
// beside both contenders for the whole of their runs.
//
//   bench_model [--quick] [--workdir DIR] [--rounds N] [--workers N]
//
// The small batch lives in /dev/shm when it has room, the large one in $TMPDIR or /tmp; --workdir
// puts both in one folder.
//
// --quick uses 1,000 × 4 KiB and 4 × 16 MiB. Prints each time, the ratio model/engine and the
// longest stall.

#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "RecursiveDirectoryWalker.h"
#include "SledViewModel.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTimer>

#include <signal.h>
#include <linux/magic.h>
#include <sys/prctl.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct DataSet {
    std::string name;
    int count;
    std::size_t bytes;
};

void makeDataSet(const fs::path& root, const DataSet& set) {
    std::mt19937_64 random(42);
    std::vector<char> buffer(set.bytes);
    for (int index = 0; index < set.count; ++index) {
        for (std::size_t at = 0; at + 8 <= buffer.size(); at += 8) {
            const std::uint64_t value = random();
            std::memcpy(buffer.data() + at, &value, 8);
        }
        const fs::path file = root / set.name / ("dir" + std::to_string(index % 16)) /
                              ("file" + std::to_string(index) + ".bin");
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary).write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    }
}

double seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// What a caller of the engine alone does for a folder: walk it, make its folders, copy the batch.
double engineAlone(const fs::path& source, const fs::path& destination, int workers) {
    const auto start = Clock::now();
    const LocalFileProvider provider;
    const auto nodes = RecursiveDirectoryWalker::collectFiles(source.string(), provider, {}, 12, {});
    std::vector<std::string> relative;
    std::vector<SledTransferJobSpec> jobs;
    const std::string base = destination.string() + "/" + source.filename().string() + "/";
    for (const RelativeFileNode& node : nodes) {
        relative.push_back(node.relativePath);
        SledTransferJobSpec job{VornUUID::random(), node.entry.name, node.entry.path, base + node.relativePath,
                                node.entry.sizeBytes, SledTransferDirection::localCopy};
        // Kept inside the chosen folders on both sides, as every caller that copies a walked folder must.
        job.sourceRoot = source.parent_path().string();
        job.destinationRoot = destination.string();
        jobs.push_back(std::move(job));
    }
    provider.createDirectory(base, {});
    for (const std::string& folder : RecursiveDirectoryWalker::requiredParentDirectories(relative)) {
        provider.createDirectory(base + folder, {});
    }
    std::atomic<std::int64_t> updates{0};
    const auto results = ParallelSledTransferEngine().executeBatch(
        jobs, provider, provider, workers, true,
        [&](const VornUUID&, SledTransferStatus, std::int64_t, std::int64_t, const std::optional<std::string>&, bool,
            const std::optional<std::string>&) { updates.fetch_add(1, std::memory_order_relaxed); },
        {});
    for (const auto& result : results) {
        if (!result.success) {
            std::fprintf(stderr, "engine: a copy failed: %s\n", result.errorMessage.value_or("?").c_str());
            std::exit(1);
        }
    }
    return seconds(Clock::now() - start);
}

// Runs the GUI thread's event loop until `done` holds, checked after each `signal` of `sender`. The
// loop sleeps between events, as the application's own does; a timed processEvents() would not,
// since Qt drops WaitForMoreEvents there, and its spinning would take a core from the workers.
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

struct ModelRun {
    double seconds = 0;
    double longestStallMs = 0;
};

// Copies the folder `source` into `destination` through the model, as a user would: both panes
// showing the two folders, the source selected, Transfer.
ModelRun throughModel(SledViewModel& model, const fs::path& source, const fs::path& destination) {
    PaneBrowserState& from = *model.leftPane();
    PaneBrowserState& to = *model.rightPane();
    model.openTypedPath(source.parent_path().string(), &from);
    model.openTypedPath(destination.string(), &to);
    runUntil(&from, &PaneBrowserState::isLoadingChanged, [&] { return !from.isLoading(); });
    runUntil(&to, &PaneBrowserState::isLoadingChanged, [&] { return !to.isLoading(); });
    from.setSelectedPaths({source.string()});

    // The stall meter: ticks every 5 ms; any longer gap is time the GUI thread could not react.
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer meter;
    meter.setInterval(5);
    meter.setTimerType(Qt::PreciseTimer);
    QObject::connect(&meter, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed() - 5'000'000);
        sinceTick.restart();
    });
    QSignalSpy finished(&model, &SledViewModel::transferBatchFinished);
    const auto start = Clock::now();
    meter.start();
    sinceTick.start();
    model.transferSelected(&from, &to);
    runUntil(&model, &SledViewModel::transferBatchFinished, [&] { return finished.count() > 0; });
    const double elapsed = seconds(Clock::now() - start);
    meter.stop();
    for (const SledTransferRecord& record : model.transfers()) {
        if (record.status != SledTransferStatus::completed) {
            std::fprintf(stderr, "model: %s ended %s\n", record.fileName.c_str(), rawValue(record.status).c_str());
            std::exit(1);
        }
    }
    model.clearCompletedTransfers();
    return {elapsed, static_cast<double>(longest) / 1e6};
}

// Other programs keeping every core busy: one spinning child process per core, ended with the
// object (and with the benchmark, should it die first).
class BusyMachine {
public:
    BusyMachine() {
        const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
        for (long index = 0; index < cores; ++index) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                volatile unsigned long spin = 0;
                for (;;) {
                    spin = spin + 1;
                }
            }
            if (child > 0) {
                children_.push_back(child);
            }
        }
    }
    ~BusyMachine() {
        for (const pid_t child : children_) {
            ::kill(child, SIGKILL);
        }
        for (const pid_t child : children_) {
            ::waitpid(child, nullptr, 0);
        }
    }
    BusyMachine(const BusyMachine&) = delete;
    BusyMachine& operator=(const BusyMachine&) = delete;
    std::size_t size() const { return children_.size(); }

private:
    std::vector<pid_t> children_;
};

// Where a data set lives. The small batch: in memory (/dev/shm) when it has room. On a disk its
// ten thousand creations and renames wait on the file system's journal, and with every core busy
// the engine alone took anywhere from 1.2 to 3.1 s from one run to the next, which buries the few
// per cent the model adds; in memory both contenders repeat within a few per cent, so what the
// model adds shows at its largest. The large batch: on disk (the temporary folder), as such files
// are, without taking gigabytes of memory from the machine.
fs::path defaultRootFor(const DataSet& set) {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path disk = tmp && *tmp ? tmp : "/tmp";
    const unsigned long long needed = 4ULL * static_cast<unsigned long long>(set.count) * set.bytes;
    if (needed > (1ULL << 30)) {
        return disk;
    }
    struct statfs memory {};
    if (::statfs("/dev/shm", &memory) == 0 && memory.f_type == TMPFS_MAGIC &&
        static_cast<unsigned long long>(memory.f_bavail) * memory.f_bsize >= needed && ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return disk;
}

// One data set's folders: its source, and where the engine alone and the model copy it.
struct Place {
    fs::path work;
    fs::path source;
    fs::path engineOut;
    fs::path modelOut;
};

Place makePlace(const fs::path& root, const DataSet& set) {
    const fs::path work = root / ("vornsled-bench-model-" + std::to_string(::getpid()) + "-" + set.name);
    Place place{work, work / "source" / set.name, work / "engine", work / "model"};
    fs::create_directories(place.modelOut);
    makeDataSet(work / "source", set);
    return place;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int rounds = 5;
    int workers = 4;
    std::optional<fs::path> workRoot;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--quick") {
            quick = true;
        } else if (argument == "--rounds" && index + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++index]));
        } else if (argument == "--workers" && index + 1 < argc) {
            workers = std::atoi(argv[++index]);
        } else if (argument == "--workdir" && index + 1 < argc) {
            workRoot = argv[++index];
        } else {
            std::fprintf(stderr, "usage: bench_model [--quick] [--workdir DIR] [--rounds N] [--workers N]\n");
            return 2;
        }
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);

    const std::vector<DataSet> sets = quick ? std::vector<DataSet>{{"small", 1'000, 4096}, {"large", 4, 16u << 20}}
                                            : std::vector<DataSet>{{"small", 10'000, 4096}, {"large", 4, 256u << 20}};
    std::map<std::string, Place> places;
    for (const DataSet& set : sets) {
        const Place& place = places[set.name] = makePlace(workRoot.value_or(defaultRootFor(set)), set);
        std::printf("%s: data in %s\n", set.name.c_str(), place.work.c_str());
    }
    const fs::path data = places.begin()->second.work / "data";

    SledSettings settings;
    settings.parallelWorkers = workers;
    settings.verifySHA256OnTransfer = true;
    fs::create_directories(data);
    SledProfileRepository(data).saveSettings(settings);
    SledModelEnvironment environment;
    environment.dataFolder = data;
    environment.leftStartPath = places.begin()->second.source.parent_path().string();
    environment.rightStartPath = places.begin()->second.modelOut.string();
    environment.startLANServicesOnLaunch = false;
    environment.advertiseLANServer = false;
    SledViewModel model(environment);

    std::printf("local to local, SHA-256 verified, %d workers; engine alone and model take turns, each going first\n"
                "every other round, best of %d rounds; the disk synced before each run; the GUI thread runs its event\n"
                "loop, and the GUI stall is the longest gap of a 5 ms timer on it during the model's run\n",
                workers, rounds);
    bool withinBudget = true;
    std::vector<std::pair<DataSet, bool>> runs;
    for (const DataSet& set : sets) {
        runs.emplace_back(set, false);
    }
    runs.emplace_back(sets.front(), true);
    for (const auto& [set, loaded] : runs) {
        std::optional<BusyMachine> load;
        if (loaded) {
            load.emplace();
            std::printf("%s again with %zu busy processes, one per core:\n", set.name.c_str(), load->size());
        }
        const Place& place = places.at(set.name);
        double bestEngine = 1e300;
        double bestModel = 1e300;
        double longestStall = 0;
        const auto runEngine = [&] {
            fs::remove_all(place.engineOut);
            fs::create_directories(place.engineOut);
            ::sync();
            bestEngine = std::min(bestEngine, engineAlone(place.source, place.engineOut, workers));
            fs::remove_all(place.engineOut);
        };
        const auto runModel = [&] {
            fs::remove_all(place.modelOut / set.name);
            ::sync();
            const ModelRun run = throughModel(model, place.source, place.modelOut);
            bestModel = std::min(bestModel, run.seconds);
            longestStall = std::max(longestStall, run.longestStallMs);
            fs::remove_all(place.modelOut / set.name);
        };
        for (int round = 0; round < rounds; ++round) {
            // Who goes first changes each round, so neither always follows the other's deletions.
            if (round % 2 == 0) {
                runEngine();
                runModel();
            } else {
                runModel();
                runEngine();
            }
        }
        const double ratio = bestModel / bestEngine;
        std::printf("%-6s %6d × %9zu B  engine %8.3f s  model %8.3f s  model/engine %.3f  longest GUI stall %.1f ms\n",
                    set.name.c_str(), set.count, set.bytes, bestEngine, bestModel, ratio, longestStall);
        const std::string label = set.name + (loaded ? ", loaded" : "");
        std::printf("%-6s model / engine %.2f (goal: at most 1.10)  %s;  GUI stall %.1f ms (goal: under 50)  %s\n",
                    label.c_str(), ratio, ratio <= 1.10 ? "ok" : "missed", longestStall,
                    longestStall < 50.0 ? "ok" : "missed");
        withinBudget = withinBudget && ratio <= 1.10 && longestStall < 50.0;
    }
    std::printf("budget (model ≤ 1.10 × engine, stall < 50 ms): %s\n", withinBudget ? "met" : "NOT met");
    for (const auto& [name, place] : places) {
        fs::remove_all(place.work);
    }
    return 0;
}
