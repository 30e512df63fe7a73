#include "DualPaneExplorerView.h"
#include "MainSledWorkspaceView.h"
#include "PaneBrowserCard.h"
#include "SledChrome.h"
#include "SledMainWindow.h"
#include "SledProfileRepository.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"
#include "VornGlassTokens.h"
#include "VornToastBanner.h"
#include "VornTypography.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTextDocument>
#include <QToolTip>

#include <fstream>

namespace {

struct MenuItem {
    const char* english;
    const char* turkish;
    QKeySequence shortcut;
};

// The File menu from top to bottom; an empty title is a divider.
const std::vector<MenuItem>& fileMenuTable() {
    static const std::vector<MenuItem> table{
        {"New SFTP / S3 / R2 Connection\u2026", "Yeni SFTP / S3 / R2 Bağlantısı\u2026", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {"Refresh Both Panes", "Her İki Paneli Yenile", QKeySequence(Qt::CTRL | Qt::Key_R)},
        {"Preview Dual-Pane Sync\u2026", "Çift Panel Senkronizasyon Önizle\u2026", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {"", "", {}},
        {"Dual-Pane Manager", "Çift Panelli Yönetici", QKeySequence(Qt::CTRL | Qt::Key_1)},
        {"LAN Drop && Clipboard", "Yerel Ağ Drop && Pano", QKeySequence(Qt::CTRL | Qt::Key_2)},
        {"Transfers && SHA-256", "Transferler && SHA-256", QKeySequence(Qt::CTRL | Qt::Key_3)},
        {"", "", {}},
        {"Language", "Dil", {}},
        {"", "", {}},
        {"Quit VornSled", "VornSled'den Çık", QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    return table;
}

QAction* actionTitled(QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

// The window's frame and the File menu, in both languages: every title, divider and shortcut,
// retitled at once when the language changes.
TEST_F(ViewsTest, MainWindowFrameAndFileMenuFollowTheLanguage) {
    auto model = makeModel();
    SledMainWindow window(*model);
    EXPECT_EQ(window.objectName(), "main");
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("VornSled \u2014 by Vornworks"));
    EXPECT_EQ(window.minimumSize(), QSize(1080, 680));
    EXPECT_EQ(window.size(), QSize(1260, 790));

    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        model->setLanguage(language);
        const bool turkish = language == VornLanguage::tr;
        EXPECT_EQ(window.fileMenu()->title(), turkish ? "Dosya" : "File");
        const QList<QAction*> actions = window.fileMenu()->actions();
        ASSERT_EQ(actions.size(), static_cast<qsizetype>(fileMenuTable().size()));
        for (std::size_t index = 0; index < fileMenuTable().size(); ++index) {
            const MenuItem& item = fileMenuTable()[index];
            QAction* action = actions[static_cast<qsizetype>(index)];
            SCOPED_TRACE(item.english);
            EXPECT_EQ(action->isSeparator(), std::string(item.english).empty());
            EXPECT_EQ(action->text(), QString::fromUtf8(turkish ? item.turkish : item.english));
            EXPECT_EQ(action->shortcut(), item.shortcut);
        }
        // The language submenu: the system entry, a divider, then every language by English name.
        const QList<QAction*> languages = window.languageMenu()->actions();
        ASSERT_EQ(languages.size(), static_cast<qsizetype>(VornLanguage::sortedCases().size() + 2));
        EXPECT_TRUE(languages[0]->text().startsWith(turkish ? "Sistem Dili (" : "System Language ("));
        EXPECT_TRUE(languages[1]->isSeparator());
        EXPECT_EQ(languages[2]->data().toString().toStdString(), VornLanguage::sortedCases().front().code());
    }

    // Each command acts on the model.
    model->setLanguage(VornLanguage::en);
    actionTitled(window.fileMenu(), "Transfers && SHA-256")->trigger();
    EXPECT_EQ(model->activeTab(), SledWorkspaceTab::transfers);
    actionTitled(window.fileMenu(), "LAN Drop && Clipboard")->trigger();
    EXPECT_EQ(model->activeTab(), SledWorkspaceTab::lanAirDrop);
    actionTitled(window.fileMenu(), "New SFTP / S3 / R2 Connection\u2026")->trigger();
    EXPECT_TRUE(model->showingProfileSheet());
    EXPECT_FALSE(model->editingProfile().has_value());

    // Picking a language in the submenu renames the menu at once.
    for (QAction* action : window.languageMenu()->actions()) {
        if (action->data().toString() == "tr") {
            action->trigger();
        }
    }
    EXPECT_EQ(model->language(), VornLanguage::tr);
    EXPECT_EQ(window.fileMenu()->title(), "Dosya");
    EXPECT_EQ(window.workspace()->addServerButton()->label(), "Sunucu Ekle");
}

// The toolbar and the status bar show the model's counts, receiver and settings, and write the two
// settings back through the model into the profile store.
TEST_F(ViewsTest, ToolbarAndStatusBarShowAndWriteTheModel) {
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);

    EXPECT_EQ(view.tabButton(SledWorkspaceTab::transfers)->title(), "Transfers (0)");
    EXPECT_EQ(view.countsLabel()->text(), QString::fromUtf8("0 LAN peer(s) • 0 saved server(s)"));
    EXPECT_EQ(view.receiverLabel()->text(), "LAN Receiver Paused");
    EXPECT_EQ(view.receiverDot()->color(), VornGlassTokens::warning());

    // The tab buttons select the page.
    QTest::mouseClick(view.tabButton(SledWorkspaceTab::lanAirDrop), Qt::LeftButton);
    EXPECT_EQ(model->activeTab(), SledWorkspaceTab::lanAirDrop);
    EXPECT_TRUE(view.tabButton(SledWorkspaceTab::lanAirDrop)->isActive());
    EXPECT_FALSE(view.tabButton(SledWorkspaceTab::dualPane)->isActive());
    EXPECT_EQ(view.currentPage(), view.page(SledWorkspaceTab::lanAirDrop));

    // The SHA-256 switch and the streams menu are saved in the store.
    const bool verify = model->settings().verifySHA256OnTransfer;
    QTest::mouseClick(view.verifyToggle(), Qt::LeftButton);
    EXPECT_EQ(model->settings().verifySHA256OnTransfer, !verify);
    std::unique_ptr<QMenu> menu(view.buildStreamsMenu(&view));
    ASSERT_EQ(menu->actions().size(), 5);
    EXPECT_EQ(menu->actions()[3]->text(), QString::fromUtf8("6× Parallel Streams"));
    menu->actions()[3]->trigger();
    EXPECT_EQ(model->settings().parallelWorkers, 6);
    EXPECT_EQ(view.streamsButton()->label(), QString::fromUtf8("6×"));
    {
        SledProfileRepository stored(data.path());
        EXPECT_EQ(stored.currentSnapshot().settings.verifySHA256OnTransfer, !verify);
        EXPECT_EQ(stored.currentSnapshot().settings.parallelWorkers, 6);
    }
    // A stored count the menu does not offer is shown as it is.
    view.setParallelWorkers(3);
    EXPECT_EQ(view.streamsButton()->label(), QString::fromUtf8("3×"));

    // "Add Server" after editing a profile opens an empty form.
    ConnectionProfile profile;
    profile.id = VornUUID::random();
    profile.name = "Edited";
    model->openEditProfileSheet(profile);
    model->setShowingProfileSheet(false);
    QTest::mouseClick(view.addServerButton(), Qt::LeftButton);
    EXPECT_TRUE(model->showingProfileSheet());
    EXPECT_FALSE(model->editingProfile().has_value());
    model->setShowingProfileSheet(false);

    // The receiver on loopback: the dot turns to success and the address shows the bound port.
    QSignalSpy settled(model.get(), &SledViewModel::lanServicesSettled);
    model->startLANServices();
    ASSERT_TRUE(viewsWaitFor([&] { return model->isLANServerRunning(); }));
    EXPECT_EQ(view.receiverDot()->color(), VornGlassTokens::success());
    EXPECT_EQ(view.receiverLabel()->text().toStdString(), "LAN Drop: " + model->lanPortalURLString());
    EXPECT_NE(model->activeLANPort(), 0);

    // Turkish retitles everything at once; the product name stays.
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(view.tabButton(SledWorkspaceTab::transfers)->title(), "Transferler (0)");
    EXPECT_EQ(view.tabButton(SledWorkspaceTab::dualPane)->title(), QString::fromUtf8("Çift Panel"));
    EXPECT_EQ(view.countsLabel()->text(), QString::fromUtf8("0 yerel ağ cihazı • 0 kayıtlı sunucu"));
    EXPECT_EQ(view.verifyToggle()->text(), QString::fromUtf8("SHA-256 Doğrula"));
    EXPECT_TRUE(view.taglineLabel()->text().startsWith(QString::fromUtf8("Çift Panelli")));
    model->setLanguage(VornLanguage::en);
    model->stopLANServices();
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLANServerRunning(); }));
}

