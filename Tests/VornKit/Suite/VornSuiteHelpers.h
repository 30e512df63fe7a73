#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include <sys/types.h>

// Helper processes for the suite tests: this very test program started again with
// VORN_SUITE_HELPER naming what it should do (see VornSuiteHelpers.cpp). Each helper appends its
// lines to the file named by VORN_SUITE_OUT.
struct VornSuiteHelper {
    pid_t pid = -1;
    std::filesystem::path output;

    // Starts the helper with `mode` and the extra environment; -1 pid when it cannot be started.
    static VornSuiteHelper start(const std::string& mode, const std::filesystem::path& output,
                                 const std::map<std::string, std::string>& environment = {});
    // Ends it with SIGTERM and reaps it; returns at once when it is gone already.
    void stop();
    // Waits (up to a generous deadline meant for slow machines) until the output holds `line`.
    bool waitFor(const std::string& line) const;
    // How many lines of the output equal `line`.
    int count(const std::string& line) const;
};

// The path of this test program.
std::filesystem::path vornSuiteTestProgram();
// Waits until `ready` holds or the deadline passes; never used to measure speed.
bool vornSuiteEventually(const std::function<bool()>& ready);
