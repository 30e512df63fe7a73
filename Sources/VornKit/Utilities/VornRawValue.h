#pragma once

#include "VornJSON.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Text enumerations: each case has a raw value, its exact text, which is also its JSON form.
// An enumeration joins by specialising VornRawValueTable:
//
//   template <> struct VornRawValueTable<Fruit> {
//       static constexpr std::string_view typeName = "Fruit";
//       static constexpr std::array entries{std::pair{Fruit::apple, std::string_view("apple")}, ...};
//   };
//
// The entries are in declaration order, which is also the order of allCases().
template <class E>
struct VornRawValueTable;

template <class E>
concept VornRawValueEnum = requires {
    VornRawValueTable<E>::entries;
    VornRawValueTable<E>::typeName;
};

template <VornRawValueEnum E>
std::string rawValue(E value) {
    for (const auto& [entry, text] : VornRawValueTable<E>::entries) {
        if (entry == value) {
            return std::string(text);
        }
    }
    return {};
}

// The case whose raw value equals `text` exactly (case-sensitive), else nothing.
template <VornRawValueEnum E>
std::optional<E> fromRawValue(std::string_view text) {
    for (const auto& [entry, raw] : VornRawValueTable<E>::entries) {
        if (raw == text) {
            return entry;
        }
    }
    return std::nullopt;
}

// Every case in declaration order.
template <VornRawValueEnum E>
constexpr auto allCases() {
    constexpr auto& entries = VornRawValueTable<E>::entries;
    std::array<E, entries.size()> cases{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        cases[i] = entries[i].first;
    }
    return cases;
}

// Reads a JSON string holding one of the raw values; anything else throws VornDecodingError.
template <VornRawValueEnum E>
E vornJSONGetEnum(const nlohmann::json& value, std::string_view path) {
    const std::string text = vornJSONGetString(value, path);
    if (const std::optional<E> result = fromRawValue<E>(text)) {
        return *result;
    }
    throw VornDecodingError(std::string(path) + ": \"" + text.substr(0, 80) + "\" is not a " +
                            std::string(VornRawValueTable<E>::typeName) + " value");
}

// The same reading for the decoders that run inside nlohmann's `get<T>()` and report a malformed
// document as nlohmann::json::exception: a failure throws nlohmann::json::type_error with the
// message vornJSONGetEnum gives.
template <VornRawValueEnum E>
E vornJSONGetEnumOrTypeError(const nlohmann::json& value) {
    try {
        return vornJSONGetEnum<E>(value, VornRawValueTable<E>::typeName);
    } catch (const VornDecodingError& error) {
        throw nlohmann::json::type_error::create(302, error.what(), &value);
    }
}