// Files opened with the program go to the LAN shelf on the LAN tab; an empty list changes nothing.
TEST_F(ViewsTest, OpenedFilesGoToTheLANShelf) {
    auto model = makeModel();
    SledMainWindow::openFiles(*model, {});
    EXPECT_EQ(model->activeTab(), SledWorkspaceTab::dualPane);

    VornTestTempDir files;
    std::vector<std::filesystem::path> paths{files.path() / "alpha.txt", files.path() / "beta.bin"};
    for (const auto& path : paths) {
        std::ofstream(path) << "content of " << path.filename().string();
    }
    SledMainWindow::openFiles(*model, paths);
    EXPECT_EQ(model->activeTab(), SledWorkspaceTab::lanAirDrop);
    ASSERT_TRUE(viewsWaitFor([&] { return model->sharedLANFiles().size() == 2; }));
}

// The toast shows the model's message at the bottom centre and lets clicks through.
TEST_F(ViewsTest, ToastShowsTheMessageAndLetsClicksThrough) {
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    model->showToast("Copied LAN URL");
    ASSERT_TRUE(view.toast()->isVisible());
    EXPECT_EQ(view.toast()->message(), "Copied LAN URL");
    EXPECT_TRUE(view.toast()->testAttribute(Qt::WA_TransparentForMouseEvents));
    model->showToast("Mac clipboard is empty.", true);
    EXPECT_TRUE(view.toast()->isError());
    ASSERT_TRUE(viewsWaitFor([&] { return !view.toast()->isVisible(); }));
}

