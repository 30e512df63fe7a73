#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string_view>

class QHBoxLayout;
class QMainWindow;

// A window whose own content runs up to its top edge and draws its header bar (or a full-height
// sidebar) where a titlebar would be, beside the window's three standard buttons.
//   unifiedHeader: a header bar across the top; the titlebar band is the tall one (52 points).
//   fullHeightSidebar: a sidebar runs the full height; the band is the short one.
enum class VornUnifiedTitlebarMode { unifiedHeader, fullHeightSidebar };

// Where header and sidebar content must stay clear of the standard buttons, in points from the
// window's top-leading corner.
struct VornUnifiedTitlebarMetrics {
    double leadingClearance = 93;
    double trafficLightCenterY = 26;
    double trafficLightBottomY = 33;
    double sidebarTopClearance = 37;
    bool isFullScreen = false;

    static constexpr double standardHeight = 52;
    static constexpr double fallbackLeadingClearance = 93;
    static constexpr double fullscreenLeadingMargin = 16;
    static constexpr double trafficLightGap = 14;
    static constexpr double sidebarTrafficLightVerticalGap = 14;
    static constexpr double fallbackCenterY = 26;
    static constexpr double fallbackBottomY = 23;

    // What views see before any window was measured.
    static VornUnifiedTitlebarMetrics defaultMetrics() { return {}; }
    // The metrics for buttons whose trailing edge, centre and bottom are given (zero or less for
    // "not measured": each then falls back on its own).
    static VornUnifiedTitlebarMetrics calculate(double trafficLightMaxX, double trafficLightCenterY,
                                                double trafficLightBottomY, bool isFullScreen,
                                                double fullscreenLeading = fullscreenLeadingMargin,
                                                double gap = trafficLightGap,
                                                double sidebarVerticalGap = sidebarTrafficLightVerticalGap);

    friend bool operator==(const VornUnifiedTitlebarMetrics&, const VornUnifiedTitlebarMetrics&) = default;
};

// What the kit needs of a window. One implementation exists (VornFramelessWindowAdapter); the
// logic above it never touches the window directly.
class VornTitlebarWindowAdapter {
public:
    enum class StandardButton { close, minimize, zoom };
    virtual ~VornTitlebarWindowAdapter() = default;

    virtual bool isFullScreen() const = 0;
    // The button's frame in window coordinates (top-left origin), or nothing when the window has
    // no such button, it is hidden or it is not placed in the window.
    virtual std::optional<QRectF> standardButtonFrame(StandardButton button) const = 0;

    virtual bool hasFullSizeContent() const = 0;
    // Content up to the top edge, no title, a transparent titlebar without a separator.
    virtual void applyFullSizeContent() = 0;
    // The identifier of the window's toolbar, when it has one.
    virtual std::optional<QString> toolbarIdentifier() const = 0;
    virtual void removeToolbar() = 0;
    // An empty toolbar (icons only, not customisable, no saved configuration) under `identifier`,
    // in place of whatever toolbar the window had.
    virtual void installEmptyToolbar(const QString& identifier) = 0;
    virtual void setUnifiedToolbarStyle() = 0;

    virtual void miniaturize() = 0;
    virtual void zoom() = 0;
    // Hands the window to the window manager for moving with the pointer; false when the platform
    // cannot (the caller then moves it itself).
    virtual bool beginDrag() = 0;
};

// The kit's toolbar identifier.
inline constexpr std::string_view vornUnifiedTitlebarToolbarIdentifier = "com.vornworks.unifiedTitlebar";

// Prepares the window for `mode` (see the modes above). Configuring twice keeps the kit's toolbar.
void vornConfigureUnifiedTitlebar(VornTitlebarWindowAdapter& window, VornUnifiedTitlebarMode mode);
// The metrics measured from the window's standard buttons.
VornUnifiedTitlebarMetrics vornMeasureTitlebarMetrics(const VornTitlebarWindowAdapter& window,
                                                      double fullscreenLeading = VornUnifiedTitlebarMetrics::fullscreenLeadingMargin,
                                                      double gap = VornUnifiedTitlebarMetrics::trafficLightGap);

// The window's three standard buttons, drawn by the kit: close, minimise and zoom as small
// coloured discs (their symbols show while the pointer is over them).
class VornWindowControls : public QWidget {
public:
    explicit VornWindowControls(QWidget* parent = nullptr);
    QAbstractButton* button(VornTitlebarWindowAdapter::StandardButton which) const;

    static constexpr int buttonSide = 14;
    static constexpr int buttonSpacing = 6;
    static constexpr int leadingInset = 16;

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;

private:
    std::array<QAbstractButton*, 3> buttons_{};
};

// The Qt window behind the adapter: a frameless window with VornWindowControls in its top-leading
// corner, dragged by the window manager (startSystemMove). A QMainWindow's toolbars are its
// toolbars (identified by object name); the kit's own is an empty hidden one that marks the tall
// band. Lives as a child of the window; one per window.
class VornFramelessWindowAdapter : public QObject, public VornTitlebarWindowAdapter {
    Q_OBJECT
public:
    // The window's adapter, made on first use.
    static VornFramelessWindowAdapter* of(QWidget* window);

    QWidget* window() const { return window_; }
    VornWindowControls* controls() const { return controls_; }

