#include "VornProcessRunner.h"

#include "VornProcessError.h"
#include "VornTaskCancelled.h"
#include "VornUnicode.h"
#include "VornUniqueFd.h"

#include "VornChildProcess.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <system_error>
#include <utility>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = detail::VornChildClock;

namespace {

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
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

}  // namespace

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

    const detail::VornChildCommand command(executable, arguments, workingDirectory, environment);
    const std::string& program = command.program();
    auto [outRead, outWrite] = detail::makeChildPipe(true);
    auto [errRead, errWrite] = detail::makeChildPipe(true);

    auto child = std::make_shared<detail::VornChildProcess>();
    if (cancellation) {
        cancellation->attach(child);
    }
    std::stop_callback onStop(stopToken, [&child] { child->terminate(); });

    detail::VornChildHandle guard(command, -1, outWrite.get(), errWrite.get(), child);
    outWrite.reset();
    errWrite.reset();
    const int watchedPidfd = guard.pidfd();

    CapturedStream streams[2];
    streams[0].fd = std::move(outRead);
    streams[0].keepFull = captureFullStdout;
    streams[1].fd = std::move(errRead);

    std::int32_t exitCode = 0;
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
        const int ready = ::poll(fds.data(), count, detail::watchTimeout(drainUntil, killAt));
        if (ready < 0 && errno != EINTR) {
            throwErrno(errno, "cannot wait for the process " + program);
        }

        if (ready > 0 && (fds[wakeSlot].revents & POLLIN) != 0) {
            child->acknowledgeWake();
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
            exitCode = guard.reap();
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
    result.exitCode = exitCode;
    result.stdout = std::move(streams[0].bytes);
    result.stderr = std::move(streams[1].bytes);
    return result;
}
