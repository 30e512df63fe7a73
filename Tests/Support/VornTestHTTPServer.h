#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// One request as it arrived, byte for byte, and its parts.
struct VornRecordedRequest {
    std::string raw;  // request line, header fields and body exactly as received
    std::string method;
    std::string target;  // as written on the request line ("/api/v1/feedback?x=1")
    std::vector<std::pair<std::string, std::string>> headers;  // names as sent, in order
    std::string body;

    // The first field of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
    // How many fields of that name arrived.
    std::size_t headerCount(std::string_view name) const;
};

// What the server does with a request.
struct VornTestHTTPReply {
    enum class Action {
        respond,     // send status, headers and body, then close
        hangUp,      // close the connection without sending a byte
        staySilent  // keep the connection open and never answer (until the server stops)
    };

    Action action = Action::respond;
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // Content-Length is added
    std::string body;

    static VornTestHTTPReply json(int status, std::string body) {
        return {Action::respond, status, {{"Content-Type", "application/json"}}, std::move(body)};
    }
    static VornTestHTTPReply text(int status, std::string body) {
        return {Action::respond, status, {{"Content-Type", "text/plain; charset=utf-8"}}, std::move(body)};
    }
    static VornTestHTTPReply hangUp() { return {Action::hangUp, 0, {}, {}}; }
    static VornTestHTTPReply staySilent() { return {Action::staySilent, 0, {}, {}}; }
};

// A small HTTP/1.1 server on 127.0.0.1 and a port the system chooses, for tests of HTTP clients.
// It records every request exactly as received and answers each with the reply the test chose
// (one request per connection, "Connection: close"). Bodies need a Content-Length; a head over
// 64 KiB or a body over 64 MiB gets 413 and is not recorded whole.
class VornTestHTTPServer {
public:
    using Handler = std::function<VornTestHTTPReply(const VornRecordedRequest&)>;

    // Without a handler every request gets 200 with an empty JSON object.
    explicit VornTestHTTPServer(Handler handler = {});
    ~VornTestHTTPServer();
    VornTestHTTPServer(const VornTestHTTPServer&) = delete;
    VornTestHTTPServer& operator=(const VornTestHTTPServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>", no trailing slash.
    std::string baseURL() const;

    // Answers every later request with `reply`.
    void setReply(VornTestHTTPReply reply);
    void setHandler(Handler handler);

    std::vector<VornRecordedRequest> requests() const;
    std::size_t requestCount() const;

    struct Engine;

private:
    std::shared_ptr<Engine> engine_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};
