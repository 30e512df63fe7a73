#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>

// Reads the lines of a text file from its end towards its start, calling `visit` for each
// non-empty line (without its line feed) until it returns false. Memory stays at one block plus the
// line being assembled, so a huge file costs no more than its longest line; a line longer than
// `maxLineBytes` is skipped without being held. Returns false when the file cannot be opened as a
// regular file. A file that shrinks while it is read ends the walk where the data ran out.
bool vornReadLinesBackwards(const std::filesystem::path& file, std::size_t maxLineBytes,
                            const std::function<bool(std::string_view line)>& visit);
