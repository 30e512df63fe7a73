#pragma once

// A private X display for tests that need a real one: Xvfb on a display number it picks itself,
// with openbox managing its windows. Both are stopped by their own process ids.

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

class VornTestXDisplay {
public:
    // Starts Xvfb and openbox and sets $DISPLAY for this process (unsetting Wayland's variables and
    // declaring an X11 session). `error()` says what went wrong when `ready()` is false.
    VornTestXDisplay();
    ~VornTestXDisplay();
    VornTestXDisplay(const VornTestXDisplay&) = delete;
    VornTestXDisplay& operator=(const VornTestXDisplay&) = delete;

    bool ready() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }

    // The key code that types `keysym` on this display's keyboard (0 when none does).
    std::uint8_t keyCode(std::uint32_t keysym) const;

private:
    std::string name_;
    std::string error_;
    pid_t server_ = -1;
    pid_t windowManager_ = -1;
};

// A second X client for the duration of the object: it tries to grab one key combination on the
// root window and reports each press it receives.
class VornTestXGrabber {
public:
    VornTestXGrabber(std::uint8_t keyCode, std::uint16_t modifiers);
    ~VornTestXGrabber();
    VornTestXGrabber(const VornTestXGrabber&) = delete;
    VornTestXGrabber& operator=(const VornTestXGrabber&) = delete;

    // Whether the display gave it the grab.
    bool holdsGrab() const { return holds_; }
    // Waits (up to a generous bound) for the next press it receives; false when none came.
    bool waitForPress(int milliseconds = 10000);

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool holds_ = false;
};
