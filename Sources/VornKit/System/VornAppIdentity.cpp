#include "VornAppIdentity.h"

#include "VornBundle.h"
#include "VornUnicode.h"

#include <nlohmann/json.hpp>
#include <unicode/uchar.h>

namespace {

using I = VornAppIdentity;
using F = VornAppFamily;

constexpr std::array<VornAppIdentityInfo, vornAppIdentityCount> table{{
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
    {I::vornBoot, "vornBoot", "vornboot", "Vorn Boot", F::systemAndNetwork},}};

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
            const char c = row.caseName[i];
            const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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

std::string_view rawValue(VornAppIdentity identity) { return VornAppIdentities::info(identity).rawValue; }

template <>
std::optional<VornAppIdentity> fromRawValue<VornAppIdentity>(std::string_view text) {
    return detail::caseWithRawValue(vornAppIdentityAllCases, text);
}

void to_json(nlohmann::json& json, VornAppIdentity identity) { json = std::string(rawValue(identity)); }

void from_json(const nlohmann::json& json, VornAppIdentity& identity) {
    identity = detail::decodeRawValue(json, vornAppIdentityAllCases);
}
