#include "VornSuiteApp.h"

#include "VornSuiteCoding.h"
#include "VornSuiteNotifications.h"
#include "VornXDG.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string asciiLower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders{VornXDG::dataHome() / "applications"};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = (dirs != nullptr && *dirs != '\0') ? dirs : "/usr/local/share:/usr/share";
    std::stringstream stream(list);
    std::string entry;
    while (std::getline(stream, entry, ':')) {
        if (!entry.empty() && entry.front() == '/') {
            folders.push_back(fs::path(entry) / "applications");
        }
    }
    return folders;
}

// The Exec value of the [Desktop Entry] group, still escaped.
std::optional<std::string> execValue(const fs::path& entry) {
    const std::optional<std::string> text = detail::suiteReadFile(entry);
    if (!text) {
        return std::nullopt;
    }
    std::stringstream stream(*text);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line.rfind("[Desktop Entry]", 0) == 0;
            continue;
        }
        if (!inMainGroup || line.rfind("Exec", 0) != 0) {
            continue;
        }
        std::size_t at = 4;
        while (at < line.size() && line[at] == ' ') {
            ++at;
        }
        if (at >= line.size() || line[at] != '=') {
            continue;  // "ExecFoo=" or a localised key
        }
        ++at;
        while (at < line.size() && line[at] == ' ') {
            ++at;
        }
        return line.substr(at);
    }
    return std::nullopt;
}

bool sameUserProcessNamed(std::string_view rawName) {
    const std::string wanted = asciiLower(rawName);
    const uid_t me = ::getuid();
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string pidText = it->path().filename().string();
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        struct stat info {};
        if (::stat(it->path().c_str(), &info) != 0 || info.st_uid != me) {
            continue;
        }
        std::string comm = detail::suiteReadFile(it->path() / "comm").value_or("");
        if (!comm.empty() && comm.back() == '\n') {
            comm.pop_back();
        }
        if (asciiLower(comm) == wanted) {
            return true;
        }
        // Another process's arguments can be long; a first argument beyond the cap is no name.
        const std::string cmdline = detail::suiteReadFile(it->path() / "cmdline", 256 * 1024).value_or("");
        const std::string first = cmdline.substr(0, cmdline.find('\0'));
        if (!first.empty() && asciiLower(fs::path(first).filename().string()) == wanted) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> resolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return ::access(program.c_str(), X_OK) == 0 ? std::optional(program) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::stringstream stream(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(stream, folder, ':')) {
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Starts the program in a new session as a grandchild, so that it is neither our child to reap nor
// tied to our terminal; only the short-lived middle process is waited for.
bool spawnDetached(const std::vector<std::string>& arguments) {
    const std::optional<std::string> program = resolveProgram(arguments.front());
    if (!program) {
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t middle = ::fork();
    if (middle < 0) {
        return false;
    }
    if (middle == 0) {
        ::setsid();
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
            }
            ::execve(program->c_str(), argv.data(), environ);
            ::_exit(127);
        }
        ::_exit(child < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string VornSuiteApps::lowerName(VornSuiteApp app) { return asciiLower(rawValue(app)); }

std::string VornSuiteApps::bundleIdentifier(VornSuiteApp app) { return "com.vornworks." + lowerName(app); }

std::string_view VornSuiteApps::symbolName(VornSuiteApp app) {
    switch (app) {
        case VornSuiteApp::brakka: return "xmark.octagon.fill";
        case VornSuiteApp::quarn: return "memorychip.fill";
        case VornSuiteApp::hessom: return "waveform.path.ecg";
        case VornSuiteApp::tibrel: return "timer";
        case VornSuiteApp::dravik: return "checklist.checked";
        case VornSuiteApp::vornSled: return "arrow.left.arrow.right.circle.fill";
        case VornSuiteApp::lunnet: return "music.note.list";
        case VornSuiteApp::faldor: return "slider.horizontal.3";
    }
    return {};
}

std::optional<fs::path> VornSuiteApps::installedURL(VornSuiteApp app) {
    const std::string file = bundleIdentifier(app) + ".desktop";
    for (const fs::path& folder : applicationFolders()) {
        std::error_code error;
        if (fs::exists(folder / file, error)) {
            return folder / file;
        }
    }
    return std::nullopt;
}

bool VornSuiteApps::isRunning(VornSuiteApp app) {
    return VornSuiteNotifications::nameHasOwner(bundleIdentifier(app)) || sameUserProcessNamed(rawValue(app));
}

bool VornSuiteApps::launch(VornSuiteApp app) {
    if (VornSuiteNotifications::nameHasOwner(bundleIdentifier(app))) {
        VornSuiteNotifications::activate(bundleIdentifier(app), "/com/vornworks/" + lowerName(app));
        return true;
    }
    if (sameUserProcessNamed(rawValue(app))) {
        return true;  // running without a bus name: nothing to ask it
    }
    return openInstalled(app);
}

bool VornSuiteApps::openInstalled(VornSuiteApp app) {
    const std::optional<fs::path> entry = installedURL(app);
    if (!entry) {
        return false;
    }
    const std::optional<std::string> exec = execValue(*entry);
    if (!exec) {
        return false;
    }
    const std::optional<std::vector<std::string>> arguments = execArguments(*exec);
    return arguments && spawnDetached(*arguments);
}

std::optional<std::vector<std::string>> VornSuiteApps::execArguments(std::string_view exec) {
    // The value is first a desktop-entry string, whose escapes are undone before the quoting rules.
    std::string value;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '\\' && i + 1 < exec.size()) {
            const char next = exec[i + 1];
            const char plain = next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
            if (next == 's' || next == 'n' || next == 't' || next == 'r' || next == '\\') {
                value += plain;
                ++i;
                continue;
            }
        }
        value += exec[i];
    }

    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool onlyFieldCodes = true;  // the argument so far consists of removed field codes
    auto finish = [&] {
        if (inArgument && !(onlyFieldCodes && current.empty())) {
            arguments.push_back(current);
        }
        current.clear();
        inArgument = false;
        onlyFieldCodes = true;
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            finish();
            continue;
        }
        inArgument = true;
        if (c == '"') {
            onlyFieldCodes = false;
            ++i;
            bool closed = false;
            for (; i < value.size(); ++i) {
                if (value[i] == '"') {
                    closed = true;
                    break;
                }
                if (value[i] == '\\' && i + 1 < value.size() &&
                    std::string_view("\"`$\\").find(value[i + 1]) != std::string_view::npos) {
                    ++i;
                }
                current += value[i];
            }
            if (!closed) {
                return std::nullopt;
            }
            continue;
        }
        if (c == '%' && i + 1 < value.size()) {
            const char code = value[++i];
            if (code == '%') {
                current += '%';
                onlyFieldCodes = false;
            }
            continue;  // %f %F %u %U %i %c %k and the deprecated ones stand for nothing here
        }
        current += c;
        onlyFieldCodes = false;
    }
    finish();
    if (arguments.empty()) {
        return std::nullopt;
    }
    return arguments;
}
