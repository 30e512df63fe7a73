#include "VornDesktop.h"

#include <gio/gio.h>

#include <memory>
#include <string>

namespace {

// How long a file manager may take to answer (it may have to be started first).
constexpr int showItemsTimeoutMs = 5000;

struct GObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GErrorRelease {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
    void operator()(gchar* text) const { g_free(text); }
};

bool showItems(const std::filesystem::path& item) {
    // A connection of our own rather than the shared one: the session address may change between
    // calls (tests, a new login), and the shared connection would keep the first one for ever.
    GError* rawError = nullptr;
    std::unique_ptr<gchar, GFree> address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    std::unique_ptr<GError, GErrorRelease> error(rawError);
    if (!address) {
        return false;
    }
    rawError = nullptr;
    std::unique_ptr<GDBusConnection, GObjectRelease> bus(g_dbus_connection_new_for_address_sync(
        address.get(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &rawError));
    error.reset(rawError);
    if (!bus) {
        return false;
    }
    std::unique_ptr<gchar, GFree> uri(g_filename_to_uri(item.c_str(), nullptr, nullptr));
    if (!uri) {
        return false;
    }
    const gchar* uris[] = {uri.get(), nullptr};
    rawError = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
        "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, showItemsTimeoutMs, nullptr,
        &rawError);
    error.reset(rawError);
    g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
    if (reply == nullptr) {
        return false;
    }
    g_variant_unref(reply);
    return true;
}

}  // namespace

bool VornDesktop::open(std::string_view target) {
    if (target.empty() || target.front() == '-' || target.find('\0') != std::string_view::npos) {
        return false;
    }
    return startDetached({"xdg-open", std::string(target)});
}

bool VornDesktop::startDetached(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front().empty()) {
        return false;
    }
    std::vector<gchar*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        if (argument.find('\0') != std::string::npos) {
            return false;
        }
        argv.push_back(const_cast<gchar*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    // Without G_SPAWN_DO_NOT_REAP_CHILD glib puts an intermediate process in between, so the
    // program is adopted by init and never becomes our zombie.
    GError* error = nullptr;
    const gboolean started = g_spawn_async(
        nullptr, argv.data(), nullptr,
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL |
                                 G_SPAWN_STDIN_FROM_DEV_NULL),
        nullptr, nullptr, nullptr, &error);
    if (error != nullptr) {
        g_error_free(error);
    }
    return started != FALSE;
}

void VornDesktop::revealInFileManager(const std::filesystem::path& item) {
    std::error_code status;
    const std::filesystem::path absolute = item.is_absolute() ? item : std::filesystem::absolute(item, status);
    if (showItems(absolute)) {
        return;
    }
    open(absolute.parent_path().string());
}
