#include "VornLocalizationStore.h"

#include "VornASCII.h"
#include "VornBundle.h"
#include "VornFileIO.h"
#include "VornJSON.h"
#include "VornLZFSE.h"
#include "VornXDG.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <variant>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Catalogs shipped with the program live in the bundle's resources.
std::optional<fs::path> bundleLocalizationsDirectory() {
    return VornBundle::main().resourceDirectory() / "Localizations";
}

// Byte offsets of the user-perceived characters of a UTF-8 text, 0 and text.size() included.
// Ill-formed bytes count as one character each, as ICU reads them as U+FFFD.
std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
    std::vector<std::size_t> boundaries{0};
    if (text.empty()) {
        return boundaries;
    }
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = nullptr;
    if (iterator && text.size() <= static_cast<std::size_t>(INT32_MAX)) {
        utext = utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status);
    }
    if (utext != nullptr && U_SUCCESS(status)) {
        iterator->setText(utext, status);
        if (U_SUCCESS(status)) {
            for (std::int32_t b = iterator->next(); b != icu::BreakIterator::DONE; b = iterator->next()) {
                boundaries.push_back(static_cast<std::size_t>(b));
            }
        }
        // The iterator keeps a shallow clone of the UText; detach it before the text goes away.
        UErrorCode resetStatus = U_ZERO_ERROR;
        UText* empty = utext_openUTF8(nullptr, "", 0, &resetStatus);
        iterator->setText(empty, resetStatus);
        utext_close(empty);
        utext_close(utext);
        if (U_SUCCESS(status) && boundaries.back() == text.size()) {
            return boundaries;
        }
    } else if (utext != nullptr) {
        utext_close(utext);
    }
    // Without ICU's rules: one character per code point lead byte.
    boundaries.assign(1, 0);
    for (std::size_t i = 1; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            boundaries.push_back(i);
        }
    }
    boundaries.push_back(text.size());
    return boundaries;
}

std::size_t graphemeCount(std::string_view text) { return graphemeBoundaries(text).size() - 1; }

// One English pattern with numbered placeholders and its translation.
struct CompiledTemplate {
    std::vector<std::string> sourceLiterals;  // placeholderCount + 1 pieces
    int placeholderCount = 0;
    // The translation split once into literal text and placeholder numbers, so that applying it
    // is a single pass: a value that itself contains "{1}" is never rewritten.
    std::vector<std::variant<std::string, int>> target;
    std::size_t literalWeight = 0;

    static std::optional<CompiledTemplate> compile(std::string_view source, std::string_view targetText) {
        CompiledTemplate compiled;
        std::size_t position = 0;
        int n = 0;
        for (;; ++n) {
            const std::string placeholder = "{" + std::to_string(n) + "}";
            const std::size_t found = source.find(placeholder, position);
            if (found == std::string_view::npos) {
                break;
            }
            compiled.sourceLiterals.emplace_back(source.substr(position, found - position));
            position = found + placeholder.size();
        }
        if (n == 0) {
            return std::nullopt;
        }
        compiled.sourceLiterals.emplace_back(source.substr(position));
        compiled.placeholderCount = n;
        for (const std::string& literal : compiled.sourceLiterals) {
            compiled.literalWeight += graphemeCount(literal);
        }
        if (compiled.literalWeight < 2) {
            return std::nullopt;
        }
        compiled.target = splitTarget(targetText, n);
        return compiled;
    }

