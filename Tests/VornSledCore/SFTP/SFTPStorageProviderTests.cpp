// The SFTP provider against the loopback OpenSSH server of the test services: key, password and
// agent login, round trips of awkward names with digests, listings, renames, cancellation, and the
// rules that keep hostile paths and profiles from reaching sftp or ssh.
#include "SFTPStorageProvider.h"
#include "SledLeftoverTestSupport.h"

#include "LocalFileProvider.h"
#include "ParallelSledTransferEngine.h"
#include "RecursiveDirectoryWalker.h"
#include "SFTPTestSupport.h"
#include "SledSourceChangeTestSupport.h"
#include "SledError.h"
#include "VornBinaryLocator.h"
#include "VornChecksum.h"
#include "VornFileIO.h"
#include "VornTaskCancelled.h"
#include "VornTestSupport.h"
#include "VornUUID.h"
#include "VornUniqueFd.h"
#include "VornXDG.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <latch>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A profile that never reaches a server: for the checks made before anything runs.
SFTPStorageProvider offlineProvider(std::string host = "127.0.0.1", std::string user = "nobody") {
    ConnectionProfile profile;
    profile.name = "Offline";
    profile.host = std::move(host);
    profile.port = 1;
    profile.username = std::move(user);
    return SFTPStorageProvider(profile, std::nullopt, fs::path("/dev/null"));
}

template <typename Body>
SledError expectSledError(Body&& body) {
    try {
        body();
    } catch (const SledError& error) {
        return error;
    }
    ADD_FAILURE() << "no SledError was thrown";
    return SledError::remoteCommandFailed("none");
}

// Files this process left in its private temporary folder (batch files, ask-pass scripts). The
// folder of shared connections may stay, holding nothing but their control sockets.
std::vector<std::string> leftoverTemporaryFiles() {
    const fs::path shared = offlineProvider().sharedConnectionPath().value().parent_path();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(VornXDG::privateTemporaryDirectory())) {
        if (entry.path().filename() == VornXDG::privateFolderMarkName) {
            continue;
        }
        if (entry.path() != shared) {
            names.push_back(entry.path().filename().string());
            continue;
        }
        for (const auto& socket : fs::directory_iterator(shared)) {
            if (!socket.is_socket()) {
                names.push_back("ssh/" + socket.path().filename().string());
            }
        }
    }
    return names;
}

// Processes whose parent is this test program.
int childProcessCount() { return static_cast<int>(vornChildProcesses(::getpid()).size()); }

// The sftp and ssh clients on the shared connection of `socket` still running, by process id:
// operations' own and the long-lived sessions.
std::map<pid_t, std::string> clientProcesses(const fs::path& socket) {
    std::map<pid_t, std::string> clients;
    for (const auto& [pid, commandLine] : processesNaming(socket.string())) {
        if (!holdsSharedConnection(commandLine) && pid != ::getpid()) {
            clients.emplace(pid, commandLine);
        }
    }
    return clients;
}

std::vector<std::string> operationClients(const fs::path& socket) {
    std::vector<std::string> clients;
    for (const auto& [pid, commandLine] : clientProcesses(socket)) {
        clients.push_back(commandLine);
    }
    return clients;
}

// A fresh folder in the test user's home, made through the provider and removed afterwards.
class RemoteFolder {
public:
    explicit RemoteFolder(const SFTPStorageProvider& provider)
        : path_(VornTestServices::value("SSHD_HOME") + "/t-" + VornUUID::random().uuidString()) {
        provider.createDirectory(path_, {});
    }
    ~RemoteFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

bool folderHoldsPrefix(const fs::path& folder, std::string_view prefix) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

// Tests running at once add and remove keys of their own: each change to the file holds its lock,
// so that none rewrites the file without another's key.
class KeysFileLock {
public:
    explicit KeysFileLock(const fs::path& file)
        : fd_(::open((file.string() + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
    }
    ~KeysFileLock() { ::close(fd_); }
    KeysFileLock(const KeysFileLock&) = delete;
    KeysFileLock& operator=(const KeysFileLock&) = delete;

private:
    int fd_;
};

// A client key of a test's own, authorized for the test user while the object lives (with
// `options` before it in authorized_keys); the server's log tells its logins from other tests'.
class TestClientKey {
public:
    explicit TestClientKey(const std::string& options = "")
        : authorized_(fs::path(VornTestServices::value("SSHD_KNOWN_HOSTS")).parent_path() / "authorized_keys" /
                      VornTestServices::value("SSHD_USER")) {
        const std::string file = (folder_ / "k").string();
        const VornShellResult made = vornShell("ssh-keygen -q -t ed25519 -N '' -C test-key -f " + vornShellQuote(file) +
                                               " && ssh-keygen -l -f " + vornShellQuote(file + ".pub"));
        EXPECT_EQ(made.exitCode, 0) << made.output;
        fingerprint_ = made.output.substr(made.output.find("SHA256:")).substr(0, 50);
        line_ = (options.empty() ? "" : options + " ") + vornReadFile(file + ".pub");
        const KeysFileLock lock(authorized_);
        std::ofstream(authorized_, std::ios::app) << line_;
    }
    ~TestClientKey() {
        const KeysFileLock lock(authorized_);
        std::string rest = vornReadFile(authorized_);
        if (const std::size_t at = rest.find(line_); at != std::string::npos) {
            rest.erase(at, line_.size());
        }
        const fs::path temporary = authorized_.string() + ".tmp";
        std::ofstream(temporary) << rest;
        fs::rename(temporary, authorized_);
    }
    TestClientKey(const TestClientKey&) = delete;
    TestClientKey& operator=(const TestClientKey&) = delete;

    SFTPStorageProvider provider() const {
        ConnectionProfile profile = sftpTestProfile(SFTPAuthMethod::sshKey);
        profile.privateKeyPath = (folder_ / "k").string();
        return SFTPStorageProvider(profile, std::nullopt, fs::path(VornTestServices::value("SSHD_KNOWN_HOSTS")));
    }

    // The client port of the server's latest login with this key; 0 when there was none.
    int lastLoginPort() const {
        const std::string log = vornReadFile(VornTestServices::value("SSHD_LOG"));
        int port = 0;
        for (std::size_t at = log.find("Accepted publickey"); at != std::string::npos;
             at = log.find("Accepted publickey", at + 1)) {
            const std::size_t end = log.find('\n', at);
            const std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
            const std::size_t portAt = line.find(" port ");
            if (line.find(fingerprint_) != std::string::npos && portAt != std::string::npos) {
                port = std::stoi(line.substr(portAt + 6));
            }
        }
        return port;
    }

    // How often the server has let this key in.
    int logins() const {
        const std::string log = vornReadFile(VornTestServices::value("SSHD_LOG"));
        int count = 0;
        for (std::size_t at = log.find("Accepted publickey"); at != std::string::npos;
             at = log.find("Accepted publickey", at + 1)) {
            count += log.compare(log.find("SHA256:", at), fingerprint_.size(), fingerprint_) == 0 ? 1 : 0;
        }
        return count;
    }

private:
    VornTestTempDir folder_;
    fs::path authorized_;
    std::string fingerprint_;
    std::string line_;
};

class SFTPLiveTest : public ::testing::Test {
protected:
    void SetUp() override { VORN_REQUIRE_SERVICE("sshd"); }
    void TearDown() override { SFTPStorageProvider::closeSharedConnections(); }
};

// ---- Quoting, arguments and parsing (nothing runs) ------------------------------------------

TEST(SFTPStorageProviderQuoting, BatchAndShellQuotingAndPathNormalization) {
    struct Case {
        std::string_view input, sftp, shell;
    };
    const Case cases[] = {
        {"plain", "\"plain\"", "'plain'"},
        {"a \"b\"", "\"a \\\"b\\\"\"", "'a \"b\"'"},
        {"back\\slash", "\"back\\\\slash\"", "'back\\slash'"},
        {"it's", "\"it's\"", "'it'\\''s'"},
        {"\\\"", "\"\\\\\\\"\"", "'\\\"'"},
        {"", "\"\"", "''"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SFTPStorageProvider::escapeSFTPArg(c.input), c.sftp) << c.input;
        EXPECT_EQ(SFTPStorageProvider::escapePOSIXSingleQuoted(c.input), c.shell) << c.input;
    }
    // A path is taken as it is (a listing's "Backup " is not "Backup"); only a blank one is the root.
    EXPECT_EQ(SFTPStorageProvider::normalizePath("  "), "/");
    EXPECT_EQ(SFTPStorageProvider::normalizePath(""), "/");
    EXPECT_EQ(SFTPStorageProvider::normalizePath("/srv/Backup "), "/srv/Backup ");
    EXPECT_EQ(SFTPStorageProvider::normalizePath(" /srv/data\t"), " /srv/data\t");
    EXPECT_EQ(SFTPStorageProvider::remoteSHA256Command("/a/it's"),
              "(sha256sum '/a/it'\\''s' 2>/dev/null || shasum -a 256 '/a/it'\\''s' 2>/dev/null) | awk '{print $1}'");
}

TEST(SFTPStorageProviderArguments, VectorsAndEnvironmentByLoginMethod) {
    ConnectionProfile profile;
    profile.host = "files.example";
    profile.port = 22;
    profile.username = "ana";
    profile.privateKeyPath = "  ~/.ssh/id_ed25519\n";
    VornTestTempDir homeFolder;
    const std::string home = homeFolder.path().string();
    homeFolder.write(".ssh/id_ed25519", "a key");
    VornScopedEnv homeVariable("HOME", home);
    // Keep-alives: three asks within the time the server may stay silent.
    const std::vector<std::string> common = {"-o", "ConnectTimeout=15",         "-o", "StrictHostKeyChecking=accept-new",
                                             "-o", "ServerAliveInterval=15",    "-o", "ServerAliveCountMax=3"};
    // Connection sharing follows the host-key policy; its socket is named for the provider's login.
    const auto with = [&](const SFTPStorageProvider& provider, std::string portFlag, std::vector<std::string> tail) {
        std::vector<std::string> all = {std::move(portFlag), "22"};
        all.insert(all.end(), common.begin(), common.end());
        all.insert(all.end(), {"-o", "ControlMaster=auto", "-o",
                               "ControlPath=\"" + provider.sharedConnectionPath().value().string() + "\"", "-o",
                               "ControlPersist=60"});
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };

    profile.sftpAuthMethod = SFTPAuthMethod::sshKey;
    SFTPStorageProvider key(profile, std::nullopt);
    // A key login offers that key only.
    EXPECT_EQ(key.sshInvocation(true, {"-b", "B", "ana@files.example"}, std::nullopt).arguments,
              with(key, "-P", {"-i", home + "/.ssh/id_ed25519", "-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes", "-b", "B",
                               "ana@files.example"}));
    const SFTPStorageProvider::Invocation keySSH = key.sshInvocation(false, {"ana@files.example", "cmd"}, std::nullopt);
    EXPECT_EQ(keySSH.arguments, with(key, "-p", {"-i", home + "/.ssh/id_ed25519", "-o", "IdentitiesOnly=yes", "-o",
                                                 "BatchMode=yes", "ana@files.example", "cmd"}));
    EXPECT_TRUE(keySSH.environment.empty());

    // Password login: BatchMode=no must precede the "-b" that sftp turns into BatchMode=yes.
    profile.sftpAuthMethod = SFTPAuthMethod::password;
    const SFTPStorageProvider passwordLogin(profile, "s3cret pass");
    const SFTPStorageProvider::Invocation withPassword =
        passwordLogin.sshInvocation(true, {"-b", "B", "T"}, fs::path("/tmp/ask.sh"));
    EXPECT_EQ(withPassword.arguments,
              with(passwordLogin, "-P", {"-o", "BatchMode=no", "-o", "PubkeyAuthentication=no", "-o",
                                         "NumberOfPasswordPrompts=1", "-b", "B", "T"}));
    EXPECT_EQ(withPassword.environment, (std::map<std::string, std::string>{{"SSH_ASKPASS", "/tmp/ask.sh"},
                                                                            {"SSH_ASKPASS_REQUIRE", "force"},
                                                                            {"DISPLAY", "vornsled:0"},
                                                                            {"VORNSLED_SSH_PWD", "s3cret pass"},
                                                                            {"LC_ALL", "C.UTF-8"}}));

    // No stored password, and agent login: no prompt can appear, nothing is added to ssh's environment.
    for (const auto& [method, secret] : {std::pair{SFTPAuthMethod::password, std::optional<std::string>()},
                                         std::pair{SFTPAuthMethod::password, std::optional<std::string>("")},
                                         std::pair{SFTPAuthMethod::sshAgent, std::optional<std::string>("x")}}) {
        profile.sftpAuthMethod = method;
        const SFTPStorageProvider provider(profile, secret);
        const SFTPStorageProvider::Invocation invocation = provider.sshInvocation(false, {"T"}, std::nullopt);
        EXPECT_EQ(invocation.arguments, with(provider, "-p", {"-o", "BatchMode=yes", "T"}));
        EXPECT_TRUE(invocation.environment.empty());
    }

    // A known-hosts file is one quoted value, whatever its path holds.
    profile.sftpAuthMethod = SFTPAuthMethod::sshAgent;
    const SFTPStorageProvider pinnedHosts(profile, std::nullopt, fs::path("/t/my \"hosts\" 100%"));
    const auto pinned = pinnedHosts.sshInvocation(false, {}, std::nullopt).arguments;
    EXPECT_EQ(pinned, with(pinnedHosts, "-p",
                           {"-o", "UserKnownHostsFile=\"/t/my \\\"hosts\\\" 100%%\"", "-o", "BatchMode=yes"}));
}

TEST(SFTPStorageProviderArguments, OneSharedConnectionPerTargetAndLogin) {
    ConnectionProfile base;
    base.host = "files.example";
    base.port = 22;
    base.username = "ana";
    base.sftpAuthMethod = SFTPAuthMethod::password;
    const SFTPStorageProvider reference(base, "one", fs::path("/k/hosts"));
    const fs::path socket = reference.sharedConnectionPath().value();
    EXPECT_EQ(socket.parent_path(), VornXDG::privateTemporaryDirectory() / "ssh");
    // A name that tells nothing of the login, short enough for a socket address with ssh's suffix.
    EXPECT_EQ(socket.filename().string().find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_LE(socket.string().size() + 17, 107u);
    EXPECT_EQ(SFTPStorageProvider(base, "one", fs::path("/k/hosts")).sharedConnectionPath(), socket);

    const auto changed = [&](auto change) {
        ConnectionProfile profile = base;
        std::optional<std::string> password = "one";
        std::optional<fs::path> knownHosts = fs::path("/k/hosts");
        change(profile, password, knownHosts);
        return SFTPStorageProvider(profile, password, knownHosts).sharedConnectionPath().value();
    };
    using Change = std::function<void(ConnectionProfile&, std::optional<std::string>&, std::optional<fs::path>&)>;
    const std::pair<std::string, Change> differences[] = {
        {"host", [](auto& p, auto&, auto&) { p.host = "other.example"; }},
        {"port", [](auto& p, auto&, auto&) { p.port = 2222; }},
        {"user", [](auto& p, auto&, auto&) { p.username = "bo"; }},
        {"login method", [](auto& p, auto&, auto&) { p.sftpAuthMethod = SFTPAuthMethod::sshAgent; }},
        {"key file", [](auto& p, auto&, auto&) { p.privateKeyPath = "/k/id"; }},
        {"password", [](auto&, auto& password, auto&) { password = "two"; }},
        {"no password", [](auto&, auto& password, auto&) { password.reset(); }},
        {"known hosts", [](auto&, auto&, auto& hosts) { hosts = fs::path("/k/other"); }},
        {"default known hosts", [](auto&, auto&, auto& hosts) { hosts.reset(); }},
    };
    std::set<fs::path> seen = {socket};
    for (const auto& [what, change] : differences) {
        EXPECT_TRUE(seen.insert(changed(change)).second) << what;
    }
}

TEST(SFTPStorageProviderArguments, TargetAndProfilesSshWouldMisread) {
    ConnectionProfile profile;
    profile.host = "h.example";
    EXPECT_EQ(SFTPStorageProvider(profile, std::nullopt).targetHostString(), "h.example");
    profile.username = "u";
    EXPECT_EQ(SFTPStorageProvider(profile, std::nullopt).targetHostString(), "u@h.example");

    struct Case {
        std::string host, user, message;
    };
    const Case refused[] = {
        {"", "u", "SFTP host is required."},
        {" \t\n", "u", "SFTP host is required."},
        {"-oProxyCommand=touch /tmp/x", "u", "SFTP host must not start"},
        {"host name", "u", "SFTP host must not start"},
        {" h.example", "u", "SFTP host must not start"},
        {"h.example\x01", "u", "SFTP host must not start"},
        {"h.example", "-oProxyCommand=x", "SFTP user name must not start"},
        {"h.example", "a b", "SFTP user name must not start"},
        {"h.example", "a\nb", "SFTP user name must not start"},
    };
    for (const Case& c : refused) {
        const SledError error = expectSledError([&] { offlineProvider(c.host, c.user).testConnection({}); });
        EXPECT_EQ(error.kind(), SledError::Kind::invalidProfile) << c.host << "|" << c.user;
        EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
}

TEST(SFTPStorageProviderArguments, PathsSftpCannotCarryAreRefusedBeforeAnythingRuns) {
    const SFTPStorageProvider provider = offlineProvider();
    const std::string longPath = "/" + std::string(2100, 'a');
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { provider.listDirectory("/a\nrm /x", {}); }, "line break"},
        {[&] { provider.deleteItem("/a\rb", false, {}); }, "line break"},
        {[&] { provider.createDirectory(std::string("/a\0b", 4), {}); }, "NUL"},
        {[&] { provider.listDirectory(longPath, {}); }, "too long"},
        {[&] { provider.renameItem("/a", longPath, false, {}); }, "too long"},
    };
    for (const auto& [call, text] : cases) {
        const SledError error = expectSledError(call);
        EXPECT_EQ(error.kind(), SledError::Kind::remoteCommandFailed);
        EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
    }
    // Renaming a path to itself starts nothing, so even a profile without a host succeeds.
    offlineProvider("").renameItem("/same", "/same", false, {});
}

// An upload ends with a rename from its fragment beside the file (a name of about 90 bytes), so
// its line holds the folder twice; a download's get holds the remote path once. A path whose line
// sftp could not read whole is out of reach before anything runs, with the limit in the message.
TEST(SFTPStorageProviderArguments, PathsTooLongForSftpAreOutOfReachBeforeAnythingRuns) {
    const SFTPStorageProvider provider = offlineProvider();
    const std::string folder = "/" + std::string(900, 'f');
    const std::string longName = folder + "/" + std::string(200, 'n');
    const struct {
        std::string path;
        bool writing;
        std::string refusal;  // empty: within reach
    } cases[] = {
        {folder + "/short.txt", true, ""},
        {folder + "/short.txt", false, ""},
        {longName, true, "at most 2046"},
        {longName, false, ""},
        {"/" + std::string(2100, 'a'), false, "at most 2046"},
        {"/a\nb", true, "line break"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.path.size()) + (c.writing ? " writing" : " reading"));
        const std::optional<std::string> refusal = provider.pathOutOfReach(c.path, c.writing);
        if (c.refusal.empty()) {
            EXPECT_FALSE(refusal.has_value()) << *refusal;
        } else {
            ASSERT_TRUE(refusal.has_value());
            EXPECT_NE(refusal->find(c.refusal), std::string::npos) << *refusal;
        }
    }
}

TEST(SFTPStorageProviderParsing, RemoteDigests) {
    const std::string digest(64, 'a');
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {digest + "\n", digest},
        {"  " + std::string(64, 'A') + "  -\n", digest},
        {"\\" + digest + "\n", digest},  // sha256sum's mark for a name with a backslash or line break
        {std::string(63, 'a') + "\n", std::nullopt},
        {std::string(65, 'a'), std::nullopt},
        {std::string(63, 'a') + "g", std::nullopt},
        {"", std::nullopt},
        {"\n\n", std::nullopt},
    };
    for (const auto& [output, expected] : cases) {
        EXPECT_EQ(SFTPStorageProvider::parseRemoteSHA256(output), expected) << output;
    }
}

TEST(SFTPStorageProviderParsing, SharedDigestsGoOnlyToThePathsTheirLinesName) {
    const std::string a(64, 'a');
    const std::string b(64, 'b');
    const std::string c(64, 'c');
    const std::vector<std::string> paths = {"/d/one", "/d/two words", "-dash", "/d/twice", "/d/clash", "/d/escaped",
                                            "/d/missing"};
    const std::string output = "\n" +                                  // a line of nothing
                               a + "  /d/one\n" +                       // text mode
                               std::string(64, 'B') + " */d/two words\n" +  // binary mode, upper case
                               c + "  ./-dash\n" +                      // as the command gave it
                               a + "  /d/twice\n" + a + "  /d/twice\n" +  // both tools ran
                               a + "  /d/clash\n" + b + "  /d/clash\n" +  // the file changed between them
                               "\\" + c + "  /d/escaped\n" +          // a name the tool escaped
                               b + "  /d/not asked\n" + c + "  /d/one extra\n" + b + " /d/one\n";
    const std::map<std::string, std::string> expected = {
        {"/d/one", a}, {"/d/two words", b}, {"-dash", c}, {"/d/twice", a}};
    EXPECT_EQ(SFTPStorageProvider::parseRemoteSHA256Batch(output, paths), expected);
    EXPECT_EQ(SFTPStorageProvider::remoteSHA256BatchCommand({"/a/it's", "-x"}),
              "{ sha256sum '/a/it'\\''s' './-x' 2>/dev/null || shasum -a 256 '/a/it'\\''s' './-x' 2>/dev/null; }");
}

// Local wall-clock time to an instant, the way the listing's dates are meant.
VornDate localInstant(int year, int month, int day, int hour, int minute) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_isdst = -1;
    return VornDate(std::chrono::seconds(std::mktime(&fields)));
}

