#include "VornUnifiedTitlebar.h"

#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornSymbol.h"
#include "VornUserDefaults.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <cmath>

namespace {

const QString& kitToolbarIdentifier() {
    static const QString identifier = QString::fromUtf8(vornUnifiedTitlebarToolbarIdentifier.data(),
                                                        qsizetype(vornUnifiedTitlebarToolbarIdentifier.size()));
    return identifier;
}

const char* const adapterName = "com.vornworks.titlebarAdapter";
const char* const storeName = "com.vornworks.titlebarMetrics";
const char* const observerName = "com.vornworks.titlebarObserver";

// The band the buttons sit in: the tall one under a unified toolbar, else the short one.
constexpr int tallBand = 52;
constexpr int shortBand = 28;

// One of the three discs. Its symbol shows while the pointer is over the group.
class ControlButton : public QAbstractButton {
public:
    ControlButton(VornTitlebarWindowAdapter::StandardButton kind, QWidget* parent) : QAbstractButton(parent), kind_(kind) {
        setFixedSize(VornWindowControls::buttonSide, VornWindowControls::buttonSide);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
    }
    bool showsSymbol = false;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        QColor fill;
        std::string_view symbol;
        switch (kind_) {
        case VornTitlebarWindowAdapter::StandardButton::close:
            fill = VornGlassTokens::danger();
            symbol = "xmark";
            break;
        case VornTitlebarWindowAdapter::StandardButton::minimize:
            fill = VornGlassTokens::warning();
            symbol = "minus";
            break;
        case VornTitlebarWindowAdapter::StandardButton::zoom:
            fill = VornGlassTokens::success();
            symbol = "arrow.up.left.and.arrow.down.right";
            break;
        }
        if (isDown()) fill = fill.darker(125);
        const QRectF disc = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(VornGlassTokens::borderSubtle(), 1));
        painter.setBrush(fill);
        painter.drawEllipse(disc);
        if (showsSymbol) {
            const double inset = 3;
            QColor ink(0, 0, 0);
            ink.setAlphaF(0.55f);
            VornSymbol::paint(painter, disc.adjusted(inset, inset, -inset, -inset), symbol, ink);
        }
    }

private:
    VornTitlebarWindowAdapter::StandardButton kind_;
};

// A press on a drag area becomes a window move once the pointer moves with the button held: the
// window manager takes the window over from there (startSystemMove), or, where the platform cannot
// (offscreen, or a window manager that refuses), our own tracking moves it. Handing the window over
// at the press itself would swallow the second click of a double click under X11.
struct PendingMove {
    QPointer<QWidget> window;
    QPointF pressGlobal;
    QPoint origin;
    bool moving = false;
};
PendingMove& pendingMove() {
    static PendingMove move;
    return move;
}

void beginPendingMove(QWidget* window, const QPointF& pressGlobal) { pendingMove() = {window, pressGlobal, window->pos(), false}; }

void continueMove(QMouseEvent* event) {
    PendingMove& move = pendingMove();
    if (!move.window || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    // The window catches up with the pointer first, so the part of the move made before the
    // window manager took over is not lost.
    const QPointF delta = event->globalPosition() - move.pressGlobal;
    move.window->move(move.origin + delta.toPoint());
    if (!move.moving) {
        move.moving = true;
        if (VornFramelessWindowAdapter::of(move.window)->beginDrag()) {
            move.window = nullptr;
        }
    }
}

void endMove() { pendingMove().window = nullptr; }

}  // namespace

// MARK: Metrics

VornUnifiedTitlebarMetrics VornUnifiedTitlebarMetrics::calculate(double trafficLightMaxX, double trafficLightCenterY,
                                                                 double trafficLightBottomY, bool isFullScreen,
                                                                 double fullscreenLeading, double gap,
                                                                 double sidebarVerticalGap) {
    if (isFullScreen) {
        return {fullscreenLeading, fallbackCenterY, 0, fullscreenLeading, true};
    }
    VornUnifiedTitlebarMetrics metrics;
    metrics.leadingClearance = trafficLightMaxX > 0 ? std::ceil(trafficLightMaxX + gap) : fallbackLeadingClearance;
    metrics.trafficLightCenterY = trafficLightCenterY > 0 ? trafficLightCenterY : fallbackCenterY;
    metrics.trafficLightBottomY = trafficLightBottomY > 0 ? trafficLightBottomY : fallbackBottomY;
    metrics.sidebarTopClearance = std::ceil(metrics.trafficLightBottomY + sidebarVerticalGap);
    metrics.isFullScreen = false;
    return metrics;
}