    static std::vector<std::variant<std::string, int>> splitTarget(std::string_view text, int count) {
        std::vector<std::variant<std::string, int>> pieces;
        std::string literal;
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] == '{') {
                const std::size_t close = text.find('}', i + 1);
                if (close != std::string_view::npos && close > i + 1) {
                    const std::string_view digits = text.substr(i + 1, close - i - 1);
                    int index = -1;
                    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
                    const bool canonical = error == std::errc{} && end == digits.data() + digits.size() &&
                                           (digits.size() == 1 || digits.front() != '0');
                    if (canonical && index >= 0 && index < count) {
                        if (!literal.empty()) {
                            pieces.emplace_back(std::move(literal));
                            literal.clear();
                        }
                        pieces.emplace_back(index);
                        i = close + 1;
                        continue;
                    }
                }
            }
            literal += text[i++];
        }
        if (!literal.empty()) {
            pieces.emplace_back(std::move(literal));
        }
        return pieces;
    }

    // `textCharacters` is the character count of `text`, counted once by the caller.
    std::optional<std::string> apply(std::string_view text, std::size_t textCharacters) const {
        if (textCharacters < literalWeight) {
            return std::nullopt;
        }
        const std::string& first = sourceLiterals.front();
        const std::string& last = sourceLiterals.back();
        if (!text.starts_with(first) || !text.ends_with(last) || text.size() < first.size() + last.size()) {
            return std::nullopt;
        }
        const std::string_view middle = text.substr(first.size(), text.size() - first.size() - last.size());
        std::vector<std::string_view> values;
        values.reserve(static_cast<std::size_t>(placeholderCount));
        std::size_t position = 0;
        for (int i = 1; i < placeholderCount; ++i) {
            const std::string& inner = sourceLiterals[static_cast<std::size_t>(i)];
            if (inner.empty()) {
                return std::nullopt;  // adjacent placeholders cannot be told apart
            }
            const std::size_t found = middle.find(inner, position);
            if (found == std::string_view::npos || found == position) {
                return std::nullopt;
            }
            values.push_back(middle.substr(position, found - position));
            position = found + inner.size();
        }
        if (position >= middle.size()) {
            return std::nullopt;
        }
        values.push_back(middle.substr(position));

        std::string result;
        for (const auto& piece : target) {
            if (const auto* literal = std::get_if<std::string>(&piece)) {
                result += *literal;
            } else {
                result += values[static_cast<std::size_t>(std::get<int>(piece))];
            }
        }
        return result;
    }
};

std::string_view prefixCharacters(std::string_view text, const std::vector<std::size_t>& boundaries, std::size_t n) {
    return text.substr(0, boundaries[n]);
}

std::string_view suffixCharacters(std::string_view text, const std::vector<std::size_t>& boundaries, std::size_t n) {
    return text.substr(boundaries[boundaries.size() - 1 - n]);
}

bool hasLZFSEExtension(const fs::path& path) {
    return VornASCII::equalIgnoringCase(path.extension().string(), ".lzfse");
}

std::string decompress(const std::string& bytes) {
    const auto decoded = VornLZFSE::decode(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        VornLocalizationStore::maxCatalogBytes);
    return std::string(decoded.begin(), decoded.end());
}

// A JSON object whose every value is a string; nothing for anything else.
std::optional<std::map<std::string, std::string>> flatStringMap(const json& value) {
    if (!value.is_object()) {
        return std::nullopt;
    }
    std::map<std::string, std::string> result;
    for (const auto& [key, entry] : value.items()) {
        if (!entry.is_string()) {
            return std::nullopt;
        }
        result.emplace(key, entry.get<std::string>());
    }
    return result;
}

std::optional<VornLocalizationPack> packOf(const json& value) {
    try {
        return VornLocalizationPack::fromJSON(value);
    } catch (const VornLocalizationPackError&) {
        return std::nullopt;
    }
}

void mergeNonEmpty(std::map<std::string, std::string>& into, const std::map<std::string, std::string>& from) {
    for (const auto& [key, value] : from) {
        if (!value.empty()) {
            into.insert_or_assign(key, value);
        }
    }
}

}  // namespace

struct VornLocalizationStore::LoadedCatalog {
    std::unordered_map<std::string, std::string> strings;
    std::unordered_map<std::string, std::vector<CompiledTemplate>> byPrefix;
    std::unordered_map<std::string, std::vector<CompiledTemplate>> bySuffix;

    bool empty() const { return strings.empty() && byPrefix.empty() && bySuffix.empty(); }

