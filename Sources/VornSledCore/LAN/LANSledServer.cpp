#include "LANSledServer.h"

#include "LANBonjourAdvertiser.h"
#include "LANNetworkHelpers.h"
#include "LANProtocol.h"
#include "LANRequestHead.h"
#include "LANUploadWriter.h"
#include "LANWebPortalHTML.h"
#include "SledPathInside.h"
#include "SledTemporaryFileName.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornJSON.h"
#include "VornUUID.h"
#include "VornUnicode.h"
#include "VornUniqueFd.h"

#include <asio.hpp>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string systemErrorText(int error) { return std::generic_category().message(error); }

// An upload is received into ".<UUID>.<holder>" + this, beside the files it joins.
constexpr std::string_view temporaryUploadSuffix = ".vornsled.tmp";

// Uploads cut off when the process receiving them ended (killed, say) would stay hidden in the
// receive folder for ever: at each start, those whose receiver has surely ended go. Uploads still
// being received (by another instance on the same folder, in a sandbox or on another machine
// sharing it) stay, as does any other name.
void removeUploadsOfEndedProcesses(const std::filesystem::path& folder) {
    const VornUniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory) {
        return;
    }
    constexpr std::size_t uuidLength = 36;
    std::error_code status;
    for (std::filesystem::directory_iterator entry(folder, status), end; !status && entry != end;
         entry.increment(status)) {
        const std::string name = entry->path().filename().string();
        if (name.size() <= 2 + uuidLength + temporaryUploadSuffix.size() || name[0] != '.' ||
            name[1 + uuidLength] != '.' || !name.ends_with(temporaryUploadSuffix) ||
            !VornUUID::fromString(name.substr(1, uuidLength))) {
            continue;
        }
        const std::string_view holder = std::string_view(name).substr(
            2 + uuidLength, name.size() - 2 - uuidLength - temporaryUploadSuffix.size());
        if (sledHeldFileHasEnded(directory.get(), name, holder)) {
            ::unlinkat(directory.get(), name.c_str(), 0);
        }
    }
}

// Moves `from` to `to` only if nothing is at `to`; EEXIST when something is.
int moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: a hard link refuses an existing name just as well.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno;
    }
    ::unlink(from.c_str());
    return 0;
}

std::string addressText(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    }
    return address.to_string();
}

// A peer that has guessed a PIN wrong is held to one PIN at a time until it has guessed nothing
// wrong for this long.
constexpr auto pinPeerMemory = std::chrono::minutes(15);
constexpr std::size_t maximumTrackedPeers = 4096;

}  // namespace

namespace detail {
class Connection;
}
using detail::Connection;

// What the PIN gate knows of one peer that has guessed wrong.
struct PINPeer {
    int wrong = 0;
    Clock::time_point lastWrong;
    // Its next PIN is judged no earlier than this.
    Clock::time_point nextJudgement;
    // Requests that reached the gate while another of its PINs was being judged or waited for.
    std::deque<std::shared_ptr<Connection>> waiting;
    // One of them has been handed its turn and has not come back yet.
    bool turnHandedOut = false;
    // Hands the next waiting request its turn once nextJudgement comes.
    std::shared_ptr<asio::steady_timer> release;
    bool releasePending = false;
};

// What the PIN gate decided for one request.
struct PINVerdict {
    enum class Kind { accept, refuseAfterWait, waitForTurn } kind = Kind::accept;
    std::chrono::milliseconds wait{0};
};

struct LANSledServer::Impl {
    LANSledServer& owner;
    const LANServerLimits limits;
    std::atomic<int> openConnections{0};
    std::atomic<bool> shuttingDown{false};
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work;
    std::vector<std::thread> threads;

    // Guarded by `lock`, which is only ever held to copy values in or out.
    std::mutex lock;
    std::string deviceName;
    std::filesystem::path downloadDirectory;
    bool requirePIN = false;
    std::string pin;
    std::map<std::string, LANSharedFileItem> sharedFiles;
    std::string latestOutgoingClipboard;
    std::optional<LANServerCallbacks> callbacks;
    std::shared_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<LANBonjourAdvertiser> advertiser;
    // Open connections per peer (LANNetworkHelpers::peerGroup).
    std::map<std::string, int> connectionsPerPeer;
    std::list<std::weak_ptr<Connection>> connections;
    // The names a request's Host may give besides address literals and "localhost".
    std::vector<std::string> machineNames;
    // When each wrong PIN of the last pinWrongMemory was judged, oldest first.
    std::deque<Clock::time_point> recentWrongPINs;
    std::map<std::string, PINPeer> pinPeers;

    Impl(LANSledServer& server, LANServerLimits serverLimits)
        : owner(server), limits(serverLimits), work(asio::make_work_guard(io)) {
        const int count = std::max(2, limits.workerThreads);
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this] { io.run(); });
        }
    }

    std::vector<std::string> acceptedMachineNames() {
        const std::lock_guard guard(lock);
        return machineNames;
    }

    void accept(const std::shared_ptr<tcp::acceptor>& listening);
    void closeAcceptor();
    void shutdown();

    // Judges a presented PIN for `peer`, or makes the request wait for its peer's turn (then the
    // gate hands `connection` its turn later through resumePINCheck). `turn` says the request
    // comes back with the turn it was handed.
    PINVerdict judgePIN(const std::string& peer, bool accepted, const std::shared_ptr<Connection>& connection,
                        bool turn);
    // Wakes the next waiting request of `peer` when its time comes.
    void scheduleRelease(const std::string& peer, PINPeer& state, Clock::time_point now);
    // Room for one more penalised peer: the longest-quiet peer with nothing in progress goes.
    void forgetQuietPINPeer(Clock::time_point now);

    // Under `lock`: whether `peer` may open one more connection; counts it when so.
    bool admitConnection(const std::string& peer) {
        int& open = connectionsPerPeer[peer];
        if (open >= limits.maximumConnectionsPerPeer) {
            if (open == 0) {
                connectionsPerPeer.erase(peer);
            }
            return false;
        }
        open += 1;
        return true;
    }

    void connectionClosed(const std::string& peer) {
        const std::lock_guard guard(lock);
        if (const auto found = connectionsPerPeer.find(peer); found != connectionsPerPeer.end() && --found->second <= 0) {
            connectionsPerPeer.erase(found);
        }
    }
};

