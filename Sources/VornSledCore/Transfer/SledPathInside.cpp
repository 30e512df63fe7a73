#include "SledPathInside.h"

#include "VornLocalizationStore.h"

#include <algorithm>
#include <vector>

namespace {

// "/" followed by the folded components of `path`; ".." above the top stays as a component, so
// that a path climbing out of everything is never taken for the top itself.
std::vector<std::string_view> foldedComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

}  // namespace

std::vector<std::string> sledPathComponents(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) {
            parts.emplace_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

bool sledIsOneComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::optional<std::string> sledPathBelow(std::string_view root, std::string_view path) {
    // A relative path and an absolute one never name the same place.
    if (!root.empty() && root.starts_with('/') != path.starts_with('/')) {
        return std::nullopt;
    }
    const std::vector<std::string_view> base = foldedComponents(root);
    const std::vector<std::string_view> full = foldedComponents(path);
    if (full.size() <= base.size()) {
        return std::nullopt;
    }
    for (std::size_t index = 0; index < base.size(); ++index) {
        if (base[index] != full[index] || base[index] == "..") {
            return std::nullopt;
        }
    }
    std::string below;
    for (std::size_t index = base.size(); index < full.size(); ++index) {
        if (full[index] == "..") {
            return std::nullopt;
        }
        if (!below.empty()) {
            below += '/';
        }
        below += full[index];
    }
    return below;
}

std::string sledOutsideChosenFolderText(std::string_view path, std::string_view root) {
    const std::string place(path);
    const std::string folder(root);
    return vornText("'" + place + "' lies outside the chosen folder '" + folder + "'; nothing is written there.",
                    "'" + place + "' seçilen '" + folder + "' klasörünün dışında kalıyor; oraya hiçbir şey yazılmaz.");
}
