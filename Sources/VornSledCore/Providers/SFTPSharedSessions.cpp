#include "SFTPSharedSessions.h"

#include "VornBinaryLocator.h"
#include "VornProcessSession.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUUID.h"
#include "VornUniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace SFTPSharedSessions {

namespace {

// The ask-pass program ssh runs for the password: it prints the variable the child was given, so
// the script itself never holds the secret.
constexpr std::string_view askPassScriptText = "#!/bin/sh\nprintf '%s\\n' \"$VORNSLED_SSH_PWD\"\n";

std::string replaceAll(std::string_view text, std::string_view what, std::string_view with) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, from)) {
        out.append(text.substr(from, at - from)).append(with);
        from = at + what.size();
    }
    return out.append(text.substr(from));
}

// The extra environment of an invocation as the runner takes it: none when there is nothing to add.
std::optional<std::map<std::string, std::string>> environmentOf(SFTPStorageProvider::Invocation&& invocation) {
    if (invocation.environment.empty()) {
        return std::nullopt;
    }
    return std::move(invocation.environment);
}

// ---- sessions ----------------------------------------------------------------------------------

// One long-lived child. Every request ends with a line that makes the child print `endLine`
// once the lines before it are done: a comment for sftp (which echoes each line it reads, before
// running it, and stops at the first failing one), a printf for the shell. The line holds a
// random name, so no file name or output can pass for it.
struct PooledSession {
    std::unique_ptr<VornProcessSession> process;
    SessionKind kind = SessionKind::sftp;
    std::string endLine;
    std::string endRequest;
    Clock::time_point idleSince;

    PooledSession(std::unique_ptr<VornProcessSession> child, SessionKind sessionKind)
        : process(std::move(child)), kind(sessionKind) {
        const std::string marker = "vornsled-" + VornUUID::random().uuidString();
        if (kind == SessionKind::sftp) {
            endLine = "sftp> # " + marker;
            endRequest = "# " + marker + "\n";
        } else {
            // After a line feed of its own, so that output without a final one still ends a line.
            endLine = marker;
            endRequest = "printf '\\n%s\\n' '" + marker + "'\n";
        }
    }

    Reply exchange(std::string_view request, std::stop_token stop) {
        const VornProcessSession::Reply answer = process->exchange(std::string(request) + endRequest, endLine, stop);
        Reply reply{answer.output, answer.errors, answer.ended, answer.exitCode};
        if (kind == SessionKind::shell && !reply.ended && !reply.output.empty() && reply.output.back() == '\n') {
            reply.output.pop_back();  // the printf's own line feed
        }
        return reply;
    }
};

Reply replyOf(VornProcessResult&& result) {
    return Reply{std::move(result.stdout), std::move(result.stderr), true, result.exitCode};
}

// ---- shared connections ------------------------------------------------------------------------

// The in-process side of one shared connection: who is opening it, its sessions.
struct SharedConnection {
    std::mutex lock;
    std::condition_variable_any changed;
    bool opening = false;
    std::uint64_t openAttempts = 0;
    // What ssh said when the last attempt failed; operations that waited for it get the same answer
    // instead of each trying (and timing out) in turn.
    std::optional<VornProcessResult> lastFailure;
    // Sessions open on the connection: operations' own processes and pooled sessions, idle or lent.
    int sessions = 0;
    std::vector<std::unique_ptr<PooledSession>> idle;  // oldest first
};

struct SharedConnectionRegistry {
    std::mutex lock;
    std::map<fs::path, std::unique_ptr<SharedConnection>> byPath;
};

// Never destroyed: a worker thread may still finish an operation while the process exits.
SharedConnectionRegistry& sharedConnectionRegistry() {
    static SharedConnectionRegistry* registry = new SharedConnectionRegistry;
    return *registry;
}

