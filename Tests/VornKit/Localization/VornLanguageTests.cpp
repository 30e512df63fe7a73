#include "VornLanguage.h"
#include "VornLocalizationStore.h"
#include "VornNotificationCenter.h"
#include "VornTestSupport.h"
#include "VornUserDefaults.h"

#include <set>
#include <unordered_set>

namespace {

// Every test here gets its own preferences file and a fixed, empty system language list.
class VornLanguageTest : public ::testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    VornScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    VornScopedEnv language{"LANGUAGE", std::nullopt};
    VornScopedEnv lcAll{"LC_ALL", std::nullopt};
    VornScopedEnv lcMessages{"LC_MESSAGES", std::nullopt};
    VornScopedEnv lang{"LANG", std::nullopt};

    static std::optional<std::string> storedValue() {
        return VornUserDefaults::standard().string(VornLanguage::defaultsKey);
    }
};

TEST(VornLanguageTable, HasTheThirtySevenLanguagesInCodeOrder) {
    const auto& all = VornLanguage::allCases();
    ASSERT_EQ(all.size(), 37u);
    const std::vector<std::string_view> codes{
        "ar", "az", "bg", "ca", "cs", "da", "de", "el", "en", "es", "fa", "fi", "fr",
        "he", "hi", "hr", "hu", "id", "it", "ja", "ko", "ms", "nb", "nl", "pl", "pt-BR",
        "pt-PT", "ro", "ru", "sk", "sv", "th", "tr", "uk", "vi", "zh-Hans", "zh-Hant"};
    std::unordered_set<VornLanguage> distinct;
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].code(), codes[i]);
        EXPECT_EQ(static_cast<std::size_t>(all[i].value()), i);
        EXPECT_EQ(VornLanguage::fromRawValue(codes[i]), all[i]);
        EXPECT_EQ(rawValue(all[i]), codes[i]);
        EXPECT_EQ(nlohmann::json(all[i]), nlohmann::json(std::string(codes[i])));
        EXPECT_EQ(nlohmann::json(std::string(codes[i])).get<VornLanguage>(), all[i]);
        distinct.insert(all[i]);
    }
    EXPECT_EQ(distinct.size(), 37u);
}

TEST(VornLanguageTable, FactsOfSingleLanguages) {
    struct Row {
        VornLanguage language;
        std::string_view nativeName, englishName, shortCode, displayName;
        bool rtl;
    };
    const Row rows[] = {
        {VornLanguage::en, "English", "English", "EN", "English", false},
        {VornLanguage::de, "Deutsch", "German", "DE", "Deutsch (German)", false},
        {VornLanguage::tr, "Türkçe", "Turkish", "TR", "Türkçe (Turkish)", false},
        {VornLanguage::ptBR, "Português (Brasil)", "Portuguese (Brazil)", "PT",
         "Português (Brasil) (Portuguese (Brazil))", false},
        {VornLanguage::ptPT, "Português (Portugal)", "Portuguese (Portugal)", "PT-PT",
         "Português (Portugal) (Portuguese (Portugal))", false},
        {VornLanguage::zhHans, "简体中文", "Chinese (Simplified)", "ZH", "简体中文 (Chinese (Simplified))", false},
        {VornLanguage::zhHant, "繁體中文", "Chinese (Traditional)", "ZH-TW", "繁體中文 (Chinese (Traditional))", false},
        {VornLanguage::ar, "العربية", "Arabic", "AR", "العربية (Arabic)", true},
        {VornLanguage::fa, "فارسی", "Persian", "FA", "فارسی (Persian)", true},
        {VornLanguage::he, "עברית", "Hebrew", "HE", "עברית (Hebrew)", true},
        {VornLanguage::nb, "Norsk Bokmål", "Norwegian Bokmål", "NB", "Norsk Bokmål (Norwegian Bokmål)", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.language.code());
        EXPECT_EQ(row.language.nativeName(), row.nativeName);
        EXPECT_EQ(row.language.englishName(), row.englishName);
        EXPECT_EQ(row.language.shortCode(), row.shortCode);
        EXPECT_EQ(row.language.displayName(), row.displayName);
        EXPECT_EQ(row.language.isRTL(), row.rtl);
    }
    int rightToLeft = 0;
    for (VornLanguage language : VornLanguage::allCases()) {
        rightToLeft += language.isRTL() ? 1 : 0;
        const auto parent = language.fallbackParent();
        if (language == VornLanguage::ptPT) {
            EXPECT_EQ(parent, VornLanguage::ptBR);
        } else if (language == VornLanguage::zhHant) {
            EXPECT_EQ(parent, VornLanguage::zhHans);
        } else {
            EXPECT_FALSE(parent.has_value()) << language.code();
        }
    }
    EXPECT_EQ(rightToLeft, 3);
    EXPECT_STREQ(VornLanguage::ptBR.locale().getLanguage(), "pt");
    EXPECT_STREQ(VornLanguage::ptBR.locale().getCountry(), "BR");
}

