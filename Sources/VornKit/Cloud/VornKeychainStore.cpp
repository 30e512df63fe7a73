#include "VornKeychainStore.h"

#include <libsecret/secret.h>

#include <memory>

namespace {

// Items carry exactly the attributes "service" and "account" and no schema attribute, so that the
// Secret Service tools (`secret-tool store service S account A`) address the very same items, and
// a store replaces such an item in place instead of adding a second one beside it.
constexpr const SecretSchema* noSchema = nullptr;

struct HashTableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPointer = std::unique_ptr<GError, ErrorDeleter>;

// The attribute table of one pair; it borrows the two strings, which must outlive it.
class Attributes {
public:
    Attributes(std::string_view service, std::string_view account) : service_(service), account_(account) {
        table_.reset(g_hash_table_new(g_str_hash, g_str_equal));
        g_hash_table_insert(table_.get(), const_cast<char*>("service"), service_.data());
        g_hash_table_insert(table_.get(), const_cast<char*>("account"), account_.data());
    }
    GHashTable* table() const { return table_.get(); }

private:
    std::string service_;
    std::string account_;
    std::unique_ptr<GHashTable, HashTableDeleter> table_;
};

bool isUTF8Text(const char* bytes, std::size_t size) {
    // Rejects NUL bytes as well as broken sequences.
    return g_utf8_validate_len(bytes, size, nullptr) != FALSE;
}

[[noreturn]] void fail(const std::string& action, GError* rawError) {
    const ErrorPointer error(rawError);
    if (!error) {
        throw VornKeychainError(action + ": the system keyring reported no reason", "", -1);
    }
    throw VornKeychainError(action + ": " + error->message, g_quark_to_string(error->domain), error->code);
}

}  // namespace

void VornKeychainStore::save(std::string_view secret, std::string_view service, std::string_view account) {
    const std::string action = "Could not save the secret of \"" + std::string(account) + "\" in the system keyring";
    if (!isUTF8Text(secret.data(), secret.size())) {
        throw VornKeychainError(action + ": the secret is not UTF-8 text", "", -1);
    }
    const Attributes attributes(service, account);
    const std::unique_ptr<SecretValue, ValueDeleter> value(
        secret_value_new(secret.empty() ? "" : secret.data(), static_cast<gssize>(secret.size()), "text/plain"));
    const std::string label = std::string(service) + " " + std::string(account);
    GError* error = nullptr;
    const gboolean stored = secret_password_storev_binary_sync(noSchema, attributes.table(),
                                                               SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                               value.get(), nullptr, &error);
    if (!stored || error) {
        fail(action, error);
    }
}

std::optional<std::string> VornKeychainStore::loadOrThrow(std::string_view service, std::string_view account) {
    const std::string action = "Could not read the secret of \"" + std::string(account) + "\" from the system keyring";
    const Attributes attributes(service, account);
    GError* error = nullptr;
    const std::unique_ptr<SecretValue, ValueDeleter> value(
        secret_password_lookupv_binary_sync(noSchema, attributes.table(), nullptr, &error));
    if (error) {
        fail(action, error);
    }
    if (!value) {
        return std::nullopt;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    if (!isUTF8Text(bytes, length)) {
        throw VornKeychainError(action + ": the stored secret is not UTF-8 text", "", -1);
    }
    return std::string(bytes, length);
}

std::optional<std::string> VornKeychainStore::load(std::string_view service, std::string_view account) noexcept {
    try {
        return loadOrThrow(service, account);
    } catch (...) {
        return std::nullopt;
    }
}

void VornKeychainStore::remove(std::string_view service, std::string_view account) noexcept {
    try {
        const Attributes attributes(service, account);
        GError* error = nullptr;
        secret_password_clearv_sync(noSchema, attributes.table(), nullptr, &error);
        const ErrorPointer ignored(error);
    } catch (...) {
        // Removing is best effort: an unreachable keyring holds nothing we could remove.
    }
}
