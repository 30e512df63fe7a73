#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// One posted notification: its name and an optional object (a language for
// "com.vornworks.languageDidChange"; read it with std::any_cast).
struct VornNotification {
    std::string name;
    std::any object;
};

// Identifies one registration; removing it stops further deliveries. A default token
// identifies nothing.
struct VornObserverToken {
    std::uint64_t value = 0;
    explicit operator bool() const { return value != 0; }
    bool operator==(const VornObserverToken&) const = default;
};

// In-process notifications, delivered synchronously on the posting thread in the order the
// observers were added. Observers may add or remove observers (themselves included) and post
// further notifications from inside a delivery: the lock is never held while an observer runs.
// An observer removed while a post is under way may still receive that one notification.
class VornNotificationCenter {
public:
    using Observer = std::function<void(const VornNotification&)>;

    VornNotificationCenter() = default;
    VornNotificationCenter(const VornNotificationCenter&) = delete;
    VornNotificationCenter& operator=(const VornNotificationCenter&) = delete;

    // The process's default centre, created on first use.
    static VornNotificationCenter& defaultCenter();

    // Observes notifications called `name`; an empty name observes every notification.
    VornObserverToken addObserver(std::string name, Observer observer);
    // Unknown or already removed tokens are ignored.
    void removeObserver(VornObserverToken token);

    void post(const VornNotification& notification);
    void post(std::string name, std::any object = {});

private:
    struct Registration {
        std::uint64_t id;
        std::string name;
        std::shared_ptr<const Observer> observer;
    };

    std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::vector<Registration> registrations_;
};
