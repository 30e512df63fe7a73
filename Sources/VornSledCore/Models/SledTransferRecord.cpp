#include "SledTransferRecord.h"

#include "VornJSON.h"

#include <algorithm>

double SledTransferRecord::fractionCompleted() const {
    if (status == SledTransferStatus::completed) {
        return 1.0;
    }
    if (totalBytes < 1) {
        return 0.0;
    }
    const double fraction = static_cast<double>(transferredBytes) / static_cast<double>(totalBytes);
    return std::clamp(fraction, 0.0, 1.0);
}

nlohmann::ordered_json SledTransferRecord::toJSON() const {
    nlohmann::ordered_json value = {{"id", id.uuidString()},
                                    {"fileName", fileName},
                                    {"sourceLabel", sourceLabel},
                                    {"destinationLabel", destinationLabel},
                                    {"direction", rawValue(direction)},
                                    {"status", rawValue(status)},
                                    {"totalBytes", totalBytes},
                                    {"transferredBytes", transferredBytes}};
    if (sha256Hex) {
        value["sha256Hex"] = *sha256Hex;
    }
    value["isSHA256Verified"] = isSHA256Verified;
    if (errorMessage) {
        value["errorMessage"] = *errorMessage;
    }
    value["createdAt"] = vornDateToJSON(createdAt).get<double>();
    if (completedAt) {
        value["completedAt"] = vornDateToJSON(*completedAt).get<double>();
    }
    return value;
}

SledTransferRecord SledTransferRecord::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    SledTransferRecord record;
    record.id = vornJSONGetUUID(reader.value("id"), reader.path("id"));
    record.fileName = reader.string("fileName");
    record.sourceLabel = reader.string("sourceLabel");
    record.destinationLabel = reader.string("destinationLabel");
    record.direction = vornJSONGetEnum<SledTransferDirection>(reader.value("direction"), reader.path("direction"));
    record.status = vornJSONGetEnum<SledTransferStatus>(reader.value("status"), reader.path("status"));
    record.totalBytes = reader.int64("totalBytes");
    record.transferredBytes = reader.int64("transferredBytes");
    record.sha256Hex = reader.optionalString("sha256Hex");
    record.isSHA256Verified = reader.boolean("isSHA256Verified");
    record.errorMessage = reader.optionalString("errorMessage");
    record.createdAt = vornDateFromJSON(reader.value("createdAt"), reader.path("createdAt"));
    if (const nlohmann::json* completed = reader.optionalValue("completedAt")) {
        record.completedAt = vornDateFromJSON(*completed, reader.path("completedAt"));
    }
    return record;
}
