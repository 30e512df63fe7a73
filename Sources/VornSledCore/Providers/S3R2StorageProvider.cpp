#include "S3R2StorageProvider.h"

#include "LocalFileProvider.h"
#include "SledError.h"
#include "SledTemporaryFileName.h"
#include "SledListingError.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"
#include "VornLoopback.h"
#include "VornTaskCancelled.h"
#include "VornTemporaryFile.h"
#include "VornUnicode.h"
#include "VornUniqueFd.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <iterator>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::seconds requestTimeout{60};
// Replies other than listings and downloads are small XML documents (or nothing at all).
constexpr std::size_t maxSmallReplyBytes = 1024 * 1024;
constexpr std::size_t errorMessageBytes = 400;

// Each "/"-separated piece encoded on its own, so the slashes stay path separators. The key is
// taken whole: a key that itself begins with "/" (made by another tool) keeps it.
std::string encodeKey(std::string_view key) {
    std::string encoded;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = key.find('/', start);
        encoded += AWSSigV4Signer::awsPercentEncode(key.substr(start, slash - start));
        if (slash == std::string_view::npos) break;
        encoded += '/';
        start = slash + 1;
    }
    return encoded;
}

// Encoded exactly as the signer encodes it for the canonical query, so what is sent is what is
// signed whatever the value holds ("+", "/" and "=" of continuation tokens among them).
std::string encodeQuery(const std::vector<VornURLQueryItem>& items) {
    std::string query;
    for (const auto& item : items) {
        if (!query.empty()) query += '&';
        query += AWSSigV4Signer::awsPercentEncode(item.name);
        if (item.value) query += "=" + AWSSigV4Signer::awsPercentEncode(*item.value);
    }
    return query;
}

// Keys are exact: a key may begin or end with spaces or hold "//", and trimming would address
// another object ("photos " is not "photos"). Only the one "/" that makes a key a path goes.
std::string keyOfPath(std::string_view path, bool asPrefix) {
    if (path.starts_with('/')) path.remove_prefix(1);
    std::string key(path);
    if (asPrefix && !key.empty() && !key.ends_with('/')) key += '/';
    return key;
}

// Object keys are UTF-8 text: the service reads a key's bytes as UTF-8 on both sides of the
// signature, so any other bytes come back as a signature mismatch, which reads like a wrong
// secret. Such a name is refused, as a name, before anything is sent.
std::optional<std::string> keyRefusal(std::string_view key) {
    if (VornUnicode::isValidUTF8(key)) return std::nullopt;
    const std::string shown = VornUnicode::replacingInvalidUTF8(key);
    return vornText("The name '" + shown + "' is not UTF-8 text, which object keys must be; nothing was sent.",
                    "'" + shown + "' adı UTF-8 metin değil, oysa nesne anahtarları öyle olmalı; hiçbir şey gönderilmedi.");
}

void requireUTF8Key(std::string_view key) {
    if (const auto refusal = keyRefusal(key)) throw SledError::remoteCommandFailed(*refusal);
}

// The start of an error body as text: invalid UTF-8 (including a character cut at the limit)
// becomes U+FFFD.
std::string errorMessageText(std::string_view body) {
    return VornUnicode::replacingInvalidUTF8(body.substr(0, std::min(body.size(), errorMessageBytes)));
}

