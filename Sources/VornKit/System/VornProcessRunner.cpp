#include "VornProcessRunner.h"

#include "VornProcessError.h"
#include "VornTaskCancelled.h"
#include "VornUnicode.h"
#include "VornUniqueFd.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <utility>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// A close-on-exec pipe whose ends are above the standard descriptors, so that setting up the
// child's 0, 1 and 2 can never overwrite one of them (a parent started with a standard
// descriptor closed would otherwise get one back from pipe2).
std::pair<VornUniqueFd, VornUniqueFd> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throwErrno(errno, "cannot create a pipe");
    }
    VornUniqueFd pair[2] = {VornUniqueFd(ends[0]), VornUniqueFd(ends[1])};
    for (VornUniqueFd& end : pair) {
        if (end.get() <= STDERR_FILENO) {
            const int moved = ::fcntl(end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (moved < 0) {
                throwErrno(errno, "cannot create a pipe");
            }
            end.reset(moved);
        }
    }
    // Only our reading end is non-blocking; the child's end must stay blocking for its writes.
    const int flags = ::fcntl(pair[0].get(), F_GETFL);
    if (flags < 0 || ::fcntl(pair[0].get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        throwErrno(errno, "cannot configure a pipe");
    }
    return {std::move(pair[0]), std::move(pair[1])};
}

// ---- UTF-8 -------------------------------------------------------------------------------------

// Decodes `bytes` as UTF-8, each maximal ill-formed subpart becoming U+FFFD. When `final` is
// false, a character cut off by the end of `bytes` (a lead byte followed only by fitting
// continuation bytes) is left unread for the next chunk; `consumed` tells how many bytes were used.
std::string decodeUTF8(std::string_view bytes, bool final, std::size_t* consumed = nullptr) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const VornCodePoint point = VornUnicode::decodeUTF8(bytes, offset);
        if (point.valid) {
            text.append(bytes.substr(offset, point.length));
        } else {
            const auto lead = static_cast<unsigned char>(bytes[offset]);
            const bool cutOff = offset + point.length == bytes.size() && lead >= 0xC2 && lead <= 0xF4;
            if (cutOff && !final) {
                break;
            }
            VornUnicode::appendUTF8(text, VornUnicode::replacementCharacter);
        }
        offset += point.length;
    }
    if (consumed != nullptr) {
        *consumed = offset;
    }
    return text;
}

// ---- environment and arguments -------------------------------------------------------------

void requireNoNul(std::string_view value, const char* what) {
    if (value.find('\0') != std::string_view::npos) {
        throw std::invalid_argument(std::string(what) + " contains a NUL byte and cannot be passed to a process");
    }
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& additions) {
    for (const auto& [name, value] : additions) {
        if (name.empty() || name.find('=') != std::string::npos) {
            throw std::invalid_argument("invalid environment variable name '" + name + "'");
        }
        requireNoNul(name, "an environment variable name");
        requireNoNul(value, "an environment value");
    }
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string_view line(*entry);
        const auto equals = line.find('=');
        const std::string name(line.substr(0, equals));
        if (!additions.contains(name)) {
            entries.emplace_back(line);
        }
    }
    for (const auto& [name, value] : additions) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (std::string& string : strings) {
        result.push_back(string.data());
    }
    result.push_back(nullptr);
    return result;
}

// ---- one captured stream ---------------------------------------------------------------------

struct CapturedStream {
    VornUniqueFd fd;
    bool keepFull = false;
    std::string bytes;    // what the result returns
    std::string pending;  // the start of a character whose rest has not arrived yet

    void append(std::string_view chunk, const VornProcessRunner::OutputHandler& onOutput) {
        bytes.append(chunk);
        // Trimming on every append keeps a chatty child within one read over the limit.
        if (!keepFull && bytes.size() > VornProcessRunner::tailLimit) {
            bytes.erase(0, bytes.size() - VornProcessRunner::tailLimit);
        }
        if (onOutput) {
            pending.append(chunk);
            std::size_t consumed = 0;
            const std::string text = decodeUTF8(pending, false, &consumed);
            pending.erase(0, consumed);
            if (!text.empty()) {
                onOutput(text);
            }
        }
    }

    void finish(const VornProcessRunner::OutputHandler& onOutput) {
        fd.reset();
        if (onOutput && !pending.empty()) {
            const std::string text = decodeUTF8(pending, true);
            pending.clear();
            onOutput(text);
        }
    }

    // Reads what is there now; false at end of stream.
    bool readAvailable(const VornProcessRunner::OutputHandler& onOutput) {
        // One read per wake-up, so that a child that never stops writing cannot starve the
        // watch on its exit and on cancellation.
        std::array<char, 65536> chunk;
        for (;;) {
            const ssize_t count = ::read(fd.get(), chunk.data(), chunk.size());
            if (count > 0) {
                append(std::string_view(chunk.data(), static_cast<std::size_t>(count)), onOutput);
                return true;
            }
            if (count == 0) {
                return false;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            return false;  // a broken pipe reads as its end
        }
    }
};

int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int pidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

std::int32_t exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

}  // namespace

