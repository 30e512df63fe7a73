#include "VornHTTPClient.h"

#include "VornASCII.h"
#include "VornLocalizationStore.h"
#include "VornSystemErrorText.h"
#include "VornTaskCancelled.h"
#include "VornURLComponents.h"
#include "VornUniqueFd.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>

namespace {

constexpr std::size_t maxResponseHeaderBytes = 256 * 1024;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// RFC 9110 token characters: what a method or a header name may be made of.
bool isToken(std::string_view text) {
    if (text.empty()) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) return false;
        return std::string_view("\"(),/:;<=>?@[\\]{}").find(c) == std::string_view::npos;
    });
}

// A value may hold anything but the bytes that would end the field or the head.
bool isFieldValue(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

// Failures the user can meet (a server out of reach, a file that cannot be read or written)
// reach the interface as they are, so they are written in the user's language; the others name
// a programming mistake and stay English.
std::string userText(const std::string& en, const std::string& tr) {
    return vornText(en, tr);
}

// What went wrong on the way, for the transport failures a user meets; nothing for the others,
// whose text stays libcurl's own.
const char* turkishTransportReason(CURLcode result) {
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST: return "Sunucunun adı çözümlenemedi";
    case CURLE_COULDNT_RESOLVE_PROXY: return "Vekil sunucunun adı çözümlenemedi";
    case CURLE_COULDNT_CONNECT: return "Sunucuya bağlanılamadı";
    case CURLE_OPERATION_TIMEDOUT: return "Sunucu zamanında yanıt vermedi";
    case CURLE_GOT_NOTHING: return "Sunucu yanıt vermeden bağlantıyı kapattı";
    case CURLE_SEND_ERROR: return "Veri gönderilemedi";
    case CURLE_RECV_ERROR: return "Veri alınamadı";
    case CURLE_SSL_CONNECT_ERROR: return "Güvenli bağlantı kurulamadı";
    case CURLE_PEER_FAILED_VERIFICATION: return "Sunucunun sertifikası doğrulanamadı";
    case CURLE_URL_MALFORMAT: return "Adres geçersiz";
    case CURLE_UNSUPPORTED_PROTOCOL: return "Adresin protokolü desteklenmiyor";
    default: return nullptr;
    }
}

[[noreturn]] void fail(VornHTTPError::Kind kind, const std::string& message, int curlCode = 0) {
    throw VornHTTPError(kind, message, curlCode);
}

void initialiseCurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        fail(VornHTTPError::Kind::transport,
             std::string("Could not initialise libcurl: ") + curl_easy_strerror(result), result);
    }
}

// Everything the curl callbacks share during one exchange.
struct Exchange {
    std::stop_token stopToken;
    CURL* handle = nullptr;

    // Request body.
    const VornHTTPBody::Reader* reader = nullptr;
    const std::string* bytes = nullptr;
    int fileDescriptor = -1;
    std::uint64_t fileOffset = 0;
    const std::function<void()>* beforeEnd = nullptr;
    std::uint64_t bodyLength = 0;
    std::uint64_t bodySent = 0;
    std::string bodyFailure;

    // Response.
    VornHTTPResponse response;
    std::size_t headerBytes = 0;
    bool headersTooLarge = false;
    std::optional<std::size_t> memoryLimit;
    const VornHTTPSink::Writer* writer = nullptr;
    bool bodyTooLarge = false;
    bool errorBodyComplete = false;

    const std::function<void(const VornHTTPProgress&)>* progress = nullptr;
    VornHTTPProgress lastProgress;

    // The answer deadline, and when the request's last byte went out.
    std::chrono::milliseconds answerDeadline{0};
    std::optional<std::chrono::steady_clock::time_point> requestSentAt;
    bool answerOverdue = false;

    bool cancelled = false;
    std::exception_ptr callbackException;

