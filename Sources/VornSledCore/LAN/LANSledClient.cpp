#include "LANSledClient.h"

#include "SledError.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornJSON.h"
#include "VornLocalizationStore.h"
#include "VornHTTPClient.h"
#include "VornTaskCancelled.h"
#include "VornURLComponents.h"
#include "VornUnicode.h"
#include "VornUniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t uploadErrorExcerptBytes = 300;
constexpr std::size_t clipboardErrorExcerptBytes = 200;

// Characters that stand for themselves in a URL path (RFC 3986 pchar plus "/").
constexpr std::string_view pathPunctuation = "-._~!$&'()*+,;=:@/";
// Characters that stand for themselves in a URL query.
constexpr std::string_view queryPunctuation = "-._~!$&'()*+,;=:@/?";

std::string percentEncoded(std::string_view text, std::string_view allowedPunctuation) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            allowedPunctuation.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

// The first `limit` bytes as UTF-8, each invalid or cut sequence replaced by U+FFFD.
std::string excerpt(std::string_view body, std::size_t limit) {
    std::string out;
    VornUnicode::forEachCodePoint(body.substr(0, limit),
                                  [&](const VornCodePoint& point) { VornUnicode::appendUTF8(out, point.value); });
    return out;
}

std::string endpoint(std::string_view host, std::uint16_t port) {
    return std::string(host) + ":" + std::to_string(port);
}

// The file to send, open from its hash to the end of its send, and its state when opened.
struct OpenedFile {
    VornUniqueFd fd;
    struct stat status {};
};

OpenedFile openToSend(const std::filesystem::path& path) {
    OpenedFile opened;
    // O_NONBLOCK keeps a FIFO from hanging the open; it changes nothing for regular files.
    opened.fd.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!opened.fd || ::fstat(opened.fd.get(), &opened.status) != 0) {
        throw std::filesystem::filesystem_error(vornText("Cannot open the file to send", "Gönderilecek dosya açılamıyor"),
                                                path, std::error_code(errno, std::system_category()));
    }
    if (!S_ISREG(opened.status.st_mode)) {
        throw std::filesystem::filesystem_error(vornText("Cannot send something that is not a regular file",
                                                         "Normal dosya olmayan bir şey gönderilemez"),
                                                path, std::make_error_code(std::errc::invalid_argument));
    }
    return opened;
}

// SHA-256 of exactly the bytes that are sent: the file's size when it was opened.
std::string fileSHA256(const OpenedFile& file, const std::filesystem::path& path, const std::stop_token& stopToken) {
    try {
        return VornChecksum::sha256(file.fd.get(), file.status.st_size, VornChecksum::defaultChunkSize, stopToken);
    } catch (const std::system_error& error) {
        throw std::filesystem::filesystem_error(vornText("Cannot read the file to send", "Gönderilecek dosya okunamıyor"),
                                                path, error.code());
    }
}

VornHTTPOptions optionsFor(const LANSledClientSession& session, std::chrono::seconds timeLimit,
                           std::chrono::seconds deadline = std::chrono::seconds(0)) {
    VornHTTPOptions options;
    options.connectTimeout = std::min(timeLimit, session.maximumConnectTime);
    options.idleTimeout = timeLimit;
    options.deadline = deadline;
    options.bypassProxy = true;
    return options;
}

// The peer's failures as the user reads them, in the language of the moment.
std::string malformedPeerInfo() {
    return vornText("Malformed peer info JSON", "Cihaz bilgisi bozuk JSON");
}
std::string noAnswerFrom(const std::string& where) {
    return vornText("Peer did not respond on " + where, "Cihaz " + where + " adresinde yanıt vermedi");
}
std::string invalidReplyFromPeer() {
    return vornText("Invalid response from LAN peer", "Yerel ağ cihazının yanıtı geçersiz");
}