namespace detail {

// One accepted connection: one request, one answer. Every handler of a connection runs on its
// strand and starts the next operation itself, so its state is never touched twice at once.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    // `peer` has been counted in the server's connectionsPerPeer; the connection gives it back.
    Connection(LANSledServer::Impl& server, tcp::socket socket, std::string peer)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()), peer_(std::move(peer)) {}

    ~Connection() {
        discardTemporaryFile();
        server_.connectionClosed(peer_);
        server_.openConnections.fetch_sub(1);
    }

    void start() {
        armTimer(server_.limits.headTimeout);
        readHead();
    }

    // Ends the connection at once, without an answer; an unfinished upload leaves nothing.
    void abort() {
        // The temporary file goes before the peer can see the connection end.
        discardTemporaryFile();
        timer_.cancel();
        std::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }

    void abortFromOutside() {
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->abort(); });
    }

    // The PIN gate hands a waiting request its turn.
    void resumePINCheck() {
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->passPINGate(true); });
    }

private:
    // --- timers -------------------------------------------------------------------------------

    // The deadline closes the socket, which ends whatever read is pending with an error.
    void armTimer(std::chrono::milliseconds timeout) {
        timer_.expires_after(timeout);
        timer_.async_wait([self = shared_from_this()](const std::error_code& error) {
            if (!error) {
                self->abort();
            }
        });
    }

    // --- request head ---------------------------------------------------------------------------

    void readHead() {
        readBuffer_.resize(LANProtocol::headReceiveBytes);
        socket_.async_read_some(asio::buffer(readBuffer_),
                                [self = shared_from_this()](const std::error_code& error, std::size_t count) {
                                    self->headReceived(error, count);
                                });
    }

    void headReceived(const std::error_code& error, std::size_t count) {
        if (error || server_.shuttingDown.load()) {
            // A read error, a peer that finished before a complete head, or a server going away.
            abort();
            return;
        }
        const std::size_t searchFrom = head_.size() > 3 ? head_.size() - 3 : 0;
        head_.append(readBuffer_.data(), count);
        const std::size_t end = head_.find("\r\n\r\n", searchFrom);
        if (end != std::string::npos && end <= LANProtocol::maximumHeadBytes) {
            timer_.cancel();
            std::string body = head_.substr(end + 4);
            head_.resize(end);
            dispatch(std::move(body));
            return;
        }
        if (head_.size() > LANProtocol::maximumHeadBytes) {
            respond(LANProtocol::errorResponse(LANProtocol::statusHeaderTooLarge, "Header too large"));
            return;
        }
        readHead();
    }

    // --- dispatch -------------------------------------------------------------------------------

    void dispatch(std::string initialBody) {
        std::optional<LANRequestHead> parsed = LANRequestHead::parse(head_);
        head_.clear();
        head_.shrink_to_fit();
        if (!parsed) {
            abort();
            return;
        }
        request_ = std::move(*parsed);
        initialBody_ = std::move(initialBody);

        // A page whose own name was re-pointed at this machine would otherwise be same-origin with
        // us: only names no outsider can point here are answered. A request without a Host field
        // cannot come from a browser.
        if (const std::optional<std::string> host = request_.header("host");
            host && !LANNetworkHelpers::hostNamesThisMachine(*host, server_.acceptedMachineNames())) {
            respond(LANProtocol::errorResponse(LANProtocol::statusForbidden, LANProtocol::unknownHostText));
            return;
        }
        if (!LANProtocol::originMatchesHost(request_.header("origin"), request_.header("host"))) {
            respond(LANProtocol::errorResponse(LANProtocol::statusForbidden, "Forbidden"));
            return;
        }
        route_ = LANProtocol::resolveRoute(request_.method, request_.path, &token_);
        if (route_ == LANProtocol::Route::portal) {
            std::string name;
            bool requiresPIN = false;
            {
                const std::lock_guard guard(server_.lock);
                name = server_.deviceName;
                requiresPIN = server_.requirePIN;
            }
            respond(LANProtocol::response(LANProtocol::statusOK, LANProtocol::htmlType,
                                          LANWebPortalHTML::render(name, requiresPIN)));
            return;
        }
        if (route_ == LANProtocol::Route::info) {
            nlohmann::json info;
            {
                const std::lock_guard guard(server_.lock);
                info = {{"id", server_.owner.deviceID()},
                        {"deviceName", server_.deviceName},
                        {"platform", LANProtocol::platformName},
                        {"port", server_.owner.activePort()},
                        {"requiresPIN", server_.requirePIN},
                        {"protocolVersion", LANProtocol::protocolVersion}};
            }
            respond(LANProtocol::jsonResponse(LANProtocol::statusOK, info));
            return;
        }

        passPINGate(false);
    }

    // Only wrong answers wait, so someone else's guessing never holds up the right PIN; the wait
    // is counted by the gate, not by this connection, so leaving early gains a guesser nothing.
    // `turn`: the gate has handed this waiting request its turn. The PIN is read at the moment of
    // judging, so a request that waited is judged by the PIN of that moment.
    void passPINGate(bool turn) {
        if (server_.shuttingDown.load()) {
            abort();
            return;
        }
        bool requiresPIN = false;
        std::string expectedPIN;
        {
            const std::lock_guard guard(server_.lock);
            requiresPIN = server_.requirePIN;
            expectedPIN = server_.pin;
        }
        if (!requiresPIN && !turn) {
            afterPINGate(true);
            return;
        }
        const bool accepted = !requiresPIN || LANSledServer::constantTimeEquals(request_.presentedPIN(), expectedPIN);
        const PINVerdict verdict = server_.judgePIN(peer_, accepted, shared_from_this(), turn);
        switch (verdict.kind) {
        case PINVerdict::Kind::accept:
            afterPINGate(true);
            return;
        case PINVerdict::Kind::waitForTurn:
            return;
        case PINVerdict::Kind::refuseAfterWait:
            timer_.expires_after(verdict.wait);
            timer_.async_wait([self = shared_from_this()](const std::error_code& error) {
                if (error) {
                    self->abort();
                    return;
                }
                self->afterPINGate(false);
            });
            return;
        }
    }

    void afterPINGate(bool accepted) {
        if (!accepted) {
            respond(LANProtocol::errorResponse(LANProtocol::statusUnauthorized, "Invalid PIN"));
            return;
        }
        // Bodies are read by their announced length only; a chunked body would be stored with
        // its framing.
        if (const std::optional<std::string> encoding = request_.header("transfer-encoding");
            encoding && VornUnicode::lowercased(*encoding) != "identity") {
            respond(LANProtocol::errorResponse(LANProtocol::statusBadRequest, "Content-Length required"));
            return;
        }
        const std::int64_t bodyLength = request_.contentLength();
        switch (route_) {
        case LANProtocol::Route::upload:
            startUpload(bodyLength);
            return;
        case LANProtocol::Route::clipboardPost:
            readFixedBody(std::min(bodyLength, LANProtocol::maximumClipboardBytes));
            return;
        case LANProtocol::Route::clipboardGet: {
            std::string text;
            {
                const std::lock_guard guard(server_.lock);
                text = server_.latestOutgoingClipboard;
            }
            respond(LANProtocol::jsonResponse(LANProtocol::statusOK, nlohmann::json{{"text", text}}));
            return;
        }
        case LANProtocol::Route::shares:
            answerShares();
            return;
        case LANProtocol::Route::download:
            startDownload();
            return;
        default:
            respond(LANProtocol::errorResponse(LANProtocol::statusNotFound, "Endpoint not found"));
            return;
        }
    }

    // --- answering ------------------------------------------------------------------------------

    // Sends the whole answer, then closes gracefully: our side stops sending, whatever the peer
    // still sends is read and dropped for a bounded time, then the socket closes. Closing with
    // unread bytes would make the kernel reset the connection, and the peer could lose the answer.
    void respond(std::string message) {
        outgoing_ = std::move(message);
        writeThen(asio::buffer(outgoing_), &Connection::closeGracefully);
    }

    // Sends the bytes (which must outlive the write), then goes on with `next`; a peer that stops
    // reading for the body time-out, or a send error, ends the connection.
    void writeThen(asio::const_buffer bytes, void (Connection::*next)()) {
        armTimer(server_.limits.bodyIdleTimeout);
        asio::async_write(socket_, bytes, [self = shared_from_this(), next](const std::error_code& error, std::size_t) {
            if (error) {
                self->abort();
                return;
            }
            ((*self).*next)();
        });
    }

    void closeGracefully() {
        outgoing_.clear();
        discardTemporaryFile();
        std::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        armTimer(server_.limits.lingerTimeout);
        drain();
    }

    void drain() {
        readBuffer_.resize(LANProtocol::headReceiveBytes);
        socket_.async_read_some(asio::buffer(readBuffer_), [self = shared_from_this()](const std::error_code& error,
                                                                                      std::size_t) {
            if (error) {
                self->abort();
                return;
            }
            self->drain();
        });
    }

    void respondError(std::string_view status, std::string_view message) {
        discardTemporaryFile();
        respond(LANProtocol::errorResponse(status, message));
    }

    // --- upload ---------------------------------------------------------------------------------

    void startUpload(std::int64_t bodyLength) {
        const std::optional<std::string> sentName = request_.header("x-vornsled-filename");
        fileName_ = LANNetworkHelpers::sanitizeIncomingFileName(
            lanPercentDecodedOrSelf(sentName.value_or(std::string(LANProtocol::defaultUploadFileName))));
        const std::optional<std::string> sentSender = request_.header("x-vornsled-sender");
        sender_ = sentSender ? lanPercentDecodedOrSelf(*sentSender) : std::string(LANProtocol::defaultSenderName);
        if (const std::optional<std::string> digest = request_.header("x-vornsled-sha256")) {
            std::string cleaned = VornUnicode::lowercased(VornUnicode::trimmed(*digest));
            if (!cleaned.empty()) {
                expectedDigest_ = std::move(cleaned);
            }
        }
        expectedBytes_ = bodyLength;
        {
            const std::lock_guard guard(server_.lock);
            destination_ = server_.downloadDirectory;
        }

        std::error_code error;
        std::filesystem::create_directories(destination_, error);
        if (error) {
            respondError(LANProtocol::statusServerError, error.message());
            return;
        }
        // Held while it is received, so that a later start (of any instance sharing the folder)
        // can tell a left-over one from one in use.
        const std::string temporaryName =
            "." + VornUUID::random().uuidString() + ".lock" + std::string(temporaryUploadSuffix);
        try {
            SledHeldFile held = sledCreateHeldFile(destination_ / temporaryName, 0666);
            tempPath_ = std::move(held.path);
            tempHolder_ = std::move(held.holder);
        } catch (const std::filesystem::filesystem_error& failure) {
            respondError(LANProtocol::statusServerError, systemErrorText(failure.code().value()));
            return;
        }
        tempFile_.reset(::fcntl(tempHolder_.get(), F_DUPFD_CLOEXEC, 0));
        if (!tempFile_) {
            respondError(LANProtocol::statusServerError, systemErrorText(errno));
            return;
        }
        std::weak_ptr<Connection> weak = weak_from_this();
        writer_ = std::make_unique<LANUploadWriter>(tempFile_.get(), [weak](LANUploadWriter::Chunk chunk, int error) {
            if (const std::shared_ptr<Connection> self = weak.lock()) {
                asio::post(self->socket_.get_executor(), [self, chunk = std::move(chunk), error]() mutable {
                    self->chunkWritten(std::move(chunk), error);
                });
            }
        });

        if (!initialBody_.empty() && expectedBytes_ >= 1) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::int64_t>(expectedBytes_, static_cast<std::int64_t>(initialBody_.size())));
            LANUploadWriter::Chunk chunk = LANUploadWriter::Chunk::make(take);
            std::memcpy(chunk.bytes.get(), initialBody_.data(), take);
            chunk.size = take;
            chunksMade_ += 1;
            hashAndWrite(std::move(chunk));
        }
        const bool bodyStarted = !initialBody_.empty();
        initialBody_.clear();
        initialBody_.shrink_to_fit();
        if (receivedBytes_ < expectedBytes_) {
            continueAfterInterim(bodyStarted, &Connection::continueUpload);
        } else {
            finishBody();
        }
    }

    // A client that asked to be told before it sends the body (Expect: 100-continue) has passed
    // every check of its head by now: it hears "100 Continue" at once instead of waiting out its
    // own timer, and a refused request never got this far, so its body is never sent.
    void continueAfterInterim(bool bodyStarted, void (Connection::*next)()) {
        const std::optional<std::string> expect = request_.header("expect");
        if (bodyStarted || !expect || VornUnicode::lowercased(VornUnicode::trimmed(*expect)) != "100-continue") {
            ((*this).*next)();
            return;
        }
        constexpr std::string_view interim = LANProtocol::continueInterimResponse;
        writeThen(asio::buffer(interim.data(), interim.size()), next);
    }

    // Receives into a free chunk while others are on their way to the disk; with none free, the
    // next read waits until the writer hands one back.
    void continueUpload() {
        if (spareChunks_.empty()) {
            if (chunksMade_ >= LANProtocol::uploadChunksInFlight) {
                awaitingChunk_ = true;
                return;
            }
            spareChunks_.push_back(LANUploadWriter::Chunk::make(LANProtocol::uploadReceiveBytes));
            chunksMade_ += 1;
        }
        receiving_ = std::move(spareChunks_.back());
        spareChunks_.pop_back();
        const std::int64_t missing = std::max<std::int64_t>(expectedBytes_ - receivedBytes_, 1);
        const std::size_t ask =
            static_cast<std::size_t>(std::min<std::int64_t>(missing, static_cast<std::int64_t>(receiving_.capacity)));
        armTimer(server_.limits.bodyIdleTimeout);
        socket_.async_read_some(asio::buffer(receiving_.bytes.get(), ask),
                                [self = shared_from_this()](const std::error_code& error, std::size_t count) {
                                    self->uploadReceived(error, count);
                                });
    }

    void uploadReceived(const std::error_code& error, std::size_t count) {
        const bool finished = error == asio::error::eof;
        if ((error && !finished) || server_.shuttingDown.load() || !writer_) {
            abort();  // the temporary file goes with the connection
            return;
        }
        LANUploadWriter::Chunk chunk = std::move(receiving_);
        chunk.size =
            static_cast<std::size_t>(std::min<std::int64_t>(expectedBytes_ - receivedBytes_, static_cast<std::int64_t>(count)));
        if (chunk.size > 0) {
            hashAndWrite(std::move(chunk));
        } else {
            spareChunks_.push_back(std::move(chunk));
        }
        if (receivedBytes_ >= expectedBytes_ || finished) {
            timer_.cancel();
            finishBody();
        } else {
            continueUpload();
        }
    }

    void hashAndWrite(LANUploadWriter::Chunk chunk) {
        hasher_.update(std::string_view(chunk.bytes.get(), chunk.size));
        receivedBytes_ += static_cast<std::int64_t>(chunk.size);
        writer_->submit(std::move(chunk));
    }

    // Runs on the strand when the writer has written a chunk.
    void chunkWritten(LANUploadWriter::Chunk chunk, int error) {
        if (!writer_ || finishing_) {
            return;  // the upload has ended already
        }
        if (error != 0) {
            respondError(LANProtocol::statusServerError, "Disk write failed");
            return;
        }
        // The chunk that carried the start of the body is only as large as that start.
        if (chunk.capacity < LANProtocol::uploadReceiveBytes) {
            chunksMade_ -= 1;
        } else {
            chunk.size = 0;
            spareChunks_.push_back(std::move(chunk));
        }
        if (awaitingChunk_) {
            awaitingChunk_ = false;
            continueUpload();
        }
    }

    // The body is complete (or the peer stopped sending): the writer finishes the file and makes
    // it durable off the strand, then the upload is judged.
    void finishBody() {
        finishing_ = true;
        spareChunks_.clear();
        // Nothing else may be pending now, so the writer keeps the connection alive until its answer.
        writer_->finish([self = shared_from_this()](int error) {
            asio::post(self->socket_.get_executor(), [self, error] { self->finalizeUpload(error); });
        });
    }

    void finalizeUpload(int diskError) {
        if (!writer_) {
            return;  // aborted while the file was being finished
        }
        writer_.reset();
        tempFile_.reset();
        if (expectedBytes_ > 0 && receivedBytes_ < expectedBytes_) {
            respondError(LANProtocol::statusBadRequest, "Incomplete upload: received " + std::to_string(receivedBytes_) +
                                                            " of " + std::to_string(expectedBytes_) + " bytes");
            return;
        }
        if (diskError != 0) {
            respondError(LANProtocol::statusServerError, "Disk write failed");
            return;
        }
        const std::string digest = hasher_.finalizeHex();
        if (expectedDigest_ && *expectedDigest_ != digest) {
            discardTemporaryFile();
            respond(LANProtocol::jsonResponse(LANProtocol::statusUnprocessable,
                                              nlohmann::json{{"error", "SHA-256 verification failed"},
                                                             {"expected", *expectedDigest_},
                                                             {"actual", digest}}));
            return;
        }

        // Another upload may take the chosen name at the same moment: the move never replaces,
        // and a taken name sends us on to the next free one.
        std::filesystem::path saved;
        int moveError = EEXIST;
        for (int attempt = 0; attempt < 10'000 && moveError == EEXIST; ++attempt) {
            saved = LANNetworkHelpers::uniqueSaveURL(destination_, fileName_);
            // Whatever the sender called the file, it lands as one name directly in the receive
            // folder, never beside it or below it.
            if (sledPathBelow(destination_.string(), saved.string()) != saved.filename().string() ||
                !sledIsOneComponent(saved.filename().string())) {
                discardTemporaryFile();
                respondError(LANProtocol::statusBadRequest,
                             sledOutsideChosenFolderText(saved.string(), destination_.string()));
                return;
            }
            moveError = moveWithoutReplacing(tempPath_, saved);
        }
        if (moveError != 0) {
            respondError(LANProtocol::statusServerError, systemErrorText(moveError));
            return;
        }
        tempPath_.clear();
        tempHolder_.reset();

        LANReceivedFileItem item;
        item.id = VornUUID::random();
        item.fileName = saved.filename().string();
        item.savedPath = saved.string();
        item.sizeBytes = receivedBytes_;
        item.senderName = sender_;
        item.sha256Hex = digest;
        item.verifiedMatch = expectedDigest_.has_value();
        item.receivedAt = vornDateNow();
        if (const std::optional<LANServerCallbacks> callbacks = currentCallbacks(); callbacks && callbacks->onFileReceived) {
            callbacks->onFileReceived(item);
        }
        respond(LANProtocol::jsonResponse(LANProtocol::statusOK, nlohmann::json{{"status", "ok"},
                                                                                 {"fileName", item.fileName},
                                                                                 {"bytes", item.sizeBytes},
                                                                                 {"sha256", digest},
                                                                                 {"verified", item.verifiedMatch}}));
    }

    void discardTemporaryFile() {
        // The writer goes first: it may be writing to the descriptor.
        writer_.reset();
        tempFile_.reset();
        if (!tempPath_.empty()) {
            ::unlink(tempPath_.c_str());
            tempPath_.clear();
        }
        tempHolder_.reset();
    }

    std::optional<LANServerCallbacks> currentCallbacks() {
        const std::lock_guard guard(server_.lock);
        return server_.callbacks;
    }

    // --- clipboard ------------------------------------------------------------------------------

    void readFixedBody(std::int64_t expected) {
        fixedExpected_ = static_cast<std::size_t>(expected);
        body_ = std::move(initialBody_);
        if (body_.size() >= fixedExpected_) {
            continueFixedBody();
            return;
        }
        continueAfterInterim(!body_.empty(), &Connection::continueFixedBody);
    }

    void continueFixedBody() {
        if (body_.size() >= fixedExpected_) {
            body_.resize(fixedExpected_);
            handleClipboard();
            return;
        }
        readBuffer_.resize(LANProtocol::clipboardReceiveBytes);
        const std::size_t ask = std::min(fixedExpected_ - body_.size(), LANProtocol::clipboardReceiveBytes);
        armTimer(server_.limits.bodyIdleTimeout);
        socket_.async_read_some(asio::buffer(readBuffer_.data(), ask),
                                [self = shared_from_this()](const std::error_code& error, std::size_t count) {
                                    const bool finished = error == asio::error::eof;
                                    if ((error && !finished) || self->server_.shuttingDown.load()) {
                                        self->abort();
                                        return;
                                    }
                                    self->timer_.cancel();
                                    self->body_.append(self->readBuffer_.data(), count);
                                    if (finished) {
                                        self->handleClipboard();
                                    } else {
                                        self->continueFixedBody();
                                    }
                                });
    }

    void handleClipboard() {
        const nlohmann::json payload = vornJSONParseOrDiscarded(body_, body_.size());
        body_.clear();
        if (!payload.is_object() || !payload.contains("text") || !payload["text"].is_string()) {
            respond(LANProtocol::errorResponse(LANProtocol::statusBadRequest, "Invalid JSON clipboard payload"));
            return;
        }
        LANClipboardMessage message;
        message.id = VornUUID::random();
        message.text = payload["text"].get<std::string>();
        const auto sender = payload.find("sender");
        message.senderName = sender != payload.end() && sender->is_string() ? sender->get<std::string>()
                                                                             : std::string(LANProtocol::defaultSenderName);
        message.sha256Hex = VornSHA256::hexDigest(message.text);
        message.receivedAt = vornDateNow();
        message.isOutgoing = false;
        if (const std::optional<LANServerCallbacks> callbacks = currentCallbacks();
            callbacks && callbacks->onClipboardReceived) {
            callbacks->onClipboardReceived(message);
        }
        respond(LANProtocol::jsonResponse(LANProtocol::statusOK,
                                          nlohmann::json{{"status", "ok"}, {"sha256", message.sha256Hex}}));
    }

    // --- shares and downloads -------------------------------------------------------------------

    void answerShares() {
        std::vector<LANSharedFileItem> items;
        {
            const std::lock_guard guard(server_.lock);
            items.reserve(server_.sharedFiles.size());
            for (const auto& entry : server_.sharedFiles) {
                items.push_back(entry.second);
            }
        }
        std::stable_sort(items.begin(), items.end(),
                         [](const LANSharedFileItem& a, const LANSharedFileItem& b) { return a.fileName < b.fileName; });
        nlohmann::json list = nlohmann::json::array();
        for (const LANSharedFileItem& item : items) {
            list.push_back({{"id", item.id},
                            {"fileName", item.fileName},
                            {"filePath", item.filePath},
                            {"sizeBytes", item.sizeBytes},
                            {"sha256Hex", item.sha256Hex}});
        }
        std::string text;
        try {
            text = list.dump();
        } catch (const nlohmann::json::exception&) {
            respond(LANProtocol::errorResponse(LANProtocol::statusServerError, "Encoding failed"));
            return;
        }
        respond(LANProtocol::response(LANProtocol::statusOK, "application/json", text));
    }

    void startDownload() {
        std::optional<LANSharedFileItem> item;
        {
            const std::lock_guard guard(server_.lock);
            if (const auto found = server_.sharedFiles.find(token_); found != server_.sharedFiles.end()) {
                item = found->second;
            }
        }
        if (item) {
            downloadFile_.reset(::open(item->filePath.c_str(), O_RDONLY | O_CLOEXEC));
        }
        struct stat info {};
        // The announced length is the recorded size: a file that changed since it was shared
        // would make us send other bytes than announced, so it counts as gone.
        if (!item || !downloadFile_ || ::fstat(downloadFile_.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_size != item->sizeBytes) {
            respond(LANProtocol::errorResponse(LANProtocol::statusNotFound, "Shared file not found"));
            return;
        }
        downloadRemaining_ = item->sizeBytes;
        outgoing_ = LANProtocol::downloadHead(item->fileName, item->sizeBytes, item->sha256Hex);
        writeThen(asio::buffer(outgoing_), &Connection::sendNextChunk);
    }

    // The kernel sends the file from the page cache, a piece per turn so that one fast client
    // cannot hold a worker thread; a full socket waits for room (under the body idle limit).
    void sendNextChunk() {
        if (server_.shuttingDown.load()) {
            abort();
            return;
        }
        if (downloadRemaining_ == 0) {
            downloadFile_.reset();
            closeGracefully();
            return;
        }
        std::error_code error;
        socket_.native_non_blocking(true, error);
        off_t offset = static_cast<off_t>(downloadOffset_);
        const std::size_t ask = static_cast<std::size_t>(
            std::min<std::int64_t>(downloadRemaining_, static_cast<std::int64_t>(LANProtocol::downloadChunkBytes)));
        const ssize_t count = error ? -1 : ::sendfile(socket_.native_handle(), downloadFile_.get(), &offset, ask);
        if (count > 0) {
            downloadOffset_ += count;
            downloadRemaining_ -= count;
        } else if (count == 0 || error || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            // The file shrank or failed under us, or the peer left: it sees a short body, never other bytes.
            abort();
            return;
        }
        armTimer(server_.limits.bodyIdleTimeout);
        socket_.async_wait(tcp::socket::wait_write, [self = shared_from_this()](const std::error_code& waitError) {
            if (waitError) {
                self->abort();
                return;
            }
            self->sendNextChunk();
        });
    }

    LANSledServer::Impl& server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    const std::string peer_;
    std::vector<char> readBuffer_;
    std::string head_;
    std::string initialBody_;
    std::string outgoing_;
    LANRequestHead request_;
    LANProtocol::Route route_ = LANProtocol::Route::notFound;
    std::string token_;

    // Upload state.
    std::filesystem::path destination_;
    std::filesystem::path tempPath_;
    // The received file's lock, held from its making until it has its final name or is gone.
    VornUniqueFd tempHolder_;
    VornUniqueFd tempFile_;
    VornSHA256 hasher_;
    std::int64_t receivedBytes_ = 0;
    std::int64_t expectedBytes_ = 0;
    std::string fileName_;
    std::string sender_;
    std::optional<std::string> expectedDigest_;
    std::unique_ptr<LANUploadWriter> writer_;
    LANUploadWriter::Chunk receiving_;
    std::vector<LANUploadWriter::Chunk> spareChunks_;
    std::size_t chunksMade_ = 0;
    bool awaitingChunk_ = false;
    bool finishing_ = false;

    // Clipboard body.
    std::string body_;
    std::size_t fixedExpected_ = 0;

    // Download state.
    VornUniqueFd downloadFile_;
    std::int64_t downloadRemaining_ = 0;
    off_t downloadOffset_ = 0;
};

}  // namespace detail