// The body of a successful reply, collected up to `cap` bytes. Error replies keep their start in
// VornHTTPResponse::body as usual.
VornHTTPSink collectInto(std::string& body, std::size_t cap) {
    return VornHTTPSink::stream([&body, cap](std::span<const std::byte> bytes) {
        if (body.size() + bytes.size() > cap) {
            throw VornHTTPError(VornHTTPError::Kind::bodyTooLarge,
                                "The reply is larger than " + std::to_string(cap) + " bytes");
        }
        body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
}

// "x-amz-checksum-sha256" is the base64 form of the 32-byte digest; anything else gives nothing.
std::optional<std::string> hexOfBase64Digest(std::string_view text) {
    if (text.size() != 44) return std::nullopt;
    unsigned char decoded[33] = {};
    if (EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(text.data()), 44) != 33 || !text.ends_with("=") ||
        text.ends_with("==")) {
        return std::nullopt;
    }
    return vornHexLower(std::span<const std::uint8_t>(decoded, 32));
}

// The object's SHA-256 as its reply tells it: the digest our uploads store with it, else the
// service's own checksum of a whole object (one of parts has no single digest and is left out).
std::optional<std::string> storedSHA256Of(const VornHTTPResponse& response) {
    if (const auto stored = response.header("x-amz-meta-vornsled-sha256");
        stored && stored->size() == 64 &&
        std::all_of(stored->begin(), stored->end(), [](char c) { return VornASCII::hexDigitValue(c) >= 0; })) {
        return VornASCII::lowercased(*stored);
    }
    if (const auto checksum = response.header("x-amz-checksum-sha256")) {
        return hexOfBase64Digest(*checksum);
    }
    return std::nullopt;
}

// An HTTP date as servers send it in Last-Modified ("Fri, 11 Dec 2026 16:22:20 GMT"); read
// without the locale, whose month names may be another language's.
std::optional<VornDate> httpDate(std::string_view text) {
    static constexpr std::array<std::string_view, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::size_t comma = text.find(", ");
    if (comma == std::string_view::npos) return std::nullopt;
    text.remove_prefix(comma + 2);
    // "dd Mon yyyy hh:mm:ss GMT"
    if (text.size() != 24 || text.substr(20) != " GMT" || text[2] != ' ' || text[6] != ' ' || text[11] != ' ' ||
        text[14] != ':' || text[17] != ':') {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t digits) -> std::optional<int> {
        int value = 0;
        for (std::size_t index = at; index < at + digits; ++index) {
            if (text[index] < '0' || text[index] > '9') return std::nullopt;
            value = value * 10 + (text[index] - '0');
        }
        return value;
    };
    const auto month = std::find(months.begin(), months.end(), text.substr(3, 3));
    const auto day = number(0, 2), year = number(7, 4), hour = number(12, 2), minute = number(15, 2),
               second = number(18, 2);
    if (month == months.end() || !day || !year || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{*year},
                                           std::chrono::month{static_cast<unsigned>(month - months.begin() + 1)},
                                           std::chrono::day{static_cast<unsigned>(*day)}};
    if (!date.ok()) return std::nullopt;
    return VornDate(std::chrono::sys_days{date} + std::chrono::hours{*hour} + std::chrono::minutes{*minute} +
                    std::chrono::seconds{*second});
}

fs::filesystem_error fileError(const std::string& what, const fs::path& path) {
    return fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

// The folders a download had to create above its destination. Unless kept, they are removed
// again, deepest first, so a failed download leaves the local tree as it found it. A folder that
// meanwhile holds something else (another download into it) is not empty and stays.
class CreatedParents {
public:
    explicit CreatedParents(const fs::path& destination) {
        std::vector<fs::path> missing;
        for (fs::path folder = destination.parent_path(); !folder.empty() && folder != folder.root_path();
             folder = folder.parent_path()) {
            struct stat info {};
            if (::lstat(folder.c_str(), &info) == 0 || errno != ENOENT) break;
            missing.push_back(folder);
        }
        for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
            if (::mkdir(folder->c_str(), 0777) == 0) {
                created_.push_back(*folder);
            } else if (errno != EEXIST) {
                throw fileError("cannot create the folder of the download", *folder);
            }
        }
    }
    CreatedParents(const CreatedParents&) = delete;
    CreatedParents& operator=(const CreatedParents&) = delete;
    ~CreatedParents() {
        for (auto folder = created_.rbegin(); folder != created_.rend(); ++folder) (void)::rmdir(folder->c_str());
    }
    void keep() noexcept { created_.clear(); }

private:
    std::vector<fs::path> created_;
};

// Error documents are small; the start of a download is kept in memory up to this size to tell one.
constexpr std::size_t errorDocumentBytes = 64 * 1024;

std::string failureText(const std::exception& error) {
    if (const auto* sled = dynamic_cast<const SledError*>(&error)) return sled->description();
    return error.what();
}

std::string alreadyExists(const std::string& key) {
    std::string name = key;
    if (name.ends_with('/')) name.pop_back();
    return LocalFileProvider::alreadyExistsMessage(fs::path(name));
}

}  // namespace

S3R2StorageProvider::S3R2StorageProvider(ConnectionProfile profile, std::string secretAccessKey)
    : S3R2StorageProvider(std::move(profile), std::move(secretAccessKey), ListingLimits{}) {}

S3R2StorageProvider::S3R2StorageProvider(ConnectionProfile profile, std::string secretAccessKey,
                                         ListingLimits limits)
    : profile_(std::move(profile)),
      secretAccessKey_(std::move(secretAccessKey)),
      signer_(profile_.accessKeyID, secretAccessKey_, profile_.resolvedSigningRegion(), "s3"),
      limits_{std::max(limits.keysPerPage, 1), std::max(limits.maxPages, 1), std::max(limits.maxFlatPages, 1)} {}

std::string S3R2StorageProvider::displayName() const { return profile_.name; }

// MARK: - Keys and addresses

std::string S3R2StorageProvider::normalizeObjectKey(std::string_view path) { return keyOfPath(path, false); }

std::string S3R2StorageProvider::normalizePrefix(std::string_view path) { return keyOfPath(path, true); }

