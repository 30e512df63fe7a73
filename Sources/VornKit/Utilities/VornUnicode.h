#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One code point read from UTF-8 text. Ill-formed input never stops a walk: each maximal ill-formed
// subpart (the longest prefix of a valid sequence, or one stray byte) comes out as one U+FFFD with
// `valid` false, so a caller can keep, replace or drop the original bytes as it sees fit.
struct VornCodePoint {
    char32_t value = 0;       // the scalar value, or U+FFFD for an ill-formed subpart
    std::size_t offset = 0;   // first byte in the text
    std::size_t length = 0;   // bytes taken, 1 to 4; never 0 inside a text
    bool valid = false;
};

// The Unicode operations the system needs, on UTF-8 text and ICU's root locale. Nothing here
// depends on the process locale, and no input, however malformed, leads to undefined behaviour.
struct VornUnicode {
    static constexpr char32_t replacementCharacter = U'\uFFFD';

    // Decodes the code point starting at `offset` (which must be < text.size()). Surrogates,
    // overlong forms and values above U+10FFFF are ill-formed.
    static VornCodePoint decodeUTF8(std::string_view text, std::size_t offset);

    // Calls `visit(const VornCodePoint&)` for every code point of `text`, in order.
    template <typename Visitor>
    static void forEachCodePoint(std::string_view text, Visitor&& visit) {
        std::size_t offset = 0;
        while (offset < text.size()) {
            const VornCodePoint point = decodeUTF8(text, offset);
            visit(point);
            offset += point.length;
        }
    }

    // True when the whole text is well-formed UTF-8 (the empty text is).
    static bool isValidUTF8(std::string_view text);
    // The bytes as text: each maximal ill-formed subpart (a stray byte, or a sequence cut short, as
    // at the end of a truncated buffer) becomes one U+FFFD; well-formed text comes back unchanged.
    static std::string replacingInvalidUTF8(std::string_view bytes);

    // Appends the UTF-8 form of a scalar value; surrogates and values above U+10FFFF append U+FFFD.
    static void appendUTF8(std::string& out, char32_t codePoint);

    // The Unicode White_Space property: spaces of every width, tab and every line break
    // (LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR).
    static bool isWhiteSpace(char32_t codePoint);
    // Line breaks only: U+000A to U+000D, U+0085, U+2028, U+2029.
    static bool isNewline(char32_t codePoint);
    // General category Cc (C0 and C1 controls, DEL).
    static bool isControl(char32_t codePoint);
    // General category Cf (invisible formatting: bidirectional marks and overrides, zero-width
    // joiners, soft hyphen, byte-order mark, ...).
    static bool isFormat(char32_t codePoint);

    // The text without white space and line breaks at either end. Ill-formed bytes are neither,
    // so they are kept unchanged.
    static std::string trimmed(std::string_view text);

    // The number of user-perceived characters (extended grapheme clusters); each ill-formed
    // subpart counts as one.
    static std::size_t graphemeCount(std::string_view text);

    // Lower case by the root locale's rules: "I" becomes "i" whatever the user's language.
    // Ill-formed bytes pass through unchanged.
    static std::string lowercased(std::string_view text);
    // Full default case folding, the form to compare names without regard to case ("Straße" and
    // "STRASSE" fold alike). Ill-formed bytes pass through unchanged.
    static std::string caseFolded(std::string_view text);
    // Canonical composition (NFC): "e" followed by a combining acute accent and the precomposed
    // "é" come out alike. Text that is not well-formed UTF-8 comes back unchanged.
    static std::string normalizedNFC(std::string_view text);
};
