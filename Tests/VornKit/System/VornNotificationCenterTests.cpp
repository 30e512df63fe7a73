#include "VornNotificationCenter.h"
#include "VornTestSupport.h"

#include <mutex>
#include <thread>

namespace {

TEST(VornNotificationCenterTest, DeliversByNameInOrderOfRegistration) {
    VornNotificationCenter center;
    std::vector<std::string> seen;
    auto a = center.addObserver("com.vornworks.a", [&](const VornNotification& n) {
        seen.push_back("first:" + n.name + ":" + std::to_string(std::any_cast<int>(n.object)));
    });
    auto all = center.addObserver("", [&](const VornNotification& n) { seen.push_back("all:" + n.name); });
    auto b = center.addObserver("com.vornworks.a", [&](const VornNotification&) { seen.push_back("second"); });
    EXPECT_TRUE(a && b && all);
    EXPECT_NE(a, b);

    center.post("com.vornworks.a", 7);
    center.post("com.vornworks.b");
    center.removeObserver(a);
    center.removeObserver(a);                   // twice: ignored
    center.removeObserver(VornObserverToken{});  // nothing: ignored
    center.post("com.vornworks.a", 8);
    EXPECT_EQ(seen, (std::vector<std::string>{"first:com.vornworks.a:7", "all:com.vornworks.a", "second",
                                              "all:com.vornworks.b", "all:com.vornworks.a", "second"}));
}

TEST(VornNotificationCenterTest, ObserversMayChangeTheCentreWhileBeingCalled) {
    VornNotificationCenter center;
    std::vector<std::string> seen;
    VornObserverToken once;
    once = center.addObserver("tick", [&](const VornNotification&) {
        seen.push_back("once");
        center.removeObserver(once);  // removes itself: the lock is not held here
        center.addObserver("tock", [&](const VornNotification&) { seen.push_back("tock"); });
        center.post("tock");          // nested post
    });
    center.post("tick");
    center.post("tick");
    EXPECT_EQ(seen, (std::vector<std::string>{"once", "tock"}));
}

TEST(VornNotificationCenterTest, DeliversOnThePostingThread) {
    auto& center = VornNotificationCenter::defaultCenter();
    EXPECT_EQ(&center, &VornNotificationCenter::defaultCenter());
    std::mutex mutex;
    std::vector<std::pair<std::thread::id, std::thread::id>> deliveries;
    auto token = center.addObserver("com.vornworks.thread", [&](const VornNotification& n) {
        std::lock_guard lock(mutex);
        deliveries.emplace_back(std::any_cast<std::thread::id>(n.object), std::this_thread::get_id());
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 50; ++j) {
                center.post("com.vornworks.thread", std::this_thread::get_id());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    center.removeObserver(token);
    ASSERT_EQ(deliveries.size(), 200u);
    for (const auto& [poster, receiver] : deliveries) {
        EXPECT_EQ(poster, receiver);
    }
}

}  // namespace
