#pragma once

#include <filesystem>
#include <string_view>

#include <sys/types.h>

// Replaces the file at `path` with `bytes` so that a reader, or the file after a crash, holds the
// old content or the new one, never a part: the bytes go to a hidden temporary sibling created with
// the permission bits `mode` (umask does not apply), which is flushed to disk, renamed over `path`,
// and the rename made durable by flushing the folder. On failure throws
// std::filesystem::filesystem_error naming `path`, after removing the temporary; `path` is then
// untouched.
void vornWriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode);
