#pragma once

#include "LANPeerInfo.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The outcome of sending one file to a peer.
struct LANSledUploadResponse {
    std::string fileName;   // the name the peer saved the file under
    std::int64_t bytes = 0; // bytes the peer received
    std::string sha256Hex;  // the digest computed here before sending
    bool remoteVerified = false;  // the peer confirmed the digest

    friend bool operator==(const LANSledUploadResponse&, const LANSledUploadResponse&) = default;
};

// One file's result of a parallel send: the response, or the exception its send ended with.
struct LANSledSendOutcome {
    std::filesystem::path localURL;
    std::variant<LANSledUploadResponse, std::exception_ptr> result;

    bool succeeded() const { return std::holds_alternative<LANSledUploadResponse>(result); }
    // Null when the send failed.
    const LANSledUploadResponse* response() const { return std::get_if<LANSledUploadResponse>(&result); }
    // Null when the send succeeded.
    std::exception_ptr error() const;
};

// How the client talks to peers. Each time limit is both the time a connection may take to open
// (at most `maximumConnectTime`) and the time the exchange may go without a byte moving; an
// upload that keeps moving is never cut off, however long it takes.
struct LANSledClientSession {
    std::chrono::seconds probeTimeLimit{6};
    std::chrono::seconds uploadTimeLimit{300};
    std::chrono::seconds clipboardTimeLimit{60};
    // A peer on the local network that has not accepted a connection by then is not there.
    std::chrono::seconds maximumConnectTime{10};
    // Probes and clipboard sends are small: past these the whole exchange fails, however steadily
    // a peer drips its answer. Uploads have no such limit.
    std::chrono::seconds probeDeadline{15};
    std::chrono::seconds clipboardDeadline{120};
    // After the last byte of an upload's body, the peer hashes, writes and syncs the file before
    // it answers: generous, but bounded, so a peer that never quite answers cannot hold a send.
    std::chrono::milliseconds uploadAnswerDeadline{std::chrono::seconds(120)};
    // Replies are small JSON objects; anything longer is not a reply of a peer.
    std::size_t maximumReplyBytes = 65'536;
};

// The side of the LAN protocol that talks to another instance's server. Holds no mutable state:
// every operation may run on any thread, at the same time as the others. Operations block, throw
// SledError (or a file-system error when a local file cannot be read), and throw
// VornTaskCancelled when their stop token asks them to stop. Requests never go through a proxy.
class LANSledClient {
public:
    static constexpr int maximumParallelUploads = 8;

    explicit LANSledClient(LANSledClientSession session = {});

    const LANSledClientSession& session() const { return session_; }

    // Asks host:port for its info object. The peer is marked manual; its "port" field is not used.
    LANPeerInfo probePeer(std::string_view host, std::uint16_t port, std::stop_token stopToken = {}) const;

    // Hashes the file, streams it to the peer with the digest, and checks what the peer answers.
    // remoteVerified is true only when the peer echoes our digest and a byte count equal to the
    // file's size (and does not say "verified": false); a claim alone proves nothing. An echoed
    // digest that differs throws checksumMismatch; a count that is not an integer in 0…2^63−1 or
    // differs from the size throws connectionFailed, as does a peer that has not answered in full
    // within uploadAnswerDeadline of the body's end (saying the file may have arrived all the
    // same). A PIN is sent only when present and not empty.
    LANSledUploadResponse sendFile(const std::filesystem::path& localURL, const LANPeerInfo& to,
                                   std::string_view senderName, const std::optional<std::string>& pin,
                                   std::stop_token stopToken = {}) const;

    // Sends the files with at most maxConcurrency (held to 1...8) uploads at once, started in the
    // order given. Returns one outcome per file in the order the sends finished. Never throws: a
    // stop request makes every unfinished send end with VornTaskCancelled in its outcome.
    std::vector<LANSledSendOutcome> sendFilesInParallel(const std::vector<std::filesystem::path>& localURLs,
                                                        const LANPeerInfo& to, std::string_view senderName,
                                                        const std::optional<std::string>& pin, int maxConcurrency,
                                                        std::stop_token stopToken = {}) const noexcept;

    // Sends clipboard text; returns the lower-case hex SHA-256 of its UTF-8 bytes. Text that is
    // not valid UTF-8 cannot be sent as JSON and throws std::invalid_argument.
    std::string sendClipboard(std::string_view text, const LANPeerInfo& to, std::string_view senderName,
                              const std::optional<std::string>& pin, std::stop_token stopToken = {}) const;

private:
    LANSledClientSession session_;
};
