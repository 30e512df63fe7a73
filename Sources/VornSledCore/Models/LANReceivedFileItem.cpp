#include "LANReceivedFileItem.h"

#include "VornJSON.h"

nlohmann::ordered_json LANReceivedFileItem::toJSON() const {
    return {{"id", id.uuidString()},
            {"fileName", fileName},
            {"savedPath", savedPath},
            {"sizeBytes", sizeBytes},
            {"senderName", senderName},
            {"sha256Hex", sha256Hex},
            {"verifiedMatch", verifiedMatch},
            {"receivedAt", vornDateToJSON(receivedAt).get<double>()}};
}

LANReceivedFileItem LANReceivedFileItem::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    LANReceivedFileItem item;
    item.id = vornJSONGetUUID(reader.value("id"), reader.path("id"));
    item.fileName = reader.string("fileName");
    item.savedPath = reader.string("savedPath");
    item.sizeBytes = reader.int64("sizeBytes");
    item.senderName = reader.string("senderName");
    item.sha256Hex = reader.string("sha256Hex");
    item.verifiedMatch = reader.boolean("verifiedMatch");
    item.receivedAt = vornDateFromJSON(reader.value("receivedAt"), reader.path("receivedAt"));
    return item;
}