TEST(SFTPStorageProviderParsing, FullPathListingOfAwkwardNames) {
    // As OpenSSH's sftp prints `ls -ln /srv/data`: each name as the full path, control characters
    // and ill-formed UTF-8 as octal escapes, a line break in a name as it is.
    const std::string output =
        "sftp> ls -ln \"/srv/data\"\n"
        "-rw-r--r--    ? 1000     1000         12 Mar  5 14:07 /srv/data/a b\n"
        "drwxr-xr-x    ? 1000     1000       4096 Jan  2  2020 /srv/data/sub dir\n"
        "-rw-r--r--    ? 1000     1000          3 Mar  5 14:07 /srv/data/ lead and trail \n"
        "-rw-r--r--    ? 1000     1000          3 Mar  5 14:07 /srv/data/q\"uote and back\\slash\n"
        "-rw-r--r--    ? 1000     1000          3 Mar  5 14:07 /srv/data/ctl\\001 and bad\\377 and tab\tx\n"
        "-rw-r--r--    ? 1000     1000          3 Mar  5 14:07 /srv/data/nl\n"
        "x\n"
        "lrwxrwxrwx    ? 1000     1000          3 Dec 30 23:59 /srv/data/lnk -> 2\n"
        "-rw-r--r--    ? 1000     1000          3 Mar  5 14:07 /srv/data/\xC3\xA7\xC4\x9F\xC4\xB0.txt\n"
        "-rw-r--r--    ? 1000     1000          3 Mar  5 14:07 /srv/data/star*[1]\n";
    const VornDate now = localInstant(2026, 3, 10, 12, 0);
    const std::vector<SledFileEntry> entries = SFTPStorageProvider::parseSFTPLongListing(output, "/srv/data", now);

    std::vector<std::string> names;
    for (const SledFileEntry& entry : entries) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.path, "/srv/data/" + entry.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"sub dir", " lead and trail ", "a b", "\xC3\xA7\xC4\x9F\xC4\xB0.txt",
                                               std::string("ctl\001 and bad\377 and tab\tx"), "lnk -> 2", "nl\nx",
                                               "q\"uote and back\\slash", "star*[1]"}));
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_TRUE(entries[0].isDirectory);
    EXPECT_EQ(entries[0].sizeBytes, 0);
    EXPECT_EQ(entries[0].modifiedAt, localInstant(2020, 1, 2, 0, 0));
    EXPECT_EQ(entries[0].permissions, "drwxr-xr-x");
    EXPECT_EQ(entries[2].sizeBytes, 12);
    EXPECT_EQ(entries[2].modifiedAt, localInstant(2026, 3, 5, 14, 7));
    // "Dec 30 23:59" seen in March lies in the previous year.
    EXPECT_EQ(entries[5].modifiedAt, localInstant(2025, 12, 30, 23, 59));
    EXPECT_FALSE(entries[5].isDirectory);
    EXPECT_FALSE(entries[0].eTag.has_value());
}

TEST(SFTPStorageProviderParsing, BareNameListings) {
    // Listings that give bare names: the root, a link with its target, lines that are no entries.
    const std::string output =
        "total 12\n"
        "-rw-r--r--  1 0 0   abc Jan  1  2001 odd size\n"
        "drwxr-xr-x  2 0 0  4096 Jan  1  2001 .\n"
        "drwxr-xr-x  2 0 0  4096 Jan  1  2001 ..\n"
        "lrwxrwxrwx  1 0 0     7 Jan  1  2001 bin -> usr/bin\n"
        "short\n"
        "crw-rw-rw-  1 0 0  1, 3 Jan  1  2001 null\n"
        "-rw-r--r--  1 0 0     5 Feb 30  2001 bad date\r\n";
    const std::vector<SledFileEntry> entries =
        SFTPStorageProvider::parseSFTPLongListing(output, "/", localInstant(2026, 1, 1, 0, 0));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "bad date\r");
    EXPECT_EQ(entries[0].path, "/bad date\r");
    EXPECT_FALSE(entries[0].modifiedAt.has_value());
    EXPECT_EQ(entries[1].name, "bin");
    EXPECT_EQ(entries[1].path, "/bin");
    EXPECT_FALSE(entries[1].isDirectory);
    EXPECT_EQ(entries[2].name, "odd size");
    EXPECT_EQ(entries[2].sizeBytes, 0);
    EXPECT_EQ(entries[2].modifiedAt, localInstant(2001, 1, 1, 0, 0));

    // The root's own full-path form, and a relative folder.
    const auto root = SFTPStorageProvider::parseSFTPLongListing(
        "-rw-r--r--    ? 0 0 1 Jan  1  2001 /etc\n", "/", localInstant(2026, 1, 1, 0, 0));
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0].path, "/etc");
    const auto relative = SFTPStorageProvider::parseSFTPLongListing(
        "-rw-r--r--    ? 0 0 1 Jan  1  2001 docs/a\n", "docs", localInstant(2026, 1, 1, 0, 0));
    ASSERT_EQ(relative.size(), 1u);
    EXPECT_EQ(relative[0].name, "a");
    EXPECT_EQ(relative[0].path, "docs/a");
}

