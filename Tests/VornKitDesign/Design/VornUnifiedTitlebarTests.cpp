#include "VornUnifiedTitlebar.h"
#include "VornUserDefaults.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QTest>
#include <QToolBar>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Metrics = VornUnifiedTitlebarMetrics;
using Button = VornTitlebarWindowAdapter::StandardButton;

std::string describe(const Metrics& m) {
    return std::to_string(m.leadingClearance) + "/" + std::to_string(m.trafficLightCenterY) + "/" +
           std::to_string(m.trafficLightBottomY) + "/" + std::to_string(m.sidebarTopClearance) + "/" +
           (m.isFullScreen ? "full" : "windowed");
}

void expectMetrics(const Metrics& actual, Metrics expected) { EXPECT_EQ(describe(actual), describe(expected)); }

// A main window with a header bar, a sidebar and a body, as an application would build it.
struct TitlebarRig {
    explicit TitlebarRig(VornUnifiedTitlebarMode mode = VornUnifiedTitlebarMode::unifiedHeader) {
        auto* central = new QWidget;
        auto* column = new QVBoxLayout(central);
        column->setContentsMargins(0, 0, 0, 0);
        header = new VornUnifiedHeaderBar;
        header->contentLayout()->addWidget(new QLabel(QStringLiteral("Library")));
        column->addWidget(header);
        sidebar = new QWidget;
        auto* sidebarLayout = new QVBoxLayout(sidebar);
        sidebarLayout->setContentsMargins(0, 0, 0, 0);
        sidebarLayout->addWidget(new QLabel(QStringLiteral("Places")));
        vornSidebarTitlebarClearance(sidebar, 6);
        column->addWidget(sidebar, 1);
        window.setCentralWidget(central);
        window.resize(640, 420);
        store = vornUnifiedTitlebarWindow(&window, mode);
        QObject::connect(store, &VornTitlebarMetricsStore::metricsChanged,
                         [this](const Metrics& metrics) { reports.push_back(metrics); });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        settle();
    }
    static void settle() {
        for (int round = 0; round < 3; ++round) QApplication::processEvents();
    }
    VornFramelessWindowAdapter* adapter() { return VornFramelessWindowAdapter::of(&window); }

    QMainWindow window;
    VornUnifiedHeaderBar* header;
    QWidget* sidebar;
    VornTitlebarMetricsStore* store;
    std::vector<Metrics> reports;
};

}  // namespace

TEST(VornUnifiedTitlebarMetrics, FallsBackFieldByFieldAndRoundsUp) {
    struct Case {
        double maxX, center, bottom;
        bool fullScreen;
        Metrics expected;
    };
    const Case cases[] = {
        {0, 0, 0, false, {93, 26, 23, 37, false}},
        {69.5, 0, 0, false, {84, 26, 23, 37, false}},
        {70, 26, 33, false, {84, 26, 33, 47, false}},
        {70, 14, 0, false, {84, 14, 23, 37, false}},
        {70, 26, 33, true, {16, 26, 0, 16, true}},
    };
    for (const Case& c : cases) {
        expectMetrics(Metrics::calculate(c.maxX, c.center, c.bottom, c.fullScreen), c.expected);
    }
    expectMetrics(Metrics::defaultMetrics(), {93, 26, 33, 37, false});
}

TEST(VornUnifiedTitlebar, MeasuresTheButtonsInEachModeAndState) {
    TitlebarRig rig;
    // Unified: the tall band. The zoom disc ends at 16 + 3 * 14 + 2 * 6 = 70.
    expectMetrics(rig.store->metrics(), {84, 26, 33, 47, false});
    EXPECT_EQ(rig.header->leadingPadding(), 84);
    EXPECT_EQ(rig.sidebar->contentsMargins().top(), 6 + 47);
    EXPECT_TRUE(rig.window.windowFlags().testFlag(Qt::FramelessWindowHint));

    // Full screen hides the buttons and gives the full-screen margins.
    rig.window.showFullScreen();
    TitlebarRig::settle();
    expectMetrics(rig.store->metrics(), {16, 26, 0, 16, true});
    EXPECT_FALSE(rig.adapter()->controls()->isVisible());
    EXPECT_EQ(rig.header->leadingPadding(), 16);
    rig.window.showNormal();
    TitlebarRig::settle();
    expectMetrics(rig.store->metrics(), {84, 26, 33, 47, false});

    // Hidden buttons cannot be measured.
    for (const Button which : {Button::close, Button::minimize, Button::zoom}) {
        rig.adapter()->controls()->button(which)->hide();
    }
    expectMetrics(vornMeasureTitlebarMetrics(*rig.adapter()), {93, 26, 23, 37, false});

    // A sidebar window has the short band.
    TitlebarRig sidebarRig(VornUnifiedTitlebarMode::fullHeightSidebar);
    expectMetrics(sidebarRig.store->metrics(), {84, 14, 21, 35, false});
    EXPECT_EQ(sidebarRig.sidebar->contentsMargins().top(), 6 + 35);
}

