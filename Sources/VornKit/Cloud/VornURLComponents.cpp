#include "VornURLComponents.h"

#include "VornASCII.h"

#include <charconv>

namespace {

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Every byte must be visible ASCII and every "%" must start a two-digit escape.
bool wellFormed(std::string_view part) {
    for (std::size_t i = 0; i < part.size(); ++i) {
        const auto byte = static_cast<unsigned char>(part[i]);
        if (byte <= 0x20 || byte >= 0x7F) return false;
        if (part[i] == '%') {
            if (i + 2 >= part.size()) return false;
            if (VornASCII::hexDigitValue(part[i + 1]) < 0 || VornASCII::hexDigitValue(part[i + 2]) < 0) return false;
            i += 2;
        }
    }
    return true;
}

}  // namespace

std::string VornURLComponents::percentDecode(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            const int high = VornASCII::hexDigitValue(encoded[i + 1]);
            const int low = VornASCII::hexDigitValue(encoded[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(encoded[i]);
    }
    return out;
}

std::string VornURLComponents::percentEncodeUnreserved(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        }
    }
    return out;
}

std::optional<VornURLComponents> VornURLComponents::parse(std::string_view text) {
    if (!wellFormed(text)) return std::nullopt;
    VornURLComponents url;
    std::string_view rest = text;

    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        url.percentEncodedFragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        url.percentEncodedQuery = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }

    // A scheme is letters, digits, "+", "-", "." before the first ":", starting with a letter.
    if (const auto colon = rest.find(':'); colon != std::string_view::npos && colon > 0) {
        const auto candidate = rest.substr(0, colon);
        bool isScheme = isAlpha(candidate[0]);
        for (char c : candidate) {
            isScheme = isScheme && (isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.');
        }
        if (isScheme) {
            url.scheme = VornASCII::lowercased(candidate);
            rest = rest.substr(colon + 1);
        }
    }

    if (rest.starts_with("//")) {
        rest = rest.substr(2);
        const auto slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);

        if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
            url.percentEncodedUser = std::string(authority.substr(0, at));
            authority = authority.substr(at + 1);
        }
        std::string_view hostPart = authority;
        std::string_view portPart;
        bool hasPort = false;
        if (authority.starts_with('[')) {
            const auto close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            hostPart = authority.substr(0, close + 1);
            const auto after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                portPart = after.substr(1);
                hasPort = true;
            }
        } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
            hostPart = authority.substr(0, colon);
            portPart = authority.substr(colon + 1);
            hasPort = true;
        }
        if (hostPart.find_first_of("[]") != std::string_view::npos && !hostPart.starts_with('[')) {
            return std::nullopt;
        }
        if (hasPort && !portPart.empty()) {
            int port = 0;
            const auto [end, error] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), port);
            if (error != std::errc{} || end != portPart.data() + portPart.size() || port < 0 || port > 65535 ||
                !isDigit(portPart[0])) {
                return std::nullopt;
            }
            url.port = port;
        }
        url.host = std::string(hostPart);
    }
    url.percentEncodedPath = std::string(rest);
    return url;
}

std::string VornURLComponents::path() const { return percentDecode(percentEncodedPath); }

std::vector<VornURLQueryItem> VornURLComponents::queryItems() const {
    std::vector<VornURLQueryItem> items;
    if (!percentEncodedQuery) return items;
    std::string_view query = *percentEncodedQuery;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const auto piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (piece.empty()) continue;
        const auto equals = piece.find('=');
        if (equals == std::string_view::npos) {
            items.push_back({percentDecode(piece), std::nullopt});
        } else {
            items.push_back({percentDecode(piece.substr(0, equals)), percentDecode(piece.substr(equals + 1))});
        }
    }
    return items;
}

std::string VornURLComponents::string() const {
    std::string out;
    if (!scheme.empty()) out += scheme + ":";
    if (host) {
        out += "//";
        if (percentEncodedUser) out += *percentEncodedUser + "@";
        out += *host;
        if (port) out += ":" + std::to_string(*port);
    }
    out += percentEncodedPath;
    if (percentEncodedQuery) out += "?" + *percentEncodedQuery;
    if (percentEncodedFragment) out += "#" + *percentEncodedFragment;
    return out;
}
