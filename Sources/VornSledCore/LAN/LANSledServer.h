#pragma once

#include "LANClipboardMessage.h"
#include "LANReceivedFileItem.h"
#include "LANSharedFileItem.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How the server reports what peers sent. Both are called on the server's own threads, outside
// its lock; receivers hop to their own thread.
struct LANServerCallbacks {
    std::function<void(const LANReceivedFileItem&)> onFileReceived;
    std::function<void(const LANClipboardMessage&)> onClipboardReceived;
};

// Resource bounds against slow, silent or hostile peers.
struct LANServerLimits {
    // Time a new connection has to deliver its complete request head.
    std::chrono::milliseconds headTimeout{std::chrono::seconds(30)};
    // Time a request body may go without a single byte arriving.
    std::chrono::milliseconds bodyIdleTimeout{std::chrono::seconds(120)};
    // After an answer, how long unread request bytes are drained before the connection closes
    // (closing with unread bytes would reset the connection and lose the answer).
    std::chrono::milliseconds lingerTimeout{std::chrono::seconds(5)};
    // Connections beyond this many are closed as soon as they are accepted.
    int maximumConnections = 128;
    // Nor may one peer hold more than this many at once (an IPv4 address, or an IPv6 /64, is one
    // peer), so that one peer cannot shut out the others: a parallel send uses up to 8, and
    // phones behind one address share the rest.
    int maximumConnectionsPerPeer = 16;
    // A wrong PIN is answered only after this wait times the wrong PINs the server has seen
    // within pinWrongMemory (this one included); a right PIN is answered at once. A peer that
    // has guessed wrong has one PIN judged at a time: its next only once the last wrong answer's
    // wait is over, even if it left meanwhile.
    std::chrono::milliseconds pinWrongAnswerWait{std::chrono::seconds(1)};
    std::chrono::milliseconds pinWrongMemory{std::chrono::hours(1)};
    // Worker threads that run every connection's handlers.
    int workerThreads = 4;
};

// The LAN sharing HTTP/1.1 server: one request per connection, PIN-guarded routes, streamed
// uploads verified by SHA-256, streamed downloads of shared files, a clipboard text, the web
// portal page, and the Bonjour advertisement. Thread-safe; its state is guarded by one lock that
// is held only to copy values in or out.
class LANSledServer {
public:
    static constexpr std::string_view bonjourServiceType = "_vornsled._tcp";

    LANSledServer(std::string deviceName, std::filesystem::path downloadDirectory, bool requirePIN, std::string pin,
                  LANServerLimits limits = {});
    // Stops listening, ends every connection (an upload in progress leaves no temporary file)
    // and waits for the worker threads.
    ~LANSledServer();
    LANSledServer(const LANSledServer&) = delete;
    LANSledServer& operator=(const LANSledServer&) = delete;

    // Applies to requests that arrive afterwards; a running listener and a published Bonjour
    // record keep what they had.
    void updateConfiguration(std::string deviceName, std::filesystem::path downloadDirectory, bool requirePIN,
                             std::string pin);
    // Ids are the download tokens; the caller keeps them unique.
    void setSharedFiles(const std::vector<LANSharedFileItem>& files);
    void setLatestOutgoingClipboard(std::string text);

    // Stops a running listener, then listens on `port` (0: one the system picks) on every
    // address, and returns the bound port. With `advertiseBonjour`, publishes the service
    // through Avahi; that never blocks and never fails the start (without a daemon the record
    // is published once one appears). Throws std::system_error when the port cannot be bound.
    std::uint16_t start(std::uint16_t port, bool advertiseBonjour, LANServerCallbacks callbacks);
    // Closes the listener and withdraws the advertisement before returning; connections already
    // accepted run to their end. Harmless when not running.
    void stop();

    std::uint16_t activePort() const { return activePort_.load(); }
    bool isRunning() const { return isRunning_.load(); }
    // The identifier in the info object and the TXT record: 8 hex digits, "-", 3 hex digits.
    const std::string& deviceID() const { return deviceID_; }
    // The service name Avahi currently publishes (after any renaming on a collision); empty when
    // not advertising.
    std::string advertisedName() const;

    // Compares the SHA-256 digests of both strings in full, so the time taken reveals neither
    // where they differ nor how long the expected one is.
    static bool constantTimeEquals(std::string_view presented, std::string_view expected);

    struct Impl;

private:
    void refreshMachineNames();

    std::string deviceID_;
    std::atomic<std::uint16_t> activePort_{0};
    std::atomic<bool> isRunning_{false};
    std::unique_ptr<Impl> impl_;
};