    bool isFullScreen() const override;
    std::optional<QRectF> standardButtonFrame(StandardButton button) const override;
    bool hasFullSizeContent() const override;
    void applyFullSizeContent() override;
    std::optional<QString> toolbarIdentifier() const override;
    void removeToolbar() override;
    void installEmptyToolbar(const QString& identifier) override;
    void setUnifiedToolbarStyle() override;
    void miniaturize() override;
    void zoom() override;
    bool beginDrag() override;

    bool hasUnifiedToolbarStyle() const { return unifiedStyle_; }
    // The height of the band the buttons are centred in.
    int titlebarBandHeight() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit VornFramelessWindowAdapter(QWidget* window);
    void placeControls();
    QMainWindow* mainWindow() const;
    QPointer<QWidget> window_;
    QPointer<VornWindowControls> controls_;
    bool kitToolbarWithoutMainWindow_ = false;
    bool unifiedStyle_ = false;
};

// Publishes a window's metrics to the views inside it. One per window, made by
// vornUnifiedTitlebarWindow(); views find it with of().
class VornTitlebarMetricsStore : public QObject {
    Q_OBJECT
public:
    explicit VornTitlebarMetricsStore(QObject* parent = nullptr);
    const VornUnifiedTitlebarMetrics& metrics() const { return metrics_; }
    // Stores and announces the metrics when they differ from the stored ones.
    void setMetrics(const VornUnifiedTitlebarMetrics& metrics);
    // The store of the window `widget` is in, if that window has one.
    static VornTitlebarMetricsStore* of(const QWidget* widget);
    // The metrics `widget` should follow: its window's, else the default record.
    static VornUnifiedTitlebarMetrics metricsFor(const QWidget* widget);

signals:
    void metricsChanged(const VornUnifiedTitlebarMetrics& metrics);

private:
    VornUnifiedTitlebarMetrics metrics_;
};

// Watches one window: configures it on attachment and reports its metrics whenever it is resized
// or enters or leaves full screen, never the same metrics twice in a row.
class VornTitlebarObserver : public QObject {
    Q_OBJECT
public:
    explicit VornTitlebarObserver(QObject* parent = nullptr);
    ~VornTitlebarObserver() override;

    VornUnifiedTitlebarMode mode = VornUnifiedTitlebarMode::unifiedHeader;
    double fullscreenLeading = VornUnifiedTitlebarMetrics::fullscreenLeadingMargin;
    double trafficLightGap = VornUnifiedTitlebarMetrics::trafficLightGap;
    std::function<void(const VornUnifiedTitlebarMetrics&)> onMetricsChange;

    // Starts watching `window` (nullptr stops); the same window again only reports.
    void attach(QWidget* window);
    void reportCurrentMetrics();
    QWidget* observedWindow() const { return observedWindow_; }
    const std::optional<VornUnifiedTitlebarMetrics>& lastReported() const { return lastReported_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clearObservers();
    void reportLater();
    QPointer<QWidget> observedWindow_;
    std::optional<VornUnifiedTitlebarMetrics> lastReported_;
};

// Makes `window` a unified-titlebar window in `mode` and returns the store that its views follow.
VornTitlebarMetricsStore* vornUnifiedTitlebarWindow(QWidget* window,
                                                   VornUnifiedTitlebarMode mode = VornUnifiedTitlebarMode::unifiedHeader,
                                                   double fullscreenLeading = VornUnifiedTitlebarMetrics::fullscreenLeadingMargin,
                                                   double trafficLightGap = VornUnifiedTitlebarMetrics::trafficLightGap);

// Pressing and moving on it moves the window; a double click acts as the user's preference says.
class VornWindowDragArea : public QWidget {
public:
    explicit VornWindowDragArea(QWidget* parent = nullptr);

    // The preference key (in the standard user defaults) and its values.
    static constexpr std::string_view doubleClickActionKey = "com.vornworks.titlebarDoubleClickAction";
    static constexpr std::string_view maximizeAction = "Maximize";
    static constexpr std::string_view minimizeAction = "Minimize";
    static constexpr std::string_view noAction = "None";

    // What the drag area (and a header bar's background) does with a press of `clickCount` clicks
    // on `widget`'s window: a double click acts at once, any other press moves the window once the
    // pointer moves. Returns whether it took the press.
    static bool handlePress(QWidget* widget, QMouseEvent* event, int clickCount);
    // The motion and the release that follow such a press.
    static void handleMove(QMouseEvent* event);
    static void handleRelease();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A header bar: its content starts past the standard buttons and follows them; its background
// drags the window like a titlebar. Put it at the top of a unified-header window.
class VornUnifiedHeaderBar : public QWidget {
public:
    explicit VornUnifiedHeaderBar(double minHeight = VornUnifiedTitlebarMetrics::standardHeight,
                                  double trailingPadding = 12, double verticalPadding = 8,
                                  QColor backgroundColor = Qt::transparent, QWidget* parent = nullptr);

    QHBoxLayout* contentLayout() const { return layout_; }
    double leadingPadding() const { return leadingPadding_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void follow(const VornUnifiedTitlebarMetrics& metrics);
    QHBoxLayout* layout_;
    double trailingPadding_;
    double verticalPadding_;
    QColor backgroundColor_;
    double leadingPadding_ = 0;
    QPointer<VornTitlebarMetricsStore> store_;
};

// Keeps the top of `sidebar` clear of the standard buttons: its top margin is `extraTop` plus the
// window's sidebar clearance, following every change.
void vornSidebarTitlebarClearance(QWidget* sidebar, double extraTop = 0);
