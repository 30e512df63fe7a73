// The pane's list driven by real key presses (xdotool) on a real X server with a window manager.
// keyboard-window-manager.test.sh starts Xvfb and openbox and runs this suite alone; in the
// offscreen run of the other interface tests there is no keyboard to press, so it stands aside.

#include "ExplorerTestSupport.h"

#include "SledMainWindow.h"

#include "VornGlassInputField.h"
#include "VornGroundBackground.h"
#include "VornPalette.h"

#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <QVBoxLayout>

namespace fs = std::filesystem;

namespace {

bool underWindowManager() { return QGuiApplication::platformName() == QStringLiteral("xcb"); }

// Presses keys with xdotool into the window that has the focus, keeping the event loop turning
// so the application sees each press as it comes.
void pressKeys(const QStringList& keys) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--delay"),
                                                         QStringLiteral("60")} + keys);
    ASSERT_TRUE(process.waitForStarted());
    while (process.state() != QProcess::NotRunning) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(20);
    }
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    for (int round = 0; round < 10; ++round) {
        QApplication::processEvents();
    }
}

}  // namespace

class UnderWindowManager : public ViewsTest {};

// Tab from the filter field reaches the list, Down moves the focus row, Space selects as a click
// does, Delete does nothing, Enter opens the folder: all from the X server's own key events.
TEST_F(UnderWindowManager, TheListAnswersRealKeyPresses) {
    if (!underWindowManager()) GTEST_SKIP() << "runs under Xvfb and openbox (keyboard-window-manager.test.sh)";
    fs::create_directory(left / "docs");
    left.write("a-first.txt", "first");
    left.write("b-second.txt", "second");
    auto model = makeModel();
    PaneBrowserState& pane = *model->leftPane();
    VornGroundBackground ground(VornProductPalette::deepCoral);
    PaneBrowserCard* card = &showPaneCard(ground, pane, *model, QSize(620, 420));
    ground.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&ground));
    SledPaneListView& list = *card->listView();
    card->filterField()->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(viewsWaitFor([&] { return card->filterField()->hasFocus(); }));

    pressKeys({QStringLiteral("Tab")});
    ASSERT_TRUE(viewsWaitFor([&] { return list.hasFocus(); }));
    EXPECT_EQ(list.currentIndex().row(), explorerRowOf(*card, "docs"));
    pressKeys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("space")});
    EXPECT_EQ(list.currentIndex().row(), explorerRowOf(*card, "b-second.txt"));
    EXPECT_EQ(pane.selectedPaths(), std::set<std::string>{(left / "b-second.txt").string()});
    pressKeys({QStringLiteral("Delete"), QStringLiteral("ctrl+a")});
    EXPECT_TRUE(fs::exists(left / "b-second.txt"));
    EXPECT_EQ(pane.selectedPaths(), std::set<std::string>{(left / "b-second.txt").string()});
    pressKeys({QStringLiteral("Up"), QStringLiteral("Up"), QStringLiteral("Return")});
    EXPECT_EQ(pane.currentPath(), (left / "docs").string());
}

// The session's screen (1280 × 800, no panel) is lower than the default window with the window
// manager's title bar: the window opens smaller, inside the screen, frame and all.
TEST_F(UnderWindowManager, TheWindowOpensInsideAScreenLowerThanItsDefault) {
    if (!underWindowManager()) GTEST_SKIP() << "runs under Xvfb and openbox (keyboard-window-manager.test.sh)";
    auto model = makeModel();
    SledMainWindow window(*model);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect available = screen->availableGeometry();
    ASSERT_LE(available.height(), SledMainWindow::defaultWindowSize.height() + 10);
    window.placeOnScreen(screen);
    window.show();
    ASSERT_TRUE(viewsWaitFor([&] { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); }));
    // Once the window manager has framed it, the whole frame lies on the screen.
    ASSERT_TRUE(viewsWaitFor([&] {
        return !window.windowHandle()->frameMargins().isNull() && available.contains(window.frameGeometry()) &&
               window.height() < SledMainWindow::defaultWindowSize.height();
    })) << "frame " << window.frameGeometry().x() << "," << window.frameGeometry().y() << " "
        << window.frameGeometry().width() << "x" << window.frameGeometry().height();
    EXPECT_EQ(window.width(), SledMainWindow::defaultWindowSize.width());
    EXPECT_GE(window.height(), SledMainWindow::minimumWindowSize.height());
}
