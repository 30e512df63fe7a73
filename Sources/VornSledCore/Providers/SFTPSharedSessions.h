#pragma once

// What the SFTP provider's operations share: one SSH connection per target and login (OpenSSH's
// connection sharing), and on it long-lived sessions — `sftp` reading batch lines from its
// standard input, and a remote shell for digests — each serving operation after operation, so
// that a file costs its transfer and not a process start, a session and a shell. Only the
// provider uses this; it knows nothing of the provider, only the login it is given.

#include "SFTPLogin.h"
#include "VornProcessRunner.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace SFTPSharedSessions {

enum class SessionKind { sftp, shell };

// Sessions left unused this long are closed (the shared connection itself lingers a while longer).
inline constexpr int idleSessionSeconds = 10;
// How long a new session may take to answer for the first time before it is given up.
inline constexpr int sessionStartSeconds = 30;
// How long a shared connection asked to close may take to answer.
inline constexpr int closeAnswerSeconds = 5;
// How long a login whose shell would not start is not asked for one again.
inline constexpr int refusedShellSeconds = 60;

struct Reply {
    // For sftp: its echo of each line ("sftp> ..."), then what the line printed.
    std::string output;
    std::string errors;
    // The session ended before the request was done: for sftp, a line failed (or the session or
    // its connection could not be made); `exitCode` says how it ended.
    bool ended = false;
    std::int32_t exitCode = 0;
    // It ended because it made no headway for the login's answerSeconds: its session was ended
    // and the connection it rode on closed, so that the next request gets a new one.
    bool timedOut = false;
};

// Called on the requesting thread every few hundred milliseconds while a request runs, with the
// process id of the session's sftp or ssh; returns how far the work has come (bytes moved, say),
// a value that grows while it makes headway.
using WhileWaiting = std::function<std::int64_t(pid_t)>;

// Runs `request` (whole lines) on a session of `kind` for `login`: `executable` is
// sftp or ssh. An idle session is taken when there is one, else a new one is started (the shared
// connection opened first if it is not). A session that served before and turns out to have died
// meanwhile, before taking any of the request, is replaced and the request sent again. A request
// that neither gets output nor makes headway (by `whileWaiting`) for the login's answerSeconds
// ends with `timedOut`.
//
// Throws VornTaskCancelled when `stop` asks to stop (the session is terminated); what the session
// had answered until then is left in `outputSoFar` when given.
Reply run(const SFTPLogin& login, SessionKind kind, const std::filesystem::path& executable,
          std::string_view request, std::stop_token stop, std::string* outputSoFar = nullptr,
          const WhileWaiting& whileWaiting = {});

// Runs `executable` (sftp or ssh) once with the login's invocation and `extraArgs`, on the
// shared connection when there is one; ssh's own answer when the connection cannot be made.
VornProcessResult runOnce(const SFTPLogin& login, const std::filesystem::path& executable,
                          const std::vector<std::string>& extraArgs, bool isSFTP, std::stop_token stop);

// Closes every session not in use and returns when their processes have ended.
void closeIdleSessions();
// Closes the idle sessions, then asks each shared connection to close.
void closeAll();

}  // namespace SFTPSharedSessions