SharedConnection& sharedConnection(const fs::path& socket) {
    SharedConnectionRegistry& registry = sharedConnectionRegistry();
    std::lock_guard guard(registry.lock);
    std::unique_ptr<SharedConnection>& entry = registry.byPath[socket];
    if (!entry) {
        entry = std::make_unique<SharedConnection>();
    }
    return *entry;
}

enum class SocketState { answers, stale, absent };

SocketState controlSocketState(const fs::path& socket) {
    const VornUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return SocketState::absent;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& path = socket.native();
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    int result = 0;
    do {
        result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        return SocketState::answers;
    }
    return errno == ECONNREFUSED ? SocketState::stale : SocketState::absent;
}

// One of the connection's sessions, held for as long as the object lives unless handed over to
// a pooled session. When every one is taken and some are idle, the longest idle is closed for it.
class SessionSlot {
public:
    SessionSlot(SharedConnection& connection, std::stop_token stop) : connection_(connection) {
        std::unique_ptr<PooledSession> evicted;
        {
            std::unique_lock guard(connection_.lock);
            if (!connection_.changed.wait(guard, stop, [this] {
                    return connection_.sessions < SFTPStorageProvider::maximumSharedSessions ||
                           !connection_.idle.empty();
                })) {
                throw VornTaskCancelled();
            }
            if (connection_.sessions < SFTPStorageProvider::maximumSharedSessions) {
                ++connection_.sessions;
            } else {
                evicted = std::move(connection_.idle.front());
                connection_.idle.erase(connection_.idle.begin());
            }
        }
        held_ = true;
        // Its slot is ours now; the session ends outside the lock.
        evicted.reset();
    }
    ~SessionSlot() {
        if (held_) {
            {
                std::lock_guard guard(connection_.lock);
                --connection_.sessions;
            }
            connection_.changed.notify_all();
        }
    }
    SessionSlot(const SessionSlot&) = delete;
    SessionSlot& operator=(const SessionSlot&) = delete;

    // The slot now belongs to a pooled session and ends with it.
    void handOver() { held_ = false; }

private:
    SharedConnection& connection_;
    bool held_ = false;
};

// Makes sure the shared connection is open before an operation starts: one caller at a time
// opens it (the others wait), so several workers starting together make one connection, not one
// each. A stale socket (its connection died) is replaced. Returns ssh's result when the
// connection cannot be made: the operation would fail the same way.
std::optional<VornProcessResult> openSharedConnection(const SFTPStorageProvider& provider, SharedConnection& connection,
                                                      const fs::path& socket,
                                                      const std::optional<fs::path>& askPassScript,
                                                      std::stop_token stop) {
    std::unique_lock guard(connection.lock);
    const std::uint64_t attemptsBefore = connection.openAttempts;
    const bool someoneWasOpening = connection.opening;
    if (!connection.changed.wait(guard, stop, [&connection] { return !connection.opening; })) {
        throw VornTaskCancelled();
    }
    if (someoneWasOpening && connection.openAttempts != attemptsBefore && connection.lastFailure) {
        return connection.lastFailure;
    }
    const SocketState state = controlSocketState(socket);
    if (state == SocketState::answers) {
        return std::nullopt;
    }
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh) {
        return std::nullopt;  // sftp needs ssh too and tells so itself
    }
    connection.opening = true;
    guard.unlock();

    std::optional<VornProcessResult> failure;
    const auto finish = [&](bool recordFailure) {
        guard.lock();
        connection.opening = false;
        ++connection.openAttempts;
        connection.lastFailure = recordFailure ? failure : std::nullopt;
        guard.unlock();
        connection.changed.notify_all();
    };
    try {
        if (state == SocketState::stale) {
            ::unlink(socket.c_str());
        }
        // ssh authenticates, puts the connection in the background and, as its first client,
        // opens and ends an sftp session: the subsystem every server here offers, whereas a
        // shell or command may be refused.
        SFTPStorageProvider::Invocation invocation =
            provider.sshInvocation(false, {"-s", provider.targetHostString(), "sftp"}, askPassScript);
        VornProcessResult result =
            VornProcessRunner::run(*ssh, invocation.arguments, std::nullopt, environmentOf(std::move(invocation)), false,
                                   nullptr, {}, stop);
        if (result.exitCode != 0) {
            failure = std::move(result);
        }
    } catch (...) {
        finish(false);
        throw;
    }
    finish(true);
    return failure;
}