void LANSledServer::Impl::accept(const std::shared_ptr<tcp::acceptor>& listening) {
    listening->async_accept(asio::make_strand(io), [this, listening](const std::error_code& error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !listening->is_open() || shuttingDown.load()) {
            return;
        }
        if (error) {
            // Out of descriptors or a similar hiccup: try again shortly instead of spinning.
            auto pause = std::make_shared<asio::steady_timer>(listening->get_executor(), std::chrono::milliseconds(50));
            pause->async_wait([this, listening, pause](const std::error_code&) {
                if (listening->is_open()) {
                    accept(listening);
                }
            });
            return;
        }
        // Beyond the global cap, or beyond its peer's share of it, a connection is closed at once.
        std::error_code addressError;
        const tcp::endpoint remote = socket.remote_endpoint(addressError);
        std::string peer;
        bool admitted = false;
        if (!addressError) {
            peer = LANNetworkHelpers::peerGroup(addressText(remote.address()));
            if (openConnections.fetch_add(1) < limits.maximumConnections) {
                const std::lock_guard guard(lock);
                admitted = admitConnection(peer);
            }
            if (!admitted) {
                openConnections.fetch_sub(1);
            }
        }
        if (!admitted) {
            std::error_code ignored;
            socket.close(ignored);
        } else {
            auto connection = std::make_shared<Connection>(*this, std::move(socket), peer);
            bool registered = false;
            {
                // Shutdown raises its flag before it takes the list under this lock, so a
                // connection either lands in the list it aborts or sees the flag here.
                const std::lock_guard guard(lock);
                if (!shuttingDown.load()) {
                    std::erase_if(connections, [](const std::weak_ptr<Connection>& weak) { return weak.expired(); });
                    connections.push_back(connection);
                    registered = true;
                }
            }
            if (registered) {
                connection->start();
            } else {
                connection->abort();
            }
        }
        accept(listening);
    });
}

