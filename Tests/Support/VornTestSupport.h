#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>

// A folder that exists for the lifetime of the object and is removed with everything in it.
class VornTestTempDir {
public:
    VornTestTempDir();
    // A folder shared with the fresh process that a "threadsafe" death test starts: that process
    // runs the test again from its start, and ends through exit(), which leaves a folder of its own
    // behind. The test's own run makes the folder and hands its path down in the environment
    // variable `sharedThrough`; the death test's process takes that one. Only the maker removes it.
    explicit VornTestTempDir(const std::string& sharedThrough);
    ~VornTestTempDir();
    VornTestTempDir(const VornTestTempDir&) = delete;
    VornTestTempDir& operator=(const VornTestTempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const { return path_ / child; }

    // Writes `bytes` to `relative` (parents created) and returns the full path.
    std::filesystem::path write(const std::filesystem::path& relative, std::string_view bytes) const;

private:
    std::filesystem::path path_;
    bool owned_ = true;
    std::string sharedThrough_;
};

// Sets (or, with nullopt, unsets) an environment variable and restores the old value on destruction.
class VornScopedEnv {
public:
    VornScopedEnv(std::string name, const std::optional<std::string>& value);
    ~VornScopedEnv();
    VornScopedEnv(const VornScopedEnv&) = delete;
    VornScopedEnv& operator=(const VornScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Sets the process's file-creation mask for the lifetime of the object.
class VornScopedUmask {
public:
    explicit VornScopedUmask(mode_t mask);
    ~VornScopedUmask();
    VornScopedUmask(const VornScopedUmask&) = delete;
    VornScopedUmask& operator=(const VornScopedUmask&) = delete;

private:
    mode_t previous_;
};

// Limits the size of the files the process writes for the lifetime of the object, so that the
// kernel refuses a write part way through (EFBIG) as a full disk would. SIGXFSZ is ignored
// meanwhile, so the refusal is an error and not the end of the process.
class VornScopedFileSizeLimit {
public:
    explicit VornScopedFileSizeLimit(rlim_t bytes);
    ~VornScopedFileSizeLimit();
    VornScopedFileSizeLimit(const VornScopedFileSizeLimit&) = delete;
    VornScopedFileSizeLimit& operator=(const VornScopedFileSizeLimit&) = delete;

private:
    struct rlimit previous_ {};
    void (*previousHandler_)(int) = nullptr;
};

std::string vornReadFile(const std::filesystem::path& path);

// The process's umask, read without changing it (another thread may be creating files).
unsigned vornTestUmask();

// The ids of the processes whose parent is `parent`, from /proc.
std::vector<pid_t> vornChildProcesses(pid_t parent);
// Whether `pid` names a live process that is not a zombie.
bool vornProcessIsRunning(pid_t pid);

struct VornShellResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error, interleaved
};

// Runs a command line through /bin/sh; for cross-checks with real tools (curl, secret-tool, rclone).
VornShellResult vornShell(const std::string& commandLine);

// Quotes a value for /bin/sh.
std::string vornShellQuote(std::string_view value);

// The real services that Tests/services/services.sh started for this run. Their addresses and
// credentials live in the env file named by VORN_TEST_SERVICES_ENV as KEY=VALUE lines; a service
// counts as running when its <NAME>_READY key is 1.
class VornTestServices {
public:
    static bool available(const std::string& service);
    static std::string value(const std::string& key);
    static const std::map<std::string, std::string>& all();
    static bool inCI();
};

// Skips the test with a visible reason when the service is absent, but fails it under CI=true,
// where every service must have been started.
#define VORN_REQUIRE_SERVICE(service)                                                              \
    do {                                                                                           \
        if (!VornTestServices::available(service)) {                                               \
            if (VornTestServices::inCI()) {                                                        \
                FAIL() << "test service '" << (service) << "' is not running (CI=true)";           \
            }                                                                                      \
            GTEST_SKIP() << "test service '" << (service)                                          \
                         << "' is not running: start it with Tests/services/services.sh start";    \
        }                                                                                          \
    } while (0)

// Skips (or fails in CI) when a command-line tool the test cross-checks with is missing.
#define VORN_REQUIRE_TOOL(tool)                                                                    \
    do {                                                                                           \
        if (vornShell(std::string("command -v ") + (tool) + " >/dev/null 2>&1").exitCode != 0) {   \
            if (VornTestServices::inCI()) {                                                        \
                FAIL() << "tool '" << (tool) << "' is not installed (CI=true)";                    \
            }                                                                                      \
            GTEST_SKIP() << "tool '" << (tool) << "' is not installed: run scripts/setup.sh --test"; \
        }                                                                                          \
    } while (0)