void vornConfigureUnifiedTitlebar(VornTitlebarWindowAdapter& window, VornUnifiedTitlebarMode mode) {
    if (!window.hasFullSizeContent()) {
        window.applyFullSizeContent();
    }
    const std::optional<QString> toolbar = window.toolbarIdentifier();
    const bool hasKitToolbar = toolbar && *toolbar == kitToolbarIdentifier();
    if (mode == VornUnifiedTitlebarMode::fullHeightSidebar) {
        // Only the kit's own toolbar goes; an application's stays.
        if (hasKitToolbar) {
            window.removeToolbar();
        }
        return;
    }
    if (!hasKitToolbar) {
        window.installEmptyToolbar(kitToolbarIdentifier());
    }
    window.setUnifiedToolbarStyle();
}

VornUnifiedTitlebarMetrics vornMeasureTitlebarMetrics(const VornTitlebarWindowAdapter& window, double fullscreenLeading,
                                                      double gap) {
    if (window.isFullScreen()) {
        return {fullscreenLeading, VornUnifiedTitlebarMetrics::fallbackCenterY, 0, fullscreenLeading, true};
    }
    double maxX = 0, bottom = 0, center = 0;
    for (const auto which : {VornTitlebarWindowAdapter::StandardButton::close,
                             VornTitlebarWindowAdapter::StandardButton::minimize,
                             VornTitlebarWindowAdapter::StandardButton::zoom}) {
        const std::optional<QRectF> frame = window.standardButtonFrame(which);
        if (!frame || frame->width() <= 0 || frame->height() <= 0) {
            continue;
        }
        maxX = std::max(maxX, frame->right());
        bottom = std::max(bottom, frame->bottom());
        // The last button measured decides the centre line.
        center = (frame->top() + frame->bottom()) / 2;
    }
    return VornUnifiedTitlebarMetrics::calculate(maxX, center, bottom, false, fullscreenLeading, gap,
                                                 VornUnifiedTitlebarMetrics::sidebarTrafficLightVerticalGap);
}

// MARK: Window controls

VornWindowControls::VornWindowControls(QWidget* parent) : QWidget(parent) {
    using Kind = VornTitlebarWindowAdapter::StandardButton;
    setAttribute(Qt::WA_Hover);
    const Kind kinds[] = {Kind::close, Kind::minimize, Kind::zoom};
    for (int index = 0; index < 3; ++index) {
        auto* button = new ControlButton(kinds[index], this);
        button->move(index * (buttonSide + buttonSpacing), 0);
        buttons_[std::size_t(index)] = button;
    }
    const VornLanguage language = VornLanguage::current();
    buttons_[0]->setAccessibleName(vornQText("Close", "Kapat", language));
    buttons_[1]->setAccessibleName(vornQText("Minimize", "Küçült", language));
    buttons_[2]->setAccessibleName(vornQText("Zoom", "Büyüt", language));
    connect(buttons_[0], &QAbstractButton::clicked, this, [this] {
        if (QWidget* host = window()) host->close();
    });
    connect(buttons_[1], &QAbstractButton::clicked, this, [this] { VornFramelessWindowAdapter::of(window())->miniaturize(); });
    connect(buttons_[2], &QAbstractButton::clicked, this, [this] { VornFramelessWindowAdapter::of(window())->zoom(); });
    resize(sizeHint());
}

QAbstractButton* VornWindowControls::button(VornTitlebarWindowAdapter::StandardButton which) const {
    return buttons_[std::size_t(which)];
}