void LANSledServer::Impl::closeAcceptor() {
    std::shared_ptr<tcp::acceptor> listening;
    std::unique_ptr<LANBonjourAdvertiser> advertisement;
    {
        const std::lock_guard guard(lock);
        listening = std::move(acceptor);
        advertisement = std::move(advertiser);
    }
    advertisement.reset();
    if (!listening) {
        return;
    }
    // The acceptor belongs to its strand; close it there and wait, so the port is free on return.
    std::promise<void> closed;
    asio::post(listening->get_executor(), [&closed, listening] {
        std::error_code ignored;
        listening->close(ignored);
        closed.set_value();
    });
    closed.get_future().wait();
}

void LANSledServer::Impl::shutdown() {
    shuttingDown.store(true);
    closeAcceptor();
    std::list<std::weak_ptr<Connection>> live;
    {
        const std::lock_guard guard(lock);
        live.swap(connections);
    }
    for (const std::weak_ptr<Connection>& weak : live) {
        if (const std::shared_ptr<Connection> connection = weak.lock()) {
            connection->abortFromOutside();
        }
    }
    {
        const std::lock_guard guard(lock);
        for (auto& entry : pinPeers) {
            if (entry.second.release) {
                entry.second.release->cancel();
            }
        }
    }
    work.reset();
    for (std::thread& thread : threads) {
        thread.join();
    }
    // Requests still waiting for their turn end here, outside the lock their ending takes.
    std::map<std::string, PINPeer> waiting;
    {
        const std::lock_guard guard(lock);
        waiting.swap(pinPeers);
    }
}

