#include "VornLanguage.h"

#include "VornASCII.h"
#include "VornLocalizationStore.h"
#include "VornNotificationCenter.h"
#include "VornUnicode.h"
#include "VornUserDefaults.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <unicode/coll.h>
#include <unicode/unistr.h>

namespace {

struct LanguageFacts {
    std::string_view code;
    std::string_view nativeName;
    std::string_view englishName;
};

constexpr std::array<LanguageFacts, VornLanguage::caseCount> facts{{
    {"ar", "العربية", "Arabic"},
    {"az", "Azərbaycanca", "Azerbaijani"},
    {"bg", "Български", "Bulgarian"},
    {"ca", "Català", "Catalan"},
    {"cs", "Čeština", "Czech"},
    {"da", "Dansk", "Danish"},
    {"de", "Deutsch", "German"},
    {"el", "Ελληνικά", "Greek"},
    {"en", "English", "English"},
    {"es", "Español", "Spanish"},
    {"fa", "فارسی", "Persian"},
    {"fi", "Suomi", "Finnish"},
    {"fr", "Français", "French"},
    {"he", "עברית", "Hebrew"},
    {"hi", "हिन्दी", "Hindi"},
    {"hr", "Hrvatski", "Croatian"},
    {"hu", "Magyar", "Hungarian"},
    {"id", "Bahasa Indonesia", "Indonesian"},
    {"it", "Italiano", "Italian"},
    {"ja", "日本語", "Japanese"},
    {"ko", "한국어", "Korean"},
    {"ms", "Bahasa Melayu", "Malay"},
    {"nb", "Norsk Bokmål", "Norwegian Bokmål"},
    {"nl", "Nederlands", "Dutch"},
    {"pl", "Polski", "Polish"},
    {"pt-BR", "Português (Brasil)", "Portuguese (Brazil)"},
    {"pt-PT", "Português (Portugal)", "Portuguese (Portugal)"},
    {"ro", "Română", "Romanian"},
    {"ru", "Русский", "Russian"},
    {"sk", "Slovenčina", "Slovak"},
    {"sv", "Svenska", "Swedish"},
    {"th", "ไทย", "Thai"},
    {"tr", "Türkçe", "Turkish"},
    {"uk", "Українська", "Ukrainian"},
    {"vi", "Tiếng Việt", "Vietnamese"},
    {"zh-Hans", "简体中文", "Chinese (Simplified)"},
    {"zh-Hant", "繁體中文", "Chinese (Traditional)"},
}};

const LanguageFacts& factsOf(VornLanguage language) {
    return facts[static_cast<std::size_t>(language.value())];
}

// "tr_TR.UTF-8@euro" → "tr_TR"; C and POSIX (with any codeset) name no language.
std::optional<std::string> localeTag(std::string_view entry) {
    entry = entry.substr(0, entry.find_first_of(".@"));
    if (entry.empty() || entry == "C" || entry == "POSIX") {
        return std::nullopt;
    }
    return std::string(entry);
}

void storePreference(std::string_view value) {
    // Choosing a language never fails: an unwritable preference keeps the old one, and the
    // language still changes for this session.
    try {
        VornUserDefaults::standard().setString(VornLanguage::defaultsKey, value);
    } catch (const std::exception&) {
    }
}

void announce(VornLanguage language) {
    VornLocalizationStore::shared().preloadIfNeeded(language);
    VornNotificationCenter::defaultCenter().post(std::string(vornLanguageDidChange), language);
}

}  // namespace

std::string_view VornLanguage::code() const { return factsOf(*this).code; }
std::string_view VornLanguage::nativeName() const { return factsOf(*this).nativeName; }
std::string_view VornLanguage::englishName() const { return factsOf(*this).englishName; }

std::string VornLanguage::shortCode() const {
    switch (value_) {
    case Case::ptBR: return "PT";
    case Case::ptPT: return "PT-PT";
    case Case::zhHans: return "ZH";
    case Case::zhHant: return "ZH-TW";
    default: break;
    }
    return VornASCII::uppercased(code());
}

