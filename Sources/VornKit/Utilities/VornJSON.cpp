#include "VornJSON.h"

#include "VornUnicode.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

namespace {

void appendEscapedString(std::string& out, std::string_view text, bool escapeSlashes) {
    // Written raw, such bytes would make a file the parser rejects as a whole.
    if (!VornUnicode::isValidUTF8(text)) {
        throw VornDecodingError("text that is not UTF-8 cannot be written as JSON");
    }
    constexpr char hexDigits[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '/':
                if (escapeSlashes) {
                    out += "\\/";
                } else {
                    out.push_back('/');
                }
                break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out.push_back(hexDigits[byte >> 4]);
                    out.push_back(hexDigits[byte & 0x0F]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

template <class Integer>
void appendInteger(std::string& out, Integer value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Shortest round-trip digits, laid out in fixed notation for decimal exponents -4…15 and in
// exponent notation ("1e-05", "1.5e+16") outside, with no ".0" on whole numbers.
void appendDouble(std::string& out, double value) {
    if (!std::isfinite(value)) {
        throw VornDecodingError("a JSON number cannot be infinite or NaN");
    }
    if (value == 0) {
        out += std::signbit(value) ? "-0" : "0";
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t ePosition = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, ePosition);
    int exponent = 0;
    const std::string_view exponentText = scientific.substr(ePosition + 1);
    std::from_chars(exponentText.data() + (exponentText.front() == '+' ? 1 : 0),
                    exponentText.data() + exponentText.size(), exponent);
    bool negative = false;
    if (mantissa.front() == '-') {
        negative = true;
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    if (negative) {
        out.push_back('-');
    }
    if (exponent < -4 || exponent >= 16) {
        out.push_back(digits[0]);
        if (digits.size() > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out += exponent < 0 ? "e-" : "e+";
        const int magnitude = std::abs(exponent);
        if (magnitude < 10) {
            out.push_back('0');
        }
        appendInteger(out, magnitude);
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else {
        const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out += digits;
            out.append(integerDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, integerDigits);
            out.push_back('.');
            out.append(digits, integerDigits);
        }
    }
}

template <class Json>
class Writer {
public:
    explicit Writer(const VornJSONWriteOptions& options) : options_(options) {}

    void write(const Json& value, int depth) {
        switch (value.type()) {
            case nlohmann::json::value_t::null: out += "null"; break;
            case nlohmann::json::value_t::boolean: out += value.template get<bool>() ? "true" : "false"; break;
            case nlohmann::json::value_t::number_integer: appendInteger(out, value.template get<std::int64_t>()); break;
            case nlohmann::json::value_t::number_unsigned: appendInteger(out, value.template get<std::uint64_t>()); break;
            case nlohmann::json::value_t::number_float: appendDouble(out, value.template get<double>()); break;
            case nlohmann::json::value_t::string:
                appendEscapedString(out, value.template get_ref<const std::string&>(), options_.escapeSlashes);
                break;
            case nlohmann::json::value_t::array:
                checkDepth(depth);
                writeArray(value, depth);
                break;
            case nlohmann::json::value_t::object:
                checkDepth(depth);
                writeObject(value, depth);
                break;
            case nlohmann::json::value_t::binary:
            case nlohmann::json::value_t::discarded: throw VornDecodingError("a binary value cannot be written as JSON");
        }
    }

    std::string out;

private:
    // `depth` counts the containers around the one about to be written.
    static void checkDepth(int depth) {
        if (static_cast<std::size_t>(depth) >= vornJSONMaxDepth) {
            throw VornDecodingError("JSON nesting deeper than " + std::to_string(vornJSONMaxDepth) +
                                    " levels would not be read back");
        }
    }

    void indent(int depth) {
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
    }
    void open(char bracket) {
        out.push_back(bracket);
        if (options_.prettyPrinted) {
            out.push_back('\n');
        }
    }
    void separate(bool& first, int depth) {
        if (!first) {
            out += options_.prettyPrinted ? ",\n" : ",";
        }
        first = false;
        if (options_.prettyPrinted) {
            indent(depth);
        }
    }
    void close(char bracket, int depth) {
        if (options_.prettyPrinted) {
            out.push_back('\n');
            indent(depth);
        }
        out.push_back(bracket);
    }

    void writeArray(const Json& array, int depth) {
        open('[');
        bool first = true;
        for (const auto& element : array) {
            separate(first, depth + 1);
            write(element, depth + 1);
        }
        close(']', depth);
    }

    void writeMember(const std::string& key, const Json& member, bool& first, int depth) {
        separate(first, depth + 1);
        appendEscapedString(out, key, options_.escapeSlashes);
        out += options_.prettyPrinted ? " : " : ":";
        write(member, depth + 1);
    }

    void writeObject(const Json& object, int depth) {
        open('{');
        bool first = true;
        if (options_.sortedKeys) {
            std::vector<typename Json::const_iterator> members;
            for (auto it = object.cbegin(); it != object.cend(); ++it) {
                members.push_back(it);
            }
            std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });
            for (const auto& it : members) {
                writeMember(it.key(), it.value(), first, depth);
            }
        } else {
            for (auto it = object.cbegin(); it != object.cend(); ++it) {
                writeMember(it.key(), it.value(), first, depth);
            }
        }
        close('}', depth);
    }

    const VornJSONWriteOptions& options_;
};

// Names a value in a message without copying a large document into it.
std::string describe(const nlohmann::json& value) {
    if (value.is_number()) {
        return value.dump();
    }
    return value.type_name();
}

}  // namespace

std::string vornJSONText(const nlohmann::json& value, const VornJSONWriteOptions& options) {
    Writer<nlohmann::json> writer(options);
    writer.write(value, 0);
    return std::move(writer.out);
}

std::string vornJSONText(const nlohmann::ordered_json& value, const VornJSONWriteOptions& options) {
    Writer<nlohmann::ordered_json> writer(options);
    writer.write(value, 0);
    return std::move(writer.out);
}

nlohmann::json vornJSONParse(std::string_view text, std::size_t maxBytes) {
    if (text.size() > maxBytes) {
        throw VornDecodingError("JSON document of " + std::to_string(text.size()) + " bytes exceeds the limit of " +
                                std::to_string(maxBytes) + " bytes");
    }
    // The parser itself has no depth limit: every level is a heap node, so a few MiB of "[" would
    // take gigabytes before failing. One scan of the bytes refuses that first.
    if (!vornJSONNestingWithin(text, vornJSONMaxDepth)) {
        throw VornDecodingError("JSON document nests deeper than " + std::to_string(vornJSONMaxDepth) + " levels");
    }
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        throw VornDecodingError(std::string("not a valid JSON document: ") + error.what());
    }
}

nlohmann::json vornJSONParseOrDiscarded(std::string_view text, std::size_t maxBytes) {
    try {
        return vornJSONParse(text, maxBytes);
    } catch (const VornDecodingError&) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}

bool vornJSONNestingWithin(std::string_view text, std::size_t maxDepth) {
    // Up to the first syntax error the parser sees the same tokens, so on any text it would get
    // as far as that error with, the count here is its depth.
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) {
                return false;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

std::string vornJSONGetString(const nlohmann::json& value, std::string_view path) {
    if (!value.is_string()) {
        throw VornDecodingError(std::string(path) + ": expected a string, found " + describe(value));
    }
    return value.get<std::string>();
}

bool vornJSONGetBoolean(const nlohmann::json& value, std::string_view path) {
    if (!value.is_boolean()) {
        throw VornDecodingError(std::string(path) + ": expected a boolean, found " + describe(value));
    }
    return value.get<bool>();
}

std::int64_t vornJSONGetInt64(const nlohmann::json& value, std::string_view path) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw VornDecodingError(std::string(path) + ": " + value.dump() + " does not fit a 64-bit integer");
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 is the first double above the int64 range.
        if (std::trunc(number) != number || number < -9223372036854775808.0 || number >= 9223372036854775808.0) {
            throw VornDecodingError(std::string(path) + ": " + value.dump() + " is not an integer of 64 bits");
        }
        return static_cast<std::int64_t>(number);
    }
    throw VornDecodingError(std::string(path) + ": expected an integer, found " + describe(value));
}

VornJSONObjectReader::VornJSONObjectReader(const nlohmann::json& value, std::string_view context)
    : object_(value), context_(context) {
    if (!value.is_object()) {
        throw VornDecodingError(std::string(context) + ": expected an object, found " + describe(value));
    }
}

std::string VornJSONObjectReader::path(std::string_view key) const {
    std::string text(context_);
    text.push_back('.');
    text.append(key);
    return text;
}

void VornJSONObjectReader::fail(std::string_view key, std::string_view what) const {
    throw VornDecodingError(path(key) + ": " + std::string(what));
}

const nlohmann::json* VornJSONObjectReader::optionalValue(std::string_view key) const {
    const auto it = object_.find(key);
    if (it == object_.end() || it->is_null()) {
        return nullptr;
    }
    return &*it;
}

const nlohmann::json& VornJSONObjectReader::value(std::string_view key) const {
    const auto it = object_.find(key);
    if (it == object_.end()) {
        fail(key, "required key is missing");
    }
    if (it->is_null()) {
        fail(key, "required value is null");
    }
    return *it;
}

std::string VornJSONObjectReader::string(std::string_view key) const {
    return vornJSONGetString(value(key), path(key));
}

bool VornJSONObjectReader::boolean(std::string_view key) const {
    return vornJSONGetBoolean(value(key), path(key));
}

std::int64_t VornJSONObjectReader::int64(std::string_view key) const {
    return vornJSONGetInt64(value(key), path(key));
}

std::uint16_t VornJSONObjectReader::uint16(std::string_view key) const {
    const nlohmann::json& member = value(key);
    std::int64_t number = 0;
    try {
        number = vornJSONGetInt64(member, path(key));
    } catch (const VornDecodingError&) {
        fail(key, "expected an integer from 0 to 65535, found " + describe(member));
    }
    if (number < 0 || number > 65535) {
        fail(key, std::to_string(number) + " is outside 0 to 65535");
    }
    return static_cast<std::uint16_t>(number);
}

std::optional<std::string> VornJSONObjectReader::optionalString(std::string_view key) const {
    const nlohmann::json* member = optionalValue(key);
    if (member == nullptr) {
        return std::nullopt;
    }
    return vornJSONGetString(*member, path(key));
}

VornUUID vornJSONGetUUID(const nlohmann::json& value, std::string_view path) {
    const std::string text = vornJSONGetString(value, path);
    if (const auto uuid = VornUUID::fromString(text)) {
        return *uuid;
    }
    throw VornDecodingError(std::string(path) + ": \"" + text.substr(0, 80) + "\" is not a UUID");
}