TEST(VornUnifiedTitlebar, ResizingWithoutMovingTheButtonsReportsNothing) {
    TitlebarRig rig;
    const std::size_t before = rig.reports.size();
    for (const QSize size : {QSize(700, 480), QSize(520, 300), QSize(900, 600)}) {
        rig.window.resize(size);
        TitlebarRig::settle();
    }
    EXPECT_EQ(rig.reports.size(), before);
    // Entering full screen moves them: one report.
    rig.window.showFullScreen();
    TitlebarRig::settle();
    TitlebarRig::settle();
    ASSERT_EQ(rig.reports.size(), before + 1);
    EXPECT_TRUE(rig.reports.back().isFullScreen);
}

TEST(VornUnifiedTitlebar, ConfiguringRespectsTheApplicationsToolbarAndKeepsItsOwn) {
    QMainWindow window;
    auto* tools = window.addToolBar(QStringLiteral("Tools"));
    tools->setObjectName(QStringLiteral("com.example.tools"));
    VornFramelessWindowAdapter* adapter = VornFramelessWindowAdapter::of(&window);

    vornConfigureUnifiedTitlebar(*adapter, VornUnifiedTitlebarMode::fullHeightSidebar);
    EXPECT_EQ(adapter->toolbarIdentifier(), QStringLiteral("com.example.tools"));
    EXPECT_TRUE(adapter->hasFullSizeContent());
    EXPECT_FALSE(adapter->hasUnifiedToolbarStyle());

    vornConfigureUnifiedTitlebar(*adapter, VornUnifiedTitlebarMode::unifiedHeader);
    EXPECT_EQ(adapter->toolbarIdentifier(), QStringLiteral("com.vornworks.unifiedTitlebar"));
    EXPECT_EQ(window.toolBarArea(tools), Qt::NoToolBarArea);
    EXPECT_TRUE(adapter->hasUnifiedToolbarStyle());
    auto* kit = window.findChild<QToolBar*>(QStringLiteral("com.vornworks.unifiedTitlebar"));
    ASSERT_NE(kit, nullptr);
    EXPECT_TRUE(kit->actions().isEmpty());
    EXPECT_FALSE(kit->isMovable());
    EXPECT_EQ(kit->toolButtonStyle(), Qt::ToolButtonIconOnly);

    // Twice: the same toolbar stays.
    vornConfigureUnifiedTitlebar(*adapter, VornUnifiedTitlebarMode::unifiedHeader);
    EXPECT_EQ(window.findChildren<QToolBar*>(QStringLiteral("com.vornworks.unifiedTitlebar")).size(), 1);
    EXPECT_EQ(window.findChild<QToolBar*>(QStringLiteral("com.vornworks.unifiedTitlebar")), kit);

    // Back to a sidebar: the kit's toolbar goes.
    vornConfigureUnifiedTitlebar(*adapter, VornUnifiedTitlebarMode::fullHeightSidebar);
    EXPECT_EQ(adapter->toolbarIdentifier(), std::nullopt);
}

namespace {

void click(QWidget* target, QEvent::Type type, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton, held, {});
    QCoreApplication::sendEvent(target, &event);
}

void doubleClick(QWidget* target, QPoint at) {
    click(target, QEvent::MouseButtonPress, at);
    click(target, QEvent::MouseButtonRelease, at);
    click(target, QEvent::MouseButtonDblClick, at);
    click(target, QEvent::MouseButtonRelease, at);
}

}  // namespace

TEST(VornWindowDragArea, ADoubleClickDoesWhatThePreferenceSays) {
    const std::string key(VornWindowDragArea::doubleClickActionKey);
    struct Case {
        std::optional<std::string> preference;
        std::string expected;
    };
    const Case cases[] = {{std::nullopt, "maximized"}, {"Maximize", "maximized"}, {"Minimize", "minimized"},
                          {"None", "normal"}, {"anything else", "maximized"}};
    for (const Case& c : cases) {
        if (c.preference) {
            VornUserDefaults::standard().setString(key, *c.preference);
        } else {
            VornUserDefaults::standard().remove(key);
        }
        TitlebarRig rig;
        doubleClick(rig.header, QPoint(300, 20));
        TitlebarRig::settle();
        const std::string state = rig.window.isMinimized() ? "minimized" : rig.window.isMaximized() ? "maximized" : "normal";
        EXPECT_EQ(state, c.expected) << (c.preference ? *c.preference : "(absent)");
    }
    VornUserDefaults::standard().remove(key);
}

TEST(VornWindowDragArea, APressAndATripleClickDragTheWindow) {
    TitlebarRig rig;
    auto* area = new VornWindowDragArea(rig.header);
    area->setGeometry(200, 0, 200, 52);
    area->show();
    const QPoint origin = rig.window.pos();

    // A third click after a double click drags, and so does a plain press.
    doubleClick(area, QPoint(10, 10));
    TitlebarRig::settle();
    ASSERT_TRUE(rig.window.isMaximized());
    rig.window.showNormal();
    TitlebarRig::settle();
    const QPoint restored = rig.window.pos();
    click(area, QEvent::MouseButtonPress, QPoint(10, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 30), QPointF(area->mapToGlobal(QPoint(10, 10))) + QPointF(30, 20),
                     Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(area, &move);
    click(area, QEvent::MouseButtonRelease, QPoint(40, 30));
    EXPECT_EQ(rig.window.pos(), restored + QPoint(30, 20));
    EXPECT_FALSE(rig.window.isMaximized());
    (void)origin;
}
