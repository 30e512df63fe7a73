#include "VornUUID.h"

#include "VornASCII.h"
#include "VornRandom.h"

namespace {

constexpr char upperHexDigits[] = "0123456789ABCDEF";


bool isHyphenPosition(std::size_t index) noexcept {
    return index == 8 || index == 13 || index == 18 || index == 23;
}

}  // namespace

VornUUID VornUUID::random() {
    Bytes bytes{};
    vornRandomBytes(bytes.data(), bytes.size());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return VornUUID(bytes);
}

std::optional<VornUUID> VornUUID::fromString(std::string_view text) noexcept {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Bytes bytes{};
    std::size_t byteIndex = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int high = VornASCII::hexDigitValue(text[i]);
        const int low = VornASCII::hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes[byteIndex++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    return VornUUID(bytes);
}

std::string VornUUID::uuidString() const {
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(upperHexDigits[bytes_[i] >> 4]);
        text.push_back(upperHexDigits[bytes_[i] & 0x0F]);
    }
    return text;
}

bool VornUUID::isNil() const noexcept {
    for (const std::uint8_t byte : bytes_) {
        if (byte != 0) {
            return false;
        }
    }
    return true;
}

std::size_t std::hash<VornUUID>::operator()(const VornUUID& uuid) const noexcept {
    // FNV-1a over the sixteen bytes: cheap, and random identifiers need no stronger mixing.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint8_t byte : uuid.bytes()) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return static_cast<std::size_t>(hash);
}