// The ask-pass script a password login needs while a connection or session is being made.
VornTemporaryFile askPassFor(const SFTPStorageProvider& provider) {
    if (provider.profile.sftpAuthMethod == SFTPAuthMethod::password && provider.password && !provider.password->empty()) {
        // Executable by its owner only, from the first moment.
        return VornTemporaryFile::create("vornsled-askpass-", ".sh", askPassScriptText, 0700);
    }
    return {};
}

std::optional<fs::path> pathOf(const VornTemporaryFile& file) {
    return file.path().empty() ? std::nullopt : std::optional<fs::path>(file.path());
}

// Starts a session and waits for its first answer, which tells that the login went through.
// Returns the session, or how starting it failed.
std::pair<std::unique_ptr<PooledSession>, Reply> startSession(const SFTPStorageProvider& provider, SessionKind kind,
                                                              const fs::path& executable,
                                                              const std::optional<fs::path>& askPassScript,
                                                              std::stop_token stop) {
    const bool isSFTP = kind == SessionKind::sftp;
    const std::string target = provider.targetHostString();
    SFTPStorageProvider::Invocation invocation = provider.sshInvocation(
        isSFTP, isSFTP ? std::vector<std::string>{"-b", "-", target} : std::vector<std::string>{target, "sh"},
        askPassScript);
    auto session = std::make_unique<PooledSession>(
        std::make_unique<VornProcessSession>(executable, invocation.arguments, environmentOf(std::move(invocation))),
        kind);
    Reply first = session->exchange("", stop);
    if (first.ended) {
        return {nullptr, std::move(first)};
    }
    return {std::move(session), Reply{}};
}

// Takes the connection's most recently used idle session of `kind`, dropping dead ones on the way.
std::unique_ptr<PooledSession> takeIdle(SharedConnection& connection, SessionKind kind) {
    std::vector<std::unique_ptr<PooledSession>> dead;
    std::unique_ptr<PooledSession> found;
    {
        std::lock_guard guard(connection.lock);
        for (auto at = connection.idle.end(); at != connection.idle.begin() && !found;) {
            --at;
            if ((*at)->kind != kind) {
                continue;
            }
            std::unique_ptr<PooledSession> candidate = std::move(*at);
            at = connection.idle.erase(at);
            if (candidate->process->hasEnded()) {
                --connection.sessions;
                dead.push_back(std::move(candidate));
            } else {
                found = std::move(candidate);
            }
        }
    }
    if (!dead.empty()) {
        connection.changed.notify_all();
    }
    return found;
}

// Closes the connection's idle sessions.
void dropIdle(SharedConnection& connection) {
    std::vector<std::unique_ptr<PooledSession>> dropped;
    {
        std::lock_guard guard(connection.lock);
        connection.sessions -= static_cast<int>(connection.idle.size());
        dropped = std::move(connection.idle);
        connection.idle.clear();
    }
    connection.changed.notify_all();
}

// ---- closing idle sessions ---------------------------------------------------------------------

