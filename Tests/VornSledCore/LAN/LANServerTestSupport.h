#pragma once

#include "LANSledServer.h"
#include "VornTestSupport.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// A raw TCP client on loopback, for what curl will not send: split heads, lies about lengths,
// early closes.
class LANRawClient {
public:
    // `from` picks the loopback address the connection comes from (all of 127/8 is this
    // machine), so that one test can be several peers.
    explicit LANRawClient(std::uint16_t port, const char* from = nullptr) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from != nullptr) {
            sockaddr_in source {};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &source.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
                return;
            }
        }
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~LANRawClient() { close(); }
    LANRawClient(const LANRawClient&) = delete;
    LANRawClient& operator=(const LANRawClient&) = delete;

    bool connected() const { return connected_; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    void finishSending() { ::shutdown(fd_, SHUT_WR); }

    // Whether the server sends something (or closes) within `wait`; reads nothing.
    bool answersWithin(std::chrono::milliseconds wait) const {
        pollfd readable {fd_, POLLIN, 0};
        return ::poll(&readable, 1, static_cast<int>(wait.count())) > 0;
    }

    // Everything the server sends until it closes.
    std::string readAll() {
        std::string all;
        char buffer[65536];
        while (true) {
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) {
                return all;
            }
            all.append(buffer, static_cast<std::size_t>(count));
        }
    }

    // At least `count` bytes of what the server sends (fewer only when it closes first).
    std::string readAtLeast(std::size_t count) {
        std::string some;
        char buffer[65536];
        while (some.size() < count) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            some.append(buffer, static_cast<std::size_t>(got));
        }
        return some;
    }

    // Closes with a reset instead of an orderly end, like a client that vanishes.
    void vanish() {
        linger abrupt {1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
        close();
    }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// One full exchange: send, end the sending side, read the whole answer.
inline std::string lanExchange(std::uint16_t port, std::string_view request, const char* from = nullptr) {
    LANRawClient client(port, from);
    client.send(request);
    client.finishSending();
    return client.readAll();
}

struct LANParsedResponse {
    std::string statusLine;
    std::string head;
    std::string body;
    nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

inline LANParsedResponse lanParseResponse(const std::string& response) {
    LANParsedResponse parsed;
    const std::size_t end = response.find("\r\n\r\n");
    parsed.head = response.substr(0, end);
    parsed.statusLine = response.substr(0, response.find("\r\n"));
    parsed.body = end == std::string::npos ? std::string() : response.substr(end + 4);
    return parsed;
}

// Records what the server's callbacks deliver.
class LANCallbackRecorder {
public:
    LANServerCallbacks callbacks() {
        return LANServerCallbacks{
            [this](const LANReceivedFileItem& item) {
                const std::lock_guard lock(mutex_);
                files.push_back(item);
            },
            [this](const LANClipboardMessage& message) {
                const std::lock_guard lock(mutex_);
                clipboard.push_back(message);
            }};
    }
    std::vector<LANReceivedFileItem> receivedFiles() {
        const std::lock_guard lock(mutex_);
        return files;
    }
    std::vector<LANClipboardMessage> receivedClipboard() {
        const std::lock_guard lock(mutex_);
        return clipboard;
    }

private:
    std::mutex mutex_;
    std::vector<LANReceivedFileItem> files;
    std::vector<LANClipboardMessage> clipboard;
};

// Names in a folder, sorted; temporary upload files included.
inline std::vector<std::string> lanFolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline bool lanHasTemporaryFile(const std::filesystem::path& folder) {
    for (const std::string& name : lanFolderNames(folder)) {
        if (name.ends_with(".vornsled.tmp")) {
            return true;
        }
    }
    return false;
}