    bool stopRequested() {
        if (stopToken.stop_requested()) cancelled = true;
        return cancelled;
    }
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::size_t total = size * count;
    const std::string_view line(data, total);
    exchange.headerBytes += total;
    if (exchange.headerBytes > maxResponseHeaderBytes) {
        exchange.headersTooLarge = true;
        return 0;
    }
    auto& headers = exchange.response.headers;
    if (line.starts_with("HTTP/")) {
        // A new status line: interim responses (100 Continue) leave nothing behind.
        headers.clear();
        exchange.headerBytes = total;
        return total;
    }
    const auto content = trimmed(line);
    if (content.empty()) return total;
    if ((line[0] == ' ' || line[0] == '\t') && !headers.empty()) {
        headers.back().second += " ";
        headers.back().second += content;
        return total;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return total;
    headers.emplace_back(VornASCII::lowercased(trimmed(line.substr(0, colon))),
                         std::string(trimmed(line.substr(colon + 1))));
    return total;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::size_t total = size * count;
    if (exchange.stopRequested()) return CURL_WRITEFUNC_ERROR;
    auto& body = exchange.response.body;

    if (exchange.memoryLimit) {
        if (body.size() + total > *exchange.memoryLimit) {
            exchange.bodyTooLarge = true;
            return CURL_WRITEFUNC_ERROR;
        }
        body.append(data, total);
        return total;
    }

    long status = 0;
    curl_easy_getinfo(exchange.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200 && status < 300) {
        try {
            (*exchange.writer)(std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), total));
        } catch (...) {
            exchange.callbackException = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
        return total;
    }
    // An error response: keep the start of its text for the caller's message and stop reading.
    const std::size_t room = VornHTTPSink::errorBodyLimit - std::min(body.size(), VornHTTPSink::errorBodyLimit);
    body.append(data, std::min(room, total));
    if (total > room) {
        exchange.errorBodyComplete = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return total;
}

std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    if (exchange.stopRequested()) return CURL_READFUNC_ABORT;
    const std::uint64_t remaining = exchange.bodyLength - exchange.bodySent;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size * count, remaining));
    if (wanted == 0) return 0;

    std::size_t produced = 0;
    if (exchange.bytes != nullptr) {
        std::memcpy(buffer, exchange.bytes->data() + exchange.bodySent, wanted);
        produced = wanted;
    } else if (exchange.fileDescriptor >= 0) {
        if (exchange.beforeEnd != nullptr && *exchange.beforeEnd && wanted == remaining) {
            try {
                (*exchange.beforeEnd)();
            } catch (...) {
                exchange.callbackException = std::current_exception();
                return CURL_READFUNC_ABORT;
            }
        }
        ssize_t got;
        do {
            got = ::pread(exchange.fileDescriptor, buffer, wanted,
                          static_cast<off_t>(exchange.fileOffset + exchange.bodySent));
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            exchange.bodyFailure = std::string("reading the file to send failed: ") + std::strerror(errno);
            return CURL_READFUNC_ABORT;
        }
        produced = static_cast<std::size_t>(got);
    } else {
        try {
            produced = (*exchange.reader)(std::span<std::byte>(reinterpret_cast<std::byte*>(buffer), wanted));
        } catch (...) {
            exchange.callbackException = std::current_exception();
            return CURL_READFUNC_ABORT;
        }
        produced = std::min(produced, wanted);
    }
    if (produced == 0) {
        exchange.bodyFailure = "the request body ended after " + std::to_string(exchange.bodySent) + " of " +
                               std::to_string(exchange.bodyLength) + " bytes (did the file change?)";
        return CURL_READFUNC_ABORT;
    }
    exchange.bodySent += produced;
    return produced;
}

int onTransferInfo(void* context, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t uploadTotal,
                   curl_off_t uploaded) {
    auto& exchange = *static_cast<Exchange*>(context);
    if (exchange.stopRequested()) return 1;
    // curl calls in here about once a second even while nothing moves, so a silent or dribbling
    // peer is caught as well as a slow one.
    if (exchange.answerDeadline.count() > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (!exchange.requestSentAt && static_cast<std::uint64_t>(std::max<curl_off_t>(uploaded, 0)) >= exchange.bodyLength) {
            exchange.requestSentAt = now;
        }
        if (exchange.requestSentAt && now - *exchange.requestSentAt >= exchange.answerDeadline) {
            exchange.answerOverdue = true;
            return 1;
        }
    }
    if (exchange.progress == nullptr || !*exchange.progress) return 0;
    VornHTTPProgress now;
    now.bytesSent = static_cast<std::uint64_t>(std::max<curl_off_t>(uploaded, 0));
    now.bytesToSend = static_cast<std::uint64_t>(std::max<curl_off_t>(uploadTotal, 0));
    now.bytesReceived = static_cast<std::uint64_t>(std::max<curl_off_t>(downloaded, 0));
    now.bytesToReceive = static_cast<std::uint64_t>(std::max<curl_off_t>(downloadTotal, 0));
    const auto& last = exchange.lastProgress;
    if (now.bytesSent == last.bytesSent && now.bytesToSend == last.bytesToSend &&
        now.bytesReceived == last.bytesReceived && now.bytesToReceive == last.bytesToReceive) {
        return 0;
    }
    exchange.lastProgress = now;
    try {
        (*exchange.progress)(now);
    } catch (...) {
        exchange.callbackException = std::current_exception();
        return 1;
    }
    return 0;
}

