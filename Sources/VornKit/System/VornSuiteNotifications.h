#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Notifications between the maker's applications on the session bus. Every notification is one
// signal (path /com/vornworks/suite, interface com.vornworks.suite, member Notification) whose
// arguments are the notification's name and zero or one object text; receivers match on the name.
struct VornSuiteObserverToken {
    std::uint64_t value = 0;
    explicit operator bool() const { return value != 0; }
    bool operator==(const VornSuiteObserverToken&) const = default;
};

struct VornSuiteNotifications {
    using Handler = std::function<void(const std::optional<std::string>& object)>;
    // Runs a piece of work on the application's main thread.
    using MainThreadHook = std::function<void(std::function<void()>)>;

    // The application installs how handlers reach its main thread (a queued call into its event
    // loop). Without a hook, handlers run on the suite's receiving thread.
    static void setMainThreadHook(MainThreadHook hook);
    // Hands `work` to the main thread through the hook (or runs it on the calling thread).
    static void runOnMainThread(std::function<void()> work);

    // Emits the signal and flushes it to the bus; false when there is no session bus.
    static bool post(std::string_view name, const std::optional<std::string>& object = std::nullopt);

    // Receives every notification named `name` from now on; a default token when there is no
    // session bus. The handler is called through the main-thread hook.
    static VornSuiteObserverToken observe(std::string_view name, Handler handler);
    static void removeObserver(VornSuiteObserverToken token);

    // Calls `work` through the main-thread hook after `milliseconds`, unless the process ends first.
    static void after(unsigned milliseconds, std::function<void()> work);

    // Owns `busName` on the session bus for the rest of the process, so that the suite sees this
    // application running; false when the bus refuses it or is absent.
    static bool ownName(std::string_view busName);
    // Whether some connection owns `busName` now.
    static bool nameHasOwner(std::string_view busName);
    // Calls org.freedesktop.Application.Activate on `busName` at `objectPath`, without waiting.
    static bool activate(std::string_view busName, std::string_view objectPath);
};