namespace detail {

// The child of one run as the cancellation side sees it. Signals go through a pidfd, and never
// after the child has been reaped, so a recycled process id is never hit. A termination asked
// for before the child exists is remembered and delivered the moment it starts.
class VornChildProcess {
public:
    VornChildProcess() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (!wake_) {
            throwErrno(errno, "cannot create an event descriptor");
        }
    }

    int wakeFd() const { return wake_.get(); }

    void started(int pidfd) {
        std::lock_guard guard(lock_);
        pidfd_ = pidfd;
        if (terminationRequested_) {
            pidfdSendSignal(pidfd_, SIGTERM);
        }
    }

    // Asks the child to end (SIGTERM now; the run escalates to SIGKILL after a grace period).
    void terminate() {
        std::lock_guard guard(lock_);
        if (!terminationRequested_) {
            terminationRequested_ = true;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
        }
        if (pidfd_ >= 0 && !reaped_) {
            pidfdSendSignal(pidfd_, SIGTERM);
        }
    }

    void kill() {
        std::lock_guard guard(lock_);
        if (pidfd_ >= 0 && !reaped_) {
            pidfdSendSignal(pidfd_, SIGKILL);
        }
    }

    // Called right before the child is reaped: from here on nothing is signalled.
    void willReap() {
        std::lock_guard guard(lock_);
        reaped_ = true;
    }

private:
    std::mutex lock_;
    VornUniqueFd wake_;
    int pidfd_ = -1;  // owned by the run, which outlives every use here
    bool terminationRequested_ = false;
    bool reaped_ = false;
};

}  // namespace detail

// ---- result and token --------------------------------------------------------------------------

std::string VornProcessResult::stdoutString() const { return decodeUTF8(stdout, true); }

std::string VornProcessResult::stderrString() const { return decodeUTF8(stderr, true); }

bool VornProcessCancellation::isCancelled() const {
    std::lock_guard guard(lock_);
    return cancelled_;
}

void VornProcessCancellation::attach(const std::shared_ptr<detail::VornChildProcess>& process) {
    bool terminateNow = false;
    {
        std::lock_guard guard(lock_);
        process_ = process;
        terminateNow = cancelled_;
    }
    if (terminateNow && process) {
        process->terminate();
    }
}

void VornProcessCancellation::cancel() {
    std::shared_ptr<detail::VornChildProcess> process;
    {
        std::lock_guard guard(lock_);
        cancelled_ = true;
        process = process_.lock();
    }
    // An attach after this point sees `cancelled_` and terminates its own child.
    if (process) {
        process->terminate();
    }
}

// ---- the run -----------------------------------------------------------------------------------

namespace {

// Reaps the child however the run ends; a run left by an exception (a throwing output handler)
// kills its child first rather than leave it behind.
class ChildGuard {
public:
    ChildGuard(pid_t pid, VornUniqueFd pidfd, std::shared_ptr<detail::VornChildProcess> child)
        : pid_(pid), pidfd_(std::move(pidfd)), child_(std::move(child)) {}
    ~ChildGuard() {
        if (!reaped_) {
            child_->kill();
            int status = 0;
            reap(status);
        }
    }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;

    int pidfd() const { return pidfd_.get(); }
    bool reaped() const { return reaped_; }

