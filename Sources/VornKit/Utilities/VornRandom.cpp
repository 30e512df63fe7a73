#include "VornRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

void vornRandomBytes(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t filled = 0;
    while (filled < size) {
        // Blocks only until the kernel pool is first initialised, never afterwards.
        const ssize_t got = ::getrandom(bytes + filled, size - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<std::size_t>(got);
    }
}

std::uint64_t vornRandomUniform(std::uint64_t upperBound) {
    if (upperBound == 0) {
        throw std::invalid_argument("vornRandomUniform needs an upper bound above zero");
    }
    // Reject the top partial block of the 64-bit range so that every result is equally likely.
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % upperBound;
    std::uint64_t value = 0;
    do {
        vornRandomBytes(&value, sizeof value);
    } while (value >= limit);
    return value % upperBound;
}
