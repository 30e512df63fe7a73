#include "VornNotificationCenter.h"

#include <algorithm>
#include <memory>

VornNotificationCenter& VornNotificationCenter::defaultCenter() {
    // Never destroyed: threads still posting while the process exits find it intact.
    static auto* center = new VornNotificationCenter;
    return *center;
}

VornObserverToken VornNotificationCenter::addObserver(std::string name, Observer observer) {
    auto shared = std::make_shared<const Observer>(std::move(observer));
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    registrations_.push_back(Registration{id, std::move(name), std::move(shared)});
    return VornObserverToken{id};
}

void VornNotificationCenter::removeObserver(VornObserverToken token) {
    // The observer itself is released outside the lock: its captures may post or remove.
    std::shared_ptr<const Observer> released;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(registrations_.begin(), registrations_.end(),
                               [&](const Registration& r) { return r.id == token.value; });
        if (it == registrations_.end()) {
            return;
        }
        released = std::move(it->observer);
        registrations_.erase(it);
    }
}

void VornNotificationCenter::post(const VornNotification& notification) {
    std::vector<std::shared_ptr<const Observer>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Registration& r : registrations_) {
            if (r.name.empty() || r.name == notification.name) {
                targets.push_back(r.observer);
            }
        }
    }
    for (const auto& observer : targets) {
        if (*observer) {
            (*observer)(notification);
        }
    }
}

void VornNotificationCenter::post(std::string name, std::any object) {
    post(VornNotification{std::move(name), std::move(object)});
}
