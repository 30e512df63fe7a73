#include "PaneEndpoint.h"

#include "VornHash.h"
#include "VornJSON.h"

nlohmann::ordered_json PaneEndpoint::toJSON() const {
    nlohmann::ordered_json value = nlohmann::ordered_json::object();
    if (profileID_) {
        value["remote"] = nlohmann::ordered_json{{"profileID", profileID_->uuidString()}};
    } else {
        value["local"] = nlohmann::ordered_json::object();
    }
    return value;
}

PaneEndpoint PaneEndpoint::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    const bool hasLocal = value.contains("local");
    const bool hasRemote = value.contains("remote");
    if (hasLocal == hasRemote) {
        throw VornDecodingError(std::string(path) + ": Invalid number of keys found, expected one.");
    }
    if (hasLocal) {
        if (!value.at("local").is_object()) {
            reader.fail("local", "expected an object, found " + std::string(value.at("local").type_name()));
        }
        return local();
    }
    const std::string remotePath = reader.path("remote");
    const VornJSONObjectReader remoteReader(value.at("remote"), remotePath);
    return remote(vornJSONGetUUID(remoteReader.value("profileID"), remoteReader.path("profileID")));
}

std::size_t std::hash<PaneEndpoint>::operator()(const PaneEndpoint& endpoint) const noexcept {
    std::size_t seed = 0;
    vornHashCombine(seed, endpoint.isLocal() ? 0 : 1);
    if (endpoint.profileID()) {
        vornHashCombine(seed, *endpoint.profileID());
    }
    return seed;
}
