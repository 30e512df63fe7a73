#pragma once

#include "VornDate.h"
#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// One clipboard text sent to or received from a LAN peer, as the clipboard history shows it.
struct LANClipboardMessage {
    VornUUID id;
    std::string senderName;
    std::string text;
    std::string sha256Hex;
    VornDate receivedAt{};  // when it was received or sent
    bool isOutgoing = false;

    friend bool operator==(const LANClipboardMessage&, const LANClipboardMessage&) = default;

    // Keys are the field names in declaration order; every key is required when read.
    nlohmann::ordered_json toJSON() const;
    static LANClipboardMessage fromJSON(const nlohmann::json& value, std::string_view path = "LANClipboardMessage");
};
