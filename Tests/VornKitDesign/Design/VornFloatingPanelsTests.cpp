#include "VornFloatingPanels.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A surface that counts the mouse events it gets.
class Surface : public QWidget {
public:
    int presses = 0, moves = 0, releases = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        ++moves;
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        ++releases;
        event->accept();
    }
};

// A draggable panel at a known place with a surface, a text field and a button, and a pointer the
// test moves.
struct DragRig {
    DragRig() : panel(QRect(120, 140, 240, 150)) {
        auto* layout = new QVBoxLayout(&panel);
        layout->setContentsMargins(0, 0, 0, 0);
        surface = new Surface;
        surface->setFixedHeight(60);
        field = new QLineEdit;
        button = new QPushButton(QStringLiteral("Pin"));
        layout->addWidget(surface);
        layout->addWidget(field);
        layout->addWidget(button);
        panel.screenMouseLocationProvider = [this] { return pointer; };
        panel.onDragBegan = [this](QRectF frame) { log.push_back("began " + point(frame.topLeft())); };
        panel.onDragMoved = [this](QRectF frame) { log.push_back("moved " + point(frame.topLeft())); };
        panel.onDragEnded = [this](QPointF origin) { log.push_back("ended " + point(origin)); };
        panel.onDragCancelled = [this] { log.push_back("cancelled"); };
        panel.onEscapePressed = [this] { log.push_back("escape"); };
        panel.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&panel));
        window = panel.windowHandle();
    }
    static std::string point(QPointF p) {
        return std::to_string(int(std::lround(p.x()))) + "," + std::to_string(int(std::lround(p.y())));
    }
    QPoint at(QWidget* widget) const { return widget->mapTo(&panel, widget->rect().center()); }
    // The pointer moves by `delta` screen points from where the press happened.
    void press(QWidget* widget) {
        start = at(widget);
        startGlobal = QPointF(panel.mapToGlobal(start));
        pointer = startGlobal;
        QTest::mousePress(window, Qt::LeftButton, {}, start);
    }
    void moveBy(QPointF delta) {
        pointer = startGlobal + delta;
        QMouseEvent move(QEvent::MouseMove, QPointF(start) + delta, pointer, Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window, &move);
    }
    void release(QPointF delta) {
        pointer = startGlobal + delta;
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(start) + delta, pointer, Qt::LeftButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(window, &up);
    }

    VornDraggableFloatingPanel panel;
    Surface* surface;
    QLineEdit* field;
    QPushButton* button;
    QWindow* window = nullptr;
    QPoint start;
    QPointF startGlobal;
    QPointF pointer;
    std::vector<std::string> log;
};

}  // namespace

