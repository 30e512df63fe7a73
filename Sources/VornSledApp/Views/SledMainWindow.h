#pragma once

#include "SledViewModel.h"
#include "VornLanguageControls.h"

#include <QMainWindow>
#include <QMargins>
#include <QRect>

#include <optional>

class MainSledWorkspaceView;
class QAction;
class QMenu;
class QScreen;

// The main window "main": the workspace view under a File menu whose titles follow the model's
// language at once. Closing it hides it when a tray icon can bring it back, and quits otherwise,
// so no invisible process keeps the LAN server open.
class SledMainWindow : public QMainWindow {
public:
    explicit SledMainWindow(SledViewModel& viewModel, QWidget* parent = nullptr);

    static constexpr QSize minimumWindowSize{1080, 680};
    static constexpr QSize defaultWindowSize{1260, 790};
    static QString windowTitleText() { return QString::fromUtf8("VornSled \u2014 by Vornworks"); }

    MainSledWorkspaceView* workspace() const { return workspace_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QMenu* languageMenu() const { return languageMenu_; }

    // Whether closing the window only hides it (a tray icon can show it again).
    void setHidesOnClose(bool hides) { hidesOnClose_ = hides; }
    bool hidesOnClose() const { return hidesOnClose_; }
    // Shows the window (again, if it was closed to the tray) and brings it to the front.
    void present();
    // Where the window opens in a screen's free area (`available`) whose window manager adds
    // `frame` around it: the default size or as much as the area holds, whichever is smaller,
    // but never below the minimum; centred, and with its top-left corner (title bar) inside the
    // area even where the minimum does not fit. The rectangle is the window's inside.
    static QRect openingGeometry(const QRect& available, const QMargins& frame = {});
    // Sizes and places the window on `screen` before it is first shown; once the window manager
    // has framed it, its frame is fitted into the screen as well.
    void placeOnScreen(const QScreen* screen);
    // Files opened with the program: to the LAN share shelf, on the LAN tab. An empty list does
    // nothing.
    static void openFiles(SledViewModel& viewModel, const std::vector<std::filesystem::path>& files);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildMenus();
    void retranslate();
    void rebuildLanguageMenu();

    SledViewModel& model_;
    // The free area placeOnScreen chose, until the window manager's frame has been fitted into it.
    // Made before the workspace, whose making already sends the window events.
    std::optional<QRect> fittingInto_;
    MainSledWorkspaceView* workspace_;
    QMenu* fileMenu_ = nullptr;
    QMenu* languageMenu_ = nullptr;
    QAction* newConnection_ = nullptr;
    QAction* refreshPanes_ = nullptr;
    QAction* syncPreview_ = nullptr;
    QAction* dualPaneTab_ = nullptr;
    QAction* lanTab_ = nullptr;
    QAction* transfersTab_ = nullptr;
    QAction* quit_ = nullptr;
    VornLanguageChoice languageChoice_;
    bool hidesOnClose_ = false;
};
