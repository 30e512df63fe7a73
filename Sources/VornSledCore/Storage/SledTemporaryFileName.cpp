#include "SledTemporaryFileName.h"

#include "VornUUID.h"

std::string sledTemporaryFileName(std::string_view prefix, std::string_view fileName, std::size_t maxBytes) {
    std::string name = std::string(prefix) + VornUUID::random().uuidString() + "-";
    if (name.size() >= maxBytes) {
        return name;
    }
    const std::string safe = LANNetworkHelpers::sanitizeIncomingFileName(fileName);
    name += LANNetworkHelpers::utf8Prefix(safe, maxBytes - name.size());
    return name;
}

std::filesystem::path sledHiddenSibling(const std::filesystem::path& destination, std::string_view label) {
    std::string name = ".vornsled-";
    if (!label.empty()) {
        name.append(label).append("-");
    }
    return destination.parent_path() / (name + VornUUID::random().uuidString() + ".part");
}
