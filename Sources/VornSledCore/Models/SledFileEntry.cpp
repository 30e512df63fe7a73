#include "SledFileEntry.h"

#include "VornHash.h"
#include "VornJSON.h"

nlohmann::ordered_json SledFileEntry::toJSON() const {
    nlohmann::ordered_json value = {
        {"name", name}, {"path", path}, {"isDirectory", isDirectory}, {"sizeBytes", sizeBytes}};
    if (modifiedAt) {
        value["modifiedAt"] = vornDateToJSON(*modifiedAt).get<double>();
    }
    if (permissions) {
        value["permissions"] = *permissions;
    }
    if (eTag) {
        value["eTag"] = *eTag;
    }
    if (isSymbolicLink) {
        value["isSymbolicLink"] = true;
    }
    if (modifiedAtPrecision != SledTimePrecision::precise) {
        value["modifiedAtPrecision"] = rawValue(modifiedAtPrecision);
    }
    return value;
}

SledFileEntry SledFileEntry::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    SledFileEntry entry;
    entry.name = reader.string("name");
    entry.path = reader.string("path");
    entry.isDirectory = reader.boolean("isDirectory");
    entry.sizeBytes = reader.int64("sizeBytes");
    if (const nlohmann::json* date = reader.optionalValue("modifiedAt")) {
        entry.modifiedAt = vornDateFromJSON(*date, reader.path("modifiedAt"));
    }
    entry.permissions = reader.optionalString("permissions");
    entry.eTag = reader.optionalString("eTag");
    if (const nlohmann::json* link = reader.optionalValue("isSymbolicLink")) {
        entry.isSymbolicLink = vornJSONGetBoolean(*link, reader.path("isSymbolicLink"));
    }
    if (const nlohmann::json* precision = reader.optionalValue("modifiedAtPrecision")) {
        entry.modifiedAtPrecision =
            vornJSONGetEnum<SledTimePrecision>(*precision, reader.path("modifiedAtPrecision"));
    }
    return entry;
}

std::size_t std::hash<SledFileEntry>::operator()(const SledFileEntry& entry) const noexcept {
    std::size_t seed = 0;
    vornHashCombine(seed, entry.name);
    vornHashCombine(seed, entry.path);
    vornHashCombine(seed, entry.isDirectory);
    vornHashCombine(seed, entry.sizeBytes);
    if (entry.modifiedAt) {
        vornHashCombine(seed, true);
        vornHashCombine(seed, entry.modifiedAt->time_since_epoch().count());
    } else {
        vornHashCombine(seed, false);
    }
    vornHashCombine(seed, entry.permissions);
    vornHashCombine(seed, entry.eTag);
    vornHashCombine(seed, entry.isSymbolicLink);
    vornHashCombine(seed, static_cast<int>(entry.modifiedAtPrecision));
    return seed;
}
