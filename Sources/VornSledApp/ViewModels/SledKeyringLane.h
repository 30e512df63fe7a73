#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

// The keyring gave no answer within the model's deadline. The call itself goes on on its own
// thread, and whatever it brings back is dropped.
class SledKeyringTimeout : public std::runtime_error {
public:
    SledKeyringTimeout() : std::runtime_error("The system keyring did not answer") {}
};

// The model's keyring calls, carried out one after the other in the order they were submitted, on
// a thread of the lane's own that nobody joins. A keyring daemon that hangs (paused, waiting for a
// prompt nobody sees) holds that thread and the calls queued behind it, never a caller: each
// caller waits for its call at most the deadline, counted from submission, and a model that is
// being destroyed stops waiting at once. The order matters: a secret deleted after it was stored
// must never be stored again by a store that was still on its way.
class SledKeyringLane {
public:
    // What a keyring call brings back: a secret for a read, nothing for a store or a removal.
    using Work = std::function<std::optional<std::string>()>;

    class Call {
    public:
        // The call's result, or its exception. Throws SledKeyringTimeout when the deadline passed
        // first, VornTaskCancelled when `stop` was requested first.
        std::optional<std::string> wait(std::stop_token stop = {}) const;

    private:
        friend class SledKeyringLane;
        struct Pending;
        std::shared_ptr<Pending> pending_;
    };

    explicit SledKeyringLane(std::chrono::milliseconds deadline);

    // Queues `work` behind every call submitted before it. `work` must own what it uses (the lane
    // outlives its submitter).
    Call submit(Work work) const;

    std::chrono::milliseconds deadline() const { return deadline_; }

private:
    struct Queue;
    std::chrono::milliseconds deadline_;
    std::shared_ptr<Queue> queue_;
};
