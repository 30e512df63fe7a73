#pragma once

#include "VornUUID.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// A JSON document, or a value inside it, does not have the form the reader expects: not JSON at
// all, too large, a missing key, a value of the wrong type, an out-of-range number or an unknown
// enumeration text. The message names what was wrong and where.
class VornDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How vornJSONText writes a document. The defaults give the compact form.
struct VornJSONWriteOptions {
    // One member or element per line, two blanks per level, " : " between key and value; an empty
    // array or object is written as the opening bracket, two line breaks, the indent and the
    // closing bracket, the layout that files written on the maker's other platform have.
    bool prettyPrinted = false;
    // Members of every object in ascending byte order of their keys; otherwise in the order the
    // value holds them (declaration order for records coded into an ordered_json).
    bool sortedKeys = false;
    // "/" written as "\/" inside strings.
    bool escapeSlashes = true;
};

// The deepest nesting of arrays and objects any document may have, read or written. No file or
// reply of ours comes near it; a document past it is refused before anything is built from it, so
// a small file that holds or expands to millions of brackets costs one pass over its bytes.
inline constexpr std::size_t vornJSONMaxDepth = 512;

// The text of a JSON value. Strings keep non-ASCII characters as UTF-8; quote, backslash and
// control characters are escaped (\b \f \n \r \t or \u00XX). Integers are written as decimal digits;
// floating-point numbers as the shortest text that reads back to the same value, without a ".0"
// suffix, in exponent form below 1e-4 and from 1e16 in magnitude. Throws VornDecodingError for a
// non-finite number, a binary value, text (a string or a key) that is not UTF-8, or nesting
// deeper than vornJSONMaxDepth: what JSON cannot hold or vornJSONParse would refuse to read back.
std::string vornJSONText(const nlohmann::json& value, const VornJSONWriteOptions& options = {});
std::string vornJSONText(const nlohmann::ordered_json& value, const VornJSONWriteOptions& options = {});

// Parses a whole document of at most `maxBytes` bytes. Throws VornDecodingError when the text is
// larger, nests arrays and objects deeper than vornJSONMaxDepth, is not JSON, or holds text that is
// not UTF-8. Every JSON read from a file or the network goes through here or the function below.
nlohmann::json vornJSONParse(std::string_view text, std::size_t maxBytes);
// The same, for readers that treat any bad document alike: a discarded value
// (is_discarded()) instead of the exception.
nlohmann::json vornJSONParseOrDiscarded(std::string_view text, std::size_t maxBytes);
// True when no array or object in `text` lies deeper than `maxDepth` (counted from 1 for the
// outermost); brackets inside strings do not count. Only meaningful for text that parses.
bool vornJSONNestingWithin(std::string_view text, std::size_t maxDepth);

// Typed access to the members of one JSON object, for the decoders of records. Every failure
// throws VornDecodingError naming the member ("settings.lanPort: ...").
class VornJSONObjectReader {
public:
    // Throws unless `value` is an object. `context` names the value in messages (for example
    // "ConnectionProfile"); it must outlive the reader.
    VornJSONObjectReader(const nlohmann::json& value, std::string_view context);

    // The member's value when it is present and not null, else nullptr.
    const nlohmann::json* optionalValue(std::string_view key) const;
    // The member's value; throws when it is missing or null.
    const nlohmann::json& value(std::string_view key) const;

    std::string string(std::string_view key) const;
    bool boolean(std::string_view key) const;
    // An integral number in the range of int64 (5 and 5.0 both read as 5; 5.5 fails).
    std::int64_t int64(std::string_view key) const;
    // An integral number from 0 to 65535.
    std::uint16_t uint16(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;

    // "context.key", for messages of nested decoders.
    std::string path(std::string_view key) const;
    // Throws VornDecodingError with "context.key: what".
    [[noreturn]] void fail(std::string_view key, std::string_view what) const;

private:
    const nlohmann::json& object_;
    std::string_view context_;
};

// Conversions of single JSON values with the same rules as the reader above; `path` names the
// value in the message of the VornDecodingError they throw.
std::string vornJSONGetString(const nlohmann::json& value, std::string_view path);
bool vornJSONGetBoolean(const nlohmann::json& value, std::string_view path);
std::int64_t vornJSONGetInt64(const nlohmann::json& value, std::string_view path);
// A UUID text in either letter case.
VornUUID vornJSONGetUUID(const nlohmann::json& value, std::string_view path);