// curl rewinds a body when it must send the request again, as on a kept-alive connection that the
// server closed meanwhile. Bytes and file slices can start over; a stream cannot.
int onSeek(void* context, curl_off_t offset, int origin) {
    auto& exchange = *static_cast<Exchange*>(context);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::uint64_t>(offset) > exchange.bodyLength ||
        exchange.reader != nullptr) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    exchange.bodySent = static_cast<std::uint64_t>(offset);
    return CURL_SEEKFUNC_OK;
}

struct CurlHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

template <typename Value>
void setOption(CURL* handle, CURLoption option, Value value) {
    const CURLcode result = curl_easy_setopt(handle, option, value);
    if (result != CURLE_OK) {
        fail(VornHTTPError::Kind::transport, std::string("libcurl refused an option: ") + curl_easy_strerror(result),
             result);
    }
}

std::uint64_t fileSize(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        fail(VornHTTPError::Kind::invalidRequest,
             userText("Cannot read the file to send " + path.string() + ": " + std::strerror(errno),
                      "Gönderilecek dosya okunamıyor " + path.string() + ": " + vornSystemErrorText(errno, VornLanguage::tr)));
    }
    if (!S_ISREG(info.st_mode)) {
        fail(VornHTTPError::Kind::invalidRequest,
             userText("The file to send is not a regular file: " + path.string(),
                      "Gönderilecek öğe normal bir dosya değil: " + path.string()));
    }
    return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace

// MARK: - Request

void VornHTTPRequest::setHeader(std::string_view name, std::string_view value) {
    removeHeader(name);
    headers.emplace_back(std::string(name), std::string(value));
}

void VornHTTPRequest::removeHeader(std::string_view name) {
    std::erase_if(headers, [&](const auto& field) { return VornASCII::equalIgnoringCase(field.first, name); });
}

std::optional<std::string> VornHTTPRequest::header(std::string_view name) const {
    for (const auto& [fieldName, value] : headers) {
        if (VornASCII::equalIgnoringCase(fieldName, name)) return value;
    }
    return std::nullopt;
}

std::optional<std::string> VornHTTPResponse::header(std::string_view lowerCaseName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerCaseName) return value;
    }
    return std::nullopt;
}

// MARK: - Body and sink

VornHTTPBody VornHTTPBody::none() { return {}; }

VornHTTPBody VornHTTPBody::bytes(std::string data) {
    VornHTTPBody body;
    body.source_ = std::make_shared<const std::string>(std::move(data));
    return body;
}

VornHTTPBody VornHTTPBody::file(const std::filesystem::path& path, std::uint64_t offset,
                                std::optional<std::uint64_t> length) {
    const std::uint64_t size = fileSize(path);
    if (offset > size || (length && *length > size - offset)) {
        fail(VornHTTPError::Kind::invalidRequest,
             userText("The range to send lies beyond the end of " + path.string(),
                      "Gönderilecek aralık dosyanın sonunu aşıyor: " + path.string()));
    }
    VornHTTPBody body;
    body.source_ = FileSlice{path, offset, length.value_or(size - offset)};
    return body;
}

VornHTTPBody VornHTTPBody::checkedBeforeItsEnd(std::function<void()> check) const {
    VornHTTPBody body = *this;
    if (auto* slice = std::get_if<FileSlice>(&body.source_)) {
        slice->beforeEnd = std::move(check);
    }
    return body;
}

VornHTTPBody VornHTTPBody::stream(std::uint64_t length, Reader reader) {
    if (!reader) fail(VornHTTPError::Kind::invalidRequest, "A streamed request body needs a reader");
    VornHTTPBody body;
    body.source_ = Stream{length, std::move(reader)};
    return body;
}

std::uint64_t VornHTTPBody::length() const {
    struct Visitor {
        std::uint64_t operator()(std::monostate) const { return 0; }
        std::uint64_t operator()(const std::shared_ptr<const std::string>& data) const { return data->size(); }
        std::uint64_t operator()(const FileSlice& slice) const { return slice.length; }
        std::uint64_t operator()(const Stream& stream) const { return stream.length; }
    };
    return std::visit(Visitor{}, source_);
}

