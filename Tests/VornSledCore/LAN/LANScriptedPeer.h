#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A misbehaving peer on 127.0.0.1 for what our own server never does: answers of any shape,
// answers that never come, endless bodies, connections held open until enough arrive. Each
// connection gets its own thread; the destructor wakes and joins them all.
class LANScriptedPeer {
public:
    enum class Mode {
        answer,          // read the request, send `reply`, close
        stall,           // read the request head, then say nothing until destroyed
        endlessBody,     // "200 OK" with a 2 GB Content-Length, then zeros until the client leaves
        gatherThenAnswer,// hold each request until min(gatherWidth, requests still to come) are held
        trickle,         // read the request, then send `reply` one byte every 200 ms
        pauseThenAnswer  // read the head, let the body wait for `pause`, then read it and answer
    };

    explicit LANScriptedPeer(Mode mode, std::string reply = {}) : mode_(mode), reply_(std::move(reply)) {
        wake_ = ::eventfd(0, EFD_CLOEXEC);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 64);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~LANScriptedPeer() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        const std::uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
        acceptor_.join();
        for (std::thread& connection : connections_) connection.join();
        ::close(listener_);
        ::close(wake_);
    }

    LANScriptedPeer(const LANScriptedPeer&) = delete;
    LANScriptedPeer& operator=(const LANScriptedPeer&) = delete;

    std::uint16_t port() const { return port_; }

    // For gatherThenAnswer: how many requests to hold at once, and how many will come in all.
    void gather(int width, int total) {
        const std::lock_guard lock(mutex_);
        gatherWidth_ = width;
        remaining_ = total;
    }

    // The most requests held open at the same moment.
    int mostHeldAtOnce() const {
        const std::lock_guard lock(mutex_);
        return mostHeld_;
    }

    // Blocks until `count` request heads have arrived.
    void waitForRequests(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return requests_ >= count; });
    }

    // For pauseThenAnswer.
    void setPause(std::chrono::milliseconds pause) {
        const std::lock_guard lock(mutex_);
        pause_ = pause;
    }

    std::vector<std::string> heads() const {
        const std::lock_guard lock(mutex_);
        return heads_;
    }

private:
    bool waitReadable(int fd) const {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_, POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0) {
        }
        return (fds[1].revents & POLLIN) == 0;
    }

    void acceptLoop() {
        while (waitReadable(listener_)) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connections_.emplace_back([this, fd] { serve(fd); });
        }
    }

    // Reads the head and, unless stalling, the body the head announces; with `pauseAfterHead`,
    // leaves the body unread for that long first.
    bool readRequest(int fd, bool withBody, std::chrono::milliseconds pauseAfterHead = std::chrono::milliseconds(0)) {
        std::string received;
        char buffer[65536];
        std::size_t headEnd = std::string::npos;
        std::size_t bodyLength = 0;
        while (true) {
            if (headEnd == std::string::npos) {
                headEnd = received.find("\r\n\r\n");
                if (headEnd != std::string::npos) {
                    const std::string head = received.substr(0, headEnd);
                    std::string lower = head;
                    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                    if (const auto at = lower.find("content-length:"); at != std::string::npos) {
                        std::size_t start = at + 15;
                        while (start < lower.size() && lower[start] == ' ') ++start;
                        std::from_chars(lower.data() + start, lower.data() + lower.size(), bodyLength);
                    }
                    {
                        const std::lock_guard lock(mutex_);
                        heads_.push_back(head);
                        ++requests_;
                    }
                    changed_.notify_all();
                    if (!withBody) return true;
                    if (pauseAfterHead.count() > 0 && !sleepUnlessStopped(pauseAfterHead)) return false;
                }
            }
            if (headEnd != std::string::npos && received.size() - headEnd - 4 >= bodyLength) return true;
            if (!waitReadable(fd)) return false;
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0) return false;
            received.append(buffer, static_cast<std::size_t>(count));
            if (headEnd != std::string::npos) {
                // Only the body's length matters past the head: large bodies are not kept.
                bodyLength -= std::min(bodyLength, received.size() - headEnd - 4);
                received.resize(headEnd + 4);
            }
        }
    }

    void sendAll(int fd, std::string_view bytes) const {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
    }

    void serve(int fd) {
        switch (mode_) {
        case Mode::answer:
            if (readRequest(fd, true)) sendAll(fd, reply_);
            break;
        case Mode::stall:
            if (readRequest(fd, false)) waitReadableUntilStopped(fd);
            break;
        case Mode::endlessBody:
            if (readRequest(fd, true)) {
                sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2147483648\r\n\r\n");
                const std::string zeros(65536, '0');
                while (::send(fd, zeros.data(), zeros.size(), MSG_NOSIGNAL) > 0) {
                }
            }
            break;
        case Mode::trickle:
            if (readRequest(fd, true)) {
                for (const char byte : reply_) {
                    if (::send(fd, &byte, 1, MSG_NOSIGNAL) != 1 || !sleepUnlessStopped(std::chrono::milliseconds(200))) {
                        break;
                    }
                }
            }
            break;
        case Mode::pauseThenAnswer: {
            std::chrono::milliseconds pause;
            {
                const std::lock_guard lock(mutex_);
                pause = pause_;
            }
            if (readRequest(fd, true, pause)) sendAll(fd, reply_);
            break;
        }
        case Mode::gatherThenAnswer:
            if (readRequest(fd, true)) {
                std::unique_lock lock(mutex_);
                ++held_;
                mostHeld_ = std::max(mostHeld_, held_);
                const int batch = generation_;
                if (held_ >= std::min(gatherWidth_, remaining_)) {
                    // Release the whole batch at once; the client opens its next requests only
                    // after these answers, so the next batch starts from zero.
                    remaining_ -= held_;
                    held_ = 0;
                    ++generation_;
                    changed_.notify_all();
                }
                changed_.wait(lock, [&] { return stopping_ || generation_ != batch; });
                lock.unlock();
                sendAll(fd, reply_);
            }
            break;
        }
        ::close(fd);
    }

    // False when the peer is being destroyed.
    bool sleepUnlessStopped(std::chrono::milliseconds pause) {
        std::unique_lock lock(mutex_);
        return !changed_.wait_for(lock, pause, [&] { return stopping_; });
    }

    // Keeps a connection open without answering until the peer is destroyed or the client leaves.
    void waitReadableUntilStopped(int fd) {
        char buffer[4096];
        while (waitReadable(fd) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }

    Mode mode_;
    std::string reply_;
    int listener_ = -1;
    int wake_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> connections_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    int requests_ = 0;
    std::vector<std::string> heads_;
    int gatherWidth_ = 1;
    int remaining_ = 0;
    int held_ = 0;
    int mostHeld_ = 0;
    int generation_ = 0;
    std::chrono::milliseconds pause_{0};
};

// An answer with a JSON body, as a peer might send it.
inline std::string lanScriptedReply(std::string_view status, std::string_view body) {
    return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
}