// Takes every idle session that `expired` picks off its connection; the earliest time another
// one is due goes to `next`.
template <typename Expired>
std::vector<std::unique_ptr<PooledSession>> takeIdleSessions(Expired expired,
                                                             std::optional<Clock::time_point>* next = nullptr) {
    std::vector<std::unique_ptr<PooledSession>> taken;
    SharedConnectionRegistry& registry = sharedConnectionRegistry();
    std::lock_guard registryGuard(registry.lock);
    for (auto& [socket, connection] : registry.byPath) {
        bool changed = false;
        {
            std::lock_guard guard(connection->lock);
            for (auto at = connection->idle.begin(); at != connection->idle.end();) {
                if (expired(**at)) {
                    taken.push_back(std::move(*at));
                    at = connection->idle.erase(at);
                    --connection->sessions;
                    changed = true;
                    continue;
                }
                const Clock::time_point due = (*at)->idleSince + std::chrono::seconds(idleSessionSeconds);
                if (next != nullptr && (!*next || due < **next)) {
                    *next = due;
                }
                ++at;
            }
        }
        if (changed) {
            connection->changed.notify_all();
        }
    }
    return taken;
}

// One thread closes idle sessions when their time is up; it runs only while there are some.
struct IdleReaper {
    std::mutex lock;
    std::condition_variable changed;
    bool running = false;
};

IdleReaper& idleReaper() {
    static IdleReaper* reaper = new IdleReaper;
    return *reaper;
}

void reapIdleSessions() {
    IdleReaper& reaper = idleReaper();
    std::unique_lock guard(reaper.lock);
    for (;;) {
        std::optional<Clock::time_point> next;
        const Clock::time_point now = Clock::now();
        std::vector<std::unique_ptr<PooledSession>> expired = takeIdleSessions(
            [now](const PooledSession& session) {
                return session.idleSince + std::chrono::seconds(idleSessionSeconds) <= now;
            },
            &next);
        if (!expired.empty()) {
            guard.unlock();
            expired.clear();
            guard.lock();
            continue;
        }
        if (!next) {
            reaper.running = false;
            return;
        }
        reaper.changed.wait_until(guard, *next);
    }
}

void wakeIdleReaper() {
    IdleReaper& reaper = idleReaper();
    std::lock_guard guard(reaper.lock);
    if (!reaper.running) {
        reaper.running = true;
        std::thread(reapIdleSessions).detach();
    }
}

// A pooled session lent to one request: back to the idle ones when the request is done, closed
// (and its slot freed) when it has ended.
class LentSession {
public:
    LentSession(SharedConnection& connection, std::unique_ptr<PooledSession> session)
        : connection_(connection), session_(std::move(session)) {}
    ~LentSession() {
        if (session_->process->hasEnded()) {
            {
                std::lock_guard guard(connection_.lock);
                --connection_.sessions;
            }
            connection_.changed.notify_all();
            return;
        }
        session_->idleSince = Clock::now();
        {
            std::lock_guard guard(connection_.lock);
            connection_.idle.push_back(std::move(session_));
        }
        connection_.changed.notify_all();
        wakeIdleReaper();
    }
    LentSession(const LentSession&) = delete;
    LentSession& operator=(const LentSession&) = delete;

    PooledSession& operator*() { return *session_; }
    PooledSession* operator->() { return session_.get(); }

private:
    SharedConnection& connection_;
    std::unique_ptr<PooledSession> session_;
};

Reply exchangeNoting(PooledSession& session, std::string_view request, std::stop_token stop,
                     std::string* outputSoFar) {
    try {
        return session.exchange(request, stop);
    } catch (const VornTaskCancelled&) {
        if (outputSoFar != nullptr) {
            *outputSoFar = session.process->unreadOutput();
        }
        throw;
    }
}

}  // namespace

