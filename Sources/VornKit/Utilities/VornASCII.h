#pragma once

#include <algorithm>
#include <string>
#include <string_view>

// Character rules of protocol text (header names, methods, schemes, language codes, hexadecimal):
// only the ASCII letters and digits count, every other byte, UTF-8 included, is left as it is, and
// nothing depends on the process locale. Human text goes through VornUnicode instead.
struct VornASCII {
    static constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
    static constexpr char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

    static std::string lowercased(std::string_view text) {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(), lower);
        return out;
    }
    static std::string uppercased(std::string_view text) {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(), upper);
        return out;
    }

    static constexpr bool equalIgnoringCase(std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
    }

    // `text` with every occurrence of `what` (not empty) replaced by `with`, byte for byte, left to right.
    static std::string replacingAll(std::string_view text, std::string_view what, std::string_view with) {
        std::string out;
        out.reserve(text.size());
        std::size_t from = 0;
        for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, from)) {
            out.append(text.substr(from, at - from)).append(with);
            from = at + what.size();
        }
        return out.append(text.substr(from));
    }

    // The value of one hexadecimal digit of either case; -1 for any other byte.
    static constexpr int hexDigitValue(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }
};