std::string S3R2StorageProvider::buildObjectURL(const std::string& objectKey,
                                                const std::vector<QueryItem>& queryItems) const {
    const std::string endpoint = profile_.resolvedObjectStorageEndpoint();
    const std::string bucket = VornUnicode::trimmed(profile_.bucket);
    if (endpoint.empty() || bucket.empty()) throw SledError::invalidProfile(
        vornText("Endpoint and bucket name are required.", "Uç nokta ve bucket adı gerekli."));
    auto url = VornURLComponents::parse(endpoint);
    if (!url) throw SledError::invalidProfile(vornText("Invalid endpoint URL: " + endpoint, "Geçersiz uç nokta adresi: " + endpoint));
    requireUTF8Key(objectKey);
    for (const QueryItem& item : queryItems) {
        if (item.value) requireUTF8Key(*item.value);  // a listing's prefix is a key too
    }

    const std::string encodedKey = encodeKey(objectKey);
    const bool pathStyle = profile_.usePathStyleAddressing || profile_.kind == ConnectionProtocolKind::cloudflareR2;
    if (pathStyle) {
        url->percentEncodedPath = "/" + AWSSigV4Signer::awsPercentEncode(bucket);
        if (!encodedKey.empty()) url->percentEncodedPath += "/" + encodedKey;
    } else {
        if (!url->host || url->host->empty()) throw SledError::invalidProfile(vornText("Invalid endpoint host", "Geçersiz uç nokta sunucusu"));
        url->host = bucket + "." + *url->host;
        url->percentEncodedPath = "/" + encodedKey;
    }
    // Only scheme, host and port of the endpoint carry over.
    url->percentEncodedUser.reset();
    url->percentEncodedFragment.reset();
    url->percentEncodedQuery.reset();
    if (!queryItems.empty()) url->percentEncodedQuery = encodeQuery(queryItems);

    std::string text = url->string();
    // A bucket name that is no host label (a "/", "@" or space in it) must not send the request
    // somewhere else.
    const auto check = VornURLComponents::parse(text);
    if (!check || check->host != url->host || check->percentEncodedPath != url->percentEncodedPath) {
        throw SledError::invalidProfile(vornText("Could not assemble S3/R2 request URL", "S3/R2 istek adresi oluşturulamadı"));
    }
    return text;
}

std::string S3R2StorageProvider::generatePresignedDownloadURL(const std::string& remotePath,
                                                              std::int64_t expiresInSeconds, VornDate date) const {
    const std::string key = normalizeObjectKey(remotePath);
    if (key.empty()) throw SledError::invalidProfile(
        vornText("Cannot generate a signed link for bucket root.", "Bucket kökü için imzalı bağlantı oluşturulamaz."));
    return signer_.presignedURL(buildObjectURL(key), "GET", expiresInSeconds, date);
}

// MARK: - Requests

std::string S3R2StorageProvider::reasonPhrase(int statusCode) {
    switch (statusCode) {
    case 200: return vornText("OK", "Tamam");
    case 201: return vornText("Created", "Oluşturuldu");
    case 204: return vornText("No Content", "İçerik Yok");
    case 206: return vornText("Partial Content", "Kısmi İçerik");
    case 301: return vornText("Moved Permanently", "Kalıcı Olarak Taşındı");
    case 302: return vornText("Found", "Bulundu");
    case 304: return vornText("Not Modified", "Değiştirilmedi");
    case 307: return vornText("Temporary Redirect", "Geçici Yönlendirme");
    case 308: return vornText("Permanent Redirect", "Kalıcı Yönlendirme");
    case 400: return vornText("Bad Request", "Hatalı İstek");
    case 401: return vornText("Unauthorized", "Yetkisiz");
    case 403: return vornText("Forbidden", "Yasak");
    case 404: return vornText("Not Found", "Bulunamadı");
    case 405: return vornText("Method Not Allowed", "Yönteme İzin Verilmiyor");
    case 409: return vornText("Conflict", "Çakışma");
    case 411: return vornText("Length Required", "Uzunluk Gerekli");
    case 412: return vornText("Precondition Failed", "Ön Koşul Sağlanmadı");
    case 413: return vornText("Content Too Large", "İçerik Çok Büyük");
    case 416: return vornText("Range Not Satisfiable", "Aralık Karşılanamıyor");
    case 429: return vornText("Too Many Requests", "Çok Fazla İstek");
    case 500: return vornText("Internal Server Error", "Sunucu İç Hatası");
    case 501: return vornText("Not Implemented", "Uygulanmadı");
    case 502: return vornText("Bad Gateway", "Hatalı Ağ Geçidi");
    case 503: return vornText("Service Unavailable", "Hizmet Kullanılamıyor");
    case 504: return vornText("Gateway Timeout", "Ağ Geçidi Zaman Aşımı");
    default: return vornText("HTTP status " + std::to_string(statusCode), "HTTP durumu " + std::to_string(statusCode));
    }
}

void S3R2StorageProvider::validateHTTP(const VornHTTPResponse& response) {
    if (response.statusCode < 100) throw SledError::connectionFailed(vornText("Invalid HTTP response", "Geçersiz HTTP yanıtı"));
    if (response.statusCode >= 200 && response.statusCode <= 299) return;
    std::string message = errorMessageText(response.body);
    if (message.empty()) message = reasonPhrase(response.statusCode);
    throw SledError::httpStatus(response.statusCode, std::move(message));
}