PINVerdict LANSledServer::Impl::judgePIN(const std::string& peer, bool accepted,
                                         const std::shared_ptr<Connection>& connection, bool turn) {
    const std::lock_guard guard(lock);
    const Clock::time_point now = Clock::now();
    while (!recentWrongPINs.empty() && now - recentWrongPINs.front() > limits.pinWrongMemory) {
        recentWrongPINs.pop_front();
    }
    auto found = pinPeers.find(peer);
    if (found != pinPeers.end()) {
        PINPeer& state = found->second;
        if (turn) {
            state.turnHandedOut = false;
        }
        const bool penalised = state.wrong > 0 && now - state.lastWrong <= pinPeerMemory;
        if (penalised && !turn && (state.turnHandedOut || !state.waiting.empty() || now < state.nextJudgement)) {
            state.waiting.push_back(connection);
            scheduleRelease(peer, state, now);
            return {PINVerdict::Kind::waitForTurn, std::chrono::milliseconds(0)};
        }
        if (!penalised) {
            state.wrong = 0;
        }
    }
    if (accepted) {
        if (found != pinPeers.end()) {
            PINPeer& state = found->second;
            state.wrong = 0;
            state.nextJudgement = now;
            if (state.waiting.empty() && !state.turnHandedOut && !state.releasePending) {
                pinPeers.erase(found);
            } else {
                scheduleRelease(peer, state, now);
            }
        }
        return {PINVerdict::Kind::accept, std::chrono::milliseconds(0)};
    }

    recentWrongPINs.push_back(now);
    const auto wait = limits.pinWrongAnswerWait * static_cast<std::int64_t>(recentWrongPINs.size());
    if (found == pinPeers.end()) {
        if (pinPeers.size() >= maximumTrackedPeers) {
            forgetQuietPINPeer(now);
        }
        found = pinPeers.try_emplace(peer).first;
    }
    PINPeer& state = found->second;
    state.wrong += 1;
    state.lastWrong = now;
    state.nextJudgement = now + wait;
    scheduleRelease(peer, state, now);
    return {PINVerdict::Kind::refuseAfterWait, wait};
}

