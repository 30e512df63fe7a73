// libFuzzer entry point for the LZFSE decoder: any input must either decode within the cap or
// raise VornLZFSEError; the sanitizers catch everything else. Built by run-lzfse-fuzz.sh.
#include "VornLZFSE.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t cap = std::size_t{4} << 20;
    try {
        if (VornLZFSE::decode({data, size}, cap).size() > cap) {
            std::abort();
        }
    } catch (const VornLZFSEError&) {
    }
    return 0;
}