TEST(VornLanguageTable, RawValuesMatchExactly) {
    for (std::string_view code : {"DE", "pt-br", "pt_BR", "zh-hans", " de", "", "system", "english"}) {
        EXPECT_FALSE(VornLanguage::fromRawValue(code).has_value()) << code;
    }
}

TEST(VornLanguageTable, SortedByEnglishName) {
    std::vector<std::string_view> names;
    for (VornLanguage language : VornLanguage::sortedCases()) {
        names.push_back(language.englishName());
    }
    const std::vector<std::string_view> expected{
        "Arabic", "Azerbaijani", "Bulgarian", "Catalan", "Chinese (Simplified)", "Chinese (Traditional)",
        "Croatian", "Czech", "Danish", "Dutch", "English", "Finnish", "French", "German", "Greek", "Hebrew",
        "Hindi", "Hungarian", "Indonesian", "Italian", "Japanese", "Korean", "Malay", "Norwegian Bokmål",
        "Persian", "Polish", "Portuguese (Brazil)", "Portuguese (Portugal)", "Romanian", "Russian", "Slovak",
        "Spanish", "Swedish", "Thai", "Turkish", "Ukrainian", "Vietnamese"};
    EXPECT_EQ(names, expected);
}

TEST(VornLanguageMatch, TagsToLanguages) {
    const std::pair<std::string_view, std::optional<VornLanguage>> cases[] = {
        {"zh_TW", VornLanguage::zhHant},       {"zh-SG", VornLanguage::zhHans},
        {"zh", VornLanguage::zhHans},          {"zh-Hant-HK", VornLanguage::zhHant},
        {"ZH-HANT", VornLanguage::zhHant},     {"zh-MO", VornLanguage::zhHant},
        {"zh-HK", VornLanguage::zhHant},       {"zh-Hans-CN", VornLanguage::zhHans},
        {"pt", VornLanguage::ptBR},            {"pt-AO", VornLanguage::ptBR},
        {"PT_pt", VornLanguage::ptPT},         {"pt-PT", VornLanguage::ptPT},
        {"no-NO", VornLanguage::nb},           {"nn", VornLanguage::nb},
        {"nb-NO", VornLanguage::nb},           {"no", VornLanguage::nb},
        {"iw-IL", VornLanguage::he},           {"in", VornLanguage::id},
        {"  de-CH\n", VornLanguage::de},       {"\u00A0fr_FR\t", VornLanguage::fr},
        {"en-US", VornLanguage::en},           {"es-419", VornLanguage::es},
        {"tr", VornLanguage::tr},              {"TR_tr", VornLanguage::tr},
        {"sr-Latn", std::nullopt},             {"", std::nullopt},
        {"-", std::nullopt},                   {"   \n", std::nullopt},
        {"--de", VornLanguage::de},            {"zz", std::nullopt},
        {"english", std::nullopt},             {"ptx", std::nullopt},
        {"\xff\xfe", std::nullopt},
    };
    for (const auto& [tag, expected] : cases) {
        EXPECT_EQ(VornLanguage::match(tag), expected) << '"' << tag << '"';
    }
}

TEST(VornLanguageMatch, ResolveTakesTheFirstTagThatMaps) {
    const std::vector<std::string> tags{"sr-Latn", "xx", "ko-KR", "de"};
    EXPECT_EQ(VornLanguage::resolve(tags), VornLanguage::ko);
    EXPECT_EQ(VornLanguage::resolve(std::vector<std::string>{}), VornLanguage::en);
    EXPECT_EQ(VornLanguage::resolve(std::vector<std::string>{"sr", "xx"}), VornLanguage::en);
}