void LANSledServer::Impl::scheduleRelease(const std::string& peer, PINPeer& state, Clock::time_point now) {
    if (state.waiting.empty() || state.releasePending || state.turnHandedOut) {
        return;
    }
    if (!state.release) {
        state.release = std::make_shared<asio::steady_timer>(io);
    }
    state.releasePending = true;
    state.release->expires_at(std::max(now, state.nextJudgement));
    state.release->async_wait([this, peer, timer = state.release](const std::error_code& error) {
        if (error) {
            return;
        }
        std::shared_ptr<Connection> next;
        {
            const std::lock_guard guard(lock);
            const auto found = pinPeers.find(peer);
            if (found == pinPeers.end() || found->second.release != timer) {
                return;
            }
            PINPeer& state = found->second;
            state.releasePending = false;
            if (state.waiting.empty()) {
                return;
            }
            next = std::move(state.waiting.front());
            state.waiting.pop_front();
            state.turnHandedOut = true;
        }
        next->resumePINCheck();
    });
}

void LANSledServer::Impl::forgetQuietPINPeer(Clock::time_point now) {
    auto quietest = pinPeers.end();
    for (auto entry = pinPeers.begin(); entry != pinPeers.end(); ++entry) {
        const PINPeer& state = entry->second;
        if (!state.waiting.empty() || state.turnHandedOut || state.releasePending || state.nextJudgement > now) {
            continue;
        }
        if (quietest == pinPeers.end() || state.lastWrong < quietest->second.lastWrong) {
            quietest = entry;
        }
    }
    if (quietest != pinPeers.end()) {
        pinPeers.erase(quietest);
    }
}

