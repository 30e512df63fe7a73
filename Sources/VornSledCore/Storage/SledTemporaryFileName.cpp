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
