#pragma once

#include "ConnectionProfile.h"
#include "SledStorageProvider.h"
#include "VornDate.h"
#include "VornProcessRunner.h"

#include <filesystem>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

// An SFTP server reached through the system's OpenSSH tools: operations are batch lines for
// `sftp -b`; the SHA-256 of a remote file comes from `sha256sum` (else `shasum -a 256`) run by a
// shell on the server.
//
// Operations share SSH connections per target and login: the first one opens one (OpenSSH's
// connection sharing, its control socket in a private folder), later ones ride on it without a
// handshake of their own; many operations at once get another (maximumSharedConnections in all).
// Each closes itself once idle for sharedConnectionIdleSeconds, or at closeSharedConnections().
// Providers with the same host, port, user and login share them; any difference (another key,
// password, agent or known-hosts file) gets connections of its own. On them, `sftp` and the
// shell stay running between operations, reading the next batch lines from their standard
// input, until a few seconds pass unused; so a file costs its transfer, not the start of two
// programs and two sessions.
//
// Any number of calls may run at once. Temporary files (the ask-pass script, the partial file of
// a download) are deleted on every path out of the operation, cancellation included. Cancelling
// through the stop token terminates the operation's own sftp or shell (never the shared
// connection) and throws VornTaskCancelled.
class SFTPStorageProvider final : public SledStorageProvider {
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

    // The longest batch line (without its line feed) that `sftp -b` reads whole; a longer one is cut.
    static constexpr std::size_t maximumBatchLineBytes = 2047;

    ConnectionProfile profile;
    // The profile's secret from the credential store; used only for password login.
    std::optional<std::string> password;
    // The known-hosts file ssh checks the server's key against (and records a new one in). Absent:
    // ssh's own default, the user's ~/.ssh/known_hosts.
    std::optional<std::filesystem::path> knownHostsFile;

    SFTPStorageProvider(ConnectionProfile profile, std::optional<std::string> password,
                        std::optional<std::filesystem::path> knownHostsFile = std::nullopt);

    std::string displayName() const override;
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override;
    SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override;
    void uploadFile(const std::filesystem::path& localURL, const std::string& to,
                    const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                    std::stop_token stop) const override;
    void createDirectory(const std::string& at, std::stop_token stop) const override;
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override;
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override;
    void testConnection(std::stop_token stop) const override;

    // "user@host", or the host alone when the user name is empty.
    std::string targetHostString() const;

    // The control socket of the first connection this provider's operations share (the others'
    // append "-1", "-2", ...), in a private folder of the process's temporary folder. Its name is a
    // keyed digest of the target and the login, so it reveals neither. The folder is made (0700)
    // on first use. Absent when the path would not fit a socket address or the folder cannot be
    // made; operations then make their own connections.
    std::optional<std::filesystem::path> sharedConnectionPath() const;

    // Asks every shared connection this process opened to close, and returns when each has
    // answered. Operations still running on one fail. For the end of the process; a later
    // operation opens a new connection.
    static void closeSharedConnections();
    // Closes the long-lived sessions no operation is using now (they close by themselves after a
    // few idle seconds) and returns when their processes have ended. The connections stay.
    static void closeIdleSessions();

    // The arguments and environment for `sftp` (isSFTP) or `ssh`: port, time-out, host-key policy,
    // connection sharing, the login options of the profile, then `extraArgs`. `askPassScript` is the script that
    // prints the password (password login with a stored password only). Throws
    // SledError::invalidProfile for an empty host, or a host or user name that ssh would read as
    // an option or split (leading "-", white space, control characters).
    Invocation sshInvocation(bool isSFTP, const std::vector<std::string>& extraArgs,
                             const std::optional<std::filesystem::path>& askPassScript) const;

    // Runs `sftp` or `ssh` with sshInvocation() and returns what it left, whatever its exit code.
    VornProcessResult runSSHExecutable(const std::filesystem::path& executable, const std::vector<std::string>& extraArgs,
                                       bool isSFTP, std::stop_token stop) const;
    // Runs one batch script through `sftp`; its standard output (each line echoed as "sftp> " and
    // the line before what it printed), or SledError::remoteCommandFailed with sftp's words on the
    // first line that failed.
    std::string runSFTPBatch(const std::string& script, std::stop_token stop) const;
    // The remote file's SHA-256 as 64 lower-case hex digits; absent when ssh is missing or the
    // server cannot tell. Cancellation passes on.
    std::optional<std::string> computeRemoteSHA256(const std::string& path, std::stop_token stop) const;

    // Trimmed of white space and line breaks; "/" when nothing is left.
    static std::string normalizePath(std::string_view path);
    // An argument of a batch line: double-quoted, with '\' and '"' escaped by a backslash.
    static std::string escapeSFTPArg(std::string_view argument);
    // A word for the POSIX shell: single-quoted, each ' written as '\''.
    static std::string escapePOSIXSingleQuoted(std::string_view argument);
    // The remote shell command printing the SHA-256 of `path`.
    static std::string remoteSHA256Command(std::string_view path);
    // The digest in the output of that command: its first word without the '\' that sha256sum
    // puts before the digest of an awkward name, lower-cased; absent unless 64 hex digits.
    static std::optional<std::string> parseRemoteSHA256(std::string_view output);

    // The entries of `ls -ln` output for the folder `parentPath` (as it stood in the command), in
    // listing order. Names are recovered from the full paths sftp prints (octal escapes undone, a
    // name's line break rejoined); dates are read as local time, the year of an "Mon dd HH:MM"
    // date being the one that puts it within the half-year before `now`.
    static std::vector<SledFileEntry> parseSFTPLongListing(std::string_view output, std::string_view parentPath,
                                                           VornDate now = vornDateNow());
};
