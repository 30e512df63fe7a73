#pragma once

#include "SledViewModel.h"
#include "VornNotificationCenter.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <vector>

class QMenu;
class QSystemTrayIcon;
class SledMainWindow;
class VornAppActivationDelegate;
class VornSledSingleInstance;

// File choosers and confirmations for the model, as modal dialogs over the main window.
class SledDialogFileChooser final : public SledFileChooser {
public:
    std::vector<std::filesystem::path> chooseFiles(const std::string& title) override;
};

class SledDialogConfirmation final : public SledConfirmation {
public:
    bool confirm(const std::string& title, const std::string& message) override;
};

// The running program: its one workspace model, the main window, the tray icon where the desktop
// offers one, and the single-instance socket that later launches forward their files to.
class VornSledApplication : public QObject {
public:
    explicit VornSledApplication(SledModelEnvironment environment = {}, QObject* parent = nullptr);
    ~VornSledApplication() override;

    SledViewModel& viewModel() { return *model_; }
    SledMainWindow* mainWindow() const { return window_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }

    // Listens for later launches and shows the window with the files of this launch; logs the
    // launch. A later launch is a reopen: its files go to the shelf, and the window comes to the
    // front, or back when it was closed to the tray. False when the single-instance socket could
    // not be made (the window still opens).
    bool start(VornSledSingleInstance& instance, const std::vector<std::filesystem::path>& files);
    // Files from this or a later launch: to the LAN shelf; the window comes to the front.
    void open(const std::vector<std::filesystem::path>& files);
    // Brings the main window back (the same window and state) and to the front.
    void showMainWindow();

private:
    void setUpTray();
    void retranslateTray();
    void showTrayPanel();

    std::unique_ptr<SledViewModel> model_;
    SledMainWindow* window_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
    QPointer<QWidget> trayPanel_;
    std::unique_ptr<VornAppActivationDelegate> activation_;
    VornObserverToken reopenObserver_;
};
