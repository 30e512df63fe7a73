#include "VornTestHTTPServer.h"

#include <asio.hpp>

#include <algorithm>
#include <charconv>
#include <map>

using asio::ip::tcp;

namespace {

constexpr std::size_t maxHeadBytes = 64 * 1024;
constexpr std::size_t maxBodyBytes = 64 * 1024 * 1024;

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string_view reason(int status) {
    static const std::map<int, std::string_view> reasons{
        {200, "OK"},          {201, "Created"},      {204, "No Content"},   {400, "Bad Request"},
        {401, "Unauthorized"}, {403, "Forbidden"},   {404, "Not Found"},    {413, "Content Too Large"},
        {429, "Too Many Requests"}, {500, "Internal Server Error"}, {502, "Bad Gateway"},
        {503, "Service Unavailable"}};
    const auto found = reasons.find(status);
    return found != reasons.end() ? found->second : "Status";
}

// Parses the request line and header fields of `head` (which ends with CR LF CR LF).
bool parseHead(std::string_view head, VornRecordedRequest& request) {
    std::size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
        return false;
    }
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    std::size_t position = lineEnd + 2;
    while (position < head.size()) {
        lineEnd = head.find("\r\n", position);
        const std::string_view line = head.substr(position, lineEnd - position);
        position = lineEnd + 2;
        if (line.empty()) {
            break;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return false;
        }
        request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(trimmed(line.substr(colon + 1))));
    }
    return true;
}

std::string serialise(const VornTestHTTPReply& reply) {
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + std::string(reason(reply.status)) + "\r\n";
    for (const auto& [name, value] : reply.headers) {
        out += name + ": " + value + "\r\n";
    }
    out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    out += reply.body;
    return out;
}

}  // namespace

std::optional<std::string> VornRecordedRequest::header(std::string_view name) const {
    for (const auto& [field, value] : headers) {
        if (sameName(field, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::size_t VornRecordedRequest::headerCount(std::string_view name) const {
    return static_cast<std::size_t>(
        std::count_if(headers.begin(), headers.end(), [&](const auto& field) { return sameName(field.first, name); }));
}

struct VornTestHTTPServer::Engine : std::enable_shared_from_this<Engine> {
    asio::io_context io;
    tcp::acceptor acceptor{io};
    mutable std::mutex lock;
    Handler handler;
    std::vector<VornRecordedRequest> recorded;
    std::vector<std::shared_ptr<tcp::socket>> silent;  // connections kept open without an answer

    VornTestHTTPReply answer(const VornRecordedRequest& request) {
        Handler current;
        {
            std::lock_guard guard(lock);
            recorded.push_back(request);
            current = handler;
        }
        return current ? current(request) : VornTestHTTPReply::json(200, "{}");
    }

    asio::awaitable<void> serve(std::shared_ptr<tcp::socket> socket) {
        try {
            std::string buffer;
            const std::size_t headLength = co_await asio::async_read_until(
                *socket, asio::dynamic_buffer(buffer, maxHeadBytes), "\r\n\r\n", asio::use_awaitable);
            VornRecordedRequest request;
            if (!parseHead(std::string_view(buffer).substr(0, headLength), request)) {
                co_await asio::async_write(*socket, asio::buffer(serialise(VornTestHTTPReply::text(400, "bad head"))),
                                           asio::use_awaitable);
                co_return;
            }
            std::size_t bodyLength = 0;
            if (const auto length = request.header("Content-Length")) {
                const auto [end, error] = std::from_chars(length->data(), length->data() + length->size(), bodyLength);
                if (error != std::errc() || end != length->data() + length->size()) {
                    bodyLength = maxBodyBytes + 1;
                }
            }
            if (bodyLength > maxBodyBytes || request.header("Transfer-Encoding")) {
                co_await asio::async_write(*socket, asio::buffer(serialise(VornTestHTTPReply::text(413, "too large"))),
                                           asio::use_awaitable);
                co_return;
            }
            if (buffer.size() < headLength + bodyLength) {
                co_await asio::async_read(*socket, asio::dynamic_buffer(buffer),
                                          asio::transfer_exactly(headLength + bodyLength - buffer.size()),
                                          asio::use_awaitable);
            }
            request.raw = buffer.substr(0, headLength + bodyLength);
            request.body = buffer.substr(headLength, bodyLength);

            const VornTestHTTPReply reply = answer(request);
            switch (reply.action) {
            case VornTestHTTPReply::Action::hangUp:
                socket->close();
                co_return;
            case VornTestHTTPReply::Action::staySilent: {
                std::lock_guard guard(lock);
                silent.push_back(socket);
                co_return;
            }
            case VornTestHTTPReply::Action::respond:
                break;
            }
            co_await asio::async_write(*socket, asio::buffer(serialise(reply)), asio::use_awaitable);
            asio::error_code ignored;
            socket->shutdown(tcp::socket::shutdown_both, ignored);
        } catch (const std::exception&) {
            // The client went away or sent something unreadable: nothing to answer.
        }
    }

    asio::awaitable<void> acceptLoop() {
        while (true) {
            auto socket = std::make_shared<tcp::socket>(io);
            asio::error_code error;
            co_await acceptor.async_accept(*socket, asio::redirect_error(asio::use_awaitable, error));
            if (error) {
                co_return;
            }
            asio::co_spawn(io, shared_from_this()->serve(socket), asio::detached);
        }
    }
};

VornTestHTTPServer::VornTestHTTPServer(Handler handler) : engine_(std::make_shared<Engine>()) {
    engine_->handler = std::move(handler);
    const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
    engine_->acceptor.open(loopback.protocol());
    engine_->acceptor.set_option(tcp::acceptor::reuse_address(true));
    engine_->acceptor.bind(loopback);
    engine_->acceptor.listen();
    port_ = engine_->acceptor.local_endpoint().port();
    asio::co_spawn(engine_->io, engine_->acceptLoop(), asio::detached);
    thread_ = std::thread([engine = engine_] { engine->io.run(); });
}

VornTestHTTPServer::~VornTestHTTPServer() {
    engine_->io.stop();
    thread_.join();
}

std::string VornTestHTTPServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

void VornTestHTTPServer::setReply(VornTestHTTPReply reply) {
    setHandler([reply = std::move(reply)](const VornRecordedRequest&) { return reply; });
}

void VornTestHTTPServer::setHandler(Handler handler) {
    std::lock_guard guard(engine_->lock);
    engine_->handler = std::move(handler);
}

std::vector<VornRecordedRequest> VornTestHTTPServer::requests() const {
    std::lock_guard guard(engine_->lock);
    return engine_->recorded;
}

std::size_t VornTestHTTPServer::requestCount() const {
    std::lock_guard guard(engine_->lock);
    return engine_->recorded.size();
}