// A line of a bare listing as sftp prints it inside the folder.
std::string bareLine(std::string_view printedName, char type = '-', int size = 3) {
    return std::string(1, type) + "rw-r--r--    ? 1000     1000     " + std::to_string(size) + " Mar  5 14:07 " +
           std::string(printedName) + "\n";
}

TEST(SFTPStorageProviderParsing, BareListingsTakeOnlyNamesThatAddUp) {
    const VornDate now = localInstant(2026, 3, 10, 12, 0);
    using Names = std::optional<std::vector<std::string>>;
    const std::string forgedLine = "-rw-r--r--    ? 1000     1000     9 Mar  5 14:07 b";
    const std::string forger = "a\n" + forgedLine;
    struct Case {
        std::string what, rows;
        Names names;
        // The names listed, each with its size; absent: the listing is refused.
        std::optional<std::vector<std::pair<std::string, std::int64_t>>> listed;
    };
    const Case cases[] = {
        // A backslash is printed as it is: "\057" never becomes a "/" that leads elsewhere.
        {"escaped slash, exact", bareLine("z\\057..\\057..\\057evil"), Names({"z\\057..\\057..\\057evil"}),
         {{{"z\\057..\\057..\\057evil", 3}}}},
        {"escaped slash, printed only", bareLine("z\\057..\\057..\\057evil"), std::nullopt,
         {{{"z\\057..\\057..\\057evil", 3}}}},
        {"escapes sftp makes", bareLine("c\\001 \\377 \\101"), std::nullopt, {{{"c\001 \377 \\101", 3}}}},
        {"leading and inner spaces", bareLine("  two  spaces "), Names({"  two  spaces "}), {{{"  two  spaces ", 3}}}},
        // A name's line break can print a whole line of its own: only the exact names tell.
        {"forged line, exact", bareLine(forger, '-', 5), Names({forger}), {{{forger, 5}}}},
        {"forged line beside the names it forges", bareLine("a") + bareLine(forger, '-', 5) + bareLine("b"),
         Names({"a", forger, "b"}), {{{"a", 3}, {forger, 5}, {"b", 3}}}},
        // Without them a forged line can only name what is not there: beside the real item it is
        // a second line for one name.
        {"forged line beside the names it forges, printed only", bareLine("a") + bareLine(forger, '-', 5) + bareLine("b"),
         std::nullopt, std::nullopt},
        {"line break, exact", bareLine("nl\nx") + bareLine("y"), Names({"nl\nx", "y"}), {{{"nl\nx", 3}, {"y", 3}}}},
        {"line break with a name like its first line", bareLine("nl") + bareLine("nl\nx"), Names({"nl", "nl\nx"}),
         {{{"nl", 3}, {"nl\nx", 3}}}},
        // A real "\001" and a byte 1 print alike.
        {"two names print alike, exact", bareLine("lit\\001") + bareLine("lit\\001"), Names({"lit\\001", "lit\001"}),
         std::nullopt},
        {"two lines name one item", bareLine("lit\\001") + bareLine("lit\\001"), std::nullopt, std::nullopt},
        {"a name without its line", bareLine("a"), Names({"a", "gone"}), std::nullopt},
        {"a line without its name", bareLine("a") + bareLine("ghost"), Names({"a"}), std::nullopt},
        {"a line sftp cut short", bareLine(std::string(1100, 'n')), Names({std::string(1100, 'n')}), std::nullopt},
        {"a name no file can have", bareLine("../x"), std::nullopt, std::nullopt},
        {"empty folder", "", Names(std::vector<std::string>{}), {{}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<std::vector<SledFileEntry>> entries;
        try {
            entries = SFTPStorageProvider::readBareListing(c.rows, "/srv/d", c.names, now);
        } catch (const SledError& error) {
            EXPECT_EQ(error.kind(), SledError::Kind::remoteCommandFailed);
            EXPECT_NE(error.message().find("cannot be read unambiguously"), std::string::npos) << error.message();
        }
        ASSERT_EQ(entries.has_value(), c.listed.has_value());
        if (!entries) {
            continue;
        }
        std::vector<std::pair<std::string, std::int64_t>> listed;
        for (const SledFileEntry& entry : *entries) {
            listed.emplace_back(entry.name, entry.sizeBytes);
            EXPECT_EQ(entry.path, "/srv/d/" + entry.name);
            EXPECT_EQ(entry.modifiedAt, localInstant(2026, 3, 5, 14, 7));
        }
        EXPECT_EQ(listed, *c.listed);
    }

    // The full-path form keeps a printed "\057" too, and leaves out a name that would leave the folder.
    const auto full = SFTPStorageProvider::parseSFTPLongListing(
        "-rw-r--r--    ? 0 0 1 Jan  1  2001 /srv/d/z\\057..\\057x\n"
        "-rw-r--r--    ? 0 0 1 Jan  1  2001 /srv/d/../../etc/x\n",
        "/srv/d", now);
    ASSERT_EQ(full.size(), 1u);
    EXPECT_EQ(full[0].path, "/srv/d/z\\057..\\057x");
}

// ---- Against the loopback sshd -----------------------------------------------------------------

TEST_F(SFTPLiveTest, KeyPasswordAndAgentLoginAndTheirRefusals) {
    sftpTestProvider().testConnection({});

    const std::string password = VornTestServices::value("SSHD_PASSWORD");
    const fs::path knownHosts = VornTestServices::value("SSHD_KNOWN_HOSTS");
    SFTPStorageProvider(sftpTestProfile(SFTPAuthMethod::password), password, knownHosts).testConnection({});

    // The agent holds the client key; neither a key file nor a password is given.
    VornTestTempDir agentDir;
    const std::string socket = (agentDir / "agent.sock").string();
    const VornShellResult agent = vornShell("ssh-agent -s -a " + vornShellQuote(socket));
    ASSERT_EQ(agent.exitCode, 0) << agent.output;
    const std::size_t pidAt = agent.output.find("SSH_AGENT_PID=");
    ASSERT_NE(pidAt, std::string::npos);
    const pid_t agentPid = std::stoi(agent.output.substr(pidAt + 14));
    {
        VornScopedEnv agentSocket("SSH_AUTH_SOCK", socket);
        ASSERT_EQ(vornShell("ssh-add " + vornShellQuote(VornTestServices::value("SSHD_KEY"))).exitCode, 0);
        SFTPStorageProvider(sftpTestProfile(SFTPAuthMethod::sshAgent), std::nullopt, knownHosts).testConnection({});
    }
    ::kill(agentPid, SIGTERM);

    // A wrong password, no password (batch mode, no key), and a server whose key is not the pinned one.
    VornTestTempDir other;
    ASSERT_EQ(vornShell("ssh-keygen -q -t ed25519 -N '' -f " + vornShellQuote((other / "k").string())).exitCode, 0);
    const std::string wrongHosts = "[" + VornTestServices::value("SSHD_HOST") + "]:" +
                                   VornTestServices::value("SSHD_PORT") + " " +
                                   vornReadFile(other / "k.pub").substr(0, vornReadFile(other / "k.pub").rfind(' '));
    const fs::path wrongKnownHosts = other.write("known_hosts", wrongHosts + "\n");
    const std::vector<SFTPStorageProvider> refused = {
        SFTPStorageProvider(sftpTestProfile(SFTPAuthMethod::password), "not-" + password, knownHosts),
        SFTPStorageProvider(sftpTestProfile(SFTPAuthMethod::password), std::nullopt, knownHosts),
        SFTPStorageProvider(sftpTestProfile(SFTPAuthMethod::sshKey), std::nullopt, wrongKnownHosts),
    };
    for (const SFTPStorageProvider& provider : refused) {
        const SledError error = expectSledError([&] { provider.testConnection({}); });
        EXPECT_EQ(error.kind(), SledError::Kind::remoteCommandFailed);
        EXPECT_GT(std::string(error.what()).size(), std::string("Remote operation failed: ").size());
    }
    EXPECT_EQ(vornReadFile(wrongKnownHosts), wrongHosts + "\n") << "a changed host key was recorded";

    // A port nobody listens on fails at once with ssh's reason.
    ConnectionProfile closed = sftpTestProfile(SFTPAuthMethod::sshKey);
    closed.port = 1;
    const SledError refusedConnection =
        expectSledError([&] { SFTPStorageProvider(closed, std::nullopt, knownHosts).testConnection({}); });
    EXPECT_NE(std::string(refusedConnection.what()).find("refused"), std::string::npos) << refusedConnection.what();
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
}

TEST_F(SFTPLiveTest, RoundTripsOfAwkwardNamesWithDigestsAndListing) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const SFTPStorageProvider byPassword(sftpTestProfile(SFTPAuthMethod::password), VornTestServices::value("SSHD_PASSWORD"),
                                        fs::path(VornTestServices::value("SSHD_KNOWN_HOSTS")));
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    const std::string names[] = {"with space.txt", "q\"uote back\\slash", "star* br[1] ?",
                                 "it's \xC3\xA7\xC4\x9F\xC4\xB0 \xE2\x82\xAC.txt", " lead\ttab trail ", "-dash"};
    // Within the last half-year the listing shows the time to the minute.
    const VornDate when = std::chrono::floor<std::chrono::minutes>(vornDateNow() - std::chrono::days(10));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string content = "content " + std::to_string(i) + " of " + names[i];
        const fs::path source = local.write("up-" + std::to_string(i), content);
        fs::last_write_time(source, fs::file_time_type::clock::from_sys(when));
        const std::string digest = VornChecksum::sha256(source);
        const SFTPStorageProvider& through = i % 2 == 0 ? provider : byPassword;
        std::vector<std::pair<std::int64_t, std::int64_t>> progress;
        through.uploadFile(source, remote / names[i], digest,
                           [&](std::int64_t done, std::int64_t total) { progress.emplace_back(done, total); }, {});
        EXPECT_EQ(progress, (std::vector<std::pair<std::int64_t, std::int64_t>>{
                                {std::int64_t(content.size()), std::int64_t(content.size())}}));
        EXPECT_EQ(vornReadFile(remote / names[i]), content) << names[i];

        const fs::path back = local / "down" / "nested" / ("back-" + std::to_string(i));
        const SledDownloadResult result = through.downloadFile(remote / names[i], back, {}, {});
        EXPECT_EQ(result.bytes, std::int64_t(content.size()));
        EXPECT_EQ(result.remoteSHA256, digest) << names[i];
        EXPECT_EQ(vornReadFile(back), content);
    }
    provider.createDirectory(remote / "sub [dir]", {});

    const std::vector<SledFileEntry> listed = provider.listDirectory(remote.path(), {});
    ASSERT_EQ(listed.size(), std::size(names) + 1);
    EXPECT_EQ(listed[0].name, "sub [dir]");
    EXPECT_TRUE(listed[0].isDirectory);
    for (const SledFileEntry& entry : listed) {
        EXPECT_EQ(entry.path, remote / entry.name);
        if (!entry.isDirectory) {
            EXPECT_NE(std::find(std::begin(names), std::end(names), entry.name), std::end(names)) << entry.name;
            EXPECT_EQ(entry.modifiedAt, when) << entry.name;  // put -p kept the time; the listing reads it back
            EXPECT_EQ(entry.permissions.value_or("").front(), '-');
        }
    }
    // Each listed path works unchanged with the provider's other operations.
    for (const SledFileEntry& entry : listed) {
        provider.deleteItem(entry.path, entry.isDirectory, {});
    }
    EXPECT_TRUE(provider.listDirectory(remote.path(), {}).empty());
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
    EXPECT_FALSE(folderHoldsPrefix(local / "down" / "nested", ".vornsled-download-"));
}

TEST_F(SFTPLiveTest, NamesOnlyTheServerCouldMake) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    const std::string names[] = {std::string("ctl\001x"), "bad\377x", "nl\nx", "del\177", "cr\rx", "a -> b"};
    for (const std::string& name : names) {
        std::ofstream(remote / name) << name;
    }
    ASSERT_EQ(::symlink("a -> b", (remote / "link -> there").c_str()), 0);

    std::vector<std::string> listed;
    for (const SledFileEntry& entry : provider.listDirectory(remote.path(), {})) {
        listed.push_back(entry.name);
        EXPECT_EQ(entry.path, remote / entry.name);
    }
    std::vector<std::string> expected(std::begin(names), std::end(names));
    expected.push_back("link -> there");
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);

    // Ill-formed UTF-8 and control characters travel as bytes; a line break cannot go into a batch.
    VornTestTempDir local;
    const SledDownloadResult bytes = provider.downloadFile(remote / "bad\377x", local / "b", {}, {});
    EXPECT_EQ(vornReadFile(local / "b"), "bad\377x");
    EXPECT_EQ(bytes.remoteSHA256, VornChecksum::sha256(local / "b"));
    provider.deleteItem(remote / "ctl\001x", false, {});
    EXPECT_FALSE(fs::exists(remote / "ctl\001x"));
    const SledError error = expectSledError([&] { provider.downloadFile(remote / "nl\nx", local / "n", {}, {}); });
    EXPECT_NE(std::string(error.what()).find("line break"), std::string::npos);
    EXPECT_FALSE(fs::exists(local / "n"));
}

