#pragma once

#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

// Which storage a browser pane shows: the local file system, or the remote storage of one
// connection profile, referred to by its id only (the profile may since have been deleted).
class PaneEndpoint {
public:
    enum class Kind { local, remote };

    // `local`.
    PaneEndpoint() = default;
    static PaneEndpoint local() { return PaneEndpoint(); }
    static PaneEndpoint remote(const VornUUID& profileID) { return PaneEndpoint(profileID); }

    Kind kind() const { return profileID_ ? Kind::remote : Kind::local; }
    bool isLocal() const { return !profileID_; }
    // The profile of a `remote` endpoint; nothing for `local`.
    const std::optional<VornUUID>& profileID() const { return profileID_; }

    friend bool operator==(const PaneEndpoint&, const PaneEndpoint&) = default;

    // {"local":{}} or {"remote":{"profileID":"<UUID>"}}.
    nlohmann::ordered_json toJSON() const;
    // Keys other than "local" and "remote" are ignored; exactly one of them must remain, else
    // VornDecodingError "Invalid number of keys found, expected one.". Its value must be an object;
    // for "remote" one with a "profileID" UUID text.
    static PaneEndpoint fromJSON(const nlohmann::json& value, std::string_view path = "PaneEndpoint");

private:
    explicit PaneEndpoint(const VornUUID& profileID) : profileID_(profileID) {}

    std::optional<VornUUID> profileID_;
};

template <>
struct std::hash<PaneEndpoint> {
    std::size_t operator()(const PaneEndpoint& endpoint) const noexcept;
};