// Pictures of the whole window in both languages, with a toast, for a person to look at.
TEST_F(ViewsTest, MainWindowPictures) {
    auto model = makeModel();
    SledMainWindow window(*model);
    window.show();
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        model->setLanguage(language);
        model->showToast(model->t("Copied LAN URL", "LAN URL kopyalandı"));
        QTest::qWait(400);
        const QImage image = snapshot(window, QStringLiteral("app-main-window-") + QString::fromUtf8(language.code().data()));
        EXPECT_EQ(image.size(), QSize(1260, 790));
    }
    model->setLanguage(VornLanguage::en);
}

// The smallest window in both languages: the toolbar's tabs and "Add Server", "This Computer" and
// a 24-character connection name show in full; a longer name gives way in its middle and shows
// whole in the chip's tooltip. (A scale factor multiplies pixels, not these device-independent
// sizes, so this holds at scale 2 as well; the screenshots show both.)
TEST_F(ViewsTest, NamesReadInFullInTheSmallestWindow) {
    const std::string name24 = "Production Media Storage";
    ASSERT_EQ(name24.size(), 24u);
    const std::string longName = "Production Media Storage Frankfurt Replica 2";
    std::vector<ConnectionProfile> profiles;
    for (const std::string& name : {name24, longName}) {
        ConnectionProfile profile;
        profile.id = VornUUID::random();
        profile.name = name;
        profile.kind = ConnectionProtocolKind::awsS3;
        profile.bucket = "media";
        profile.region = "eu-central-1";
        profiles.push_back(profile);
    }
    SledProfileRepository(data.path()).saveProfiles(profiles);
    auto model = makeModel();
    ASSERT_EQ(model->profiles().size(), 2u);
    SledMainWindow window(*model);
    window.resize(SledMainWindow::minimumWindowSize);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.size(), QSize(1080, 680));
    auto* explorer = static_cast<DualPaneExplorerView*>(window.workspace()->page(SledWorkspaceTab::dualPane));
    PaneBrowserCard& left = *explorer->leftCard();
    PaneBrowserCard& right = *explorer->rightCard();

    auto settle = [] {
        for (int round = 0; round < 4; ++round) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    };
    auto inFull = [](QWidget* widget) { return widget->isVisible() && widget->width() >= widget->sizeHint().width(); };
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        model->setLanguage(language);
        model->selectEndpoint(PaneEndpoint::remote(profiles[0].id), model->rightPane());
        settle();
        const char* code = language.code().data();
        EXPECT_EQ(left.endpointButton()->text(), language == VornLanguage::en ? "This Computer" : "Bu Bilgisayar");
        EXPECT_FALSE(left.endpointButton()->isTextElided()) << code;
        EXPECT_EQ(right.endpointButton()->text().toStdString(), name24);
        EXPECT_FALSE(right.endpointButton()->isTextElided()) << code;
        EXPECT_TRUE(right.endpointButton()->toolTip().isEmpty());
        EXPECT_TRUE(inFull(window.workspace()->addServerButton())) << code;
        for (const SledWorkspaceTab tab : {SledWorkspaceTab::dualPane, SledWorkspaceTab::lanAirDrop, SledWorkspaceTab::transfers}) {
            EXPECT_TRUE(inFull(window.workspace()->tabButton(tab))) << code;
        }
        // Every tool of the pane stays on screen, beside the name or below it.
        for (QWidget* tool : {static_cast<QWidget*>(right.refreshButton()), static_cast<QWidget*>(right.editConnectionButton())}) {
            EXPECT_TRUE(right.rect().contains(QRect(tool->mapTo(&right, QPoint(0, 0)), tool->size()))) << code;
        }
        snapshot(window, QStringLiteral("app-main-window-smallest-") + QString::fromUtf8(code));

        model->selectEndpoint(PaneEndpoint::remote(profiles[1].id), model->rightPane());
        settle();
        EXPECT_TRUE(right.endpointButton()->isTextElided()) << code;
        EXPECT_EQ(right.endpointButton()->toolTip().toStdString(), longName);
        snapshot(window, QStringLiteral("app-main-window-smallest-long-name-") + QString::fromUtf8(code));
    }
    model->setLanguage(VornLanguage::en);
}