TEST_F(SFTPLiveTest, RenameRefusesAnExistingTargetAndMkdirRmdirFailLoudly) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    std::ofstream(remote / "x.txt") << "x";
    std::ofstream(remote / "y.txt") << "y";

    const SledError exists = expectSledError([&] { provider.renameItem(remote / "x.txt", remote / "y.txt", false, {}); });
    EXPECT_EQ(exists.kind(), SledError::Kind::remoteCommandFailed);
    EXPECT_STREQ(exists.what(), "Remote operation failed: An item named 'y.txt' already exists.");
    EXPECT_EQ(vornReadFile(remote / "x.txt"), "x");
    EXPECT_EQ(vornReadFile(remote / "y.txt"), "y");

    provider.createDirectory(remote / "d", {});
    EXPECT_STREQ(expectSledError([&] { provider.renameItem(remote / "x.txt", remote / "d", false, {}); }).what(),
                 "Remote operation failed: An item named 'd' already exists.");
    provider.renameItem(remote / "x.txt", remote / "d/moved 'x'.txt", false, {});
    EXPECT_EQ(vornReadFile(remote / "d/moved 'x'.txt"), "x");

    // A missing source is sftp's own error, not "already exists".
    const SledError missing = expectSledError([&] { provider.renameItem(remote / "nope", remote / "z", false, {}); });
    EXPECT_EQ(std::string(missing.what()).find("already exists"), std::string::npos) << missing.what();

    // One level only: mkdir of an existing folder, rmdir of a full one, rm of a missing file all fail.
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { provider.createDirectory(remote / "d", {}); },
             [&] { provider.deleteItem(remote / "d", true, {}); },
             [&] { provider.deleteItem(remote / "nope", false, {}); },
             [&] { provider.listDirectory(remote / "nope", {}); },
         }) {
        EXPECT_EQ(expectSledError(call).kind(), SledError::Kind::remoteCommandFailed);
    }
    EXPECT_TRUE(fs::is_directory(remote / "d"));
}

TEST_F(SFTPLiveTest, WrongDigestIsAMismatchAndTheFileThatWasThereStays) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    const fs::path source = local.write("report.pdf", "the real bytes");
    std::ofstream(remote / "report.pdf") << "the old bytes";
    const std::string wrong(64, 'b');
    const SledError error = expectSledError([&] { provider.uploadFile(source, remote / "report.pdf", wrong, {}, {}); });
    EXPECT_EQ(error.kind(), SledError::Kind::checksumMismatch);
    EXPECT_EQ(error.fileName(), "report.pdf");
    EXPECT_EQ(error.expected(), wrong);
    EXPECT_EQ(error.actual(), VornChecksum::sha256(source));
    EXPECT_EQ(vornReadFile(remote / "report.pdf"), "the old bytes");
    EXPECT_EQ(std::distance(fs::directory_iterator(remote.path()), fs::directory_iterator()), 1)
        << "the checked copy is gone";

    // The caller's digest in upper case is the same digest.
    std::string upper = VornChecksum::sha256(source);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    provider.uploadFile(source, remote / "report.pdf", upper, {}, {});
    EXPECT_EQ(vornReadFile(remote / "report.pdf"), "the real bytes");

    // The mismatch names the file where it was going, not the local copy it came from.
    const fs::path copy = local.write("vornsled-edit-0F1E-report.pdf", "the real bytes");
    const SledError renamed = expectSledError([&] { provider.uploadFile(copy, remote / "final.pdf", wrong, {}, {}); });
    EXPECT_EQ(renamed.kind(), SledError::Kind::checksumMismatch);
    EXPECT_EQ(renamed.fileName(), "final.pdf");
}

// A download's fragment left by a killed process (its lock gone) goes when the same destination is
// downloaded again; one still held by its writer stays.
TEST_F(SFTPLiveTest, DownloadFragmentsOfKilledProcessesGoWhenTheSameDestinationIsWrittenAgain) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    std::ofstream(remote / "report.pdf") << "new bytes";
    local.write("down/report.pdf", "old local");
    const std::string killed = sledSiblingName("report.pdf", "lock", "download");
    local.write("down/" + killed, "left");
    fs::create_directories(local / "down");
    const SledHeldFile running = sledCreateHeldFile(sledHiddenSibling(local / "down" / "report.pdf", "download"), 0600);
    provider.downloadFile(remote / "report.pdf", local / "down" / "report.pdf", {}, {});
    EXPECT_EQ(vornReadFile(local / "down" / "report.pdf"), "new bytes");
    EXPECT_FALSE(fs::exists(local / "down" / killed));
    EXPECT_TRUE(fs::exists(running.path));
}

// An upload's fragment left by a killed or cut-off upload goes when the same destination is
// uploaded again, once both its start (in its name) and its last write are more than a day old.
// Younger ones may be another instance's upload under way; other destinations' are not this
// upload's business; a name that tells neither destination nor start is not recognised.
TEST_F(SFTPLiveTest, AbandonedUploadFragmentsGoWhenTheSameDestinationIsUploadedAgain) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    const fs::path source = local.write("report.pdf", "new bytes");
    std::ofstream(remote / "report.pdf") << "old bytes";

    const auto now = std::chrono::system_clock::now();
    const auto fragment = [](const std::string& destination, std::chrono::system_clock::time_point start) {
        return ".vornsled-upload-" + VornUUID::random().uuidString() + "." + sledDestinationKey(destination) + "." +
               std::to_string(std::chrono::floor<std::chrono::seconds>(start).time_since_epoch().count()) + ".part";
    };
    struct Case {
        std::string what;
        std::string name;
        std::chrono::system_clock::time_point lastWrite;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"abandoned two days ago", fragment("report.pdf", now - 48h), now - 48h, true},
        {"another instance's, being written", fragment("report.pdf", now - 1min), now, false},
        {"started two days ago, still being written", fragment("report.pdf", now - 48h), now, false},
        {"whole, dated by put -p, awaiting its rename", fragment("report.pdf", now - 1min), now - 720h, false},
        {"abandoned, of another destination", fragment("other.pdf", now - 48h), now - 48h, false},
        {"of a name that tells no destination", ".vornsled-upload-" + VornUUID::random().uuidString() + ".part",
         now - 48h, false},
    };
    for (const Case& item : cases) {
        std::ofstream(remote / item.name) << "part";
        fs::last_write_time(remote / item.name,
                            std::chrono::file_clock::from_sys(item.lastWrite));
    }

    provider.uploadFile(source, remote / "report.pdf", VornChecksum::sha256(source), {}, {});
    EXPECT_EQ(vornReadFile(remote / "report.pdf"), "new bytes");
    for (const Case& item : cases) {
        EXPECT_EQ(fs::exists(remote / item.name), !item.removed) << item.what;
    }
}

// Waits, without a clock, until `ready` holds; the tests' own time-out ends a run that never gets there.
template <typename Predicate>
void waitUntil(Predicate ready) {
    while (!ready()) {
        std::this_thread::yield();
    }
}

// A refused password is one failed login on the server, not one per prompt ssh would otherwise
// give: servers that ban an address after a few count each. The name is one no other test logs in
// with, so the server's log tells this test's attempts from the others'.
TEST_F(SFTPLiveTest, AWrongPasswordIsOneFailedLogin) {
    const std::string name = "vornwrong" + VornUUID::random().uuidString().substr(0, 8);
    const auto logged = [&name](const std::string& before) {
        const std::string log = vornReadFile(VornTestServices::value("SSHD_LOG"));
        const std::string line = before + " invalid user " + name + " ";
        int count = 0;
        for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
            ++count;
        }
        return count;
    };
    ConnectionProfile profile = sftpTestProfile(SFTPAuthMethod::password);
    profile.username = name;
    const SFTPStorageProvider provider(profile, "not the password",
                                       fs::path(VornTestServices::value("SSHD_KNOWN_HOSTS")));
    for (int attempt = 1; attempt <= 2; ++attempt) {
        const SledError refused = expectSledError([&] { provider.testConnection({}); });
        EXPECT_EQ(refused.kind(), SledError::Kind::remoteCommandFailed);
        EXPECT_NE(std::string(refused.what()).find("Permission denied"), std::string::npos) << refused.what();
        EXPECT_EQ(std::string(refused.what()).find("try again"), std::string::npos) << refused.what();
        // The server logs the end of the connection once the client has gone.
        waitUntil([&] { return logged("Connection closed by") == attempt; });
        EXPECT_EQ(logged("Failed password for"), attempt);
    }
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
}

TEST_F(SFTPLiveTest, CancelledTransfersLeaveNoFragmentNoTemporaryFileAndNoChild) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    // Large but sparse: cheap to make, slow enough to be caught mid-transfer.
    {
        std::ofstream big(remote / "big.bin");
    }
    fs::resize_file(remote / "big.bin", std::uintmax_t(8) << 30);
    const fs::path destination = local.write("dest/big.bin", "the old copy");

    std::stop_source download;
    std::jthread canceller([&] {
        waitUntil([&] { return folderHoldsPrefix(local / "dest", ".vornsled-download-"); });
        download.request_stop();
    });
    EXPECT_THROW(provider.downloadFile(remote / "big.bin", destination, {}, download.get_token()), VornTaskCancelled);
    canceller.join();
    EXPECT_EQ(vornReadFile(destination), "the old copy");
    EXPECT_FALSE(folderHoldsPrefix(local / "dest", ".vornsled-download-"));

    // An upload over an existing remote file, cancelled once its fragment exists.
    const fs::path source = local / "up.bin";
    {
        std::ofstream(source) << "";
    }
    fs::resize_file(source, std::uintmax_t(8) << 30);
    std::ofstream(remote / "target.bin") << "the old remote copy";
    std::stop_source upload;
    std::jthread uploadCanceller([&] {
        waitUntil([&] { return folderHoldsPrefix(remote.path(), ".vornsled-upload-"); });
        upload.request_stop();
    });
    EXPECT_THROW(provider.uploadFile(source, remote / "target.bin", std::nullopt, {}, upload.get_token()),
                 VornTaskCancelled);
    uploadCanceller.join();
    EXPECT_EQ(vornReadFile(remote / "target.bin"), "the old remote copy");
    EXPECT_FALSE(folderHoldsPrefix(remote.path(), ".vornsled-upload-"));

    // Once the idle sessions are closed no client is left: the cancelled operations' own ended with
    // them. The connection they shared stays for the next one.
    const fs::path socket = provider.sharedConnectionPath().value();
    SFTPStorageProvider::closeIdleSessions();
    EXPECT_EQ(operationClients(socket), std::vector<std::string>());
    EXPECT_EQ(sharedConnectionProcesses(socket).size(), 1u);

    // The server ends the session mid-transfer: the test daemon's session processes are killed.
    const pid_t daemon = std::stoi(vornReadFile(fs::path(VornTestServices::value("SSHD_KNOWN_HOSTS")).parent_path() /
                                                "sshd.pid"));
    std::atomic<bool> finished = false;
    std::jthread server([&] {
        waitUntil([&] { return folderHoldsPrefix(local / "dest", ".vornsled-download-") || finished; });
        // Only the session serving this download goes (other tests share the daemon): every
        // process of the session whose server has the file open, all at once, before any can react.
        std::vector<pid_t> serving;
        waitUntil([&] {
            for (const pid_t monitor : vornChildProcesses(daemon)) {
                std::vector<pid_t> session = {monitor};
                bool servesTheFile = false;
                for (std::size_t i = 0; i < session.size(); ++i) {
                    for (const pid_t child : vornChildProcesses(session[i])) {
                        session.push_back(child);
                    }
                    try {
                        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(session[i]) + "/fd")) {
                            std::error_code error;
                            servesTheFile |= fs::read_symlink(fd.path(), error) == fs::path(remote / "big.bin");
                        }
                    } catch (const fs::filesystem_error&) {
                        // the process ended meanwhile
                    }
                }
                if (servesTheFile) {
                    serving = session;
                }
            }
            return !serving.empty() || finished;
        });
        for (const pid_t process : serving) {
            ::kill(process, SIGKILL);
        }
    });
    const SledError closed = expectSledError([&] { provider.downloadFile(remote / "big.bin", destination, {}, {}); });
    finished = true;
    server.join();
    EXPECT_EQ(closed.kind(), SledError::Kind::remoteCommandFailed);
    EXPECT_FALSE(closed.message().empty());
    EXPECT_EQ(vornReadFile(destination), "the old copy");
    EXPECT_FALSE(folderHoldsPrefix(local / "dest", ".vornsled-download-"));

    EXPECT_TRUE(leftoverTemporaryFiles().empty());
    SFTPStorageProvider::closeIdleSessions();
    EXPECT_EQ(childProcessCount(), 0);
    EXPECT_EQ(operationClients(socket), std::vector<std::string>());

    // A token already stopped starts nothing.
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(provider.listDirectory(remote.path(), stopped.get_token()), VornTaskCancelled);
}