TEST_F(VornLanguageTest, SystemLanguagesFromTheEnvironment) {
    struct Row {
        std::optional<std::string> language, lcAll, lcMessages, lang;
        std::vector<std::string> tags;
        VornLanguage resolved;
    };
    const std::vector<Row> rows = {
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}, VornLanguage::en},
        {std::nullopt, std::nullopt, std::nullopt, "tr_TR.UTF-8@euro", {"tr_TR"}, VornLanguage::tr},
        {"de_AT:fr:en", std::nullopt, std::nullopt, "tr_TR.UTF-8", {"de_AT", "fr", "en", "tr_TR"}, VornLanguage::de},
        {"sr:xx", std::nullopt, std::nullopt, "ja_JP.UTF-8", {"sr", "xx", "ja_JP"}, VornLanguage::ja},
        {"::C:POSIX.UTF-8:", "pt_PT.UTF-8", "de_DE", "fr_FR", {"pt_PT"}, VornLanguage::ptPT},
        {std::nullopt, "", "zh_TW.Big5", "fr_FR", {"zh_TW"}, VornLanguage::zhHant},
        {std::nullopt, "C.UTF-8", "de_DE", "fr_FR", {}, VornLanguage::en},
        {std::nullopt, std::nullopt, std::nullopt, "POSIX", {}, VornLanguage::en},
        {"", std::nullopt, std::nullopt, "nb_NO.UTF-8", {"nb_NO"}, VornLanguage::nb},
        {"sr@latin", std::nullopt, std::nullopt, std::nullopt, {"sr"}, VornLanguage::en},
    };
    for (const Row& row : rows) {
        VornScopedEnv a("LANGUAGE", row.language), b("LC_ALL", row.lcAll), c("LC_MESSAGES", row.lcMessages),
            d("LANG", row.lang);
        EXPECT_EQ(VornLanguage::systemPreferredLanguages(), row.tags) << row.language.value_or("-");
        EXPECT_EQ(VornLanguage::systemResolved(), row.resolved) << row.language.value_or("-");
    }
}

TEST_F(VornLanguageTest, StoredPreferenceDecidesTheCurrentLanguage) {
    VornScopedEnv system("LANG", "fr_FR.UTF-8");
    struct Row {
        std::optional<nlohmann::json> stored;
        std::string storedCode;
        bool following;
        VornLanguage current;
    };
    const std::vector<Row> rows = {
        {std::nullopt, "system", true, VornLanguage::fr},
        {nlohmann::json("de"), "de", false, VornLanguage::de},
        {nlohmann::json(" pt_pt \n"), "pt_pt", false, VornLanguage::ptPT},
        {nlohmann::json("  SYSTEM "), "SYSTEM", true, VornLanguage::fr},
        {nlohmann::json("xx"), "xx", false, VornLanguage::fr},
        {nlohmann::json("   "), "system", true, VornLanguage::fr},
        {nlohmann::json(42), "system", true, VornLanguage::fr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored ? row.stored->dump() : "missing");
        if (row.stored) {
            VornUserDefaults::standard().setValue(VornLanguage::defaultsKey, *row.stored);
        } else {
            VornUserDefaults::standard().remove(VornLanguage::defaultsKey);
        }
        EXPECT_EQ(VornLanguage::storedPreferenceCode(), row.storedCode);
        EXPECT_EQ(VornLanguage::isFollowingSystem(), row.following);
        EXPECT_EQ(VornLanguage::current(), row.current);
        EXPECT_EQ(VornLanguageSelection::current(),
                  row.following ? VornLanguageSelection::system() : VornLanguageSelection::explicitLanguage(row.current));
    }
}

TEST_F(VornLanguageTest, DecodingIsTolerant) {
    VornScopedEnv system("LANG", "ko_KR.UTF-8");
    const std::pair<nlohmann::json, VornLanguage> cases[] = {
        {"de", VornLanguage::de},        {" zh_TW ", VornLanguage::zhHant}, {"System", VornLanguage::ko},
        {"", VornLanguage::ko},          {"xx-YY", VornLanguage::ko},       {nullptr, VornLanguage::ko},
        {17, VornLanguage::ko},          {nlohmann::json::array({"de"}), VornLanguage::ko},
        {"iw", VornLanguage::he},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(value.get<VornLanguage>(), expected) << value.dump();
    }
}

