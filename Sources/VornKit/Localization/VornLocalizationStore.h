#pragma once

#include "VornLanguage.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

// The text to show for `language`: a custom override (by key, then by the English text) when the
// store holds one; English as written for en; the Turkish text (English when it is empty) for tr;
// for every other language its catalog entry by key, then by English text, then by template, then
// the same in the parent language's catalog (pt-BR for pt-PT, zh-Hans for zh-Hant); else English.
// Never fails. The language defaults to the user's current one, read at each call.
std::string vornText(std::string_view en, std::string_view tr, std::optional<std::string_view> key = std::nullopt,
                     VornLanguage language = VornLanguage::current());

// A language-pack file. Every field is optional when read; a field of the wrong JSON type makes
// the whole pack unreadable (VornLocalizationPackError). Written with all six keys.
struct VornLocalizationPack {
    std::string code;         // "pt-BR"
    std::string nativeName;
    std::string englishName;
    bool isRTL = false;
    std::map<std::string, std::string> strings;    // English text or key → translation
    std::map<std::string, std::string> templates;  // English pattern with {0}, {1}… → translation

    bool operator==(const VornLocalizationPack&) const = default;

    static VornLocalizationPack fromJSON(const nlohmann::json& value);
    nlohmann::json toJSON() const;
};

// A custom pack that could not be read as either a flat map of strings or a language pack.
class VornLocalizationPackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The custom overrides, the catalogs loaded so far and the extra catalog folders of one process.
// Catalogs are "<code>.json.lzfse" or "<code>.json" files (a language pack or a flat map of
// strings), searched in candidateDirectories() order, merged (earlier folders win), loaded on first
// use per language and cached until reloadCatalogs() or registerSearchDirectory(). A broken,
// oversized or unreadable file is skipped on its own and never affects other files or languages.
// One lock guards the store's maps and is never held during file access, decoding or matching.
class VornLocalizationStore {
public:
    // Catalog files (compressed or decompressed) above this size are skipped.
    static constexpr std::size_t maxCatalogBytes = std::size_t{16} << 20;

    explicit VornLocalizationStore(std::vector<std::filesystem::path> searchDirectories = {});
    // As above, with an explicit folder in place of the bundle's "Localizations" (nothing: none).
    VornLocalizationStore(std::vector<std::filesystem::path> searchDirectories,
                          std::optional<std::filesystem::path> bundleDirectory);
    ~VornLocalizationStore();
    VornLocalizationStore(const VornLocalizationStore&) = delete;
    VornLocalizationStore& operator=(const VornLocalizationStore&) = delete;

    // The process's store, created on first use with no extra folders.
    static VornLocalizationStore& shared();

    // The lookup of vornText() on this store.
    std::string resolve(std::optional<std::string_view> key, std::string_view en, std::string_view tr,
                        VornLanguage language);
    std::string string(std::string_view key, std::string_view en, std::string_view tr, VornLanguage language);

    // Loads and caches the language's catalog now; nothing for en and tr.
    void preloadIfNeeded(VornLanguage language);
    // Puts the folder first among the extra folders (unless it is already listed) and drops every
    // cached catalog.
    void registerSearchDirectory(const std::filesystem::path& directory);
    // Drops every cached catalog, so that the next lookups read the files again.
    void reloadCatalogs();

    // Replaces the custom overrides with the entries of one file: a flat map of strings, or a
    // language pack whose strings are taken (its templates are not). A ".lzfse" file is
    // decompressed first. Throws std::filesystem::filesystem_error (read), VornLZFSEError
    // (decompression) or VornLocalizationPackError (neither form, too large); the overrides are
    // then unchanged.
    void loadJSONPack(const std::filesystem::path& file);
    void clearCustomPack();

    // Where catalogs are searched, in precedence order: the extra folders (latest registered
    // first), customLanguagePacksDirectory(), the bundle's "Localizations", and
    // sharedSuiteLocalizationsDirectory().
    std::vector<std::filesystem::path> candidateDirectories() const;
    // "$XDG_DATA_HOME/Vornworks/Localizations", shared by the suite's applications.
    static std::filesystem::path sharedSuiteLocalizationsDirectory();
    // Its "Custom" subfolder.
    static std::filesystem::path customLanguagePacksDirectory();

    // Called on the loading thread after a catalog was read from disk and before it is cached,
    // without the lock held. For tests that need to act in exactly that window.
    void setCatalogLoadedHookForTesting(std::function<void(VornLanguage)> hook);

    struct LoadedCatalog;

private:
    std::shared_ptr<const LoadedCatalog> catalog(VornLanguage language);
    std::shared_ptr<const LoadedCatalog> loadCatalogFromDisk(std::string_view code) const;

    const std::optional<std::filesystem::path> bundleDirectory_;

    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> customOverrides_;
    std::unordered_map<std::string, std::shared_ptr<const LoadedCatalog>> loadedCatalogs_;
    std::vector<std::filesystem::path> extraSearchDirectories_;
    // Grows whenever loadedCatalogs_ is emptied: a load that began before cannot store its result.
    std::uint64_t catalogGeneration_ = 0;
    std::function<void(VornLanguage)> catalogLoadedHook_;
};
