#include "SyncPlanItem.h"

#include <gtest/gtest.h>

TEST(SyncPlanItem, IdIsTheActionRawValueAColonAndTheNameUnchanged) {
    const struct {
        SyncActionKind action;
        const char* name;
        const char* id;
    } cases[] = {
        {SyncActionKind::deleteOnLeft, "docs/a.txt", "deleteOnLeft:docs/a.txt"},
        {SyncActionKind::copyLeftToRight, "docs/a.txt", "copyLeftToRight:docs/a.txt"},
        {SyncActionKind::identicalSkip, "a:b:c", "identicalSkip:a:b:c"},
        {SyncActionKind::copyRightToLeft, "", "copyRightToLeft:"},
        {SyncActionKind::deleteOnRight, " ünlü ", "deleteOnRight: ünlü "},
    };
    const SledFileEntry entry{.name = "a.txt", .path = "/l/docs/a.txt", .sizeBytes = 3};
    for (const auto& c : cases) {
        const SyncPlanItem item(c.name, c.action, entry, std::nullopt, 3, "reason");
        EXPECT_EQ(item.id(), c.id);
        EXPECT_EQ(item.relativeName(), c.name);
        EXPECT_EQ(item.leftEntry(), entry);
        EXPECT_FALSE(item.rightEntry().has_value());
    }
    const SyncPlanItem a("x", SyncActionKind::copyLeftToRight, entry, entry, 3, "newer");
    EXPECT_NE(a, SyncPlanItem("x", SyncActionKind::copyLeftToRight, entry, entry, 3, "other reason"));
    EXPECT_EQ(a, SyncPlanItem("x", SyncActionKind::copyLeftToRight, entry, entry, 3, "newer"));
    EXPECT_FALSE(fromRawValue<SyncActionKind>("DeleteOnLeft").has_value());
    EXPECT_EQ(fromRawValue<SyncActionKind>("deleteOnLeft"), SyncActionKind::deleteOnLeft);
}

TEST(SyncDirectionMode, LabelsInEnglishAndTurkish) {
    const struct {
        SyncDirectionMode mode;
        const char* raw;
        const char* english;
        const char* turkish;
    } cases[] = {
        {SyncDirectionMode::mirrorLeftToRight, "mirrorLeftToRight", "Mirror Left \u2192 Right", "Sol \u2192 Sağ Aynala"},
        {SyncDirectionMode::mirrorRightToLeft, "mirrorRightToLeft", "Mirror Right \u2192 Left", "Sağ \u2192 Sol Aynala"},
        {SyncDirectionMode::twoWayUpdate, "twoWayUpdate", "Two-Way Update", "Çift Yönlü Güncelle"},
    };
    const auto all = allCases<SyncDirectionMode>();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], cases[i].mode);
        EXPECT_EQ(rawValue(cases[i].mode), cases[i].raw);
        EXPECT_EQ(label(cases[i].mode, VornLanguage::en), cases[i].english);
        EXPECT_EQ(label(cases[i].mode, VornLanguage::tr), cases[i].turkish);
    }
}
