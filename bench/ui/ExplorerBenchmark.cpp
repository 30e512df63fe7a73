// The explorer on a large local folder, offscreen: how long a pane takes from asking for a folder
// of 100,000 files to having painted its first screen of rows (listing, sorting, the list model,
// the first paint), beside `ls -l` of the same folder in the same run; then filtering it by one
// typed letter and scrolling it from the top to the bottom. A 5 ms timer on the GUI thread records
// the longest gap between its ticks while the folder loads: the longest the window could not
// react.
//
//   bench_ui [--files N] [--rounds N] [--workdir DIR]
//
// Prints each time, the ratio pane/ls (goal: at most 2) and the longest stall (goal: under 50 ms).

#include "DualPaneExplorerView.h"
#include "PaneBrowserCard.h"
#include "SledViewModel.h"
#include "VornGlassInputField.h"
#include "VornPainting.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

void makeFolder(const fs::path& folder, int files) {
    fs::create_directories(folder);
    for (int index = 0; index < files; ++index) {
        // Mixed names and sizes, so sorting has real work and sizes are formatted.
        const std::string name = (index % 7 == 0 ? "Report " : index % 3 == 0 ? "photo_" : "data-") +
                                 std::to_string((index * 7919) % files) + (index % 2 ? ".txt" : ".bin");
        const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror("open");
            std::exit(1);
        }
        const std::string bytes(static_cast<std::size_t>(index % 97), 'x');
        if (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) < 0) {
            std::perror("write");
            std::exit(1);
        }
        ::close(fd);
    }
    for (int index = 0; index < 40; ++index) {
        fs::create_directory(folder / ("folder " + std::to_string(index)));
    }
}

// `ls -l FOLDER` with its output thrown away, as the peer: it reads, stats, sorts and formats.
double timeLs(const fs::path& folder) {
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execlp("ls", "ls", "-l", folder.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ls -l failed\n");
        std::exit(1);
    }
    return milliseconds(Clock::now() - start);
}

// Records the longest gap between ticks of a 5 ms timer on the GUI thread.
class StallMeter {
public:
    StallMeter() {
        timer_.setInterval(5);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            longest_ = std::max(longest_, sinceTick_.nsecsElapsed() - 5'000'000);
            sinceTick_.restart();
        });
    }
    void start() {
        longest_ = 0;
        sinceTick_.start();
        timer_.start();
    }
    double stopMs() {
        timer_.stop();
        longest_ = std::max(longest_, sinceTick_.nsecsElapsed() - 5'000'000);
        return static_cast<double>(std::max<qint64>(0, longest_)) / 1e6;
    }

private:
    QTimer timer_;
    QElapsedTimer sinceTick_;
    qint64 longest_ = 0;
};

// Paints the list's visible rows now, as the screen would.
void paintNow(PaneBrowserCard& card) {
    QApplication::sendPostedEvents();
    card.listView()->viewport()->repaint();
}

}  // namespace

int main(int argc, char** argv) {
    int files = 100'000;
    int rounds = 3;
    fs::path workRoot = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (argument == "--files" && index + 1 < argc) {
            files = std::max(1, std::atoi(argv[++index]));
        } else if (argument == "--rounds" && index + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++index]));
        } else if (argument == "--workdir" && index + 1 < argc) {
            workRoot = argv[++index];
        } else {
            std::fprintf(stderr, "usage: bench_ui [--files N] [--rounds N] [--workdir DIR]\n");
            return 2;
        }
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("QT_SCALE_FACTOR", "1", 0);
    QApplication application(argc, argv);
    vornApplyDesignLook(application);

    const fs::path work = workRoot / ("vornsled-bench-ui-" + std::to_string(::getpid()));
    const fs::path big = work / "big";
    const fs::path small = work / "small";
    const fs::path data = work / "data";
    fs::create_directories(small);
    fs::create_directories(data);
    std::printf("making %d files in %s…\n", files, big.c_str());
    makeFolder(big, files);

    SledModelEnvironment environment;
    environment.dataFolder = data;
    environment.leftStartPath = small.string();
    environment.rightStartPath = small.string();
    environment.startLANServicesOnLaunch = false;
    environment.advertiseLANServer = false;
    SledViewModel model(environment);
    DualPaneExplorerView view(model);
    view.resize(1280, 720);
    view.show();
    PaneBrowserCard& card = *view.leftCard();
    PaneBrowserState& pane = *model.leftPane();
    auto settle = [&] {
        while (pane.isLoading()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        QApplication::processEvents();
    };
    settle();

    double bestLs = 1e300;
    double bestPane = 1e300;
    double longestStall = 0;
    StallMeter meter;
    for (int round = 0; round < rounds; ++round) {
        bestLs = std::min(bestLs, timeLs(big));

        model.openTypedPath(small.string(), &pane);
        settle();
        meter.start();
        const auto start = Clock::now();
        model.openTypedPath(big.string(), &pane);
        settle();
        paintNow(card);
        const double elapsed = milliseconds(Clock::now() - start);
        longestStall = std::max(longestStall, meter.stopMs());
        if (pane.entries().size() != static_cast<std::size_t>(files) + 40) {
            std::fprintf(stderr, "the pane listed %zu entries, not %d\n", pane.entries().size(), files + 40);
            return 1;
        }
        bestPane = std::min(bestPane, elapsed);
    }

    // One typed letter into the filter, then back to everything.
    double bestFilter = 1e300;
    int matched = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        card.filterField()->setText(QStringLiteral("7"));
        paintNow(card);
        bestFilter = std::min(bestFilter, milliseconds(Clock::now() - start));
        matched = pane.entryList()->rowCount();
        card.filterField()->clear();
        paintNow(card);
    }

    // From the top to the bottom a page at a time, each page painted.
    QScrollBar* bar = card.listView()->verticalScrollBar();
    int pages = 0;
    const auto scrollStart = Clock::now();
    bar->setValue(0);
    while (true) {
        paintNow(card);
        ++pages;
        if (bar->value() >= bar->maximum()) {
            break;
        }
        bar->setValue(std::min(bar->maximum(), bar->value() + std::max(1, bar->pageStep())));
    }
    const double scroll = milliseconds(Clock::now() - scrollStart);

    const double ratio = bestPane / bestLs;
    std::printf("folder of %d files and 40 folders, best of %d\n", files, rounds);
    std::printf("  ls -l                          %9.1f ms\n", bestLs);
    std::printf("  pane: list, sort, model, paint %9.1f ms   ratio %.2f× (goal ≤ 2×) %s\n", bestPane, ratio,
                ratio <= 2.0 ? "ok" : "OVER");
    std::printf("  longest GUI stall while loading %8.1f ms   (goal < 50 ms) %s\n", longestStall,
                longestStall < 50.0 ? "ok" : "OVER");
    std::printf("  filter by one letter (%d rows)  %8.1f ms\n", matched, bestFilter);
    std::printf("  scroll top to bottom            %8.1f ms   (%d pages, %.2f ms a page)\n", scroll, pages,
                scroll / std::max(1, pages));
    fs::remove_all(work);
    return 0;
}
