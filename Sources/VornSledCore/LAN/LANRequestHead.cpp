#include "LANRequestHead.h"

#include "VornASCII.h"
#include "VornUnicode.h"

#include <charconv>
#include <vector>

namespace {

// Spaces of every width and tabs, but not line breaks.
bool isInlineSpace(char32_t c) { return VornUnicode::isWhiteSpace(c) && !VornUnicode::isNewline(c); }

std::string_view trimInlineSpace(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const VornCodePoint point = VornUnicode::decodeUTF8(text, begin);
        if (!point.valid || !isInlineSpace(point.value)) {
            break;
        }
        begin += point.length;
    }
    text.remove_prefix(begin);
    // Walk forward remembering the end of the last character that is not a space.
    std::size_t end = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const VornCodePoint point = VornUnicode::decodeUTF8(text, offset);
        offset += point.length;
        if (!point.valid || !isInlineSpace(point.value)) {
            end = offset;
        }
    }
    return text.substr(0, end);
}

bool isURLCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    switch (c) {
    case '-': case '.': case '_': case '~':                                    // unreserved
    case ':': case '/': case '?': case '#': case '@':                          // general delimiters
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*':     // sub-delimiters
    case '+': case ',': case ';': case '=': case '%':
        return true;
    default:
        return false;
    }
}

struct URLParts {
    std::string_view path;
    std::optional<std::string_view> query;
};

// The path and query of the request target read as a reference below a fixed absolute base
// ("http://localhost" followed by the target), by the generic syntax of URLs. Nothing when the
// combination is no URL: characters outside that syntax, a malformed escape, a bad port.
std::optional<URLParts> splitURL(std::string_view target) {
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (!isURLCharacter(target[i])) {
            return std::nullopt;
        }
        if (target[i] == '%' && (i + 2 >= target.size() || VornASCII::hexDigitValue(target[i + 1]) < 0 || VornASCII::hexDigitValue(target[i + 2]) < 0)) {
            return std::nullopt;
        }
    }
    // The base's authority "localhost" runs on into the target until the first "/", "?" or "#".
    const std::size_t authorityEnd = target.find_first_of("/?#");
    std::string_view authorityTail = target.substr(0, authorityEnd);
    if (const std::size_t at = authorityTail.rfind('@'); at != std::string_view::npos) {
        authorityTail.remove_prefix(at + 1);
    }
    if (const std::size_t colon = authorityTail.find(':'); colon != std::string_view::npos) {
        const std::string_view port = authorityTail.substr(colon + 1);
        if (port.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
    }
    std::string_view rest = authorityEnd == std::string_view::npos ? std::string_view() : target.substr(authorityEnd);
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        if (rest.find('#', hash + 1) != std::string_view::npos) {
            return std::nullopt;
        }
        rest = rest.substr(0, hash);
    }
    URLParts parts;
    const std::size_t question = rest.find('?');
    parts.path = rest.substr(0, question);
    if (question != std::string_view::npos) {
        parts.query = rest.substr(question + 1);
    }
    return parts;
}

}  // namespace

std::optional<std::string> lanPercentDecoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = VornASCII::hexDigitValue(text[i + 1]);
        const int low = VornASCII::hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (!VornUnicode::isValidUTF8(decoded)) {
        return std::nullopt;
    }
    return decoded;
}

std::string lanPercentDecodedOrSelf(std::string_view text) {
    if (std::optional<std::string> decoded = lanPercentDecoded(text)) {
        return std::move(*decoded);
    }
    return std::string(text);
}

std::optional<LANRequestHead> LANRequestHead::parse(std::string_view headBytes) {
    // The request head is text for us, whatever a peer put into it.
    const std::string text = VornUnicode::replacingInvalidUTF8(headBytes);
    std::vector<std::string_view> lines;
    std::string_view rest(text);
    while (true) {
        const std::size_t end = rest.find("\r\n");
        lines.push_back(rest.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 2);
    }

    std::vector<std::string_view> pieces;
    std::string_view requestLine = lines.front();
    while (!requestLine.empty() && pieces.size() < 2) {
        const std::size_t space = requestLine.find(' ');
        if (space != 0) {
            pieces.push_back(requestLine.substr(0, space));
        }
        if (space == std::string_view::npos) {
            break;
        }
        requestLine.remove_prefix(space + 1);
    }
    if (pieces.size() < 2) {
        return std::nullopt;
    }

    LANRequestHead head;
    // Method names are ASCII tokens; upper-casing only ASCII keeps an exotic letter from turning
    // into one of ours.
    head.method = VornASCII::uppercased(pieces[0]);
    head.target = std::string(pieces[1]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        // Header names are ASCII tokens too; every name we look for is plain ASCII.
        std::string name = VornASCII::lowercased(trimInlineSpace(lines[i].substr(0, colon)));
        head.headers.insert_or_assign(std::move(name), std::string(trimInlineSpace(lines[i].substr(colon + 1))));
    }

    if (const std::optional<URLParts> url = splitURL(head.target)) {
        head.path = lanPercentDecodedOrSelf(url->path);
        if (url->query) {
            std::string_view query = *url->query;
            while (true) {
                const std::size_t ampersand = query.find('&');
                const std::string_view item = query.substr(0, ampersand);
                const std::size_t equals = item.find('=');
                if (lanPercentDecodedOrSelf(item.substr(0, equals)) == "pin") {
                    head.pinQueryItem = equals == std::string_view::npos
                                            ? std::string()
                                            : lanPercentDecodedOrSelf(item.substr(equals + 1));
                    break;
                }
                if (ampersand == std::string_view::npos) {
                    break;
                }
                query.remove_prefix(ampersand + 1);
            }
        }
    } else {
        head.path = head.target;
    }
    return head;
}

std::optional<std::string> LANRequestHead::header(std::string_view lowerCaseName) const {
    const auto found = headers.find(std::string(lowerCaseName));
    if (found == headers.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string LANRequestHead::presentedPIN() const {
    if (std::optional<std::string> fromHeader = header("x-vornsled-pin")) {
        return std::move(*fromHeader);
    }
    return pinQueryItem.value_or(std::string());
}

std::int64_t LANRequestHead::contentLength() const {
    const std::optional<std::string> value = header("content-length");
    if (!value || value->empty()) {
        return 0;
    }
    std::string_view digits(*value);
    if (digits.front() == '+') {
        digits.remove_prefix(1);
    }
    std::int64_t length = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (error != std::errc() || end != digits.data() + digits.size() || length < 0) {
        return 0;
    }
    return length;
}