QSize VornWindowControls::sizeHint() const { return {3 * buttonSide + 2 * buttonSpacing, buttonSide}; }

bool VornWindowControls::event(QEvent* event) {
    if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave) {
        const bool show = event->type() == QEvent::HoverEnter;
        for (QAbstractButton* button : buttons_) {
            static_cast<ControlButton*>(button)->showsSymbol = show;
            button->update();
        }
    }
    return QWidget::event(event);
}

// MARK: Frameless window adapter

VornFramelessWindowAdapter* VornFramelessWindowAdapter::of(QWidget* window) {
    if (!window) {
        return nullptr;
    }
    window = window->window();
    if (auto* found = window->findChild<VornFramelessWindowAdapter*>(QLatin1String(adapterName), Qt::FindDirectChildrenOnly)) {
        return found;
    }
    return new VornFramelessWindowAdapter(window);
}

VornFramelessWindowAdapter::VornFramelessWindowAdapter(QWidget* window) : QObject(window), window_(window) {
    setObjectName(QLatin1String(adapterName));
    window->installEventFilter(this);
}

QMainWindow* VornFramelessWindowAdapter::mainWindow() const { return qobject_cast<QMainWindow*>(window_.data()); }

bool VornFramelessWindowAdapter::isFullScreen() const { return window_ && window_->isFullScreen(); }

std::optional<QRectF> VornFramelessWindowAdapter::standardButtonFrame(StandardButton which) const {
    if (!window_ || !controls_ || controls_->isHidden()) {
        return std::nullopt;
    }
    QAbstractButton* button = controls_->button(which);
    if (!button || button->isHidden() || !button->parentWidget()) {
        return std::nullopt;
    }
    return QRectF(QPointF(button->mapTo(window_.data(), QPoint(0, 0))), QSizeF(button->size()));
}

bool VornFramelessWindowAdapter::hasFullSizeContent() const {
    return window_ && window_->windowFlags().testFlag(Qt::FramelessWindowHint) && controls_;
}

void VornFramelessWindowAdapter::applyFullSizeContent() {
    if (!window_) return;
    if (!window_->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        // Changing the flags of a shown window takes it off the screen; it comes back as it was.
        const bool wasVisible = window_->isVisible();
        window_->setWindowFlag(Qt::FramelessWindowHint, true);
        if (wasVisible) window_->show();
    }
    if (!controls_) {
        controls_ = new VornWindowControls(window_);
        controls_->show();
    }
    placeControls();
}

int VornFramelessWindowAdapter::titlebarBandHeight() const {
    const std::optional<QString> toolbar = toolbarIdentifier();
    return toolbar && *toolbar == kitToolbarIdentifier() ? tallBand : shortBand;
}

void VornFramelessWindowAdapter::placeControls() {
    if (!controls_ || !window_) return;
    // Full screen has no titlebar to show the buttons in.
    controls_->setVisible(!window_->isFullScreen());
    const int band = titlebarBandHeight();
    controls_->resize(controls_->sizeHint());
    controls_->move(VornWindowControls::leadingInset, (band - VornWindowControls::buttonSide) / 2);
    controls_->raise();
}

std::optional<QString> VornFramelessWindowAdapter::toolbarIdentifier() const {
    if (QMainWindow* main = mainWindow()) {
        for (QToolBar* toolbar : main->findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (main->toolBarArea(toolbar) != Qt::NoToolBarArea) {
                return toolbar->objectName();
            }
        }
        return std::nullopt;
    }
    return kitToolbarWithoutMainWindow_ ? std::optional<QString>(kitToolbarIdentifier()) : std::nullopt;
}

void VornFramelessWindowAdapter::removeToolbar() {
    if (QMainWindow* main = mainWindow()) {
        for (QToolBar* toolbar : main->findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (main->toolBarArea(toolbar) == Qt::NoToolBarArea) continue;
            main->removeToolBar(toolbar);
            if (toolbar->objectName() == kitToolbarIdentifier()) toolbar->deleteLater();
            break;
        }
    }
    kitToolbarWithoutMainWindow_ = false;
    placeControls();
}

