#include "VornAppIdentity.h"

#include "VornASCII.h"
#include "VornBundle.h"
#include "VornUnicode.h"

#include <nlohmann/json.hpp>
#include <unicode/uchar.h>

namespace {

using I = VornAppIdentity;
using F = VornAppFamily;
constexpr auto& table = detail::vornAppIdentityCatalogue;

// Other spellings that people and older builds use for four of the applications.
struct Alias {
    std::string_view word;  // already in normalized form
    VornAppIdentity identity;
};
constexpr std::array<Alias, 5> aliases{{
    {"sled", I::vornSled},
    {"vornsledtransfer", I::vornSled},
    {"vornmemory", I::vornMemoryOffload},
    {"vornnetworkscope", I::vornNetScope},
    {"vornwindowmanager", I::vornWindows},
}};

constexpr bool tableIsConsistent() {
    for (std::size_t tag = 0; tag < table.size(); ++tag) {
        const VornAppIdentityInfo& row = table[tag];
        if (static_cast<std::size_t>(row.identity) != tag || row.caseName.size() != row.rawValue.size()) {
            return false;
        }
        for (std::size_t i = 0; i < row.caseName.size(); ++i) {
            const char lower = VornASCII::lower(row.caseName[i]);
            const bool plain = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9');
            if (!plain || row.rawValue[i] != lower) {
                return false;
            }
        }
        for (std::size_t other = 0; other < tag; ++other) {
            if (table[other].rawValue == row.rawValue) {
                return false;
            }
        }
        for (const Alias& alias : aliases) {
            if (alias.word == row.rawValue) {
                return false;  // an alias must not hide an application's own name
            }
        }
    }
    return true;
}
static_assert(tableIsConsistent(), "identity table: tags, raw values and aliases must agree");
static_assert(table[50].identity == I::vornOffload);
static_assert(table[26].family == F::productivity && table[27].family == F::media &&
              table[42].family == F::media && table[43].family == F::systemAndNetwork);

}  // namespace

const std::array<VornAppIdentityInfo, vornAppIdentityCount>& VornAppIdentities::catalogue() { return table; }

const VornAppIdentityInfo& VornAppIdentities::info(VornAppIdentity identity) {
    return table.at(static_cast<std::size_t>(identity));
}

std::string VornAppIdentities::normalizedName(std::string_view text) {
    std::string kept;
    VornUnicode::forEachCodePoint(VornUnicode::lowercased(text), [&](const VornCodePoint& point) {
        constexpr std::uint32_t wanted = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK;
        if (point.valid && (U_GET_GC_MASK(static_cast<UChar32>(point.value)) & wanted) != 0) {
            VornUnicode::appendUTF8(kept, point.value);
        }
    });
    return kept;
}

std::optional<VornAppIdentity> VornAppIdentities::resolve(std::string_view name) {
    std::string_view last = name;  // only dots, or empty: the whole name
    if (const std::size_t end = name.find_last_not_of('.'); end != std::string_view::npos) {
        const std::size_t dot = name.find_last_of('.', end);
        const std::size_t start = dot == std::string_view::npos ? 0 : dot + 1;
        last = name.substr(start, end + 1 - start);
    }
    const std::string word = normalizedName(last);
    for (const Alias& alias : aliases) {
        if (alias.word == word) {
            return alias.identity;
        }
    }
    return fromRawValue<VornAppIdentity>(word);
}

std::optional<VornAppIdentity> VornAppIdentities::current(const VornBundle& bundle, std::string_view processName) {
    const std::optional<std::string> candidates[] = {
        bundle.bundleIdentifier(),
        bundle.infoText(VornBundle::displayNameKey),
        bundle.infoText(VornBundle::nameKey),
        std::string(processName),
    };
    for (const auto& candidate : candidates) {
        if (candidate) {
            if (auto identity = resolve(*candidate)) {
                return identity;
            }
        }
    }
    return std::nullopt;
}

std::optional<VornAppIdentity> VornAppIdentities::current() {
    return current(VornBundle::main(), VornBundle::processName());
}

void to_json(nlohmann::json& json, VornAppIdentity identity) { json = rawValue(identity); }

void from_json(const nlohmann::json& json, VornAppIdentity& identity) {
    identity = vornJSONGetEnumOrTypeError<VornAppIdentity>(json);
}