std::string VornLanguage::displayName() const {
    const LanguageFacts& f = factsOf(*this);
    // Both names compared as the root locale folds case, as the names are not all ASCII.
    icu::UnicodeString native = icu::UnicodeString::fromUTF8(f.nativeName);
    icu::UnicodeString english = icu::UnicodeString::fromUTF8(f.englishName);
    if (native.caseCompare(english, U_FOLD_CASE_DEFAULT) == 0) {
        return std::string(f.nativeName);
    }
    std::string result;
    result.reserve(f.nativeName.size() + f.englishName.size() + 3);
    result.append(f.nativeName).append(" (").append(f.englishName).append(")");
    return result;
}

bool VornLanguage::isRTL() const { return value_ == Case::ar || value_ == Case::fa || value_ == Case::he; }

icu::Locale VornLanguage::locale() const { return icu::Locale(std::string(code()).c_str()); }

std::optional<VornLanguage> VornLanguage::fallbackParent() const {
    switch (value_) {
    case Case::ptPT: return ptBR;
    case Case::zhHant: return zhHans;
    default: return std::nullopt;
    }
}

const std::array<VornLanguage, VornLanguage::caseCount>& VornLanguage::allCases() {
    static const auto all = [] {
        std::array<VornLanguage, caseCount> result{
            ar, az, bg, ca, cs, da, de, el, en, es, fa, fi, fr, he, hi, hr, hu, id, it,
            ja, ko, ms, nb, nl, pl, ptBR, ptPT, ro, ru, sk, sv, th, tr, uk, vi, zhHans, zhHant};
        return result;
    }();
    return all;
}

const std::vector<VornLanguage>& VornLanguage::sortedCases() {
    static const std::vector<VornLanguage> sorted = [] {
        std::vector<VornLanguage> result(allCases().begin(), allCases().end());
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !collator) {
            std::stable_sort(result.begin(), result.end(), [](VornLanguage a, VornLanguage b) {
                return VornASCII::lowercased(a.englishName()) < VornASCII::lowercased(b.englishName());
            });
            return result;
        }
        collator->setStrength(icu::Collator::SECONDARY);  // accents count, letter case does not
        std::stable_sort(result.begin(), result.end(), [&](VornLanguage a, VornLanguage b) {
            UErrorCode compareStatus = U_ZERO_ERROR;
            return collator->compareUTF8(a.englishName(), b.englishName(), compareStatus) == UCOL_LESS;
        });
        return result;
    }();
    return sorted;
}

std::optional<VornLanguage> VornLanguage::fromRawValue(std::string_view code) {
    for (VornLanguage language : allCases()) {
        if (language.code() == code) {
            return language;
        }
    }
    return std::nullopt;
}