TEST_F(SFTPLiveTest, ParallelOperationsKeepTheirOwnFiles) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    std::vector<std::jthread> workers;
    std::atomic<int> good = 0;
    for (int i = 0; i < 6; ++i) {
        workers.emplace_back([&, i] {
            const std::string name = "file " + std::to_string(i);
            const fs::path source = local.write(name, std::string(10000 + i, char('a' + i)));
            provider.uploadFile(source, remote / name, VornChecksum::sha256(source), {}, {});
            const SledDownloadResult back = provider.downloadFile(remote / name, local / ("back " + name), {}, {});
            good += back.remoteSHA256 == VornChecksum::sha256(source) ? 1 : 0;
        });
    }
    workers.clear();
    EXPECT_EQ(good, 6);
    EXPECT_EQ(provider.listDirectory(remote.path(), {}).size(), 6u);
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
}

// Digests asked for at the same time share remote runs, and each caller still gets its own file's
// digest: none for a file that is not there, a name the runs cannot carry asked for alone, and a
// caller cancelled while it waits, or while its run is under way, leaves the others theirs. A pipe
// that nobody writes to holds a run for as long as the test needs the others to queue behind it.
TEST_F(SFTPLiveTest, DigestsAskedForTogetherEachGetTheirOwn) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    const auto holdingPipe = [&](const std::string& name) {
        const std::string path = remote / name;
        EXPECT_EQ(::mkfifo(path.c_str(), 0666), 0);
        EXPECT_EQ(::chmod(path.c_str(), 0666), 0);
        return path;
    };
    const auto hashing = [](const std::string& path) {
        return !processesNaming("sha256sum '" + path + "'").empty() || !processesNaming("sha256sum " + path).empty();
    };
    const auto release = [](const std::string& pipe, std::string_view bytes) {
        // Non-blocking: a run that was ended has no reader left to wait for.
        const VornUniqueFd writer(::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (writer) {
            EXPECT_EQ(::write(writer.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        }
    };

    std::map<std::string, std::string> contents;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "file " + std::to_string(i) + (i % 2 ? ".bin" : " it's.txt");
        contents[remote / name] = std::string(1000 + 997 * i, char('a' + i));
        std::ofstream(remote / name) << contents[remote / name];
    }
    const std::string awkward = remote / "back\\slash";
    std::ofstream(awkward) << "alone";

    // The first run waits on the pipe; the others queue behind it.
    const std::string firstPipe = holdingPipe("first");
    std::optional<std::string> firstDigest;
    std::jthread first([&] { firstDigest = provider.computeRemoteSHA256Shared(firstPipe, {}); });
    waitUntil([&] { return hashing(firstPipe); });
    std::map<std::string, std::optional<std::string>> digests;
    std::mutex digestsLock;
    std::vector<std::jthread> askers;
    for (const auto& [path, bytes] : contents) {
        askers.emplace_back([&, path = path] {
            const std::optional<std::string> digest = provider.computeRemoteSHA256Shared(path, {});
            const std::lock_guard guard(digestsLock);
            digests[path] = digest;
        });
    }
    std::optional<std::string> missing = "unset";
    askers.emplace_back([&] { missing = provider.computeRemoteSHA256Shared(remote / "missing", {}); });
    std::stop_source giveUp;
    std::atomic<bool> gaveUp = false;
    askers.emplace_back([&] {
        try {
            provider.computeRemoteSHA256Shared(remote / "file 0 it's.txt", giveUp.get_token());
        } catch (const VornTaskCancelled&) {
            gaveUp = true;
        }
    });
    // Not held up by the queue: its name goes alone.
    EXPECT_EQ(provider.computeRemoteSHA256Shared(awkward, {}), VornSHA256::hexDigest("alone"));
    giveUp.request_stop();
    waitUntil([&] { return gaveUp.load(); });
    release(firstPipe, "first bytes");
    first.join();
    askers.clear();
    EXPECT_EQ(firstDigest, VornSHA256::hexDigest("first bytes"));
    EXPECT_EQ(missing, std::nullopt);
    for (const auto& [path, bytes] : contents) {
        EXPECT_EQ(digests[path], VornSHA256::hexDigest(bytes)) << path;
    }

    // The caller whose run is held is cancelled: the ones queued behind it get theirs all the same.
    const std::string secondPipe = holdingPipe("second");
    std::stop_source cancelHeld;
    std::atomic<bool> heldGaveUp = false;
    std::jthread held([&] {
        try {
            provider.computeRemoteSHA256Shared(secondPipe, cancelHeld.get_token());
        } catch (const VornTaskCancelled&) {
            heldGaveUp = true;
        }
    });
    waitUntil([&] { return hashing(secondPipe); });
    digests.clear();
    for (const auto& [path, bytes] : contents) {
        askers.emplace_back([&, path = path] {
            const std::optional<std::string> digest = provider.computeRemoteSHA256Shared(path, {});
            const std::lock_guard guard(digestsLock);
            digests[path] = digest;
        });
    }
    cancelHeld.request_stop();
    held.join();
    askers.clear();
    EXPECT_TRUE(heldGaveUp);
    for (const auto& [path, bytes] : contents) {
        EXPECT_EQ(digests[path], VornSHA256::hexDigest(bytes)) << path;
    }
    release(secondPipe, "");
}

// A small download is hashed on the server once it is here. The server's file replaced between the
// copy and its hashing gives a digest the copy does not have: the download fails, never verified,
// and the file that was at the destination stays.
TEST_F(SFTPLiveTest, ASmallFileReplacedOnTheServerBeforeItIsHashedIsNeverReportedVerified) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    const VornTestTempDir local;
    const std::string copied = "the bytes that were copied";
    std::ofstream(remote / "small.txt") << copied;
    const fs::path destination = local.write("small.txt", "the file that was here");
    // A hashing run held on a pipe keeps the download's digest waiting behind it.
    const std::string pipe = remote / "held";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(pipe.c_str(), 0666), 0);
    std::jthread holder([&] { provider.computeRemoteSHA256Shared(pipe, {}); });
    waitUntil([&] { return !processesNaming("sha256sum " + pipe).empty(); });

    SledTransferJobSpec job{VornUUID::random(), "small.txt", remote / "small.txt", destination.string(),
                            static_cast<std::int64_t>(copied.size()), SledTransferDirection::download};
    job.destinationRoot = local.path().string();
    std::vector<SledTransferJobResult> results;
    std::jthread run([&] {
        results = ParallelSledTransferEngine().executeBatch({job}, provider, LocalFileProvider(), 1, true, {});
    });
    // The copy is whole once a hidden file beside the destination holds every byte of it.
    waitUntil([&] {
        for (const auto& entry : fs::directory_iterator(local.path())) {
            std::error_code error;
            if (entry.path().filename().string().starts_with(".vornsled-") &&
                fs::file_size(entry.path(), error) == copied.size()) {
                return true;
            }
        }
        return false;
    });
    vornWriteFileAtomically(remote / "small.txt", "replaced after the copy", 0644);
    {
        const VornUniqueFd writer(::open(pipe.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_TRUE(writer);
    }
    holder.join();
    run.join();

    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].success);
    EXPECT_FALSE(results[0].isVerified);
    EXPECT_NE(results[0].errorMessage.value_or("").find("SHA-256"), std::string::npos)
        << results[0].errorMessage.value_or("");
    EXPECT_EQ(vornReadFile(destination), "the file that was here");
    EXPECT_FALSE(folderHoldsPrefix(local.path(), ".vornsled-"));
}

TEST_F(SFTPLiveTest, SessionsServeOperationAfterOperationAndCloseWhenIdle) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    const fs::path socket = provider.sharedConnectionPath().value();
    SFTPStorageProvider::closeIdleSessions();

    const auto roundTrip = [&](const std::string& name) {
        const fs::path source = local.write(name, "contents of " + name);
        provider.uploadFile(source, remote / name, VornChecksum::sha256(source), {}, {});
        return provider.downloadFile(remote / name, local / ("back " + name), {}, {}).remoteSHA256 ==
               VornChecksum::sha256(source);
    };
    // One worker: one sftp and one shell, the same two processes for every file.
    ASSERT_TRUE(roundTrip("first"));
    const std::map<pid_t, std::string> sessions = clientProcesses(socket);
    ASSERT_EQ(sessions.size(), 3u) << ::testing::PrintToString(sessions);  // sftp and its ssh; ssh for the shell
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(roundTrip("file " + std::to_string(i)));
    }
    EXPECT_EQ(clientProcesses(socket), sessions);

    // A failing line ends its session with the server's words; the next operation gets a new one.
    const SledError missing = expectSledError([&] { provider.deleteItem(remote / "no such file", false, {}); });
    EXPECT_EQ(missing.kind(), SledError::Kind::remoteCommandFailed);
    EXPECT_NE(missing.message().find("no such file"), std::string::npos) << missing.message();
    EXPECT_EQ(provider.listDirectory(remote.path(), {}).size(), 11u);

    // A session that dies while idle is replaced without the operation noticing.
    for (const auto& [pid, commandLine] : clientProcesses(socket)) {
        if (commandLine.find(" -b - ") != std::string::npos) {
            ::kill(pid, SIGKILL);
            waitUntil([pid = pid] { return !vornProcessIsRunning(pid); });
        }
    }
    EXPECT_EQ(provider.listDirectory(remote.path(), {}).size(), 11u);

    // A one-off command still runs on the same connection, its own process gone when it ends.
    const VornProcessResult once = provider.runSSHExecutable(
        VornBinaryLocator::locate("ssh").value(), {provider.targetHostString(), "printf 'ran once'"}, false, {});
    EXPECT_EQ(once.exitCode, 0);
    EXPECT_EQ(once.stdout, "ran once");
    EXPECT_EQ(sharedConnectionProcesses(socket, true).size(), 1u);

    // Unused for a few seconds, the sessions close by themselves; the connection stays.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!clientProcesses(socket).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(operationClients(socket), std::vector<std::string>());
    EXPECT_EQ(sharedConnectionProcesses(socket).size(), 1u);
    EXPECT_EQ(childProcessCount(), 0);
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
}

TEST_F(SFTPLiveTest, LargeTransfersReportProgressAsTheyGo) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    constexpr std::int64_t size = std::int64_t(256) << 20;
    const fs::path source = local / "large.bin";
    std::ofstream(source).close();
    fs::resize_file(source, static_cast<std::uintmax_t>(size));

    struct Report {
        std::int64_t done, total;
    };
    // Reports along the way, each at least as far as the one before and one of them short of the
    // end, then the whole.
    const auto checkAlongTheWay = [size](const std::vector<Report>& reports, std::int64_t totalAlongTheWay) {
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports.back().done, size);
        EXPECT_EQ(reports.back().total, size);
        EXPECT_LT(reports.front().done, size);
        for (std::size_t i = 0; i + 1 < reports.size(); ++i) {
            EXPECT_LE(reports[i].done, size);
            EXPECT_EQ(reports[i].total, totalAlongTheWay);
            EXPECT_LE(i == 0 ? 0 : reports[i - 1].done, reports[i].done);
        }
    };

    std::vector<Report> up;
    provider.uploadFile(source, remote / "large.bin", std::nullopt,
                        [&up](std::int64_t done, std::int64_t total) { up.push_back({done, total}); }, {});
    checkAlongTheWay(up, size);

    std::vector<Report> down;
    provider.downloadFile(remote / "large.bin", local / "back.bin",
                          [&down](std::int64_t done, std::int64_t total) { down.push_back({done, total}); }, {});
    checkAlongTheWay(down, 0);  // the size of the server's file is not asked for
    EXPECT_EQ(fs::file_size(local / "back.bin"), static_cast<std::uintmax_t>(size));
}

TEST_F(SFTPLiveTest, AnSFTPOnlyLoginTransfersWithoutServerDigests) {
    // The server gives this key file transfer and nothing else: no shell for sha256sum.
    const TestClientKey key("command=\"internal-sftp\"");
    const SFTPStorageProvider provider = key.provider();
    const RemoteFolder remote(sftpTestProvider());
    VornTestTempDir local;
    const fs::path source = local.write("data.bin", std::string(70000, 'q'));

    const auto started = std::chrono::steady_clock::now();
    provider.uploadFile(source, remote / "data.bin", VornChecksum::sha256(source), {}, {});
    const SledDownloadResult back = provider.downloadFile(remote / "data.bin", local / "back.bin", {}, {});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(back.remoteSHA256, std::nullopt);
    EXPECT_EQ(vornReadFile(local / "back.bin"), vornReadFile(source));
    EXPECT_EQ(provider.computeRemoteSHA256(remote / "data.bin", {}), std::nullopt);
}

