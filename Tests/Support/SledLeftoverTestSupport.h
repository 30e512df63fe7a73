#pragma once

#include "SledTemporaryFileName.h"
#include "VornTestSupport.h"
#include "VornUUID.h"

#include <string>

// The holder part of a temporary file's name as an earlier build wrote it: the writer's pid, start
// time and boot. Such a writer held no lock, so its file shows nothing about whether it still runs.
inline std::string sledLocklessOwnerTag() { return "4194301-12345-0123456789ab"; }

// A hidden sibling of `destination` as a writer names it whose holder part is `holder` ("lock",
// "nolock", or an earlier build's owner tag).
inline std::string sledSiblingName(const std::string& destinationName, const std::string& holder,
                                   const std::string& label = "transfer") {
    return ".vornsled-" + (label.empty() ? std::string() : label + "-") + VornUUID::random().uuidString() + "." +
           sledDestinationKey(destinationName) + "." + holder + ".part";
}
