#include "LANClipboardMessage.h"

#include "VornJSON.h"

nlohmann::ordered_json LANClipboardMessage::toJSON() const {
    return {{"id", id.uuidString()},
            {"senderName", senderName},
            {"text", text},
            {"sha256Hex", sha256Hex},
            {"receivedAt", vornDateToJSON(receivedAt).get<double>()},
            {"isOutgoing", isOutgoing}};
}

LANClipboardMessage LANClipboardMessage::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    LANClipboardMessage message;
    message.id = vornJSONGetUUID(reader.value("id"), reader.path("id"));
    message.senderName = reader.string("senderName");
    message.text = reader.string("text");
    message.sha256Hex = reader.string("sha256Hex");
    message.receivedAt = vornDateFromJSON(reader.value("receivedAt"), reader.path("receivedAt"));
    message.isOutgoing = reader.boolean("isOutgoing");
    return message;
}
