#pragma once

#include "SFTPLogin.h"
#include "SledStorageProvider.h"
#include "VornDate.h"
#include "VornProcessRunner.h"

#include <cstdint>
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
class SFTPStorageProvider final : public SledStorageProvider, public SFTPLogin {
public:
    // The longest batch line (without its line feed) that `sftp -b` reads whole with its line feed;
    // of a longer one the rest is read as a line of its own.
    static constexpr std::size_t maximumBatchLineBytes = 2046;
    // sftp cuts a listing line at this many bytes: a line that long may have lost the end of its name.
    static constexpr std::size_t listingLineBytes = 1023;

    SFTPStorageProvider(ConnectionProfile profile, std::optional<std::string> password,
                        std::optional<std::filesystem::path> knownHostsFile = std::nullopt);

    std::string displayName() const override;
    std::vector<SledFileEntry> listDirectory(const std::string& at, std::stop_token stop) const override;
    // Hidden items are named where the login has a shell; without one they cannot be seen at all.
    SledListing listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const override;
    SledDownloadResult downloadFile(const std::string& remotePath, const std::filesystem::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override;
    SledUploadResult uploadFile(const std::filesystem::path& localURL, const std::string& to,
                    const std::optional<std::string>& sha256Hex, const SledProgressCallback& onProgress,
                    std::stop_token stop) const override;
    // Checks, before the partial file is written and again just before it is renamed into place,
    // that every folder from `insideFolder` down to `to` is still a folder and not a symbolic link
    // (through the login's shell, or for a login without one through the parent folders' listings).
    SledUploadResult uploadFileInside(const std::filesystem::path& localURL, const std::string& to,
                                      const std::string& insideFolder, const std::optional<std::string>& sha256Hex,
                                      const SledProgressCallback& onProgress, std::stop_token stop) const override;
    // Asks for the digest only once the file is up, just before the server hashes its copy.
    SledUploadResult uploadFileInsideHashing(const std::filesystem::path& localURL, const std::string& to,
                                             const std::string& insideFolder,
                                             const std::function<std::optional<std::string>()>& sha256Hex,
                                             const SledProgressCallback& onProgress,
                                             std::stop_token stop) const override;
    // A path whose batch line (an upload's rename from its fragment, a download's get) sftp cannot
    // take whole, or that holds a line break or a NUL.
    std::optional<std::string> pathOutOfReach(const std::string& path, bool writing) const override;
    void createDirectory(const std::string& at, std::stop_token stop) const override;
    void deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const override;
    void renameItem(const std::string& from, const std::string& to, bool isDirectory,
                    std::stop_token stop) const override;
    void testConnection(std::stop_token stop) const override;

    // Asks every shared connection this process opened to close, and returns when each has
    // answered. Operations still running on one fail. For the end of the process; a later
    // operation opens a new connection.
    static void closeSharedConnections();
    // Closes the long-lived sessions no operation is using now (they close by themselves after a
    // few idle seconds) and returns when their processes have ended. The connections stay.
    static void closeIdleSessions();

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
    // The same for a small file (at most largestSharedDigestBytes), whose digest may be taken
    // together with others asked for on this login meanwhile: while one remote hashing runs, the
    // files asked for wait and then go together in the next, one sha256sum for up to
    // mostSharedDigests of them. On a busy server starting a tool costs more than hashing a small
    // file. A file the shared run gives no digest for is asked for alone; a path it cannot carry
    // unambiguously (a control character or a backslash in it) never joins one.
    std::optional<std::string> computeRemoteSHA256Shared(const std::string& path, std::stop_token stop) const;
    static constexpr std::int64_t largestSharedDigestBytes = 1024 * 1024;
    static constexpr std::size_t mostSharedDigests = 16;

    // The shell command that prints "checked" after a "link" line for each of `folders` that is a
    // symbolic link or no folder at all.
    static std::string folderChainCheckCommand(const std::vector<std::string>& folders);
    // Runs it (a login without a shell: each folder as its parent's listing shows it); throws
    // SledError::remoteCommandFailed when one of `folders` is a link or no folder.
    void checkFolderChain(const std::vector<std::string>& folders, std::stop_token stop) const;

    // The path as it is; "/" for one that is empty or only white space.
    static std::string normalizePath(std::string_view path);
    // The remote shell command printing the SHA-256 of `path`.
    static std::string remoteSHA256Command(std::string_view path);
    // The digest in the output of that command: its first word without the '\' that sha256sum
    // puts before the digest of an awkward name, lower-cased; absent unless 64 hex digits.
    static std::optional<std::string> parseRemoteSHA256(std::string_view output);
    // The remote shell command printing a "<digest>  <path>" line for each of `paths` (as
    // remoteSHA256Command, without the cut to the first word), and the digests it printed by
    // path: only those of a line that names one of `paths` exactly, and none for a path two lines
    // give different digests.
    static std::string remoteSHA256BatchCommand(const std::vector<std::string>& paths);
    static std::map<std::string, std::string> parseRemoteSHA256Batch(std::string_view output,
                                                                      const std::vector<std::string>& paths);

    // The shell command printing "names", a NUL, then each name in the folder `path` but the
    // hidden ones, each followed by a NUL; where GNU find runs, "stamped" and a NUL instead, and
    // after each name's NUL its modification time in seconds ("%T@") and a NUL. Then an empty
    // field (a lone NUL) and each hidden name with "d" before it for a folder, "-" for anything
    // else, and a NUL. Nothing when the folder cannot be entered or read. `gnuFind` says whether
    // the server has GNU find, when that is known; otherwise the command finds out itself, at the
    // cost of one more program per call.
    static std::string remoteNamesCommand(std::string_view path, std::optional<bool> gnuFind = std::nullopt);
    // The folder's names through the login's shell, exactly as they are; absent when the login has
    // no shell. Throws SledError::remoteCommandFailed when the shell cannot read the folder. Where
    // the shell gave times, `modifiedSeconds` (when given) gets each name's in whole seconds;
    // `hidden` (when given) gets each hidden name and whether it is a folder.
    std::optional<std::vector<std::string>> remoteNames(const std::string& path, std::stop_token stop,
                                                        std::map<std::string, std::int64_t>* modifiedSeconds = nullptr,
                                                        std::vector<std::pair<std::string, bool>>* hidden = nullptr) const;

    // The entries of the `ls -ln` lines `rows`, printed inside the folder `parentPath` (bare names).
    // With `exactNames` (the folder's names from remoteNames) each line is matched with the one
    // name that prints as it does, over as many lines as its line breaks make, and takes it
    // exactly; without, escapes are undone only into bytes sftp escapes. A listing that does not
    // add up — a line no name or several names could print, a name without a line, a line cut
    // short, without exact names a name with a line break or two lines naming one item — throws
    // SledError::remoteCommandFailed, so nothing is done on the strength of a line a name forged.
    // (Without exact names a line a name forged can still name an item that is not there, never
    // one that is: that would make two lines for one name.)
    static std::vector<SledFileEntry> readBareListing(std::string_view rows, std::string_view parentPath,
                                                      const std::optional<std::vector<std::string>>& exactNames,
                                                      VornDate now = vornDateNow());

    // The entries of `ls -ln` output for the folder `parentPath` (as it stood in the command). Names
    // are recovered from the full paths sftp prints (octal escapes undone only into bytes sftp
    // escapes, a name's line break rejoined, a name holding "/" left out); dates are read as local
    // time, the year of an "Mon dd HH:MM" date being the one that puts it within the half-year
    // before `now`.
    static std::vector<SledFileEntry> parseSFTPLongListing(std::string_view output, std::string_view parentPath,
                                                           VornDate now = vornDateNow());
};