    static std::shared_ptr<const LoadedCatalog> build(std::map<std::string, std::string> strings,
                                                      const std::map<std::string, std::string>& templates) {
        auto catalog = std::make_shared<LoadedCatalog>();
        catalog->strings.insert(std::make_move_iterator(strings.begin()), std::make_move_iterator(strings.end()));
        for (const auto& [pattern, target] : templates) {
            if (target.empty()) {
                continue;
            }
            auto compiled = CompiledTemplate::compile(pattern, target);
            if (!compiled) {
                continue;
            }
            const std::string& first = compiled->sourceLiterals.front();
            const std::string& last = compiled->sourceLiterals.back();
            const auto firstBoundaries = graphemeBoundaries(first);
            const auto lastBoundaries = graphemeBoundaries(last);
            const std::size_t firstCount = firstBoundaries.size() - 1;
            const std::size_t lastCount = lastBoundaries.size() - 1;
            if (firstCount >= 2) {
                const std::string index(prefixCharacters(first, firstBoundaries, std::min<std::size_t>(firstCount, 3)));
                catalog->byPrefix[index].push_back(std::move(*compiled));
            } else if (lastCount >= 2) {
                const std::string index(suffixCharacters(last, lastBoundaries, std::min<std::size_t>(lastCount, 3)));
                catalog->bySuffix[index].push_back(std::move(*compiled));
            }
        }
        for (auto* index : {&catalog->byPrefix, &catalog->bySuffix}) {
            for (auto& [key, list] : *index) {
                std::stable_sort(list.begin(), list.end(), [](const CompiledTemplate& a, const CompiledTemplate& b) {
                    return a.literalWeight > b.literalWeight;
                });
            }
        }
        return catalog;
    }

    std::optional<std::string> lookup(std::optional<std::string_view> key, std::string_view en) const {
        if (key) {
            if (auto it = strings.find(std::string(*key)); it != strings.end() && !it->second.empty()) {
                return it->second;
            }
        }
        if (auto it = strings.find(std::string(en)); it != strings.end() && !it->second.empty()) {
            return it->second;
        }
        if (byPrefix.empty() && bySuffix.empty()) {
            return std::nullopt;
        }
        const auto boundaries = graphemeBoundaries(en);
        const std::size_t characters = boundaries.size() - 1;
        if (characters < 3) {
            return std::nullopt;
        }
        const auto tryLists = [&](const auto& index, bool fromStart) -> std::optional<std::string> {
            if (index.empty()) {
                return std::nullopt;
            }
            for (std::size_t n : {std::size_t{3}, std::size_t{2}}) {
                const std::string_view piece =
                    fromStart ? prefixCharacters(en, boundaries, n) : suffixCharacters(en, boundaries, n);
                auto it = index.find(std::string(piece));
                if (it == index.end()) {
                    continue;
                }
                for (const CompiledTemplate& compiled : it->second) {
                    if (auto result = compiled.apply(en, characters)) {
                        return result;
                    }
                }
            }
            return std::nullopt;
        };
        if (auto result = tryLists(byPrefix, true)) {
            return result;
        }
        return tryLists(bySuffix, false);
    }
};

namespace {
const std::shared_ptr<const VornLocalizationStore::LoadedCatalog>& emptyCatalog() {
    static const auto empty = std::make_shared<const VornLocalizationStore::LoadedCatalog>();
    return empty;
}
}  // namespace

VornLocalizationPack VornLocalizationPack::fromJSON(const json& value) {
    if (!value.is_object()) {
        throw VornLocalizationPackError("a language pack must be a JSON object");
    }
    VornLocalizationPack pack;
    const auto text = [&](const char* name, std::string& into) {
        if (auto it = value.find(name); it != value.end()) {
            if (!it->is_string()) {
                throw VornLocalizationPackError(std::string("language pack field \"") + name + "\" must be text");
            }
            into = it->get<std::string>();
        }
    };
    const auto map = [&](const char* name, std::map<std::string, std::string>& into) {
        if (auto it = value.find(name); it != value.end()) {
            auto entries = flatStringMap(*it);
            if (!entries) {
                throw VornLocalizationPackError(std::string("language pack field \"") + name +
                                                "\" must be an object of texts");
            }
            into = std::move(*entries);
        }
    };
    text("code", pack.code);
    text("nativeName", pack.nativeName);
    text("englishName", pack.englishName);
    if (auto it = value.find("isRTL"); it != value.end()) {
        if (!it->is_boolean()) {
            throw VornLocalizationPackError("language pack field \"isRTL\" must be true or false");
        }
        pack.isRTL = it->get<bool>();
    }
    map("strings", pack.strings);
    map("templates", pack.templates);
    return pack;
}

