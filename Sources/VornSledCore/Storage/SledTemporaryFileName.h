#pragma once

#include "LANNetworkHelpers.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

// A fresh name for a temporary copy of the file named `fileName`: `prefix`, a new UUID in upper
// case, "-" and the made-safe file name, that last part cut at a character boundary so that the
// whole name holds at most `maxBytes` bytes (the prefix and the UUID are never cut). Never
// contains a path separator, so it stays in the folder it is joined to whatever a peer or a server
// called the file.
std::string sledTemporaryFileName(std::string_view prefix, std::string_view fileName,
                                  std::size_t maxBytes = LANNetworkHelpers::maximumFileNameBytes);

// A hidden, fresh name beside `destination`
// (".vornsled-[<label>-]<UUID>.<destination key>.<owner>.part"), where a file is written before it
// replaces the destination: the same folder keeps the final rename on one file system. The name
// says which destination it stands for and which process wrote it, so that once that process has
// ended (killed half way, say) the next write of the same destination can tell it is left over.
std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label = {});

// Removes the hidden siblings of `destination` (any label) whose writing process has ended, before
// a new one is written; those of running processes, and names of any other form, stay. Errors are
// ignored: a leftover that cannot be removed costs space, not the write. Each folder is read at
// most once a minute per process, so writing many files into one folder stays linear.
void sledRemoveStaleSiblings(const std::filesystem::path& destination);

// This process as a name part: "<pid>-<start time in clock ticks>-<boot>", unique among the
// processes of all boots of this machine.
const std::string& sledOwnerTag();
// Whether the process an owner tag names has ended: another boot, no such process, a process of
// that id started at another time, or a zombie. A tag that cannot be read counts as running.
bool sledOwnerHasEnded(std::string_view tag);

// A short key of the file name `name` for the names of temporary files standing for it: the same
// for the same name, and no path separator or dot in it.
std::string sledDestinationKey(std::string_view name);