TEST_F(SFTPLiveTest, WorkersShareLoginsThatOutliveCancellationAndCloseOnRequest) {
    // A client key of this test's own: the server's log then tells its logins from other tests'.
    const TestClientKey key;
    const auto logins = [&key] { return key.logins(); };
    const SFTPStorageProvider provider = key.provider();
    const fs::path socket = provider.sharedConnectionPath().value();
    const RemoteFolder remote(sftpTestProvider());
    VornTestTempDir local;

    // Six workers start at once: every digest right, and logins only for the connections they need.
    std::latch start(6);
    std::atomic<int> good = 0;
    {
        std::vector<std::jthread> workers;
        for (int i = 0; i < 6; ++i) {
            workers.emplace_back([&, i] {
                const std::string name = "w" + std::to_string(i);
                const fs::path source = local.write(name, std::string(5000 + i, char('k' + i)));
                start.arrive_and_wait();
                provider.uploadFile(source, remote / name, VornChecksum::sha256(source), {}, {});
                good += provider.downloadFile(remote / name, local / ("back-" + name), {}, {}).remoteSHA256 ==
                        VornChecksum::sha256(source);
            });
        }
    }
    EXPECT_EQ(good, 6);
    // One login for each connection: as many as their sessions needed, never one per operation.
    const std::vector<pid_t> connections = sharedConnectionProcesses(socket, true);
    EXPECT_EQ(logins(), static_cast<int>(connections.size()));
    EXPECT_LE(connections.size(), std::size_t(SFTPStorageProvider::maximumSharedConnections));
    const std::vector<pid_t> holder = sharedConnectionProcesses(socket);
    ASSERT_EQ(holder.size(), 1u);
    EXPECT_EQ(fs::status(socket.parent_path()).permissions(), fs::perms::owner_all);

    // A transfer cancelled midway ends only itself: the others on the connection go on.
    {
        std::ofstream big(remote / "big.bin");
    }
    fs::resize_file(remote / "big.bin", std::uintmax_t(8) << 30);
    fs::create_directories(local / "dest");
    std::stop_source download;
    std::atomic<int> alongside = 0;
    {
        std::jthread canceller([&] {
            waitUntil([&] { return folderHoldsPrefix(local / "dest", ".vornsled-download-"); });
            std::jthread other([&] {
                for (int i = 0; i < 3; ++i) {
                    alongside += provider.listDirectory(remote.path(), {}).size() == 7 ? 1 : 0;
                }
            });
            other.join();
            download.request_stop();
        });
        EXPECT_THROW(provider.downloadFile(remote / "big.bin", local / "dest" / "big.bin", {}, download.get_token()),
                     VornTaskCancelled);
    }
    EXPECT_EQ(alongside, 3);
    EXPECT_EQ(sharedConnectionProcesses(socket), holder);
    SFTPStorageProvider::closeIdleSessions();
    EXPECT_EQ(operationClients(socket), std::vector<std::string>());
    EXPECT_EQ(sharedConnectionProcesses(socket, true), connections);
    const int loginsBefore = logins();

    // The connections die without a word, leaving their sockets behind: the next operation opens a new one.
    for (const pid_t connection : connections) {
        ASSERT_EQ(::kill(connection, SIGKILL), 0);
        waitUntil([&] { return !vornProcessIsRunning(connection); });
    }
    EXPECT_TRUE(fs::exists(socket));
    EXPECT_EQ(provider.listDirectory(remote.path(), {}).size(), 7u);
    EXPECT_EQ(logins(), loginsBefore + 1);
    const std::vector<pid_t> second = sharedConnectionProcesses(socket);
    ASSERT_EQ(second.size(), 1u);

    // Closing ends it at once, socket and all; an operation after that logs in again.
    SFTPStorageProvider::closeSharedConnections();
    waitUntil([&] { return !vornProcessIsRunning(second[0]); });
    EXPECT_FALSE(fs::exists(socket));
    provider.testConnection({});
    EXPECT_EQ(logins(), loginsBefore + 2);
    EXPECT_TRUE(leftoverTemporaryFiles().empty());
}

// The server's processes holding the loopback TCP connection whose client end is `clientPort`.
std::vector<pid_t> serverProcessesOfConnection(int clientPort) {
    const int serverPort = std::stoi(VornTestServices::value("SSHD_PORT"));
    std::string inode;
    std::istringstream table(vornReadFile("/proc/net/tcp"));
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, node;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> node;
        const auto port = [](const std::string& address) { return std::stoi(address.substr(address.find(':') + 1), nullptr, 16); };
        if (port(local) == serverPort && port(remote) == clientPort) {
            inode = node;
        }
    }
    std::vector<pid_t> holders;
    if (inode.empty()) {
        return holders;
    }
    const std::string wanted = "socket:[" + inode + "]";
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string id = entry.path().filename().string();
        if (id.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code error;
        for (fs::directory_iterator fd(entry.path() / "fd", error), end; !error && fd != end; fd.increment(error)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError).string() == wanted) {
                holders.push_back(static_cast<pid_t>(std::stol(id)));
                break;
            }
        }
    }
    return holders;
}

TEST_F(SFTPLiveTest, HostileNamesPointNowhereElseAndForgeNothing) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    provider.createDirectory(remote / "a", {});
    provider.createDirectory(remote / "a/b", {});
    const std::string folder = remote / "a/b";
    // What a decoded "\057" would reach.
    std::ofstream(remote / "evil") << "keep";
    std::ofstream(remote / "a/evil") << "keep";
    // Names that print other names or whole listing lines, each with contents of its own length.
    const std::string forgedLine = "-rw-r--r--    ? 0        0             999 Jan  1  2001 ";
    const std::vector<std::string> names = {
        "z\\057..\\057..\\057evil", "z\\057..\\057evil", "lit\\001", "ctl\001", "bad\377", "real.txt",
        "ghost\n" + forgedLine + "phantom.txt", "shadow\n" + forgedLine + "real.txt", " lead", "tab\there",
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::ofstream(folder + "/" + names[i]) << std::string(i + 1, 'x');
    }

    const std::vector<SledFileEntry> listed = provider.listDirectory(folder, {});
    std::map<std::string, std::int64_t> sizes;
    for (const SledFileEntry& entry : listed) {
        sizes[entry.name] = entry.sizeBytes;
        EXPECT_EQ(entry.path, folder + "/" + entry.name);
    }
    std::map<std::string, std::int64_t> expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        expected[names[i]] = static_cast<std::int64_t>(i + 1);
    }
    EXPECT_EQ(sizes, expected);

    // Without a shell only the printed lines tell: names with line breaks make the folder unreadable;
    // the "\057" names are still read as they are.
    const TestClientKey sftpOnly("command=\"internal-sftp\"");
    const SledError refused = expectSledError([&] { sftpOnly.provider().listDirectory(folder, {}); });
    EXPECT_EQ(refused.kind(), SledError::Kind::remoteCommandFailed);
    EXPECT_NE(refused.message().find("cannot be read unambiguously"), std::string::npos) << refused.message();
    provider.createDirectory(remote / "plain", {});
    for (const std::string& name : {names[0], names[3], names[4]}) {
        std::ofstream(remote / "plain/" + name) << name;
    }
    std::set<std::string> printedOnly;
    for (const SledFileEntry& entry : sftpOnly.provider().listDirectory(remote / "plain", {})) {
        printedOnly.insert(entry.name);
    }
    EXPECT_EQ(printedOnly, (std::set<std::string>{names[0], names[3], names[4]}));

    // Each entry removes itself and nothing else; a name with a line break cannot go into a batch.
    for (const SledFileEntry& entry : listed) {
        if (entry.name.find('\n') == std::string::npos) {
            provider.deleteItem(entry.path, entry.isDirectory, {});
        } else {
            EXPECT_NE(expectSledError([&] { provider.deleteItem(entry.path, false, {}); }).message().find("line break"),
                      std::string::npos);
        }
    }
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{names[6], names[7]}));
    EXPECT_EQ(vornReadFile(remote / "evil"), "keep");
    EXPECT_EQ(vornReadFile(remote / "a/evil"), "keep");
}

TEST_F(SFTPLiveTest, RelativePathsStartingWithADashAndLongPaths) {
    const SFTPStorageProvider provider = sftpTestProvider();
    VornTestTempDir local;
    // Relative paths start in the login's home.
    const std::string folder = "-t-" + VornUUID::random().uuidString();
    struct Cleanup {
        fs::path path;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{fs::path(VornTestServices::value("SSHD_HOME")) / folder};
    provider.createDirectory(folder, {});
    const fs::path source = local.write("up", "dash contents");
    provider.uploadFile(source, folder + "/-f", VornChecksum::sha256(source), {}, {});
    const std::vector<SledFileEntry> listed = provider.listDirectory(folder, {});
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, folder + "/-f");
    EXPECT_EQ(provider.downloadFile(folder + "/-f", local / "back", {}, {}).remoteSHA256, VornChecksum::sha256(source));
    EXPECT_EQ(provider.computeRemoteSHA256(folder + "/-f", {}), VornChecksum::sha256(source));
    provider.renameItem(folder + "/-f", folder + "/-g", false, {});
    provider.deleteItem(folder + "/-g", false, {});
    provider.deleteItem(folder, true, {});
    EXPECT_FALSE(fs::exists(cleanup.path));

    // A folder whose path is far longer than sftp's listing lines lists its names whole; a batch
    // line one byte past what sftp reads whole is refused before it runs.
    const RemoteFolder remote(provider);
    std::string deep = remote.path();
    while (deep.size() < 2038 - 201) {
        deep += "/" + std::string(200, 'd');
        provider.createDirectory(deep, {});
    }
    const std::vector<std::string> names = {"name one", " spaced", std::string(200, 'n')};
    for (const std::string& name : names) {
        std::ofstream(deep + "/" + name) << name;
    }
    std::vector<std::string> longListed;
    for (const SledFileEntry& entry : provider.listDirectory(deep, {})) {
        longListed.push_back(entry.name);
        EXPECT_EQ(entry.path, deep + "/" + entry.name);
        EXPECT_EQ(entry.sizeBytes, static_cast<std::int64_t>(entry.name.size()));
    }
    std::sort(longListed.begin(), longListed.end());
    std::vector<std::string> sortedNames = names;
    std::sort(sortedNames.begin(), sortedNames.end());
    EXPECT_EQ(longListed, sortedNames);
    // "mkdir " and the quotes take 8 bytes of the line.
    const std::string fits = deep + "/" + std::string(2038 - deep.size() - 1, 'e');
    provider.createDirectory(fits, {});
    EXPECT_TRUE(fs::is_directory(fits));
    const SledError tooLong = expectSledError([&] { provider.createDirectory(fits + "f", {}); });
    EXPECT_NE(tooLong.message().find("too long"), std::string::npos) << tooLong.message();
    EXPECT_FALSE(fs::exists(fits + "f"));

    // An upload below a folder that could not be made (its mkdir line was too long) is refused for
    // its length, before anything is written, never for a folder on the way that is not there.
    const fs::path deepSource = local.write("deep", "deep contents");
    const SledError upload = expectSledError([&] {
        provider.uploadFileInside(deepSource, fits + "f/file.txt", remote.path(), VornChecksum::sha256(deepSource), {},
                                  {});
    });
    EXPECT_NE(upload.message().find("too long"), std::string::npos) << upload.message();
    EXPECT_NE(upload.message().find("2046"), std::string::npos) << upload.message();
    EXPECT_EQ(upload.message().find("symbolic link"), std::string::npos) << upload.message();
    EXPECT_FALSE(folderHoldsPrefix(fits, ".vornsled-upload-"));
}

// Folders whose names sftp echoes escaped (not UTF-8, characters it cannot show, a backslash before
// digits) or that only white space tells apart are listed as themselves, each entry's path lists
// that folder and no sibling, and a walk goes through all of them: what went up comes back.
TEST_F(SFTPLiveTest, FoldersAreListedAndWalkedAsThemselvesWhateverTheirNames) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    const std::vector<std::string> folders = {
        "caf\351", "c1 \302\205", "unassigned \315\270", "back\\351slash", "Backup", "Backup ", " Backup", "tab\t",
    };
    for (std::size_t i = 0; i < folders.size(); ++i) {
        provider.createDirectory(remote / folders[i], {});
        provider.createDirectory(remote / folders[i] + "/inner", {});
        const fs::path source = local.write("up-" + std::to_string(i), "in " + folders[i]);
        provider.uploadFile(source, remote / folders[i] + "/inner/f.txt", VornChecksum::sha256(source), {}, {});
    }

    const std::vector<SledFileEntry> listed = provider.listDirectory(remote.path(), {});
    std::set<std::string> listedNames;
    for (const SledFileEntry& entry : listed) {
        listedNames.insert(entry.name);
        EXPECT_EQ(entry.path, remote / entry.name);
        const std::vector<SledFileEntry> inside = provider.listDirectory(entry.path, {});
        ASSERT_EQ(inside.size(), 1u) << entry.name;
        EXPECT_EQ(inside[0].path, remote / entry.name + "/inner");
        const std::vector<SledFileEntry> file = provider.listDirectory(inside[0].path, {});
        ASSERT_EQ(file.size(), 1u) << entry.name;
        EXPECT_EQ(file[0].sizeBytes, static_cast<std::int64_t>(("in " + entry.name).size())) << entry.name;
    }
    EXPECT_EQ(listedNames, std::set<std::string>(folders.begin(), folders.end()));

    const std::vector<RelativeFileNode> files = RecursiveDirectoryWalker::collectFiles(remote.path(), provider, {}, 12, {});
    std::set<std::string> walked;
    for (const RelativeFileNode& node : files) {
        const std::string folder = node.relativePath.substr(0, node.relativePath.find('/'));
        walked.insert(folder);
        EXPECT_EQ(node.relativePath, folder + "/inner/f.txt");
        provider.downloadFile(node.entry.path, local / "back", {}, {});
        EXPECT_EQ(vornReadFile(local / "back"), "in " + folder);
    }
    EXPECT_EQ(walked, listedNames);
}

