#include "VornBrandMark.h"
#include "VornButtons.h"
#include "VornGlassCard.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornGroundBackground.h"
#include "VornPainting.h"
#include "VornSegmentedControl.h"
#include "VornSpinner.h"
#include "VornTestUI.h"
#include "VornToastBanner.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QColor at(const QImage& image, QPointF point) { return image.pixelColor(point.toPoint()); }

}  // namespace

TEST(VornGlassCard, FillsWithTheFirstSurfaceAndBordersInside) {
    VornGlassCard card(14, 13);
    card.setContent(new QWidget);
    const QImage image = vornRenderOnBlack(card, QSize(120, 80));
    vornSaveArtefact(image, QStringLiteral("glass-card"));
    EXPECT_TRUE(vornColorNear(at(image, {60, 40}), vornWhiteOverBlack(0.06)));
    // The border sits on the outermost row of pixels, inside the card: surface1 under borderSubtle.
    EXPECT_TRUE(vornColorNear(at(image, {60, 0}), vornWhiteOverBlack(0.06 + 0.94 * 0.14)));
    EXPECT_TRUE(vornColorNear(at(image, {60, 1}), vornWhiteOverBlack(0.06)));
    // Rounded: the corner pixel stays black.
    EXPECT_TRUE(vornColorNear(at(image, {0, 0}), Qt::black));
    EXPECT_EQ(card.contentLayout()->contentsMargins(), QMargins(14, 14, 14, 14));
}