    void reap(int& status) {
        child_->willReap();
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }

private:
    pid_t pid_;
    VornUniqueFd pidfd_;
    std::shared_ptr<detail::VornChildProcess> child_;
    bool reaped_ = false;
};

struct SpawnSettings {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

}  // namespace

VornProcessResult VornProcessRunner::run(const fs::path& executable, const std::vector<std::string>& arguments,
                                         const std::optional<fs::path>& workingDirectory,
                                         const std::optional<std::map<std::string, std::string>>& environment,
                                         bool captureFullStdout,
                                         const std::shared_ptr<VornProcessCancellation>& cancellation,
                                         const OutputHandler& onOutput, std::stop_token stopToken) {
    if (stopToken.stop_requested()) {
        throw VornTaskCancelled();
    }
    if (cancellation && cancellation->isCancelled()) {
        throw VornProcessError::cancelled();
    }

    // A relative executable is taken from our own folder, not from the child's working folder.
    const std::string program = fs::absolute(executable).string();
    requireNoNul(program, "the executable path");
    std::vector<std::string> argv{program};
    for (const std::string& argument : arguments) {
        requireNoNul(argument, "an argument");
        argv.push_back(argument);
    }
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<std::string> envp;
    std::vector<char*> envpPointers;
    if (environment) {
        envp = mergedEnvironment(*environment);
        envpPointers = pointers(envp);
    }
    if (workingDirectory) {
        requireNoNul(workingDirectory->native(), "the working directory");
    }

    auto [outRead, outWrite] = makePipe();
    auto [errRead, errWrite] = makePipe();

    SpawnSettings settings;
    posix_spawn_file_actions_addopen(&settings.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&settings.actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&settings.actions, errWrite.get(), STDERR_FILENO);
    if (workingDirectory) {
        posix_spawn_file_actions_addchdir_np(&settings.actions, workingDirectory->c_str());
    }
    // The child starts with nothing blocked and every signal at its default, whatever this
    // process has ignored (SIGPIPE, typically) or blocked in the calling thread.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&settings.attributes, &none);
    posix_spawnattr_setsigdefault(&settings.attributes, &all);
    posix_spawnattr_setflags(&settings.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    auto child = std::make_shared<detail::VornChildProcess>();
    if (cancellation) {
        cancellation->attach(child);
    }
    std::stop_callback onStop(stopToken, [&child] { child->terminate(); });

    pid_t pid = -1;
    const int spawnError = ::posix_spawn(&pid, program.c_str(), &settings.actions, &settings.attributes,
                                         argvPointers.data(), environment ? envpPointers.data() : environ);
    if (spawnError != 0) {
        throwErrno(spawnError, "cannot start " + program);
    }
    outWrite.reset();
    errWrite.reset();

    VornUniqueFd pidfd(pidfdOpen(pid));
    if (!pidfd) {
        const int error = errno;
        ::kill(pid, SIGKILL);  // not reaped yet, so the id is still ours
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throwErrno(error, "cannot watch the started process " + program);
    }
    const int watchedPidfd = pidfd.get();
    ChildGuard guard(pid, std::move(pidfd), child);
    child->started(watchedPidfd);

    CapturedStream streams[2];
    streams[0].fd = std::move(outRead);
    streams[0].keepFull = captureFullStdout;
    streams[1].fd = std::move(errRead);

    int status = 0;
    std::optional<Clock::time_point> killAt;
    std::optional<Clock::time_point> drainUntil;
    bool killed = false;
    for (;;) {
        std::array<pollfd, 4> fds{};
        nfds_t count = 0;
        int streamSlot[2] = {-1, -1};
        for (int s = 0; s < 2; ++s) {
            if (streams[s].fd) {
                streamSlot[s] = static_cast<int>(count);
                fds[count++] = {streams[s].fd.get(), POLLIN, 0};
            }
        }
        const int pidSlot = guard.reaped() ? -1 : static_cast<int>(count);
        if (!guard.reaped()) {
            fds[count++] = {watchedPidfd, POLLIN, 0};
        }
        const int wakeSlot = static_cast<int>(count);
        fds[count++] = {child->wakeFd(), POLLIN, 0};

        if (drainUntil && (streamSlot[0] < 0 && streamSlot[1] < 0)) {
            break;
        }
        int timeout = -1;
        if (drainUntil) {
            timeout = millisecondsUntil(*drainUntil);
        } else if (killAt) {
            timeout = millisecondsUntil(*killAt);
        }
        const int ready = ::poll(fds.data(), count, timeout);
        if (ready < 0 && errno != EINTR) {
            throwErrno(errno, "cannot wait for the process " + program);
        }

        if (ready > 0 && (fds[wakeSlot].revents & POLLIN) != 0) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(child->wakeFd(), &value, sizeof value);
            if (!killAt && !killed) {
                killAt = Clock::now() + std::chrono::milliseconds(terminationGraceMilliseconds);
            }
        }
        if (killAt && !guard.reaped() && Clock::now() >= *killAt) {
            child->kill();
            killAt.reset();
            killed = true;
        }
        for (int s = 0; s < 2; ++s) {
            if (ready > 0 && streamSlot[s] >= 0 && fds[streamSlot[s]].revents != 0) {
                if (!streams[s].readAvailable(onOutput)) {
                    streams[s].finish(onOutput);
                }
            }
        }
        if (ready > 0 && pidSlot >= 0 && (fds[pidSlot].revents & POLLIN) != 0) {
            guard.reap(status);
            // The child's own descriptors are closed by now; what still holds a pipe open is a
            // descendant, whose output is taken only for a short while.
            drainUntil = Clock::now() + std::chrono::milliseconds(finalDrainMilliseconds);
        }
        if (drainUntil && Clock::now() >= *drainUntil) {
            for (CapturedStream& stream : streams) {
                if (stream.fd) {
                    stream.readAvailable(onOutput);
                    stream.finish(onOutput);
                }
            }
            break;
        }
    }

    if (stopToken.stop_requested()) {
        throw VornTaskCancelled();
    }
    if (cancellation && cancellation->isCancelled()) {
        throw VornProcessError::cancelled();
    }
    VornProcessResult result;
    result.exitCode = exitCodeOf(status);
    result.stdout = std::move(streams[0].bytes);
    result.stderr = std::move(streams[1].bytes);
    return result;
}
