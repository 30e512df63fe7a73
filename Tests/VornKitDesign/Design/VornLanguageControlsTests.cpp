#include "VornLanguageControls.h"
#include "VornTestSupport.h"
#include "VornTestUI.h"
#include "VornUserDefaults.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every test starts from a clean preference and a known system language.
class VornLanguageControlsTest : public ::testing::Test {
protected:
    void SetUp() override { VornUserDefaults::standard().remove(VornLanguage::defaultsKey); }
    void TearDown() override { VornUserDefaults::standard().remove(VornLanguage::defaultsKey); }

    VornScopedEnv language_{"LANGUAGE", std::string("de")};
    VornScopedEnv all_{"LC_ALL", std::nullopt};
    VornScopedEnv messages_{"LC_MESSAGES", std::nullopt};
    VornScopedEnv lang_{"LANG", std::string("C")};
};

std::vector<QAction*> languageRows(QMenu* menu) {
    std::vector<QAction*> rows;
    bool afterSeparator = false;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            afterSeparator = true;
        } else if (afterSeparator) {
            rows.push_back(action);
        }
    }
    return rows;
}

}  // namespace

TEST(VornLanguageLayout, OnlyArabicPersianAndHebrewRunRightToLeft) {
    for (const VornLanguage language : VornLanguage::allCases()) {
        const bool rightToLeft = language == VornLanguage::ar || language == VornLanguage::fa || language == VornLanguage::he;
        EXPECT_EQ(vornLayoutDirection(language), rightToLeft ? Qt::RightToLeft : Qt::LeftToRight)
            << language.code();
    }
    QWidget widget;
    vornApplyContentLayoutDirection(&widget, VornLanguage::he);
    EXPECT_EQ(widget.layoutDirection(), Qt::RightToLeft);
    vornApplyLocale(&widget, VornLanguage::ptBR);
    EXPECT_EQ(widget.locale().name(), QStringLiteral("pt_BR"));
}

TEST_F(VornLanguageControlsTest, TheSystemEntryNamesTheResolvedSystemLanguage) {
    EXPECT_EQ(VornLanguageChoice::systemLanguageLabel(VornLanguage::en), QStringLiteral("System Language (Deutsch)"));
    EXPECT_EQ(VornLanguageChoice::systemLanguageLabel(VornLanguage::tr), QStringLiteral("Sistem Dili (Deutsch)"));
    // No preferred language maps to a supported one: English.
    VornScopedEnv unsupported("LANGUAGE", std::string("xx:tlh"));
    EXPECT_EQ(VornLanguageChoice::systemLanguageLabel(VornLanguage::en), QStringLiteral("System Language (English)"));
}

TEST_F(VornLanguageControlsTest, FollowingTheSystemKeepsSystemStoredWhateverTheOwnerApplies) {
    std::vector<VornLanguage> reported;
    VornLanguagePicker picker(std::nullopt, VornLanguage::en, true, [&](VornLanguage chosen) {
        reported.push_back(chosen);
        // The owner applies the language through the store, as the workspace does.
        VornLanguage::setCurrent(chosen);
    });
    picker.select(VornLanguageSelection::explicitLanguage(VornLanguage::tr));
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "tr");
    EXPECT_FALSE(picker.isFollowingSystem());
    picker.setLanguage(VornLanguage::tr);
    EXPECT_EQ(picker.selection(), VornLanguageSelection::explicitLanguage(VornLanguage::tr));

    picker.select(VornLanguageSelection::system());
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "system");
    EXPECT_TRUE(picker.isFollowingSystem());
    EXPECT_EQ(picker.selection(), VornLanguageSelection::system());
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], VornLanguage::tr);
    EXPECT_EQ(reported[1], VornLanguage::de);
    EXPECT_EQ(VornLanguagePersistenceGuard::shared().suppressDepth(), 0);

    // Programmatic updates (the owner passing a language in, code moving the list) store nothing.
    picker.setLanguage(VornLanguage::fr);
    picker.comboBox()->setCurrentIndex(7);
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "system");
    EXPECT_TRUE(picker.isFollowingSystem());
    EXPECT_EQ(reported.size(), 2u);
}

