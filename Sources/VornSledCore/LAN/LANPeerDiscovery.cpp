#include "LANPeerDiscovery.h"

#include "LANAvahiEventLoop.h"
#include "LANBonjourAdvertiser.h"
#include "LANProtocol.h"
#include "VornUnicode.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace {

constexpr int reconnectDelayMilliseconds = 1000;

// Text from the network as valid UTF-8: each ill-formed sequence becomes U+FFFD.
std::string validUTF8(std::string_view text) {
    if (VornUnicode::isValidUTF8(text)) return std::string(text);
    std::string out;
    VornUnicode::forEachCodePoint(text, [&](const VornCodePoint& point) { VornUnicode::appendUTF8(out, point.value); });
    return out;
}

// The value of a TXT key; nothing when the key is absent. A key written without "=" has the
// empty value.
std::optional<std::string> txtValue(AvahiStringList* txt, const char* key) {
    AvahiStringList* entry = avahi_string_list_find(txt, key);
    if (entry == nullptr) return std::nullopt;
    char* foundKey = nullptr;
    char* value = nullptr;
    std::size_t size = 0;
    if (avahi_string_list_get_pair(entry, &foundKey, &value, &size) < 0) return std::nullopt;
    std::string text = value != nullptr ? validUTF8(std::string_view(value, size)) : std::string();
    avahi_free(foundKey);
    avahi_free(value);
    return text;
}

// A serial queue on its own thread: the discovery's reports run here, in order.
class SerialQueue {
public:
    SerialQueue() : thread_([this] { run(); }) {}
    ~SerialQueue() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(std::function<void()> task) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) return;
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (stopping_) return;
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace

// The state reports are made from. `generation` tells the events of the current browse from
// those of one already stopped, which are dropped.
struct LANPeerDiscovery::Core {
    struct Resolved {
        LANPeerInfo peer;
        std::uint64_t sequence = 0;  // later resolutions win among services sharing an id
    };

    std::mutex control;  // serialises start and stop

    std::mutex lock;
    std::uint64_t generation = 0;
    ChangeHandler onChange;
    std::map<std::string, Resolved> resolvedByService;  // keyed by interface, protocol, name, domain
    std::uint64_t nextSequence = 0;

    // Declared last: destroyed first, so no task runs while the fields above go away.
    SerialQueue queue;

    // The peers by id, the latest resolution of each id, sorted by device name. Under `lock`.
    std::vector<LANPeerInfo> sortedPeers() const {
        std::map<std::string, const Resolved*> byID;
        for (const auto& [service, resolved] : resolvedByService) {
            const Resolved*& current = byID[resolved.peer.id];
            if (current == nullptr || current->sequence < resolved.sequence) current = &resolved;
        }
        std::vector<LANPeerInfo> peers;
        peers.reserve(byID.size());
        for (const auto& [id, resolved] : byID) peers.push_back(resolved->peer);
        std::stable_sort(peers.begin(), peers.end(),
                         [](const LANPeerInfo& a, const LANPeerInfo& b) { return a.deviceName < b.deviceName; });
        return peers;
    }

    // Applies a change on the queue and reports the list, unless the browse has been stopped.
    void post(std::uint64_t forGeneration, std::function<void(Core&)> change) {
        queue.post([self = this, forGeneration, change = std::move(change)] {
            std::vector<LANPeerInfo> peers;
            ChangeHandler report;
            {
                const std::lock_guard guard(self->lock);
                if (self->generation != forGeneration) return;
                change(*self);
                peers = self->sortedPeers();
                report = self->onChange;
            }
            if (report) report(peers);
        });
    }
};

// One browse, from start to stop. Lives on the Avahi event loop: created, changed and freed only
// on its thread or under its lock.
struct LANPeerDiscovery::Browse {
    Core* core = nullptr;
    std::uint64_t generation = 0;
    std::string localName;
    std::string localServiceName;