TEST(VornDraggableFloatingPanel, MovesOnlyOnceThePointerTravelledFourPoints) {
    DragRig rig;
    const QPoint origin = rig.panel.pos();
    rig.press(rig.surface);
    EXPECT_EQ(rig.surface->presses, 1);
    EXPECT_TRUE(rig.panel.isTrackingPotentialDrag());

    // 3.9 points: the content sees the move, the panel stays.
    rig.moveBy({3.9, 0});
    EXPECT_EQ(rig.panel.pos(), origin);
    EXPECT_EQ(rig.surface->moves, 1);
    EXPECT_TRUE(rig.log.empty());

    // 4 points: the drag starts.
    rig.moveBy({4, 0});
    EXPECT_TRUE(rig.panel.isDragging());
    EXPECT_EQ(rig.panel.pos(), origin + QPoint(4, 0));
    rig.moveBy({30, -20});
    EXPECT_EQ(rig.panel.pos(), origin + QPoint(30, -20));
    // Moves of a drag are the panel's; the content saw only the first one.
    EXPECT_EQ(rig.surface->moves, 1);

    rig.release({30, -20});
    const std::string moved = DragRig::point(QPointF(origin + QPoint(30, -20)));
    EXPECT_EQ(rig.log, std::vector<std::string>({"began " + DragRig::point(QPointF(origin + QPoint(4, 0))),
                                                 "moved " + DragRig::point(QPointF(origin + QPoint(4, 0))),
                                                 "moved " + moved, "ended " + moved}));
    EXPECT_FALSE(rig.panel.isDragging());
    EXPECT_FALSE(rig.panel.isTrackingPotentialDrag());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(VornDraggableFloatingPanel, ADragEndingOnAButtonDoesNotClickIt) {
    DragRig rig;
    int clicks = 0;
    QObject::connect(rig.button, &QPushButton::clicked, [&] { ++clicks; });
    rig.press(rig.button);
    ASSERT_TRUE(rig.button->isDown());
    rig.moveBy({12, 0});
    rig.moveBy({0, 0});
    ASSERT_TRUE(rig.panel.isDragging());
    // The pointer is over the button again when it is released.
    rig.release({0, 0});
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(rig.button->isDown());

    // A plain click still clicks.
    QTest::mouseClick(rig.window, Qt::LeftButton, {}, rig.at(rig.button));
    EXPECT_EQ(clicks, 1);
}

TEST(VornDraggableFloatingPanel, APressOnATextFieldNeverDragsThePanel) {
    DragRig rig;
    const QPoint origin = rig.panel.pos();
    rig.press(rig.field);
    EXPECT_FALSE(rig.panel.isTrackingPotentialDrag());
    for (const double step : {5.0, 40.0, 160.0}) {
        rig.moveBy({step, step / 2});
        EXPECT_EQ(rig.panel.pos(), origin);
    }
    rig.release({160, 80});
    EXPECT_TRUE(rig.log.empty());
}

TEST(VornDraggableFloatingPanel, EscapeCancelsADragBeforeItIsReported) {
    DragRig rig;
    QTest::keyClick(&rig.panel, Qt::Key_Escape);
    EXPECT_EQ(rig.log, std::vector<std::string>({"escape"}));

    rig.log.clear();
    rig.press(rig.surface);
    rig.moveBy({10, 10});
    ASSERT_TRUE(rig.panel.isDragging());
    rig.log.clear();
    QTest::keyClick(&rig.panel, Qt::Key_Escape);
    EXPECT_EQ(rig.log, std::vector<std::string>({"cancelled", "escape"}));
    EXPECT_FALSE(rig.panel.isDragging());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Hiding a panel in mid-drag cancels it too.
    rig.press(rig.surface);
    rig.moveBy({10, 10});
    rig.log.clear();
    rig.panel.hide();
    EXPECT_EQ(rig.log, std::vector<std::string>({"cancelled"}));
}

TEST(VornFloatingPanelController, PlacesTheCentredPanelAboveTheMiddleAndClearOfTheBottom) {
    struct Case {
        QRectF visible;
        QSizeF size;
        QPointF origin;
    };
    const Case cases[] = {
        {QRectF(0, 25, 1440, 875), QSizeF(400, 300), QPointF(520, 272.5)},
        // Taller than the screen: the bottom edge sits 24 points above the usable bottom.
        {QRectF(0, 0, 1000, 500), QSizeF(300, 600), QPointF(350, -124)},
    };
    for (const Case& c : cases) {
        const QPointF origin = VornFloatingPanelController::centeredOrigin(c.visible, c.size);
        EXPECT_EQ(origin, c.origin);
        EXPECT_LE(origin.y() + c.size.height(), c.visible.bottom() - 24 + 1e-9);
    }
}

TEST(VornFloatingPanelController, ShowsTogglesAndDismisses) {
    int dismissals = 0;
    VornFloatingPanelController controller(QSizeF(320, 180), false, [&] { ++dismissals; });
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(controller.panel(), nullptr);
    int built = 0;
    const auto content = [&]() -> QWidget* {
        ++built;
        return new QLabel(QStringLiteral("Quick note"));
    };

    controller.show(true, std::nullopt, content);
    QWidget* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(panel->size(), QSize(320, 180));
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    EXPECT_EQ(panel->pos(), VornFloatingPanelController::centeredOrigin(screen->availableGeometry(), QSizeF(320, 180)).toPoint());

    // Losing the focus leaves it on screen when it is not meant to go then.
    QWidget other;
    other.show();
    other.activateWindow();
    QApplication::setActiveWindow(&other);
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(dismissals, 0);

    controller.toggle(false, std::nullopt, content);
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(dismissals, 1);
    controller.toggle(false, QRectF(40, 60, 10, 10), content);
    EXPECT_TRUE(controller.isVisible());
    EXPECT_EQ(controller.panel(), panel);
    EXPECT_EQ(panel->pos(), QPoint(40, 60));
    EXPECT_EQ(built, 2);

    // Its background moves it (the label takes no clicks).
    auto* label = panel->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    const QPoint press = label->mapTo(panel, QPoint(5, 5));
    const QPointF global = QPointF(panel->mapToGlobal(press));
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(press), global, Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(panel->windowHandle(), &down);
    QMouseEvent move(QEvent::MouseMove, QPointF(press) + QPointF(25, 15), global + QPointF(25, 15), Qt::NoButton,
                     Qt::LeftButton, {});
    QCoreApplication::sendEvent(panel->windowHandle(), &move);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(press) + QPointF(25, 15), global + QPointF(25, 15), Qt::LeftButton,
                   Qt::NoButton, {});
    QCoreApplication::sendEvent(panel->windowHandle(), &up);
    EXPECT_EQ(panel->pos(), QPoint(65, 75));
    EXPECT_TRUE(controller.isVisible());

    // Escape dismisses.
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(dismissals, 2);
}

