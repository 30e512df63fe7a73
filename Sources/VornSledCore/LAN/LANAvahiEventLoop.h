#pragma once

#include <avahi-common/thread-watch.h>
#include <avahi-common/watch.h>

// The one threaded Avahi event loop of the process, shared by every publisher and browser, so
// that all Avahi callbacks run on one thread. Avahi objects may be created, changed and freed
// only on that thread (inside a callback) or while holding the loop's lock (LANAvahiLock).
class LANAvahiEventLoop {
public:
    static LANAvahiEventLoop& shared();

    // Null when the loop could not be started (the objects that need it then stay idle).
    AvahiThreadedPoll* poll() const { return poll_; }
    const AvahiPoll* api() const { return poll_ != nullptr ? avahi_threaded_poll_get(poll_) : nullptr; }

    ~LANAvahiEventLoop();
    LANAvahiEventLoop(const LANAvahiEventLoop&) = delete;
    LANAvahiEventLoop& operator=(const LANAvahiEventLoop&) = delete;

private:
    LANAvahiEventLoop();
    AvahiThreadedPoll* poll_ = nullptr;
};

// Holds the event loop's lock. Never taken on the loop's own thread (inside a callback), where
// the lock is already held.
class LANAvahiLock {
public:
    explicit LANAvahiLock(AvahiThreadedPoll* poll) : poll_(poll) { avahi_threaded_poll_lock(poll_); }
    ~LANAvahiLock() { avahi_threaded_poll_unlock(poll_); }
    LANAvahiLock(const LANAvahiLock&) = delete;
    LANAvahiLock& operator=(const LANAvahiLock&) = delete;

private:
    AvahiThreadedPoll* poll_;
};
