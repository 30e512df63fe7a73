#pragma once

#include "ConnectionProfile.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One SFTP login as the system's OpenSSH tools are given it: the target, the login options and
// the shared connection they ride on, and the quoting their command lines, batch lines and
// remote shell commands need. The provider's operations and the long-lived sessions they run on
// both build their invocations here.
class SFTPLogin {
public:
    // Which tools and how they are started: the argument vector after the executable, and the
    // variables added to the inherited environment.
    struct Invocation {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
    };

    // How long a shared connection stays open after its last operation ends.
    static constexpr int sharedConnectionIdleSeconds = 60;
    // Sessions on one shared connection (OpenSSH servers refuse more than 10 by default). Past
    // that a login opens another connection, up to maximumSharedConnections, so that the most
    // workers the engine runs, each with an sftp and a shell session, never wait for a turn or
    // close each other's sessions; beyond that operations wait. A new connection costs a login,
    // which one connection's sessions share, so the next is opened only when it is full.
    static constexpr int maximumSharedSessions = 8;
    static constexpr int maximumSharedConnections = 2;

    // How long the server may stay silent. Every exchange on a session that makes no headway
    // (no output, no bytes moved) for this long is given up and its connection closed and
    // replaced; ssh itself asks a quiet server for a sign of life a few times in that span and
    // drops a connection that gives none, which ends every session on it.
    static constexpr int defaultAnswerSeconds = 60;

    ConnectionProfile profile;
    // The profile's secret from the credential store; used only for password login.
    std::optional<std::string> password;
    // The known-hosts file ssh checks the server's key against (and records a new one in). Absent:
    // ssh's own default, the user's ~/.ssh/known_hosts.
    std::optional<std::filesystem::path> knownHostsFile;
    int answerSeconds = defaultAnswerSeconds;

    SFTPLogin(ConnectionProfile profile, std::optional<std::string> password,
              std::optional<std::filesystem::path> knownHostsFile = std::nullopt);

    // "user@host", or the host alone when the user name is empty.
    std::string targetHostString() const;

    // The control socket of the first connection this login's operations share (the others'
    // append "-1", "-2", ...), in a private folder of the process's temporary folder. Its name is a
    // keyed digest of the target and the login, so it reveals neither. The folder is made (0700)
    // on first use. Absent when the path would not fit a socket address or the folder cannot be
    // made; operations then make their own connections.
    std::optional<std::filesystem::path> sharedConnectionPath() const;

    // The arguments and environment for `sftp` (isSFTP) or `ssh`: port, time-outs, host-key policy,
    // connection sharing, the login options of the profile, then `extraArgs`. `askPassScript` is
    // the script that prints the password (password login with a stored password only). A key
    // login offers its key file only, never the agent's or the default keys. Throws
    // SledError::invalidProfile for an empty host, a host or user name that ssh would read as an
    // option or split (leading "-", white space, control characters), or a key file that does not
    // exist.
    Invocation sshInvocation(bool isSFTP, const std::vector<std::string>& extraArgs,
                             const std::optional<std::filesystem::path>& askPassScript) const;

    // An argument of a batch line: double-quoted, with '\' and '"' escaped by a backslash.
    static std::string escapeSFTPArg(std::string_view argument);
    // A word for the POSIX shell: single-quoted, each ' written as '\''.
    static std::string escapePOSIXSingleQuoted(std::string_view argument);
    // A path as one value of an ssh option: quoted, with ssh's escapes.
    static std::string sshOptionPath(const std::filesystem::path& path);
    // The longest control socket path ssh can work with.
    static std::size_t maximumControlPathBytes();
};
