#pragma once

#include "VornRawValue.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The maker's applications that exchange status and commands with one another. Only the ones this
// system names are declared; their relative order is fixed.
enum class VornSuiteApp {
    brakka,
    quarn,
    hessom,
    tibrel,
    dravik,
    vornSled,
    lunnet,
    faldor,
};

template <>
struct VornRawValueTable<VornSuiteApp> {
    static constexpr std::string_view typeName = "VornSuiteApp";
    static constexpr std::array entries{
        std::pair{VornSuiteApp::brakka, std::string_view("Brakka")},
        std::pair{VornSuiteApp::quarn, std::string_view("Quarn")},
        std::pair{VornSuiteApp::hessom, std::string_view("Hessom")},
        std::pair{VornSuiteApp::tibrel, std::string_view("Tibrel")},
        std::pair{VornSuiteApp::dravik, std::string_view("Dravik")},
        std::pair{VornSuiteApp::vornSled, std::string_view("VornSled")},
        std::pair{VornSuiteApp::lunnet, std::string_view("Lunnet")},
        std::pair{VornSuiteApp::faldor, std::string_view("Faldor")},
    };
};

// What the suite knows about each application: its names, where its desktop entry lies, whether it
// runs, and how to bring it up. Everything is read afresh at each call.
struct VornSuiteApps {
    // The raw value in lower case: "vornsled". Names files, bus names and notifications.
    static std::string lowerName(VornSuiteApp app);
    // "com.vornworks." + lowerName: the desktop entry's name and the session-bus name it owns.
    static std::string bundleIdentifier(VornSuiteApp app);
    // The icon name of the application (an icon-theme name keyed like the other symbols).
    static std::string_view symbolName(VornSuiteApp app);
    // The application's identity: its raw value.
    static std::string id(VornSuiteApp app) { return rawValue(app); }

    // The first "<bundleIdentifier>.desktop" found in $XDG_DATA_HOME/applications, then in the
    // applications folder of each $XDG_DATA_DIRS entry (default /usr/local/share:/usr/share).
    static std::optional<std::filesystem::path> installedURL(VornSuiteApp app);
    static bool isInstalled(VornSuiteApp app) { return installedURL(app).has_value(); }

    // The session-bus name is owned, else a process of this user is named like the application
    // (its command name or the last part of its first argument, ignoring letter case).
    static bool isRunning(VornSuiteApp app);

    // A running application is asked to come forward (org.freedesktop.Application.Activate on its
    // bus name, not awaited); otherwise the desktop entry's command is started detached. True when
    // it runs or was started; false when it is neither running nor installed or cannot be started.
    static bool launch(VornSuiteApp app);
    // Starts the entry's command detached without activating a running instance.
    static bool openInstalled(VornSuiteApp app);

    // The argument list of a desktop entry's Exec value: string escapes undone, double-quoted
    // arguments joined, field codes removed ("%%" stays as "%"). Nothing when the value is
    // malformed (an unterminated quote) or names no program.
    static std::optional<std::vector<std::string>> execArguments(std::string_view exec);
};
