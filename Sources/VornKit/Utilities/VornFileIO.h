#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

// The whole content of the regular file at `path` when it holds at most `limit` bytes. Opened
// without blocking, so a FIFO standing where a file belongs cannot stall the caller. Otherwise
// nothing, and `error` says why: the system error of open, fstat or read (ENOENT for a missing
// file), std::errc::invalid_argument for anything but a regular file, std::errc::file_too_large
// when the file is, or grows while being read, larger than `limit`. `info`, when given, receives
// the status of the opened file whenever fstat succeeds.
std::optional<std::string> vornReadFileCapped(const std::filesystem::path& path, std::size_t limit,
                                              std::error_code& error, struct stat* info = nullptr);

// Replaces the file at `path` with `bytes` so that a reader, or the file after a crash, holds the
// old content or the new one, never a part: the bytes go to a hidden temporary sibling created with
// the permission bits `mode` (umask does not apply), which is flushed to disk, renamed over `path`,
// and the rename made durable by flushing the folder. On failure throws
// std::filesystem::filesystem_error naming `path`, after removing the temporary; `path` is then
// untouched.
void vornWriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// Keeps the file at `path` under the new name `name` (or, when that is taken, `name`-1, -2, ...),
// before something replaces it. A hard link keeps even a file this process may not read and
// leaves the original in place until the new content replaces it; a copy stands in where links
// are not possible. True when the file is kept or there is nothing to keep (no file, or a folder,
// which the rename of a file never replaces); false when it could not be kept.
bool vornKeepAside(const std::filesystem::path& path, const std::string& name);
