#include "LANPeerInfo.h"

#include "VornHash.h"
#include "VornJSON.h"

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether every character may stand in a URL as written: the unreserved and reserved characters of
// RFC 3986, and "%" only as the start of a percent escape. Blanks, quotes, angle brackets, braces,
// backslashes, control characters and non-ASCII bytes may not.
bool isURLText(std::string_view text) {
    constexpr std::string_view allowedPunctuation = "-._~:/?#[]@!$&'()*+,;=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            allowedPunctuation.find(c) != std::string_view::npos) {
            continue;
        }
        if (c == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2])) {
            i += 2;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> LANPeerInfo::baseURL() const {
    std::string url = "http://" + host + ":" + std::to_string(port);
    if (!isURLText(url)) {
        return std::nullopt;
    }
    return url;
}

nlohmann::ordered_json LANPeerInfo::toJSON() const {
    return {{"id", id},
            {"deviceName", deviceName},
            {"platform", platform},
            {"host", host},
            {"port", port},
            {"fingerprint", fingerprint},
            {"requiresPIN", requiresPIN},
            {"isManual", isManual}};
}

LANPeerInfo LANPeerInfo::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    LANPeerInfo peer;
    peer.id = reader.string("id");
    peer.deviceName = reader.string("deviceName");
    peer.platform = reader.string("platform");
    peer.host = reader.string("host");
    peer.port = reader.uint16("port");
    peer.fingerprint = reader.string("fingerprint");
    peer.requiresPIN = reader.boolean("requiresPIN");
    peer.isManual = reader.boolean("isManual");
    return peer;
}

std::size_t std::hash<LANPeerInfo>::operator()(const LANPeerInfo& peer) const noexcept {
    return vornHashOf(peer.id, peer.deviceName, peer.platform, peer.host, peer.port, peer.fingerprint,
                      peer.requiresPIN, peer.isManual);
}
