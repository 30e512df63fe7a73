#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <optional>

class QWindow;

// A widget that tracks its own drags (a canvas, a colour wheel): a draggable panel leaves the
// presses that land on it, or on anything inside it, alone.
class VornCustomDragTrackingView {
public:
    virtual ~VornCustomDragTrackingView() = default;
};


// Shows a widget in a small floating panel near the pointer (or at an anchor) and dismisses it on
// Escape and, when asked, when the panel loses focus. The panel is made on first show and kept;
// hiding only takes it off the screen. GUI thread only.
class VornFloatingPanelController : public QObject {
public:
    VornFloatingPanelController(QSizeF size, bool dismissOnResignKey, std::function<void()> onDismiss = nullptr);
    ~VornFloatingPanelController() override;

    QSizeF size() const { return size_; }
    bool dismissOnResignKey() const { return dismissOnResignKey_; }
    bool isVisible() const;
    // The panel, once it was shown.
    QWidget* panel() const;

    // Builds the content with `content` (the panel takes it) and shows it: at the anchor's top-left
    // corner when one is given, else centred a little above the middle of the screen under the
    // pointer when asked, else where it was. The panel takes the focus.
    void show(bool centeredOnActiveScreen, std::optional<QRectF> anchorFrame, const std::function<QWidget*()>& content);
    // Hides a visible panel; shows it otherwise.
    void toggle(bool centeredOnActiveScreen, std::optional<QRectF> anchorFrame, const std::function<QWidget*()>& content);
    // Takes the panel off the screen and reports the dismissal.
    void hide();
    // The panel lost the focus.
    void windowDidResignKey();

    // Where a centred panel of `size` goes on a screen whose usable area is `visibleFrame`: centred
    // across, 40 points above the middle, and never closer than 24 points to the bottom.
    static QPointF centeredOrigin(const QRectF& visibleFrame, QSizeF size);

private:
    void ensurePanel();
    QSizeF size_;
    bool dismissOnResignKey_;
    std::function<void()> onDismiss_;
    QPointer<QWidget> panel_;
};

// A floating utility panel that the whole surface drags: a press anywhere but on a text input, a
// slider, a scroll bar or a VornCustomDragTrackingView starts tracking, and the panel follows the
// pointer once it moved 4 points; shorter moves reach the content unchanged. Escape, losing the
// focus and hiding end a drag and report it cancelled. The release that ends a drag reaches the
// content far outside every control, so no button clicks because a drag ended on it.
class VornDraggableFloatingPanel : public QWidget {
public:
    explicit VornDraggableFloatingPanel(const QRect& contentRect = QRect(), QWidget* parent = nullptr);
    ~VornDraggableFloatingPanel() override;

    std::function<void()> onEscapePressed;
    std::function<void(QRectF)> onDragBegan;
    std::function<void(QRectF)> onDragMoved;
    std::function<void(QPointF)> onDragEnded;
    std::function<void()> onDragCancelled;
    // The pointer in screen coordinates.
    std::function<QPointF()> screenMouseLocationProvider;

    // All moving happens through the panel's own tracking.
    bool isMovableByWindowBackground() const { return false; }
    void setMovableByWindowBackground(bool) {}

    bool isTrackingPotentialDrag() const { return trackingPotentialDrag_; }
    bool isDragging() const { return didStartDragging_; }

    static constexpr double dragThreshold = 4;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Returns whether the event is consumed.
    bool handleWindowEvent(QEvent* event);
    bool startsOnInteractiveControl(const QPointF& windowPosition) const;
    void resetDragState(bool notifyCancelled);
    void moveTo(const QPointF& origin);
    void popCursor();
    QPointer<QWindow> watchedWindow_;
    bool trackingPotentialDrag_ = false;
    bool didStartDragging_ = false;
    bool pushedClosedHandCursor_ = false;
    bool deliveringSynthetic_ = false;
    QPointF dragStartScreenPoint_;
    QPointF dragStartWindowOrigin_;
};

// A handle that reports when it is dragged out of its window (more than 4 points past the frame,
// after a move of 8 points) and back, and where it was dropped outside: the gesture that tears a
// tab or a tool off into a window of its own.
class VornTearOffDragRegion : public QWidget {
public:
    VornTearOffDragRegion(std::function<void(bool)> onTearOffStateChanged, std::function<void(QPointF)> onTearOffDropped,
                          QWidget* parent = nullptr);
    ~VornTearOffDragRegion() override;

    // The owner's current callbacks replace the old ones.
    void setCallbacks(std::function<void(bool)> onTearOffStateChanged, std::function<void(QPointF)> onTearOffDropped);
    bool isTracking() const { return isTracking_; }
    bool isOutsideHost() const { return isOutsideHost_; }

    static constexpr double armDistance = 8;
    static constexpr double hostMargin = 4;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void cleanUp();
    std::function<void(bool)> onTearOffStateChanged_;
    std::function<void(QPointF)> onTearOffDropped_;
    bool isTracking_ = false;
    bool isOutsideHost_ = false;
    QPointF startScreenPoint_;
    bool pushedCursor_ = false;
};