namespace {

// The text a widget's tooltip shows once it is asked for, as the reader sees it: markup rendered,
// plain text as it stands.
QString shownToolTip(QWidget& widget) {
    const QPoint centre = widget.rect().center();
    QHelpEvent ask(QEvent::ToolTip, centre, widget.mapToGlobal(centre));
    QApplication::sendEvent(&widget, &ask);
    for (QWidget* shown : QApplication::allWidgets()) {
        auto* tip = qobject_cast<QLabel*>(shown);
        if (tip != nullptr && shown->objectName() == QLatin1String("qtooltip_label") && shown->isVisible()) {
            const bool rich = tip->textFormat() == Qt::RichText ||
                              (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text()));
            if (!rich) {
                return tip->text();
            }
            QTextDocument document;
            document.setHtml(tip->text());
            return document.toPlainText();
        }
    }
    return {};
}

}  // namespace

// A name cut short shows whole in its tooltip, character for character, whatever tags it holds.
TEST_F(ViewsTest, TheTooltipOfACutNameShowsItAsItStands) {
    const QString names[] = {
        QStringLiteral("<b>Backup</b> of the studio's media library"),
        QStringLiteral("<img src=\"file:///etc/hostname\"> holiday pictures 2026"),
        QStringLiteral("Tom & Jerry <i>shared</i> &amp; <a href=\"https://example.org\">link</a>"),
        QStringLiteral("<table><tr><td>cell</td></tr></table>   three spaces"),
        QStringLiteral("An ordinary name long enough to be cut short here"),
    };
    QWidget host;
    host.resize(400, 200);
    auto* chip = new SledChipButton(10, 5, &host);
    auto* label = new SledYieldingLabel(VornGlassTokens::textSecondary(), vornFont(11), &host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    for (const QString& name : names) {
        chip->setText(name, vornFont(13), VornGlassTokens::textPrimary());
        chip->resize(120, chip->sizeHint().height());
        label->setText(name);
        label->setGeometry(0, 60, 120, 20);
        label->repaint();
        ASSERT_TRUE(chip->isTextElided()) << name.toStdString();
        ASSERT_TRUE(label->isElided()) << name.toStdString();
        EXPECT_EQ(shownToolTip(*chip).toStdString(), name.toStdString());
        EXPECT_EQ(shownToolTip(*label).toStdString(), name.toStdString());
        QToolTip::hideText();
    }
    // A name that fits has no tooltip.
    chip->setText(QStringLiteral("<b>x</b>"), vornFont(13), VornGlassTokens::textPrimary());
    chip->resize(chip->sizeHint());
    EXPECT_TRUE(chip->toolTip().isEmpty());
}
