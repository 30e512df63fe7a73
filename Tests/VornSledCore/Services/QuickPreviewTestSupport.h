#pragma once

#include "SledFileEntry.h"
#include "VornXDG.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What lies in the process's private temporary folder, where the preview keeps its copies.
inline std::vector<std::string> vornPreviewTemporaryFiles() {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(VornXDG::privateTemporaryDirectory())) {
        if (item.path().filename() == VornXDG::privateFolderMarkName) {
            continue;
        }
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The listing entry of the file at `path`, named by its last component.
inline SledFileEntry vornPreviewEntry(const std::string& path, std::int64_t sizeBytes = 0) {
    SledFileEntry entry;
    entry.path = path;
    entry.name = std::filesystem::path(path).filename().string();
    entry.sizeBytes = sizeBytes;
    return entry;
}
