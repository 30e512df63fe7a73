#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace detail {
class VornChildProcess;
}

// What a finished child left behind. (glibc defines `stdout` and `stderr` as macros naming
// themselves, so they serve as member names here.)
struct VornProcessResult {
    // The exit status; a child ended by a signal reports 128 + the signal's number, as shells do.
    std::int32_t exitCode = 0;
    std::string stdout;  // raw bytes
    std::string stderr;  // raw bytes

    // The bytes as UTF-8, each invalid or truncated sequence replaced by U+FFFD.
    std::string stdoutString() const;
    std::string stderrString() const;
};

// Lets another thread stop a run. Shared between the thread that runs and the thread that
// cancels; once cancelled it stays cancelled, so every later run given it fails at once. An
// uncancelled token may serve several runs in turn.
class VornProcessCancellation {
public:
    VornProcessCancellation() = default;
    VornProcessCancellation(const VornProcessCancellation&) = delete;
    VornProcessCancellation& operator=(const VornProcessCancellation&) = delete;

    bool isCancelled() const;
    // Remembers the run's child (weakly); terminates it at once when the token is already cancelled.
    void attach(const std::shared_ptr<detail::VornChildProcess>& process);
    // Marks the token cancelled and terminates the attached child if it still runs.
    void cancel();

private:
    mutable std::mutex lock_;
    bool cancelled_ = false;
    std::weak_ptr<detail::VornChildProcess> process_;
};

// Runs a tool to its end on the calling thread (so never on the UI thread).
struct VornProcessRunner {
    // Bytes of standard error kept, and of standard output unless `captureFullStdout`: the tail.
    static constexpr std::size_t tailLimit = 32768;
    // A cancelled child that ignores SIGTERM this long gets SIGKILL.
    static constexpr int terminationGraceMilliseconds = 2000;
    // How long, after the child exits, output still arriving from its descendants is read.
    static constexpr int finalDrainMilliseconds = 1000;

    using OutputHandler = std::function<void(std::string_view)>;

    // Starts `executable` with `arguments` (argv[1...], no shell), standard input /dev/null, signal
    // mask and dispositions reset; the child is killed if this process ends before it (even by
    // SIGKILL), whichever thread started it. `environment`, when given, is added to (and overrides) a copy of
    // this process's environment. `onOutput` receives standard output and standard error as they
    // arrive, from the calling thread, each chunk valid UTF-8 on its own (an incomplete trailing
    // character waits for its rest; invalid bytes arrive as U+FFFD).
    //
    // Any exit status is a result. Throws VornProcessError::cancelled() when `cancellation` is or
    // becomes cancelled, VornTaskCancelled when `stopToken` asks to stop (the child is terminated
    // first in both cases), std::system_error when the child cannot be started (missing or
    // non-executable file, bad working folder), std::invalid_argument for an argument or
    // environment entry that cannot reach a child (embedded NUL, a name with '=').
    static VornProcessResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                                 const std::optional<std::filesystem::path>& workingDirectory = std::nullopt,
                                 const std::optional<std::map<std::string, std::string>>& environment = std::nullopt,
                                 bool captureFullStdout = false,
                                 const std::shared_ptr<VornProcessCancellation>& cancellation = nullptr,
                                 const OutputHandler& onOutput = {}, std::stop_token stopToken = {});
};
