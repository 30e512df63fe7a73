#include "VornLZFSE.h"
#include "VornLocalizationStore.h"
#include "VornTestSupport.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A store over private folders: XDG_DATA_HOME (the suite's shared and Custom folders) and a
// bundle folder both live in a temporary directory.
class VornLocalizationStoreTest : public ::testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    fs::path bundle = dir / "bundle";
    fs::path shared = dir / "data/Vornworks/Localizations";
    fs::path custom = shared / "Custom";
    VornLocalizationStore store{{}, bundle};

    void writeCatalog(const fs::path& folder, const std::string& name, const json& content) {
        fs::create_directories(folder);
        dir.write(fs::relative(folder / name, dir.path()), content.dump());
    }
    void writeRaw(const fs::path& folder, const std::string& name, std::string_view bytes) {
        fs::create_directories(folder);
        dir.write(fs::relative(folder / name, dir.path()), bytes);
    }
    std::string text(std::string_view en, VornLanguage language, std::optional<std::string_view> key = std::nullopt,
                     std::string_view tr = "") {
        return store.resolve(key, en, tr, language);
    }
};

TEST_F(VornLocalizationStoreTest, EnglishAndTurkishComeFromTheSourceNeverFromCatalogs) {
    writeCatalog(shared, "en.json", {{"Cancel", "CATALOG-EN"}});
    writeCatalog(shared, "tr.json", {{"Cancel", "CATALOG-TR"}, {"Save", "CATALOG-TR"}});
    EXPECT_EQ(store.resolve(std::nullopt, "Cancel", "Vazgeç", VornLanguage::en), "Cancel");
    EXPECT_EQ(store.resolve(std::nullopt, "Cancel", "Vazgeç", VornLanguage::tr), "Vazgeç");
    EXPECT_EQ(store.resolve(std::nullopt, "Save", "", VornLanguage::tr), "Save");
    EXPECT_EQ(store.string("Cancel", "Cancel", "Vazgeç", VornLanguage::tr), "Vazgeç");
}