VornHTTPSink VornHTTPSink::memory(std::size_t maxBytes) {
    VornHTTPSink sink;
    sink.target_ = maxBytes;
    return sink;
}

VornHTTPSink VornHTTPSink::stream(Writer writer) {
    if (!writer) fail(VornHTTPError::Kind::invalidRequest, "A streamed response sink needs a writer");
    VornHTTPSink sink;
    sink.target_ = std::move(writer);
    return sink;
}

VornHTTPSink VornHTTPSink::file(std::filesystem::path path) {
    VornHTTPSink sink;
    sink.target_ = std::move(path);
    return sink;
}

// MARK: - Exchange

VornHTTPResponse VornHTTPClient::send(const VornHTTPRequest& request, const VornHTTPBody& body,
                                      const VornHTTPSink& sink, const VornHTTPOptions& options,
                                      std::stop_token stopToken) {
    if (stopToken.stop_requested()) throw VornTaskCancelled();
    initialiseCurlOnce();

    // Check everything about the request before a byte leaves.
    const auto url = VornURLComponents::parse(request.url);
    if (!url || (url->scheme != "http" && url->scheme != "https") || !url->host || url->host->empty()) {
        fail(VornHTTPError::Kind::invalidRequest, "Not an absolute http or https URL");
    }
    const std::string method = request.method.empty() ? std::string("GET") : VornASCII::uppercased(request.method);
    if (!isToken(method)) fail(VornHTTPError::Kind::invalidRequest, "Invalid HTTP method \"" + method + "\"");

    const std::uint64_t bodyLength = body.length();
    bool callerGaveLength = false;
    std::unique_ptr<curl_slist, CurlListDeleter> headerList;
    auto appendHeader = [&](const std::string& line) {
        curl_slist* extended = curl_slist_append(headerList.get(), line.c_str());
        if (extended == nullptr) fail(VornHTTPError::Kind::transport, "Out of memory for request headers");
        (void)headerList.release();
        headerList.reset(extended);
    };
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name)) fail(VornHTTPError::Kind::invalidRequest, "Invalid header name \"" + name + "\"");
        if (!isFieldValue(value)) {
            fail(VornHTTPError::Kind::invalidRequest, "The value of header " + name + " contains a line break");
        }
        if (VornASCII::equalIgnoringCase(name, "Content-Length")) {
            // libcurl sends the one length it knows from the body; a different one would corrupt the exchange.
            std::uint64_t given = 0;
            const auto text = trimmed(value);
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), given);
            if (text.empty() || error != std::errc{} || end != text.data() + text.size() || given != bodyLength) {
                fail(VornHTTPError::Kind::invalidRequest, "Content-Length " + value +
                                                              " does not match the body of " +
                                                              std::to_string(bodyLength) + " bytes");
            }
            callerGaveLength = true;
            continue;
        }
        if (VornASCII::equalIgnoringCase(name, "Transfer-Encoding")) {
            fail(VornHTTPError::Kind::invalidRequest, "Request bodies are always sent with a known length");
        }
        if (VornASCII::equalIgnoringCase(name, "Expect")) continue;
        // "Name;" is libcurl's way of sending a field with an empty value ("Name:" would remove it).
        appendHeader(value.empty() ? name + ";" : name + ": " + value);
    }
    appendHeader("Expect:");

    // A handle kept for reuse holds this thread's idle connections between exchanges. It is reset
    // when the exchange ends, so it never keeps pointers into this call's frame.
    thread_local std::unique_ptr<CURL, CurlHandleDeleter> reusableHandle;
    std::unique_ptr<CURL, CurlHandleDeleter> ownHandle;
    CURL* curl = nullptr;
    if (options.reuseConnection) {
        if (!reusableHandle) reusableHandle.reset(curl_easy_init());
        curl = reusableHandle.get();
    } else {
        ownHandle.reset(curl_easy_init());
        curl = ownHandle.get();
    }
    if (curl == nullptr) fail(VornHTTPError::Kind::transport, "Could not create a libcurl handle");
    struct ResetAtEnd {
        CURL* handle;
        ~ResetAtEnd() { curl_easy_reset(handle); }
    } const resetAtEnd{curl};

    Exchange exchange;
    exchange.stopToken = stopToken;
    exchange.handle = curl;
    exchange.progress = &options.progress;
    exchange.bodyLength = bodyLength;
    exchange.answerDeadline = options.answerDeadline;

    VornUniqueFd uploadFile;
    if (const auto* data = std::get_if<std::shared_ptr<const std::string>>(&body.source_)) {
        exchange.bytes = data->get();
    } else if (const auto* slice = std::get_if<VornHTTPBody::FileSlice>(&body.source_)) {
        uploadFile.reset(::open(slice->path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!uploadFile) {
            fail(VornHTTPError::Kind::bodyReadFailed,
                 userText("Cannot open the file to send " + slice->path.string() + ": " + std::strerror(errno),
                          "Gönderilecek dosya açılamıyor " + slice->path.string() + ": " +
                              vornSystemErrorText(errno, VornLanguage::tr)));
        }
        exchange.fileDescriptor = uploadFile.get();
        exchange.fileOffset = slice->offset;
        exchange.beforeEnd = &slice->beforeEnd;
    } else if (const auto* stream = std::get_if<VornHTTPBody::Stream>(&body.source_)) {
        exchange.reader = &stream->reader;
    }

    VornUniqueFd downloadFile;
    std::optional<VornHTTPSink::Writer> fileWriter;
    const std::filesystem::path* downloadPath = std::get_if<std::filesystem::path>(&sink.target_);
    if (const auto* limit = std::get_if<std::size_t>(&sink.target_)) {
        exchange.memoryLimit = *limit;
    } else if (const auto* writer = std::get_if<VornHTTPSink::Writer>(&sink.target_)) {
        exchange.writer = writer;
    } else if (downloadPath != nullptr) {
        // Opened on the first byte of a successful body, so an error response leaves no file behind.
        fileWriter = [&downloadFile, downloadPath](std::span<const std::byte> bytes) {
            if (!downloadFile) {
                downloadFile.reset(::open(downloadPath->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
                if (!downloadFile) {
                    fail(VornHTTPError::Kind::bodyWriteFailed,
                         userText("Cannot create " + downloadPath->string() + ": " + std::strerror(errno),
                                  downloadPath->string() + " oluşturulamıyor: " +
                                      vornSystemErrorText(errno, VornLanguage::tr)));
                }
            }
            if (!vornWriteAll(downloadFile.get(),
                              std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
                fail(VornHTTPError::Kind::bodyWriteFailed,
                     userText("Cannot write " + downloadPath->string() + ": " + std::strerror(errno),
                              downloadPath->string() + " yazılamıyor: " + vornSystemErrorText(errno, VornLanguage::tr)));
            }
        };
        exchange.writer = &*fileWriter;
    }

    char errorBuffer[CURL_ERROR_SIZE] = {};
    setOption(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    setOption(curl, CURLOPT_URL, request.url.c_str());
    setOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    setOption(curl, CURLOPT_PATH_AS_IS, 1L);
    setOption(curl, CURLOPT_FOLLOWLOCATION, 0L);
    setOption(curl, CURLOPT_NOSIGNAL, 1L);
    setOption(curl, CURLOPT_CONNECTTIMEOUT_MS,
              static_cast<long>(std::max<std::chrono::seconds::rep>(options.connectTimeout.count(), 1) * 1000));
    // Idle, not total: a large transfer that keeps moving must never be cut off.
    setOption(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    setOption(curl, CURLOPT_LOW_SPEED_TIME,
              static_cast<long>(std::max<std::chrono::seconds::rep>(options.idleTimeout.count(), 1)));
    // Set every time: a kept handle must not carry an earlier request's deadline.
    setOption(curl, CURLOPT_TIMEOUT_MS,
              static_cast<long>(std::max<std::chrono::milliseconds::rep>(options.deadline.count(), 0)));
    if (options.bypassProxy) setOption(curl, CURLOPT_NOPROXY, "*");
    setOption(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
    setOption(curl, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    setOption(curl, CURLOPT_HTTPHEADER, headerList.get());
    setOption(curl, CURLOPT_HEADERFUNCTION, &onHeader);
    setOption(curl, CURLOPT_HEADERDATA, &exchange);
    setOption(curl, CURLOPT_WRITEFUNCTION, &onBody);
    setOption(curl, CURLOPT_WRITEDATA, &exchange);
    setOption(curl, CURLOPT_NOPROGRESS, 0L);
    setOption(curl, CURLOPT_XFERINFOFUNCTION, &onTransferInfo);
    setOption(curl, CURLOPT_XFERINFODATA, &exchange);

    const bool sendsBody =
        !body.isNone() || callerGaveLength || method == "PUT" || method == "POST" || method == "PATCH";
    if (method == "HEAD") {
        if (sendsBody && bodyLength > 0) fail(VornHTTPError::Kind::invalidRequest, "A HEAD request has no body");
        setOption(curl, CURLOPT_NOBODY, 1L);
    } else if (sendsBody) {
        // Upload mode is the one way to give libcurl a known length for any method and a body it
        // pulls as it goes; it then writes exactly one Content-Length.
        setOption(curl, CURLOPT_UPLOAD, 1L);
        setOption(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodyLength));
        setOption(curl, CURLOPT_READFUNCTION, &onRead);
        setOption(curl, CURLOPT_READDATA, &exchange);
        setOption(curl, CURLOPT_SEEKFUNCTION, &onSeek);
        setOption(curl, CURLOPT_SEEKDATA, &exchange);
        if (method != "PUT") setOption(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET") {
        setOption(curl, CURLOPT_HTTPGET, 1L);
    } else {
        setOption(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    const CURLcode result = curl_easy_perform(curl);

    if (exchange.callbackException) std::rethrow_exception(exchange.callbackException);
    if (exchange.cancelled || (result == CURLE_ABORTED_BY_CALLBACK && stopToken.stop_requested())) {
        throw VornTaskCancelled();
    }
    const std::string where = method + " " + *url->host;
    if (exchange.answerOverdue) {
        fail(VornHTTPError::Kind::answerOverdue,
             userText(where + " sent no complete answer within " +
                          std::to_string(std::chrono::ceil<std::chrono::seconds>(options.answerDeadline).count()) +
                          " s of the request",
                      where + " isteğe " +
                          std::to_string(std::chrono::ceil<std::chrono::seconds>(options.answerDeadline).count()) +
                          " sn içinde tam yanıt vermedi"),
             result);
    }
    if (exchange.bodyTooLarge) {
        fail(VornHTTPError::Kind::bodyTooLarge,
             userText("The response to " + where + " is larger than " + std::to_string(*exchange.memoryLimit) +
                          " bytes",
                      where + " yanıtı " + std::to_string(*exchange.memoryLimit) + " bayttan büyük"),
             result);
    }
    if (exchange.headersTooLarge) {
        fail(VornHTTPError::Kind::transport,
             userText("The response headers from " + where + " are too large",
                      where + " yanıtının başlıkları çok büyük"),
             result);
    }
    if (!exchange.bodyFailure.empty()) {
        fail(VornHTTPError::Kind::bodyReadFailed,
             userText("Sending " + where + " failed: " + exchange.bodyFailure,
                      where + " gönderilemedi: " + exchange.bodyFailure),
             result);
    }
    const bool stoppedReadingErrorBody = result == CURLE_WRITE_ERROR && exchange.errorBodyComplete;
    if (result != CURLE_OK && !stoppedReadingErrorBody) {
        const std::string detail = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
        VornHTTPError::Kind kind = VornHTTPError::Kind::transport;
        switch (result) {
        case CURLE_OPERATION_TIMEDOUT:
            kind = VornHTTPError::Kind::timedOut;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            kind = VornHTTPError::Kind::connectionFailed;
            break;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            kind = VornHTTPError::Kind::invalidRequest;
            break;
        default:
            break;
        }
        fail(kind,
             userText("HTTP request " + where + " failed: " + detail,
                      "HTTP isteği " + where + " başarısız oldu: " +
                          (turkishTransportReason(result) != nullptr ? turkishTransportReason(result) : detail)),
             result);
    }

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    exchange.response.statusCode = static_cast<int>(status);

    if (downloadPath != nullptr && status >= 200 && status < 300) {
        if (!downloadFile) (*fileWriter)({});  // an empty body still makes its file
        if (::fsync(downloadFile.get()) != 0) {
            fail(VornHTTPError::Kind::bodyWriteFailed,
                 userText("Cannot flush " + downloadPath->string() + ": " + std::strerror(errno),
                          downloadPath->string() + " diske yazılamıyor: " + vornSystemErrorText(errno, VornLanguage::tr)));
        }
    }
    return std::move(exchange.response);
}
