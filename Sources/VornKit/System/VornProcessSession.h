#pragma once

#include "VornUniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace detail {
class VornChildProcess;
class VornChildHandle;
}  // namespace detail

// A long-lived tool driven through its standard input: each exchange writes a request and reads
// standard output up to a line the caller names, so one started process serves many requests.
// For tools that read commands line by line and answer each in turn (a command interpreter, a
// batch reading standard input).
//
// One thread at a time; the child starts as VornProcessRunner starts its children (no shell,
// close-on-exec pipes, signal mask and dispositions reset).
class VornProcessSession {
public:
    struct Reply {
        // Standard output from the end of the previous reply up to the line that ends this one,
        // without that line; everything that arrived when the child ended first.
        std::string output;
        // Standard error that arrived during the exchange: the last VornProcessRunner::tailLimit bytes.
        std::string errors;
        // The child ended before the ending line came; `exitCode` then holds how (128 + a signal's
        // number for a child ended by one).
        bool ended = false;
        std::int32_t exitCode = 0;
        // The child ended because the exchange's time limit passed.
        bool timedOut = false;
    };

    // Starts `executable` with `arguments`; `environment` is added to a copy of this process's.
    // Throws as VornProcessRunner::run does for a child that cannot be started.
    VornProcessSession(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                       const std::optional<std::map<std::string, std::string>>& environment = std::nullopt);
    // Closes the child's standard input, which ends a well-behaved tool; one that stays is
    // terminated after a grace period, and killed if it ignores that.
    ~VornProcessSession();
    VornProcessSession(const VornProcessSession&) = delete;
    VornProcessSession& operator=(const VornProcessSession&) = delete;

    // Writes `request` to the child's standard input and reads until a line of standard output
    // equals `endLine` (given without its line feed). Throws VornTaskCancelled when `stop` asks to
    // stop: the child is terminated and reaped first, so the session has ended. A child that has
    // not answered within `timeLimit` is terminated the same way, and the reply says so.
    // `whileWaiting` is called on this thread every whileWaitingMilliseconds until the reply is
    // complete (to report progress, say); when it throws, the child is terminated and reaped and
    // the exception passes on.
    Reply exchange(std::string_view request, std::string_view endLine, std::stop_token stop,
                   std::optional<std::chrono::milliseconds> timeLimit = std::nullopt,
                   const std::function<void()>& whileWaiting = {});

    static constexpr int whileWaitingMilliseconds = 250;

    // The child's process id, for reading about it in /proc; stands for the child only until
    // hasEnded() says it has ended.
    pid_t processId() const;

    // Whether the child has ended; a session whose exchange was cancelled has.
    bool hasEnded();

    // Standard output that arrived after the last complete reply: after a cancelled exchange, what
    // the child had answered so far.
    const std::string& unreadOutput() const { return output_; }

    // How long a child whose standard input was closed gets to end by itself.
    static constexpr int closeGraceMilliseconds = 1000;

private:
    std::optional<std::size_t> endLineAt(std::string_view endLine, std::size_t& lineEnd);
    void waitForEnd(int graceMilliseconds);

    std::shared_ptr<detail::VornChildProcess> child_;
    std::unique_ptr<detail::VornChildHandle> handle_;
    VornUniqueFd input_;
    VornUniqueFd outputPipe_;
    VornUniqueFd errorPipe_;
    std::string output_;
    // Where the search for the ending line resumes: everything before it holds no complete line.
    std::size_t scannedUpTo_ = 0;
    std::int32_t exitCode_ = 0;
};
