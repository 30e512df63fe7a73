// Window chrome on a real X server with a real window manager, driven by the real pointer
// (xdotool). window-manager.test.sh starts Xvfb and openbox and runs this suite alone; in the
// offscreen run of the other interface tests there is no pointer to drive, so it stands aside.

#include "VornFloatingPanels.h"
#include "VornUnifiedTitlebar.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>

namespace {

bool underWindowManager() { return QGuiApplication::platformName() == QStringLiteral("xcb"); }

// Runs xdotool with `arguments` and keeps the event loop turning until it is done, so the
// application sees the pointer as it moves.
void xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(process.waitForStarted());
    while (process.state() != QProcess::NotRunning) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        process.waitForFinished(20);
    }
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    for (int round = 0; round < 5; ++round) QApplication::processEvents();
}

QString number(int value) { return QString::number(value); }

// A drag by the real pointer: the press and a first motion of one point (where the window is
// handed over), then, once `pressed` shows the application has seen them, the rest of the way in
// steps and the release; then `arrived` must come to hold (a window manager tells where it put
// the window when the move ends).
void pointerDrag(QPoint from, QPoint by, const std::function<bool()>& pressed, const std::function<bool()>& arrived) {
    xdotool({QStringLiteral("mousemove"), number(from.x()), number(from.y()), QStringLiteral("sleep"),
             QStringLiteral("0.1"), QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("sleep"),
             QStringLiteral("0.05"), QStringLiteral("mousemove"), number(from.x() + 1), number(from.y())});
    ASSERT_TRUE(QTest::qWaitFor(pressed));
    QStringList chain;
    for (int step = 1; step <= 8; ++step) {
        const QPoint at = from + by * step / 8;
        chain << QStringLiteral("sleep") << QStringLiteral("0.03") << QStringLiteral("mousemove") << number(at.x())
              << number(at.y());
    }
    chain << QStringLiteral("sleep") << QStringLiteral("0.1") << QStringLiteral("mouseup") << QStringLiteral("1");
    xdotool(chain);
    ASSERT_TRUE(QTest::qWaitFor(arrived));
}

}  // namespace

TEST(UnderWindowManager, ThePointerDragsTheFloatingPanel) {
    if (!underWindowManager()) GTEST_SKIP() << "runs under Xvfb and openbox (window-manager.test.sh)";
    VornDraggableFloatingPanel panel(QRect(300, 260, 260, 160));
    auto* layout = new QVBoxLayout(&panel);
    layout->addWidget(new QLabel(QStringLiteral("Drag me")));
    std::optional<QPointF> ended;
    panel.onDragEnded = [&](QPointF origin) { ended = origin; };
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    // Where the window manager put it first is its business; then the panel asks for a place.
    panel.move(300, 260);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.frameGeometry().topLeft() == QPoint(300, 260); }));
    const QPoint before = panel.frameGeometry().topLeft();

    pointerDrag(
        panel.mapToGlobal(QPoint(130, 120)), QPoint(90, 50), [&] { return panel.isTrackingPotentialDrag(); },
        [&] {
            const QPoint moved = panel.frameGeometry().topLeft() - before;
            return std::abs(moved.x() - 90) <= 1 && moved.y() == 50;
        });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.has_value(); }));
    EXPECT_EQ(ended->toPoint(), panel.frameGeometry().topLeft());
    EXPECT_FALSE(panel.isDragging());
}

TEST(UnderWindowManager, TheHeaderBarMovesTheWindowAndADoubleClickZooms) {
    if (!underWindowManager()) GTEST_SKIP() << "runs under Xvfb and openbox (window-manager.test.sh)";
    QMainWindow window;
    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    auto* header = new VornUnifiedHeaderBar;
    header->contentLayout()->addWidget(new QLabel(QStringLiteral("Library")));
    column->addWidget(header);
    column->addStretch(1);
    window.setCentralWidget(central);
    window.setGeometry(200, 150, 640, 400);
    VornTitlebarMetricsStore* store = vornUnifiedTitlebarWindow(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->metrics().leadingClearance == 84; }));
    const QPoint before = window.frameGeometry().topLeft();

    // The window manager moves it (startSystemMove) once the first motion has moved it a point.
    pointerDrag(
        header->mapToGlobal(QPoint(400, 20)), QPoint(120, 70),
        [&] { return window.frameGeometry().topLeft() == before + QPoint(1, 0); },
        [&] {
            const QPoint moved = window.frameGeometry().topLeft() - before;
            return std::abs(moved.x() - 120) <= 1 && moved.y() == 70;
        });

    // The standard buttons sit where the metrics say.
    const QRect zoom(VornFramelessWindowAdapter::of(&window)
                         ->controls()
                         ->button(VornTitlebarWindowAdapter::StandardButton::zoom)
                         ->geometry());
    EXPECT_EQ(VornFramelessWindowAdapter::of(&window)->controls()->mapTo(&window, zoom.bottomRight()).x() + 1 + 14, 84);

    const QPoint onHeader = header->mapToGlobal(QPoint(400, 20));
    xdotool({QStringLiteral("mousemove"), QString::number(onHeader.x()), QString::number(onHeader.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
             QStringLiteral("80"), QStringLiteral("1")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }));
}
