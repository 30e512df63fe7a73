// A second X client for the hot-key tests: grabs one key combination (key code and X modifier mask
// from the arguments) on the root window of $DISPLAY, prints "grabbed" or "refused", then prints
// "pressed" for each press of it until its standard input closes.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s KEYCODE MODIFIERS\n", argv[0]);
        return 2;
    }
    const auto keyCode = static_cast<xcb_keycode_t>(std::stoi(argv[1]));
    const auto modifiers = static_cast<std::uint16_t>(std::stoi(argv[2]));
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::puts("refused");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_grab_key_checked(connection, 0, root, modifiers, keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    std::puts(error == nullptr ? "grabbed" : "refused");
    std::fflush(stdout);
    std::free(error);

    pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(connection), POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                std::puts("pressed");
                std::fflush(stdout);
            }
            std::free(event);
        }
        if (::poll(fds, 2, -1) < 0) {
            break;
        }
        if (fds[0].revents != 0) {
            char c;
            if (::read(0, &c, 1) <= 0) {
                break;
            }
        }
        if (xcb_connection_has_error(connection)) {
            break;
        }
    }
    xcb_disconnect(connection);
    return 0;
}
