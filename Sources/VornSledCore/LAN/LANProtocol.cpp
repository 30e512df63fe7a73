#include "LANProtocol.h"

#include "LANNetworkHelpers.h"
#include "LANRequestHead.h"
#include "VornASCII.h"

#include <nlohmann/json.hpp>

namespace {

std::string withoutDefaultPort(std::string authority) {
    if (authority.ends_with(":80")) {
        authority.resize(authority.size() - 3);
    }
    return authority;
}

}  // namespace

LANProtocol::Route LANProtocol::resolveRoute(std::string_view method, std::string_view path, std::string* token) {
    if (method == "GET" && (path == "/" || path == "/index.html")) {
        return Route::portal;
    }
    if (method == "GET" && path == "/api/v1/info") {
        return Route::info;
    }
    if (method == "POST" && path == "/api/v1/upload") {
        return Route::upload;
    }
    if (path == "/api/v1/clipboard" && (method == "POST" || method == "GET")) {
        return method == "POST" ? Route::clipboardPost : Route::clipboardGet;
    }
    if (method == "GET" && path == "/api/v1/shares") {
        return Route::shares;
    }
    if (method == "GET" && path.starts_with(downloadPrefix)) {
        if (token != nullptr) {
            *token = std::string(path.substr(downloadPrefix.size()));
        }
        return Route::download;
    }
    return Route::notFound;
}

bool LANProtocol::originMatchesHost(const std::optional<std::string>& origin, const std::optional<std::string>& host) {
    if (!origin) {
        return true;
    }
    const std::string lowerOrigin = VornASCII::lowercased(*origin);
    constexpr std::string_view scheme = "http://";
    if (!host || !lowerOrigin.starts_with(scheme)) {
        return false;
    }
    return withoutDefaultPort(lowerOrigin.substr(scheme.size())) == withoutDefaultPort(VornASCII::lowercased(*host));
}

std::string LANProtocol::responseHead(std::string_view status, std::string_view contentType, std::size_t bodyLength) {
    std::string head;
    head.reserve(160);
    head += "HTTP/1.1 ";
    head += status;
    head += "\r\nContent-Type: ";
    head += contentType;
    head += "\r\nContent-Length: ";
    head += std::to_string(bodyLength);
    head += "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    return head;
}

std::string LANProtocol::response(std::string_view status, std::string_view contentType, std::string_view body) {
    std::string message = responseHead(status, contentType, body.size());
    message += body;
    return message;
}

std::string LANProtocol::jsonText(const nlohmann::json& body) {
    try {
        return body.dump();
    } catch (const nlohmann::json::exception&) {
        // Text that is not UTF-8 cannot be written as JSON.
        return "{}";
    }
}

std::string LANProtocol::jsonResponse(std::string_view status, const nlohmann::json& body) {
    return response(status, jsonType, jsonText(body));
}

std::string LANProtocol::errorResponse(std::string_view status, std::string_view message) {
    return jsonResponse(status, nlohmann::json{{"error", message}});
}

std::string LANProtocol::downloadHead(std::string_view fileName, std::int64_t sizeBytes, std::string_view sha256Hex) {
    std::string safeName;
    for (const char c : LANNetworkHelpers::sanitizeIncomingFileName(fileName)) {
        if (c == '"') {
            safeName += '_';
        } else if (c != '\r' && c != '\n') {
            safeName += c;
        }
    }
    std::string head;
    head += "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
    head += std::to_string(sizeBytes);
    head += "\r\nContent-Disposition: attachment; filename=\"";
    head += safeName;
    head += "\"\r\nX-VornSled-SHA256: ";
    // The digest comes from our own share list, but a header line must never be split by it.
    for (const char c : sha256Hex) {
        if (c != '\r' && c != '\n') {
            head += c;
        }
    }
    head += "\r\nConnection: close\r\n\r\n";
    return head;
}

std::vector<std::pair<std::string, std::string>> LANProtocol::bonjourTXTRecord(std::string_view deviceID,
                                                                               std::string_view deviceName,
                                                                               bool requiresPIN) {
    return {
        {"id", std::string(deviceID)},
        {"name", std::string(deviceName)},
        {"platform", std::string(platformName)},
        {"pin", requiresPIN ? "1" : "0"},
        {"v", std::to_string(protocolVersion)},
    };
}
