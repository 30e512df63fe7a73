#include "VornFeedbackButton.h"
#include "VornTestUI.h"

#include <gtest/gtest.h>

TEST(VornFeedbackButton, PassesTheBaseAddressThroughUnchanged) {
    const VornAppVersion version("1.0.0", "100");
    VornFeedbackButton withoutBase("VornSled", version, VornFeedbackKind::feature, VornLanguage::en,
                                   VornFeedbackButtonStyle::compactIcon);
    EXPECT_FALSE(withoutBase.baseURL().has_value());
    EXPECT_EQ(withoutBase.feedbackURL(),
              VornFeedbackService::webFeedbackURL("VornSled", version, VornFeedbackKind::feature, VornLanguage::en));

    VornFeedbackButton withBase("VornSled", version, VornFeedbackKind::bug, VornLanguage::tr,
                                VornFeedbackButtonStyle::labeledPill, std::string("http://127.0.0.1:9/fb"));
    EXPECT_EQ(withBase.baseURL(), std::optional<std::string>("http://127.0.0.1:9/fb"));
    const std::optional<std::string> url = withBase.feedbackURL();
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->rfind("http://127.0.0.1:9/fb", 0), 0u) << *url;
}

TEST(VornFeedbackButton, TextsFollowTheLanguage) {
    const struct {
        VornFeedbackButtonStyle style;
        VornLanguage language;
        QString help;
        QString title;
    } cases[] = {
        {VornFeedbackButtonStyle::compactIcon, VornLanguage::en,
         QStringLiteral("Listening to you — Report a bug or share an idea"), QString()},
        {VornFeedbackButtonStyle::compactIcon, VornLanguage::tr,
         QStringLiteral("Sizi dinliyoruz — Hata bildir veya fikir paylaş"), QString()},
        {VornFeedbackButtonStyle::labeledPill, VornLanguage::en,
         QStringLiteral("Listening to you — Report a bug or share an idea"), QStringLiteral("Send Feedback & Ideas")},
        {VornFeedbackButtonStyle::labeledPill, VornLanguage::tr,
         QStringLiteral("Sizi dinliyoruz — Hata bildir veya fikir paylaş"),
         QStringLiteral("Geri Bildirim & Fikir Gönder")},
    };
    for (const auto& c : cases) {
        // Built in the other language first, then switched: the texts must follow at once.
        VornFeedbackButton button("VornSled", VornAppVersion("1.0.0", "100"), VornFeedbackKind::feature,
                                  c.language == VornLanguage::en ? VornLanguage::tr : VornLanguage::en, c.style);
        button.setLanguage(c.language);
        EXPECT_EQ(button.toolTip(), c.help);
        EXPECT_EQ(button.title(), c.title);
        EXPECT_EQ(button.accessibleName(), c.style == VornFeedbackButtonStyle::compactIcon ? c.help : c.title);
        const QImage image = vornRenderOnBlack(button);
        vornSaveArtefact(image, QStringLiteral("feedback-button-%1-%2")
                                    .arg(c.style == VornFeedbackButtonStyle::compactIcon ? "compact" : "pill")
                                    .arg(QString::fromUtf8(c.language.code().data())));
        EXPECT_EQ(image.size(), button.sizeHint());
    }
}
