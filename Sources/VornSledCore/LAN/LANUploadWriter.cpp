#include "LANUploadWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Writeback of what is written so far starts every time this much more has been written.
constexpr off_t writebackStep = 8 << 20;

}  // namespace

LANUploadWriter::LANUploadWriter(int fd, Returned returned)
    : fd_(fd), returned_(std::move(returned)), thread_([this] { run(); }) {}

LANUploadWriter::~LANUploadWriter() {
    {
        const std::lock_guard guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void LANUploadWriter::submit(Chunk chunk) {
    {
        const std::lock_guard guard(mutex_);
        queue_.push_back(std::move(chunk));
    }
    wake_.notify_one();
}

void LANUploadWriter::finish(Finished finished) {
    {
        const std::lock_guard guard(mutex_);
        finished_ = std::move(finished);
    }
    wake_.notify_one();
}

void LANUploadWriter::run() {
    while (true) {
        std::unique_lock guard(mutex_);
        wake_.wait(guard, [&] { return stopping_ || !queue_.empty() || finished_; });
        if (stopping_) {
            return;
        }
        if (!queue_.empty()) {
            Chunk chunk = std::move(queue_.front());
            queue_.pop_front();
            guard.unlock();
            write(chunk);
            returned_(std::move(chunk), error_);
            continue;
        }
        const Finished finished = std::move(*finished_);
        finished_.reset();
        guard.unlock();
        if (error_ == 0 && ::fsync(fd_) != 0) {
            error_ = errno;
        }
        finished(error_);
        return;
    }
}

void LANUploadWriter::write(const Chunk& chunk) {
    const char* data = chunk.bytes.get();
    std::size_t left = chunk.size;
    while (left > 0 && error_ == 0) {
        const ssize_t count = ::write(fd_, data, left);
        if (count < 0) {
            if (errno != EINTR) {
                error_ = errno;
            }
            continue;
        }
        data += count;
        left -= static_cast<std::size_t>(count);
        written_ += count;
    }
    if (error_ == 0 && written_ - writebackStarted_ >= writebackStep) {
        // Only a head start: the fsync at the end is what makes the file durable, so a failure
        // here changes nothing.
        ::sync_file_range(fd_, writebackStarted_, written_ - writebackStarted_, SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = written_;
    }
}