    AvahiClient* client = nullptr;
    AvahiServiceBrowser* browser = nullptr;
    std::map<std::string, AvahiServiceResolver*> resolvers;  // keyed like Core::resolvedByService
    AvahiTimeout* retry = nullptr;

    void post(std::function<void(Core&)> change) { core->post(generation, std::move(change)); }

    static std::string serviceKey(AvahiIfIndex interface, AvahiProtocol protocol, const char* name,
                                  const char* domain) {
        return std::to_string(interface) + "\x1F" + std::to_string(protocol) + "\x1F" + name + "\x1F" + domain;
    }

    void connect() {
        int error = 0;
        AvahiClient* created = avahi_client_new(LANAvahiEventLoop::shared().api(), AVAHI_CLIENT_NO_FAIL,
                                                &Browse::clientChanged, this, &error);
        // The callback above may already have run and browsed with the new client.
        if (created == nullptr) {
            scheduleReconnect();  // not even the system bus answers yet
        } else {
            client = created;
        }
    }

    void scheduleReconnect() {
        const AvahiPoll* api = LANAvahiEventLoop::shared().api();
        timeval when {};
        avahi_elapse_time(&when, reconnectDelayMilliseconds, 0);
        if (retry == nullptr) {
            retry = api->timeout_new(api, &when, &Browse::retryFired, this);
        } else {
            api->timeout_update(retry, &when);
        }
    }

    static void retryFired(AvahiTimeout*, void* context) {
        auto* self = static_cast<Browse*>(context);
        self->dropClient();
        self->connect();
    }

    // Forgets every service; the list empties when it had anything.
    void dropBrowser() {
        for (auto& [key, resolver] : resolvers) {
            if (resolver != nullptr) avahi_service_resolver_free(resolver);
        }
        resolvers.clear();
        if (browser != nullptr) {
            avahi_service_browser_free(browser);
            browser = nullptr;
        }
        post([](Core& core) { core.resolvedByService.clear(); });
    }

    void dropClient() {
        dropBrowser();
        if (client != nullptr) {
            avahi_client_free(client);
            client = nullptr;
        }
    }

    void browse(AvahiClient* c) {
        if (browser != nullptr) return;
        const std::string type(LANProtocol::bonjourServiceType);
        const std::string domain(LANProtocol::bonjourDomain);
        browser = avahi_service_browser_new(c, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.c_str(), domain.c_str(),
                                            AvahiLookupFlags(0), &Browse::browserEvent, this);
    }

