#pragma once

#include "LANPeerInfo.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Finds other instances on the local network: browses the DNS-SD service type of the LAN
// protocol through the Avahi daemon, resolves each service to an IPv4 address and port, reads
// its TXT record, and reports the whole peer list, sorted by device name, whenever it changes.
//
// Reports arrive on the discovery's own thread, never under its lock; receivers hop to their own
// thread. The daemon may be missing when browsing starts, appear later, or restart: browsing
// follows it, and while it is gone the list is empty. Thread-safe.
class LANPeerDiscovery {
public:
    using ChangeHandler = std::function<void(const std::vector<LANPeerInfo>&)>;

    LANPeerDiscovery();
    // Stops browsing and waits for a report in progress to end; no report comes afterwards.
    // Must not be called from inside a report.
    ~LANPeerDiscovery();
    LANPeerDiscovery(const LANPeerDiscovery&) = delete;
    LANPeerDiscovery& operator=(const LANPeerDiscovery&) = delete;

    // Stops any running browse, then browses anew. Services named `localDeviceName` (as given, or
    // as fitted to a DNS-SD name) are this machine's own and never listed. The first report comes
    // with the first browse results.
    void start(std::string localDeviceName, ChangeHandler onChange);
    // Stops browsing and forgets every peer, without a report.
    void stop();

    struct Core;
    struct Browse;

private:
    void stopBrowse();

    std::unique_ptr<Core> core_;
    Browse* browse_ = nullptr;  // touched only under the Avahi event loop's lock
};