TEST_F(VornLocalizationStoreTest, CatalogLookupByKeyThenEnglishThenParentThenEnglish) {
    writeCatalog(shared, "de.json",
                 {{"code", "de"},
                  {"strings", {{"Cancel", "Abbrechen"}, {"pane.local", "Dieser Rechner"}, {"Empty", ""},
                               {"key.empty", ""}, {"Save", "Sichern"}}}});
    writeCatalog(shared, "pt-BR.json", {{"Refresh", "Atualizar"}, {"Cancel", "Cancelar"}});
    writeCatalog(shared, "pt-PT.json", {{"Cancel", "Cancelar (PT)"}});
    writeCatalog(shared, "zh-Hans.json", {{"Refresh", "刷新"}});
    struct Row {
        VornLanguage language;
        std::optional<std::string_view> key;
        std::string_view en, expected;
    };
    const Row rows[] = {
        {VornLanguage::de, std::nullopt, "Cancel", "Abbrechen"},
        {VornLanguage::de, "pane.local", "This Computer", "Dieser Rechner"},
        {VornLanguage::de, "no.such.key", "Cancel", "Abbrechen"},  // key missing: English text
        {VornLanguage::de, "key.empty", "Save", "Sichern"},        // empty value: English text
        {VornLanguage::de, std::nullopt, "Empty", "Empty"},        // empty value: falls back to English
        {VornLanguage::de, std::nullopt, "Missing", "Missing"},
        {VornLanguage::ptPT, std::nullopt, "Cancel", "Cancelar (PT)"},
        {VornLanguage::ptPT, std::nullopt, "Refresh", "Atualizar"},  // from the parent catalog
        {VornLanguage::ptBR, std::nullopt, "Refresh", "Atualizar"},
        {VornLanguage::zhHant, std::nullopt, "Refresh", "刷新"},
        {VornLanguage::fr, std::nullopt, "Refresh", "Refresh"},     // no catalog at all
        {VornLanguage::es, std::nullopt, "Refresh", "Refresh"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(text(row.en, row.language, row.key), row.expected) << row.language.code() << " " << row.en;
    }
}

TEST_F(VornLocalizationStoreTest, Templates) {
    struct Row {
        std::string pattern, target, text;
        std::optional<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"Copied {0} of {1} files", "{1}: {0}", "Copied 3 of 10 files", "10: 3"},
        {"Copied {0} of {1} files", "{1}: {0}", "Copied  of 10 files", std::nullopt},  // empty value 0
        {"Copied {0} of {1} files", "{1}: {0}", "Copied 3 of  files", std::nullopt},   // empty value 1
        {"Copied {0} of {1} files", "{1}: {0}", "Moved 3 of 10 files", std::nullopt},
        // Single pass: a value that looks like a placeholder stays as it is.
        {"Copied {0} of {1} files", "{0} / {1}", "Copied {1} of 10 files", "{1} / 10"},
        {"Copied {0} of {1} files", "{0}{0}{1}{2}{01}", "Copied a of b files", "aab{2}{01}"},
        {"Deleted {0} item(s)", "{0} Element(e) gelöscht", "Deleted 7 item(s)", "7 Element(e) gelöscht"},
        // Suffix-indexed: the first literal is empty.
        {"{0} files selected", "{0} Dateien ausgewählt", "12 files selected", "12 Dateien ausgewählt"},
        {"{0} files selected", "{0} Dateien ausgewählt", " files selected", std::nullopt},
        // Numbering must start at {0} and rise; what follows a gap is literal text.
        {"Item {1} of {0}", "x", "Item 1 of 2", std::nullopt},
        {"Step {0} of {2}", "Schritt {0}", "Step 4 of {2}", "Schritt 4"},
        // Too little literal text, or both outer literals shorter than two characters.
        {"{0}!", "{0}?", "Hi!", std::nullopt},
        {"a{0}b", "x{0}", "aXXb", std::nullopt},
        // Adjacent placeholders never match.
        {"Got {0}{1} items", "{0}-{1}", "Got 12 items", std::nullopt},
        // A text of two characters never matches.
        {"{0}ab", "<{0}>", "ab", std::nullopt},
        {"{0}ab", "<{0}>", "xab", "<x>"},
        // Multibyte literals are measured in characters.
        {"Über {0} Ö", "[{0}]", "Über x Ö", "[x]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pattern + " | " + row.text);
        fs::remove_all(shared);
        writeCatalog(shared, "de.json", {{"templates", {{row.pattern, row.target}}}, {"strings", json::object()}});
        store.reloadCatalogs();
        const std::string result = text(row.text, VornLanguage::de);
        EXPECT_EQ(result, row.expected.value_or(row.text));
    }
}

TEST_F(VornLocalizationStoreTest, ExactTextsBeatTemplatesAndLongerLiteralsWin) {
    writeCatalog(shared, "de.json",
                 {{"strings", {{"Copied 1 of 1 files", "Eine Datei kopiert"}}},
                  {"templates",
                   {{"Copied {0}", "Kopiert: {0}"},
                    {"Copied {0} of {1} files", "{0} von {1} Dateien kopiert"},
                    {"Cop{0}", "kurz {0}"}}}});
    EXPECT_EQ(text("Copied 1 of 1 files", VornLanguage::de), "Eine Datei kopiert");
    EXPECT_EQ(text("Copied 2 of 5 files", VornLanguage::de), "2 von 5 Dateien kopiert");
    EXPECT_EQ(text("Copied everything", VornLanguage::de), "Kopiert: everything");
    EXPECT_EQ(text("Cops", VornLanguage::de), "kurz s");
}

TEST_F(VornLocalizationStoreTest, CustomOverridesWinForEveryLanguage) {
    writeCatalog(shared, "de.json", {{"Cancel", "Abbrechen"}, {"Save", "Sichern"}});
    const fs::path pack = dir.write("override.json", json{{"Cancel", "Stop!"}, {"btn.save", "Store"},
                                                          {"Refresh", ""}}.dump());
    store.loadJSONPack(pack);
    for (VornLanguage language : {VornLanguage::en, VornLanguage::tr, VornLanguage::de, VornLanguage::ja}) {
        EXPECT_EQ(store.resolve(std::nullopt, "Cancel", "Vazgeç", language), "Stop!") << language.code();
        EXPECT_EQ(store.resolve("btn.save", "Save", "Kaydet", language), "Store") << language.code();
    }
    // An empty override is no override.
    EXPECT_EQ(store.resolve(std::nullopt, "Refresh", "Yenile", VornLanguage::tr), "Yenile");
    EXPECT_EQ(store.resolve(std::nullopt, "Save", "Kaydet", VornLanguage::de), "Sichern");

    // A language pack gives its strings; its templates are not used as overrides.
    const fs::path languagePack = dir.write(
        "pack.json", VornLocalizationPack{"de", "Deutsch", "German", false, {{"Save", "Speichern!"}},
                                          {{"Copied {0}", "K {0}"}}}
                         .toJSON()
                         .dump());
    store.loadJSONPack(languagePack);
    EXPECT_EQ(store.resolve(std::nullopt, "Cancel", "Vazgeç", VornLanguage::de), "Abbrechen");
    EXPECT_EQ(store.resolve(std::nullopt, "Save", "Kaydet", VornLanguage::tr), "Speichern!");
    EXPECT_EQ(store.resolve(std::nullopt, "Copied 3", "", VornLanguage::en), "Copied 3");

    store.clearCustomPack();
    EXPECT_EQ(store.resolve(std::nullopt, "Save", "Kaydet", VornLanguage::tr), "Kaydet");
}

TEST_F(VornLocalizationStoreTest, BadPackFilesFailClearlyAndKeepTheOverrides) {
    store.loadJSONPack(dir.write("good.json", R"({"Cancel":"Stop!"})"));
    struct Row {
        std::string name, bytes;
    };
    const std::vector<Row> rows = {
        {"truncated.json", R"({"Cancel":"Sto)"},
        {"array.json", R"(["Cancel"])"},
        {"wrong-types.json", R"({"strings":{"Cancel":1}})"},
        {"code-number.json", R"({"code":7,"strings":{"Cancel":"x"}})"},
        {"bad-utf8.json", "{\"Cancel\":\"\xff\xfe\"}"},
        {"broken.json.lzfse", "bvx2 not really a stream"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path file = dir.write(row.name, row.bytes);
        if (row.name.ends_with(".lzfse")) {
            EXPECT_THROW(store.loadJSONPack(file), VornLZFSEError);
        } else {
            EXPECT_THROW(store.loadJSONPack(file), VornLocalizationPackError);
        }
        EXPECT_EQ(store.resolve(std::nullopt, "Cancel", "Vazgeç", VornLanguage::tr), "Stop!");
    }
    EXPECT_THROW(store.loadJSONPack(dir / "missing.json"), fs::filesystem_error);
    EXPECT_THROW(store.loadJSONPack(dir.path()), fs::filesystem_error);  // a folder
    EXPECT_EQ(store.resolve(std::nullopt, "Cancel", "Vazgeç", VornLanguage::tr), "Stop!");
}

TEST_F(VornLocalizationStoreTest, DirectoriesInPrecedenceOrderMerge) {
    writeCatalog(shared, "de.json", {{"a", "shared"}, {"b", "shared"}, {"c", "shared"}, {"d", "shared"}});
    writeCatalog(bundle, "de.json", {{"a", "bundle"}, {"b", "bundle"}, {"c", "bundle"}});
    writeCatalog(custom, "de.json", {{"a", "custom"}, {"b", "custom"}, {"c", ""}});
    const fs::path older = dir / "older";
    const fs::path newer = dir / "newer";
    writeCatalog(older, "de.json", {{"a", "older"}});
    writeCatalog(newer, "de.json", {{"a", "newer"}, {"b", ""}});

    EXPECT_EQ(text("a", VornLanguage::de), "custom");
    EXPECT_EQ(text("c", VornLanguage::de), "bundle");
    store.registerSearchDirectory(older);
    EXPECT_EQ(text("a", VornLanguage::de), "older");
    store.registerSearchDirectory(newer);
    store.registerSearchDirectory(older / ".");  // already listed: order unchanged
    EXPECT_EQ(text("a", VornLanguage::de), "newer");
    EXPECT_EQ(text("b", VornLanguage::de), "custom");
    EXPECT_EQ(text("c", VornLanguage::de), "bundle");
    EXPECT_EQ(text("d", VornLanguage::de), "shared");
    EXPECT_EQ(store.candidateDirectories(), (std::vector<fs::path>{newer, older, custom, bundle, shared}));

    VornLocalizationStore withExtra({older});
    EXPECT_EQ(withExtra.candidateDirectories().front(), older);
    EXPECT_EQ(VornLocalizationStore::sharedSuiteLocalizationsDirectory(), shared);
    EXPECT_EQ(VornLocalizationStore::customLanguagePacksDirectory(), custom);
}

TEST_F(VornLocalizationStoreTest, CatalogsAreCachedUntilReloaded) {
    writeCatalog(shared, "de.json", {{"Cancel", "Abbrechen"}});
    store.preloadIfNeeded(VornLanguage::de);
    writeCatalog(shared, "de.json", {{"Cancel", "Stornieren"}});
    EXPECT_EQ(text("Cancel", VornLanguage::de), "Abbrechen");
    store.reloadCatalogs();
    EXPECT_EQ(text("Cancel", VornLanguage::de), "Stornieren");
}

// Each broken file sits in the Custom folder, above a good catalog in the shared folder: the lookup
// skips it without crashing or hanging and reaches the good one; other languages are untouched.
TEST_F(VornLocalizationStoreTest, MalformedCatalogsAreSkipped) {
    writeCatalog(shared, "de.json", {{"Cancel", "Abbrechen"}});
    struct Row {
        std::string name;
        std::function<void(const fs::path& file)> make;
    };
    const auto bytes = [](std::string content) {
        return [content](const fs::path& file) {
            std::ofstream(file, std::ios::binary) << content;
        };
    };
    const std::vector<Row> rows = {
        {"strings not an object", bytes(R"({"strings":["Cancel","x"]})")},
        {"value not text", bytes(R"({"Cancel":5})")},
        {"field of the wrong type", bytes(R"({"code":1,"strings":{"Cancel":"falsch"}})")},
        {"array", bytes(R"([{"Cancel":"falsch"}])")},
        {"bare string", bytes(R"("Cancel")")},
        {"truncated", bytes(R"({"Cancel":"fals)")},
        {"invalid UTF-8", bytes("{\"Cancel\":\"f\xc3\x28lsch\"}")},
        {"empty file", bytes("")},
        {"deep nesting", bytes(std::string(100000, '[') + std::string(100000, ']'))},
        {"100 MB", [](const fs::path& file) {
             std::ofstream(file) << R"({"Cancel":"falsch")";
             fs::resize_file(file, std::uintmax_t{100} << 20);  // sparse: costs no disk
         }},
        {"FIFO", [](const fs::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"folder", [](const fs::path& file) { fs::create_directories(file / "x"); }},
        {"corrupt compressed", [](const fs::path& file) {
             fs::path compressed = file;
             compressed += ".lzfse";
             std::ofstream(compressed, std::ios::binary) << "bvx2\x01\x02\x03 garbage";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(custom);
        fs::create_directories(custom);
        writeCatalog(custom, "fr.json", {{"Cancel", "Annuler"}});
        row.make(custom / "de.json");
        store.reloadCatalogs();
        EXPECT_EQ(text("Cancel", VornLanguage::de), "Abbrechen");
        EXPECT_EQ(text("Save", VornLanguage::de), "Save");
        EXPECT_EQ(text("Cancel", VornLanguage::fr), "Annuler");
    }
}

// A load that began before the catalogs were dropped must not cache what it read: the hook runs
// in exactly that window, changes the file and drops the catalogs.
TEST_F(VornLocalizationStoreTest, ALoadOverlappingAReloadDoesNotCacheAStaleCatalog) {
    const fs::path added = dir / "added";
    writeCatalog(added, "de.json", {{"Save", "Speichern"}});
    const std::pair<std::string, std::function<void()>> invalidations[] = {
        {"reloadCatalogs", [&] { store.reloadCatalogs(); }},
        {"registerSearchDirectory", [&] { store.registerSearchDirectory(added); }},
    };
    for (const auto& [name, invalidate] : invalidations) {
        SCOPED_TRACE(name);
        writeCatalog(shared, "de.json", {{"Cancel", "Alt"}});
        store.reloadCatalogs();
        int loads = 0;
        store.setCatalogLoadedHookForTesting([&](VornLanguage language) {
            EXPECT_EQ(language, VornLanguage::de);
            if (++loads == 1) {
                writeCatalog(shared, "de.json", {{"Cancel", "Neu"}});
                invalidate();
            }
        });
        EXPECT_EQ(text("Cancel", VornLanguage::de), "Alt");  // the lookup that raced is served
        EXPECT_EQ(text("Cancel", VornLanguage::de), "Neu");  // ...but nothing stale was cached
        EXPECT_EQ(text("Cancel", VornLanguage::de), "Neu");
        EXPECT_EQ(loads, 2);
        store.setCatalogLoadedHookForTesting(nullptr);
    }
    EXPECT_EQ(text("Save", VornLanguage::de), "Speichern");
}

TEST_F(VornLocalizationStoreTest, ConcurrentLookupsReloadsAndOverrides) {
    writeCatalog(shared, "de.json",
                 {{"strings", {{"Cancel", "Abbrechen"}}}, {"templates", {{"Copied {0} of {1} files", "{0}/{1}"}}}});
    writeCatalog(shared, "pt-BR.json", {{"Cancel", "Cancelar"}});
    const fs::path overrides = dir.write("override.json", R"({"Cancel":"Stop!"})");
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            const VornLanguage language = t % 2 == 0 ? VornLanguage::de : VornLanguage::ptPT;
            const std::string expected = t % 2 == 0 ? "Abbrechen" : "Cancelar";
            for (int i = 0; i < 300; ++i) {
                const std::string cancel = text("Cancel", language);
                if (cancel != expected && cancel != "Stop!") {
                    ++unexpected;
                }
                if (language == VornLanguage::de && text("Copied 1 of 2 files", language) != "1/2") {
                    ++unexpected;
                }
            }
        });
    }
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            switch (i % 4) {
            case 0: store.reloadCatalogs(); break;
            case 1: store.registerSearchDirectory(dir / "empty"); break;
            case 2: store.loadJSONPack(overrides); break;
            case 3: store.clearCustomPack(); break;
            }
            std::this_thread::yield();
        }
    });
    for (auto& reader : readers) {
        reader.join();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(unexpected, 0);
}

TEST_F(VornLocalizationStoreTest, VornTextUsesTheSharedStore) {
    writeCatalog(shared, "nl.json", {{"Cancel", "Annuleren"}, {"btn.cancel", "Stoppen"}});
    VornLocalizationStore::shared().reloadCatalogs();
    EXPECT_EQ(vornText("Cancel", "Vazgeç", std::nullopt, VornLanguage::nl), "Annuleren");
    EXPECT_EQ(vornText("Cancel", "Vazgeç", "btn.cancel", VornLanguage::nl), "Stoppen");
    EXPECT_EQ(vornText("Cancel", "Vazgeç", std::nullopt, VornLanguage::tr), "Vazgeç");
    EXPECT_EQ(&VornLocalizationStore::shared(), &VornLocalizationStore::shared());
    // Without a language argument the current language is used.
    VornScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    VornLanguage::setCurrent(VornLanguage::nl);
    EXPECT_EQ(vornText("Cancel", "Vazgeç"), "Annuleren");
    VornLanguage::setCurrent(VornLanguage::tr);
    EXPECT_EQ(vornText("Cancel", "Vazgeç"), "Vazgeç");
    VornLocalizationStore::shared().reloadCatalogs();
}

const fs::path fixtures = fs::path(VORN_TEST_DATA_DIR) / "lzfse";

// Catalogs compressed by the reference encoder: the compressed file of a folder is read first and
// ends the folder when it yields entries; otherwise the plain file is used.
TEST_F(VornLocalizationStoreTest, CompressedCatalogsComeBeforePlainOnes) {
    const std::string compressed = vornReadFile(fixtures / "de.json.lzfse");
    struct Row {
        std::string name;
        std::optional<std::string> compressedBytes;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"compressed yields entries", compressed, "Übertragungen"},
        {"compressed missing", std::nullopt, "PLAIN"},
        {"compressed truncated", compressed.substr(0, compressed.size() / 2), "PLAIN"},
        {"compressed without end block", compressed.substr(0, compressed.size() - 4), "PLAIN"},
        {"compressed empty catalog", vornReadFile(fixtures / "empty.json.lzfse"), "PLAIN"},
        {"compressed bytes flipped", [&] {
             std::string damaged = compressed;
             for (std::size_t i = 12; i < damaged.size(); i += 7) {
                 damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
             }
             return damaged;
         }(),
         "PLAIN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(shared);
        writeCatalog(shared, "de.json", {{"Transfers", "PLAIN"}, {"Only plain", "nur einfach"}});
        if (row.compressedBytes) {
            writeRaw(shared, "de.json.lzfse", *row.compressedBytes);
        }
        store.reloadCatalogs();
        EXPECT_EQ(text("Transfers", VornLanguage::de), row.expected);
        // The two files of one folder are never merged.
        EXPECT_EQ(text("Only plain", VornLanguage::de), row.expected == "PLAIN" ? "nur einfach" : "Only plain");
    }
    // The compressed pack's templates and keys work like those of a plain one.
    fs::remove_all(shared);
    writeRaw(shared, "de.json.lzfse", compressed);
    store.reloadCatalogs();
    EXPECT_EQ(text("Transferred 3/5 file(s)", VornLanguage::de), "3/5 Datei(en) übertragen");
    EXPECT_EQ(text("This Computer", VornLanguage::de, "pane.local"), "Lokaler Rechner");
}

TEST_F(VornLocalizationStoreTest, LargeCompressedCatalogsAndPacks) {
    for (const char* name : {"ja.json.lzfse", "ru.json.lzfse", "fr.json.lzfse"}) {
        writeRaw(shared, name, vornReadFile(fixtures / name));
    }
    EXPECT_EQ(text("gamma beta delta Datei 0", VornLanguage::ja), "同期同期検証同期ファイル 0");
    EXPECT_EQ(text("Renamed 'a.txt' → 'b.txt'", VornLanguage::ja), "「a.txt」を「b.txt」に名前変更");
    EXPECT_EQ(text("x", VornLanguage::ru, "key.029999"),
              "Übersetzung übertragen Ordner übertragen beta 転送 gamma beta übertragen #29999");
    EXPECT_EQ(text("Refresh", VornLanguage::fr), "Actualiser");

    store.loadJSONPack(fixtures / "fr.json.lzfse");  // a flat map as overrides
    EXPECT_EQ(store.resolve(std::nullopt, "Delete", "Sil", VornLanguage::tr), "Supprimer");
    store.loadJSONPack(fixtures / "de.json.lzfse");  // a pack: its strings
    EXPECT_EQ(store.resolve(std::nullopt, "Delete", "Sil", VornLanguage::en), "Löschen");
}

namespace {

// A stream that decodes to runs of the given bytes: each run is one literal copied three times at
// distance 1, then 271 more copies per two-byte opcode. 58,000 opcodes make 15 MiB from 116 KB.
std::string lzvnRuns(const std::vector<std::pair<char, std::size_t>>& runs) {
    std::string payload;
    std::uint32_t decoded = 0;
    for (const auto& [byte, opcodes] : runs) {
        payload += {'\x40', '\x01', byte};
        for (std::size_t i = 0; i < opcodes; ++i) {
            payload += "\xF0\xFF";
        }
        decoded += static_cast<std::uint32_t>(4 + 271 * opcodes);
    }
    payload += std::string("\x06\0\0\0\0\0\0\0", 8);
    const auto u32 = [](std::uint32_t value) {
        return std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    };
    return "bvxn" + u32(decoded) + u32(static_cast<std::uint32_t>(payload.size())) + payload + "bvx$";
}

}  // namespace

// Small files that expand to millions of nested brackets are refused after one pass over the
// decoded bytes, as a pack and as a catalog, and the next catalog is used.
TEST_F(VornLocalizationStoreTest, CatalogBombsAreRefusedCheaply) {
    const struct {
        const char* what;
        std::string compressed;
    } cases[] = {
        {"15 MiB of [", lzvnRuns({{'[', 58000}})},
        {"balanced, 7.8 million levels", lzvnRuns({{'[', 29000}, {']', 29000}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_LT(c.compressed.size(), std::size_t{120'000});
        fs::remove_all(shared);
        writeCatalog(shared, "de.json", {{"Transfers", "PLAIN"}});
        writeRaw(shared, "de.json.lzfse", c.compressed);
        store.reloadCatalogs();
        EXPECT_EQ(text("Transfers", VornLanguage::de), "PLAIN");
        try {
            store.loadJSONPack(shared / "de.json.lzfse");
            ADD_FAILURE() << "loaded";
        } catch (const VornLocalizationPackError& error) {
            EXPECT_NE(std::string(error.what()).find("nests deeper than"), std::string::npos) << error.what();
        }
    }
}

// A pack file with every field, and reading with fields missing or wrongly typed.
TEST(VornLocalizationPackTest, JSONCoding) {
    const VornLocalizationPack pack{"pt-BR", "Português (Brasil)", "Portuguese (Brazil)", false,
                                    {{"Cancel", "Cancelar"}}, {{"Copied {0}", "Copiado {0}"}}};
    const json encoded = pack.toJSON();
    EXPECT_EQ(encoded.size(), 6u);
    EXPECT_EQ(VornLocalizationPack::fromJSON(encoded), pack);
    EXPECT_EQ(VornLocalizationPack::fromJSON(json::object()), VornLocalizationPack{});
    for (const char* bad : {R"({"isRTL":"yes"})", R"({"strings":[]})", R"({"templates":{"a":null}})",
                            R"({"englishName":false})", R"("text")"}) {
        EXPECT_THROW(VornLocalizationPack::fromJSON(json::parse(bad)), VornLocalizationPackError) << bad;
    }
}

}  // namespace
