#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <unicode/locid.h>

// Name of the notification posted on VornNotificationCenter::defaultCenter() whenever the
// interface language is set; its object is the new VornLanguage.
inline constexpr std::string_view vornLanguageDidChange = "com.vornworks.languageDidChange";

// One of the 37 interface languages. A small value type: compare, hash and switch on it
// (`switch (language) { case VornLanguage::Case::de: ... }`), or use the named constants
// (`VornLanguage::tr`). The raw value is the language code ("de", "pt-BR", "zh-Hant").
class VornLanguage {
public:
    // Declaration order is alphabetical by code and fixed: it is the order of allCases().
    enum class Case : std::uint8_t { ar, az, bg, ca, cs, da, de, el, en, es, fa, fi, fr, he, hi, hr, hu, id, it, ja, ko, ms, nb, nl, pl, ptBR, ptPT, ro, ru, sk, sv, th, tr, uk, vi, zhHans, zhHant };
    static constexpr std::size_t caseCount = 37;

    static const VornLanguage ar;
    static const VornLanguage az;
    static const VornLanguage bg;
    static const VornLanguage ca;
    static const VornLanguage cs;
    static const VornLanguage da;
    static const VornLanguage de;
    static const VornLanguage el;
    static const VornLanguage en;
    static const VornLanguage es;
    static const VornLanguage fa;
    static const VornLanguage fi;
    static const VornLanguage fr;
    static const VornLanguage he;
    static const VornLanguage hi;
    static const VornLanguage hr;
    static const VornLanguage hu;
    static const VornLanguage id;
    static const VornLanguage it;
    static const VornLanguage ja;
    static const VornLanguage ko;
    static const VornLanguage ms;
    static const VornLanguage nb;
    static const VornLanguage nl;
    static const VornLanguage pl;
    static const VornLanguage ptBR;
    static const VornLanguage ptPT;
    static const VornLanguage ro;
    static const VornLanguage ru;
    static const VornLanguage sk;
    static const VornLanguage sv;
    static const VornLanguage th;
    static const VornLanguage tr;
    static const VornLanguage uk;
    static const VornLanguage vi;
    static const VornLanguage zhHans;
    static const VornLanguage zhHant;

    constexpr explicit VornLanguage(Case value) noexcept : value_(value) {}
    constexpr Case value() const noexcept { return value_; }
    constexpr operator Case() const noexcept { return value_; }
    constexpr bool operator==(const VornLanguage&) const noexcept = default;
    constexpr auto operator<=>(const VornLanguage&) const noexcept = default;

    // The code, which is the raw value and the identity ("pt-BR").
    std::string_view code() const;
    std::string_view rawValue() const { return code(); }
    std::string_view nativeName() const;
    std::string_view englishName() const;
    // Badge text: "PT", "PT-PT", "ZH", "ZH-TW" for the four regional languages, else the code in
    // upper case.
    std::string shortCode() const;
    // nativeName alone when it equals englishName ignoring case, else "nativeName (englishName)".
    std::string displayName() const;
    // Arabic, Persian and Hebrew.
    bool isRTL() const;
    // The ICU locale whose identifier is the code.
    icu::Locale locale() const;
    // ptBR for ptPT, zhHans for zhHant, else nothing: the catalog looked up after the language's own.
    std::optional<VornLanguage> fallbackParent() const;

    // The 37 languages in declaration order.
    static const std::array<VornLanguage, caseCount>& allCases();
    // All languages by English name (root-locale, case-insensitive collation, stable).
    static const std::vector<VornLanguage>& sortedCases();
    // Exact, case-sensitive match of a code.
    static std::optional<VornLanguage> fromRawValue(std::string_view code);
    // A locale tag ("de_CH", "zh-Hant-HK", "iw") to a language, tolerant of case, "_" and the
    // regional and historic variants; nothing when no language fits.
    static std::optional<VornLanguage> match(std::string_view tag);
    // The first tag that match() maps; en when none does.
    static VornLanguage resolve(std::span<const std::string> tags);

