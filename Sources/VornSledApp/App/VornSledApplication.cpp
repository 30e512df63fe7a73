#include "VornSledApplication.h"

#include "MenuBarSledView.h"
#include "SFTPStorageProvider.h"
#include "SledMainWindow.h"
#include "VornAppActivationDelegate.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"
#include "VornSledSingleInstance.h"

#include <QAction>
#include <QCursor>
#include <QScreen>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>

std::vector<std::filesystem::path> SledDialogFileChooser::chooseFiles(const std::string& title) {
    const QStringList chosen = QFileDialog::getOpenFileNames(QApplication::activeWindow(), QString::fromStdString(title));
    std::vector<std::filesystem::path> files;
    for (const QString& file : chosen) {
        const QByteArray bytes = QFile::encodeName(file);
        files.emplace_back(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    return files;
}

bool SledDialogConfirmation::confirm(const std::string& title, const std::string& message) {
    return QMessageBox::question(QApplication::activeWindow(), QString::fromStdString(title),
                                 QString::fromStdString(message)) == QMessageBox::Yes;
}

VornSledApplication::VornSledApplication(SledModelEnvironment environment, QObject* parent) : QObject(parent) {
    if (!environment.fileChooser) {
        environment.fileChooser = std::make_shared<SledDialogFileChooser>();
    }
    if (!environment.confirmation) {
        environment.confirmation = std::make_shared<SledDialogConfirmation>();
    }
    model_ = std::make_unique<SledViewModel>(std::move(environment));
    window_ = new SledMainWindow(*model_);
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    setUpTray();
    activation_ = std::make_unique<VornAppActivationDelegate>();
    // A reopen that finds no window shown asks for the main window back.
    reopenObserver_ = VornNotificationCenter::defaultCenter().addObserver(
        std::string(vornReopenStudioWindow), [this](const VornNotification&) { showMainWindow(); });
}

VornSledApplication::~VornSledApplication() {
    VornNotificationCenter::defaultCenter().removeObserver(reopenObserver_);
    delete trayPanel_;
    delete window_;
    // The model's work ends first, then the shared SSH connections it rode on: left to their idle
    // time they would stay logged in after the program, their control sockets already gone with
    // its temporary folder, so nothing could close them.
    model_.reset();
    SFTPStorageProvider::closeSharedConnections();
}

bool VornSledApplication::start(VornSledSingleInstance& instance, const std::vector<std::filesystem::path>& files) {
    const bool listening = instance.listen([this](const std::vector<std::filesystem::path>& forwarded) {
        SledMainWindow::openFiles(*model_, forwarded);
        activation_->applicationShouldHandleReopen(window_->isVisible());
    });
    window_->show();
    open(files);
    activation_->applicationDidFinishLaunching();
    return listening;
}

void VornSledApplication::open(const std::vector<std::filesystem::path>& files) {
    SledMainWindow::openFiles(*model_, files);
    showMainWindow();
}

void VornSledApplication::showMainWindow() {
    window_->present();
}

void VornSledApplication::setUpTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Nothing could show a hidden window again, so closing it quits.
        window_->setHidesOnClose(false);
        return;
    }
    tray_ = new QSystemTrayIcon(window_->windowIcon(), this);
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->addAction(QString(), this, [this] { showMainWindow(); });
    trayMenu_->addSeparator();
    trayMenu_->addAction(QString(), qApp, &QCoreApplication::quit);
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            showTrayPanel();
        }
    });
    connect(model_.get(), &SledViewModel::languageChanged, this, &VornSledApplication::retranslateTray);
    retranslateTray();
    tray_->show();
    window_->setHidesOnClose(true);
    QApplication::setQuitOnLastWindowClosed(false);
}

void VornSledApplication::retranslateTray() {
    const VornLanguage language = model_->language();
    const QList<QAction*> actions = trayMenu_->actions();
    actions.front()->setText(vornEscapeMnemonic(vornQText("Open VornSled Studio", "VornSled Penceresini Aç", language)));
    actions.back()->setText(vornEscapeMnemonic(vornQText("Quit VornSled", "VornSled'den Çık", language)));
    tray_->setToolTip(QStringLiteral("VornSled"));
}

void VornSledApplication::showTrayPanel() {
    if (!trayPanel_) {
        auto* panel = new MenuBarSledView(*model_, [this] { showMainWindow(); });
        panel->setWindowFlags(Qt::Popup);
        trayPanel_ = panel;
    }
    trayPanel_->adjustSize();
    // Under the tray icon where the desktop says where it is, else at the pointer.
    const QRect icon = tray_->geometry();
    QPoint at = icon.isValid() ? icon.bottomLeft() : QCursor::pos();
    if (const QScreen* screen = QGuiApplication::screenAt(at)) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), area.right() - trayPanel_->width()));
        if (at.y() + trayPanel_->height() > area.bottom()) {
            at.setY((icon.isValid() ? icon.top() : at.y()) - trayPanel_->height());
        }
    }
    trayPanel_->move(at);
    trayPanel_->show();
}