// A failure to exchange with the peer becomes connectionFailed; a reply longer than any real
// reply counts as an invalid one. Problems with what we were asked to send pass through.
[[noreturn]] void rethrowExchangeFailure(const VornHTTPError& error, const std::string& invalidReplyText) {
    switch (error.kind()) {
    case VornHTTPError::Kind::connectionFailed:
    case VornHTTPError::Kind::timedOut:
    case VornHTTPError::Kind::transport:
        throw SledError::connectionFailed(error.what());
    case VornHTTPError::Kind::bodyTooLarge:
        throw SledError::connectionFailed(invalidReplyText);
    default:
        throw error;
    }
}

void addPIN(VornHTTPRequest& request, const std::optional<std::string>& pin) {
    if (pin && !pin->empty()) request.setHeader("X-VornSled-PIN", *pin);
}

}  // namespace

std::exception_ptr LANSledSendOutcome::error() const {
    const auto* failure = std::get_if<std::exception_ptr>(&result);
    return failure != nullptr ? *failure : nullptr;
}

LANSledClient::LANSledClient(LANSledClientSession session) : session_(session) {}

LANPeerInfo LANSledClient::probePeer(std::string_view host, std::uint16_t port, std::stop_token stopToken) const {
    const std::string where = endpoint(host, port);
    VornHTTPRequest request;
    request.method = "GET";
    request.url = "http://" + where + "/api/v1/info";
    // The host must come back out of the URL unchanged: "a/b", "a@b" or "a:1" would reach another
    // host or port. A colon belongs only inside a bracketed IPv6 literal.
    const auto url = VornURLComponents::parse(request.url);
    const bool strayColon = !host.starts_with('[') && host.find(':') != std::string_view::npos;
    if (host.empty() || strayColon || !url || url->host != host || url->port != port ||
        url->path() != "/api/v1/info") {
        throw SledError::connectionFailed(
            vornText("Invalid LAN peer address " + where, "Geçersiz yerel ağ cihazı adresi " + where));
    }

    VornHTTPResponse response;
    try {
        response = VornHTTPClient::send(request, VornHTTPBody::none(), VornHTTPSink::memory(session_.maximumReplyBytes),
                                        optionsFor(session_, session_.probeTimeLimit, session_.probeDeadline), stopToken);
    } catch (const VornHTTPError& error) {
        if (error.kind() == VornHTTPError::Kind::bodyTooLarge) {
            throw SledError::connectionFailed(malformedPeerInfo());
        }
        throw SledError::connectionFailed(noAnswerFrom(where));
    }
    if (response.statusCode != 200) throw SledError::connectionFailed(noAnswerFrom(where));

    const nlohmann::json info = vornJSONParseOrDiscarded(response.body, session_.maximumReplyBytes);
    if (!info.is_object()) throw SledError::connectionFailed(malformedPeerInfo());
    const auto text = [&](const char* key, std::string fallback) {
        const auto found = info.find(key);
        return found != info.end() && found->is_string() ? found->get<std::string>() : fallback;
    };
    LANPeerInfo peer;
    peer.id = text("id", where);
    peer.deviceName = text("deviceName", std::string(host));
    peer.platform = text("platform", "LAN Device");
    peer.host = std::string(host);
    peer.port = port;
    const auto requiresPIN = info.find("requiresPIN");
    peer.requiresPIN = requiresPIN != info.end() && requiresPIN->is_boolean() && requiresPIN->get<bool>();
    peer.isManual = true;
    return peer;
}

