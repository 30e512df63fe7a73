#include "SledKeyringLane.h"

#include "VornTaskCancelled.h"

#include <deque>
#include <mutex>
#include <thread>
#include <utility>

struct SledKeyringLane::Call::Pending {
    std::mutex lock;
    std::condition_variable_any changed;
    bool done = false;
    std::optional<std::string> value;
    std::exception_ptr error;
    std::chrono::steady_clock::time_point deadline;
};

struct SledKeyringLane::Queue {
    struct Item {
        Work work;
        std::shared_ptr<Call::Pending> pending;
    };
    std::mutex lock;
    std::deque<Item> items;
    bool draining = false;

    // Runs the queued calls in order until none is left; the thread ends with the queue empty.
    static void drain(const std::shared_ptr<Queue>& queue) {
        for (;;) {
            Item item;
            {
                const std::lock_guard guard(queue->lock);
                if (queue->items.empty()) {
                    queue->draining = false;
                    return;
                }
                item = std::move(queue->items.front());
                queue->items.pop_front();
            }
            std::optional<std::string> value;
            std::exception_ptr error;
            try {
                value = item.work();
            } catch (...) {
                error = std::current_exception();
            }
            {
                const std::lock_guard guard(item.pending->lock);
                item.pending->value = std::move(value);
                item.pending->error = error;
                item.pending->done = true;
            }
            item.pending->changed.notify_all();
        }
    }
};

SledKeyringLane::SledKeyringLane(std::chrono::milliseconds deadline)
    : deadline_(deadline), queue_(std::make_shared<Queue>()) {}

SledKeyringLane::Call SledKeyringLane::submit(Work work) const {
    Call call;
    call.pending_ = std::make_shared<Call::Pending>();
    call.pending_->deadline = std::chrono::steady_clock::now() + deadline_;
    bool startThread = false;
    {
        const std::lock_guard guard(queue_->lock);
        queue_->items.push_back({std::move(work), call.pending_});
        startThread = !queue_->draining;
        queue_->draining = true;
    }
    if (startThread) {
        // Detached on purpose: a keyring that never answers must not hold up whoever quits.
        std::thread([queue = queue_] { Queue::drain(queue); }).detach();
    }
    return call;
}

std::optional<std::string> SledKeyringLane::Call::wait(std::stop_token stop) const {
    std::unique_lock guard(pending_->lock);
    pending_->changed.wait_until(guard, stop, pending_->deadline, [&] { return pending_->done; });
    if (!pending_->done) {
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        throw SledKeyringTimeout();
    }
    if (pending_->error) {
        std::rethrow_exception(pending_->error);
    }
    return pending_->value;
}
