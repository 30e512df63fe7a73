#include "VornChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace detail {

namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

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

}  // namespace

std::pair<VornUniqueFd, VornUniqueFd> makeChildPipe(bool parentReads) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throwErrno(errno, "cannot create a pipe");
    }
    VornUniqueFd pair[2] = {VornUniqueFd(ends[0]), VornUniqueFd(ends[1])};
    // Above the standard descriptors, so that setting up the child's 0, 1 and 2 can never
    // overwrite one of them (a parent started with a standard descriptor closed would otherwise
    // get one back from pipe2).
    for (VornUniqueFd& end : pair) {
        if (end.get() <= STDERR_FILENO) {
            const int moved = ::fcntl(end.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            if (moved < 0) {
                throwErrno(errno, "cannot create a pipe");
            }
            end.reset(moved);
        }
    }
    // Only our end is non-blocking; the child's must stay blocking for its reads and writes.
    VornUniqueFd& ours = pair[parentReads ? 0 : 1];
    const int flags = ::fcntl(ours.get(), F_GETFL);
    if (flags < 0 || ::fcntl(ours.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        throwErrno(errno, "cannot configure a pipe");
    }
    return {std::move(pair[0]), std::move(pair[1])};
}

// ---- VornChildProcess ------------------------------------------------------------------------

VornChildProcess::VornChildProcess() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wake_) {
        throwErrno(errno, "cannot create an event descriptor");
    }
}

void VornChildProcess::started(int pidfd) {
    std::lock_guard guard(lock_);
    pidfd_ = pidfd;
    if (terminationRequested_) {
        pidfdSendSignal(pidfd_, SIGTERM);
    }
}

void VornChildProcess::terminate() {
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

void VornChildProcess::acknowledgeWake() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(wake_.get(), &value, sizeof value);
}

void VornChildProcess::kill() {
    std::lock_guard guard(lock_);
    if (pidfd_ >= 0 && !reaped_) {
        pidfdSendSignal(pidfd_, SIGKILL);
    }
}

void VornChildProcess::willReap() {
    std::lock_guard guard(lock_);
    reaped_ = true;
}

// ---- VornChildCommand ------------------------------------------------------------------------

VornChildCommand::VornChildCommand(const fs::path& executable, const std::vector<std::string>& arguments,
                                   const std::optional<fs::path>& workingDirectory,
                                   const std::optional<std::map<std::string, std::string>>& environment)
    : workingDirectory_(workingDirectory) {
    // A relative executable is taken from our own folder, not from the child's working folder.
    argv_.push_back(fs::absolute(executable).string());
    requireNoNul(argv_.front(), "the executable path");
    for (const std::string& argument : arguments) {
        requireNoNul(argument, "an argument");
        argv_.push_back(argument);
    }
    if (environment) {
        envp_ = mergedEnvironment(*environment);
        hasEnvironment_ = true;
    }
    if (workingDirectory_) {
        requireNoNul(workingDirectory_->native(), "the working directory");
    }
}

// ---- VornChildHandle -------------------------------------------------------------------------

VornChildHandle::VornChildHandle(const VornChildCommand& command, int inputFd, int outputFd, int errorFd,
                                 std::shared_ptr<VornChildProcess> child)
    : child_(std::move(child)) {
    std::vector<std::string> argv = command.argv_;
    std::vector<std::string> envp = command.envp_;
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envpPointers = pointers(envp);

    SpawnSettings settings;
    if (inputFd < 0) {
        posix_spawn_file_actions_addopen(&settings.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&settings.actions, inputFd, STDIN_FILENO);
    }
    posix_spawn_file_actions_adddup2(&settings.actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&settings.actions, errorFd, STDERR_FILENO);
    if (command.workingDirectory_) {
        posix_spawn_file_actions_addchdir_np(&settings.actions, command.workingDirectory_->c_str());
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

    const std::string& program = command.program();
    const int spawnError = ::posix_spawn(&pid_, program.c_str(), &settings.actions, &settings.attributes,
                                         argvPointers.data(), command.hasEnvironment_ ? envpPointers.data() : environ);
    if (spawnError != 0) {
        throwErrno(spawnError, "cannot start " + program);
    }
    pidfd_.reset(pidfdOpen(pid_));
    if (!pidfd_) {
        const int error = errno;
        ::kill(pid_, SIGKILL);  // not reaped yet, so the id is still ours
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        throwErrno(error, "cannot watch the started process " + program);
    }
    child_->started(pidfd_.get());
}

VornChildHandle::~VornChildHandle() {
    if (!reaped_ && pid_ > 0) {
        child_->kill();
        reap();
    }
}

std::int32_t VornChildHandle::reap() {
    child_->willReap();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return exitCodeOf(status);
}

int watchTimeout(const std::optional<VornChildClock::time_point>& drainUntil,
                 const std::optional<VornChildClock::time_point>& killAt) {
    const std::optional<VornChildClock::time_point>& deadline = drainUntil ? drainUntil : killAt;
    if (!deadline) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - VornChildClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

}  // namespace detail
