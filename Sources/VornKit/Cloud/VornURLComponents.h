#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One item of a URL's query, decoded. An item written without "=" has no value.
struct VornURLQueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const VornURLQueryItem&) const = default;
};

// An absolute or relative URL split into its parts, each kept exactly as written
// (percent-encoded), so that a URL can be inspected and reassembled without changing the bytes
// that go on the wire. Parsing is strict: spaces, control characters, bytes above 0x7F and
// malformed percent escapes are refused rather than guessed at.
class VornURLComponents {
public:
    // nullopt when the text is not a well-formed URL.
    static std::optional<VornURLComponents> parse(std::string_view text);

    std::string scheme;                          // lower-cased; empty for a relative reference
    std::optional<std::string> percentEncodedUser;  // user information before "@", as written
    std::optional<std::string> host;             // as written; IPv6 literals keep their brackets
    std::optional<int> port;                     // only when the URL names one
    std::string percentEncodedPath;
    std::optional<std::string> percentEncodedQuery;
    std::optional<std::string> percentEncodedFragment;

    // The path with its percent escapes decoded (the bytes may be any bytes, not only UTF-8).
    std::string path() const;
    // The query split at "&" (empty pieces skipped) and each name and value decoded. "+" stays a
    // plus sign: form encoding is not URL encoding.
    std::vector<VornURLQueryItem> queryItems() const;

    // The URL text again, from the parts as they are now.
    std::string string() const;

    static std::string percentDecode(std::string_view encoded);
    // Every byte but the unreserved A-Z a-z 0-9 - . _ ~ as %XX (upper-case hex), so that "&", "=",
    // "+", "/" and spaces inside a value can never change the structure of the text it stands in.
    static std::string percentEncodeUnreserved(std::string_view text);
};