    // The user's preferred languages from the environment, most preferred first: every entry of
    // the colon-separated LANGUAGE, then the messages locale (the first non-empty of LC_ALL,
    // LC_MESSAGES, LANG). Codeset and modifier are dropped ("tr_TR.UTF-8@euro" gives "tr_TR");
    // "C" and "POSIX" name no language and are skipped.
    static std::vector<std::string> systemPreferredLanguages();
    // resolve(systemPreferredLanguages()).
    static VornLanguage systemResolved();

    // The user's choice as stored in the standard user defaults, read at every call: the stored
    // language when it names one, else systemResolved().
    static VornLanguage current();
    static constexpr std::string_view defaultsKey = "com.vornworks.preferredLanguage";
    static constexpr std::string_view systemPreferenceCode = "system";
    // The stored value trimmed; "system" when it is missing, not text, or blank.
    static std::string storedPreferenceCode();
    // The stored value is "system" in any letter case.
    static bool isFollowingSystem();

    // Stores the code (unless VornLanguagePersistenceGuard suppresses it), preloads the
    // language's catalog and posts vornLanguageDidChange. Never fails: a preference that cannot be
    // written leaves the old one.
    static void setCurrent(VornLanguage language);
    // Stores "system" whatever the guard says, then preloads and posts for systemResolved().
    static void setFollowSystem();
    // setFollowSystem(), then runs `action` with stored writes suppressed, so that a setCurrent()
    // inside it changes the language shown while "system" stays stored. No lock is held while
    // `action` runs; the suppression ends even when it throws.
    static void applyFollowSystem(const std::function<void()>& action);

    // Tolerant decoding of a stored language: a non-string, blank or "system" value gives
    // systemResolved(); otherwise the exact code, else match(), else systemResolved().
    static VornLanguage decode(const nlohmann::json& value);

private:
    Case value_;
};

inline constexpr VornLanguage VornLanguage::ar{VornLanguage::Case::ar};
inline constexpr VornLanguage VornLanguage::az{VornLanguage::Case::az};
inline constexpr VornLanguage VornLanguage::bg{VornLanguage::Case::bg};
inline constexpr VornLanguage VornLanguage::ca{VornLanguage::Case::ca};
inline constexpr VornLanguage VornLanguage::cs{VornLanguage::Case::cs};
inline constexpr VornLanguage VornLanguage::da{VornLanguage::Case::da};
inline constexpr VornLanguage VornLanguage::de{VornLanguage::Case::de};
inline constexpr VornLanguage VornLanguage::el{VornLanguage::Case::el};
inline constexpr VornLanguage VornLanguage::en{VornLanguage::Case::en};
inline constexpr VornLanguage VornLanguage::es{VornLanguage::Case::es};
inline constexpr VornLanguage VornLanguage::fa{VornLanguage::Case::fa};
inline constexpr VornLanguage VornLanguage::fi{VornLanguage::Case::fi};
inline constexpr VornLanguage VornLanguage::fr{VornLanguage::Case::fr};
inline constexpr VornLanguage VornLanguage::he{VornLanguage::Case::he};
inline constexpr VornLanguage VornLanguage::hi{VornLanguage::Case::hi};
inline constexpr VornLanguage VornLanguage::hr{VornLanguage::Case::hr};
inline constexpr VornLanguage VornLanguage::hu{VornLanguage::Case::hu};
inline constexpr VornLanguage VornLanguage::id{VornLanguage::Case::id};
inline constexpr VornLanguage VornLanguage::it{VornLanguage::Case::it};
inline constexpr VornLanguage VornLanguage::ja{VornLanguage::Case::ja};
inline constexpr VornLanguage VornLanguage::ko{VornLanguage::Case::ko};
inline constexpr VornLanguage VornLanguage::ms{VornLanguage::Case::ms};
inline constexpr VornLanguage VornLanguage::nb{VornLanguage::Case::nb};
inline constexpr VornLanguage VornLanguage::nl{VornLanguage::Case::nl};
inline constexpr VornLanguage VornLanguage::pl{VornLanguage::Case::pl};
inline constexpr VornLanguage VornLanguage::ptBR{VornLanguage::Case::ptBR};
inline constexpr VornLanguage VornLanguage::ptPT{VornLanguage::Case::ptPT};
inline constexpr VornLanguage VornLanguage::ro{VornLanguage::Case::ro};
inline constexpr VornLanguage VornLanguage::ru{VornLanguage::Case::ru};
inline constexpr VornLanguage VornLanguage::sk{VornLanguage::Case::sk};
inline constexpr VornLanguage VornLanguage::sv{VornLanguage::Case::sv};
inline constexpr VornLanguage VornLanguage::th{VornLanguage::Case::th};
inline constexpr VornLanguage VornLanguage::tr{VornLanguage::Case::tr};
inline constexpr VornLanguage VornLanguage::uk{VornLanguage::Case::uk};
inline constexpr VornLanguage VornLanguage::vi{VornLanguage::Case::vi};
inline constexpr VornLanguage VornLanguage::zhHans{VornLanguage::Case::zhHans};
inline constexpr VornLanguage VornLanguage::zhHant{VornLanguage::Case::zhHant};

