#include "AWSSigV4Signer.h"

#include "SledError.h"
#include "VornASCII.h"
#include "VornChecksum.h"
#include "VornURLComponents.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

namespace {

constexpr std::string_view algorithm = "AWS4-HMAC-SHA256";
constexpr std::int64_t longestPresignLifetime = 7 * 24 * 60 * 60;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Outer white space and line breaks go; inner runs of spaces and tabs become one space.
std::string canonicalHeaderValue(std::string_view value) {
    const auto first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    value = value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
    std::string out;
    out.reserve(value.size());
    bool inGap = false;
    for (char c : value) {
        if (c == ' ' || c == '\t') {
            inGap = true;
            continue;
        }
        if (inGap && !out.empty()) out.push_back(' ');
        inGap = false;
        out.push_back(c);
    }
    return out;
}

// Host as it goes in the Host field: the port only when it is not the scheme's default.
std::string hostValue(const VornURLComponents& url) {
    std::string host = *url.host;
    if (url.port && !(url.scheme == "https" && *url.port == 443) && !(url.scheme == "http" && *url.port == 80)) {
        host += ":" + std::to_string(*url.port);
    }
    return host;
}

// Names and values encoded, sorted by name then value (byte order), joined as name=value&...
std::string canonicalQuery(const std::vector<VornURLQueryItem>& items) {
    std::vector<std::pair<std::string, std::string>> pairs;
    pairs.reserve(items.size());
    for (const auto& item : items) {
        pairs.emplace_back(AWSSigV4Signer::awsPercentEncode(item.name),
                           AWSSigV4Signer::awsPercentEncode(item.value.value_or("")));
    }
    std::sort(pairs.begin(), pairs.end());
    std::string out;
    for (const auto& [name, value] : pairs) {
        if (!out.empty()) out += '&';
        out += name;
        out += '=';
        out += value;
    }
    return out;
}

std::string canonicalPath(const std::optional<VornURLComponents>& url) {
    if (!url) return "/";
    const std::string path = url->path();
    if (path.empty() || path == "/") return "/";

    // Object stores take keys verbatim, so every piece counts, empty ones included: the key "a//"
    // is signed as "/a//", never folded into "a/" (the service would then refuse the signature).
    std::vector<std::string_view> pieces;
    std::string_view rest = path;
    while (true) {
        const auto slash = rest.find('/');
        pieces.push_back(rest.substr(0, slash));
        if (slash == std::string_view::npos) break;
        rest = rest.substr(slash + 1);
    }
    if (pieces.front().empty()) pieces.erase(pieces.begin());  // the leading "/"

    std::string out;
    for (const auto piece : pieces) {
        out += '/';
        out += AWSSigV4Signer::awsPercentEncode(piece);
    }
    return out;
}

void appendPadded(std::string& out, long value, int width) {
    char buffer[24];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value < 0 ? -value : value);
    (void)error;
    if (value < 0) out += '-';
    for (auto digits = end - buffer; digits < width; ++digits) out += '0';
    out.append(buffer, end);
}

[[noreturn]] void invalidProfile(const char* message) { throw SledError::invalidProfile(message); }

}  // namespace

AWSSigV4Signer::AWSSigV4Signer(std::string accessKeyID, std::string secretAccessKey, std::string region,
                               std::string service)
    : accessKeyID_(std::move(accessKeyID)),
      secretAccessKey_(std::move(secretAccessKey)),
      region_(std::move(region)),
      service_(std::move(service)) {}

std::string AWSSigV4Signer::awsPercentEncode(std::string_view text) {
    return VornURLComponents::percentEncodeUnreserved(text);
}

std::string AWSSigV4Signer::canonicalURIPath(std::string_view url) {
    return canonicalPath(VornURLComponents::parse(url));
}

std::string AWSSigV4Signer::canonicalQueryString(std::string_view url) {
    const auto components = VornURLComponents::parse(url);
    if (!components) return {};
    return canonicalQuery(components->queryItems());
}

std::string AWSSigV4Signer::sha256Hex(std::span<const std::uint8_t> bytes) {
    return VornSHA256::hexDigest({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::string AWSSigV4Signer::sha256Hex(std::string_view bytes) { return VornSHA256::hexDigest(bytes); }

AWSSigV4Signer::SymmetricKey AWSSigV4Signer::hmacKey(std::span<const std::uint8_t> key, std::string_view message) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), bytesOf(message).data(), message.size(), mac,
         &length);
    return SymmetricKey(mac, mac + length);
}

std::string AWSSigV4Signer::hmacHex(std::span<const std::uint8_t> key, std::string_view message) {
    const SymmetricKey mac = hmacKey(key, message);
    return vornHexLower(mac);
}

