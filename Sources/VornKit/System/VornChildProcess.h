#pragma once

// How the process runner and the process session start and watch a child. Not for other callers:
// they go through VornProcessRunner or VornProcessSession.

#include "VornUniqueFd.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace detail {

using VornChildClock = std::chrono::steady_clock;

// A close-on-exec pipe whose ends lie above the standard descriptors; the end this process keeps
// (`parentReads`: the reading one) is non-blocking, the child's end blocking.
std::pair<VornUniqueFd, VornUniqueFd> makeChildPipe(bool parentReads);

// The child of one run as the cancellation side sees it. Signals go through a pidfd, and never
// after the child has been reaped, so a recycled process id is never hit. A termination asked
// for before the child exists is remembered and delivered the moment it starts.
class VornChildProcess {
public:
    VornChildProcess();

    // Becomes readable once terminate() has been called, so a waiting loop wakes up.
    int wakeFd() const { return wake_.get(); }
    // Empties the wake descriptor once its wake-up has been seen.
    void acknowledgeWake();
    void started(int pidfd);
    // Asks the child to end (SIGTERM now; the watcher escalates to SIGKILL after a grace period).
    void terminate();
    void kill();
    // Called right before the child is reaped: from here on nothing is signalled.
    void willReap();

private:
    std::mutex lock_;
    VornUniqueFd wake_;
    int pidfd_ = -1;  // owned by the handle, which outlives every use here
    bool terminationRequested_ = false;
    bool reaped_ = false;
};

// A command checked and laid out for posix_spawn before anything is started, so that a bad
// argument costs no pipe and no process.
class VornChildCommand {
public:
    // Throws std::invalid_argument for an argument or environment entry that cannot reach a child.
    VornChildCommand(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                     const std::optional<std::filesystem::path>& workingDirectory,
                     const std::optional<std::map<std::string, std::string>>& environment);

    const std::string& program() const { return argv_.front(); }

private:
    friend class VornChildHandle;
    std::vector<std::string> argv_;
    std::vector<std::string> envp_;
    bool hasEnvironment_ = false;
    std::optional<std::filesystem::path> workingDirectory_;
};

// A started child: reaped however its owner ends; one still running then is killed first.
class VornChildHandle {
public:
    // Starts `command` with the given descriptors as its standard input (-1: /dev/null), output
    // and error, the signal mask empty and every disposition at its default. The child is killed
    // when this process ends, however it ends, and never because the calling thread ended. Throws
    // std::system_error when the child cannot be started or watched.
    VornChildHandle(const VornChildCommand& command, int inputFd, int outputFd, int errorFd,
                    std::shared_ptr<VornChildProcess> child);
    ~VornChildHandle();
    VornChildHandle(const VornChildHandle&) = delete;
    VornChildHandle& operator=(const VornChildHandle&) = delete;

    int pidfd() const { return pidfd_.get(); }
    pid_t pid() const { return pid_; }
    bool reaped() const { return reaped_; }
    // Waits for the child's end; its exit code (128 + the signal for a child ended by one).
    std::int32_t reap();

private:
    pid_t pid_ = -1;
    VornUniqueFd pidfd_;
    std::shared_ptr<VornChildProcess> child_;
    bool reaped_ = false;
};

// poll()'s time-out in a loop watching a child: until the drain after its exit ends, else until
// its kill is due, else none (-1). Rounded up, never negative.
int watchTimeout(const std::optional<VornChildClock::time_point>& drainUntil,
                 const std::optional<VornChildClock::time_point>& killAt);

}  // namespace detail
