#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

// Any malformation of an LZFSE stream: bad magic, a table or payload that does not add up, a
// match reaching before the start of the output, input or output running out, or more output
// than the cap.
class VornLZFSEError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decoder of LZFSE-compressed buffers (raw, LZVN and LZFSE v1/v2 blocks, ended by the end-of-
// stream block). The whole buffer goes in, the decoded bytes come out; nothing is read outside
// `input` and nothing is written past `maxOutput` bytes.
struct VornLZFSE {
    static constexpr std::size_t defaultMaxOutput = std::size_t{64} << 20;

    static std::vector<std::uint8_t> decode(std::span<const std::uint8_t> input,
                                            std::size_t maxOutput = defaultMaxOutput);
};
