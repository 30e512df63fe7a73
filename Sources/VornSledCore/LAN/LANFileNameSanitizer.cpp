#include "LANNetworkHelpers.h"

#include "VornUnicode.h"

namespace {

constexpr std::string_view fallbackFileName = "sleded-file.bin";

bool isForbiddenInFileName(char32_t c) {
    switch (c) {
    case U'/': case U':': case U'\\': case U'*': case U'?': case U'"': case U'<': case U'>': case U'|':
        return true;
    default:
        return VornUnicode::isControl(c) || VornUnicode::isFormat(c);
    }
}

}  // namespace

std::string LANNetworkHelpers::sanitizeIncomingFileName(std::string_view name) {
    std::string slashed(name);
    for (char& c : slashed) {
        if (c == '\\') {
            c = '/';
        }
    }

    // Only the last path component survives, so nothing a peer sends can climb out of the folder.
    std::string_view lastPiece;
    std::string_view rest(slashed);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view piece = rest.substr(0, slash);
        if (!piece.empty()) {
            lastPiece = piece;
        }
        if (slash == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(slash + 1);
    }
    const std::string_view chosen = lastPiece.empty() ? name : lastPiece;

    // Format characters (bidirectional overrides, zero-width joiners) go too: they make a name
    // display as something it is not. Ill-formed UTF-8 cannot be shown or typed either.
    std::string cleaned;
    cleaned.reserve(chosen.size());
    VornUnicode::forEachCodePoint(chosen, [&](const VornCodePoint& point) {
        if (!point.valid || isForbiddenInFileName(point.value)) {
            cleaned.push_back('_');
        } else {
            cleaned.append(chosen.substr(point.offset, point.length));
        }
    });

    std::string trimmed = VornUnicode::trimmed(cleaned);
    const std::size_t firstNonDot = trimmed.find_first_not_of('.');
    trimmed.erase(0, firstNonDot == std::string::npos ? trimmed.size() : firstNonDot);

    std::string result;
    result.reserve(trimmed.size());
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i] == '.' && i + 1 < trimmed.size() && trimmed[i + 1] == '.') {
            result.push_back('_');
            ++i;
        } else {
            result.push_back(trimmed[i]);
        }
    }
    return result.empty() ? std::string(fallbackFileName) : result;
}
