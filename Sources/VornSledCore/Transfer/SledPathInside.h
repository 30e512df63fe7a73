#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Whether `name` can stand as exactly one component of a path: not empty, not "." or "..", and
// without "/" or a NUL byte. Anything else, joined to a folder, could name a place outside it or
// split into two names.
bool sledIsOneComponent(std::string_view name);

// The components of `path` as written, empty ones (from a leading, trailing or repeated "/")
// left out; "." and ".." stay.
std::vector<std::string> sledPathComponents(std::string_view path);

// The part of `path` below the folder `root`, both folded lexically first ("." and ".." resolved,
// repeated "/" merged, a trailing "/" dropped), as "a/b/c"; absent when `path` is `root` itself or
// does not lie below it. Works on the text alone: local paths, SFTP paths and S3 keys alike.
std::optional<std::string> sledPathBelow(std::string_view root, std::string_view path);

// The user text of a write refused because its place `path` leaves the chosen folder `root`.
std::string sledOutsideChosenFolderText(std::string_view path, std::string_view root);
