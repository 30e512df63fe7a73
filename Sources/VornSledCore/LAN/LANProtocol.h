#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The fixed parts of the LAN protocol: routes, status lines, response heads, the Bonjour record.
struct LANProtocol {
    LANProtocol() = delete;

    static constexpr std::string_view bonjourServiceType = "_vornsled._tcp";
    static constexpr std::string_view bonjourDomain = "local.";
    static constexpr std::string_view platformName = "Linux";
    static constexpr int protocolVersion = 1;

    // A request head larger than this without its blank line is refused.
    static constexpr std::size_t maximumHeadBytes = 65'536;
    static constexpr std::size_t headReceiveBytes = 32'768;
    // An upload is received into chunks of this size, at most uploadChunksInFlight of them at once
    // (the others are on their way to the disk).
    static constexpr std::size_t uploadReceiveBytes = 1'048'576;
    static constexpr std::size_t uploadChunksInFlight = 4;
    // The most a download hands the kernel in one turn of its connection: large enough that the
    // turns cost little, small enough that one fast client cannot hold a worker thread for long.
    static constexpr std::size_t downloadChunkBytes = 4'194'304;
    static constexpr std::size_t clipboardReceiveBytes = 65'536;
    static constexpr std::int64_t maximumClipboardBytes = 2'097'152;

    static constexpr std::string_view defaultUploadFileName = "sleded-file.bin";
    static constexpr std::string_view defaultSenderName = "LAN Peer";
    static constexpr std::string_view downloadPrefix = "/api/v1/download/";

    static constexpr std::string_view statusOK = "200 OK";
    static constexpr std::string_view statusBadRequest = "400 Bad Request";
    static constexpr std::string_view statusUnauthorized = "401 Unauthorized";
    static constexpr std::string_view statusForbidden = "403 Forbidden";
    static constexpr std::string_view statusNotFound = "404 Not Found";
    static constexpr std::string_view statusUnprocessable = "422 Unprocessable Entity";
    static constexpr std::string_view statusHeaderTooLarge = "431 Request Header Fields Too Large";
    static constexpr std::string_view statusServerError = "500 Internal Server Error";

    // The interim answer to a request head carrying "Expect: 100-continue" that passed its checks.
    static constexpr std::string_view continueInterimResponse = "HTTP/1.1 100 Continue\r\n\r\n";

    // The refusal of a request whose Host names neither an address nor this machine.
    static constexpr std::string_view unknownHostText =
        "Unknown host name: reach this device by its address or its own name";

    static constexpr std::string_view jsonType = "application/json; charset=utf-8";
    static constexpr std::string_view htmlType = "text/html; charset=utf-8";

    enum class Route { portal, info, upload, clipboardPost, clipboardGet, shares, download, notFound };

    // The route a method and path reach (exact, case-sensitive path match); for `download` the
    // token is the rest of the path after the prefix.
    static Route resolveRoute(std::string_view method, std::string_view path, std::string* token = nullptr);

    // The portal and the info object are served before the PIN gate; every other route after it.
    static bool routeNeedsPIN(Route route) { return route != Route::portal && route != Route::info; }

    // A browser page of another site may not drive this server: a request carrying an Origin must
    // name the same scheme-less authority as its Host.
    static bool originMatchesHost(const std::optional<std::string>& origin, const std::optional<std::string>& host);

    // "HTTP/1.1 <status>", Content-Type, Content-Length, Cache-Control: no-store, Connection: close.
    static std::string responseHead(std::string_view status, std::string_view contentType, std::size_t bodyLength);
    static std::string response(std::string_view status, std::string_view contentType, std::string_view body);

    // The JSON text of `body` without pretty printing; "{}" when it cannot be serialised.
    static std::string jsonText(const nlohmann::json& body);
    static std::string jsonResponse(std::string_view status, const nlohmann::json& body);
    static std::string errorResponse(std::string_view status, std::string_view message);

    // The head of a download: no Cache-Control; the name made safe for a quoted header value.
    static std::string downloadHead(std::string_view fileName, std::int64_t sizeBytes, std::string_view sha256Hex);

    // The TXT record of the Bonjour service, in this order: id, name, platform, pin, v.
    static std::vector<std::pair<std::string, std::string>> bonjourTXTRecord(std::string_view deviceID,
                                                                              std::string_view deviceName,
                                                                              bool requiresPIN);
};
