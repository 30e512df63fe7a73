#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Text enumerations: `rawValue(e)` gives a case's text and `fromRawValue<E>(text)` the case with
// exactly that text (case-sensitive), or nothing.
template <typename E>
std::optional<E> fromRawValue(std::string_view text);

namespace detail {

// The case of `allCases` whose raw value is `text`.
template <typename E, std::size_t N>
std::optional<E> caseWithRawValue(const std::array<E, N>& allCases, std::string_view text) {
    for (const E value : allCases) {
        if (rawValue(value) == text) {
            return value;
        }
    }
    return std::nullopt;
}

// The case whose raw value a JSON text holds; anything else throws nlohmann::json::exception.
template <typename E, std::size_t N>
E decodeRawValue(const nlohmann::json& json, const std::array<E, N>& allCases) {
    const std::string text = json.get<std::string>();
    if (const auto found = caseWithRawValue(allCases, text)) {
        return *found;
    }
    throw nlohmann::json::type_error::create(302, "unknown value \"" + text + "\"", &json);
}

}  // namespace detail
