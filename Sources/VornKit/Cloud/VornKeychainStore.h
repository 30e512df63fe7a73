#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// A failed keyring call: the keyring's own error domain and status code, and its message.
class VornKeychainError : public std::runtime_error {
public:
    VornKeychainError(const std::string& message, std::string domain, int code)
        : std::runtime_error(message), domain_(std::move(domain)), code_(code) {}

    const std::string& domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }

private:
    std::string domain_;
    int code_;
};

// Short secrets (passwords, access keys) in the system keyring (the Secret Service), one item per
// (service, account) pair: the item's attributes are "service" and "account", its secret the UTF-8
// text. Stateless; callable from any thread. Each call blocks on the session bus.
struct VornKeychainStore {
    // Stores the secret for the pair. The keyring replaces an item with the same attributes in
    // place, so nothing is deleted first and a failed save leaves the earlier secret as it was.
    // Throws VornKeychainError when the keyring cannot be reached or refuses the item, and for a
    // secret that is not UTF-8 text without NUL characters.
    static void save(std::string_view secret, std::string_view service, std::string_view account);

    // The pair's secret; nothing when there is no item, when it is not UTF-8 text, or when the
    // keyring cannot be read (no bus, locked, refused). Never throws.
    static std::optional<std::string> load(std::string_view service, std::string_view account) noexcept;

    // Like load, but a keyring that cannot be read throws VornKeychainError instead of looking
    // like a missing item; an item that is not UTF-8 text throws too. Nothing means no item exists.
    static std::optional<std::string> loadOrThrow(std::string_view service, std::string_view account);

    // Removes every item of the pair; a missing item or an unreachable keyring is ignored.
    static void remove(std::string_view service, std::string_view account) noexcept;
};