json VornLocalizationPack::toJSON() const {
    return json{{"code", code},       {"nativeName", nativeName}, {"englishName", englishName},
                {"isRTL", isRTL},     {"strings", strings},       {"templates", templates}};
}

std::string vornText(std::string_view en, std::string_view tr, std::optional<std::string_view> key,
                     VornLanguage language) {
    return VornLocalizationStore::shared().resolve(key, en, tr, language);
}

VornLocalizationStore::VornLocalizationStore(std::vector<fs::path> searchDirectories)
    : VornLocalizationStore(std::move(searchDirectories), bundleLocalizationsDirectory()) {}

VornLocalizationStore::VornLocalizationStore(std::vector<fs::path> searchDirectories,
                                             std::optional<fs::path> bundleDirectory)
    : bundleDirectory_(std::move(bundleDirectory)), extraSearchDirectories_(std::move(searchDirectories)) {}

VornLocalizationStore::~VornLocalizationStore() = default;

VornLocalizationStore& VornLocalizationStore::shared() {
    // Never destroyed: a lookup on a thread that outlives main() still finds it intact.
    static auto* store = new VornLocalizationStore;
    return *store;
}

fs::path VornLocalizationStore::sharedSuiteLocalizationsDirectory() {
    return VornXDG::makerFolder() / "Localizations";
}

fs::path VornLocalizationStore::customLanguagePacksDirectory() {
    return sharedSuiteLocalizationsDirectory() / "Custom";
}

std::vector<fs::path> VornLocalizationStore::candidateDirectories() const {
    std::vector<fs::path> directories;
    {
        std::lock_guard lock(mutex_);
        directories = extraSearchDirectories_;
    }
    directories.push_back(customLanguagePacksDirectory());
    if (bundleDirectory_) {
        directories.push_back(*bundleDirectory_);
    }
    directories.push_back(sharedSuiteLocalizationsDirectory());
    return directories;
}

std::string VornLocalizationStore::resolve(std::optional<std::string_view> key, std::string_view en,
                                           std::string_view tr, VornLanguage language) {
    {
        std::lock_guard lock(mutex_);
        if (!customOverrides_.empty()) {
            if (key) {
                if (auto it = customOverrides_.find(*key); it != customOverrides_.end() && !it->second.empty()) {
                    return it->second;
                }
            }
            if (auto it = customOverrides_.find(en); it != customOverrides_.end() && !it->second.empty()) {
                return it->second;
            }
        }
    }
    if (language == VornLanguage::en) {
        return std::string(en);
    }
    if (language == VornLanguage::tr) {
        return std::string(tr.empty() ? en : tr);
    }
    if (auto text = catalog(language)->lookup(key, en)) {
        return std::move(*text);
    }
    if (auto parent = language.fallbackParent()) {
        if (auto text = catalog(*parent)->lookup(key, en)) {
            return std::move(*text);
        }
    }
    return std::string(en);
}

std::string VornLocalizationStore::string(std::string_view key, std::string_view en, std::string_view tr,
                                          VornLanguage language) {
    return resolve(key, en, tr, language);
}

void VornLocalizationStore::preloadIfNeeded(VornLanguage language) {
    if (language != VornLanguage::en && language != VornLanguage::tr) {
        catalog(language);
    }
}

void VornLocalizationStore::registerSearchDirectory(const fs::path& directory) {
    // "dir", "dir/" and "dir/." name the same location.
    const auto comparable = [](const fs::path& path) {
        fs::path normal = path.lexically_normal();
        return normal.has_filename() || !normal.has_relative_path() ? normal : normal.parent_path();
    };
    const fs::path normal = comparable(directory);
    std::lock_guard lock(mutex_);
    const bool listed = std::any_of(extraSearchDirectories_.begin(), extraSearchDirectories_.end(),
                                    [&](const fs::path& p) { return comparable(p) == normal; });
    if (!listed) {
        extraSearchDirectories_.insert(extraSearchDirectories_.begin(), directory);
    }
    loadedCatalogs_.clear();
    ++catalogGeneration_;
}

void VornLocalizationStore::reloadCatalogs() {
    std::lock_guard lock(mutex_);
    loadedCatalogs_.clear();
    ++catalogGeneration_;
}