TEST(VornFloatingPanelController, DismissesOnLosingFocusWhenAsked) {
    int dismissals = 0;
    VornFloatingPanelController controller(QSizeF(200, 100), true, [&] { ++dismissals; });
    controller.show(false, QRectF(10, 10, 1, 1), [] { return new QLabel(QStringLiteral("Palette")); });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.panel()));
    QApplication::setActiveWindow(controller.panel());
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller.panel()));
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QApplication::processEvents();
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(dismissals, 1);
}

namespace {

struct TearOffRig {
    TearOffRig() {
        host.setGeometry(200, 200, 300, 200);
        auto* layout = new QVBoxLayout(&host);
        region = new VornTearOffDragRegion([this](bool outside) { states.push_back(outside); },
                                           [this](QPointF at) { drops.push_back(at); });
        region->setFixedSize(60, 30);
        layout->addWidget(region);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
    void send(QEvent::Type type, QPointF global) {
        const QPointF local = region->mapFromGlobal(global);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, local, global, button, held, {});
        QCoreApplication::sendEvent(region, &event);
    }
    QWidget host;
    VornTearOffDragRegion* region;
    std::vector<bool> states;
    std::vector<QPointF> drops;
};

}  // namespace

TEST(VornTearOffDragRegion, ReportsLeavingAndReturningAndDropsOnlyOutside) {
    TearOffRig rig;
    const QRectF frame(rig.host.frameGeometry());
    const QPointF start = rig.region->mapToGlobal(QPointF(10, 10));

    // Out and back before release: true then false, nothing dropped.
    rig.send(QEvent::MouseButtonPress, start);
    rig.send(QEvent::MouseMove, start + QPointF(7, 0));
    EXPECT_TRUE(rig.states.empty());
    // Within 4 points of the frame counts as inside.
    rig.send(QEvent::MouseMove, QPointF(frame.right() + 3, start.y()));
    EXPECT_TRUE(rig.states.empty());
    rig.send(QEvent::MouseMove, QPointF(frame.right() + 40, start.y()));
    rig.send(QEvent::MouseMove, QPointF(frame.right() + 60, start.y()));
    rig.send(QEvent::MouseMove, start + QPointF(20, 0));
    rig.send(QEvent::MouseButtonRelease, start + QPointF(20, 0));
    EXPECT_EQ(rig.states, std::vector<bool>({true, false}));
    EXPECT_TRUE(rig.drops.empty());
    EXPECT_FALSE(rig.region->isTracking());

    // Released outside: dropped there, and the state goes back to inside.
    rig.states.clear();
    const QPointF outside(frame.left() - 80, frame.top() - 30);
    rig.send(QEvent::MouseButtonPress, start);
    rig.send(QEvent::MouseMove, outside);
    rig.send(QEvent::MouseButtonRelease, outside);
    EXPECT_EQ(rig.states, std::vector<bool>({true, false}));
    ASSERT_EQ(rig.drops.size(), 1u);
    EXPECT_EQ(rig.drops.front(), outside);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The owner's newer callbacks are the ones called.
    int newer = 0;
    rig.region->setCallbacks([&](bool) { ++newer; }, [&](QPointF) { ++newer; });
    rig.send(QEvent::MouseButtonPress, start);
    rig.send(QEvent::MouseMove, outside);
    rig.send(QEvent::MouseButtonRelease, outside);
    EXPECT_EQ(newer, 3);
    EXPECT_EQ(rig.drops.size(), 1u);
}