TEST_F(SFTPLiveTest, AKeyLoginOffersThatKeyOnly) {
    // The agent holds the key the server accepts; the profile names another one, or none that exists.
    VornTestTempDir agentDir;
    const std::string socket = (agentDir / "agent.sock").string();
    const VornShellResult agent = vornShell("ssh-agent -s -a " + vornShellQuote(socket));
    ASSERT_EQ(agent.exitCode, 0) << agent.output;
    const pid_t agentPid = std::stoi(agent.output.substr(agent.output.find("SSH_AGENT_PID=") + 14));
    VornScopedEnv agentSocket("SSH_AUTH_SOCK", socket);
    ASSERT_EQ(vornShell("ssh-add " + vornShellQuote(VornTestServices::value("SSHD_KEY"))).exitCode, 0);

    VornTestTempDir keys;
    ASSERT_EQ(vornShell("ssh-keygen -q -t ed25519 -N '' -f " + vornShellQuote((keys / "other").string())).exitCode, 0);
    const fs::path knownHosts = VornTestServices::value("SSHD_KNOWN_HOSTS");
    ConnectionProfile profile = sftpTestProfile(SFTPAuthMethod::sshKey);
    profile.privateKeyPath = (keys / "other").string();
    const SledError otherKey =
        expectSledError([&] { SFTPStorageProvider(profile, std::nullopt, knownHosts).testConnection({}); });
    EXPECT_EQ(otherKey.kind(), SledError::Kind::remoteCommandFailed);
    EXPECT_NE(otherKey.message().find("Permission denied"), std::string::npos) << otherKey.message();

    profile.privateKeyPath = (keys / "missing").string();
    const SledError missing =
        expectSledError([&] { SFTPStorageProvider(profile, std::nullopt, knownHosts).testConnection({}); });
    EXPECT_EQ(missing.kind(), SledError::Kind::invalidProfile);
    EXPECT_EQ(missing.message(), "The SFTP key file \"" + (keys / "missing").string() + "\" does not exist.");

    // The agent's own login still uses it.
    SFTPStorageProvider(sftpTestProfile(SFTPAuthMethod::sshAgent), std::nullopt, knownHosts).testConnection({});
    ::kill(agentPid, SIGTERM);
}

TEST_F(SFTPLiveTest, AStalledServerIsGivenUpAndItsConnectionReplaced) {
    const TestClientKey key;
    SFTPStorageProvider provider = key.provider();
    provider.answerSeconds = 3;
    const RemoteFolder remote(sftpTestProvider());
    std::ofstream(remote / "f") << "f";
    ASSERT_EQ(provider.listDirectory(remote.path(), {}).size(), 1u);
    // A server that is busy hashing a large file says so while it works: it is not given up.
    {
        std::ofstream(remote / "large.bin").close();
        fs::resize_file(remote / "large.bin", std::uintmax_t(1) << 30);
        const std::optional<std::string> digest = provider.computeRemoteSHA256(remote / "large.bin", {});
        ASSERT_TRUE(digest.has_value());
        EXPECT_EQ(digest->size(), 64u);
        fs::remove(remote / "large.bin");
    }
    // One fresh connection to stop: on a loaded machine the long hash may have been served by a
    // connection of its own, and the one stopped below must be the one the listing will use.
    SFTPStorageProvider::closeSharedConnections();
    ASSERT_EQ(provider.listDirectory(remote.path(), {}).size(), 1u);
    const int loginsBefore = key.logins();
    const std::vector<pid_t> master = sharedConnectionProcesses(provider.sharedConnectionPath().value());
    ASSERT_EQ(master.size(), 1u);

    // The server side of this connection stops for real: it still holds the connection, and
    // answers nothing on it.
    const std::vector<pid_t> server = serverProcessesOfConnection(key.lastLoginPort());
    ASSERT_FALSE(server.empty());
    for (const pid_t process : server) {
        ASSERT_EQ(::kill(process, SIGSTOP), 0);
    }
    struct Resume {
        std::vector<pid_t> processes;
        ~Resume() {
            for (const pid_t process : processes) {
                ::kill(process, SIGKILL);
                ::kill(process, SIGCONT);
            }
        }
    } resume{server};

    // The operation on the stalled connection fails instead of waiting for ever, and takes the
    // connection with it; the next one logs in anew and works.
    const SledError stalled = expectSledError([&] { provider.listDirectory(remote.path(), {}); });
    EXPECT_EQ(stalled.kind(), SledError::Kind::remoteCommandFailed);
    waitUntil([&] { return !vornProcessIsRunning(master[0]); });
    EXPECT_EQ(provider.listDirectory(remote.path(), {}).size(), 1u);
    EXPECT_EQ(key.logins(), loginsBefore + 1);
    EXPECT_NE(key.lastLoginPort(), 0);
}

TEST_F(SFTPLiveTest, FilesCrossWithRcloneBothWays) {
    VORN_REQUIRE_TOOL("rclone");
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    VornTestTempDir local;
    const fs::path config = local.write("rclone.conf", "[loop]\ntype = sftp\nhost = " + VornTestServices::value("SSHD_HOST") +
                                                           "\nport = " + VornTestServices::value("SSHD_PORT") +
                                                           "\nuser = " + VornTestServices::value("SSHD_USER") +
                                                           "\nkey_file = " + VornTestServices::value("SSHD_KEY") +
                                                           "\nknown_hosts_file = " +
                                                           VornTestServices::value("SSHD_KNOWN_HOSTS") +
                                                           "\nshell_type = unix\nmd5sum_command = md5sum\n"
                                                           "sha1sum_command = sha1sum\n");
    const std::string rclone = "RCLONE_CONFIG=" + vornShellQuote(config.string()) + " rclone --retries 1 ";

    std::string payload;
    for (int i = 0; i < 70000; ++i) {
        payload += static_cast<char>((i * 131) % 251);
    }
    const fs::path mine = local.write("mine.bin", payload);
    provider.uploadFile(mine, remote / "from provider é.bin", VornChecksum::sha256(mine), {}, {});
    const VornShellResult fetched =
        vornShell(rclone + "copyto " + vornShellQuote("loop:" + (remote / "from provider é.bin")) + " " +
                  vornShellQuote((local / "via rclone.bin").string()));
    ASSERT_EQ(fetched.exitCode, 0) << fetched.output;
    EXPECT_EQ(vornReadFile(local / "via rclone.bin"), payload);

    const fs::path theirs = local.write("theirs.bin", payload + "tail");
    const VornShellResult sent = vornShell(rclone + "copyto " + vornShellQuote(theirs.string()) + " " +
                                           vornShellQuote("loop:" + (remote / "from rclone [1].bin")));
    ASSERT_EQ(sent.exitCode, 0) << sent.output;
    const SledDownloadResult back = provider.downloadFile(remote / "from rclone [1].bin", local / "back.bin", {}, {});
    EXPECT_EQ(vornReadFile(local / "back.bin"), payload + "tail");
    EXPECT_EQ(back.remoteSHA256, VornChecksum::sha256(theirs));
}

