#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Publishes one DNS-SD service through the Avahi daemon for as long as the object lives. The
// constructor never blocks on the daemon and never fails because it is missing: the record is
// published whenever a daemon is (or becomes) reachable on the system bus, and republished after
// the daemon restarts. On a name collision the service takes Avahi's next alternative name.
class LANBonjourAdvertiser {
public:
    using TXTRecord = std::vector<std::pair<std::string, std::string>>;

    LANBonjourAdvertiser(std::string_view name, std::string type, std::uint16_t port, TXTRecord txt);
    ~LANBonjourAdvertiser();
    LANBonjourAdvertiser(const LANBonjourAdvertiser&) = delete;
    LANBonjourAdvertiser& operator=(const LANBonjourAdvertiser&) = delete;

    // The name currently registered (or being registered), after any collision renaming.
    std::string currentName() const;
    // True once the daemon has confirmed the record.
    bool isEstablished() const;

    // A DNS-SD instance name holds at most 63 bytes: the longest prefix that ends on a character
    // boundary; an empty name becomes "VornSled".
    static std::string serviceName(std::string_view deviceName);

    struct State;

private:
    std::shared_ptr<State> state_;
};
