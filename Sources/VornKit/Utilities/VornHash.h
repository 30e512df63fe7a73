#pragma once

#include <cstddef>
#include <functional>
#include <optional>

// Mixes `value`'s hash into `seed`; fields fed in declaration order give the hash of a record.
template <class T>
void vornHashCombine(std::size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// An optional value is fed as a presence flag followed by the value when present.
template <class T>
void vornHashCombine(std::size_t& seed, const std::optional<T>& value) {
    vornHashCombine(seed, value.has_value());
    if (value) {
        vornHashCombine(seed, *value);
    }
}

// The hash of a record from its fields, fed in declaration order.
template <class... T>
std::size_t vornHashOf(const T&... fields) {
    std::size_t seed = 0;
    (vornHashCombine(seed, fields), ...);
    return seed;
}
