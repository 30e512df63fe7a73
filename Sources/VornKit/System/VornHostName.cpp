#include "VornHostName.h"

#include "VornFileIO.h"

#include <unistd.h>

#include <climits>
#include <sstream>

namespace {

// Larger machine-info files are not what hostnamectl writes; they are not read.
constexpr std::size_t maxMachineInfoBytes = 64 * 1024;

// One shell-style value: unquoted (backslash escapes the next character), "double quoted" (backslash
// escapes the next character) or 'single quoted' (taken literally). Text after the value is ignored.
std::string unquote(std::string_view text) {
    std::string value;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                value.push_back(c);
            }
        } else if (c == '\\' && i + 1 < text.size()) {
            value.push_back(text[++i]);
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else {
                value.push_back(c);
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ' ' || c == '\t' || c == '#') {
            break;
        } else {
            value.push_back(c);
        }
    }
    return value;
}

}  // namespace

std::optional<std::string> VornHostName::prettyHostname(const std::filesystem::path& machineInfo) {
    std::error_code error;
    const std::optional<std::string> content = vornReadFileCapped(machineInfo, maxMachineInfoBytes, error);
    if (!content) {
        return std::nullopt;
    }

    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    std::optional<std::string> found;
    std::istringstream lines(*content);
    std::string line;
    while (std::getline(lines, line)) {
        std::string_view view(line);
        while (!view.empty() && (view.front() == ' ' || view.front() == '\t')) {
            view.remove_prefix(1);
        }
        if (view.starts_with(key)) {
            found = unquote(view.substr(key.size()));  // the last assignment wins, as in a shell
        }
    }
    if (!found || found->empty()) {
        return std::nullopt;
    }
    return found;
}

std::optional<std::string> VornHostName::computerName() {
    if (auto pretty = prettyHostname()) {
        return pretty;
    }
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}
