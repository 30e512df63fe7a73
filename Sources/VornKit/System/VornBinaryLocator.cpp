#include "VornBinaryLocator.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Where Linux distributions and local installs put tools, most local first.
constexpr const char* systemToolDirectories[] = {"/usr/local/bin", "/usr/bin", "/bin"};

bool isToolName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool isExecutableFile(const fs::path& candidate) {
    struct stat info {};
    if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    // The effective ids decide, as they do for exec; for root at least one execute bit must be set.
    return ::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) == 0;
}

}  // namespace

std::optional<fs::path> VornBinaryLocator::locate(std::string_view name,
                                                  const std::optional<fs::path>& bundleResourceDirectory,
                                                  const std::vector<std::string>& extraSearchDirectories) {
    if (!isToolName(name)) {
        return std::nullopt;
    }
    std::vector<fs::path> candidates;
    if (bundleResourceDirectory && !bundleResourceDirectory->empty()) {
        candidates.push_back(*bundleResourceDirectory / "bin" / name);
        candidates.push_back(*bundleResourceDirectory / name);
    }
    for (const std::string& directory : extraSearchDirectories) {
        if (!directory.empty()) {
            candidates.push_back(fs::path(directory) / name);
        }
    }
    for (const char* directory : systemToolDirectories) {
        candidates.push_back(fs::path(directory) / name);
    }
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest(path);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const std::string_view entry = rest.substr(0, colon);
            if (!entry.empty()) {
                candidates.push_back(fs::path(entry) / name);
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const fs::path& candidate : candidates) {
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}
