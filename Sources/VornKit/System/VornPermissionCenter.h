#pragma once

#include "VornRawValue.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The privileges a suite application may need, each with the address of its settings page as
// the suite has always stored it.
enum class VornSystemPermissionKind { accessibility, screenRecording, systemAudio };

template <>
struct VornRawValueTable<VornSystemPermissionKind> {
    static constexpr std::string_view typeName = "VornSystemPermissionKind";
    static constexpr std::array entries{
        std::pair{VornSystemPermissionKind::accessibility, std::string_view("accessibility")},
        std::pair{VornSystemPermissionKind::screenRecording, std::string_view("screenRecording")},
        std::pair{VornSystemPermissionKind::systemAudio, std::string_view("systemAudio")},
    };
};

// The stored settings address of `kind`; present for every case.
std::optional<std::string> settingsURL(VornSystemPermissionKind kind);

// The kind of graphical session this process runs in, from $XDG_SESSION_TYPE, else from which
// display variables are set.
enum class VornSessionType { none, x11, wayland };

// Whether this process may watch global input and capture the screen. Linux keeps no per-program
// list of such grants: under X11 every client of the display may do both, under Wayland a plain
// program may do neither (only through a portal the user answers each time), and without a
// display there is nothing to watch.
struct VornPermissionCenter {
    static VornSessionType sessionType();

    // `prompt` asks nothing: there is no dialog that could change the answer.
    static bool isAccessibilityGranted(bool prompt);
    static bool isScreenRecordingGranted();

    // Starts the desktop's own settings program (the current desktop's first, else the first one
    // installed) on its privacy page where it has one; does nothing where none is installed.
    static void openSystemSettings(VornSystemPermissionKind kind);
};
