#include "SFTPLogin.h"

#include "SledError.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"
#include "VornUUID.h"
#include "VornUnicode.h"
#include "VornXDG.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

// The one text a host or user name must pass before it becomes part of ssh's command line: a
// leading "-" would be read as an option, white space or a control character would split or
// corrupt the target.
bool isSafeTargetPart(std::string_view text) {
    if (!text.empty() && text.front() == '-') {
        return false;
    }
    bool safe = true;
    VornUnicode::forEachCodePoint(text, [&safe](const VornCodePoint& point) {
        if (point.valid && (VornUnicode::isWhiteSpace(point.value) || VornUnicode::isControl(point.value))) {
            safe = false;
        }
    });
    return safe;
}

// The key file of key login as ssh is given it: trimmed, a leading "~" as the home folder.
std::string privateKeyFile(const ConnectionProfile& profile) {
    const std::string keyPath = profile.privateKeyPath ? VornUnicode::trimmed(*profile.privateKeyPath) : "";
    if (!keyPath.empty() && keyPath.front() == '~') {
        return VornXDG::home().string() + keyPath.substr(1);
    }
    return keyPath;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Random for each process: the socket names are digests of the login, password included, which
// must not be testable against guesses by anyone who sees the names.
const std::string& socketNameKey() {
    static const std::string key = VornUUID::random().uuidString() + VornUUID::random().uuidString();
    return key;
}

}  // namespace

SFTPLogin::SFTPLogin(ConnectionProfile profile, std::optional<std::string> password,
                     std::optional<fs::path> knownHostsFile)
    : profile(std::move(profile)), password(std::move(password)), knownHostsFile(std::move(knownHostsFile)) {}

std::string SFTPLogin::targetHostString() const {
    return profile.username.empty() ? profile.host : profile.username + "@" + profile.host;
}

