#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A 128-bit universally unique identifier as a plain value.
// Its text is the canonical 8-4-4-4-12 form in upper-case hexadecimal; reading accepts either case
// but nothing else (no braces, no "urn:uuid:", no missing hyphens).
class VornUUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The nil identifier (all zero). Use random() for a fresh one.
    constexpr VornUUID() noexcept = default;
    constexpr explicit VornUUID(const Bytes& bytes) noexcept : bytes_(bytes) {}

    // A new version 4 identifier drawn from the kernel's cryptographic random source.
    // Throws std::system_error if the kernel cannot supply random bytes.
    static VornUUID random();

    // The identifier written in `text`, or nothing when the text is not exactly 36 characters of
    // hexadecimal groups 8-4-4-4-12 joined by hyphens.
    static std::optional<VornUUID> fromString(std::string_view text) noexcept;

    // Canonical text: 36 characters, upper-case hexadecimal.
    std::string uuidString() const;

    const Bytes& bytes() const noexcept { return bytes_; }
    bool isNil() const noexcept;

    friend constexpr bool operator==(const VornUUID&, const VornUUID&) noexcept = default;
    friend constexpr auto operator<=>(const VornUUID&, const VornUUID&) noexcept = default;

private:
    Bytes bytes_{};
};

template <>
struct std::hash<VornUUID> {
    std::size_t operator()(const VornUUID& uuid) const noexcept;
};
