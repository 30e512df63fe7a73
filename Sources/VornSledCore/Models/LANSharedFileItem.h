#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

// A file this device offers to LAN peers for download; the LAN server sends the offered list as
// a JSON array of these objects.
struct LANSharedFileItem {
    std::string id;  // the download token peers fetch the file by
    std::string fileName;
    std::string filePath;  // local path of the offered file
    std::int64_t sizeBytes = 0;
    std::string sha256Hex;

    friend bool operator==(const LANSharedFileItem&, const LANSharedFileItem&) = default;

    // {"id","fileName","filePath","sizeBytes","sha256Hex"} in this order; write it with
    // vornJSONText (without sortedKeys) to keep the order on the wire.
    nlohmann::ordered_json toJSON() const;
    // Every key is required; extra members are ignored.
    static LANSharedFileItem fromJSON(const nlohmann::json& value, std::string_view path = "LANSharedFileItem");
};
