#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>

// Writes an upload's bytes to its file on a thread of its own, so that receiving and hashing the
// next bytes overlap with the disk. The owner hands over filled chunks and gets each one back,
// written, through `returned` (called on the writer's thread; it must not block). Writeback to
// the device starts while the body still arrives, so the closing fsync has little left to do.
class LANUploadWriter {
public:
    struct Chunk {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t size = 0;

        static Chunk make(std::size_t capacity) { return {std::make_unique_for_overwrite<char[]>(capacity), capacity, 0}; }
    };
    // `error` is 0, or the errno of the first failed write (later chunks are not written).
    using Returned = std::function<void(Chunk chunk, int error)>;
    // 0 once every chunk is written and the file is fsynced; the errno of the first failure otherwise.
    using Finished = std::function<void(int error)>;

    // Does not take ownership of `fd`; the owner closes it after this writer is gone.
    LANUploadWriter(int fd, Returned returned);
    // Stops after the write in progress (queued chunks are dropped unwritten) and joins the thread.
    ~LANUploadWriter();
    LANUploadWriter(const LANUploadWriter&) = delete;
    LANUploadWriter& operator=(const LANUploadWriter&) = delete;

    void submit(Chunk chunk);
    // After every submitted chunk: fsync, then `finished` on the writer's thread. Submit nothing after.
    void finish(Finished finished);

private:
    void run();
    void write(const Chunk& chunk);

    const int fd_;
    const Returned returned_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Chunk> queue_;
    std::optional<Finished> finished_;
    bool stopping_ = false;
    // Touched by the writer's thread only.
    int error_ = 0;
    off_t written_ = 0;
    off_t writebackStarted_ = 0;
    std::thread thread_;
};
