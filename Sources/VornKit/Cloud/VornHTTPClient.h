#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The parts of an HTTP request that are signed and sent: method, URL and header fields. The body
// travels separately (VornHTTPBody) so that a request can be copied and signed cheaply.
struct VornHTTPRequest {
    std::string method = "GET";  // an empty method is sent as GET
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order they are sent

    // Replaces every earlier field of that name (names compare without regard to case).
    void setHeader(std::string_view name, std::string_view value);
    void removeHeader(std::string_view name);
    std::optional<std::string> header(std::string_view name) const;
};

// What goes after the request head. Every body has a length known up front, so the request
// carries exactly one Content-Length and is never chunked.
class VornHTTPBody {
public:
    // Fills `buffer` with the next bytes and returns how many; called until `length` bytes came.
    using Reader = std::function<std::size_t(std::span<std::byte> buffer)>;

    static VornHTTPBody none();
    static VornHTTPBody bytes(std::string data);
    // `length` bytes of a file from `offset`; without a length, the rest of the file as it is when
    // the request starts. Throws VornHTTPError (invalidRequest) when the file cannot be opened.
    static VornHTTPBody file(const std::filesystem::path& path, std::uint64_t offset = 0,
                             std::optional<std::uint64_t> length = std::nullopt);
    // The same file body with `check` called each time just before the last of its bytes go out (any
    // other body comes back unchanged), so a
    // server that acts only on a whole body is never sent one the check refuses: what `check`
    // throws ends the request before then and is passed on by send().
    VornHTTPBody checkedBeforeItsEnd(std::function<void()> check) const;
    static VornHTTPBody stream(std::uint64_t length, Reader reader);

    bool isNone() const { return std::holds_alternative<std::monostate>(source_); }
    std::uint64_t length() const;

private:
    struct FileSlice {
        std::filesystem::path path;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        std::function<void()> beforeEnd;
    };
    struct Stream {
        std::uint64_t length = 0;
        Reader reader;
    };
    std::variant<std::monostate, std::shared_ptr<const std::string>, FileSlice, Stream> source_;
    friend class VornHTTPClient;
};

// Where the response body goes. Streamed sinks receive only the body of a 2xx response; any
// other status keeps its body (the first `errorBodyLimit` bytes) in VornHTTPResponse::body, where
// callers read the server's error message.
class VornHTTPSink {
public:
    using Writer = std::function<void(std::span<const std::byte> bytes)>;

    static constexpr std::size_t errorBodyLimit = 64 * 1024;

    // Into VornHTTPResponse::body; a body longer than `maxBytes` fails with bodyTooLarge.
    static VornHTTPSink memory(std::size_t maxBytes);
    static VornHTTPSink stream(Writer writer);
    // Created or truncated, mode 0644, flushed to disk when the transfer ends.
    static VornHTTPSink file(std::filesystem::path path);

private:
    std::variant<std::size_t, Writer, std::filesystem::path> target_;
    friend class VornHTTPClient;
};

struct VornHTTPProgress {
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesToSend = 0;      // 0 when there is no body
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesToReceive = 0;   // 0 while the length is unknown
};

struct VornHTTPOptions {
    std::chrono::seconds connectTimeout{30};
    // The transfer fails when no byte moves in either direction for this long. A transfer that
    // keeps moving is never cut off, however long it takes.
    std::chrono::seconds idleTimeout{60};
    // When above zero, the whole exchange (connect included) fails with timedOut after this long,
    // however steadily bytes move. For small exchanges only: a peer sending a byte now and then
    // never trips the idle limit.
    std::chrono::milliseconds deadline{0};
    // When above zero, the whole response must have come this long after the last byte of the
    // request went out, however steadily it trickles in (answerOverdue otherwise). For a peer
    // that answers only once it has dealt with a large body: the body may take as long as it
    // moves, the answer may not.
    std::chrono::milliseconds answerDeadline{0};
    // Talk to the host directly even when the environment names a proxy (LAN peers, loopback).
    bool bypassProxy = false;
    // Leave the connection open after the exchange for the next request of the same thread to the
    // same server (each thread keeps its own idle connections). Many small requests in a row then
    // skip a connection set-up each; a server that closed the connection meanwhile costs nothing
    // but a fresh connect.
    bool reuseConnection = false;
    // Called on the calling thread whenever a count changes; it may be any thread the caller
    // runs on, so it must not touch the user interface directly.
    std::function<void(const VornHTTPProgress&)> progress;
};

struct VornHTTPResponse {
    int statusCode = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, in order
    std::string body;

    // The first field of that name (give it in lower case).
    std::optional<std::string> header(std::string_view lowerCaseName) const;
};

class VornHTTPError : public std::runtime_error {
public:
    enum class Kind {
        invalidRequest,   // the request cannot be sent as given (bad URL, header, body length)
        connectionFailed, // name resolution or connection refused
        timedOut,         // connect time-out or idle time-out
        answerOverdue,    // the request went out whole, its response did not come in time
        bodyTooLarge,     // the response body exceeded the memory sink's limit
        bodyReadFailed,   // the request body could not be read (file changed, reader failed)
        bodyWriteFailed,  // the response body could not be stored
        transport,        // any other failure of the exchange (TLS, protocol, reset)
    };

    VornHTTPError(Kind kind, const std::string& message, int curlCode = 0)
        : std::runtime_error(message), kind_(kind), curlCode_(curlCode) {}

    Kind kind() const { return kind_; }
    int curlCode() const { return curlCode_; }  // 0 when curl did not report the failure

private:
    Kind kind_;
    int curlCode_;
};

// The one blocking HTTP/1.1 exchange of the framework, on libcurl. Redirects are returned, not
// followed; the path is sent exactly as written; no "Expect: 100-continue" pause.
class VornHTTPClient {
public:
    VornHTTPClient() = delete;

    // Throws VornHTTPError for every failure to complete the exchange (an HTTP error status is
    // a normal response) and VornTaskCancelled when `stopToken` asks to stop.
    static VornHTTPResponse send(const VornHTTPRequest& request, const VornHTTPBody& body = VornHTTPBody::none(),
                                 const VornHTTPSink& sink = VornHTTPSink::memory(8 * 1024 * 1024),
                                 const VornHTTPOptions& options = {}, std::stop_token stopToken = {});
};
