#include "VornAppActivationDelegate.h"

#include "VornAppLogger.h"
#include "VornAppVersion.h"
#include "VornNotificationCenter.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <fstream>
#include <map>
#include <sys/utsname.h>

namespace {

constexpr std::size_t maximumOsReleaseBytes = 64 * 1024;

// One value as os-release writes it: shell-like, optionally in single or double quotes, with
// backslash escapes inside double quotes.
std::string unquote(std::string_view raw) {
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r')) {
        raw.remove_suffix(1);
    }
    std::string value;
    if (raw.size() >= 2 && raw.front() == '\'' && raw.back() == '\'') {
        return std::string(raw.substr(1, raw.size() - 2));
    }
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                ++i;
            }
            value += raw[i];
        }
        return value;
    }
    return std::string(raw);
}

std::string withoutControls(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    return text;
}

std::optional<std::map<std::string, std::string>> readOsRelease(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string content(maximumOsReleaseBytes, '\0');
    in.read(content.data(), std::streamsize(content.size()));
    content.resize(std::size_t(in.gcount()));
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        const std::string_view line(content.data() + start, end - start);
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string_view::npos || equals == 0) {
            continue;
        }
        fields[std::string(line.substr(0, equals))] = withoutControls(unquote(line.substr(equals + 1)));
    }
    return fields;
}

// A main window: an ordinary, managed window of its own. Tool windows, popups, dialogs and
// windows attached to another are panels; a window the window manager does not manage (a tray
// icon's, for one) can never be the main window.
bool isSuitable(const QWindow* window) {
    return (window->flags() & Qt::WindowType_Mask) == Qt::Window &&
           !(window->flags() & Qt::X11BypassWindowManagerHint) && window->transientParent() == nullptr &&
           window->isVisible();
}

}  // namespace

VornAppActivationDelegate::VornAppActivationDelegate(const VornBundle& bundle) : bundle_(bundle) {}

std::string VornAppActivationDelegate::applicationName() const {
    if (auto name = bundle_.infoText(VornBundle::displayNameKey)) {
        return *name;
    }
    if (auto name = bundle_.infoText(VornBundle::nameKey)) {
        return *name;
    }
    return VornBundle::processName();
}

std::string VornAppActivationDelegate::operatingSystemVersionString() {
    return operatingSystemVersionString({"/etc/os-release", "/usr/lib/os-release"});
}

std::string VornAppActivationDelegate::operatingSystemVersionString(
    const std::vector<std::filesystem::path>& osReleaseFiles) {
    for (const auto& file : osReleaseFiles) {
        const auto fields = readOsRelease(file);
        if (!fields) {
            continue;
        }
        auto field = [&](const char* key) {
            const auto found = fields->find(key);
            return found == fields->end() ? std::string() : found->second;
        };
        if (!field("PRETTY_NAME").empty()) {
            return field("PRETTY_NAME");
        }
        std::string name = field("NAME").empty() ? "Linux" : field("NAME");
        if (!field("VERSION").empty()) {
            name += " " + field("VERSION");
        }
        return name;
    }
    utsname system{};
    if (::uname(&system) == 0) {
        return withoutControls(system.release);
    }
    return "Linux";
}

void VornAppActivationDelegate::applicationDidFinishLaunching() {
    const std::string name = applicationName();
    const VornAppVersion version = VornAppVersion::current(bundle_, "1.0.0", "100");
    const auto logger = VornAppLogger::shared(name);
    logger->log(VornLogLevel::info, "lifecycle",
                name + " " + version.detailedDisplay() + " launched (Linux " + operatingSystemVersionString() + ")");
    if (QCoreApplication::instance() != nullptr) {
        QTimer::singleShot(100, QCoreApplication::instance(), [] { bringStudioWindowToFront(); });
    }
}

bool VornAppActivationDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (hasVisibleWindows) {
        bringStudioWindowToFront();
    } else {
        VornNotificationCenter::defaultCenter().post(std::string(vornReopenStudioWindow));
    }
    return true;
}

void VornAppActivationDelegate::bringStudioWindowToFront() {
    if (qGuiApp == nullptr) {
        return;
    }
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!isSuitable(window)) {
            continue;
        }
        if (window->windowStates() & Qt::WindowMinimized) {
            window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
        }
        window->raise();
        window->requestActivate();
        return;
    }
}