TEST_F(VornLanguageControlsTest, PickerTitleEntriesAndRetranslation) {
    VornLanguagePicker picker(std::nullopt, VornLanguage::en, false, nullptr);
    EXPECT_EQ(picker.title(), QStringLiteral("Language"));
    QComboBox* combo = picker.comboBox();
    ASSERT_EQ(combo->count(), 2 + int(VornLanguage::caseCount));
    EXPECT_EQ(combo->itemText(0), QStringLiteral("System Language (Deutsch)"));
    EXPECT_TRUE(combo->itemText(2).endsWith(QString::fromStdString(VornLanguage::ar.displayName())));
    EXPECT_EQ(combo->minimumWidth(), 190);
    EXPECT_EQ(combo->maximumWidth(), 260);
    picker.setLanguage(VornLanguage::tr);
    EXPECT_EQ(picker.title(), QStringLiteral("Dil"));
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Sistem Dili (Deutsch)"));
    VornLanguagePicker titled(QStringLiteral("Interface"), VornLanguage::tr, true, nullptr);
    EXPECT_EQ(titled.title(), QStringLiteral("Interface"));
}

TEST_F(VornLanguageControlsTest, SystemStoredInCapitalsCountsAsFollowing) {
    VornUserDefaults::standard().setString(VornLanguage::defaultsKey, "SYSTEM");
    VornLanguageMenuButton button(VornLanguage::en, nullptr);
    EXPECT_TRUE(button.isFollowingSystem());
    VornUserDefaults::standard().setString(VornLanguage::defaultsKey, "fr");
    button.buildMenu();
    EXPECT_FALSE(button.isFollowingSystem());
}

TEST_F(VornLanguageControlsTest, MenuChecksTheSystemEntryOrTheLanguageNeverBoth) {
    VornLanguage shown = VornLanguage::en;
    VornLanguageMenuButton button(shown, [&](VornLanguage chosen) { shown = chosen; });
    VornUserDefaults::standard().setString(VornLanguage::defaultsKey, "system");
    QMenu* menu = button.buildMenu();
    ASSERT_EQ(languageRows(menu).size(), VornLanguage::caseCount);
    EXPECT_FALSE(menu->actions().front()->icon().isNull());
    for (QAction* row : languageRows(menu)) {
        EXPECT_TRUE(row->icon().isNull()) << row->text().toStdString();
    }

    // Choosing French stores it and checks only French.
    const auto french = std::find_if(VornLanguage::allCases().begin(), VornLanguage::allCases().end(),
                                     [](VornLanguage l) { return l == VornLanguage::fr; }) -
                        VornLanguage::allCases().begin();
    languageRows(menu)[std::size_t(french)]->trigger();
    EXPECT_EQ(shown, VornLanguage::fr);
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "fr");
    button.setLanguage(shown);
    menu = button.buildMenu();
    EXPECT_TRUE(menu->actions().front()->icon().isNull());
    int checked = 0;
    for (QAction* row : languageRows(menu)) {
        checked += row->icon().isNull() ? 0 : 1;
    }
    EXPECT_EQ(checked, 1);
    EXPECT_FALSE(languageRows(menu)[std::size_t(french)]->icon().isNull());
    EXPECT_EQ(button.toolTip(), QStringLiteral("Language"));
    EXPECT_EQ(button.shortCode(), QStringLiteral("FR"));
}

TEST(VornLanguageMenuButton, ShortCodesOfRegionalLanguages) {
    const struct {
        VornLanguage language;
        const char* code;
    } cases[] = {{VornLanguage::ptBR, "PT"}, {VornLanguage::ptPT, "PT-PT"}, {VornLanguage::zhHans, "ZH"},
                 {VornLanguage::zhHant, "ZH-TW"}, {VornLanguage::tr, "TR"}};
    for (const auto& c : cases) {
        VornLanguageMenuButton button(c.language, nullptr);
        EXPECT_EQ(button.shortCode(), QString::fromLatin1(c.code));
        // The capsule fits its code: the right padding holds only the capsule's fill.
        const QImage image = vornRenderOnBlack(button);
        EXPECT_TRUE(vornColorNear(image.pixelColor(image.width() - 4, image.height() / 2), vornWhiteOverBlack(0.10), 3))
            << c.code;
    }
}
