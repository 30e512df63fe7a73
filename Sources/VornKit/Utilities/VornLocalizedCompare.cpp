#include "VornLocalizedCompare.h"

#include <unicode/ucol.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using CollatorHandle = std::unique_ptr<UCollator, decltype(&ucol_close)>;

CollatorHandle makeCollator() {
    UErrorCode status = U_ZERO_ERROR;
    CollatorHandle collator(ucol_open("", &status), &ucol_close);  // "" is the root locale
    // Secondary strength: base letters and accents count, case does not.
    ucol_setAttribute(collator.get(), UCOL_STRENGTH, UCOL_SECONDARY, &status);
    ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    if (U_FAILURE(status)) {
        throw std::runtime_error(std::string("opening the root collator failed: ") + u_errorName(status));
    }
    return collator;
}

// Comparing through one collator from several threads is not something ICU promises for the C
// API, so each thread works on its own copy of one configured prototype.
UCollator* threadCollator() {
    static const CollatorHandle prototype = makeCollator();
    thread_local const CollatorHandle own = [] {
        UErrorCode status = U_ZERO_ERROR;
        CollatorHandle copy(ucol_clone(prototype.get(), &status), &ucol_close);
        if (U_FAILURE(status)) {
            throw std::runtime_error(std::string("cloning the root collator failed: ") + u_errorName(status));
        }
        return copy;
    }();
    return own.get();
}

// Names never come near 2 GiB; a longer text is compared on its first INT32_MAX bytes rather than
// refused, because a sort predicate must not throw.
std::int32_t clampedLength(std::string_view text) {
    return text.size() > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(text.size());
}

}  // namespace

std::weak_ordering localizedStandardCompare(std::string_view a, std::string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        ucol_strcollUTF8(threadCollator(), a.data(), clampedLength(a), b.data(), clampedLength(b), &status);
    if (U_FAILURE(status)) {
        // Only an allocation failure inside ICU gets here; fall back to byte order so that the
        // sort still sees a consistent ordering.
        const int bytes = a.compare(b);
        return bytes < 0 ? std::weak_ordering::less
                         : bytes > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
    }
    switch (result) {
    case UCOL_LESS:
        return std::weak_ordering::less;
    case UCOL_GREATER:
        return std::weak_ordering::greater;
    default:
        return std::weak_ordering::equivalent;
    }
}

bool localizedStandardLess(std::string_view a, std::string_view b) {
    return localizedStandardCompare(a, b) == std::weak_ordering::less;
}
