#pragma once

#include "PaneEndpoint.h"
#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// A saved place: a folder path inside the storage of an endpoint, under a label.
struct SledBookmark {
    VornUUID id;  // identity; the caller supplies it (VornUUID::random() for a new bookmark)
    std::string label;
    PaneEndpoint endpoint;
    std::string path;

    friend bool operator==(const SledBookmark&, const SledBookmark&) = default;

    // {"id","label","endpoint","path"}, all four always written and required when read.
    nlohmann::ordered_json toJSON() const;
    static SledBookmark fromJSON(const nlohmann::json& value, std::string_view path = "SledBookmark");
};

template <>
struct std::hash<SledBookmark> {
    std::size_t operator()(const SledBookmark& bookmark) const noexcept;
};