void VornLocalizationStore::clearCustomPack() {
    std::lock_guard lock(mutex_);
    customOverrides_.clear();
}

void VornLocalizationStore::loadJSONPack(const fs::path& file) {
    std::error_code error;
    auto bytes = vornReadFileCapped(file, maxCatalogBytes, error);
    if (!bytes) {
        throw fs::filesystem_error("cannot read the language pack", file, error);
    }
    if (hasLZFSEExtension(file)) {
        *bytes = decompress(*bytes);
    }
    json value;
    try {
        value = vornJSONParse(*bytes, maxCatalogBytes);
    } catch (const VornDecodingError& error) {
        throw VornLocalizationPackError("language pack " + file.string() + " is not valid JSON: " + error.what());
    }
    std::map<std::string, std::string> entries;
    if (auto flat = flatStringMap(value)) {
        entries = std::move(*flat);
    } else {
        try {
            entries = VornLocalizationPack::fromJSON(value).strings;
        } catch (const VornLocalizationPackError& packError) {
            throw VornLocalizationPackError("language pack " + file.string() + ": " + packError.what());
        }
    }
    std::map<std::string, std::string, std::less<>> overrides(std::make_move_iterator(entries.begin()),
                                                              std::make_move_iterator(entries.end()));
    std::lock_guard lock(mutex_);
    customOverrides_ = std::move(overrides);
}

void VornLocalizationStore::setCatalogLoadedHookForTesting(std::function<void(VornLanguage)> hook) {
    std::lock_guard lock(mutex_);
    catalogLoadedHook_ = std::move(hook);
}

std::shared_ptr<const VornLocalizationStore::LoadedCatalog> VornLocalizationStore::catalog(VornLanguage language) {
    const std::string code(language.code());
    std::uint64_t generation = 0;
    std::function<void(VornLanguage)> hook;
    {
        std::lock_guard lock(mutex_);
        if (auto it = loadedCatalogs_.find(code); it != loadedCatalogs_.end()) {
            return it->second;
        }
        generation = catalogGeneration_;
        hook = catalogLoadedHook_;
    }
    auto loaded = loadCatalogFromDisk(code);
    if (hook) {
        hook(language);
    }
    std::lock_guard lock(mutex_);
    // A reload or a new folder since this load began makes what was read stale: it serves this
    // lookup only and is not cached.
    if (generation == catalogGeneration_) {
        loadedCatalogs_.insert_or_assign(code, loaded);
    }
    return loaded;
}

std::shared_ptr<const VornLocalizationStore::LoadedCatalog> VornLocalizationStore::loadCatalogFromDisk(
    std::string_view code) const {
    std::map<std::string, std::string> strings;
    std::map<std::string, std::string> templates;
    const auto directories = candidateDirectories();
    for (auto directory = directories.rbegin(); directory != directories.rend(); ++directory) {
        for (const char* suffix : {".json.lzfse", ".json"}) {
            const fs::path file = *directory / (std::string(code) + suffix);
            std::error_code error;
            auto bytes = vornReadFileCapped(file, maxCatalogBytes, error);
            if (!bytes) {
                continue;
            }
            try {
                if (hasLZFSEExtension(file)) {
                    *bytes = decompress(*bytes);
                }
            } catch (const std::exception&) {  // corrupt stream, or out of memory
                continue;
            }
            const json value = vornJSONParseOrDiscarded(*bytes, maxCatalogBytes);
            if (value.is_discarded()) {
                continue;
            }
            if (auto pack = packOf(value); pack && (!pack->strings.empty() || !pack->templates.empty())) {
                mergeNonEmpty(strings, pack->strings);
                mergeNonEmpty(templates, pack->templates);
                break;
            }
            // An empty object yields no entries: like a broken file, it lets the next name
            // (the plain catalog after the compressed one) be tried.
            if (auto flat = flatStringMap(value); flat && !flat->empty()) {
                mergeNonEmpty(strings, *flat);
                break;
            }
        }
    }
    if (strings.empty() && templates.empty()) {
        return emptyCatalog();
    }
    return LoadedCatalog::build(std::move(strings), templates);
}
