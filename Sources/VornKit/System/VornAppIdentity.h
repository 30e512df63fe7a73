#pragma once

#include "VornRawValue.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

namespace detail {

// The catalogue, one row per identity in declaration order; also the source of the raw values.
inline constexpr std::array<VornAppIdentityInfo, vornAppIdentityCount> vornAppIdentityCatalogue = [] {
    using I = VornAppIdentity;
    using F = VornAppFamily;
    return std::array<VornAppIdentityInfo, vornAppIdentityCount>{{
        {I::vornNotes, "vornNotes", "vornnotes", "Vorn Notes", F::productivity},
        {I::vornTasks, "vornTasks", "vorntasks", "Vorn Tasks", F::productivity},
        {I::vornMail, "vornMail", "vornmail", "Vorn Mail", F::productivity},
        {I::vornCalendar, "vornCalendar", "vorncalendar", "Vorn Calendar", F::productivity},
        {I::vornDocs, "vornDocs", "vorndocs", "Vorn Docs", F::productivity},
        {I::vornSheets, "vornSheets", "vornsheets", "Vorn Sheets", F::productivity},
        {I::vornSlides, "vornSlides", "vornslides", "Vorn Slides", F::productivity},
        {I::vornPdf, "vornPdf", "vornpdf", "Vorn PDF", F::productivity},
        {I::vornScan, "vornScan", "vornscan", "Vorn Scan", F::productivity},
        {I::vornClip, "vornClip", "vornclip", "Vorn Clip", F::productivity},
        {I::vornType, "vornType", "vorntype", "Vorn Type", F::productivity},
        {I::vornFocus, "vornFocus", "vornfocus", "Vorn Focus", F::productivity},
        {I::vornTimer, "vornTimer", "vorntimer", "Vorn Timer", F::productivity},
        {I::vornMarkdown, "vornMarkdown", "vornmarkdown", "Vorn Markdown", F::productivity},
        {I::vornJournal, "vornJournal", "vornjournal", "Vorn Journal", F::productivity},
        {I::vornContacts, "vornContacts", "vorncontacts", "Vorn Contacts", F::productivity},
        {I::vornReader, "vornReader", "vornreader", "Vorn Reader", F::productivity},
        {I::vornTranslate, "vornTranslate", "vorntranslate", "Vorn Translate", F::productivity},
        {I::vornLexicon, "vornLexicon", "vornlexicon", "Vorn Lexicon", F::productivity},
        {I::vornMind, "vornMind", "vornmind", "Vorn Mind", F::productivity},
        {I::vornForms, "vornForms", "vornforms", "Vorn Forms", F::productivity},
        {I::vornSign, "vornSign", "vornsign", "Vorn Sign", F::productivity},
        {I::vornInvoice, "vornInvoice", "vorninvoice", "Vorn Invoice", F::productivity},
        {I::vornBudget, "vornBudget", "vornbudget", "Vorn Budget", F::productivity},
        {I::vornHabit, "vornHabit", "vornhabit", "Vorn Habit", F::productivity},
        {I::vornLauncher, "vornLauncher", "vornlauncher", "Vorn Launcher", F::productivity},
        {I::vornSnippets, "vornSnippets", "vornsnippets", "Vorn Snippets", F::productivity},
        {I::vornPhotos, "vornPhotos", "vornphotos", "Vorn Photos", F::media},
        {I::vornFrame, "vornFrame", "vornframe", "Vorn Frame", F::media},
        {I::vornCut, "vornCut", "vorncut", "Vorn Cut", F::media},
        {I::vornSound, "vornSound", "vornsound", "Vorn Sound", F::media},
        {I::vornPodcast, "vornPodcast", "vornpodcast", "Vorn Podcast", F::media},
        {I::vornRadio, "vornRadio", "vornradio", "Vorn Radio", F::media},
        {I::vornCast, "vornCast", "vorncast", "Vorn Cast", F::media},
        {I::vornShot, "vornShot", "vornshot", "Vorn Shot", F::media},
        {I::vornPixel, "vornPixel", "vornpixel", "Vorn Pixel", F::media},
        {I::vornVector, "vornVector", "vornvector", "Vorn Vector", F::media},
        {I::vornColor, "vornColor", "vorncolor", "Vorn Color", F::media},
        {I::vornFonts, "vornFonts", "vornfonts", "Vorn Fonts", F::media},
        {I::vornIcons, "vornIcons", "vornicons", "Vorn Icons", F::media},
        {I::vornLoop, "vornLoop", "vornloop", "Vorn Loop", F::media},
        {I::vornSubtitle, "vornSubtitle", "vornsubtitle", "Vorn Subtitle", F::media},
        {I::vornTune, "vornTune", "vorntune", "Vorn Tune", F::media},
        {I::vornMonitor, "vornMonitor", "vornmonitor", "Vorn Monitor", F::systemAndNetwork},
        {I::vornClean, "vornClean", "vornclean", "Vorn Clean", F::systemAndNetwork},
        {I::vornDisk, "vornDisk", "vorndisk", "Vorn Disk", F::systemAndNetwork},
        {I::vornBackup, "vornBackup", "vornbackup", "Vorn Backup", F::systemAndNetwork},
        {I::vornVault, "vornVault", "vornvault", "Vorn Vault", F::systemAndNetwork},
        {I::vornFirewall, "vornFirewall", "vornfirewall", "Vorn Firewall", F::systemAndNetwork},
        {I::vornTunnel, "vornTunnel", "vorntunnel", "Vorn Tunnel", F::systemAndNetwork},
        {I::vornMemoryOffload, "vornMemoryOffload", "vornmemoryoffload", "Vorn Memory Offload", F::systemAndNetwork},
        {I::vornBattery, "vornBattery", "vornbattery", "Vorn Battery", F::systemAndNetwork},
        {I::vornNetScope, "vornNetScope", "vornnetscope", "Vorn NetScope", F::systemAndNetwork},
        {I::vornPing, "vornPing", "vornping", "Vorn Ping", F::systemAndNetwork},
        {I::vornResolve, "vornResolve", "vornresolve", "Vorn Resolve", F::systemAndNetwork},
        {I::vornShell, "vornShell", "vornshell", "Vorn Shell", F::systemAndNetwork},
        {I::vornTerminal, "vornTerminal", "vornterminal", "Vorn Terminal", F::systemAndNetwork},
        {I::vornPorts, "vornPorts", "vornports", "Vorn Ports", F::systemAndNetwork},
        {I::vornWifi, "vornWifi", "vornwifi", "Vorn Wi-Fi", F::systemAndNetwork},
        {I::vornUpdate, "vornUpdate", "vornupdate", "Vorn Update", F::systemAndNetwork},
        {I::vornUninstall, "vornUninstall", "vornuninstall", "Vorn Uninstall", F::systemAndNetwork},
        {I::vornArchive, "vornArchive", "vornarchive", "Vorn Archive", F::systemAndNetwork},
        {I::vornMirror, "vornMirror", "vornmirror", "Vorn Mirror", F::systemAndNetwork},
        {I::vornSled, "vornSled", "vornsled", "Vorn Sled", F::systemAndNetwork},
        {I::vornMount, "vornMount", "vornmount", "Vorn Mount", F::systemAndNetwork},
        {I::vornHotkeys, "vornHotkeys", "vornhotkeys", "Vorn Hotkeys", F::systemAndNetwork},
        {I::vornWindows, "vornWindows", "vornwindows", "Vorn Windows", F::systemAndNetwork},
        {I::vornDock, "vornDock", "vorndock", "Vorn Dock", F::systemAndNetwork},
        {I::vornMenubar, "vornMenubar", "vornmenubar", "Vorn Menubar", F::systemAndNetwork},
        {I::vornSensors, "vornSensors", "vornsensors", "Vorn Sensors", F::systemAndNetwork},
        {I::vornConsole, "vornConsole", "vornconsole", "Vorn Console", F::systemAndNetwork},
        {I::vornServer, "vornServer", "vornserver", "Vorn Server", F::systemAndNetwork},
        {I::vornHash, "vornHash", "vornhash", "Vorn Hash", F::systemAndNetwork},
        {I::vornPrivacy, "vornPrivacy", "vornprivacy", "Vorn Privacy", F::systemAndNetwork},
        {I::vornBoot, "vornBoot", "vornboot", "Vorn Boot", F::systemAndNetwork},
    }};
}();

}  // namespace detail

// Raw values and JSON texts come from the catalogue rows. Exact, case-sensitive matching.
template <>
struct VornRawValueTable<VornAppIdentity> {
    static constexpr std::string_view typeName = "VornAppIdentity";
    static constexpr auto entries = [] {
        std::array<std::pair<VornAppIdentity, std::string_view>, vornAppIdentityCount> rows{};
        for (std::size_t tag = 0; tag < rows.size(); ++tag) {
            const VornAppIdentityInfo& row = detail::vornAppIdentityCatalogue[tag];
            rows[tag] = {row.identity, row.rawValue};
        }
        return rows;
    }();
};

void to_json(nlohmann::json& json, VornAppIdentity identity);
// An unknown text throws nlohmann::json::exception.
void from_json(const nlohmann::json& json, VornAppIdentity& identity);