LANSledUploadResponse LANSledClient::sendFile(const std::filesystem::path& localURL, const LANPeerInfo& to,
                                              std::string_view senderName, const std::optional<std::string>& pin,
                                              std::stop_token stopToken) const {
    const auto baseURL = to.baseURL();
    if (!baseURL) throw SledError::connectionFailed(vornText("Invalid peer URL", "Geçersiz cihaz adresi"));
    if (stopToken.stop_requested()) throw VornTaskCancelled();

    const std::string localName = localURL.filename().string();
    // Hashed and sent from one open file, exactly the bytes it held when opened: the digest in
    // the head is the digest of the body.
    const OpenedFile file = openToSend(localURL);
    const std::string localDigest = fileSHA256(file, localURL, stopToken);
    const auto localSize = static_cast<std::int64_t>(file.status.st_size);
    const VornHTTPBody body = VornHTTPBody::file(vornDescriptorPath(file.fd.get()), 0,
                                                 static_cast<std::uint64_t>(localSize));

    VornHTTPRequest request;
    request.method = "POST";
    request.url = *baseURL + "/api/v1/upload";
    request.setHeader("Content-Type", "application/octet-stream");
    request.setHeader("Content-Length", std::to_string(localSize));
    request.setHeader("X-VornSled-Filename", percentEncoded(localName, pathPunctuation));
    request.setHeader("X-VornSled-Sender", percentEncoded(senderName, queryPunctuation));
    request.setHeader("X-VornSled-SHA256", localDigest);
    addPIN(request, pin);

    VornHTTPOptions options = optionsFor(session_, session_.uploadTimeLimit);
    options.answerDeadline = session_.uploadAnswerDeadline;
    VornHTTPResponse response;
    try {
        response = VornHTTPClient::send(request, body, VornHTTPSink::memory(session_.maximumReplyBytes), options,
                                        stopToken);
    } catch (const VornHTTPError& error) {
        if (error.kind() == VornHTTPError::Kind::answerOverdue) {
            throw SledError::connectionFailed(
                vornText(to.deviceName + " did not confirm receiving '" + localName + "'; the file may have arrived.",
                         to.deviceName + ", '" + localName + "' dosyasının alındığını onaylamadı; dosya ulaşmış olabilir."));
        }
        rethrowExchangeFailure(error, invalidReplyFromPeer());
    }
    if (response.statusCode == 401) throw SledError::invalidPIN();
    if (response.statusCode < 200 || response.statusCode > 299) {
        throw SledError::httpStatus(response.statusCode, excerpt(response.body, uploadErrorExcerptBytes));
    }

    nlohmann::json reply = vornJSONParseOrDiscarded(response.body, session_.maximumReplyBytes);
    if (!reply.is_object()) reply = nlohmann::json::object();
    bool digestConfirmed = false;
    if (const auto echoed = reply.find("sha256"); echoed != reply.end() && echoed->is_string()) {
        const auto& peerDigest = echoed->get_ref<const std::string&>();
        if (!peerDigest.empty()) {
            if (!VornASCII::equalIgnoringCase(peerDigest, localDigest)) {
                throw SledError::checksumMismatch(localName, localDigest, peerDigest);
            }
            digestConfirmed = true;
        }
    }
    // A count the peer gives must be the size we sent: fewer or more bytes stored, or a number
    // that cannot be a count at all, means the peer does not hold this file.
    bool countConfirmed = false;
    if (const auto bytes = reply.find("bytes"); bytes != reply.end() && bytes->is_number()) {
        const bool inRange = (bytes->is_number_unsigned() && bytes->get<std::uint64_t>() <= INT64_MAX) ||
                             (bytes->is_number_integer() && !bytes->is_number_unsigned() && bytes->get<std::int64_t>() >= 0);
        if (!inRange || bytes->get<std::int64_t>() != localSize) {
            throw SledError::connectionFailed(invalidReplyFromPeer());
        }
        countConfirmed = true;
    }

    // A file that changed while it went out may not be what was hashed: the peer holds something,
    // but nothing can say it is this file.
    if (!vornUnchangedSinceOpened(file.fd.get(), file.status)) {
        throw SledError::remoteCommandFailed(
            vornText("'" + localName + "' changed while it was sent; the copy is not the file that was checked.",
                     "'" + localName + "' gönderilirken değişti; kopya denetlenen dosya değil."));
    }

    LANSledUploadResponse result;
    const auto savedName = reply.find("fileName");
    result.fileName = savedName != reply.end() && savedName->is_string() ? savedName->get<std::string>() : localName;
    result.bytes = localSize;
    result.sha256Hex = localDigest;
    // Verified means the peer hashed what it stored and both its digest and its count match ours;
    // "verified": true on its own proves nothing, "verified": false is taken at its word.
    const auto verified = reply.find("verified");
    const bool deniedByPeer = verified != reply.end() && verified->is_boolean() && !verified->get<bool>();
    result.remoteVerified = digestConfirmed && countConfirmed && !deniedByPeer;
    return result;
}