VornHTTPResponse S3R2StorageProvider::send(VornHTTPRequest request, std::string_view payloadSHA256Hex,
                                           const VornHTTPBody& body, const VornHTTPSink& sink,
                                           const SledProgressCallback& onProgress, std::stop_token stop) const {
    VornHTTPOptions options;
    options.connectTimeout = requestTimeout;
    options.idleTimeout = requestTimeout;
    options.bypassProxy = vornIsLoopbackURL(request.url);
    options.reuseConnection = true;
    if (onProgress) {
        const bool uploading = !body.isNone();
        options.progress = [&onProgress, uploading](const VornHTTPProgress& progress) {
            if (uploading) {
                if (progress.bytesToSend > 0) {
                    onProgress(static_cast<std::int64_t>(progress.bytesSent),
                               static_cast<std::int64_t>(progress.bytesToSend));
                }
            } else if (progress.bytesToReceive > 0) {
                onProgress(static_cast<std::int64_t>(progress.bytesReceived),
                           static_cast<std::int64_t>(progress.bytesToReceive));
            }
        };
    }
    const VornHTTPRequest signedRequest = signer_.sign(request, payloadSHA256Hex, vornDateNow());
    try {
        return VornHTTPClient::send(signedRequest, body, sink, options, stop);
    } catch (const VornHTTPError& error) {
        // What curl reports when the peer's answer is not HTTP at all (no status line, HTTP/0.9).
        if (error.curlCode() == CURLE_WEIRD_SERVER_REPLY || error.curlCode() == CURLE_UNSUPPORTED_PROTOCOL) {
            throw SledError::connectionFailed(vornText("Invalid HTTP response", "Geçersiz HTTP yanıtı"));
        }
        throw;
    }
}

VornHTTPResponse S3R2StorageProvider::sendChecked(const std::string& method, const std::string& url,
                                                  std::size_t maxBodyBytes, std::stop_token stop,
                                                  std::vector<std::pair<std::string, std::string>> headers) const {
    std::string body;
    VornHTTPResponse response = send(VornHTTPRequest{method, url, std::move(headers)}, AWSSigV4Signer::emptyPayloadSHA256,
                                     VornHTTPBody::none(), collectInto(body, maxBodyBytes), {}, std::move(stop));
    validateHTTP(response);
    response.body = std::move(body);
    return response;
}

bool S3R2StorageProvider::isErrorDocument(std::string_view body) {
    try {
        return parseListObjectsV2PageXML(body, "").documentElement == "Error";
    } catch (const SledError&) {
        return false;  // not XML at all
    }
}

// MARK: - Listing

S3R2StorageProvider::ListObjectsV2Page S3R2StorageProvider::listPage(
    const std::string& prefix, const std::optional<std::string>& delimiter, int maxKeys,
    const std::optional<std::string>& continuationToken, std::stop_token stop,
    const std::optional<std::string>& startAfter, bool flat) const {
    std::vector<QueryItem> items{{"list-type", "2"}};
    if (delimiter) items.push_back({"delimiter", *delimiter});
    items.push_back({"max-keys", std::to_string(maxKeys)});
    if (!prefix.empty()) items.push_back({"prefix", prefix});
    if (continuationToken) items.push_back({"continuation-token", *continuationToken});
    if (startAfter) items.push_back({"start-after", *startAfter});

    VornHTTPResponse response;
    try {
        response = sendChecked("GET", buildObjectURL("", items), maxListingReplyBytes, std::move(stop));
    } catch (const VornHTTPError& error) {
        if (error.kind() == VornHTTPError::Kind::bodyTooLarge) throw SledError::xmlParseFailed();
        throw;
    }
    ListObjectsV2Page page = parseListObjectsV2PageXML(response.body, prefix, flat);
    // Some services answer a failed request with status 200 and an error document; read as a
    // listing it would show an empty folder, and a sync would plan deletions from it.
    if (page.documentElement == "Error") throw SledError::httpStatus(response.statusCode, errorMessageText(response.body));
    return page;
}

SledListing S3R2StorageProvider::listDirectoryWithSkipped(const std::string& at, std::stop_token stop) const {
    const std::string prefix = normalizePrefix(at);
    std::vector<SledFileEntry> entries;
    std::unordered_map<std::string, std::size_t> indexByPath;
    std::optional<std::string> token;
    std::unordered_set<std::string> tokensSeen;
    std::vector<SledSkippedEntry> skipped;
    for (int pageNumber = 1;; ++pageNumber) {
        ListObjectsV2Page page = listPage(prefix, "/", limits_.keysPerPage, token, stop);
        for (SledFileEntry& entry : page.entries) {
            // The same path on a later page replaces the earlier one.
            const auto [position, inserted] = indexByPath.try_emplace(entry.path, entries.size());
            if (inserted) {
                entries.push_back(std::move(entry));
            } else {
                entries[position->second] = std::move(entry);
            }
        }
        std::move(page.skipped.begin(), page.skipped.end(), std::back_inserter(skipped));
        if (!page.isTruncated) break;
        // A page that says more follows but gives no way to reach it, or leads back to a page
        // already read, leaves the rest of the folder unknown: what was read is not the folder.
        if (!page.nextContinuationToken || !tokensSeen.insert(*page.nextContinuationToken).second) {
            sortListing(entries);
            throw SledListingError::incomplete(at, std::move(entries));
        }
        if (pageNumber >= limits_.maxPages) {
            sortListing(entries);
            throw SledListingError::tooLarge(at, std::move(entries));
        }
        token = std::move(page.nextContinuationToken);
    }
    sortListing(entries);
    return SledListing{std::move(entries), std::move(skipped)};
}

