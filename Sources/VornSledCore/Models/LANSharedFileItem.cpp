#include "LANSharedFileItem.h"

#include "VornJSON.h"

nlohmann::ordered_json LANSharedFileItem::toJSON() const {
    return {{"id", id}, {"fileName", fileName}, {"filePath", filePath}, {"sizeBytes", sizeBytes}, {"sha256Hex", sha256Hex}};
}

LANSharedFileItem LANSharedFileItem::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    LANSharedFileItem item;
    item.id = reader.string("id");
    item.fileName = reader.string("fileName");
    item.filePath = reader.string("filePath");
    item.sizeBytes = reader.int64("sizeBytes");
    item.sha256Hex = reader.string("sha256Hex");
    return item;
}
