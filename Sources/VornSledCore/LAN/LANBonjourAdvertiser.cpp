#include "LANBonjourAdvertiser.h"

#include "LANAvahiEventLoop.h"
#include "LANNetworkHelpers.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <mutex>

namespace {

constexpr std::size_t maximumServiceNameBytes = 63;
constexpr std::size_t maximumTXTStringBytes = 255;
constexpr int reconnectDelayMilliseconds = 2000;

}  // namespace

// Everything here except `name`/`established` (guarded by `mutex` for readers on other threads)
// is touched only on the event loop's thread or under its lock.
struct LANBonjourAdvertiser::State {
    std::string type;
    std::uint16_t port = 0;
    TXTRecord txt;

    mutable std::mutex mutex;
    std::string name;
    bool established = false;

    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    AvahiTimeout* retry = nullptr;

    void setName(std::string newName) {
        const std::lock_guard lock(mutex);
        name = std::move(newName);
        established = false;
    }
    std::string currentName() const {
        const std::lock_guard lock(mutex);
        return name;
    }

    void connect() {
        int error = 0;
        client = avahi_client_new(LANAvahiEventLoop::shared().api(), AVAHI_CLIENT_NO_FAIL, &State::clientChanged, this,
                                  &error);
        if (client == nullptr) {
            // Not even the system bus answers: try again later instead of failing anybody.
            scheduleReconnect();
        }
    }

    void scheduleReconnect() {
        const AvahiPoll* api = LANAvahiEventLoop::shared().api();
        timeval when {};
        avahi_elapse_time(&when, reconnectDelayMilliseconds, 0);
        if (retry == nullptr) {
            retry = api->timeout_new(api, &when, &State::retryFired, this);
        } else {
            api->timeout_update(retry, &when);
        }
    }

    static void retryFired(AvahiTimeout*, void* context) {
        auto* self = static_cast<State*>(context);
        self->dropClient();
        self->connect();
    }

    void dropClient() {
        if (client != nullptr) {
            avahi_client_free(client);  // frees the entry group too
            client = nullptr;
            group = nullptr;
        }
    }

    void publish(AvahiClient* c) {
        if (group == nullptr) {
            group = avahi_entry_group_new(c, &State::groupChanged, this);
            if (group == nullptr) {
                return;
            }
        }
        if (!avahi_entry_group_is_empty(group)) {
            return;
        }
        AvahiStringList* list = nullptr;
        for (auto entry = txt.rbegin(); entry != txt.rend(); ++entry) {
            // One TXT string holds at most 255 bytes, "key=value" together.
            const std::size_t room = maximumTXTStringBytes - std::min(maximumTXTStringBytes, entry->first.size() + 1);
            const std::string value(LANNetworkHelpers::utf8Prefix(entry->second, room));
            list = avahi_string_list_add_pair(list, entry->first.c_str(), value.c_str());
        }
        const std::string serviceName = currentName();
        int result = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                          AvahiPublishFlags(0), serviceName.c_str(), type.c_str(),
                                                          nullptr, nullptr, port, list);
        avahi_string_list_free(list);
        if (result == AVAHI_ERR_COLLISION) {
            rename();
            publish(c);
            return;
        }
        if (result >= 0) {
            avahi_entry_group_commit(group);
        }
    }

    void rename() {
        char* alternative = avahi_alternative_service_name(currentName().c_str());
        std::string next = alternative != nullptr ? std::string(alternative) : currentName() + " #2";
        avahi_free(alternative);
        setName(std::string(LANNetworkHelpers::utf8Prefix(next, maximumServiceNameBytes)));
    }

    static void groupChanged(AvahiEntryGroup* g, AvahiEntryGroupState state, void* context) {
        auto* self = static_cast<State*>(context);
        self->group = g;
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED: {
            const std::lock_guard lock(self->mutex);
            self->established = true;
            break;
        }
        case AVAHI_ENTRY_GROUP_COLLISION:
            self->rename();
            avahi_entry_group_reset(g);
            self->publish(avahi_entry_group_get_client(g));
            break;
        default:
            break;
        }
    }

    static void clientChanged(AvahiClient* c, AvahiClientState state, void* context) {
        auto* self = static_cast<State*>(context);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            self->publish(c);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The host name is being (re)registered: the record follows once the server runs.
            if (self->group != nullptr) {
                avahi_entry_group_reset(self->group);
            }
            break;
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away; a fresh client waits for it to return. The client may not be
            // freed inside its own callback, so that happens on the loop a moment later.
            self->scheduleReconnect();
            break;
        default:
            break;
        }
    }
};

LANBonjourAdvertiser::LANBonjourAdvertiser(std::string_view name, std::string type, std::uint16_t port, TXTRecord txt)
    : state_(std::make_shared<State>()) {
    state_->type = std::move(type);
    state_->port = port;
    state_->txt = std::move(txt);
    state_->setName(serviceName(name));
    AvahiThreadedPoll* poll = LANAvahiEventLoop::shared().poll();
    if (poll == nullptr) {
        return;
    }
    const LANAvahiLock lock(poll);
    state_->connect();
}

LANBonjourAdvertiser::~LANBonjourAdvertiser() {
    AvahiThreadedPoll* poll = LANAvahiEventLoop::shared().poll();
    if (poll == nullptr) {
        return;
    }
    const LANAvahiLock lock(poll);
    if (state_->retry != nullptr) {
        LANAvahiEventLoop::shared().api()->timeout_free(state_->retry);
        state_->retry = nullptr;
    }
    state_->dropClient();
}

std::string LANBonjourAdvertiser::currentName() const { return state_->currentName(); }

bool LANBonjourAdvertiser::isEstablished() const {
    const std::lock_guard lock(state_->mutex);
    return state_->established;
}

std::string LANBonjourAdvertiser::serviceName(std::string_view deviceName) {
    const std::string_view prefix = LANNetworkHelpers::utf8Prefix(deviceName, maximumServiceNameBytes);
    return prefix.empty() ? std::string("VornSled") : std::string(prefix);
}
