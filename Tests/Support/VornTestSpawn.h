#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

extern char** environ;

// Starts `argv` (its first word looked up in PATH) with this process's environment plus `extra`;
// the child's pid, or -1 when it could not be started.
inline pid_t vornSpawnWithEnvironment(std::vector<std::string> argv, const std::map<std::string, std::string>& extra) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        variables.emplace_back(*entry);
    }
    for (const auto& [key, value] : extra) {
        variables.push_back(key + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (std::string& word : argv) {
        args.push_back(word.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (argv.empty() || ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) {
        return -1;
    }
    return pid;
}