std::string AWSSigV4Signer::formatAMZDate(VornDate date) {
    using namespace std::chrono;
    const auto second = floor<seconds>(date);
    const auto day = floor<days>(second);
    const year_month_day ymd{day};
    const hh_mm_ss time{second - day};
    std::string out;
    out.reserve(16);
    appendPadded(out, static_cast<int>(ymd.year()), 4);
    appendPadded(out, static_cast<long>(static_cast<unsigned>(ymd.month())), 2);
    appendPadded(out, static_cast<long>(static_cast<unsigned>(ymd.day())), 2);
    out += 'T';
    appendPadded(out, static_cast<long>(time.hours().count()), 2);
    appendPadded(out, static_cast<long>(time.minutes().count()), 2);
    appendPadded(out, static_cast<long>(time.seconds().count()), 2);
    out += 'Z';
    return out;
}

std::string AWSSigV4Signer::credentialScope(std::string_view dateStamp) const {
    return std::string(dateStamp) + "/" + region_ + "/" + service_ + "/aws4_request";
}

std::string AWSSigV4Signer::signature(std::string_view amzDate, std::string_view canonicalRequest) const {
    const std::string_view dateStamp = amzDate.substr(0, 8);
    const std::string stringToSign = std::string(algorithm) + "\n" + std::string(amzDate) + "\n" +
                                     credentialScope(dateStamp) + "\n" + sha256Hex(canonicalRequest);
    SymmetricKey key = hmacKey(bytesOf("AWS4" + secretAccessKey_), dateStamp);
    key = hmacKey(key, region_);
    key = hmacKey(key, service_);
    key = hmacKey(key, "aws4_request");
    return hmacHex(key, stringToSign);
}

VornHTTPRequest AWSSigV4Signer::sign(const VornHTTPRequest& request, std::string_view payloadSHA256Hex,
                                     VornDate date) const {
    const auto url = VornURLComponents::parse(request.url);
    if (!url || !url->host || url->host->empty()) invalidProfile("Missing request host");

    VornHTTPRequest signed_ = request;
    const std::string amzDate = formatAMZDate(date);
    signed_.setHeader("Host", hostValue(*url));
    signed_.setHeader("x-amz-date", amzDate);
    signed_.setHeader("x-amz-content-sha256", payloadSHA256Hex);

    // Every field is signed; fields that share a name are one field with comma-joined values.
    std::map<std::string, std::string> fields;
    for (const auto& [name, value] : signed_.headers) {
        auto [slot, inserted] = fields.try_emplace(VornASCII::lowercased(name), canonicalHeaderValue(value));
        if (!inserted) slot->second += "," + canonicalHeaderValue(value);
    }
    std::string canonicalHeaders;
    std::string signedHeaders;
    for (const auto& [name, value] : fields) {
        canonicalHeaders += name + ":" + value + "\n";
        if (!signedHeaders.empty()) signedHeaders += ';';
        signedHeaders += name;
    }

    const std::string method = request.method.empty() ? std::string("GET") : VornASCII::uppercased(request.method);
    const std::string canonicalRequest = method + "\n" + canonicalPath(url) + "\n" +
                                         canonicalQuery(url->queryItems()) + "\n" + canonicalHeaders + "\n" +
                                         signedHeaders + "\n" + std::string(payloadSHA256Hex);

    signed_.setHeader("Authorization", std::string(algorithm) + " Credential=" + accessKeyID_ + "/" +
                                           credentialScope(std::string_view(amzDate).substr(0, 8)) +
                                           ", SignedHeaders=" + signedHeaders +
                                           ", Signature=" + signature(amzDate, canonicalRequest));
    return signed_;
}

std::string AWSSigV4Signer::presignedURL(std::string_view urlText, std::string_view httpMethod,
                                         std::int64_t expiresInSeconds, VornDate date) const {
    auto url = VornURLComponents::parse(urlText);
    if (!url || !url->host || url->host->empty()) invalidProfile("Missing request host");

    const std::int64_t lifetime = std::clamp<std::int64_t>(expiresInSeconds, 1, longestPresignLifetime);
    const std::string amzDate = formatAMZDate(date);
    const std::string host = hostValue(*url);

    auto items = url->queryItems();
    items.push_back({"X-Amz-Algorithm", std::string(algorithm)});
    items.push_back({"X-Amz-Credential", accessKeyID_ + "/" + credentialScope(std::string_view(amzDate).substr(0, 8))});
    items.push_back({"X-Amz-Date", amzDate});
    items.push_back({"X-Amz-Expires", std::to_string(lifetime)});
    items.push_back({"X-Amz-SignedHeaders", "host"});
    const std::string query = canonicalQuery(items);

    const std::string method = httpMethod.empty() ? std::string("GET") : VornASCII::uppercased(httpMethod);
    const std::string canonicalRequest = method + "\n" + canonicalPath(url) + "\n" + query + "\n" + "host:" + host +
                                         "\n\nhost\nUNSIGNED-PAYLOAD";

    url->percentEncodedQuery = query + "&X-Amz-Signature=" + signature(amzDate, canonicalRequest);
    std::string result = url->string();
    if (!VornURLComponents::parse(result)) invalidProfile("Could not assemble presigned URL");
    return result;
}