std::vector<SledFileEntry> S3R2StorageProvider::listDirectory(const std::string& at, std::stop_token stop) const {
    return listDirectoryWithSkipped(at, std::move(stop)).entries;
}

std::vector<SledFileEntry> S3R2StorageProvider::listObjectsUnder(const std::string& at, std::stop_token stop) const {
    const std::string prefix = normalizePrefix(at);
    std::vector<SledFileEntry> objects;
    std::optional<std::string> token;
    std::unordered_set<std::string> tokensSeen;
    for (int pageNumber = 1;; ++pageNumber) {
        ListObjectsV2Page page = listPage(prefix, std::nullopt, limits_.keysPerPage, token, stop, std::nullopt, true);
        std::move(page.entries.begin(), page.entries.end(), std::back_inserter(objects));
        if (!page.isTruncated) break;
        if (!page.nextContinuationToken || !tokensSeen.insert(*page.nextContinuationToken).second) {
            throw SledListingError::incomplete(at, {});
        }
        if (pageNumber >= limits_.maxFlatPages) throw SledListingError::tooLarge(at, {});
        token = std::move(page.nextContinuationToken);
    }
    return objects;
}

bool S3R2StorageProvider::anyKeyUnder(const std::string& prefix, std::stop_token stop) const {
    return listPage(prefix, std::nullopt, 1, std::nullopt, std::move(stop)).keyCount > 0;
}

bool S3R2StorageProvider::objectExists(const std::string& key, std::stop_token stop) const {
    const VornHTTPResponse response =
        send(VornHTTPRequest{"HEAD", buildObjectURL(key), {}}, AWSSigV4Signer::emptyPayloadSHA256,
             VornHTTPBody::none(), VornHTTPSink::memory(0), {}, std::move(stop));
    if (response.statusCode == 404) return false;
    validateHTTP(response);
    return true;
}

std::map<std::string, std::string> S3R2StorageProvider::contentDigests(const std::vector<SledFileEntry>& files,
                                                                      SledContentDigest kind,
                                                                      std::stop_token stop) const {
    std::map<std::string, std::string> digests;
    for (const SledFileEntry& file : files) {
        const std::string key = normalizeObjectKey(file.path);
        if (key.empty() || keyRefusal(key)) continue;
        VornHTTPResponse response;
        try {
            response = send(VornHTTPRequest{"HEAD", buildObjectURL(key), {}}, AWSSigV4Signer::emptyPayloadSHA256,
                            VornHTTPBody::none(), VornHTTPSink::memory(0), {}, stop);
        } catch (const VornTaskCancelled&) {
            throw;
        } catch (const std::exception&) {
            continue;  // the store tells nothing of this object
        }
        if (response.statusCode != 200) continue;
        std::optional<std::string> digest;
        if (kind == SledContentDigest::sha256) {
            digest = storedSHA256Of(response);
        } else if (const auto eTag = response.header("etag")) {
            digest = md5OfEntityTag(*eTag);
        }
        if (digest) digests.emplace(file.path, std::move(*digest));
    }
    return digests;
}

std::optional<std::string> S3R2StorageProvider::md5OfEntityTag(std::string_view eTag) {
    if (eTag.size() == 34 && eTag.front() == '"' && eTag.back() == '"') eTag = eTag.substr(1, 32);
    if (eTag.size() != 32 ||
        !std::all_of(eTag.begin(), eTag.end(), [](char c) { return VornASCII::hexDigitValue(c) >= 0; })) {
        return std::nullopt;
    }
    return VornASCII::lowercased(eTag);
}

void S3R2StorageProvider::testConnection(std::stop_token stop) const {
    // One page of the bucket root proves the endpoint, the bucket and the key; a root too large
    // to list in full is no failure of the connection.
    (void)listPage("", "/", limits_.keysPerPage, std::nullopt, std::move(stop));
}

// MARK: - Transfers