void VornFramelessWindowAdapter::installEmptyToolbar(const QString& identifier) {
    if (QMainWindow* main = mainWindow()) {
        // Whatever toolbars the window had give way (they stay the application's objects).
        for (QToolBar* toolbar : main->findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (main->toolBarArea(toolbar) != Qt::NoToolBarArea) main->removeToolBar(toolbar);
        }
        auto* toolbar = new QToolBar(main);
        toolbar->setObjectName(identifier);
        toolbar->setMovable(false);
        toolbar->setFloatable(false);
        toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        toolbar->toggleViewAction()->setVisible(false);
        main->addToolBar(toolbar);
        // It only makes the band tall; the application's header bar draws the band.
        toolbar->hide();
    } else {
        kitToolbarWithoutMainWindow_ = identifier == kitToolbarIdentifier();
    }
    placeControls();
}

void VornFramelessWindowAdapter::setUnifiedToolbarStyle() {
    unifiedStyle_ = true;
    if (QMainWindow* main = mainWindow()) main->setUnifiedTitleAndToolBarOnMac(true);
}

void VornFramelessWindowAdapter::miniaturize() {
    if (window_) window_->showMinimized();
}

void VornFramelessWindowAdapter::zoom() {
    if (!window_) return;
    if (window_->isMaximized()) {
        window_->showNormal();
    } else {
        window_->showMaximized();
    }
}

bool VornFramelessWindowAdapter::beginDrag() {
    QWindow* handle = window_ ? window_->windowHandle() : nullptr;
    return handle && handle->startSystemMove();
}

bool VornFramelessWindowAdapter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && (event->type() == QEvent::Resize || event->type() == QEvent::WindowStateChange ||
                               event->type() == QEvent::Show)) {
        placeControls();
    }
    return QObject::eventFilter(watched, event);
}

// MARK: Store and observer

VornTitlebarMetricsStore::VornTitlebarMetricsStore(QObject* parent) : QObject(parent) {
    setObjectName(QLatin1String(storeName));
}

void VornTitlebarMetricsStore::setMetrics(const VornUnifiedTitlebarMetrics& metrics) {
    if (metrics == metrics_) return;
    metrics_ = metrics;
    emit metricsChanged(metrics_);
}

