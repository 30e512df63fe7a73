#include "VornLaunchAtLogin.h"

#include "VornBundle.h"
#include "VornFileIO.h"
#include "VornXDG.h"

#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Desktop entries are small; anything larger is not one of ours and reads as no entry.
constexpr std::size_t entryFileLimit = 64 * 1024;

std::string entryName() {
    return VornBundle::main().bundleIdentifier().value_or("com.vornworks.vornsled") + ".desktop";
}

std::vector<fs::path> systemConfigFolders() {
    std::vector<fs::path> folders;
    const char* raw = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = raw != nullptr && *raw != '\0' ? std::string_view(raw) : std::string_view("/etc/xdg");
    while (!list.empty()) {
        const auto colon = list.find(':');
        const std::string_view folder = list.substr(0, colon);
        if (!folder.empty() && folder.front() == '/') {
            folders.emplace_back(folder);
        }
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    return folders;
}

// The value of `key` in the [Desktop Entry] group, trimmed at the end of the line.
std::optional<std::string> entryValue(std::string_view entry, std::string_view key) {
    bool inMainGroup = false;
    while (!entry.empty()) {
        const auto end = entry.find('\n');
        std::string_view line = entry.substr(0, end);
        entry = end == std::string_view::npos ? std::string_view() : entry.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || line.substr(0, key.size()) != key) {
            continue;
        }
        std::string_view rest = line.substr(key.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        if (rest.empty() || rest.front() != '=') {
            continue;
        }
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        return std::string(rest);
    }
    return std::nullopt;
}

std::optional<std::string> readEntry(const fs::path& path) {
    std::error_code error;
    return vornReadFileCapped(path, entryFileLimit, error);
}

bool entryRuns(const std::string& entry) {
    if (entry.find("[Desktop Entry]") == std::string::npos) {
        return false;
    }
    return entryValue(entry, "Hidden") != "true" && entryValue(entry, "X-GNOME-Autostart-enabled") != "false";
}

fs::path currentExecutable() {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program;
}

}  // namespace

fs::path VornLaunchAtLogin::entryPath() { return VornXDG::configHome() / "autostart" / entryName(); }

std::string VornLaunchAtLogin::execValue(const fs::path& program) {
    const std::string& text = program.native();
    if (text.empty() || text.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) {
        return {};
    }
    // Two layers: the Exec rules (quote, then backslash before " ` $ \), and under them the
    // string rules of every value (a backslash written twice). A literal % is doubled so it is
    // never read as a field code.
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";
        } else if (c == '\\') {
            quoted += "\\\\\\";
        } else if (c == '%') {
            quoted += '%';
        } else if (c == '\t') {
            quoted += "\\t";
            continue;
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

bool VornLaunchAtLogin::isEnabled() {
    if (auto entry = readEntry(entryPath())) {
        return entryRuns(*entry);
    }
    std::error_code error;
    if (fs::exists(fs::symlink_status(entryPath(), error))) {
        return false;  // present but unreadable: it still hides the system's entry
    }
    for (const fs::path& folder : systemConfigFolders()) {
        if (auto entry = readEntry(folder / "autostart" / entryName())) {
            return entryRuns(*entry);
        }
    }
    return false;
}

bool VornLaunchAtLogin::setEnabled(bool enabled) {
    const fs::path path = entryPath();
    std::error_code error;
    if (!enabled) {
        bool shippedBySystem = false;
        for (const fs::path& folder : systemConfigFolders()) {
            shippedBySystem = shippedBySystem || readEntry(folder / "autostart" / entryName()).has_value();
        }
        if (!shippedBySystem) {
            fs::remove(path, error);
            return !error;
        }
    }
    std::string entry = "[Desktop Entry]\nType=Application\n";
    entry += "Name=" + VornBundle::main().infoText(VornBundle::nameKey).value_or("VornSled") + "\n";
    if (enabled) {
        const std::string exec = execValue(currentExecutable());
        if (exec.empty()) {
            return false;
        }
        entry += "Exec=" + exec + "\nX-GNOME-Autostart-enabled=true\n";
    } else {
        entry += "Hidden=true\n";
    }
    try {
        fs::create_directories(path.parent_path());
        vornWriteFileAtomically(path, entry, 0644);
    } catch (const fs::filesystem_error&) {
        return false;
    }
    return true;
}