// Re-runs itself in a private mount namespace where /usr/bin's sftp and ssh are hidden by bind
// mounts; the checks run in that copy.
TEST(SFTPStorageProviderTools, MissingSftpAndSsh) {
    if (std::getenv("VORN_SFTP_TOOLS_HIDDEN") != nullptr) {
        const SledError error = expectSledError([] { offlineProvider("").testConnection({}); });
        EXPECT_EQ(error.kind(), SledError::Kind::remoteCommandFailed);  // found missing before the host is read
        EXPECT_STREQ(error.what(), "Remote operation failed: OpenSSH sftp binary not found.");
        EXPECT_EQ(offlineProvider().computeRemoteSHA256("/x", {}), std::nullopt);
        EXPECT_TRUE(leftoverTemporaryFiles().empty());
        return;
    }
    VORN_REQUIRE_TOOL("unshare");
    if (::geteuid() != 0) {
        GTEST_SKIP() << "hiding the tools needs a mount namespace (root)";
    }
    std::string hide;
    for (const char* tool : {"sftp", "ssh"}) {
        for (const char* folder : {"/usr/local/bin/", "/usr/bin/", "/bin/"}) {
            const std::string path = std::string(folder) + tool;
            if (fs::exists(path)) {
                hide += "mount --bind /dev/null " + path + " && ";
            }
        }
    }
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const VornShellResult run =
        vornShell("unshare -m sh -c " +
                  vornShellQuote("mount --make-rprivate / && " + hide + "VORN_SFTP_TOOLS_HIDDEN=1 PATH=/nonexistent " +
                                 vornShellQuote(self) +
                                 " --gtest_filter=SFTPStorageProviderTools.MissingSftpAndSsh"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
}

}  // namespace

// Uploads through the engine: sftp reads the very file that was opened and hashed (a file that
// grows while it goes up fails, never verified), and a folder below the chosen one that became a
// link after the plan is not written through: the upload fails and the link's target is untouched.
TEST_F(SFTPLiveTest, UploadsSendTheHashedFileAndNeverWriteThroughALinkBelowTheChosenFolder) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    const VornTestTempDir local;
    const ParallelSledTransferEngine engine;
    const auto jobFor = [&](const fs::path& source, const std::string& below) {
        SledTransferJobSpec job{VornUUID::random(), source.filename().string(), source.string(), remote / below,
                                static_cast<std::int64_t>(fs::file_size(source)), SledTransferDirection::upload};
        job.destinationRoot = remote.path();
        job.sourceRoot = (local / "L").string();
        return job;
    };
    // A small file is hashed before it goes up; a larger one while it goes up. Either way a file
    // that grows once its send has begun is never reported sent, let alone verified.
    const fs::path steady = local / "L" / "steady.bin";
    const fs::path grows = local / "L" / "grows.bin";
    for (const std::size_t size : {std::size_t{200'000}, std::size_t{3} << 20}) {
        SCOPED_TRACE(size);
        local.write("L/steady.bin", std::string(size, 's'));
        local.write("L/grows.bin", std::string(size, 'g'));
        const SledTransferJobSpec calm = jobFor(steady, "steady.bin");
        const SledTransferJobSpec growing = jobFor(grows, "grows.bin");
        std::atomic<bool> appended = false;
        const auto results = engine.executeBatch(
            {calm, growing}, LocalFileProvider(), provider, 2, true,
            [&](const VornUUID& id, SledTransferStatus status, std::int64_t done, std::int64_t,
                const std::optional<std::string>& digest, bool, const std::optional<std::string>&) {
                // Once the file is open: hashed (and shown with its digest), or on its way up.
                const bool sending = status == SledTransferStatus::transferring && (digest || done > 0);
                if (id == growing.recordID && sending && !appended.exchange(true)) {
                    std::ofstream(grows, std::ios::app) << std::string(50'000, 'x');
                }
            });
        ASSERT_TRUE(appended);
        for (const SledTransferJobResult& result : results) {
            if (result.recordID == calm.recordID) {
                EXPECT_TRUE(result.success) << result.errorMessage.value_or("");
                EXPECT_TRUE(result.isVerified);
                EXPECT_EQ(result.sha256Hex, VornChecksum::sha256(steady));
            } else {
                EXPECT_FALSE(result.success);
                EXPECT_FALSE(result.isVerified);
            }
        }
        EXPECT_EQ(vornReadFile(remote / "steady.bin"), vornReadFile(steady));
    }

    // Planned into remote/sub; before the run sub becomes a link to a folder outside.
    const fs::path outside = fs::path(remote.path() + "-outside");
    fs::create_directories(outside);
    vornWriteFileAtomically(outside / "steady.bin", "not yours", 0644);
    fs::create_directory_symlink(outside, remote / "sub");
    const auto linked = engine.executeBatch({jobFor(steady, "sub/steady.bin")}, LocalFileProvider(), provider, 1,
                                            true, {});
    EXPECT_FALSE(linked[0].success);
    EXPECT_NE(linked[0].errorMessage.value_or("").find("symbolic link"), std::string::npos)
        << linked[0].errorMessage.value_or("");
    EXPECT_EQ(vornReadFile(outside / "steady.bin"), "not yours");
    std::vector<std::string> outsideNames;
    for (const auto& item : fs::directory_iterator(outside)) outsideNames.push_back(item.path().filename().string());
    EXPECT_EQ(outsideNames, (std::vector<std::string>{"steady.bin"}));
    fs::remove_all(outside);
}

// A listed file replaced by a folder of the same name (and the other way round) is not deleted:
// the server's remove refuses a folder and its rmdir a file, so the type listed is checked where
// the delete happens.
TEST_F(SFTPLiveTest, ADeleteRemovesOnlyAnItemOfTheListedKind) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    fs::create_directories(remote / "was-a-file");
    vornWriteFileAtomically(fs::path(remote / "was-a-file") / "inside.txt", "keep", 0644);
    vornWriteFileAtomically(remote / "was-a-folder", "keep too", 0644);
    EXPECT_THROW(provider.deleteItem(remote / "was-a-file", false, {}), SledError);
    EXPECT_THROW(provider.deleteItem(remote / "was-a-folder", true, {}), SledError);
    EXPECT_EQ(vornReadFile(fs::path(remote / "was-a-file") / "inside.txt"), "keep");
    EXPECT_EQ(vornReadFile(remote / "was-a-folder"), "keep too");
}

// `ls -l` dates carry their precision: a recent one the minute, an older one the day.
TEST(SFTPStorageProviderParsing, ListedDatesCarryTheirPrecision) {
    const std::vector<SledFileEntry> entries = SFTPStorageProvider::readBareListing(
        "-rw-r--r--    1 0 0  5 Mar  5 14:07 recent\n-rw-r--r--    1 0 0  5 Mar  5  2019 old\n", "/d",
        std::nullopt, localInstant(2026, 4, 1, 0, 0));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "old");
    EXPECT_EQ(entries[0].modifiedAtPrecision, SledTimePrecision::day);
    EXPECT_EQ(entries[1].name, "recent");
    EXPECT_EQ(entries[1].modifiedAtPrecision, SledTimePrecision::minute);
}

// find's "%T@" as the server's shell prints it: to the microsecond towards the past, precise when
// it carries a fraction.
TEST(SFTPStorageProviderParsing, ShellTimesKeepTheirFraction) {
    using std::chrono::microseconds;
    struct Case {
        std::string_view text;
        std::optional<std::int64_t> micros;
        SledTimePrecision precision = SledTimePrecision::precise;
    };
    const Case cases[] = {
        {"1700000000.1000000000", 1'700'000'000'100'000},
        {"1700000000.9999999990", 1'700'000'000'999'999},
        {"1700000000.5", 1'700'000'000'500'000},
        {"1700000000", 1'700'000'000'000'000, SledTimePrecision::second},
        {"-5.2500000001", -5'250'001},
        {"-0.5", -500'000},
        {"", std::nullopt},
        {"12a.5", std::nullopt},
        {"1.5x", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto time = SFTPStorageProvider::readShellTime(c.text);
        ASSERT_EQ(time.has_value(), c.micros.has_value()) << c.text;
        if (time) {
            EXPECT_EQ(time->at.time_since_epoch(), microseconds(*c.micros)) << c.text;
            EXPECT_EQ(time->precision, c.precision) << c.text;
        }
    }
}

// Where the server's shell has GNU find, a listing gives the file system's own times, fraction and
// all. A folder the login cannot
// read — one it may not enter, or one it may enter but not list — fails its listing and the walk
// over it, instead of passing for an empty folder.
TEST_F(SFTPLiveTest, ListingsGiveFineTimesAndUnreadableFoldersFail) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder folder(provider);
    const fs::path file = fs::path(folder / "a.txt");
    vornWriteFileAtomically(file, "abc", 0644);
    const struct timespec stamp {1'700'000'000, 700'000'000};
    const struct timespec times[2] = {stamp, stamp};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    std::vector<SledFileEntry> listed = provider.listDirectory(folder.path(), {});
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].modifiedAtPrecision, SledTimePrecision::precise);
    ASSERT_TRUE(listed[0].modifiedAt.has_value());
    EXPECT_EQ(listed[0].modifiedAt->time_since_epoch(), std::chrono::microseconds(1'700'000'000'700'000));

    // Made by this process's user (root), not the server's: closed to the login.
    for (const unsigned mode : {0700u, 0711u}) {
        const fs::path locked = fs::path(folder / ("locked-" + std::to_string(mode)));
        fs::create_directory(locked);
        vornWriteFileAtomically(locked / "inside.txt", "x", 0644);
        fs::permissions(locked, static_cast<fs::perms>(mode), fs::perm_options::replace);
        EXPECT_THROW(provider.listDirectory(locked.string(), {}), SledError) << std::oct << mode;
        EXPECT_THROW(RecursiveDirectoryWalker::collectFiles(folder.path(), provider, {}, 12, {}), SledError)
            << std::oct << mode;
        fs::remove_all(locked);
    }
}

namespace {

void setServerTime(const fs::path& file, std::int64_t seconds, long nanoseconds) {
    const struct timespec stamp {seconds, nanoseconds};
    const struct timespec times[2] = {stamp, stamp};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

SledListedDestination listedOn(const SFTPStorageProvider& provider, const RemoteFolder& folder, std::string_view name) {
    for (const SledFileEntry& entry : provider.listDirectory(folder.path(), {})) {
        if (entry.name == name) {
            return SledListedDestination::of(entry);
        }
    }
    return SledListedDestination{};
}

}  // namespace

// A write over a server file holds it to what was listed, read again just before the rename into
// place or the removal, to the fraction of a second: another writer's change in between (made here
// at that very moment) keeps the other writer's file and fails with the preview's words, leaving
// no fragment behind. An unchanged file is replaced or removed.
TEST_F(SFTPLiveTest, AWriteReplacesOrRemovesOnlyTheFileThatWasListed) {
    const SFTPStorageProvider provider = sftpTestProvider();
    VornTestTempDir local;
    const fs::path mine = local.write("mine.txt", "my version");
    enum class Other { nothing, rewritesSameSize, creates, removes };
    struct Case {
        std::string name;
        bool listedThere;
        Other other;
        bool replaced;
    };
    const Case cases[] = {
        {"unchanged", true, Other::nothing, true},
        {"rewritten within the same second", true, Other::rewritesSameSize, false},
        {"removed", true, Other::removes, false},
        {"created where none was", false, Other::creates, false},
        {"still none", false, Other::nothing, true},
    };
    const auto actOnServer = [](Other other, const fs::path& file) {
        switch (other) {
        case Other::nothing:
            break;
        case Other::rewritesSameSize:
        case Other::creates:
            vornWriteFileAtomically(file, "OLD", 0644);
            setServerTime(file, 1'700'000'000, 900'000'000);
            break;
        case Other::removes:
            fs::remove(file);
            break;
        }
    };
    for (const bool removing : {false, true}) {
        for (const Case& c : cases) {
            if (removing && !c.listedThere) {
                continue;
            }
            SCOPED_TRACE(c.name + (removing ? ", removal" : ", upload"));
            const RemoteFolder folder(provider);
            const fs::path file = fs::path(folder / "f.txt");
            if (c.listedThere) {
                vornWriteFileAtomically(file, "old", 0644);
                setServerTime(file, 1'700'000'000, 100'000'000);
            }
            const SledListedDestination listed = listedOn(provider, folder, "f.txt");
            ASSERT_EQ(listed.exists, c.listedThere);
            bool refused = false;
            try {
                if (removing) {
                    actOnServer(c.other, file);
                    provider.deleteItemAsListed(folder / "f.txt", false, listed, {});
                } else {
                    SledReplaceConditions conditions{listed, [&] { actOnServer(c.other, file); }};
                    provider.uploadFileInsideHashing(mine, folder / "f.txt", folder.path(),
                                                     [&] { return VornChecksum::sha256(mine); }, {}, conditions, {});
                }
            } catch (const SledChangedSinceListed& error) {
                refused = true;
                EXPECT_STREQ(error.what(), "Changed since the preview");
            }
            EXPECT_EQ(refused, !c.replaced);
            if (c.replaced) {
                if (removing) {
                    EXPECT_FALSE(fs::exists(file));
                } else {
                    EXPECT_EQ(vornReadFile(file), "my version");
                }
            } else if (c.other == Other::removes) {
                EXPECT_FALSE(fs::exists(file));
            } else {
                EXPECT_EQ(vornReadFile(file), "OLD");
            }
            EXPECT_FALSE(folderHoldsPrefix(folder.path(), ".vornsled-upload-"));
        }
    }
}

// A mirror onto the server with one worker: while the first file goes up another writer changes
// a later row's file on the server. That row fails with the preview's words and the other
// writer's file stays; the rest is copied.
TEST_F(SFTPLiveTest, AServerFileChangedDuringARunIsNotReplaced) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder folder(provider);
    VornTestTempDir local;
    local.write("L/a.txt", "first file");
    local.write("L/z.txt", "newer z");
    const fs::path z = fs::path(folder / "z.txt");
    vornWriteFileAtomically(z, "old z", 0644);
    setServerTime(z, 1'700'000'000, 0);
    const auto jobFor = [&](const std::string& name, std::optional<SledListedDestination> listed) {
        const fs::path source = local / "L" / name;
        SledTransferJobSpec job{VornUUID::random(), name, source.string(), folder / name,
                                static_cast<std::int64_t>(fs::file_size(source)), SledTransferDirection::upload};
        job.destinationRoot = folder.path();
        job.sourceRoot = (local / "L").string();
        job.listedDestination = std::move(listed);
        return job;
    };
    const SledTransferJobSpec first = jobFor("a.txt", SledListedDestination{});
    const SledTransferJobSpec later = jobFor("z.txt", listedOn(provider, folder, "z.txt"));
    bool changed = false;
    const auto results = ParallelSledTransferEngine().executeBatch(
        {first, later}, LocalFileProvider(), provider, 1, true,
        [&](const VornUUID& id, SledTransferStatus, std::int64_t, std::int64_t, const std::optional<std::string>&,
            bool, const std::optional<std::string>&) {
            if (id == first.recordID && !changed) {
                changed = true;
                vornWriteFileAtomically(z, "THEIR z", 0644);
            }
        });
    ASSERT_EQ(results.size(), 2u);
    for (const SledTransferJobResult& result : results) {
        if (result.recordID == first.recordID) {
            EXPECT_TRUE(result.success) << result.errorMessage.value_or("");
        } else {
            EXPECT_FALSE(result.success);
            EXPECT_EQ(result.errorMessage, "Changed since the preview");
        }
    }
    EXPECT_EQ(vornReadFile(fs::path(folder / "a.txt")), "first file");
    EXPECT_EQ(vornReadFile(z), "THEIR z");
}

// A source that changes while it goes up onto an existing server file (grown once it was opened,
// or overwritten at its start once it was hashed) is caught before the rename into place: the
// job fails and the server's earlier file is still there.
TEST_F(SFTPLiveTest, ASourceChangedWhileSentNeverReplacesTheServerFile) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder folder(provider);
    VornTestTempDir local;
    for (const bool grow : {true, false}) {
        SCOPED_TRACE(grow ? "grown" : "overwritten at its start");
        const fs::path source = local.write("L/doc.txt", std::string(200'000, 'a'));
        const fs::path server = fs::path(folder / "doc.txt");
        vornWriteFileAtomically(server, "the server's earlier file", 0644);
        SledTransferJobSpec job{VornUUID::random(), "doc.txt", source.string(), folder / "doc.txt", 1,
                                SledTransferDirection::upload};
        job.destinationRoot = folder.path();
        job.sourceRoot = (local / "L").string();
        bool touched = false;
        const auto results = ParallelSledTransferEngine().executeBatch(
            {job}, LocalFileProvider(), provider, 1, true,
            [&](const VornUUID&, SledTransferStatus status, std::int64_t, std::int64_t,
                const std::optional<std::string>& digest, bool, const std::optional<std::string>&) {
                // Opened (being hashed), or hashed and about to go up.
                const bool opened = grow ? status == SledTransferStatus::verifying
                                         : status == SledTransferStatus::transferring && digest.has_value();
                if (opened && !touched) {
                    touched = true;
                    sledChangeFileBeingCopied(source, grow);
                }
            });
        ASSERT_TRUE(touched);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_FALSE(results[0].success);
        EXPECT_EQ(results[0].errorMessage, "'doc.txt' changed while it was sent; the copy is not the file that was checked.");
        EXPECT_EQ(vornReadFile(server), "the server's earlier file");
        EXPECT_FALSE(folderHoldsPrefix(folder.path(), ".vornsled-upload-"));
    }
}

// A folder lists the same entries however its path is given: as it is, with a "/" after it,
// through a symbolic link to it, relative to the login's home, with sftp's pattern characters in
// its name. Each entry's path is the given path and the name; the shell's times hold on every
// listing of the login, not only its first.
TEST_F(SFTPLiveTest, AFolderListsTheSameEntriesHoweverItsPathIsGiven) {
    const SFTPStorageProvider provider = sftpTestProvider();
    const RemoteFolder remote(provider);
    const std::string folder = remote / "glob [x]*? dir";
    fs::create_directories(folder + "/sub");
    std::ofstream(folder + "/a.txt") << "aaa";
    std::ofstream(folder + "/b c") << "bc";
    const auto when = std::chrono::sys_seconds(std::chrono::seconds(1'600'000'123));
    fs::last_write_time(folder + "/a.txt", fs::file_time_type::clock::from_sys(when));
    ASSERT_EQ(::symlink(folder.c_str(), (remote / "via link").c_str()), 0);
    const std::string home = VornTestServices::value("SSHD_HOME");
    const std::string relative = folder.substr(home.size() + 1);

    const auto described = [](const std::vector<SledFileEntry>& entries) {
        std::vector<std::string> rows;
        for (const SledFileEntry& entry : entries) {
            rows.push_back(entry.name + (entry.isDirectory ? "/" : "") + " " + std::to_string(entry.sizeBytes));
        }
        return rows;
    };
    const std::vector<std::string> expected = {"sub/ 0", "a.txt 3", "b c 2"};
    const struct {
        std::string path;
        std::string parent;
    } cases[] = {
        {folder, folder},
        {folder + "/", folder},
        {remote / "via link", remote / "via link"},
        {relative, relative},
        {relative + "/", relative},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        for (int round = 0; round < 2; ++round) {
            const std::vector<SledFileEntry> listed = provider.listDirectory(c.path, {});
            EXPECT_EQ(described(listed), expected);
            for (const SledFileEntry& entry : listed) {
                EXPECT_EQ(entry.path, c.parent + "/" + entry.name);
                EXPECT_EQ(entry.modifiedAtPrecision, SledTimePrecision::precise) << entry.name;
                if (entry.name == "a.txt") {
                    EXPECT_EQ(entry.modifiedAt, when);
                }
            }
        }
    }
    // A file is no folder, whichever way its path is given.
    for (const std::string& path : {folder + "/a.txt", folder + "/a.txt/"}) {
        EXPECT_EQ(expectSledError([&] { provider.listDirectory(path, {}); }).kind(),
                  SledError::Kind::remoteCommandFailed)
            << path;
    }
}
