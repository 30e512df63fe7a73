#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// One request head of the LAN protocol as the server reads it (the bytes before CR LF CR LF).
// The parser is our own, written for hostile input: any byte sequence yields either a head or
// nothing, never undefined behaviour, and nothing is kept beyond the head itself.
struct LANRequestHead {
    std::string method;   // first piece of the request line, ASCII upper-cased
    std::string target;   // second piece, as sent
    std::string path;     // the target's percent-decoded path (the raw target when it is no URL)
    std::optional<std::string> pinQueryItem;     // first "pin" query item, when there is one
    std::map<std::string, std::string> headers;  // lower-cased names; a repeated name keeps the last value

    // Nothing when the head has no request line of at least two pieces. Invalid UTF-8 is read
    // with each ill-formed part replaced by U+FFFD.
    static std::optional<LANRequestHead> parse(std::string_view head);

    // The header's value, or nothing when the request did not carry it (an empty value counts).
    std::optional<std::string> header(std::string_view lowerCaseName) const;

    // The PIN the request presents: the PIN header if present (even empty), else the query item,
    // else "".
    std::string presentedPIN() const;

    // "content-length" as a decimal integer; 0 when missing, unparsable, negative or beyond 2^63.
    std::int64_t contentLength() const;
};

// Percent-decodes `text`; nothing when an escape is malformed or the result is not UTF-8.
// "+" stays "+".
std::optional<std::string> lanPercentDecoded(std::string_view text);

// Percent-decodes `text`, falling back to the text as sent when decoding fails.
std::string lanPercentDecodedOrSelf(std::string_view text);