VornTitlebarMetricsStore* VornTitlebarMetricsStore::of(const QWidget* widget) {
    const QWidget* window = widget ? widget->window() : nullptr;
    return window ? window->findChild<VornTitlebarMetricsStore*>(QLatin1String(storeName), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

VornUnifiedTitlebarMetrics VornTitlebarMetricsStore::metricsFor(const QWidget* widget) {
    const VornTitlebarMetricsStore* store = of(widget);
    return store ? store->metrics() : VornUnifiedTitlebarMetrics::defaultMetrics();
}

VornTitlebarObserver::VornTitlebarObserver(QObject* parent) : QObject(parent) {}

VornTitlebarObserver::~VornTitlebarObserver() { clearObservers(); }

void VornTitlebarObserver::attach(QWidget* window) {
    if (observedWindow_) {
        if (!window) {
            clearObservers();
            observedWindow_ = nullptr;
            return;
        }
        if (window == observedWindow_) {
            reportCurrentMetrics();
            return;
        }
    } else if (!window) {
        reportCurrentMetrics();
        return;
    }
    clearObservers();
    observedWindow_ = window;
    vornConfigureUnifiedTitlebar(*VornFramelessWindowAdapter::of(window), mode);
    window->installEventFilter(this);
    reportCurrentMetrics();
    // Once more when the window has settled (its first layout and show are still to come).
    reportLater();
}

void VornTitlebarObserver::clearObservers() {
    if (observedWindow_) {
        observedWindow_->removeEventFilter(this);
    }
}

void VornTitlebarObserver::reportLater() {
    // The context object makes a late report of a destroyed observer a no-op.
    QTimer::singleShot(0, this, [this] { reportCurrentMetrics(); });
}

void VornTitlebarObserver::reportCurrentMetrics() {
    if (!observedWindow_) return;
    const VornUnifiedTitlebarMetrics metrics =
        vornMeasureTitlebarMetrics(*VornFramelessWindowAdapter::of(observedWindow_), fullscreenLeading, trafficLightGap);
    if (lastReported_ && *lastReported_ == metrics) return;
    lastReported_ = metrics;
    if (onMetricsChange) onMetricsChange(metrics);
}

bool VornTitlebarObserver::eventFilter(QObject* watched, QEvent* event) {
    if (watched == observedWindow_ && (event->type() == QEvent::Resize || event->type() == QEvent::WindowStateChange)) {
        // After the window has placed its buttons for the new state.
        reportLater();
    }
    return QObject::eventFilter(watched, event);
}

VornTitlebarMetricsStore* vornUnifiedTitlebarWindow(QWidget* window, VornUnifiedTitlebarMode mode,
                                                   double fullscreenLeading, double trafficLightGap) {
    if (!window) return nullptr;
    window = window->window();
    auto* store = window->findChild<VornTitlebarMetricsStore*>(QLatin1String(storeName), Qt::FindDirectChildrenOnly);
    if (!store) store = new VornTitlebarMetricsStore(window);
    auto* observer = window->findChild<VornTitlebarObserver*>(QLatin1String(observerName), Qt::FindDirectChildrenOnly);
    const bool fresh = !observer;
    if (fresh) {
        observer = new VornTitlebarObserver(window);
        observer->setObjectName(QLatin1String(observerName));
    }
    observer->mode = mode;
    observer->fullscreenLeading = fullscreenLeading;
    observer->trafficLightGap = trafficLightGap;
    QPointer<VornTitlebarMetricsStore> target(store);
    observer->onMetricsChange = [target](const VornUnifiedTitlebarMetrics& metrics) {
        if (target) target->setMetrics(metrics);
    };
    if (!fresh) {
        // A changed mode reconfigures the window it watches.
        vornConfigureUnifiedTitlebar(*VornFramelessWindowAdapter::of(window), mode);
    }
    observer->attach(window);
    return store;
}

// MARK: Drag area

bool VornWindowDragArea::handlePress(QWidget* widget, QMouseEvent* event, int clickCount) {
    QWidget* window = widget ? widget->window() : nullptr;
    if (!window || event->button() != Qt::LeftButton) {
        return false;
    }
    VornFramelessWindowAdapter* adapter = VornFramelessWindowAdapter::of(window);
    if (clickCount == 2) {
        endMove();
        const std::string action =
            VornUserDefaults::standard().string(doubleClickActionKey).value_or(std::string(maximizeAction));
        if (action == minimizeAction) {
            adapter->miniaturize();
        } else if (action != noAction) {
            adapter->zoom();
        }
        return true;
    }
    beginPendingMove(window, event->globalPosition());
    return true;
}

void VornWindowDragArea::handleMove(QMouseEvent* event) { continueMove(event); }

void VornWindowDragArea::handleRelease() { endMove(); }

VornWindowDragArea::VornWindowDragArea(QWidget* parent) : QWidget(parent) {}

void VornWindowDragArea::mousePressEvent(QMouseEvent* event) {
    if (!handlePress(this, event, 1)) QWidget::mousePressEvent(event);
}

void VornWindowDragArea::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!handlePress(this, event, 2)) QWidget::mouseDoubleClickEvent(event);
}

void VornWindowDragArea::mouseMoveEvent(QMouseEvent* event) { continueMove(event); }

void VornWindowDragArea::mouseReleaseEvent(QMouseEvent* event) {
    endMove();
    QWidget::mouseReleaseEvent(event);
}

// MARK: Header bar and sidebar

VornUnifiedHeaderBar::VornUnifiedHeaderBar(double minHeight, double trailingPadding, double verticalPadding,
                                           QColor backgroundColor, QWidget* parent)
    : QWidget(parent), trailingPadding_(trailingPadding), verticalPadding_(verticalPadding),
      backgroundColor_(std::move(backgroundColor)) {
    layout_ = new QHBoxLayout(this);
    layout_->setSpacing(10);
    setMinimumHeight(int(std::ceil(minHeight)));
    follow(VornUnifiedTitlebarMetrics::defaultMetrics());
}