TEST(VornButtons, GlassAndPrimaryLooksFollowTheirState) {
    // Fill opacity read in the middle of the button's left padding, where no text is drawn.
    const struct {
        const char* name;
        bool primary;
        bool active;
        bool down;
        bool enabled;
        double fill;
    } cases[] = {
        {"glass", false, false, false, true, 0.10},
        {"glass active", false, true, false, true, 0.16},
        {"glass pressed: only dimmed", false, false, true, true, 0.10 * 0.78},
        {"glass active pressed", false, true, true, true, 0.16 * 0.78},
        {"glass disabled", false, false, false, false, 0.10 * 0.4},
        {"primary", true, false, false, true, 0.96},
        {"primary pressed", true, false, true, true, 0.82},
        {"primary disabled", true, false, false, false, 0.96 * 0.4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<VornDesignButton> button;
        if (c.primary) {
            button = std::make_unique<VornPrimaryButton>(QStringLiteral("Add Server"));
        } else {
            button = std::make_unique<VornGlassButton>(QStringLiteral("Close"), c.active);
        }
        button->setDown(c.down);
        button->setEnabled(c.enabled);
        const QImage image = vornRenderOnBlack(*button, QSize(140, 32));
        EXPECT_TRUE(vornColorNear(at(image, {6, 16}), vornWhiteOverBlack(c.fill)))
            << at(image, {6, 16}).name().toStdString();
    }
    // The active border is the strong one.
    VornGlassButton active(QStringLiteral("On"), true);
    const QImage image = vornRenderOnBlack(active, QSize(100, 30));
    EXPECT_TRUE(vornColorNear(at(image, {50, 0}), vornWhiteOverBlack(0.16 + 0.84 * 0.28)));
}

TEST(VornButtons, LongLabelsAreElidedInsideTheButtonAndAmpersandsShow) {
    VornGlassButton button(QStringLiteral("Send Feedback & Ideas"));
    EXPECT_EQ(button.label(), QStringLiteral("Send Feedback & Ideas"));
    EXPECT_TRUE(button.shortcut().isEmpty());
    button.setLabel(QString(400, QLatin1Char('W')));
    button.setSymbol("folder.fill");
    EXPECT_LT(button.minimumSizeHint().width(), 100);
    const QImage image = vornRenderOnBlack(button, QSize(90, 30));
    // The label ends before the right padding: the last 11 columns hold only the glass fill.
    for (int x = 90 - 10; x < 90 - 1; ++x) {
        EXPECT_TRUE(vornColorNear(at(image, {double(x), 15}), vornWhiteOverBlack(0.10))) << x;
    }
    // Zero and empty sizes draw nothing and do not crash.
    VornGlassButton empty{QString()};
    vornRenderOnBlack(empty, QSize(0, 0));
    EXPECT_GT(empty.sizeHint().width(), 0);
}

TEST(VornButtons, PrimaryPressSettlesOnThePressedLook) {
    VornPrimaryButton button(QStringLiteral("Run Parallel Sync"));
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    button.resize(button.sizeHint());
    QTest::mousePress(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_DOUBLE_EQ(button.pressProgress(), 1.0);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_DOUBLE_EQ(button.pressProgress(), 0.0);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(VornToastBanner, LetsClicksThroughAndNeverOverflows) {
    QWidget window;
    window.resize(400, 200);
    auto* under = new VornGlassButton(QStringLiteral("Under"), false, &window);
    under->setGeometry(0, 0, 400, 200);
    auto* toast = new VornToastBanner(QString(300, QLatin1Char('x')), true, &window);
    toast->setGeometry(20, 60, 360, toast->sizeHint().height());
    EXPECT_EQ(window.childAt(toast->geometry().center()), under);

    EXPECT_EQ(toast->symbolName(), "exclamationmark.triangle.fill");
    toast->setError(false);
    EXPECT_EQ(toast->symbolName(), "checkmark.circle.fill");

    VornToastBanner banner(QString(300, QLatin1Char('x')), false);
    const QImage image = vornRenderOnBlack(banner, QSize(360, banner.sizeHint().height()));
    vornSaveArtefact(image, QStringLiteral("toast-long"));
    const QRectF capsule = banner.capsuleRect();
    ASSERT_TRUE(capsule.isValid());
    EXPECT_TRUE(QRectF(banner.rect()).contains(capsule));
    // Black at 0.84 over black stays black; the text is white: nothing white in the right padding.
    for (int x = int(capsule.right()) - 14; x < int(capsule.right()) - 2; ++x) {
        EXPECT_LT(at(image, {double(x), capsule.center().y()}).red(), 60) << x;
    }
    VornToastBanner squeezed(QStringLiteral("Saved"), false);
    vornRenderOnBlack(squeezed, QSize(3, 3));
    EXPECT_FALSE(squeezed.capsuleRect().isValid());
}

TEST(VornGroundBackground, PaintsThePaletteFromCornerToCorner) {
    VornGroundBackground ground(VornProductPalette::deepCyan);
    const QImage image = vornRenderOnBlack(ground, QSize(1200, 800));
    const VornGroundStops stops = groundStops(VornProductPalette::deepCyan);
    // Far from the glow, the bottom-right corner is the last stop.
    EXPECT_TRUE(vornColorNear(at(image, {1199, 799}), stops.bottomRight));
    // At the top-left corner the glow adds white at 0.09.
    const QColor corner = at(image, {0, 0});
    const auto lifted = [](int channel) { return int(channel + (255 - channel) * 0.09 + 0.5); };
    EXPECT_TRUE(vornColorNear(corner, QColor(lifted(stops.topLeft.red()), lifted(stops.topLeft.green()),
                                             lifted(stops.topLeft.blue()))))
        << corner.name().toStdString();
}

TEST(VornBrandMark, FallsBackToTheVectorMark) {
    VornBrandMark mark(64, VornBrandMarkStyle::vornworksSuite());
    EXPECT_TRUE(mark.drawsVectorMark());
    EXPECT_EQ(mark.sizeHint(), QSize(64, 64));
    const QImage image = vornRenderOnBlack(mark, QSize(64, 64));
    vornSaveArtefact(image, QStringLiteral("brand-mark"));
    // Inside the left piece the base shading is near white; outside every piece it is black.
    EXPECT_GT(at(image, {10, 45}).red(), 180);
    EXPECT_TRUE(vornColorNear(at(image, {2, 2}), Qt::black));
    EXPECT_EQ(VornBrandMarkGeometry::allPieces()[1], VornBrandMarkGeometry::leftPiece());
    VornBrandMark zero(0, VornBrandMarkStyle::vornworksSuite());
    vornRenderOnBlack(zero, QSize(10, 10));
    VornBrandMark negative(-20, VornBrandMarkStyle::vornworksSuite());
    EXPECT_EQ(negative.sizeHint(), QSize(0, 0));
}

TEST(VornSegmentedControl, ClicksAndArrowKeysChooseOneSegment) {
    VornSegmentedControl control;
    EXPECT_EQ(control.currentIndex(), -1);
    QSignalSpy changed(&control, &VornSegmentedControl::currentIndexChanged);
    control.setSegments({{QStringLiteral("Dual Pane"), "rectangle.split.2x1.fill"},
                         {QStringLiteral("LAN"), "wifi"},
                         {QStringLiteral("Transfers"), "arrow.left.arrow.right"}});
    EXPECT_EQ(control.currentIndex(), 0);
    control.resize(360, control.sizeHint().height());
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.segmentRect(2).center().toPoint());
    EXPECT_EQ(control.currentIndex(), 2);
    QTest::keyClick(&control, Qt::Key_Left);
    EXPECT_EQ(control.currentIndex(), 1);
    control.setCurrentIndex(7);
    EXPECT_EQ(control.currentIndex(), 1);
    EXPECT_EQ(changed.count(), 3);
    // Right to left: the first segment sits at the right edge.
    control.setLayoutDirection(Qt::RightToLeft);
    EXPECT_GT(control.segmentRect(0).left(), control.segmentRect(2).left());
    control.setSegments({});
    EXPECT_EQ(control.currentIndex(), -1);
    vornRenderOnBlack(control, QSize(0, 0));
}

TEST(VornGlassInputField, TypedTextAndPlaceholderUseTheGlassColours) {
    VornGlassInputField field;
    field.setPlaceholderText(QStringLiteral("Host"));
    EXPECT_EQ(field.palette().color(QPalette::Text), VornGlassTokens::textPrimary());
    EXPECT_EQ(field.palette().color(QPalette::PlaceholderText), VornGlassTokens::textMuted());
    const QImage image = vornRenderOnBlack(field, QSize(200, field.sizeHint().height()));
    EXPECT_TRUE(vornColorNear(at(image, {196, double(image.height() / 2)}), vornWhiteOverBlack(0.10)));
    QTest::keyClicks(&field, QStringLiteral("sftp.example"));
    EXPECT_EQ(field.text(), QStringLiteral("sftp.example"));
}

TEST(VornSpinner, TurnsOnlyWhileShownAndRunning) {
    VornSpinner spinner(18);
    EXPECT_EQ(spinner.sizeHint(), QSize(18, 18));
    spinner.setAngle(725);
    EXPECT_DOUBLE_EQ(spinner.angle(), 5);
    spinner.setAngle(qQNaN());
    EXPECT_DOUBLE_EQ(spinner.angle(), 0);
    const QImage image = vornRenderOnBlack(spinner);
    EXPECT_GT(image.pixelColor(17, 9).red() + image.pixelColor(9, 0).red() + image.pixelColor(0, 9).red(), 100);
    VornSpinner tiny(0);
    EXPECT_EQ(tiny.sizeHint(), QSize(1, 1));
    vornRenderOnBlack(tiny);
}

TEST(VornMakeTransparent, ListsBetweenGlassSurfacesShowWhatIsBehindThem) {
    VornGroundBackground ground(VornProductPalette::deepCoral);
    auto* list = new QListWidget(&ground);
    list->addItem(QStringLiteral("report.pdf"));
    list->setGeometry(0, 0, 200, 120);
    const QImage before = vornRenderOnBlack(ground, QSize(200, 120));
    vornMakeTransparent(list);
    vornMakeTransparent(nullptr);
    const QImage after = vornRenderOnBlack(ground, QSize(200, 120));
    VornGroundBackground bare(VornProductPalette::deepCoral);
    const QImage expected = vornRenderOnBlack(bare, QSize(200, 120));
    // Below the one row, the list now shows the ground; before, it painted its own base colour.
    EXPECT_FALSE(vornColorNear(before.pixelColor(150, 100), expected.pixelColor(150, 100)));
    EXPECT_TRUE(vornColorNear(after.pixelColor(150, 100), expected.pixelColor(150, 100)));
}