// The raw value (the code), as every text enumeration offers it.
inline std::string_view rawValue(VornLanguage language) { return language.code(); }

template <>
struct std::hash<VornLanguage> {
    std::size_t operator()(VornLanguage language) const noexcept {
        return std::hash<std::string_view>{}(language.code());
    }
};

// JSON coding: a language is its code; decoding is VornLanguage::decode.
template <>
struct nlohmann::adl_serializer<VornLanguage> {
    static VornLanguage from_json(const nlohmann::json& value) { return VornLanguage::decode(value); }
    static void to_json(nlohmann::json& value, VornLanguage language) {
        value = std::string(language.code());
    }
};

// The user's language choice: an explicit language, or following the operating system.
class VornLanguageSelection {
public:
    static VornLanguageSelection system() { return VornLanguageSelection(std::nullopt); }
    static VornLanguageSelection explicitLanguage(VornLanguage language) {
        return VornLanguageSelection(language);
    }
    // system() while the stored preference says "system", else explicitLanguage(current()).
    static VornLanguageSelection current();

    bool isSystem() const { return !language_.has_value(); }
    // The explicit language; nothing for system().
    std::optional<VornLanguage> language() const { return language_; }
    // The explicit language, or VornLanguage::systemResolved() for system().
    VornLanguage resolvedLanguage() const;

    bool operator==(const VornLanguageSelection&) const = default;

private:
    explicit VornLanguageSelection(std::optional<VornLanguage> language) : language_(language) {}
    std::optional<VornLanguage> language_;
};

template <>
struct std::hash<VornLanguageSelection> {
    std::size_t operator()(const VornLanguageSelection& selection) const noexcept {
        if (selection.isSystem()) {
            return 0;
        }
        return std::hash<VornLanguage>{}(*selection.language()) * 31 + 1;
    }
};

// While its depth is above 0, VornLanguage::setCurrent() changes the language without storing
// it. The language picker raises it around choices that must leave "system" stored.
class VornLanguagePersistenceGuard {
public:
    static VornLanguagePersistenceGuard& shared();

    int suppressDepth() const;
    void raise();
    // Never below 0.
    void lower();

    // Raises the depth for the lifetime of the object.
    class Suppression {
    public:
        explicit Suppression(VornLanguagePersistenceGuard& guard) : guard_(guard) { guard_.raise(); }
        ~Suppression() { guard_.lower(); }
        Suppression(const Suppression&) = delete;
        Suppression& operator=(const Suppression&) = delete;

    private:
        VornLanguagePersistenceGuard& guard_;
    };

private:
    mutable std::mutex mutex_;
    int suppressDepth_ = 0;
};
