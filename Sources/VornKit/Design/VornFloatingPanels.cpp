#include "VornFloatingPanels.h"

#include "VornUnifiedTitlebar.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace {

// The panel the controller shows: a frameless tool window that stays above the application's
// windows, takes the keyboard and reports Escape and the loss of focus.
class VornFloatingPanel : public QWidget {
public:
    VornFloatingPanel() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_TranslucentBackground);
        setFocusPolicy(Qt::StrongFocus);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
    }

    std::function<void()> onEscapePressed;
    std::function<void()> onResignKey;

    void setContent(QWidget* content) {
        QLayout* box = layout();
        while (QLayoutItem* old = box->takeAt(0)) {
            if (QWidget* widget = old->widget()) {
                widget->deleteLater();
                widget->hide();
            }
            delete old;
        }
        if (content) {
            box->addWidget(content);
        }
    }

protected:
    // Presses that no control of the content took move the panel, as a titlebar would.
    void mousePressEvent(QMouseEvent* event) override {
        if (!VornWindowDragArea::handlePress(this, event, 1)) QWidget::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override { VornWindowDragArea::handleMove(event); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        VornWindowDragArea::handleRelease();
        QWidget::mouseReleaseEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            if (onEscapePressed) onEscapePressed();
            event->accept();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    bool event(QEvent* event) override {
        const bool result = QWidget::event(event);
        if (event->type() == QEvent::WindowDeactivate && onResignKey) {
            onResignKey();
        }
        return result;
    }
};

bool isInteractiveControl(const QWidget* widget) {
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSlider*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           dynamic_cast<const VornCustomDragTrackingView*>(widget) != nullptr;
}

double distance(const QPointF& delta) { return std::hypot(delta.x(), delta.y()); }

}  // namespace

// MARK: Controller

VornFloatingPanelController::VornFloatingPanelController(QSizeF size, bool dismissOnResignKey,
                                                         std::function<void()> onDismiss)
    : size_(size), dismissOnResignKey_(dismissOnResignKey), onDismiss_(std::move(onDismiss)) {}

VornFloatingPanelController::~VornFloatingPanelController() { delete panel_.data(); }

bool VornFloatingPanelController::isVisible() const { return panel_ && panel_->isVisible(); }

QWidget* VornFloatingPanelController::panel() const { return panel_.data(); }

void VornFloatingPanelController::ensurePanel() {
    if (panel_) {
        return;
    }
    auto* panel = new VornFloatingPanel;
    panel->resize(size_.toSize());
    // The panel never keeps its controller alive, and a panel outliving it does nothing.
    QPointer<VornFloatingPanelController> self(this);
    panel->onEscapePressed = [self] {
        if (!self) return;
        if (self->panel_) self->panel_->hide();
        if (self->onDismiss_) self->onDismiss_();
    };
    panel->onResignKey = [self] {
        if (self) self->windowDidResignKey();
    };
    panel_ = panel;
}

QPointF VornFloatingPanelController::centeredOrigin(const QRectF& visibleFrame, QSizeF size) {
    // Screen coordinates grow downwards: "above the middle" is a smaller y, and the bottom edge
    // stays 24 points above the usable area's bottom.
    const double x = visibleFrame.center().x() - size.width() / 2;
    const double y = std::min(visibleFrame.center().y() - size.height() / 2 - 40,
                              visibleFrame.bottom() - 24 - size.height());
    return {x, y};
}

