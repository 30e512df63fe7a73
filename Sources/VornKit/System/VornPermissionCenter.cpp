#include "VornPermissionCenter.h"

#include "VornBinaryLocator.h"
#include "VornDesktop.h"

#include <cstdlib>
#include <vector>

namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string_view() : std::string_view(value);
}

struct SettingsProgram {
    std::string_view desktop;  // as named in $XDG_CURRENT_DESKTOP
    std::string_view program;
    std::string_view privacyPage;  // the argument that opens its privacy page, if any
};

constexpr std::array settingsPrograms{
    SettingsProgram{"GNOME", "gnome-control-center", "privacy"},
    SettingsProgram{"KDE", "systemsettings", ""},
    SettingsProgram{"XFCE", "xfce4-settings-manager", ""},
    SettingsProgram{"MATE", "mate-control-center", ""},
    SettingsProgram{"X-Cinnamon", "cinnamon-settings", "privacy"},
};

bool currentDesktopIs(std::string_view desktop) {
    std::string_view list = environment("XDG_CURRENT_DESKTOP");
    while (!list.empty()) {
        const auto colon = list.find(':');
        if (list.substr(0, colon) == desktop) {
            return true;
        }
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    return false;
}

bool start(const SettingsProgram& candidate) {
    const auto program = VornBinaryLocator::locate(candidate.program);
    if (!program) {
        return false;
    }
    std::vector<std::string> arguments{program->string()};
    if (!candidate.privacyPage.empty()) {
        arguments.emplace_back(candidate.privacyPage);
    }
    return VornDesktop::startDetached(arguments);
}

}  // namespace

std::optional<std::string> settingsURL(VornSystemPermissionKind kind) {
    switch (kind) {
        case VornSystemPermissionKind::accessibility:
            return "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
        case VornSystemPermissionKind::screenRecording:
            return "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";
        case VornSystemPermissionKind::systemAudio:
            return "x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture";
    }
    return std::nullopt;
}

VornSessionType VornPermissionCenter::sessionType() {
    const std::string_view declared = environment("XDG_SESSION_TYPE");
    if (declared == "wayland") {
        return VornSessionType::wayland;
    }
    if (declared == "x11") {
        return VornSessionType::x11;
    }
    if (!environment("WAYLAND_DISPLAY").empty()) {
        return VornSessionType::wayland;
    }
    if (!environment("DISPLAY").empty()) {
        return VornSessionType::x11;
    }
    return VornSessionType::none;
}

bool VornPermissionCenter::isAccessibilityGranted(bool prompt) {
    (void)prompt;
    return sessionType() == VornSessionType::x11;
}

bool VornPermissionCenter::isScreenRecordingGranted() { return sessionType() == VornSessionType::x11; }

void VornPermissionCenter::openSystemSettings(VornSystemPermissionKind kind) {
    if (!settingsURL(kind)) {
        return;
    }
    for (const SettingsProgram& candidate : settingsPrograms) {
        if (currentDesktopIs(candidate.desktop) && start(candidate)) {
            return;
        }
    }
    for (const SettingsProgram& candidate : settingsPrograms) {
        if (start(candidate)) {
            return;
        }
    }
}