SFTPLogin::Invocation SFTPLogin::sshInvocation(bool isSFTP, const std::vector<std::string>& extraArgs,
                                               const std::optional<fs::path>& askPassScript) const {
    if (VornUnicode::trimmed(profile.host).empty()) {
        throw SledError::invalidProfile(vornText("SFTP host is required.", "SFTP sunucusu gerekli."));
    }
    if (!isSafeTargetPart(profile.host)) {
        throw SledError::invalidProfile(
            vornText("SFTP host must not start with \"-\" or hold spaces or control characters.",
                     "SFTP sunucusu \"-\" ile başlayamaz, boşluk ya da denetim karakteri içeremez."));
    }
    if (!isSafeTargetPart(profile.username)) {
        throw SledError::invalidProfile(
            vornText("SFTP user name must not start with \"-\" or hold spaces or control characters.",
                     "SFTP kullanıcı adı \"-\" ile başlayamaz, boşluk ya da denetim karakteri içeremez."));
    }

    Invocation invocation;
    std::vector<std::string>& args = invocation.arguments;
    // A sign of life is asked for three times within answerSeconds; a connection that gives none
    // is dropped, with every session on it.
    const int aliveInterval = std::max(1, answerSeconds / 4);
    args = {isSFTP ? "-P" : "-p", std::to_string(profile.port), "-o", "ConnectTimeout=15", "-o",
            "StrictHostKeyChecking=accept-new", "-o", "ServerAliveInterval=" + std::to_string(aliveInterval), "-o",
            "ServerAliveCountMax=3"};
    if (const std::optional<fs::path> socket = sharedConnectionPath()) {
        args.insert(args.end(), {"-o", "ControlMaster=auto", "-o", "ControlPath=" + sshOptionPath(*socket), "-o",
                                 "ControlPersist=" + std::to_string(sharedConnectionIdleSeconds)});
    }
    if (knownHostsFile) {
        args.insert(args.end(), {"-o", "UserKnownHostsFile=" + sshOptionPath(*knownHostsFile)});
    }

    switch (profile.sftpAuthMethod) {
    case SFTPAuthMethod::sshKey: {
        const std::string keyPath = privateKeyFile(profile);
        if (!keyPath.empty()) {
            // ssh would go on without a key file it cannot find, with the agent's and its default keys.
            std::error_code error;
            if (!fs::exists(keyPath, error)) {
                throw SledError::invalidProfile(vornText("The SFTP key file \"" + keyPath + "\" does not exist.",
                                                         "SFTP anahtar dosyası \"" + keyPath + "\" yok."));
            }
            args.push_back("-i");
            args.push_back(keyPath);
        }
        args.insert(args.end(), {"-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes"});
        break;
    }
    case SFTPAuthMethod::password:
        if (password && !password->empty() && askPassScript) {
            // Before any "-b": sftp adds BatchMode=yes for batch files, and ssh keeps the first value.
            // One prompt: ssh would otherwise send the same refused password three times, three
            // failed logins that servers which ban after a few count against the user's address.
            args.insert(args.end(), {"-o", "BatchMode=no", "-o", "PubkeyAuthentication=no", "-o",
                                     "NumberOfPasswordPrompts=1"});
            invocation.environment = {{"SSH_ASKPASS", askPassScript->string()},
                                      {"SSH_ASKPASS_REQUIRE", "force"},
                                      {"DISPLAY", "vornsled:0"},
                                      {"VORNSLED_SSH_PWD", *password}};
        } else {
            args.insert(args.end(), {"-o", "BatchMode=yes"});
        }
        break;
    case SFTPAuthMethod::sshAgent:
        args.insert(args.end(), {"-o", "BatchMode=yes"});
        break;
    }
    if (isSFTP) {
        // sftp writes names it cannot show in the locale's character set as octal escapes; in
        // UTF-8 only control characters and ill-formed bytes are escaped.
        invocation.environment["LC_ALL"] = "C.UTF-8";
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return invocation;
}

std::optional<fs::path> SFTPLogin::sharedConnectionPath() const {
    // Everything that decides which server is reached and how the login goes: a login that
    // differs in any of it must not ride on a connection another one authenticated.
    VornSHA256 digest;
    const std::string login[] = {socketNameKey(),
                                 profile.host,
                                 std::to_string(profile.port),
                                 profile.username,
                                 std::to_string(static_cast<int>(profile.sftpAuthMethod)),
                                 privateKeyFile(profile),
                                 password.value_or(""),
                                 knownHostsFile ? knownHostsFile->string() : "",
                                 environmentValue("SSH_AUTH_SOCK")};
    for (const std::string& part : login) {
        digest.update(std::to_string(part.size()) + ":");
        digest.update(part);
    }
    const fs::path folder = VornXDG::privateTemporaryDirectory() / "ssh";
    fs::path socket = folder / digest.finalizeHex().substr(0, 24);
    // ssh gives up on an operation whose control socket it cannot make, so the folder is made here.
    if (socket.native().size() + 2 > maximumControlPathBytes() || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)) {
        return std::nullopt;
    }
    return socket;
}

std::string SFTPLogin::escapeSFTPArg(std::string_view argument) {
    return "\"" + VornASCII::replacingAll(VornASCII::replacingAll(argument, "\\", "\\\\"), "\"", "\\\"") + "\"";
}

std::string SFTPLogin::escapePOSIXSingleQuoted(std::string_view argument) {
    return "'" + VornASCII::replacingAll(argument, "'", "'\\''") + "'";
}

std::string SFTPLogin::sshOptionPath(const fs::path& path) {
    // Quoted like a batch argument (ssh splits option values at white space), "%" doubled (ssh
    // expands "%" tokens).
    return escapeSFTPArg(VornASCII::replacingAll(path.string(), "%", "%%"));
}

std::size_t SFTPLogin::maximumControlPathBytes() {
    // The longest path a unix socket address holds (without its NUL), less what ssh appends while
    // it sets a new control socket up (".", then 16 random characters).
    return sizeof(sockaddr_un::sun_path) - 1 - 17;
}
