#include "VornSuiteNotifications.h"

#include <gio/gio.h>

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr const char* signalPath = "/com/vornworks/suite";
constexpr const char* signalInterface = "com.vornworks.suite";
constexpr const char* signalMember = "Notification";

struct Subscription {
    VornSuiteNotifications::Handler handler;
};

// The one session-bus connection of the process and the thread whose main context receives its
// signals and timers. GDBus delivers a subscription's signals on the context that subscribed, so
// every subscription is made from that thread.
class SuiteBus {
public:
    static SuiteBus& shared() {
        // Never destroyed: handlers may still be queued on the receiving thread at exit.
        static SuiteBus* bus = new SuiteBus();
        return *bus;
    }

    GDBusConnection* connection() { return connection_; }

    template <class F>
    auto onLoop(F work) -> decltype(work()) {
        using R = decltype(work());
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(work));
        std::future<R> result = task->get_future();
        auto* heap = new std::shared_ptr<std::packaged_task<R()>>(task);
        g_main_context_invoke_full(
            context_, G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                (**static_cast<std::shared_ptr<std::packaged_task<R()>>*>(data))();
                return G_SOURCE_REMOVE;
            },
            heap, [](gpointer data) { delete static_cast<std::shared_ptr<std::packaged_task<R()>>*>(data); });
        return result.get();
    }

    GMainContext* context() { return context_; }

    void setHook(VornSuiteNotifications::MainThreadHook hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    void dispatch(std::function<void()> work) {
        VornSuiteNotifications::MainThreadHook hook;
        {
            std::lock_guard lock(mutex_);
            hook = hook_;
        }
        if (hook) {
            hook(std::move(work));
        } else {
            work();
        }
    }

private:
    SuiteBus() {
        GError* error = nullptr;
        // A connection of our own: closing the shared one would end the process (its default), and
        // other libraries in the process keep their own use of it.
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address != nullptr) {
            connection_ = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
            g_free(address);
        }
        if (error != nullptr) {
            g_error_free(error);
        }
        if (connection_ != nullptr) {
            g_dbus_connection_set_exit_on_close(connection_, FALSE);
        }
        context_ = g_main_context_new();
        loop_ = g_main_loop_new(context_, FALSE);
        std::thread([loop = loop_, context = context_] {
            g_main_context_push_thread_default(context);
            g_main_loop_run(loop);
        }).detach();
    }

    GDBusConnection* connection_ = nullptr;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::mutex mutex_;
    VornSuiteNotifications::MainThreadHook hook_;
};

void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
              gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sas)"))) {
        return;
    }
    const gchar* name = nullptr;
    GVariantIter* objects = nullptr;
    g_variant_get(parameters, "(&sas)", &name, &objects);
    std::optional<std::string> object;
    gchar* text = nullptr;
    if (g_variant_iter_next(objects, "s", &text)) {
        object = text;
        g_free(text);
    }
    g_variant_iter_free(objects);
    VornSuiteNotifications::Handler handler = static_cast<Subscription*>(data)->handler;
    SuiteBus::shared().dispatch([handler, object] { handler(object); });
}

}  // namespace

void VornSuiteNotifications::setMainThreadHook(MainThreadHook hook) { SuiteBus::shared().setHook(std::move(hook)); }

void VornSuiteNotifications::runOnMainThread(std::function<void()> work) { SuiteBus::shared().dispatch(std::move(work)); }

bool VornSuiteNotifications::post(std::string_view name, const std::optional<std::string>& object) {
    GDBusConnection* connection = SuiteBus::shared().connection();
    if (connection == nullptr) {
        return false;
    }
    GVariantBuilder objects;
    g_variant_builder_init(&objects, G_VARIANT_TYPE("as"));
    if (object) {
        g_variant_builder_add(&objects, "s", object->c_str());
    }
    const std::string nameText(name);
    GError* error = nullptr;
    const gboolean sent = g_dbus_connection_emit_signal(connection, nullptr, signalPath, signalInterface, signalMember,
                                                        g_variant_new("(sas)", nameText.c_str(), &objects), &error);
    if (error != nullptr) {
        g_error_free(error);
        return false;
    }
    // Delivered at once, not whenever the connection's worker gets round to it.
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    return sent != FALSE;
}

VornSuiteObserverToken VornSuiteNotifications::observe(std::string_view name, Handler handler) {
    SuiteBus& bus = SuiteBus::shared();
    GDBusConnection* connection = bus.connection();
    if (connection == nullptr || !handler) {
        return {};
    }
    const std::string nameText(name);
    const guint id = bus.onLoop([&]() -> guint {
        return g_dbus_connection_signal_subscribe(
            connection, nullptr, signalInterface, signalMember, signalPath, nameText.c_str(), G_DBUS_SIGNAL_FLAGS_NONE,
            onSignal, new Subscription{std::move(handler)}, [](gpointer data) { delete static_cast<Subscription*>(data); });
    });
    // The match rule reaches the bus asynchronously; a round trip makes sure it is in force before
    // the caller goes on to expect notifications.
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply != nullptr) {
        g_variant_unref(reply);
    }
    if (error != nullptr) {
        g_error_free(error);
    }
    return VornSuiteObserverToken{id};
}

void VornSuiteNotifications::removeObserver(VornSuiteObserverToken token) {
    if (!token) {
        return;
    }
    SuiteBus& bus = SuiteBus::shared();
    if (bus.connection() == nullptr) {
        return;
    }
    bus.onLoop([&] { g_dbus_connection_signal_unsubscribe(bus.connection(), static_cast<guint>(token.value)); });
}

void VornSuiteNotifications::after(unsigned milliseconds, std::function<void()> work) {
    SuiteBus& bus = SuiteBus::shared();
    GSource* source = g_timeout_source_new(milliseconds);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            SuiteBus::shared().dispatch(*static_cast<std::function<void()>*>(data));
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)), [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, bus.context());
    g_source_unref(source);
}

bool VornSuiteNotifications::ownName(std::string_view busName) {
    GDBusConnection* connection = SuiteBus::shared().connection();
    if (connection == nullptr) {
        return false;
    }
    const std::string nameText(busName);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", nameText.c_str(), 4u /* DBUS_NAME_FLAG_DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) {
        g_error_free(error);
        return false;
    }
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    return result == 1 || result == 4;  // primary owner, or already the owner
}

bool VornSuiteNotifications::nameHasOwner(std::string_view busName) {
    GDBusConnection* connection = SuiteBus::shared().connection();
    if (connection == nullptr) {
        return false;
    }
    const std::string nameText(busName);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", nameText.c_str()),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) {
        g_error_free(error);
        return false;
    }
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned != FALSE;
}

bool VornSuiteNotifications::activate(std::string_view busName, std::string_view objectPath) {
    GDBusConnection* connection = SuiteBus::shared().connection();
    const std::string nameText(busName);
    const std::string pathText(objectPath);
    if (connection == nullptr || !g_variant_is_object_path(pathText.c_str())) {
        return false;
    }
    GVariantBuilder platformData;
    g_variant_builder_init(&platformData, G_VARIANT_TYPE("a{sv}"));
    g_dbus_connection_call(connection, nameText.c_str(), pathText.c_str(), "org.freedesktop.Application", "Activate",
                           g_variant_new("(a{sv})", &platformData), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1,
                           nullptr, nullptr, nullptr);
    return true;
}