void VornUnifiedHeaderBar::follow(const VornUnifiedTitlebarMetrics& metrics) {
    leadingPadding_ = metrics.leadingClearance;
    // The buttons sit at the window's left edge whatever the language's direction.
    const int leading = int(std::ceil(leadingPadding_));
    const int trailing = int(std::ceil(trailingPadding_));
    const int vertical = int(std::ceil(verticalPadding_));
    if (layoutDirection() == Qt::RightToLeft) {
        layout_->setContentsMargins(trailing, vertical, leading, vertical);
    } else {
        layout_->setContentsMargins(leading, vertical, trailing, vertical);
    }
}

void VornUnifiedHeaderBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    VornTitlebarMetricsStore* store = VornTitlebarMetricsStore::of(this);
    if (store != store_) {
        if (store_) disconnect(store_, nullptr, this, nullptr);
        store_ = store;
        if (store) {
            connect(store, &VornTitlebarMetricsStore::metricsChanged, this,
                    [this](const VornUnifiedTitlebarMetrics& metrics) { follow(metrics); });
        }
    }
    follow(VornTitlebarMetricsStore::metricsFor(this));
    // Above the content that runs up beside it.
    raise();
}

void VornUnifiedHeaderBar::paintEvent(QPaintEvent*) {
    if (backgroundColor_.alpha() == 0) return;
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor_);
}

void VornUnifiedHeaderBar::mousePressEvent(QMouseEvent* event) {
    if (!VornWindowDragArea::handlePress(this, event, 1)) QWidget::mousePressEvent(event);
}

void VornUnifiedHeaderBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!VornWindowDragArea::handlePress(this, event, 2)) QWidget::mouseDoubleClickEvent(event);
}

void VornUnifiedHeaderBar::mouseMoveEvent(QMouseEvent* event) { continueMove(event); }

void VornUnifiedHeaderBar::mouseReleaseEvent(QMouseEvent* event) {
    endMove();
    QWidget::mouseReleaseEvent(event);
}

namespace {

// Keeps a sidebar's top margin at its extra room plus its window's clearance.
class SidebarClearance : public QObject {
public:
    static constexpr const char* name = "com.vornworks.sidebarClearance";
    SidebarClearance(QWidget* sidebar, double extraTop) : QObject(sidebar), sidebar_(sidebar), extraTop_(extraTop) {
        setObjectName(QLatin1String(name));
        sidebar->installEventFilter(this);
        apply();
    }
    void setExtraTop(double extraTop) {
        extraTop_ = extraTop;
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == sidebar_ && (event->type() == QEvent::Show || event->type() == QEvent::ParentChange)) {
            connectStore();
            apply();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void connectStore() {
        VornTitlebarMetricsStore* store = VornTitlebarMetricsStore::of(sidebar_);
        if (store == store_) return;
        if (store_) disconnect(store_, nullptr, this, nullptr);
        store_ = store;
        if (store) connect(store, &VornTitlebarMetricsStore::metricsChanged, this, [this] { apply(); });
    }
    void apply() {
        const QMargins margins = sidebar_->contentsMargins();
        const int top = int(std::ceil(extraTop_ + VornTitlebarMetricsStore::metricsFor(sidebar_).sidebarTopClearance));
        sidebar_->setContentsMargins(margins.left(), top, margins.right(), margins.bottom());
    }
    QWidget* sidebar_;
    double extraTop_;
    QPointer<VornTitlebarMetricsStore> store_;
};

}  // namespace

void vornSidebarTitlebarClearance(QWidget* sidebar, double extraTop) {
    if (!sidebar) return;
    if (QObject* existing = sidebar->findChild<QObject*>(QLatin1String(SidebarClearance::name), Qt::FindDirectChildrenOnly)) {
        static_cast<SidebarClearance*>(existing)->setExtraTop(extraTop);
        return;
    }
    new SidebarClearance(sidebar, extraTop);
}
