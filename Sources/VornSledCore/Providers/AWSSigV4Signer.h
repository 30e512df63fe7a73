#pragma once

#include "VornDate.h"
#include "VornHTTPClient.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Signs S3 requests with AWS Signature Version 4 ("AWS4-HMAC-SHA256"): header signing of a
// request about to be sent, and query signing of a link handed to a user. An immutable value;
// safe to use from any thread. The secret key is only ever HMAC key material.
class AWSSigV4Signer {
public:
    using SymmetricKey = std::vector<std::uint8_t>;

    // Lower-case hex SHA-256 of no bytes: the payload hash of every request without a body.
    static constexpr std::string_view emptyPayloadSHA256 =
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

    AWSSigV4Signer(std::string accessKeyID, std::string secretAccessKey, std::string region, std::string service);

    const std::string& accessKeyID() const { return accessKeyID_; }
    const std::string& secretAccessKey() const { return secretAccessKey_; }
    const std::string& region() const { return region_; }
    const std::string& service() const { return service_; }

    // A signed copy of `request`: Host, x-amz-date and x-amz-content-sha256 (exactly
    // `payloadSHA256Hex`) are set, every header field is signed, and Authorization is added.
    // Throws SledError::invalidProfile("Missing request host") for a URL without a host.
    VornHTTPRequest sign(const VornHTTPRequest& request, std::string_view payloadSHA256Hex, VornDate date) const;

    // `url` with the presign query (sorted, signature last), valid for `expiresInSeconds`
    // clamped to 1…604800. Only the host header is signed; the payload is "UNSIGNED-PAYLOAD".
    std::string presignedURL(std::string_view url, std::string_view httpMethod, std::int64_t expiresInSeconds,
                             VornDate date) const;

    // "/" followed by the decoded path's segments, each encoded once; every segment is kept,
    // empty ones included, so "/a//" stays "/a//" (keys are taken verbatim).
    static std::string canonicalURIPath(std::string_view url);
    // Decoded query items re-encoded, sorted by name then value, an item without value as "name=".
    static std::string canonicalQueryString(std::string_view url);
    // Every byte other than A–Z a–z 0–9 - . _ ~ becomes %XX (upper-case hex).
    static std::string awsPercentEncode(std::string_view text);
    static std::string sha256Hex(std::span<const std::uint8_t> bytes);
    static std::string sha256Hex(std::string_view bytes);
    static SymmetricKey hmacKey(std::span<const std::uint8_t> key, std::string_view message);
    static std::string hmacHex(std::span<const std::uint8_t> key, std::string_view message);
    // "yyyyMMdd'T'HHmmss'Z'" in UTC, whatever the process locale.
    static std::string formatAMZDate(VornDate date);

private:
    std::string credentialScope(std::string_view dateStamp) const;
    std::string signature(std::string_view amzDate, std::string_view canonicalRequest) const;

    std::string accessKeyID_;
    std::string secretAccessKey_;
    std::string region_;
    std::string service_;
};
