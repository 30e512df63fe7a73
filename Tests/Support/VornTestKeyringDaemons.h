#pragma once

#include "VornTestSupport.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Holds the keyring daemon of the test services still (SIGSTOP) for the object's lifetime or until
// resume(): every keyring call meanwhile waits, as with a daemon that hangs. Other tests that use
// the keyring at the same moment only wait too, so keep the pause short; pauses of parallel tests
// take turns. The session bus must already point at the test services' bus.
class VornPausedKeyring {
public:
    VornPausedKeyring();
    ~VornPausedKeyring();
    VornPausedKeyring(const VornPausedKeyring&) = delete;
    VornPausedKeyring& operator=(const VornPausedKeyring&) = delete;

    // False when the daemon's process could not be found (the test should fail then).
    bool paused() const { return paused_; }
    pid_t pid() const { return pid_; }
    void resume();

private:
    int lockFD_ = -1;
    pid_t pid_ = 0;
    bool paused_ = false;
};

// A keyring daemon of the test's own on a private session bus, started without unlocking: it has
// no collection to store into and no display to ask on, so every store is refused the way it is
// when the user cancels the unlock prompt. While the object lives, the process's keyring calls go
// to it; afterwards they go back to the bus they used before.
class VornRefusingKeyring {
public:
    VornRefusingKeyring();
    ~VornRefusingKeyring();
    VornRefusingKeyring(const VornRefusingKeyring&) = delete;
    VornRefusingKeyring& operator=(const VornRefusingKeyring&) = delete;

    // Empty when it runs, else what went wrong.
    const std::string& failure() const { return failure_; }

private:
    VornTestTempDir folder_;
    pid_t busPID_ = 0;
    pid_t daemonPID_ = 0;
    std::optional<VornScopedEnv> bus_;
    std::string failure_;
};

// Makes the next keyring call connect afresh, to the session bus the environment names now.
void vornForgetKeyringConnection();

// Runs `body` in a fresh process (the test runs again there, as a "threadsafe" death test does):
// a process keeps the first session-bus connection it makes, so a keyring of the test's own on its
// private bus is reached for sure only by a process that has used no other. The fresh process
// removes `folders` (its own fixture's, which its end through exit() would leave behind); its
// failures fail the test, with their messages.
void vornRunInFreshProcess(const std::function<void()>& body, const std::vector<std::filesystem::path>& folders);
