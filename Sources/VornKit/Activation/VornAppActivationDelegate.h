#pragma once

#include "VornBundle.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Posted on VornNotificationCenter::defaultCenter(), with no object, when a reopened application
// has no window to show: the application that wants its main window back observes it.
inline constexpr std::string_view vornReopenStudioWindow = "com.vornworks.reopenStudioWindow";

// The suite's ready-made launch and reopen behaviour for a Qt application. Linux has no
// application-level launch and reopen callbacks, so the application calls these itself: the launch
// callback once its windows exist, the reopen callback when a second launch of the program reaches
// the first (its single-instance layer). Every Linux program with windows is a regular application,
// and activation is a window's, so "make the application regular and active" comes down to fronting
// the window. Every call belongs on the GUI thread.
class VornAppActivationDelegate {
public:
    // `bundle` names the application and its version (the running program's by default).
    explicit VornAppActivationDelegate(const VornBundle& bundle = VornBundle::main());

    // Logs "<name> v<version> (<build>) launched (Linux <system>)" at info level in the category
    // "lifecycle", then fronts the first suitable window 0.1 seconds later.
    void applicationDidFinishLaunching();

    // Fronts the first suitable window when there are visible windows; otherwise posts
    // vornReopenStudioWindow once and fronts nothing. Always true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    // The first top-level window, in Qt's order, that is an ordinary window the window manager
    // manages (never a tool window, popup, dialog, splash or a window attached to another: the
    // panels of this platform) and is shown (minimized counts as shown; a hidden window stays
    // hidden): restored when minimized, raised and activated. Nothing when no window qualifies.
    static void bringStudioWindowToFront();

    // The bundle's display name, else its name (taken as they are), else the process's name.
    std::string applicationName() const;

    // The system's name as os-release gives it for display (PRETTY_NAME, else NAME and VERSION),
    // from the first of /etc/os-release and /usr/lib/os-release that exists; else the kernel's
    // release. Control characters become spaces; at most 64 KiB of the file is read.
    static std::string operatingSystemVersionString();
    static std::string operatingSystemVersionString(const std::vector<std::filesystem::path>& osReleaseFiles);

private:
    VornBundle bundle_;
};
