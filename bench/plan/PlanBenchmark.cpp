// Walks two trees of many small files and plans a mirror between them, beside a dry run of
// `rsync -an --delete` on the same trees; prints the times, each side's peak memory, the ratios and
// whether they meet the goals (time at most rsync's, peak memory at most twice rsync's).
//
//   bench_plan [work folder] [files] [differences]
//
// How it is measured: both contenders run the same way, as a child process of their own that
// only walks and plans (this program started again with --walk-and-plan LEFT RIGHT, which walks
// both trees at once and plans as the workspace does), timed from its start to its end, its peak
// memory the maximum resident size that /usr/bin/time reports for it. Each runs once untimed to
// warm the caches, then three times; the best time and the highest peak count. The trees are made fresh in the work folder (default:
// a new folder under $TMPDIR or /tmp) and removed at the end unless the folder was given.

#include "DualPaneSyncPlanner.h"
#include "LocalFileProvider.h"
#include "RecursiveDirectoryWalker.h"

#include <fcntl.h>
#include <spawn.h>
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
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
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

// The child's work: walk both trees at the same time, as the workspace does, plan a mirror that
// deletes orphans, and print what was found.
int walkAndPlan(const std::string& leftRoot, const std::string& rightRoot) {
    const LocalFileProvider provider;
    auto rightWalk = std::async(std::launch::async, [&] {
        return RecursiveDirectoryWalker::collectFiles(rightRoot, provider, {}, walkDepth, {});
    });
    std::vector<RelativeFileNode> left = RecursiveDirectoryWalker::collectFiles(leftRoot, provider, {}, walkDepth, {});
    std::vector<RelativeFileNode> right = rightWalk.get();
    const std::size_t leftFiles = left.size();
    const std::size_t rightFiles = right.size();
    const std::vector<SyncPlanItem> plan = DualPaneSyncPlanner::planRecursive(
        std::move(left), std::move(right), SyncDirectionMode::mirrorLeftToRight, true);
    std::map<std::string, int> actions;
    for (const SyncPlanItem& item : plan) {
        ++actions[rawValue(item.action())];
    }
    std::printf("walked %zu files on the left and %zu on the right; plan rows:\n", leftFiles, rightFiles);
    for (const auto& [action, count] : actions) {
        std::printf("  %-16s %d\n", action.c_str(), count);
    }
    return 0;
}

struct ChildRun {
    double seconds = 0;
    double peakMegabytes = 0;
};

// Runs a program with its output going to `output`, and measures it from start to end. Its peak
// memory is read through /usr/bin/time, not from this process's own wait: a child spawned from here
// shares this process's memory until it executes, and the kernel counts this process's peak as the
// child's. Through `time`, which is small, each contender starts from the same floor of under 1 MiB.
ChildRun runMeasured(const std::vector<std::string>& command, const fs::path& output, const fs::path& measurement) {
    std::vector<std::string> arguments = {"/usr/bin/time", "--format=%M", "--output=" + measurement.string()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::system_error(spawned, std::generic_category(), "starting /usr/bin/time (apt-get install time)");
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(command.front() + " failed");
    }
    std::ifstream report(measurement);
    long kibibytes = 0;  // time's %M is in KiB
    if (!(report >> kibibytes) || kibibytes <= 0) {
        throw std::runtime_error("/usr/bin/time gave no peak memory for " + command.front());
    }
    return {seconds, static_cast<double>(kibibytes) / 1024.0};
}

// A warm-up, then the best time and the highest peak of three runs.
ChildRun bestOfThree(const std::vector<std::string>& arguments, const fs::path& output, const fs::path& measurement) {
    runMeasured(arguments, output, measurement);
    ChildRun best = runMeasured(arguments, output, measurement);
    for (int round = 1; round < 3; ++round) {
        const ChildRun run = runMeasured(arguments, output, measurement);
        best.seconds = std::min(best.seconds, run.seconds);
        best.peakMegabytes = std::max(best.peakMegabytes, run.peakMegabytes);
    }
    return best;
}

const char* verdict(bool met) {
    return met ? "ok" : "missed";
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
        if (argc == 4 && std::string_view(argv[1]) == "--walk-and-plan") {
            return walkAndPlan(argv[2], argv[3]);
        }
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

        std::printf("each contender runs as a process of its own that only walks and plans: best time of 3 after a\n"
                    "warm-up, peak memory the largest resident size /usr/bin/time reports for it\n");
        const fs::path output = work / "output.txt";
        const fs::path measurement = work / "measurement.txt";
        const ChildRun rsync = bestOfThree(
            {"rsync", "-an", "--delete", trees.left.string() + "/", trees.right.string() + "/"}, output,
            measurement);
        const ChildRun ours = bestOfThree(
            {fs::read_symlink("/proc/self/exe").string(), "--walk-and-plan", trees.left.string(), trees.right.string()},
            output, measurement);
        std::ifstream report(output);
        std::printf("%s", std::string(std::istreambuf_iterator<char>(report), {}).c_str());

        const double timeRatio = ours.seconds / rsync.seconds;
        const double memoryRatio = ours.peakMegabytes / rsync.peakMegabytes;
        std::printf("walk + plan (mirror, delete orphans): %8.3f s   peak memory %7.1f MiB\n", ours.seconds,
                    ours.peakMegabytes);
        std::printf("rsync -an --delete:                   %8.3f s   peak memory %7.1f MiB\n", rsync.seconds,
                    rsync.peakMegabytes);
        std::printf("time   walk + plan / rsync: %6.2f (goal: at most 1)  %s\n", timeRatio, verdict(timeRatio <= 1.0));
        std::printf("memory walk + plan / rsync: %6.2f (goal: at most 2)  %s\n", memoryRatio,
                    verdict(memoryRatio <= 2.0));

        if (ownWork) {
            fs::remove_all(work);
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_plan: %s\n", error.what());
        return 1;
    }
}