void VornFloatingPanelController::show(bool centeredOnActiveScreen, std::optional<QRectF> anchorFrame,
                                       const std::function<QWidget*()>& content) {
    ensurePanel();
    auto* panel = static_cast<VornFloatingPanel*>(panel_.data());
    panel->setContent(content ? content() : nullptr);
    panel->resize(size_.toSize());
    if (anchorFrame) {
        panel->move(anchorFrame->topLeft().toPoint());
    } else if (centeredOnActiveScreen) {
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (!screen && !QGuiApplication::screens().isEmpty()) screen = QGuiApplication::screens().front();
        if (screen) {
            panel->move(centeredOrigin(screen->availableGeometry(), size_).toPoint());
        }
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
    panel->setFocus(Qt::ActiveWindowFocusReason);
}

void VornFloatingPanelController::toggle(bool centeredOnActiveScreen, std::optional<QRectF> anchorFrame,
                                         const std::function<QWidget*()>& content) {
    if (panel_ && panel_->isVisible()) {
        hide();
    } else {
        show(centeredOnActiveScreen, anchorFrame, content);
    }
}

void VornFloatingPanelController::hide() {
    if (panel_) {
        panel_->hide();
    }
    if (onDismiss_) {
        onDismiss_();
    }
}

void VornFloatingPanelController::windowDidResignKey() {
    if (dismissOnResignKey_) {
        hide();
    }
}

// MARK: Draggable panel

VornDraggableFloatingPanel::VornDraggableFloatingPanel(const QRect& contentRect, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      screenMouseLocationProvider([] { return QPointF(QCursor::pos()); }) {
    if (contentRect.isValid()) {
        setGeometry(contentRect);
    }
    setFocusPolicy(Qt::StrongFocus);
}

VornDraggableFloatingPanel::~VornDraggableFloatingPanel() { popCursor(); }

bool VornDraggableFloatingPanel::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::PlatformSurface:
    case QEvent::WinIdChange:
        // Every mouse event of the panel passes its window first, as the events of a window do.
        if (QWindow* window = windowHandle(); window && window != watchedWindow_) {
            if (watchedWindow_) watchedWindow_->removeEventFilter(this);
            watchedWindow_ = window;
            window->installEventFilter(this);
        }
        break;
    case QEvent::WindowDeactivate:
        resetDragState(true);
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool VornDraggableFloatingPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && !deliveringSynthetic_) {
        return handleWindowEvent(event);
    }
    return QWidget::eventFilter(watched, event);
}

bool VornDraggableFloatingPanel::startsOnInteractiveControl(const QPointF& windowPosition) const {
    const QWidget* hit = childAt(windowPosition.toPoint());
    for (const QWidget* widget = hit; widget && widget != this; widget = widget->parentWidget()) {
        if (isInteractiveControl(widget)) {
            return true;
        }
        // A text editor's viewport belongs to the editor.
        if (const auto* area = qobject_cast<const QAbstractScrollArea*>(widget->parentWidget());
            area && area->viewport() == widget && isInteractiveControl(area)) {
            return true;
        }
    }
    return false;
}

bool VornDraggableFloatingPanel::handleWindowEvent(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) {
        return false;
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        trackingPotentialDrag_ = false;
        didStartDragging_ = false;
        popCursor();
        if (startsOnInteractiveControl(mouse->position())) {
            return false;
        }
        trackingPotentialDrag_ = true;
        dragStartScreenPoint_ = screenMouseLocationProvider ? screenMouseLocationProvider() : mouse->globalPosition();
        dragStartWindowOrigin_ = QPointF(pos());
        return false;
    }
    if (type == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton) && trackingPotentialDrag_) {
        const QPointF current = screenMouseLocationProvider ? screenMouseLocationProvider() : mouse->globalPosition();
        const QPointF delta = current - dragStartScreenPoint_;
        if (didStartDragging_) {
            moveTo(dragStartWindowOrigin_ + delta);
            if (onDragMoved) onDragMoved(QRectF(geometry()));
            return true;
        }
        if (distance(delta) >= dragThreshold) {
            didStartDragging_ = true;
            if (!pushedClosedHandCursor_) {
                QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
                pushedClosedHandCursor_ = true;
            }
            moveTo(dragStartWindowOrigin_ + delta);
            if (onDragBegan) onDragBegan(QRectF(geometry()));
            if (onDragMoved) onDragMoved(QRectF(geometry()));
            return true;
        }
        return false;
    }
    if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
        if (!didStartDragging_) {
            trackingPotentialDrag_ = false;
            return false;
        }
        const QRectF frame(geometry());
        trackingPotentialDrag_ = false;
        didStartDragging_ = false;
        popCursor();
        // The content still sees its button released (a pressed control must let go), but far
        // away from everything, so nothing takes it as a click.
        const QPointF faraway(-10000, -10000);
        QMouseEvent synthetic(QEvent::MouseButtonRelease, faraway, mapToGlobal(faraway), Qt::LeftButton,
                              Qt::NoButton, mouse->modifiers(), mouse->pointingDevice());
        synthetic.setTimestamp(mouse->timestamp());
        if (watchedWindow_) {
            deliveringSynthetic_ = true;
            QCoreApplication::sendEvent(watchedWindow_, &synthetic);
            deliveringSynthetic_ = false;
        }
        if (onDragEnded) onDragEnded(frame.topLeft());
        return true;
    }
    return false;
}

