#pragma once

#include <cstddef>
#include <cstdint>

// The kernel's cryptographic random source (getrandom). Both functions throw std::system_error
// when the kernel cannot supply random bytes.

// Fills `size` bytes at `buffer`.
void vornRandomBytes(void* buffer, std::size_t size);

// A number drawn uniformly from 0 to upperBound - 1 (without modulo bias). upperBound must be > 0.
std::uint64_t vornRandomUniform(std::uint64_t upperBound);