SledDownloadResult S3R2StorageProvider::downloadFile(const std::string& remotePath, const fs::path& to,
                                                     const SledProgressCallback& onProgress,
                                                     std::stop_token stop) const {
    const std::string key = normalizeObjectKey(remotePath);
    // A GET of the bucket itself would save its listing as the file.
    if (key.empty()) throw SledError::remoteCommandFailed(vornText("Cannot download the bucket root.", "Bucket kökü indirilemez."));
    const std::string url = buildObjectURL(key);

    // Both removed again unless the download lands (the temporary file first, then the folders).
    CreatedParents parents(to);
    sledRemoveStaleSiblings(to);
    // Held (and so seen in use by anyone sharing the folder) until it has its final name. An object
    // has no permission bits of its own: a new file gets the usual ones (0666 less the umask), and
    // the engine gives one that replaces a file that file's bits.
    SledHeldFile held;
    try {
        held = sledCreateHeldFile(sledHiddenSibling(to), 0666);
    } catch (const fs::filesystem_error& error) {
        throw fs::filesystem_error("cannot create the download", error.path1(), error.code());
    }
    VornTemporaryFile temporary(held.path);
    VornUniqueFd file(::fcntl(held.holder.get(), F_DUPFD_CLOEXEC, 0));
    if (!file) throw fileError("cannot create the download", temporary.path());
    std::int64_t bytes = 0;
    std::string start;
    const VornHTTPSink sink = VornHTTPSink::stream([&](std::span<const std::byte> chunk) {
        const std::string_view text(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        if (!vornWriteAll(file.get(), text)) throw fileError("cannot write the download", temporary.path());
        if (start.size() < errorDocumentBytes) start.append(text.substr(0, errorDocumentBytes - start.size()));
        bytes += static_cast<std::int64_t>(chunk.size());
    });
    const VornHTTPResponse response = send(VornHTTPRequest{"GET", url, {}}, AWSSigV4Signer::emptyPayloadSHA256,
                                           VornHTTPBody::none(), sink, onProgress, std::move(stop));
    if (response.statusCode < 100) throw SledError::connectionFailed(vornText("Invalid HTTP response", "Geçersiz HTTP yanıtı"));
    // The whole object comes with 200 and nothing else: a range was never asked for, so a 206 (or
    // any other success) would be taken for the whole file when it is not.
    if (response.statusCode != 200) {
        throw SledError::httpStatus(response.statusCode, reasonPhrase(response.statusCode));
    }
    // A service that fails after sending 200 puts its error document in the body. A stored object
    // always comes with its entity tag and such a document never does, so an object that merely
    // holds an error document still downloads.
    if (!response.header("etag") && bytes <= static_cast<std::int64_t>(errorDocumentBytes) &&
        isErrorDocument(start)) {
        throw SledError::httpStatus(response.statusCode, errorMessageText(start));
    }
    // A file that replaces another reaches the disk first, so a crash never leaves an empty file
    // where the old one was. A new file needs no such care (the same rule as local copies).
    std::error_code existsError;
    if (fs::exists(to, existsError) && ::fdatasync(file.get()) != 0) {
        throw fileError("cannot flush the download", temporary.path());
    }
    // The file takes the object's time, as a copy from a disk or a server takes the source's, so a
    // sync finds the two alike next time without reading either.
    if (const auto modified = response.header("last-modified")) {
        if (const std::optional<VornDate> at = httpDate(*modified)) {
            const auto seconds = std::chrono::floor<std::chrono::seconds>(at->time_since_epoch()).count();
            const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<std::time_t>(seconds), 0}};
            ::futimens(file.get(), times);
        }
    }
    if (file.close() != 0) throw fileError("cannot write the download", temporary.path());
    fs::rename(temporary.path(), to);
    temporary.release();
    parents.keep();

    if (onProgress) onProgress(bytes, bytes);

    SledDownloadResult result{bytes, response.header("x-amz-meta-vornsled-sha256")};
    if (!result.remoteSHA256) {
        if (const auto checksum = response.header("x-amz-checksum-sha256")) {
            result.remoteSHA256 = hexOfBase64Digest(*checksum);
        }
    }
    result.modeOfItsOwn = false;
    return result;
}

SledUploadResult S3R2StorageProvider::uploadFile(const fs::path& localURL, const std::string& to,
                                     const std::optional<std::string>& sha256Hex,
                                     const SledProgressCallback& onProgress, std::stop_token stop) const {
    const std::string digest =
        sha256Hex && !sha256Hex->empty() ? *sha256Hex : VornChecksum::sha256(localURL, VornChecksum::defaultChunkSize);
    return put(localURL, to, digest, {}, onProgress, std::move(stop));
}

SledUploadResult S3R2StorageProvider::uploadFileInsideHashing(
    const fs::path& localURL, const std::string& to, const std::string&,
    const std::function<std::optional<std::string>()>& sha256Hex, const SledProgressCallback& onProgress,
    const SledReplaceConditions& conditions, std::stop_token stop) const {
    // The signed request carries the digest before its first byte.
    const std::optional<std::string> given = sha256Hex();
    const std::string digest =
        given && !given->empty() ? *given : VornChecksum::sha256(localURL, VornChecksum::defaultChunkSize);
    return put(localURL, to, digest, conditions, onProgress, std::move(stop));
}

namespace {

// An entity tag as listings give it, without its quotes.
std::string unquotedETag(std::string_view tag) {
    if (tag.starts_with("W/")) tag.remove_prefix(2);
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"') tag = tag.substr(1, tag.size() - 2);
    return std::string(tag);
}

// Whether a refused conditional write was refused because the object is not the one named: 412
// (the condition failed), 409 (another write to the key was under way), or for "If-Match" 404
// (no object any more).
bool conditionRefused(const VornHTTPResponse& response, bool ifMatch) {
    return response.statusCode == 412 || response.statusCode == 409 || (ifMatch && response.statusCode == 404);
}

// The condition a write sends for what was listed: the listed object, or none at all.
std::optional<std::pair<std::string, std::string>> writeCondition(const SledListedDestination& listed) {
    if (!listed.exists) return std::pair<std::string, std::string>{"If-None-Match", "*"};
    if (listed.eTag && !listed.eTag->empty()) return std::pair<std::string, std::string>{"If-Match", "\"" + *listed.eTag + "\""};
    return std::nullopt;
}

}  // namespace

