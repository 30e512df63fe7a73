#include "MenuBarSledView.h"
#include "SledChrome.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"
#include "VornGlassTokens.h"

#include <QLabel>

// The tray panel on the real LAN server on loopback: the address it shows is the one it copies,
// and sharing the clipboard reaches the portal, read back with a real GET.
TEST_F(ViewsTest, TrayPanelCopiesTheAddressAndSharesTheClipboard) {
    VORN_REQUIRE_TOOL("curl");
    auto model = makeModel();
    int shown = 0;
    MenuBarSledView panel(*model, [&] { ++shown; });
    panel.adjustSize();
    EXPECT_EQ(panel.width(), 280);
    EXPECT_EQ(panel.statusDot()->color(), VornGlassTokens::warning());
    EXPECT_FALSE(panel.addressLabel()->text().isEmpty());

    // Nothing on the clipboard: an error toast and nothing published.
    QTest::mouseClick(panel.shareButton(), Qt::LeftButton);
    EXPECT_TRUE(model->toastIsError());
    EXPECT_TRUE(model->clipboardMessages().empty());

    model->startLANServices();
    ASSERT_TRUE(viewsWaitFor([&] { return model->isLANServerRunning(); }));
    EXPECT_EQ(panel.statusDot()->color(), VornGlassTokens::success());
    QTest::mouseClick(panel.copyButton(), Qt::LeftButton);
    EXPECT_EQ(QString::fromStdString(clipboard->value.value_or("")), panel.addressLabel()->text());
    EXPECT_EQ(model->toastMessage(), "Copied LAN URL");

    clipboard->value = "shared from the tray ✓";
    QTest::mouseClick(panel.shareButton(), Qt::LeftButton);
    EXPECT_FALSE(model->toastIsError());
    const VornShellResult portal = vornShell("curl -s --noproxy '*' http://127.0.0.1:" +
                                             std::to_string(model->activeLANPort()) + "/api/v1/clipboard");
    EXPECT_NE(portal.output.find("shared from the tray"), std::string::npos) << portal.output;

    QTest::mouseClick(panel.openButton(), Qt::LeftButton);
    EXPECT_EQ(shown, 1);

    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        model->setLanguage(language);
        snapshot(panel, QStringLiteral("app-tray-panel-") + QString::fromUtf8(language.code().data()));
    }
    EXPECT_EQ(panel.captionLabel()->text(), QString::fromUtf8("Yerel Ağ Portal Adresi"));
    EXPECT_EQ(panel.openButton()->label(), QString::fromUtf8("VornSled Penceresini Aç"));
    model->setLanguage(VornLanguage::en);
    model->stopLANServices();
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLANServerRunning(); }));
}