LANSledServer::LANSledServer(std::string deviceName, std::filesystem::path downloadDirectory, bool requirePIN,
                             std::string pin, LANServerLimits limits) {
    deviceID_ = VornASCII::lowercased(VornUUID::random().uuidString().substr(0, 12));
    impl_ = std::make_unique<Impl>(*this, limits);
    impl_->deviceName = std::move(deviceName);
    impl_->downloadDirectory = std::move(downloadDirectory);
    impl_->requirePIN = requirePIN;
    impl_->pin = std::move(pin);
}

LANSledServer::~LANSledServer() {
    isRunning_.store(false);
    activePort_.store(0);
    impl_->shutdown();
}

void LANSledServer::updateConfiguration(std::string deviceName, std::filesystem::path downloadDirectory,
                                        bool requirePIN, std::string pin) {
    const std::lock_guard guard(impl_->lock);
    impl_->deviceName = std::move(deviceName);
    impl_->downloadDirectory = std::move(downloadDirectory);
    impl_->requirePIN = requirePIN;
    impl_->pin = std::move(pin);
}

void LANSledServer::setSharedFiles(const std::vector<LANSharedFileItem>& files) {
    std::map<std::string, LANSharedFileItem> byToken;
    for (const LANSharedFileItem& item : files) {
        byToken.insert_or_assign(item.id, item);
    }
    const std::lock_guard guard(impl_->lock);
    impl_->sharedFiles.swap(byToken);
}