std::optional<VornLanguage> VornLanguage::match(std::string_view tag) {
    std::string normalized = VornUnicode::trimmed(tag);
    std::replace(normalized.begin(), normalized.end(), '_', '-');
    if (normalized.empty()) {
        return std::nullopt;
    }
    for (VornLanguage language : allCases()) {
        if (VornASCII::equalIgnoringCase(language.code(), normalized)) {
            return language;
        }
    }
    const std::string t = VornASCII::lowercased(normalized);
    const auto isOrStartsWith = [&](std::string_view base) {
        return t == base || t.starts_with(std::string(base) + "-");
    };
    if (isOrStartsWith("zh")) {
        for (std::string_view marker : {"hant", "-tw", "-hk", "-mo"}) {
            if (t.find(marker) != std::string::npos) {
                return zhHant;
            }
        }
        return zhHans;
    }
    if (isOrStartsWith("pt")) {
        return t.starts_with("pt-pt") ? ptPT : ptBR;
    }
    if (isOrStartsWith("no") || isOrStartsWith("nb") || isOrStartsWith("nn")) {
        return nb;
    }
    std::string_view base = t;
    std::size_t start = 0;
    while (start < t.size() && t[start] == '-') {
        ++start;
    }
    if (start < t.size()) {
        const std::size_t end = t.find('-', start);
        base = std::string_view(t).substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    if (base == "iw") {
        return he;
    }
    if (base == "in") {
        return id;
    }
    for (VornLanguage language : allCases()) {
        if (VornASCII::lowercased(language.code()) == base) {
            return language;
        }
    }
    return std::nullopt;
}

VornLanguage VornLanguage::resolve(std::span<const std::string> tags) {
    for (const std::string& tag : tags) {
        if (auto language = match(tag)) {
            return *language;
        }
    }
    return en;
}

std::vector<std::string> VornLanguage::systemPreferredLanguages() {
    std::vector<std::string> result;
    if (const char* list = std::getenv("LANGUAGE")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            if (auto tag = localeTag(rest.substr(0, colon))) {
                result.push_back(std::move(*tag));
            }
            rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        }
    }
    // The messages locale is the first of these that is set and not empty.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            if (auto tag = localeTag(value)) {
                result.push_back(std::move(*tag));
            }
            break;
        }
    }
    return result;
}

VornLanguage VornLanguage::systemResolved() { return resolve(systemPreferredLanguages()); }

std::string VornLanguage::storedPreferenceCode() {
    const auto stored = VornUserDefaults::standard().string(defaultsKey);
    if (!stored) {
        return std::string(systemPreferenceCode);
    }
    std::string value = VornUnicode::trimmed(*stored);
    return value.empty() ? std::string(systemPreferenceCode) : value;
}

bool VornLanguage::isFollowingSystem() { return VornASCII::equalIgnoringCase(storedPreferenceCode(), systemPreferenceCode); }

VornLanguage VornLanguage::current() {
    const std::string stored = storedPreferenceCode();
    if (!VornASCII::equalIgnoringCase(stored, systemPreferenceCode)) {
        if (auto language = match(stored)) {
            return *language;
        }
    }
    return systemResolved();
}

void VornLanguage::setCurrent(VornLanguage language) {
    if (VornLanguagePersistenceGuard::shared().suppressDepth() < 1) {
        storePreference(language.code());
    }
    announce(language);
}

void VornLanguage::setFollowSystem() {
    storePreference(systemPreferenceCode);
    announce(systemResolved());
}

void VornLanguage::applyFollowSystem(const std::function<void()>& action) {
    setFollowSystem();
    VornLanguagePersistenceGuard::Suppression suppression(VornLanguagePersistenceGuard::shared());
    if (action) {
        action();
    }
}

VornLanguage VornLanguage::decode(const nlohmann::json& value) {
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    const std::string code = VornUnicode::trimmed(text);
    if (code.empty() || VornASCII::equalIgnoringCase(code, systemPreferenceCode)) {
        return systemResolved();
    }
    if (auto language = fromRawValue(code)) {
        return *language;
    }
    if (auto language = match(code)) {
        return *language;
    }
    return systemResolved();
}

VornLanguageSelection VornLanguageSelection::current() {
    if (VornLanguage::isFollowingSystem()) {
        return system();
    }
    return explicitLanguage(VornLanguage::current());
}

VornLanguage VornLanguageSelection::resolvedLanguage() const {
    return language_ ? *language_ : VornLanguage::systemResolved();
}

VornLanguagePersistenceGuard& VornLanguagePersistenceGuard::shared() {
    static VornLanguagePersistenceGuard guard;
    return guard;
}

int VornLanguagePersistenceGuard::suppressDepth() const {
    std::lock_guard lock(mutex_);
    return suppressDepth_;
}

void VornLanguagePersistenceGuard::raise() {
    std::lock_guard lock(mutex_);
    ++suppressDepth_;
}

void VornLanguagePersistenceGuard::lower() {
    std::lock_guard lock(mutex_);
    if (suppressDepth_ > 0) {
        --suppressDepth_;
    }
}