std::vector<LANSledSendOutcome> LANSledClient::sendFilesInParallel(const std::vector<std::filesystem::path>& localURLs,
                                                                   const LANPeerInfo& to, std::string_view senderName,
                                                                   const std::optional<std::string>& pin,
                                                                   int maxConcurrency,
                                                                   std::stop_token stopToken) const noexcept {
    const std::size_t width = static_cast<std::size_t>(std::clamp(maxConcurrency, 1, maximumParallelUploads));
    std::mutex mutex;
    std::size_t next = 0;
    std::vector<LANSledSendOutcome> outcomes;
    try {
        outcomes.reserve(localURLs.size());
    } catch (...) {
        return outcomes;
    }

    const auto work = [&] {
        while (true) {
            std::size_t index;
            {
                const std::lock_guard lock(mutex);
                if (next == localURLs.size()) return;
                index = next++;
            }
            LANSledSendOutcome outcome{localURLs[index], std::exception_ptr()};
            try {
                outcome.result = sendFile(localURLs[index], to, senderName, pin, stopToken);
            } catch (...) {
                outcome.result = std::current_exception();
            }
            const std::lock_guard lock(mutex);
            outcomes.push_back(std::move(outcome));  // room was reserved: never throws
        }
    };

    // The calling thread is one of the workers.
    std::vector<std::jthread> helpers;
    const std::size_t helperCount = std::min(width, localURLs.size()) - (localURLs.empty() ? 0 : 1);
    for (std::size_t i = 0; i < helperCount; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;  // fewer threads than asked for still finish every file
        }
    }
    work();
    helpers.clear();  // joins
    return outcomes;
}

std::string LANSledClient::sendClipboard(std::string_view text, const LANPeerInfo& to, std::string_view senderName,
                                         const std::optional<std::string>& pin, std::stop_token stopToken) const {
    const auto baseURL = to.baseURL();
    if (!baseURL) throw SledError::connectionFailed(vornText("Invalid peer URL", "Geçersiz cihaz adresi"));
    if (!VornUnicode::isValidUTF8(text)) {
        throw std::invalid_argument(vornText("The clipboard text is not valid UTF-8 and cannot be sent",
                                             "Pano metni geçerli UTF-8 değil, gönderilemez"));
    }
    if (!VornUnicode::isValidUTF8(senderName)) {
        throw std::invalid_argument(vornText("The sender name is not valid UTF-8 and cannot be sent",
                                             "Gönderen adı geçerli UTF-8 değil, gönderilemez"));
    }

    VornHTTPRequest request;
    request.method = "POST";
    request.url = *baseURL + "/api/v1/clipboard";
    request.setHeader("Content-Type", "application/json");
    addPIN(request, pin);
    const nlohmann::json payload = {{"sender", senderName}, {"text", text}};

    VornHTTPResponse response;
    try {
        response = VornHTTPClient::send(request, VornHTTPBody::bytes(payload.dump()),
                                        VornHTTPSink::memory(session_.maximumReplyBytes),
                                        optionsFor(session_, session_.clipboardTimeLimit, session_.clipboardDeadline),
                                        stopToken);
    } catch (const VornHTTPError& error) {
        rethrowExchangeFailure(error, vornText("Invalid peer response", "Cihazın yanıtı geçersiz"));
    }
    if (response.statusCode == 401) throw SledError::invalidPIN();
    if (response.statusCode < 200 || response.statusCode > 299) {
        throw SledError::httpStatus(response.statusCode, excerpt(response.body, clipboardErrorExcerptBytes));
    }
    return VornSHA256::hexDigest(text);
}
