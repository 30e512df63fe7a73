#include "VornSuiteHelpers.h"

#include "VornSuiteApp.h"
#include "VornSuiteCommandBus.h"
#include "VornSuiteNotifications.h"
#include "VornSuiteTelemetryBus.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::mutex outputMutex;

void emit(const std::string& line) {
    std::lock_guard lock(outputMutex);
    const char* path = std::getenv("VORN_SUITE_OUT");
    if (path == nullptr) {
        return;
    }
    std::ofstream(path, std::ios::app) << line << "\n" << std::flush;
}

[[noreturn]] void waitForever() {
    for (;;) {
        ::pause();
    }
}

// listen:<App>  own the application's bus name and write "got <kind> <payload>" per command
// observe       write "updated" per telemetry notification and "dock <target|none>" per hover
// publish       publish a monitor status with this process's id into VORN_SUITE_DIR
// probe:<pid>   exit 0 when the process counts as alive, else 1
int runHelper(const std::string& mode) {
    emit("pid " + std::to_string(::getpid()));
    if (mode.rfind("listen:", 0) == 0) {
        const std::optional<VornSuiteApp> app = fromRawValue<VornSuiteApp>(mode.substr(7));
        if (!app) {
            return 2;
        }
        if (std::getenv("VORN_SUITE_OWN") != nullptr && !VornSuiteNotifications::ownName(VornSuiteApps::bundleIdentifier(*app))) {
            emit("cannot own the name");
            return 3;
        }
        VornSuiteCommandBus::shared().startListening(*app, [](const VornSuiteCommandEnvelope& envelope) {
            emit("got " + rawValue(envelope.kind) + " " + envelope.payload.value_or("-"));
        });
        emit("ready");
        waitForever();
    }
    if (mode == "observe") {
        VornSuiteTelemetryBus::observeTelemetryUpdates([] { emit("updated"); });
        VornSuiteTelemetryBus::observeFocusDockHover(
            [](const std::optional<std::string>& target) { emit("dock " + target.value_or("none")); });
        emit("ready");
        waitForever();
    }
    if (mode == "publish") {
        const char* folder = std::getenv("VORN_SUITE_DIR");
        if (folder == nullptr) {
            return 2;
        }
        HessomLiveStatus status;
        status.timestamp = vornDateNow();
        status.senderPID = static_cast<std::int32_t>(::getpid());
        status.thermalState = "nominal";
        VornSuiteTelemetryBus(fs::path(folder)).publishHessomStatus(status);
        emit("ready");
        waitForever();
    }
    if (mode.rfind("probe:", 0) == 0) {
        return VornSuiteTelemetryBus::isPIDAlive(std::atoi(mode.c_str() + 6)) ? 0 : 1;
    }
    return 2;
}

// Runs before the tests when the program was started as a helper.
const bool helperChecked = [] {
    if (const char* mode = std::getenv("VORN_SUITE_HELPER")) {
        const int code = runHelper(mode);
        std::fflush(nullptr);
        ::_exit(code);
    }
    return true;
}();

}  // namespace

fs::path vornSuiteTestProgram() { return fs::read_symlink("/proc/self/exe"); }

bool vornSuiteEventually(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ready();
}

VornSuiteHelper VornSuiteHelper::start(const std::string& mode, const fs::path& output,
                                       const std::map<std::string, std::string>& environment) {
    (void)helperChecked;
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        variables.emplace_back(*entry);
    }
    variables.push_back("VORN_SUITE_HELPER=" + mode);
    variables.push_back("VORN_SUITE_OUT=" + output.string());
    for (const auto& [key, value] : environment) {
        variables.push_back(key + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    const std::string program = vornSuiteTestProgram().string();
    std::vector<char*> argv{const_cast<char*>(program.c_str()), nullptr};
    VornSuiteHelper helper;
    helper.output = output;
    if (::posix_spawn(&helper.pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        helper.pid = -1;
    }
    return helper;
}

void VornSuiteHelper::stop() {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
}

bool VornSuiteHelper::waitFor(const std::string& line) const {
    return vornSuiteEventually([&] { return count(line) > 0; });
}

int VornSuiteHelper::count(const std::string& line) const {
    std::ifstream file(output);
    std::string read;
    int found = 0;
    while (std::getline(file, read)) {
        found += read == line ? 1 : 0;
    }
    return found;
}
