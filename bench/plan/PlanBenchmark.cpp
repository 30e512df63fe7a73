// Walks two trees of many small files and plans a mirror between them, beside a dry run of
// `rsync -an --delete` on the same trees; prints the times, their ratio and each side's peak memory.
//
//   bench_plan [work folder] [files] [differences]
//
// The trees are made fresh in the work folder (default: a new folder under $TMPDIR or /tmp) and
// removed at the end unless the folder was given. Each contender runs once untimed to warm the
// caches, then three times; the best time counts.

#include "DualPaneSyncPlanner.h"
#include "LocalFileProvider.h"
#include "RecursiveDirectoryWalker.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int filesPerFolder = 100;
constexpr int subfoldersPerFolder = 10;
constexpr int walkDepth = 12;
const timespec baseTime{1'700'000'000, 0};

void writeFile(const fs::path& path, std::size_t size, timespec modified) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "creating " + path.string());
    }
    const std::string bytes(size, 'v');
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    const timespec times[2] = {modified, modified};
    const bool timed = ::futimens(fd, times) == 0;
    ::close(fd);
    if (!written || !timed) {
        throw std::runtime_error("writing " + path.string() + " failed");
    }
}

// The relative path of file number `index`: top/sub/file, 100 files a folder, 10 subfolders a top folder.
std::string relativePathOf(int index) {
    const int folder = index / filesPerFolder;
    char text[64];
    std::snprintf(text, sizeof text, "top%04d/sub%02d/file%03d.dat", folder / subfoldersPerFolder,
                  folder % subfoldersPerFolder, index % filesPerFolder);
    return text;
}

struct Trees {
    fs::path left;
    fs::path right;
    std::map<std::string, int> differences;  // what was made to differ, by kind
};

// Two equal trees of `files` files, then `differences` changes spread evenly over them, a quarter
// of each kind: changed size on the right, newer time on the right, only on the left, only on the right.
Trees makeTrees(const fs::path& work, int files, int differences) {
    Trees trees{work / "left", work / "right", {}};
    const int stride = std::max(1, files / std::max(1, differences));
    for (int index = 0; index < files; ++index) {
        const std::string relative = relativePathOf(index);
        const std::size_t size = 64 + static_cast<std::size_t>(index % 977);
        const timespec modified{baseTime.tv_sec + index, 0};
        const int kind = index % stride == 0 && index / stride < differences ? (index / stride) % 4 : -1;
        for (const fs::path& side : {trees.left, trees.right}) {
            const fs::path path = side / relative;
            if (index % filesPerFolder == 0) {
                fs::create_directories(path.parent_path());
            }
            const bool isRight = side == trees.right;
            if ((kind == 2 && isRight) || (kind == 3 && !isRight)) {
                continue;  // only on the other side
            }
            writeFile(path, kind == 0 && isRight ? size + 1 : size,
                      kind == 1 && isRight ? timespec{modified.tv_sec + 60, 0} : modified);
        }
        if (kind >= 0) {
            ++trees.differences[std::array{"changed size", "newer on the right", "only on the left",
                                           "only on the right"}[static_cast<std::size_t>(kind)]];
        }
    }
    return trees;
}

struct OurRun {
    double seconds = 0;
    std::size_t leftFiles = 0;
    std::size_t rightFiles = 0;
    std::map<std::string, int> actions;
};

OurRun walkAndPlan(const Trees& trees) {
    const auto start = std::chrono::steady_clock::now();
    const LocalFileProvider provider;
    // The two panes are walked at the same time, as the workspace does.
    auto rightWalk = std::async(std::launch::async, [&] {
        return RecursiveDirectoryWalker::collectFiles(trees.right.string(), provider, {}, walkDepth, {});
    });
    const std::vector<RelativeFileNode> left =
        RecursiveDirectoryWalker::collectFiles(trees.left.string(), provider, {}, walkDepth, {});
    const std::vector<RelativeFileNode> right = rightWalk.get();
    const std::vector<SyncPlanItem> plan =
        DualPaneSyncPlanner::planRecursive(left, right, SyncDirectionMode::mirrorLeftToRight, true);
    OurRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.leftFiles = left.size();
    run.rightFiles = right.size();
    for (const SyncPlanItem& item : plan) {
        ++run.actions[rawValue(item.action())];
    }
    return run;
}

double runRsync(const Trees& trees) {
    const std::string source = trees.left.string() + "/";
    const std::string destination = trees.right.string() + "/";
    std::vector<std::string> arguments = {"rsync", "-an", "--delete", source, destination};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "rsync", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::system_error(spawned, std::generic_category(), "starting rsync (install it: apt-get install rsync)");
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("rsync failed");
    }
    return seconds;
}

double peakMegabytes(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

int intArgument(const char* text, const char* what) {
    int value = 0;
    const auto [end, error] = std::from_chars(text, text + std::char_traits<char>::length(text), value);
    if (error != std::errc() || *end != '\0' || value <= 0) {
        throw std::invalid_argument(std::string(what) + " must be a positive whole number, not '" + text + "'");
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "vornsled-bench-plan-XXXXXX").string();
        const bool ownWork = argc <= 1 || *argv[1] == '\0';
        if (ownWork && ::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "making a work folder from " + pattern);
        }
        const fs::path work = ownWork ? fs::path(pattern) : fs::path(argv[1]);
        const int files = argc > 2 ? intArgument(argv[2], "files") : 100'000;
        const int differences = argc > 3 ? intArgument(argv[3], "differences") : 400;
        fs::create_directories(work);

        std::printf("making two trees of %d files in %s ...\n", files, work.c_str());
        std::fflush(stdout);
        const Trees trees = makeTrees(work, files, differences);
        for (const auto& [kind, count] : trees.differences) {
            std::printf("  %-20s %d\n", kind.c_str(), count);
        }

        // rsync first, while this process is still small: a spawned child starts out sharing this
        // process's memory until it execs, so its peak can never read lower than ours at that moment.
        const double floorMegabytes = peakMegabytes(RUSAGE_SELF);
        runRsync(trees);  // warm-up
        double rsyncBest = 0;
        for (int round = 0; round < 3; ++round) {
            const double seconds = runRsync(trees);
            rsyncBest = round == 0 ? seconds : std::min(rsyncBest, seconds);
        }
        const double rsyncPeak = peakMegabytes(RUSAGE_CHILDREN);

        walkAndPlan(trees);  // warm-up
        OurRun best;
        for (int round = 0; round < 3; ++round) {
            OurRun run = walkAndPlan(trees);
            if (round == 0 || run.seconds < best.seconds) {
                best = std::move(run);
            }
        }

        std::printf("walked %zu files on the left and %zu on the right; plan rows:\n", best.leftFiles,
                    best.rightFiles);
        for (const auto& [action, count] : best.actions) {
            std::printf("  %-16s %d\n", action.c_str(), count);
        }
        std::printf("walk + plan (mirror, delete orphans): %8.3f s   peak memory %7.1f MiB\n", best.seconds,
                    peakMegabytes(RUSAGE_SELF));
        std::printf("rsync -an --delete:                   %8.3f s   peak memory %7.1f MiB (floor %.1f MiB)\n",
                    rsyncBest, rsyncPeak, floorMegabytes);
        std::printf("ratio walk + plan / rsync:            %8.2f (goal: at most 1)\n", best.seconds / rsyncBest);

        if (ownWork) {
            fs::remove_all(work);
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_plan: %s\n", error.what());
        return 1;
    }
}
