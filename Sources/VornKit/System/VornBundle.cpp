#include "VornBundle.h"

#include "VornBuildInfo.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> executablePath() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    buffer.resize(static_cast<size_t>(length));
    return fs::path(buffer);
}

bool isPlainName(std::string_view text) {
    return !text.empty() && text.find('/') == std::string_view::npos && text.find('\0') == std::string_view::npos &&
           text != "." && text != "..";
}

}  // namespace

VornBundle::VornBundle(std::optional<std::string> bundleIdentifier, nlohmann::json infoDictionary,
                       fs::path resourceDirectory)
    : identifier_(std::move(bundleIdentifier)),
      info_(infoDictionary.is_object() ? std::move(infoDictionary) : nlohmann::json::object()),
      resources_(std::move(resourceDirectory)) {}

const VornBundle& VornBundle::main() {
    static const VornBundle bundle(VORN_BUNDLE_IDENTIFIER,
                                   nlohmann::json{{identifierKey, VORN_BUNDLE_IDENTIFIER},
                                                  {nameKey, "VornSled"},
                                                  {displayNameKey, "VornSled"},
                                                  {shortVersionKey, VORN_APP_VERSION},
                                                  {buildKey, VORN_APP_BUILD}},
                                   mainResourceDirectory());
    return bundle;
}

std::optional<std::string> VornBundle::infoText(std::string_view key) const {
    const auto found = info_.find(key);
    if (found == info_.end() || !found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

std::optional<fs::path> VornBundle::resourcePath(std::string_view name, std::string_view extension) const {
    const std::string fileName = extension.empty() ? std::string(name) : std::string(name) + "." + std::string(extension);
    if (!isPlainName(name) || !isPlainName(fileName) || resources_.empty()) {
        return std::nullopt;
    }
    const fs::path candidate = resources_ / fileName;
    std::error_code status;
    if (!fs::is_regular_file(candidate, status)) {
        return std::nullopt;
    }
    return candidate;
}

std::string VornBundle::processName() {
    if (auto path = executablePath()) {
        return path->filename().string();
    }
    return program_invocation_short_name != nullptr ? program_invocation_short_name : "";
}

fs::path VornBundle::mainResourceDirectory() {
    if (auto path = executablePath()) {
        const fs::path installed = path->parent_path().parent_path() / "share" / "vornsled";
        std::error_code status;
        if (fs::is_directory(installed, status)) {
            return installed;
        }
    }
    return VORN_BUILD_RESOURCES_DIR;
}