void S3R2StorageProvider::checkStillAsListed(const std::string& key, const SledListedDestination& listed,
                                             std::stop_token stop) const {
    const VornHTTPResponse response =
        send(VornHTTPRequest{"HEAD", buildObjectURL(key), {}}, AWSSigV4Signer::emptyPayloadSHA256,
             VornHTTPBody::none(), VornHTTPSink::memory(0), {}, std::move(stop));
    if (response.statusCode == 404) {
        if (listed.exists) throw SledChangedSinceListed();
        return;
    }
    validateHTTP(response);
    if (!listed.exists) throw SledChangedSinceListed();
    const std::optional<std::string> length = response.header("content-length");
    const std::optional<std::string> tag = response.header("etag");
    if (!length || *length != std::to_string(listed.sizeBytes) ||
        (listed.eTag && (!tag || unquotedETag(*tag) != *listed.eTag))) {
        throw SledChangedSinceListed();
    }
}

SledUploadResult S3R2StorageProvider::put(const fs::path& localURL, const std::string& to, const std::string& digest,
                                          const SledReplaceConditions& conditions,
                                          const SledProgressCallback& onProgress, std::stop_token stop) const {
    const std::string key = normalizeObjectKey(to);
    // A PUT of the bucket itself would be a request to create the bucket.
    if (key.empty()) throw SledError::remoteCommandFailed(vornText("Cannot upload to the bucket root.", "Bucket köküne yüklenemez."));
    const std::string url = buildObjectURL(key);
    // The length is taken once, when the body is opened, so the one Content-Length sent is the
    // one the body delivers.
    VornHTTPBody body = VornHTTPBody::file(localURL);
    const auto size = static_cast<std::int64_t>(body.length());

    VornHTTPRequest request{"PUT", url, {}};
    request.setHeader("Content-Type", "application/octet-stream");
    request.setHeader("Content-Length", std::to_string(size));
    request.setHeader("x-amz-meta-vornsled-sha256", digest);
    std::optional<std::pair<std::string, std::string>> condition;
    if (conditions.listed) {
        // The HEAD is the check; the condition only closes the moment between it and the write, on
        // a store that honours it.
        checkStillAsListed(key, *conditions.listed, stop);
        condition = writeCondition(*conditions.listed);
        if (condition) request.setHeader(condition->first, condition->second);
    }
    if (conditions.beforeReplacing) {
        // An object is stored only once its whole body arrived: the last bytes are the last moment.
        if (size == 0) conditions.beforeReplacing();
        body = body.checkedBeforeItsEnd(conditions.beforeReplacing);
    }
    std::string reply;
    const VornHTTPResponse response =
        send(std::move(request), digest, body, collectInto(reply, maxSmallReplyBytes), onProgress, std::move(stop));
    if (condition && conditionRefused(response, condition->first == "If-Match")) throw SledChangedSinceListed();
    validateHTTP(response);
    if (onProgress) onProgress(size, size);
    // The request carried the digest as its signed payload hash, which the server checks against
    // the bytes it received before it accepts them: the accepted PUT is the server's own digest
    // agreeing with ours. A checksum the server reports of what it stored counts first.
    const auto checksum = response.header("x-amz-checksum-sha256");
    return {checksum ? hexOfBase64Digest(*checksum) : std::optional<std::string>(digest)};
}

// MARK: - Folders, deletes, renames

void S3R2StorageProvider::createDirectory(const std::string& at, std::stop_token stop) const {
    const std::string prefix = normalizePrefix(at);
    if (prefix.empty()) return;  // the bucket root always exists
    sendChecked("PUT", buildObjectURL(prefix), maxSmallReplyBytes, std::move(stop));
}

std::optional<std::string> S3R2StorageProvider::pathOutOfReach(const std::string& path, bool) const {
    return keyRefusal(normalizeObjectKey(path));
}

void S3R2StorageProvider::deleteItem(const std::string& at, bool isDirectory, std::stop_token stop) const {
    const std::string key = isDirectory ? normalizePrefix(at) : normalizeObjectKey(at);
    // "DELETE /bucket" would address the bucket itself.
    if (key.empty()) throw SledError::remoteCommandFailed(vornText("Cannot delete the bucket root.", "Bucket kökü silinemez."));
    // A folder is its marker and every key below it, and the one DELETE removes only the marker:
    // a folder that still holds anything would stay, listed through what it holds, after a delete
    // reported done. So one that holds anything is refused; the first key after the marker tells.
    if (isDirectory && listPage(key, std::nullopt, 1, std::nullopt, stop, key).keyCount > 0) {
        const std::string folder = key.substr(0, key.size() - 1);
        const std::size_t slash = folder.rfind('/');
        const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
        throw SledError::remoteCommandFailed(
            vornText("The folder '" + name + "' is not empty; delete what it holds first.",
                     "'" + name + "' klasörü boş değil; önce içindekileri silin."));
    }
    sendChecked("DELETE", buildObjectURL(key), maxSmallReplyBytes, std::move(stop));
}

