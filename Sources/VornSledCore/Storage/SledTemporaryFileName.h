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

// A hidden, fresh name beside `destination` (".vornsled-[<label>-]<UUID>.part"), where a file is
// written before it replaces the destination: the same folder keeps the final rename on one file
// system.
std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label = {});
