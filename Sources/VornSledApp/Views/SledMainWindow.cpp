#include "SledMainWindow.h"

#include "MainSledWorkspaceView.h"
#include "VornBrandMark.h"
#include "VornPainting.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

QIcon brandIcon() {
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        VornBrandMark::paintVectorMark(painter, QRectF(0, 0, side, side));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

SledMainWindow::SledMainWindow(SledViewModel& viewModel, QWidget* parent)
    : QMainWindow(parent), model_(viewModel), workspace_(new MainSledWorkspaceView(viewModel, this)) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(windowTitleText());
    setWindowIcon(brandIcon());
    setMinimumSize(minimumWindowSize);
    resize(defaultWindowSize);
    setCentralWidget(workspace_);
    // The window starts with the focus on its ground, so no control shows a keyboard focus ring
    // that would read as a selection until the user presses Tab.
    workspace_->setFocusPolicy(Qt::ClickFocus);
    workspace_->setFocus();
    buildMenus();
    connect(&model_, &SledViewModel::languageChanged, this, &SledMainWindow::retranslate);
    retranslate();
}

void SledMainWindow::buildMenus() {
    fileMenu_ = menuBar()->addMenu(QString());
    newConnection_ = fileMenu_->addAction(QString(), this, [this] { model_.openNewProfileSheet(); });
    newConnection_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    refreshPanes_ = fileMenu_->addAction(QString(), this, [this] { model_.refreshBothPanes(); });
    refreshPanes_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    syncPreview_ = fileMenu_->addAction(QString(), this, [this] { model_.openSyncPreview(); });
    syncPreview_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    fileMenu_->addSeparator();
    dualPaneTab_ = fileMenu_->addAction(QString(), this, [this] { model_.setActiveTab(SledWorkspaceTab::dualPane); });
    dualPaneTab_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    lanTab_ = fileMenu_->addAction(QString(), this, [this] { model_.setActiveTab(SledWorkspaceTab::lanAirDrop); });
    lanTab_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    transfersTab_ = fileMenu_->addAction(QString(), this, [this] { model_.setActiveTab(SledWorkspaceTab::transfers); });
    transfersTab_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_3));
    fileMenu_->addSeparator();
    languageMenu_ = fileMenu_->addMenu(QString());
    rebuildLanguageMenu();
    // Linux has no application menu: quitting lives in the File menu (and the tray).
    fileMenu_->addSeparator();
    quit_ = fileMenu_->addAction(QString(), qApp, &QCoreApplication::quit);
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setMenuRole(QAction::QuitRole);
}

void SledMainWindow::retranslate() {
    const VornLanguage language = model_.language();
    auto title = [language](const char* en, const char* tr) { return vornEscapeMnemonic(vornQText(en, tr, language)); };
    fileMenu_->setTitle(title("File", "Dosya"));
    newConnection_->setText(title("New SFTP / S3 / R2 Connection\u2026", "Yeni SFTP / S3 / R2 Bağlantısı\u2026"));
    refreshPanes_->setText(title("Refresh Both Panes", "Her İki Paneli Yenile"));
    syncPreview_->setText(title("Preview Dual-Pane Sync\u2026", "Çift Panel Senkronizasyon Önizle\u2026"));
    dualPaneTab_->setText(title("Dual-Pane Manager", "Çift Panelli Yönetici"));
    lanTab_->setText(title("LAN Drop & Clipboard", "Yerel Ağ Drop & Pano"));
    transfersTab_->setText(title("Transfers & SHA-256", "Transferler & SHA-256"));
    languageMenu_->setTitle(title("Language", "Dil"));
    quit_->setText(title("Quit VornSled", "VornSled'den Çık"));
    // Only the system entry's title depends on the language; the entries stay (one of them may be
    // the action being triggered right now).
    languageMenu_->actions().front()->setText(
        vornEscapeMnemonic(VornLanguageChoice::systemLanguageLabel(model_.language())));
    vornApplyContentLayoutDirection(this, language);
}

void SledMainWindow::rebuildLanguageMenu() {
    auto apply = [this](VornLanguage language) { model_.setLanguage(language); };
    languageMenu_->addAction(vornEscapeMnemonic(VornLanguageChoice::systemLanguageLabel(model_.language())), this,
                             [this, apply] { languageChoice_.followSystem(apply); });
    languageMenu_->addSeparator();
    for (const VornLanguage language : VornLanguage::sortedCases()) {
        QAction* action = languageMenu_->addAction(
            vornEscapeMnemonic(QString::fromStdString(language.displayName())), this,
            [this, apply, language] { languageChoice_.choose(language, apply); });
        action->setData(QString::fromUtf8(language.code().data(), static_cast<qsizetype>(language.code().size())));
    }
}

QRect SledMainWindow::openingGeometry(const QRect& available, const QMargins& frame) {
    const QRect room = available.marginsRemoved(frame);
    const QSize size = defaultWindowSize.boundedTo(room.size()).expandedTo(minimumWindowSize);
    QRect inside(QPoint(0, 0), size);
    inside.moveCenter(room.center());
    // A window larger than the area (the minimum on a tiny screen) hangs off the bottom and right,
    // never off the top and left, where its title bar and menu are.
    inside.moveLeft(std::max(inside.left(), room.left()));
    inside.moveTop(std::max(inside.top(), room.top()));
    return inside;
}

void SledMainWindow::placeOnScreen(const QScreen* screen) {
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    setGeometry(openingGeometry(available));
    fittingInto_ = available;
}

bool SledMainWindow::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    // The window manager's frame is known only once it has taken the window (its move follows);
    // the window is fitted again with it, once, before the user could have moved it.
    if ((event->type() == QEvent::Move || event->type() == QEvent::WindowActivate) && fittingInto_ &&
        windowHandle() != nullptr) {
        const QMargins frame = windowHandle()->frameMargins();
        if (!frame.isNull()) {
            const QRect available = *fittingInto_;
            fittingInto_.reset();
            if (!available.contains(frameGeometry())) {
                setGeometry(openingGeometry(available, frame));
            }
        } else if (event->type() == QEvent::WindowActivate) {
            fittingInto_.reset();  // a window manager that draws no frame
        }
    }
    return handled;
}

void SledMainWindow::present() {
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void SledMainWindow::openFiles(SledViewModel& viewModel, const std::vector<std::filesystem::path>& files) {
    if (files.empty()) {
        return;
    }
    viewModel.setActiveTab(SledWorkspaceTab::lanAirDrop);
    viewModel.addFilesToLANShareShelf(files);
}

void SledMainWindow::closeEvent(QCloseEvent* event) {
    if (hidesOnClose_) {
        hide();
        event->ignore();
        return;
    }
    event->accept();
    // Without a tray, the window is the program: closing it ends the process and the LAN server.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
