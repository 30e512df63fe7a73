#pragma once

#include "SledTemporaryFileName.h"
#include "VornTestSupport.h"
#include "VornUUID.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

// The owner tag of a process that has really run and ended (a child that exits at once, read
// from /proc before it is reaped), for temporary files that such a process left behind.
inline std::string sledEndedOwnerTag() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    siginfo_t info {};
    ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
    std::string line;
    std::getline(std::ifstream("/proc/" + std::to_string(child) + "/stat"), line);
    ::waitpid(child, nullptr, 0);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 0; i < 20; ++i) {
        fields >> field;  // the 20th after the name is the start time
    }
    const std::string& own = sledOwnerTag();
    return std::to_string(child) + "-" + field + own.substr(own.find('-', own.find('-') + 1));
}

// A hidden sibling of `destination` as a writer with the owner tag `owner` names it.
inline std::string sledSiblingName(const std::string& destinationName, const std::string& owner,
                                   const std::string& label = "transfer") {
    return ".vornsled-" + (label.empty() ? std::string() : label + "-") + VornUUID::random().uuidString() + "." +
           sledDestinationKey(destinationName) + "." + owner + ".part";
}
