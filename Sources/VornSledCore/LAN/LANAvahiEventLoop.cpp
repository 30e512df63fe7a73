#include "LANAvahiEventLoop.h"

LANAvahiEventLoop& LANAvahiEventLoop::shared() {
    static LANAvahiEventLoop loop;
    return loop;
}

LANAvahiEventLoop::LANAvahiEventLoop() : poll_(avahi_threaded_poll_new()) {
    if (poll_ != nullptr && avahi_threaded_poll_start(poll_) < 0) {
        avahi_threaded_poll_free(poll_);
        poll_ = nullptr;
    }
}

LANAvahiEventLoop::~LANAvahiEventLoop() {
    if (poll_ != nullptr) {
        avahi_threaded_poll_stop(poll_);
        avahi_threaded_poll_free(poll_);
    }
}
