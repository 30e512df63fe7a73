#pragma once

#include "SledFileEntry.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

// One file found by a walk: its path below the walked folder and its listing entry as the provider
// gave it. Equal when both the relative path and every field of the entry are.
struct RelativeFileNode {
    // The folder names on the way and the file's name, joined by "/", with no "/" at either end.
    std::string relativePath;
    SledFileEntry entry;

    // The part of relativePath before its last "/"; absent when there is no "/" or nothing before it.
    std::optional<std::string> parentRelativeDirectory() const;

    friend bool operator==(const RelativeFileNode&, const RelativeFileNode&) = default;
};

template <>
struct std::hash<RelativeFileNode> {
    std::size_t operator()(const RelativeFileNode& node) const noexcept;
};