void LANSledServer::setLatestOutgoingClipboard(std::string text) {
    const std::lock_guard guard(impl_->lock);
    impl_->latestOutgoingClipboard = std::move(text);
}

std::uint16_t LANSledServer::start(std::uint16_t port, bool advertiseBonjour, LANServerCallbacks callbacks) {
    stop();
    std::filesystem::path receiveFolder;
    {
        const std::lock_guard guard(impl_->lock);
        impl_->callbacks = std::move(callbacks);
        receiveFolder = impl_->downloadDirectory;
    }
    removeUploadsOfEndedProcesses(receiveFolder);
    refreshMachineNames();
    auto listening = std::make_shared<tcp::acceptor>(asio::make_strand(impl_->io));
    std::error_code error;
    // Both address families on one socket where the system has IPv6; IPv4 alone otherwise.
    listening->open(tcp::v6(), error);
    tcp::endpoint endpoint(tcp::v6(), port);
    if (!error) {
        listening->set_option(asio::ip::v6_only(false), error);
    }
    if (error) {
        std::error_code ignored;
        listening->close(ignored);
        listening->open(tcp::v4());
        endpoint = tcp::endpoint(tcp::v4(), port);
    }
    // SO_REUSEADDR lets a restart bind while old connections linger in TIME_WAIT; never
    // SO_REUSEPORT, which would let a second process share the port.
    listening->set_option(tcp::acceptor::reuse_address(true));
    listening->bind(endpoint);
    listening->listen(asio::socket_base::max_listen_connections);
    const std::uint16_t bound = listening->local_endpoint().port();

    std::unique_ptr<LANBonjourAdvertiser> advertisement;
    if (advertiseBonjour) {
        std::string name;
        bool requiresPIN = false;
        {
            const std::lock_guard guard(impl_->lock);
            name = impl_->deviceName;
            requiresPIN = impl_->requirePIN;
        }
        advertisement = std::make_unique<LANBonjourAdvertiser>(
            name, std::string(bonjourServiceType), bound, LANProtocol::bonjourTXTRecord(deviceID_, name, requiresPIN));
    }
    {
        const std::lock_guard guard(impl_->lock);
        impl_->acceptor = listening;
        impl_->advertiser = std::move(advertisement);
        activePort_.store(bound);
        isRunning_.store(true);
    }
    asio::post(listening->get_executor(), [impl = impl_.get(), listening] { impl->accept(listening); });
    return bound;
}

// The names that need no lookup hold at once; the resolver's canonical name joins them when its
// lookup ends, which may take a while on a network without an answer for it.
void LANSledServer::refreshMachineNames() {
    std::vector<std::string> quick = LANNetworkHelpers::currentMachineNames(false);
    {
        const std::lock_guard guard(impl_->lock);
        impl_->machineNames = std::move(quick);
    }
    asio::post(impl_->io, [impl = impl_.get()] {
        std::vector<std::string> names = LANNetworkHelpers::currentMachineNames(true);
        if (!names.empty()) {
            const std::lock_guard guard(impl->lock);
            impl->machineNames = std::move(names);
        }
    });
}

void LANSledServer::stop() {
    {
        const std::lock_guard guard(impl_->lock);
        isRunning_.store(false);
        activePort_.store(0);
    }
    impl_->closeAcceptor();
}

std::string LANSledServer::advertisedName() const {
    const std::lock_guard guard(impl_->lock);
    return impl_->advertiser ? impl_->advertiser->currentName() : std::string();
}

bool LANSledServer::constantTimeEquals(std::string_view presented, std::string_view expected) {
    const std::string left = VornSHA256::hexDigest(presented);
    const std::string right = VornSHA256::hexDigest(expected);
    volatile unsigned char difference = 0;
    for (std::size_t i = 0; i < left.size() && i < right.size(); ++i) {
        difference = static_cast<unsigned char>(difference | (left[i] ^ right[i]));
    }
    return difference == 0 && left.size() == right.size();
}
