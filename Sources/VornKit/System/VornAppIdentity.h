#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include "VornRawValue.h"
#include <optional>
#include <string>
#include <string_view>

class VornBundle;

// Every application of the maker's suite, this one included, so that shared code can tell which
// application it runs in. Declaration order is fixed (the underlying value is the tag) and groups
// the applications by family. The raw value is the case name in lower case.
enum class VornAppIdentity : std::uint8_t {
    // Productivity
    vornNotes,
    vornTasks,
    vornMail,
    vornCalendar,
    vornDocs,
    vornSheets,
    vornSlides,
    vornPdf,
    vornScan,
    vornClip,
    vornType,
    vornFocus,
    vornTimer,
    vornMarkdown,
    vornJournal,
    vornContacts,
    vornReader,
    vornTranslate,
    vornLexicon,
    vornMind,
    vornForms,
    vornSign,
    vornInvoice,
    vornBudget,
    vornHabit,
    vornLauncher,
    vornSnippets,
    // Media
    vornPhotos,
    vornFrame,
    vornCut,
    vornSound,
    vornPodcast,
    vornRadio,
    vornCast,
    vornShot,
    vornPixel,
    vornVector,
    vornColor,
    vornFonts,
    vornIcons,
    vornLoop,
    vornSubtitle,
    vornTune,
    // System and network
    vornMonitor,
    vornClean,
    vornDisk,
    vornBackup,
    vornVault,
    vornFirewall,
    vornTunnel,
    vornMemoryOffload,
    vornBattery,
    vornNetScope,
    vornPing,
    vornResolve,
    vornShell,
    vornTerminal,
    vornPorts,
    vornWifi,
    vornUpdate,
    vornUninstall,
    vornArchive,
    vornMirror,
    vornSled,
    vornMount,
    vornHotkeys,
    vornWindows,
    vornDock,
    vornMenubar,
    vornSensors,
    vornConsole,
    vornServer,
    vornHash,
    vornPrivacy,
    vornBoot,

    // The shorter second name of the memory offloader (tag 50).
    vornOffload = vornMemoryOffload,
};

enum class VornAppFamily { productivity, media, systemAndNetwork };

// One row of the suite's catalogue; the suite-application list and the emblems read the same rows.
struct VornAppIdentityInfo {
    VornAppIdentity identity;
    std::string_view caseName;     // "vornSled"
    std::string_view rawValue;     // "vornsled"
    std::string_view displayName;  // "Vorn Sled"
    VornAppFamily family;
};

inline constexpr std::size_t vornAppIdentityCount = 75;

struct VornAppIdentities {
    // All identities in declaration order.
    static const std::array<VornAppIdentityInfo, vornAppIdentityCount>& catalogue();
    static const VornAppIdentityInfo& info(VornAppIdentity identity);

    // The identity a free-form name stands for (a bundle identifier, a display name, a process
    // name): its last dot-separated part, lower-cased and stripped to letters, marks and digits,
    // matched against the aliases, then the raw values.
    static std::optional<VornAppIdentity> resolve(std::string_view name);

    // The running application: from the main bundle's identifier, display name and name, then the
    // process name; the first that resolves wins.
    static std::optional<VornAppIdentity> current();
    static std::optional<VornAppIdentity> current(const VornBundle& bundle, std::string_view processName);

    // Lower case (root locale) keeping only Unicode letters, marks and digits of every script.
    static std::string normalizedName(std::string_view text);
};

inline constexpr std::array<VornAppIdentity, vornAppIdentityCount> vornAppIdentityAllCases = [] {
    std::array<VornAppIdentity, vornAppIdentityCount> cases{};
    for (std::size_t tag = 0; tag < cases.size(); ++tag) {
        cases[tag] = static_cast<VornAppIdentity>(tag);
    }
    return cases;
}();

std::string_view rawValue(VornAppIdentity identity);
// Exact, case-sensitive raw value; nothing otherwise.
template <>
std::optional<VornAppIdentity> fromRawValue<VornAppIdentity>(std::string_view text);
void to_json(nlohmann::json& json, VornAppIdentity identity);
// An unknown text throws nlohmann::json::exception.
void from_json(const nlohmann::json& json, VornAppIdentity& identity);