TEST_F(VornLanguageTest, SettersStoreThePreferenceAndPostTheNewLanguage) {
    VornScopedEnv system("LANG", "ja_JP.UTF-8");
    std::vector<VornLanguage> posted;
    auto token = VornNotificationCenter::defaultCenter().addObserver(
        std::string(vornLanguageDidChange), [&](const VornNotification& n) {
            posted.push_back(std::any_cast<VornLanguage>(n.object));
        });

    VornLanguage::setCurrent(VornLanguage::de);
    EXPECT_EQ(storedValue(), "de");
    EXPECT_EQ(VornLanguage::current(), VornLanguage::de);
    // Through the real file, as another process would read it.
    EXPECT_EQ(nlohmann::json::parse(vornReadFile(VornUserDefaults::standard().filePath()))
                  .at(std::string(VornLanguage::defaultsKey)),
              "de");

    VornLanguage::setFollowSystem();
    EXPECT_EQ(storedValue(), "system");
    EXPECT_TRUE(VornLanguage::isFollowingSystem());
    EXPECT_EQ(VornLanguage::current(), VornLanguage::ja);

    VornLanguage::setCurrent(VornLanguage::tr);
    EXPECT_EQ(storedValue(), "tr");

    VornNotificationCenter::defaultCenter().removeObserver(token);
    VornLanguage::setCurrent(VornLanguage::en);
    EXPECT_EQ(posted, (std::vector{VornLanguage::de, VornLanguage::ja, VornLanguage::tr}));
}

TEST_F(VornLanguageTest, ApplyFollowSystemKeepsSystemStoredWhileTheActionSetsALanguage) {
    VornScopedEnv system("LANG", "it_IT.UTF-8");
    VornLanguage::setCurrent(VornLanguage::de);
    std::vector<VornLanguage> posted;
    auto token = VornNotificationCenter::defaultCenter().addObserver(
        std::string(vornLanguageDidChange),
        [&](const VornNotification& n) { posted.push_back(std::any_cast<VornLanguage>(n.object)); });

    auto& guard = VornLanguagePersistenceGuard::shared();
    VornLanguage::applyFollowSystem([&] {
        EXPECT_EQ(guard.suppressDepth(), 1);
        // The guard's lock is free while the action runs: nested use works.
        VornLanguage::applyFollowSystem([&] {
            EXPECT_EQ(guard.suppressDepth(), 2);
            VornLanguage::setCurrent(VornLanguage::systemResolved());
        });
        EXPECT_EQ(guard.suppressDepth(), 1);
        VornLanguage::setCurrent(VornLanguage::fr);
    });
    EXPECT_EQ(guard.suppressDepth(), 0);
    EXPECT_EQ(storedValue(), "system");
    EXPECT_EQ(posted, (std::vector{VornLanguage::it, VornLanguage::it, VornLanguage::it, VornLanguage::fr}));

    // A throwing action still ends the suppression.
    EXPECT_THROW(VornLanguage::applyFollowSystem([] { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(guard.suppressDepth(), 0);
    guard.lower();
    EXPECT_EQ(guard.suppressDepth(), 0);
    VornLanguage::setCurrent(VornLanguage::nl);
    EXPECT_EQ(storedValue(), "nl");
    VornNotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(VornLanguageTest, SetCurrentStillChangesTheLanguageWhenThePreferenceCannotBeWritten) {
    // A file where the preferences folder should be.
    dir.write("config/vornworks", "not a folder");
    std::optional<VornLanguage> posted;
    auto token = VornNotificationCenter::defaultCenter().addObserver(
        std::string(vornLanguageDidChange),
        [&](const VornNotification& n) { posted = std::any_cast<VornLanguage>(n.object); });
    EXPECT_NO_THROW(VornLanguage::setCurrent(VornLanguage::sv));
    EXPECT_EQ(posted, VornLanguage::sv);
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "system");
    VornNotificationCenter::defaultCenter().removeObserver(token);
}

TEST(VornLanguageSelectionTest, EqualityAndHashing) {
    const auto system = VornLanguageSelection::system();
    const auto german = VornLanguageSelection::explicitLanguage(VornLanguage::de);
    EXPECT_EQ(system, VornLanguageSelection::system());
    EXPECT_EQ(german, VornLanguageSelection::explicitLanguage(VornLanguage::de));
    EXPECT_NE(german, VornLanguageSelection::explicitLanguage(VornLanguage::tr));
    EXPECT_NE(german, system);
    EXPECT_TRUE(system.isSystem());
    EXPECT_EQ(german.language(), VornLanguage::de);
    EXPECT_EQ(german.resolvedLanguage(), VornLanguage::de);
    std::unordered_set<VornLanguageSelection> set{system, german, VornLanguageSelection::system()};
    EXPECT_EQ(set.size(), 2u);
}

}  // namespace