Reply run(const SFTPStorageProvider& provider, SessionKind kind, const fs::path& executable,
          std::string_view request, std::stop_token stop, std::string* outputSoFar) {
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    const std::optional<fs::path> socket = provider.sharedConnectionPath();
    if (!socket) {
        // No connection to share: a session of the request's own.
        const VornTemporaryFile askPass = askPassFor(provider);
        auto [session, failure] = startSession(provider, kind, executable, pathOf(askPass), stop);
        return session ? exchangeNoting(*session, request, stop, outputSoFar) : failure;
    }
    SharedConnection& connection = sharedConnection(*socket);
    for (int attempt = 0;; ++attempt) {
        // Sessions outlive their connection only by moments: once it is gone, none is worth trying.
        if (controlSocketState(*socket) != SocketState::answers) {
            dropIdle(connection);
        }
        std::unique_ptr<PooledSession> session = takeIdle(connection, kind);
        const bool reused = session != nullptr;
        if (!session) {
            // Refuse a bad profile before anything is written.
            (void)provider.sshInvocation(kind == SessionKind::sftp, {}, std::nullopt);
            const VornTemporaryFile askPass = askPassFor(provider);
            if (std::optional<VornProcessResult> failure =
                    openSharedConnection(provider, connection, *socket, pathOf(askPass), stop)) {
                return replyOf(std::move(*failure));
            }
            SessionSlot slot(connection, stop);
            auto [started, startFailure] = startSession(provider, kind, executable, pathOf(askPass), stop);
            if (!started) {
                return startFailure;
            }
            slot.handOver();
            session = std::move(started);
        }
        LentSession lent(connection, std::move(session));
        Reply reply = exchangeNoting(*lent, request, stop, outputSoFar);
        // A session that died while idle (its connection dropped, say) took none of the request:
        // not even the echo of its first line came. Another one gets it.
        if (reply.ended && reused && reply.output.empty() && attempt == 0) {
            continue;
        }
        return reply;
    }
}

VornProcessResult runOnce(const SFTPStorageProvider& provider, const fs::path& executable,
                          const std::vector<std::string>& extraArgs, bool isSFTP, std::stop_token stop) {
    // Refuse a bad profile before anything is written.
    (void)provider.sshInvocation(isSFTP, extraArgs, std::nullopt);
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    const VornTemporaryFile askPass = askPassFor(provider);
    std::optional<SessionSlot> slot;
    if (const std::optional<fs::path> socket = provider.sharedConnectionPath()) {
        SharedConnection& connection = sharedConnection(*socket);
        if (std::optional<VornProcessResult> failure =
                openSharedConnection(provider, connection, *socket, pathOf(askPass), stop)) {
            return std::move(*failure);
        }
        slot.emplace(connection, stop);
    }
    SFTPStorageProvider::Invocation invocation = provider.sshInvocation(isSFTP, extraArgs, pathOf(askPass));
    return VornProcessRunner::run(executable, invocation.arguments, std::nullopt, environmentOf(std::move(invocation)),
                                  true, nullptr, {}, stop);
}

void closeIdleSessions() {
    takeIdleSessions([](const PooledSession&) { return true; }).clear();
}

void closeAll() {
    closeIdleSessions();
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh) {
        return;
    }
    std::vector<fs::path> sockets;
    {
        SharedConnectionRegistry& registry = sharedConnectionRegistry();
        std::lock_guard guard(registry.lock);
        for (const auto& [socket, connection] : registry.byPath) {
            sockets.push_back(socket);
        }
    }
    for (const fs::path& socket : sockets) {
        if (controlSocketState(socket) != SocketState::answers) {
            continue;
        }
        try {
            // The host is a placeholder: a control command goes to the socket, never to a server.
            VornProcessRunner::run(*ssh, {"-F", "/dev/null", "-o", "ControlPath=" + sshOptionPath(socket), "-O", "exit",
                                          "vornsled-shared-connection"});
        } catch (const std::exception&) {
            // It ends by itself once idle.
        }
    }
}

std::string sshOptionPath(const fs::path& path) {
    // ssh splits option values at white space and expands "%" tokens.
    const std::string quoted = replaceAll(replaceAll(path.string(), "\\", "\\\\"), "\"", "\\\"");
    return "\"" + replaceAll(quoted, "%", "%%") + "\"";
}

std::size_t maximumControlPathBytes() {
    // The longest path a unix socket address holds (without its NUL), less what ssh appends while
    // it sets a new control socket up (".", then 16 random characters).
    return sizeof(sockaddr_un::sun_path) - 1 - 17;
}

}  // namespace SFTPSharedSessions
