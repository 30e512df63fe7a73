#include "VornChildProcess.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
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

// Children are forked from one thread that lives as long as the process, and each child asks the
// kernel for SIGKILL when its parent goes (PR_SET_PDEATHSIG). The kernel takes the parent to be
// the thread that forked, not the process: a child forked by whichever worker thread ran the
// command would be killed when that worker ends, in the middle of a live transfer. The spawning
// thread ends only with the process, so the children go with the process however it ends, even
// killed with SIGKILL, which leaves no code of ours to end them. (A process group or a cgroup would
// need such code, or a watcher process, to be ended at exit.)
class ChildSpawner {
public:
    // The spawner of this process. A process forked without a new program has none of its
    // parent's threads, so it gets its own.
    static ChildSpawner& current() {
        static std::mutex creation;
        // Never destroyed: the thread still waits on it while static objects are torn down at exit.
        static ChildSpawner* spawner = nullptr;
        std::lock_guard guard(creation);
        if (spawner == nullptr || spawner->owner_ != ::getpid()) {
            spawner = new ChildSpawner();
        }
        return *spawner;
    }

    // Runs `work` on the spawning thread and waits for it; its exception passes on.
    void run(const std::function<void()>& work) {
        Request request{work, false, nullptr};
        std::unique_lock guard(lock_);
        queue_.push_back(&request);
        changed_.notify_all();
        changed_.wait(guard, [&] { return request.done; });
        if (request.error) {
            std::rethrow_exception(request.error);
        }
    }

private:
    struct Request {
        const std::function<void()>& work;
        bool done;
        std::exception_ptr error;
    };

    ChildSpawner() : owner_(::getpid()) { std::thread([this] { serve(); }).detach(); }

    [[noreturn]] void serve() {
        // Signals meant for the process are taken by the other threads, never by this one.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        std::unique_lock guard(lock_);
        for (;;) {
            changed_.wait(guard, [&] { return !queue_.empty(); });
            Request* request = queue_.front();
            queue_.pop_front();
            guard.unlock();
            try {
                request->work();
            } catch (...) {
                request->error = std::current_exception();
            }
            guard.lock();
            request->done = true;
            changed_.notify_all();
        }
    }

    const pid_t owner_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Request*> queue_;
};

// Everything the forked child needs, laid out before the fork: between fork and exec the child
// may only make system calls (another thread may have held the allocator's lock at the fork).
struct ChildSetup {
    const char* program;
    char* const* argv;
    char* const* envp;
    const char* workingDirectory;
    int inputFd;
    int outputFd;
    int errorFd;
    int reportFd;  // the writing end of a close-on-exec pipe: an errno on failure, nothing on exec
    pid_t parent;
};

[[noreturn]] void failChild(const ChildSetup& setup, int error) {
    ::syscall(SYS_write, setup.reportFd, &error, sizeof error);
    // Straight to the kernel: the library's _exit may run checks of this process's memory first.
    ::syscall(SYS_exit_group, 127);
    __builtin_unreachable();
}

[[noreturn]] void becomeChild(const ChildSetup& setup) {
    // Asked before anything else; a parent that ended before the request leaves another one behind.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        failChild(setup, errno);
    }
    if (::getppid() != setup.parent) {
        failChild(setup, ESRCH);
    }
    int input = setup.inputFd;
    if (input < 0) {
        input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (input < 0) {
            failChild(setup, errno);
        }
    }
    // The pipes all lie above the standard descriptors, so no dup2 here overwrites a later source.
    if (::dup2(input, STDIN_FILENO) < 0 || ::dup2(setup.outputFd, STDOUT_FILENO) < 0 ||
        ::dup2(setup.errorFd, STDERR_FILENO) < 0) {
        failChild(setup, errno);
    }
    if (setup.workingDirectory != nullptr && ::chdir(setup.workingDirectory) != 0) {
        failChild(setup, errno);
    }
    // Nothing blocked and every signal at its default, whatever this process has ignored
    // (SIGPIPE, typically) or the spawning thread blocks. Signals that cannot be changed stay.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &byDefault, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(setup.program, setup.argv, setup.envp);
    failChild(setup, errno);
}

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

    auto [reportRead, reportWrite] = makeChildPipe(true);
    const ChildSetup setup{command.program().c_str(),
                           argvPointers.data(),
                           command.hasEnvironment_ ? envpPointers.data() : environ,
                           command.workingDirectory_ ? command.workingDirectory_->c_str() : nullptr,
                           inputFd,
                           outputFd,
                           errorFd,
                           reportWrite.get(),
                           ::getpid()};
    const std::string& program = command.program();
    int forkError = 0;
    ChildSpawner::current().run([&] {
        pid_ = ::fork();
        if (pid_ == 0) {
            becomeChild(setup);
        }
        if (pid_ < 0) {
            forkError = errno;
        }
    });
    if (pid_ < 0) {
        throwErrno(forkError, "cannot start " + program);
    }
    reportWrite.reset();
    // The report pipe ends at the exec (close-on-exec) or carries why the child could not get there.
    int startError = 0;
    std::size_t received = 0;
    while (received < sizeof startError) {
        pollfd readable{reportRead.get(), POLLIN, 0};
        if (::poll(&readable, 1, -1) < 0 && errno != EINTR) {
            break;
        }
        const ssize_t count =
            ::read(reportRead.get(), reinterpret_cast<char*>(&startError) + received, sizeof startError - received);
        if (count > 0) {
            received += static_cast<std::size_t>(count);
        } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
    if (received == sizeof startError) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        throwErrno(startError, "cannot start " + program);
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