void VornDraggableFloatingPanel::moveTo(const QPointF& origin) { move(origin.toPoint()); }

void VornDraggableFloatingPanel::popCursor() {
    if (pushedClosedHandCursor_) {
        QGuiApplication::restoreOverrideCursor();
        pushedClosedHandCursor_ = false;
    }
}

void VornDraggableFloatingPanel::resetDragState(bool notifyCancelled) {
    const bool wasDragging = didStartDragging_;
    trackingPotentialDrag_ = false;
    didStartDragging_ = false;
    popCursor();
    if (wasDragging && notifyCancelled && onDragCancelled) {
        onDragCancelled();
    }
}

void VornDraggableFloatingPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        resetDragState(true);
        if (onEscapePressed) onEscapePressed();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void VornDraggableFloatingPanel::hideEvent(QHideEvent* event) {
    resetDragState(true);
    QWidget::hideEvent(event);
}

// MARK: Tear-off region

VornTearOffDragRegion::VornTearOffDragRegion(std::function<void(bool)> onTearOffStateChanged,
                                             std::function<void(QPointF)> onTearOffDropped, QWidget* parent)
    : QWidget(parent), onTearOffStateChanged_(std::move(onTearOffStateChanged)),
      onTearOffDropped_(std::move(onTearOffDropped)) {
    setCursor(Qt::OpenHandCursor);
    setAttribute(Qt::WA_Hover);
}

VornTearOffDragRegion::~VornTearOffDragRegion() {
    if (pushedCursor_) {
        QGuiApplication::restoreOverrideCursor();
    }
}

void VornTearOffDragRegion::setCallbacks(std::function<void(bool)> onTearOffStateChanged,
                                         std::function<void(QPointF)> onTearOffDropped) {
    onTearOffStateChanged_ = std::move(onTearOffStateChanged);
    onTearOffDropped_ = std::move(onTearOffDropped);
}

void VornTearOffDragRegion::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    isTracking_ = true;
    isOutsideHost_ = false;
    startScreenPoint_ = event->globalPosition();
    event->accept();
}

void VornTearOffDragRegion::mouseMoveEvent(QMouseEvent* event) {
    QWidget* host = window();
    if (!isTracking_ || !host) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPointF location = event->globalPosition();
    if (distance(location - startScreenPoint_) < armDistance && !pushedCursor_) {
        return;
    }
    if (!pushedCursor_) {
        QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
        pushedCursor_ = true;
    }
    const QRectF hostFrame = QRectF(host->frameGeometry()).adjusted(-hostMargin, -hostMargin, hostMargin, hostMargin);
    const bool outside = !hostFrame.contains(location);
    if (outside != isOutsideHost_) {
        // Linux desktops offer no haptic feedback to play here.
        isOutsideHost_ = outside;
        if (onTearOffStateChanged_) onTearOffStateChanged_(outside);
    }
}

void VornTearOffDragRegion::mouseReleaseEvent(QMouseEvent* event) {
    if (!isTracking_ || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const bool endedOutside = isOutsideHost_;
    const QPointF location = event->globalPosition();
    cleanUp();
    if (endedOutside && onTearOffDropped_) {
        onTearOffDropped_(location);
    }
}

void VornTearOffDragRegion::cleanUp() {
    isTracking_ = false;
    if (isOutsideHost_) {
        isOutsideHost_ = false;
        if (onTearOffStateChanged_) onTearOffStateChanged_(false);
    }
    if (pushedCursor_) {
        QGuiApplication::restoreOverrideCursor();
        pushedCursor_ = false;
    }
}
