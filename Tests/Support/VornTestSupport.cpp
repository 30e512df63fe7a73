#include "VornTestSupport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path newTestFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (fs::path(base && *base ? base : "/tmp") / "vorntest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

}  // namespace

VornTestTempDir::VornTestTempDir() : path_(newTestFolder()) {}

VornTestTempDir::VornTestTempDir(const std::string& sharedThrough) {
    if (const char* inherited = std::getenv(sharedThrough.c_str()); inherited != nullptr && *inherited != '\0') {
        path_ = inherited;
        owned_ = false;
        return;
    }
    path_ = newTestFolder();
    sharedThrough_ = sharedThrough;
    ::setenv(sharedThrough_.c_str(), path_.c_str(), 1);
}

VornTestTempDir::~VornTestTempDir() {
    if (!owned_) {
        return;
    }
    if (!sharedThrough_.empty()) {
        ::unsetenv(sharedThrough_.c_str());
    }
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them writable so removal succeeds.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(path_, ignored);
}

fs::path VornTestTempDir::write(const fs::path& relative, std::string_view bytes) const {
    const fs::path full = path_ / relative;
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return full;
}

VornScopedEnv::VornScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

VornScopedEnv::~VornScopedEnv() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

VornScopedUmask::VornScopedUmask(mode_t mask) : previous_(::umask(mask)) {}

VornScopedUmask::~VornScopedUmask() { ::umask(previous_); }

VornScopedFileSizeLimit::VornScopedFileSizeLimit(rlim_t bytes) {
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &previous_), 0);
    struct rlimit limited = previous_;
    limited.rlim_cur = bytes;
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
}

VornScopedFileSizeLimit::~VornScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
}

std::string vornReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::vector<pid_t> vornChildProcesses(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            children.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
        }
    }
    return children;
}

bool vornProcessIsRunning(pid_t pid) {
    const std::string status = vornReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = status.rfind(')');
    return close != std::string::npos && close + 2 < status.size() && status[close + 2] != 'Z';
}

VornShellResult vornShell(const std::string& commandLine) {
    VornShellResult result;
    const std::string wrapped = "( " + commandLine + " ) 2>&1";
    FILE* pipe = ::popen(wrapped.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string vornShellQuote(std::string_view value) {
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

const std::map<std::string, std::string>& VornTestServices::all() {
    static std::once_flag once;
    static std::map<std::string, std::string> values;
    std::call_once(once, [] {
        const char* file = std::getenv("VORN_TEST_SERVICES_ENV");
        if (file == nullptr) {
            return;
        }
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            const auto equals = line.find('=');
            if (equals == std::string::npos || line.starts_with('#')) {
                continue;
            }
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
    });
    return values;
}

std::string VornTestServices::value(const std::string& key) {
    const auto& values = all();
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

bool VornTestServices::available(const std::string& service) {
    std::string key;
    for (char c : service) {
        key += (c == '-') ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return value(key + "_READY") == "1";
}

bool VornTestServices::inCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

unsigned vornTestUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
        }
    }
    throw std::runtime_error("/proc/self/status gives no umask");
}
