#include "VornUnicode.h"

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace {

// ICU measures text in int32_t; anything longer is refused rather than silently cut.
std::int32_t icuLength(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
        throw std::length_error("text of " + std::to_string(text.size()) +
                                " bytes is too long for Unicode processing");
    }
    return static_cast<std::int32_t>(text.size());
}

void throwIfFailed(UErrorCode status, const char* what) {
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string(what) + " failed: " + u_errorName(status));
    }
}

bool inRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// A break iterator costs far more to make than to use and is not safe to share: one per thread.
icu::BreakIterator& characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        throwIfFailed(status, "creating the grapheme break iterator");
        return made;
    }();
    return *iterator;
}

// Runs one of ICU's UTF-8 case mappings, which copy ill-formed bytes through unchanged.
template <typename Mapping>
std::string mapCase(std::string_view text, const char* what, Mapping mapping) {
    const std::int32_t length = icuLength(text);
    std::string out;
    icu::StringByteSink<std::string> sink(&out, length);
    UErrorCode status = U_ZERO_ERROR;
    mapping(icu::StringPiece(text.data(), length), sink, status);
    throwIfFailed(status, what);
    return out;
}

}  // namespace

VornCodePoint VornUnicode::decodeUTF8(std::string_view text, std::size_t offset) {
    VornCodePoint point;
    point.offset = offset;
    point.value = replacementCharacter;
    point.length = 1;
    if (offset >= text.size()) {
        throw std::out_of_range("decodeUTF8: offset past the end of the text");
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data()) + offset;
    const std::size_t available = text.size() - offset;
    const unsigned char lead = bytes[0];
    if (lead < 0x80) {
        point.value = lead;
        point.valid = true;
        return point;
    }

    // The well-formed sequences, with the second byte's range narrowed where the lead demands it
    // (no overlong forms, no surrogates, nothing above U+10FFFF).
    std::size_t needed = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    char32_t value = 0;
    if (inRange(lead, 0xC2, 0xDF)) {
        needed = 2;
        value = lead & 0x1F;
    } else if (inRange(lead, 0xE0, 0xEF)) {
        needed = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (inRange(lead, 0xF0, 0xF4)) {
        needed = 4;
        value = lead & 0x07;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return point;  // a continuation byte or a lead that can never start a valid sequence
    }

    std::size_t taken = 1;
    while (taken < needed) {
        if (taken == available) {
            point.length = taken;  // truncated at the end of the text
            return point;
        }
        const unsigned char next = bytes[taken];
        const bool fits = taken == 1 ? inRange(next, secondLow, secondHigh) : inRange(next, 0x80, 0xBF);
        if (!fits) {
            point.length = taken;  // the maximal subpart ends before the offending byte
            return point;
        }
        value = (value << 6) | (next & 0x3F);
        ++taken;
    }
    point.value = value;
    point.length = needed;
    point.valid = true;
    return point;
}

std::string VornUnicode::replacingInvalidUTF8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    forEachCodePoint(bytes, [&](const VornCodePoint& point) {
        if (point.valid) {
            text.append(bytes.substr(point.offset, point.length));
        } else {
            appendUTF8(text, replacementCharacter);
        }
    });
    return text;
}

bool VornUnicode::isValidUTF8(std::string_view text) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        const VornCodePoint point = decodeUTF8(text, offset);
        if (!point.valid) {
            return false;
        }
        offset += point.length;
    }
    return true;
}

void VornUnicode::appendUTF8(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        codePoint = replacementCharacter;
    }
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

bool VornUnicode::isWhiteSpace(char32_t codePoint) {
    return codePoint <= 0x10FFFF && u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_WHITE_SPACE);
}

bool VornUnicode::isNewline(char32_t codePoint) {
    return (codePoint >= 0x0A && codePoint <= 0x0D) || codePoint == 0x85 || codePoint == 0x2028 ||
           codePoint == 0x2029;
}

bool VornUnicode::isControl(char32_t codePoint) {
    return codePoint <= 0x10FFFF && u_charType(static_cast<UChar32>(codePoint)) == U_CONTROL_CHAR;
}

bool VornUnicode::isFormat(char32_t codePoint) {
    return codePoint <= 0x10FFFF && u_charType(static_cast<UChar32>(codePoint)) == U_FORMAT_CHAR;
}

std::string VornUnicode::trimmed(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    forEachCodePoint(text, [&](const VornCodePoint& point) {
        if (!point.valid || !isWhiteSpace(point.value)) {
            if (begin == text.size()) {
                begin = point.offset;
            }
            end = point.offset + point.length;
        }
    });
    if (begin >= end) {
        return {};
    }
    return std::string(text.substr(begin, end - begin));
}

std::size_t VornUnicode::graphemeCount(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), icuLength(text), &status);
    throwIfFailed(status, "opening UTF-8 text");
    std::unique_ptr<UText, decltype(&utext_close)> owned(utext, &utext_close);
    icu::BreakIterator& breaks = characterBreaks();
    breaks.setText(utext, status);
    throwIfFailed(status, "setting the grapheme break text");
    std::size_t count = 0;
    breaks.first();
    while (breaks.next() != icu::BreakIterator::DONE) {
        ++count;
    }
    // The iterator keeps a shallow reference to the text; drop it before the text goes away.
    breaks.setText(icu::UnicodeString());
    return count;
}

std::string VornUnicode::lowercased(std::string_view text) {
    return mapCase(text, "lower-casing", [](icu::StringPiece source, icu::ByteSink& sink, UErrorCode& status) {
        // "" names the root locale; a null locale would mean the process default.
        icu::CaseMap::utf8ToLower("", 0, source, sink, nullptr, status);
    });
}

std::string VornUnicode::caseFolded(std::string_view text) {
    return mapCase(text, "case folding", [](icu::StringPiece source, icu::ByteSink& sink, UErrorCode& status) {
        icu::CaseMap::utf8Fold(U_FOLD_CASE_DEFAULT, source, sink, nullptr, status);
    });
}

std::string VornUnicode::normalizedNFC(std::string_view text) {
    if (!isValidUTF8(text)) {
        return std::string(text);
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    throwIfFailed(status, "loading the NFC normalizer");
    const std::int32_t length = icuLength(text);
    std::string out;
    icu::StringByteSink<std::string> sink(&out, length);
    nfc->normalizeUTF8(0, icu::StringPiece(text.data(), length), sink, nullptr, status);
    throwIfFailed(status, "NFC normalization");
    return out;
}
