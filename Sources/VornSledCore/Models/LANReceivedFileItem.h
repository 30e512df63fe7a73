#pragma once

#include "VornDate.h"
#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

// A file received from a LAN peer.
struct LANReceivedFileItem {
    VornUUID id;
    std::string fileName;
    std::string savedPath;  // where it was saved locally
    std::int64_t sizeBytes = 0;
    std::string senderName;
    std::string sha256Hex;       // computed on receipt
    bool verifiedMatch = false;  // the computed digest matched the one the sender declared
    VornDate receivedAt{};

    friend bool operator==(const LANReceivedFileItem&, const LANReceivedFileItem&) = default;

    // Keys are the field names in declaration order; every key is required when read.
    nlohmann::ordered_json toJSON() const;
    static LANReceivedFileItem fromJSON(const nlohmann::json& value, std::string_view path = "LANReceivedFileItem");
};
