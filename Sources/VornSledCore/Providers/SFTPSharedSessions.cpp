#include "SFTPSharedSessions.h"

#include "VornASCII.h"
#include "VornBinaryLocator.h"
#include "VornLocalizationStore.h"
#include "VornProcessSession.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUUID.h"
#include "VornUniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
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

// The extra environment of an invocation as the runner takes it: none when there is nothing to add.
std::optional<std::map<std::string, std::string>> environmentOf(SFTPLogin::Invocation&& invocation) {
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
    std::size_t lane = 0;  // which of the login's connections it runs on
    std::string endLine;
    std::string endRequest;
    Clock::time_point idleSince;

    PooledSession(std::unique_ptr<VornProcessSession> child, SessionKind sessionKind, std::size_t connection)
        : process(std::move(child)), kind(sessionKind), lane(connection) {
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

    // `answerSeconds`: how long the request may go without output or headway before it is given up.
    Reply exchange(std::string_view request, std::stop_token stop,
                   std::optional<std::chrono::milliseconds> timeLimit = std::nullopt,
                   const WhileWaiting& whileWaiting = {}, std::optional<int> answerSeconds = std::nullopt) {
        struct Silent {};
        std::function<void()> waiting;
        std::size_t outputSeen = 0;
        std::int64_t headway = 0;
        Clock::time_point lastSign = Clock::now();
        if (whileWaiting || answerSeconds) {
            waiting = [&, this] {
                const std::size_t output = process->unreadOutput().size();
                const std::int64_t done = whileWaiting ? whileWaiting(process->processId()) : 0;
                if (output != outputSeen || done != headway) {
                    outputSeen = output;
                    headway = done;
                    lastSign = Clock::now();
                } else if (answerSeconds && Clock::now() - lastSign >= std::chrono::seconds(*answerSeconds)) {
                    throw Silent{};
                }
            };
        }
        VornProcessSession::Reply answer;
        try {
            answer = process->exchange(std::string(request) + endRequest, endLine, stop, timeLimit, waiting);
        } catch (const Silent&) {
            // The session has been ended; what it said so far tells nothing more.
            Reply reply;
            reply.ended = true;
            reply.timedOut = true;
            reply.exitCode = 255;
            const std::string seconds = std::to_string(*answerSeconds);
            reply.errors = vornText("The server did not answer for " + seconds + " seconds.",
                                    "Sunucu " + seconds + " saniye boyunca yanıt vermedi.");
            return reply;
        }
        Reply reply{answer.output, answer.errors, answer.ended, answer.exitCode};
        if (answer.timedOut) {
            const std::string seconds = std::to_string(timeLimit->count() / 1000);
            reply.errors = vornText("The server did not answer within " + seconds + " seconds.",
                                    "Sunucu " + seconds + " saniye içinde yanıt vermedi.");
        }
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

// One SSH connection of a login: its control socket, who is opening it, how many sessions it carries.
struct Lane {
    fs::path socket;
    bool opening = false;
    std::uint64_t openAttempts = 0;
    // What ssh said when the last attempt failed; operations that waited for it get the same answer
    // instead of each trying (and timing out) in turn.
    std::optional<VornProcessResult> lastFailure;
    // Operations' own processes and pooled sessions, idle or lent.
    int sessions = 0;
};

// The connections of one target and login and the idle sessions on them, under one lock.
// Connections are opened as sessions need room, the first one first.
struct Login {
    std::mutex lock;
    std::condition_variable_any changed;
    std::vector<Lane> lanes;
    std::vector<std::unique_ptr<PooledSession>> idle;  // oldest first
    // A shell that would not start (an sftp-only account, startup files that wait for input) is
    // not tried again before then, and its failure is the answer meanwhile: digests are given up
    // at once instead of each file waiting for it.
    Clock::time_point shellRefusedUntil;
    Reply shellRefusal;

    explicit Login(const fs::path& firstSocket) {
        for (int lane = 0; lane < SFTPLogin::maximumSharedConnections; ++lane) {
            lanes.push_back(Lane{lane == 0 ? firstSocket : fs::path(firstSocket.native() + "-" + std::to_string(lane))});
        }
    }
};

struct LoginRegistry {
    std::mutex lock;
    std::map<fs::path, std::unique_ptr<Login>> byFirstSocket;
};

// Never destroyed: a worker thread may still finish an operation while the process exits.
LoginRegistry& loginRegistry() {
    static LoginRegistry* registry = new LoginRegistry;
    return *registry;
}

Login& loginFor(const fs::path& firstSocket) {
    LoginRegistry& registry = loginRegistry();
    std::lock_guard guard(registry.lock);
    std::unique_ptr<Login>& entry = registry.byFirstSocket[firstSocket];
    if (!entry) {
        entry = std::make_unique<Login>(firstSocket);
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

// The login's invocation, on the login's connection `lane` instead of its first one.
SFTPLogin::Invocation invocationOn(const SFTPLogin& sftpLogin, const Login& login, std::size_t lane,
                                             bool isSFTP, const std::vector<std::string>& extraArgs,
                                             const std::optional<fs::path>& askPassScript) {
    SFTPLogin::Invocation invocation = sftpLogin.sshInvocation(isSFTP, extraArgs, askPassScript);
    if (lane != 0) {
        const std::string first = "ControlPath=" + SFTPLogin::sshOptionPath(login.lanes[0].socket);
        std::replace(invocation.arguments.begin(), invocation.arguments.end(), first,
                     "ControlPath=" + SFTPLogin::sshOptionPath(login.lanes[lane].socket));
    }
    return invocation;
}

// A session's place on one of the login's connections, held for as long as the object lives
// unless handed over to a pooled session. The first connection with room gets it; when all are
// full and some session is idle, the longest idle one is closed for it; otherwise it waits.
class SessionSlot {
public:
    SessionSlot(Login& login, std::stop_token stop) : login_(login) {
        std::unique_ptr<PooledSession> evicted;
        {
            std::unique_lock guard(login_.lock);
            if (!login_.changed.wait(guard, stop, [this] { return laneWithRoom() || !login_.idle.empty(); })) {
                throw VornTaskCancelled();
            }
            if (const std::optional<std::size_t> lane = laneWithRoom()) {
                lane_ = *lane;
                ++login_.lanes[lane_].sessions;
            } else {
                evicted = std::move(login_.idle.front());
                login_.idle.erase(login_.idle.begin());
                lane_ = evicted->lane;
            }
        }
        held_ = true;
        // Its place is ours now; the session ends outside the lock.
        evicted.reset();
    }
    ~SessionSlot() {
        if (held_) {
            {
                std::lock_guard guard(login_.lock);
                --login_.lanes[lane_].sessions;
            }
            login_.changed.notify_all();
        }
    }
    SessionSlot(const SessionSlot&) = delete;
    SessionSlot& operator=(const SessionSlot&) = delete;

    std::size_t lane() const { return lane_; }
    // The place now belongs to a pooled session and ends with it.
    void handOver() { held_ = false; }

private:
    std::optional<std::size_t> laneWithRoom() const {
        for (std::size_t lane = 0; lane < login_.lanes.size(); ++lane) {
            if (login_.lanes[lane].sessions < SFTPLogin::maximumSharedSessions) {
                return lane;
            }
        }
        return std::nullopt;
    }

    Login& login_;
    std::size_t lane_ = 0;
    bool held_ = false;
};

// Makes sure the connection `lane` is open before a session starts on it: one caller at a time
// opens it (the others wait), so several workers starting together make one connection, not one
// each. A stale socket (its connection died) is replaced. Returns ssh's result when the
// connection cannot be made: the operation would fail the same way.
std::optional<VornProcessResult> openSharedConnection(const SFTPLogin& sftpLogin, Login& login,
                                                      std::size_t laneIndex,
                                                      const std::optional<fs::path>& askPassScript,
                                                      std::stop_token stop) {
    std::unique_lock guard(login.lock);
    Lane& lane = login.lanes[laneIndex];
    const std::uint64_t attemptsBefore = lane.openAttempts;
    const bool someoneWasOpening = lane.opening;
    if (!login.changed.wait(guard, stop, [&lane] { return !lane.opening; })) {
        throw VornTaskCancelled();
    }
    if (someoneWasOpening && lane.openAttempts != attemptsBefore && lane.lastFailure) {
        return lane.lastFailure;
    }
    const SocketState state = controlSocketState(lane.socket);
    if (state == SocketState::answers) {
        return std::nullopt;
    }
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh) {
        return std::nullopt;  // sftp needs ssh too and tells so itself
    }
    lane.opening = true;
    guard.unlock();

    std::optional<VornProcessResult> failure;
    const auto finish = [&](bool recordFailure) {
        guard.lock();
        lane.opening = false;
        ++lane.openAttempts;
        lane.lastFailure = recordFailure ? failure : std::nullopt;
        guard.unlock();
        login.changed.notify_all();
    };
    try {
        if (state == SocketState::stale) {
            ::unlink(lane.socket.c_str());
        }
        // ssh authenticates, puts the connection in the background and, as its first client,
        // opens and ends an sftp session: the subsystem every server here offers, whereas a
        // shell or command may be refused.
        SFTPLogin::Invocation invocation = invocationOn(
            sftpLogin, login, laneIndex, false, {"-s", sftpLogin.targetHostString(), "sftp"}, askPassScript);
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
VornTemporaryFile askPassFor(const SFTPLogin& sftpLogin) {
    if (sftpLogin.profile.sftpAuthMethod == SFTPAuthMethod::password && sftpLogin.password && !sftpLogin.password->empty()) {
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
std::pair<std::unique_ptr<PooledSession>, Reply> startSession(SFTPLogin::Invocation invocation,
                                                              SessionKind kind, std::size_t lane,
                                                              const fs::path& executable, std::stop_token stop) {
    auto session = std::make_unique<PooledSession>(
        std::make_unique<VornProcessSession>(executable, invocation.arguments, environmentOf(std::move(invocation))),
        kind, lane);
    // A server that takes the connection but never answers (a forced command waiting for
    // input, say) must not hold the operation for ever.
    Reply first = session->exchange("", stop, std::chrono::seconds(sessionStartSeconds));
    if (first.ended) {
        return {nullptr, std::move(first)};
    }
    return {std::move(session), Reply{}};
}

std::vector<std::string> sessionArguments(const SFTPLogin& sftpLogin, SessionKind kind) {
    const std::string target = sftpLogin.targetHostString();
    return kind == SessionKind::sftp ? std::vector<std::string>{"-b", "-", target}
                                     : std::vector<std::string>{target, "sh"};
}

// Takes the login's most recently used idle session of `kind`, closing dead ones on the way
// (their process ended, or their connection did: sessions outlive it only by moments).
std::unique_ptr<PooledSession> takeIdle(Login& login, SessionKind kind) {
    std::vector<std::unique_ptr<PooledSession>> dead;
    std::unique_ptr<PooledSession> found;
    {
        std::lock_guard guard(login.lock);
        for (auto at = login.idle.end(); at != login.idle.begin() && !found;) {
            --at;
            if ((*at)->kind != kind) {
                continue;
            }
            std::unique_ptr<PooledSession> candidate = std::move(*at);
            at = login.idle.erase(at);
            if (candidate->process->hasEnded() ||
                controlSocketState(login.lanes[candidate->lane].socket) != SocketState::answers) {
                --login.lanes[candidate->lane].sessions;
                dead.push_back(std::move(candidate));
            } else {
                found = std::move(candidate);
            }
        }
    }
    if (!dead.empty()) {
        login.changed.notify_all();
    }
    return found;
}

// Takes every idle session that `expired` picks; the earliest time another one is due goes to `next`.
template <typename Expired>
std::vector<std::unique_ptr<PooledSession>> takeIdleSessions(Expired expired,
                                                             std::optional<Clock::time_point>* next = nullptr) {
    std::vector<std::unique_ptr<PooledSession>> taken;
    LoginRegistry& registry = loginRegistry();
    std::lock_guard registryGuard(registry.lock);
    for (auto& [socket, login] : registry.byFirstSocket) {
        bool changed = false;
        {
            std::lock_guard guard(login->lock);
            for (auto at = login->idle.begin(); at != login->idle.end();) {
                if (expired(**at)) {
                    --login->lanes[(*at)->lane].sessions;
                    taken.push_back(std::move(*at));
                    at = login->idle.erase(at);
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
            login->changed.notify_all();
        }
    }
    return taken;
}

// ---- closing idle sessions ---------------------------------------------------------------------

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
// (and its place freed) when it has ended.
class LentSession {
public:
    LentSession(Login& login, std::unique_ptr<PooledSession> session) : login_(login), session_(std::move(session)) {}
    ~LentSession() {
        const bool ended = session_->process->hasEnded();
        session_->idleSince = Clock::now();
        {
            std::lock_guard guard(login_.lock);
            if (ended) {
                --login_.lanes[session_->lane].sessions;
            } else {
                login_.idle.push_back(std::move(session_));
            }
        }
        login_.changed.notify_all();
        if (!ended) {
            wakeIdleReaper();
        }
    }
    LentSession(const LentSession&) = delete;
    LentSession& operator=(const LentSession&) = delete;

    PooledSession& operator*() { return *session_; }

private:
    Login& login_;
    std::unique_ptr<PooledSession> session_;
};

Reply exchangeNoting(PooledSession& session, std::string_view request, std::stop_token stop,
                     std::string* outputSoFar, const WhileWaiting& whileWaiting, int answerSeconds) {
    try {
        return session.exchange(request, stop, std::nullopt, whileWaiting, answerSeconds);
    } catch (const VornTaskCancelled&) {
        if (outputSoFar != nullptr) {
            *outputSoFar = session.process->unreadOutput();
        }
        throw;
    }
}

// Asks the shared connection of `socket` to close, waiting a few seconds at most for its answer.
void closeConnection(const fs::path& socket) {
    const std::optional<fs::path> ssh = VornBinaryLocator::locate("ssh");
    if (!ssh || controlSocketState(socket) != SocketState::answers) {
        return;
    }
    std::stop_source giveUp;
    std::jthread timer([&giveUp](std::stop_token answered) {
        std::mutex lock;
        std::condition_variable_any never;
        std::unique_lock guard(lock);
        never.wait_for(guard, answered, std::chrono::seconds(closeAnswerSeconds), [] { return false; });
        if (!answered.stop_requested()) {
            giveUp.request_stop();
        }
    });
    try {
        // The host is a placeholder: a control command goes to the socket, never to a server.
        VornProcessRunner::run(*ssh, {"-F", "/dev/null", "-o", "ControlPath=" + SFTPLogin::sshOptionPath(socket), "-O",
                                      "exit", "vornsled-shared-connection"},
                               std::nullopt, std::nullopt, false, nullptr, {}, giveUp.get_token());
    } catch (const std::exception&) {
        // It ends by itself once idle, or when the server stays silent.
    }
}

}  // namespace

Reply run(const SFTPLogin& sftpLogin, SessionKind kind, const fs::path& executable,
          std::string_view request, std::stop_token stop, std::string* outputSoFar, const WhileWaiting& whileWaiting) {
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    const bool isSFTP = kind == SessionKind::sftp;
    const std::optional<fs::path> socket = sftpLogin.sharedConnectionPath();
    if (!socket) {
        // No connection to share: a session of the request's own.
        const VornTemporaryFile askPass = askPassFor(sftpLogin);
        auto [session, failure] = startSession(
            sftpLogin.sshInvocation(isSFTP, sessionArguments(sftpLogin, kind), pathOf(askPass)), kind, 0, executable, stop);
        return session ? exchangeNoting(*session, request, stop, outputSoFar, whileWaiting, sftpLogin.answerSeconds)
                       : failure;
    }
    Login& login = loginFor(*socket);
    if (kind == SessionKind::shell) {
        std::lock_guard guard(login.lock);
        if (Clock::now() < login.shellRefusedUntil) {
            return login.shellRefusal;
        }
    }
    for (int attempt = 0;; ++attempt) {
        std::unique_ptr<PooledSession> session = takeIdle(login, kind);
        const bool reused = session != nullptr;
        if (!session) {
            // Refuse a bad profile before anything is written.
            (void)sftpLogin.sshInvocation(isSFTP, {}, std::nullopt);
            SessionSlot slot(login, stop);
            const VornTemporaryFile askPass = askPassFor(sftpLogin);
            if (std::optional<VornProcessResult> failure =
                    openSharedConnection(sftpLogin, login, slot.lane(), pathOf(askPass), stop)) {
                return replyOf(std::move(*failure));
            }
            auto [started, startFailure] = startSession(
                invocationOn(sftpLogin, login, slot.lane(), isSFTP, sessionArguments(sftpLogin, kind), pathOf(askPass)),
                kind, slot.lane(), executable, stop);
            if (!started) {
                // 255 is ssh's own failure (the connection), which says nothing about the shell.
                if (kind == SessionKind::shell && startFailure.exitCode != 255) {
                    std::lock_guard guard(login.lock);
                    login.shellRefusedUntil = Clock::now() + std::chrono::seconds(refusedShellSeconds);
                    login.shellRefusal = startFailure;
                }
                return startFailure;
            }
            slot.handOver();
            session = std::move(started);
        }
        const std::size_t lane = session->lane;
        Reply reply;
        {
            LentSession lent(login, std::move(session));
            reply = exchangeNoting(*lent, request, stop, outputSoFar, whileWaiting, sftpLogin.answerSeconds);
        }
        if (reply.timedOut) {
            // The connection itself may be what hangs: it goes, and the next request opens another.
            closeConnection(login.lanes[lane].socket);
            return reply;
        }
        // A session that died while idle took none of the request: not even the echo of its first
        // line came. Another one gets it.
        if (reply.ended && reused && reply.output.empty() && attempt == 0) {
            continue;
        }
        return reply;
    }
}

VornProcessResult runOnce(const SFTPLogin& sftpLogin, const fs::path& executable,
                          const std::vector<std::string>& extraArgs, bool isSFTP, std::stop_token stop) {
    // Refuse a bad profile before anything is written.
    (void)sftpLogin.sshInvocation(isSFTP, extraArgs, std::nullopt);
    if (stop.stop_requested()) {
        throw VornTaskCancelled();
    }
    const VornTemporaryFile askPass = askPassFor(sftpLogin);
    const std::optional<fs::path> socket = sftpLogin.sharedConnectionPath();
    if (!socket) {
        SFTPLogin::Invocation invocation = sftpLogin.sshInvocation(isSFTP, extraArgs, pathOf(askPass));
        return VornProcessRunner::run(executable, invocation.arguments, std::nullopt,
                                      environmentOf(std::move(invocation)), true, nullptr, {}, stop);
    }
    Login& login = loginFor(*socket);
    const SessionSlot slot(login, stop);
    if (std::optional<VornProcessResult> failure =
            openSharedConnection(sftpLogin, login, slot.lane(), pathOf(askPass), stop)) {
        return std::move(*failure);
    }
    SFTPLogin::Invocation invocation =
        invocationOn(sftpLogin, login, slot.lane(), isSFTP, extraArgs, pathOf(askPass));
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
        LoginRegistry& registry = loginRegistry();
        std::lock_guard guard(registry.lock);
        for (const auto& [first, login] : registry.byFirstSocket) {
            std::lock_guard loginGuard(login->lock);
            for (const Lane& lane : login->lanes) {
                sockets.push_back(lane.socket);
            }
        }
    }
    for (const fs::path& socket : sockets) {
        closeConnection(socket);
    }
}

}  // namespace SFTPSharedSessions
