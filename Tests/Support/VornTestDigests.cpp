#include "VornTestDigests.h"

#include "VornChecksum.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>

std::string vornTestMD5Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
        throw std::runtime_error("MD5 is not available from OpenSSL");
    }
    return vornHexLower(std::span<const std::uint8_t>(digest.data(), length));
}
