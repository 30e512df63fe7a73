#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A LAN peer that can be sent to, found by discovery or added by address.
struct LANPeerInfo {
    std::string id;  // the peer's device identifier
    std::string deviceName;
    std::string platform;  // as the peer reports it
    std::string host;      // host name or address used to reach the peer
    std::uint16_t port = 0;
    std::string fingerprint;
    bool requiresPIN = false;
    bool isManual = false;  // added by the user by address

    // "http://" + host + ":" + port, when that text is a valid URL; nothing is escaped, so a host
    // with characters a URL cannot hold (a blank, for instance) gives nothing.
    std::optional<std::string> baseURL() const;

    friend bool operator==(const LANPeerInfo&, const LANPeerInfo&) = default;

    // Keys are the field names in declaration order; every key is required when read.
    nlohmann::ordered_json toJSON() const;
    static LANPeerInfo fromJSON(const nlohmann::json& value, std::string_view path = "LANPeerInfo");
};

template <>
struct std::hash<LANPeerInfo> {
    std::size_t operator()(const LANPeerInfo& peer) const noexcept;
};