void S3R2StorageProvider::deleteItemAsListed(const std::string& at, bool isDirectory,
                                             const SledListedDestination& listed, std::stop_token stop) const {
    if (isDirectory) {
        deleteItem(at, isDirectory, std::move(stop));
        return;
    }
    const std::string key = normalizeObjectKey(at);
    if (key.empty()) throw SledError::remoteCommandFailed(vornText("Cannot delete the bucket root.", "Bucket kökü silinemez."));
    checkStillAsListed(key, listed, stop);
    std::vector<std::pair<std::string, std::string>> headers;
    const std::optional<std::pair<std::string, std::string>> condition = writeCondition(listed);
    if (condition && condition->first == "If-Match") headers.push_back(*condition);
    std::string body;
    const VornHTTPResponse response =
        send(VornHTTPRequest{"DELETE", buildObjectURL(key), std::move(headers)}, AWSSigV4Signer::emptyPayloadSHA256,
             VornHTTPBody::none(), collectInto(body, maxSmallReplyBytes), {}, std::move(stop));
    if (condition && conditionRefused(response, true)) throw SledChangedSinceListed();
    validateHTTP(response);
}

void S3R2StorageProvider::copySingleObject(const std::string& fromKey, const std::string& toKey,
                                           std::stop_token stop) const {
    const std::string url = buildObjectURL(toKey);
    requireUTF8Key(fromKey);
    const std::string source =
        "/" + AWSSigV4Signer::awsPercentEncode(VornUnicode::trimmed(profile_.bucket)) + "/" + encodeKey(fromKey);
    const VornHTTPResponse response = sendChecked(
        "PUT", url, maxSmallReplyBytes, std::move(stop),
        {{"x-amz-copy-source", source}, {"x-amz-metadata-directive", "COPY"}});
    // A copy can fail after its 200 status has gone out; the error document then is the body.
    // Deleting the source after such a "success" would lose the object.
    if (!response.body.empty() && isErrorDocument(response.body)) {
        throw SledError::httpStatus(response.statusCode, errorMessageText(response.body));
    }
}

void S3R2StorageProvider::renameItem(const std::string& from, const std::string& to, bool isDirectory,
                                     std::stop_token stop) const {
    if (!isDirectory) {
        const std::string sourceKey = normalizeObjectKey(from);
        const std::string destinationKey = normalizeObjectKey(to);
        if (sourceKey.empty() || destinationKey.empty() || sourceKey == destinationKey) return;
        if (objectExists(destinationKey, stop)) throw SledError::remoteCommandFailed(alreadyExists(destinationKey));
        copySingleObject(sourceKey, destinationKey, stop);
        deleteItem(from, false, stop);
        return;
    }

    const std::string sourcePrefix = normalizePrefix(from);
    const std::string destinationPrefix = normalizePrefix(to);
    if (sourcePrefix.empty() || destinationPrefix.empty() || sourcePrefix == destinationPrefix) return;
    if (anyKeyUnder(destinationPrefix, stop)) throw SledError::remoteCommandFailed(alreadyExists(destinationPrefix));

    // The whole tree is listed before anything moves: a listing failure, a folder too large to
    // list or a cancellation changes nothing. Flat, so that nothing at any depth stays behind.
    const std::vector<SledFileEntry> objects = listObjectsUnder(from, stop);
    if (objects.empty()) {
        createDirectory(to, stop);
        return;
    }
    for (std::size_t index = 0; index < objects.size(); ++index) {
        if (stop.stop_requested()) throw VornTaskCancelled();
        // The entry's path is "/" and the key exactly as listed (a key may end in a space, which
        // normalizing would cut).
        const std::string sourceKey = objects[index].path.substr(1);
        try {
            copySingleObject(sourceKey, destinationPrefix + objects[index].name, stop);
            sendChecked("DELETE", buildObjectURL(sourceKey), maxSmallReplyBytes, stop);
        } catch (const VornTaskCancelled&) {
            throw;
        } catch (const std::exception& error) {
            // Nothing is moved back: what moved stays moved, and the message says what did not.
            const std::string left = std::to_string(objects.size() - index);
            const std::string cause = failureText(error);
            throw SledError::remoteCommandFailed(vornText(
                "The rename stopped at '" + sourceKey + "': " + cause + " " + left +
                    " item(s) from there on stay under '" + sourcePrefix + "'; the others were moved to '" +
                    destinationPrefix + "'.",
                "Yeniden adlandırma '" + sourceKey + "' öğesinde durdu: " + cause + " Oradan itibaren " + left +
                    " öğe '" + sourcePrefix + "' altında kaldı; diğerleri '" + destinationPrefix + "' altına taşındı."));
        }
    }
}