    static void clientChanged(AvahiClient* c, AvahiClientState state, void* context) {
        auto* self = static_cast<Browse*>(context);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_S_COLLISION:
            self->browse(c);
            break;
        case AVAHI_CLIENT_CONNECTING:
            // Waiting for the daemon to (re)appear: what it told us before no longer holds.
            self->dropBrowser();
            break;
        case AVAHI_CLIENT_FAILURE:
            // The connection is gone for good; a new client waits for the daemon. The old one may
            // not be freed inside its own callback, so that happens on the loop a moment later.
            self->dropBrowser();
            self->scheduleReconnect();
            break;
        }
    }

    bool isLocal(std::string_view name) const { return name == localName || name == localServiceName; }

    static void browserEvent(AvahiServiceBrowser* b, AvahiIfIndex interface, AvahiProtocol protocol,
                             AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                             AvahiLookupResultFlags, void* context) {
        auto* self = static_cast<Browse*>(context);
        switch (event) {
        case AVAHI_BROWSER_NEW: {
            if (self->isLocal(name)) return;
            const std::string key = serviceKey(interface, protocol, name, domain);
            if (self->resolvers.contains(key)) return;
            // IPv4 only: the portal and the server's addresses are IPv4, and a link-local IPv6
            // address without its zone would not be reachable anyway.
            AvahiServiceResolver* resolver = avahi_service_resolver_new(
                avahi_service_browser_get_client(b), interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                AvahiLookupFlags(0), &Browse::resolverEvent, self);
            self->resolvers[key] = resolver;
            break;
        }
        case AVAHI_BROWSER_REMOVE: {
            const std::string key = serviceKey(interface, protocol, name, domain);
            if (const auto found = self->resolvers.find(key); found != self->resolvers.end()) {
                if (found->second != nullptr) avahi_service_resolver_free(found->second);
                self->resolvers.erase(found);
            }
            self->post([key](Core& core) { core.resolvedByService.erase(key); });
            break;
        }
        case AVAHI_BROWSER_ALL_FOR_NOW:
            self->post([](Core&) {});
            break;
        case AVAHI_BROWSER_FAILURE:
            // The daemon dropped the browse: start over once the loop is back here.
            self->dropBrowser();
            self->scheduleReconnect();
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    static void resolverEvent(AvahiServiceResolver* r, AvahiIfIndex interface, AvahiProtocol protocol,
                              AvahiResolverEvent event, const char* name, const char*, const char* domain,
                              const char*, const AvahiAddress* address, std::uint16_t port, AvahiStringList* txt,
                              AvahiLookupResultFlags, void* context) {
        auto* self = static_cast<Browse*>(context);
        const std::string key = serviceKey(interface, protocol, name, domain);
        if (event != AVAHI_RESOLVER_FOUND || address == nullptr) {
            // No address (yet): the service stays unlisted until the browser sees it again.
            avahi_service_resolver_free(r);
            if (const auto found = self->resolvers.find(key); found != self->resolvers.end() && found->second == r) {
                self->resolvers.erase(found);
            }
            return;
        }
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        std::string host(text);
        host = host.substr(0, host.find('%'));  // no interface zone

        LANPeerInfo peer;
        peer.deviceName = validUTF8(name);
        peer.id = txtValue(txt, "id").value_or(peer.deviceName);
        peer.platform = txtValue(txt, "platform").value_or(std::string(LANProtocol::platformName));
        peer.requiresPIN = txtValue(txt, "pin") == "1";
        peer.host = std::move(host);
        peer.port = port;
        peer.isManual = false;
        self->post([key, peer = std::move(peer)](Core& core) {
            core.resolvedByService[key] = Core::Resolved{peer, ++core.nextSequence};
        });
    }
};

LANPeerDiscovery::LANPeerDiscovery() : core_(std::make_unique<Core>()) {}

LANPeerDiscovery::~LANPeerDiscovery() {
    stop();
    // Destroying the core joins its queue: a report in progress ends first.
}

void LANPeerDiscovery::start(std::string localDeviceName, ChangeHandler onChange) {
    const std::lock_guard control(core_->control);
    stopBrowse();
    std::uint64_t generation;
    {
        const std::lock_guard guard(core_->lock);
        generation = core_->generation;
        core_->onChange = std::move(onChange);
    }
    AvahiThreadedPoll* poll = LANAvahiEventLoop::shared().poll();
    if (poll == nullptr) return;  // no event loop: nothing is ever found
    const LANAvahiLock lock(poll);
    browse_ = new Browse{core_.get(), generation, localDeviceName, LANBonjourAdvertiser::serviceName(localDeviceName)};
    browse_->connect();
}

void LANPeerDiscovery::stop() {
    const std::lock_guard control(core_->control);
    stopBrowse();
}

void LANPeerDiscovery::stopBrowse() {
    {
        AvahiThreadedPoll* poll = LANAvahiEventLoop::shared().poll();
        if (poll != nullptr && browse_ != nullptr) {
            const LANAvahiLock lock(poll);
            if (browse_->retry != nullptr) {
                LANAvahiEventLoop::shared().api()->timeout_free(browse_->retry);
            }
            browse_->dropClient();
            delete browse_;
            browse_ = nullptr;
        }
    }
    const std::lock_guard guard(core_->lock);
    ++core_->generation;  // what is still queued for the old browse is dropped
    core_->resolvedByService.clear();
}
