#include "VornTestXDisplay.h"

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

pid_t spawn(const std::vector<std::string>& arguments, int stdinFd, int stdoutFd, const std::vector<int>& closeFds) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    }
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    }
    for (const int fd : closeFds) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t& pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }
}

// Reads one line from `fd`, waiting at most `milliseconds` in all.
std::optional<std::string> readLine(int fd, int milliseconds) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (::poll(&p, 1, int(std::max<long>(1, left.count()))) <= 0) {
            continue;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1) {
            return std::nullopt;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return std::nullopt;
}

bool windowManagerRunning(xcb_connection_t* connection, xcb_window_t root) {
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 24, "_NET_SUPPORTING_WM_CHECK"), nullptr);
    if (atom == nullptr) {
        return false;
    }
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool present = property != nullptr && xcb_get_property_value_length(property) == 4;
    std::free(property);
    std::free(atom);
    return present;
}

}  // namespace

VornTestXDisplay::VornTestXDisplay() {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        error_ = "pipe failed";
        return;
    }
    server_ = spawn({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                     "-noreset"},
                    -1, -1, {pipeFds[0]});
    ::close(pipeFds[1]);
    if (server_ < 0) {
        ::close(pipeFds[0]);
        error_ = "Xvfb could not be started";
        return;
    }
    const std::optional<std::string> number = readLine(pipeFds[0], 30000);
    ::close(pipeFds[0]);
    if (!number || number->empty()) {
        error_ = "Xvfb did not report its display";
        return;
    }
    name_ = ":" + *number;
    ::setenv("DISPLAY", name_.c_str(), 1);
    ::setenv("XDG_SESSION_TYPE", "x11", 1);
    ::unsetenv("WAYLAND_DISPLAY");

    windowManager_ = spawn({"openbox"}, -1, -1, {});
    if (windowManager_ < 0) {
        error_ = "openbox could not be started";
        return;
    }
    xcb_connection_t* connection = xcb_connect(name_.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        error_ = "cannot connect to " + name_;
        return;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    bool managed = false;
    for (int i = 0; i < 300 && !managed; ++i) {
        managed = windowManagerRunning(connection, root);
        if (!managed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    xcb_disconnect(connection);
    if (!managed) {
        error_ = "openbox did not start managing " + name_;
    }
}

VornTestXDisplay::~VornTestXDisplay() {
    stop(windowManager_);
    stop(server_);
}

std::uint8_t VornTestXDisplay::keyCode(std::uint32_t keysym) const {
    xcb_connection_t* connection = xcb_connect(name_.c_str(), nullptr);
    std::uint8_t found = 0;
    if (!xcb_connection_has_error(connection)) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const auto count = std::uint8_t(setup->max_keycode - setup->min_keycode + 1);
        xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr);
        if (mapping != nullptr) {
            const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(mapping);
            const int total = xcb_get_keyboard_mapping_keysyms_length(mapping);
            for (int i = 0; i < total && found == 0; ++i) {
                if (symbols[i] == keysym && mapping->keysyms_per_keycode > 0) {
                    found = std::uint8_t(setup->min_keycode + i / mapping->keysyms_per_keycode);
                }
            }
            std::free(mapping);
        }
    }
    xcb_disconnect(connection);
    return found;
}

VornTestXGrabber::VornTestXGrabber(std::uint8_t keyCode, std::uint16_t modifiers) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) {
        return;
    }
    pid_ = spawn({VORN_TEST_XGRAB, std::to_string(keyCode), std::to_string(modifiers)}, in[0], out[1],
                 {in[1], out[0]});
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (pid_ > 0) {
        holds_ = readLine(output_, 30000) == std::optional<std::string>("grabbed");
    }
}

VornTestXGrabber::~VornTestXGrabber() {
    if (input_ >= 0) {
        ::close(input_);  // the helper ends when its input does
    }
    if (pid_ > 0) {
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (output_ >= 0) {
        ::close(output_);
    }
}

bool VornTestXGrabber::waitForPress(int milliseconds) {
    return readLine(output_, milliseconds) == std::optional<std::string>("pressed");
}
