#include "SledBookmark.h"

#include "VornHash.h"
#include "VornJSON.h"

nlohmann::ordered_json SledBookmark::toJSON() const {
    return {{"id", id.uuidString()}, {"label", label}, {"endpoint", endpoint.toJSON()}, {"path", path}};
}

SledBookmark SledBookmark::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    SledBookmark bookmark;
    bookmark.id = vornJSONGetUUID(reader.value("id"), reader.path("id"));
    bookmark.label = reader.string("label");
    bookmark.endpoint = PaneEndpoint::fromJSON(reader.value("endpoint"), reader.path("endpoint"));
    bookmark.path = reader.string("path");
    return bookmark;
}

std::size_t std::hash<SledBookmark>::operator()(const SledBookmark& bookmark) const noexcept {
    return vornHashOf(bookmark.id, bookmark.label, bookmark.endpoint, bookmark.path);
}
