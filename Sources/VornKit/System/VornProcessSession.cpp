#include "VornProcessSession.h"

#include "VornChildProcess.h"
#include "VornProcessRunner.h"
#include "VornTaskCancelled.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <exception>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = detail::VornChildClock;

namespace {

// Writes what the pipe takes now. A child that has closed its end gives EPIPE here, never a
// SIGPIPE that would end this process: the signal is held back in this thread and, if the write
// raised it, taken off again.
ssize_t writeWithoutSigpipe(int fd, std::string_view bytes) {
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    const bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    ssize_t written = 0;
    do {
        written = ::write(fd, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    const int writeError = errno;
    if (written < 0 && writeError == EPIPE && !wasPending) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = writeError;
    return written;
}

// Reads what is there now into `into`; false at the end of the stream (or a broken one).
bool readAvailable(int fd, std::string& into, std::size_t keepTail) {
    std::array<char, 65536> chunk;
    for (;;) {
        const ssize_t count = ::read(fd, chunk.data(), chunk.size());
        if (count > 0) {
            into.append(chunk.data(), static_cast<std::size_t>(count));
            if (keepTail > 0 && into.size() > keepTail) {
                into.erase(0, into.size() - keepTail);
            }
            return true;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

bool pollReadable(int fd, int timeoutMilliseconds) {
    pollfd watched{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&watched, 1, timeoutMilliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

VornProcessSession::VornProcessSession(const fs::path& executable, const std::vector<std::string>& arguments,
                                       const std::optional<std::map<std::string, std::string>>& environment)
    : child_(std::make_shared<detail::VornChildProcess>()) {
    const detail::VornChildCommand command(executable, arguments, std::nullopt, environment);
    auto [inRead, inWrite] = detail::makeChildPipe(false);
    auto [outRead, outWrite] = detail::makeChildPipe(true);
    auto [errRead, errWrite] = detail::makeChildPipe(true);
    handle_ = std::make_unique<detail::VornChildHandle>(command, inRead.get(), outWrite.get(), errWrite.get(), child_);
    input_ = std::move(inWrite);
    outputPipe_ = std::move(outRead);
    errorPipe_ = std::move(errRead);
}

VornProcessSession::~VornProcessSession() {
    if (handle_->reaped()) {
        return;
    }
    // Nobody reads any more: a child still writing gets a broken pipe rather than block forever.
    outputPipe_.reset();
    errorPipe_.reset();
    input_.reset();
    waitForEnd(closeGraceMilliseconds);
}

void VornProcessSession::waitForEnd(int graceMilliseconds) {
    if (!pollReadable(handle_->pidfd(), graceMilliseconds)) {
        child_->terminate();
        if (!pollReadable(handle_->pidfd(), VornProcessRunner::terminationGraceMilliseconds)) {
            child_->kill();
        }
    }
    exitCode_ = handle_->reap();
}

pid_t VornProcessSession::processId() const { return handle_->pid(); }

bool VornProcessSession::hasEnded() {
    if (!handle_->reaped() && pollReadable(handle_->pidfd(), 0)) {
        exitCode_ = handle_->reap();
    }
    return handle_->reaped();
}

std::optional<std::size_t> VornProcessSession::endLineAt(std::string_view endLine, std::size_t& lineEnd) {
    std::size_t lineStart = scannedUpTo_;
    for (;;) {
        const std::size_t newline = output_.find('\n', lineStart);
        if (newline == std::string::npos) {
            scannedUpTo_ = lineStart;
            return std::nullopt;
        }
        if (std::string_view(output_).substr(lineStart, newline - lineStart) == endLine) {
            lineEnd = newline + 1;
            return lineStart;
        }
        lineStart = newline + 1;
    }
}

VornProcessSession::Reply VornProcessSession::exchange(std::string_view request, std::string_view endLine,
                                                       std::stop_token stop,
                                                       std::optional<std::chrono::milliseconds> timeLimit,
                                                       const std::function<void()>& whileWaiting) {
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    Reply reply;
    if (handle_->reaped()) {
        reply.ended = true;
        reply.exitCode = exitCode_;
        reply.output = std::exchange(output_, {});
        scannedUpTo_ = 0;
        return reply;
    }
    std::stop_callback onStop(stop, [this] { child_->terminate(); });

    std::size_t written = 0;
    std::optional<Clock::time_point> killAt;
    std::optional<Clock::time_point> drainUntil;
    std::optional<Clock::time_point> giveUpAt;
    if (timeLimit) {
        giveUpAt = Clock::now() + *timeLimit;
    }
    const auto waitingPeriod = std::chrono::milliseconds(whileWaitingMilliseconds);
    std::optional<Clock::time_point> nextWaitingCall;
    if (whileWaiting) {
        nextWaitingCall = Clock::now() + waitingPeriod;
    }
    std::exception_ptr waitingFailure;
    for (;;) {
        std::size_t lineEnd = 0;
        if (written == request.size()) {
            if (const std::optional<std::size_t> lineStart = endLineAt(endLine, lineEnd)) {
                reply.output = output_.substr(0, *lineStart);
                output_.erase(0, lineEnd);
                scannedUpTo_ = 0;
                // The two pipes are not ordered: what the child wrote to standard error before its
                // ending line may still wait unread, and belongs to this reply, not the next.
                if (errorPipe_ && pollReadable(errorPipe_.get(), 0) &&
                    !readAvailable(errorPipe_.get(), reply.errors, VornProcessRunner::tailLimit)) {
                    errorPipe_.reset();
                }
                return reply;
            }
        }
        if (drainUntil && !outputPipe_ && !errorPipe_) {
            break;
        }

        std::array<pollfd, 5> fds{};
        nfds_t count = 0;
        const auto watch = [&fds, &count](int fd, short events) {
            if (fd < 0) {
                return -1;
            }
            fds[count] = {fd, events, 0};
            return static_cast<int>(count++);
        };
        const int inputSlot = watch(written < request.size() && input_ ? input_.get() : -1, POLLOUT);
        const int outputSlot = watch(outputPipe_ ? outputPipe_.get() : -1, POLLIN);
        const int errorSlot = watch(errorPipe_ ? errorPipe_.get() : -1, POLLIN);
        const int pidSlot = watch(handle_->reaped() ? -1 : handle_->pidfd(), POLLIN);
        const int wakeSlot = watch(child_->wakeFd(), POLLIN);
        int timeout = detail::watchTimeout(drainUntil, killAt ? killAt : giveUpAt);
        if (nextWaitingCall) {
            const int untilCall = detail::watchTimeout(std::nullopt, nextWaitingCall);
            timeout = timeout < 0 ? untilCall : std::min(timeout, untilCall);
        }
        const int ready = ::poll(fds.data(), count, timeout);
        if (ready < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "cannot wait for a session's process");
        }
        const auto fired = [&fds, ready](int slot) { return ready > 0 && slot >= 0 && fds[slot].revents != 0; };

        if (fired(wakeSlot)) {
            child_->acknowledgeWake();
            if (!killAt) {
                killAt = Clock::now() + std::chrono::milliseconds(VornProcessRunner::terminationGraceMilliseconds);
            }
        }
        if (giveUpAt && Clock::now() >= *giveUpAt) {
            giveUpAt.reset();
            reply.timedOut = true;
            child_->terminate();
        }
        if (killAt && !handle_->reaped() && Clock::now() >= *killAt) {
            child_->kill();
        }
        if (nextWaitingCall && Clock::now() >= *nextWaitingCall) {
            nextWaitingCall = Clock::now() + waitingPeriod;
            try {
                whileWaiting();
            } catch (...) {
                // Like a cancellation: the child goes, then the caller hears why.
                waitingFailure = std::current_exception();
                nextWaitingCall.reset();
                child_->terminate();
            }
        }
        if (fired(inputSlot)) {
            const ssize_t count = writeWithoutSigpipe(input_.get(), request.substr(written));
            if (count >= 0) {
                written += static_cast<std::size_t>(count);
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // The child stopped reading: what it has answered, and its end, tell the rest.
                input_.reset();
                written = request.size();
            }
        }
        if (fired(outputSlot) && !readAvailable(outputPipe_.get(), output_, 0)) {
            outputPipe_.reset();
        }
        if (fired(errorSlot) && !readAvailable(errorPipe_.get(), reply.errors, VornProcessRunner::tailLimit)) {
            errorPipe_.reset();
        }
        if (fired(pidSlot)) {
            exitCode_ = handle_->reap();
            // What still holds a pipe open now is a descendant, whose output is taken only briefly.
            drainUntil = Clock::now() + std::chrono::milliseconds(VornProcessRunner::finalDrainMilliseconds);
        }
        if (drainUntil && Clock::now() >= *drainUntil) {
            if (outputPipe_) {
                readAvailable(outputPipe_.get(), output_, 0);
            }
            if (errorPipe_) {
                readAvailable(errorPipe_.get(), reply.errors, VornProcessRunner::tailLimit);
            }
            break;
        }
    }

    outputPipe_.reset();
    errorPipe_.reset();
    input_.reset();
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    if (waitingFailure) {
        std::rethrow_exception(waitingFailure);
    }
    // A reply may have been complete in the last read after all.
    std::size_t lineEnd = 0;
    if (const std::optional<std::size_t> lineStart = endLineAt(endLine, lineEnd)) {
        reply.output = output_.substr(0, *lineStart);
        output_.erase(0, lineEnd);
    } else {
        reply.output = std::exchange(output_, {});
        reply.ended = true;
    }
    scannedUpTo_ = 0;
    reply.exitCode = exitCode_;
    return reply;
}
