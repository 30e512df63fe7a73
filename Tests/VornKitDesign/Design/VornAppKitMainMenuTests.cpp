#include "VornAppKitMainMenu.h"
#include "VornLanguage.h"
#include "VornTestUI.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

QStringList titles(const QList<QAction*>& actions) {
    QStringList result;
    for (QAction* action : actions) {
        result << (action->isSeparator() ? QStringLiteral("---") : action->text());
    }
    return result;
}

QList<QMenu*> topMenus(const VornAppMenuController& controller) {
    QList<QMenu*> menus;
    for (QAction* action : controller.mainMenu()->actions()) {
        menus << action->menu();
    }
    return menus;
}

QAction* find(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) return action;
    }
    return nullptr;
}

void open(QMenu* menu) { emit menu->aboutToShow(); }

// A shown, active window holding the menu bar and a text field, so shortcuts and focus are real.
struct Host {
    explicit Host(VornAppMenuController& controller) {
        window.setMenuBar(controller.mainMenu());
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        field = new QLineEdit;
        plain = new QWidget;
        plain->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(field);
        layout->addWidget(plain);
        window.setCentralWidget(central);
        window.resize(400, 200);
        window.show();
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void focusText() {
        field->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    void focusPlain() {
        plain->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    QMainWindow window;
    QLineEdit* field;
    QWidget* plain;
};

std::unique_ptr<VornAppMenuController> makeController(std::vector<VornMenuElement> file = {},
                                                      std::optional<VornEditMenuOverrides> overrides = std::nullopt,
                                                      VornMenuAction settings = nullptr,
                                                      std::vector<VornCustomMenu> custom = {},
                                                      std::string closeKey = "w",
                                                      VornLanguage* language = nullptr) {
    auto languageCallback = language ? std::function<VornLanguage()>([language] { return *language; })
                                     : std::function<VornLanguage()>([] { return VornLanguage::en; });
    return std::make_unique<VornAppMenuController>("VornSled", languageCallback, nullptr, std::move(settings),
                                                   std::move(file), std::move(overrides), std::move(custom),
                                                   std::move(closeKey), VornMenuModifier::command | VornMenuModifier::shift);
}

}  // namespace

TEST(VornAppMenuController, BuildsTheStandardMenusAroundWhatTheApplicationDeclares) {
    // The bare kit: application menu, Edit, Window; no Settings, no File.
    auto bare = makeController({}, std::nullopt, nullptr, {}, "");
    const QList<QMenu*> bareMenus = topMenus(*bare);
    ASSERT_EQ(bareMenus.size(), 3);
    EXPECT_EQ(bareMenus[0]->title(), QStringLiteral("VornSled"));
    EXPECT_EQ(titles(bareMenus[0]->actions()),
              QStringList({"Send Feedback && Ideas…", "---", "Hide VornSled", "Hide Others", "Show All", "---",
                           "Quit VornSled"}));
    EXPECT_EQ(bareMenus[1]->title(), QStringLiteral("Edit"));
    EXPECT_EQ(titles(bareMenus[1]->actions()),
              QStringList({"Undo", "Redo", "---", "Cut", "Copy", "Paste", "Select All"}));
    EXPECT_EQ(bareMenus[2], bare->windowsMenu());
    EXPECT_EQ(titles(bare->windowsMenu()->actions()),
              QStringList({"Minimize", "Close Window", "---", "Bring All to Front"}));
    // No key: no shortcut, whatever modifiers were given.
    EXPECT_TRUE(find(bare->windowsMenu(), "Close Window")->shortcut().isEmpty());
    EXPECT_EQ(find(bareMenus[0], "Quit VornSled")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(find(bareMenus[0], "Hide Others")->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H));
    // Linux cannot hide other applications' windows: the entry says so by being unavailable.
    EXPECT_FALSE(find(bareMenus[0], "Hide Others")->isEnabled());
    EXPECT_EQ(find(bareMenus[1], "Redo")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

    // Everything declared: Settings first, File, eight edit entries with Duplicate, a custom menu.
    VornEditMenuOverrides overrides;
    overrides.duplicate = [] {};
    overrides.copy = [] {};
    std::vector<VornMenuElement> file{
        VornMenuElement::item([] { return QStringLiteral("New Connection"); }, "n", VornMenuModifier::command, nullptr,
                              nullptr, false, [] {}),
        VornMenuElement::item([] { return QStringLiteral("Refresh"); }, "", VornMenuModifier::command |
                              VornMenuModifier::shift, nullptr, nullptr, false, [] {}),
        VornMenuElement::item([] { return QStringLiteral("Odd"); }, "not a key", VornMenuModifier::command, nullptr,
                              nullptr, false, [] {}),
        VornMenuElement::item([] { return QStringLiteral("Export"); }, "E", VornMenuModifier::command, nullptr, nullptr,
                              false, [] {})};
    auto full = makeController(std::move(file), overrides, [] {},
                               {VornCustomMenu(QStringLiteral("View"), {VornMenuElement::divider()})});
    const QList<QMenu*> menus = topMenus(*full);
    ASSERT_EQ(menus.size(), 5);
    EXPECT_EQ(titles(menus[0]->actions()).mid(0, 3), QStringList({"Settings…", "---", "Send Feedback && Ideas…"}));
    EXPECT_EQ(find(menus[0], "Settings…")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(menus[1]->title(), QStringLiteral("File"));
    EXPECT_EQ(find(menus[1], "New Connection")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_TRUE(find(menus[1], "Refresh")->shortcut().isEmpty());
    EXPECT_TRUE(find(menus[1], "Odd")->shortcut().isEmpty());
    // An upper-case key equivalent carries Shift.
    EXPECT_EQ(find(menus[1], "Export")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    EXPECT_EQ(titles(menus[2]->actions()),
              QStringList({"Undo", "Redo", "---", "Cut", "Copy", "Paste", "Duplicate", "Select All"}));
    EXPECT_EQ(menus[3]->title(), QStringLiteral("View"));
    EXPECT_EQ(menus[4], full->windowsMenu());
    EXPECT_EQ(find(full->windowsMenu(), "Close Window")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W));
}

TEST(VornAppMenuController, TitlesFollowTheLanguageWhenAMenuOpens) {
    VornLanguage language = VornLanguage::en;
    auto controller = makeController({}, std::nullopt, [] {}, {}, "w", &language);
    QMenu* appMenu = topMenus(*controller)[0];
    language = VornLanguage::tr;
    EXPECT_EQ(titles(appMenu->actions()).last(), QStringLiteral("Quit VornSled"));
    open(appMenu);
    EXPECT_EQ(titles(appMenu->actions()),
              QStringList({"Ayarlar…", "---", "Geri Bildirim && Fikir Gönder…", "---", "VornSled Uygulamasını Gizle",
                           "Diğerlerini Gizle", "Tümünü Göster", "---", "VornSled Uygulamasından Çık"}));
    open(controller->windowsMenu());
    EXPECT_EQ(controller->windowsMenu()->title(), QStringLiteral("Pencere"));
    EXPECT_EQ(titles(controller->windowsMenu()->actions()),
              QStringList({"Küçült", "Pencereyi Kapat", "---", "Tümünü Öne Getir"}));
}

TEST(VornAppMenuController, ItemChecksDecideVisibilityAndAvailability) {
    bool hidden = true;
    bool enabled = false;
    int runs = 0;
    auto controller = makeController(
        {VornMenuElement::item([] { return QStringLiteral("Export"); }, "", VornMenuModifier::none,
                               [&] { return enabled; }, [&] { return hidden; }, false, [&] { ++runs; }),
         VornMenuElement::divider([&] { return hidden; }),
         VornMenuElement::item([] { return QStringLiteral("Rename"); }, "", VornMenuModifier::none, [] { return true; },
                               nullptr, true, [&] { ++runs; })});
    Host host(*controller);
    QMenu* file = topMenus(*controller)[1];
    QAction* exportItem = find(file, "Export");
    QAction* divider = file->actions()[1];
    QAction* rename = find(file, "Rename");

    // Hidden wins over enabled.
    enabled = true;
    open(file);
    EXPECT_FALSE(exportItem->isVisible());
    EXPECT_FALSE(divider->isVisible());
    EXPECT_FALSE(controller->validateMenuItem(exportItem));

    // Shown again, its enabled check applies.
    hidden = false;
    enabled = false;
    open(file);
    EXPECT_TRUE(exportItem->isVisible());
    EXPECT_TRUE(divider->isVisible());
    EXPECT_FALSE(exportItem->isEnabled());
    enabled = true;
    EXPECT_TRUE(controller->validateMenuItem(exportItem));

    // An item that stays out of the way of text editing is off while a text field has focus.
    host.focusText();
    ASSERT_TRUE(VornAppMenuController::isTextInputFocused());
    EXPECT_FALSE(controller->validateMenuItem(rename));
    rename->trigger();
    EXPECT_EQ(runs, 0);
    host.focusPlain();
    ASSERT_FALSE(VornAppMenuController::isTextInputFocused());
    EXPECT_TRUE(controller->validateMenuItem(rename));
    rename->trigger();
    EXPECT_EQ(runs, 1);
}

TEST(VornAppMenuController, AShortcutRunsOnlyWhatTheItemsChecksAllowAtThatMoment) {
    bool enabled = true;
    int runs = 0;
    auto controller = makeController({VornMenuElement::item([] { return QStringLiteral("Delete"); }, "k",
                                                            VornMenuModifier::command, [&] { return enabled; }, nullptr,
                                                            false, [&] { ++runs; })});
    Host host(*controller);
    host.focusPlain();
    QMenu* file = topMenus(*controller)[1];
    QAction* item = find(file, "Delete");

    // The menu was last opened while the item was available; it no longer is.
    open(file);
    ASSERT_TRUE(item->isEnabled());
    enabled = false;
    QTest::keyClick(host.plain, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(runs, 0);
    // A direct trigger of the stale item is refused the same way.
    item->setEnabled(true);
    item->trigger();
    EXPECT_EQ(runs, 0);

    // The other way round: opened while unavailable, available when the key is pressed.
    open(file);
    ASSERT_FALSE(item->isEnabled());
    enabled = true;
    QTest::keyClick(host.plain, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(runs, 1);
}

TEST(VornAppMenuController, ASubmenuIsRebuiltOnEveryOpeningWithNoStaleItemLeft) {
    int generation = 0;
    std::vector<int> ran;
    auto controller = makeController(
        {VornMenuElement::submenu([] { return QStringLiteral("Recent"); }, [&] {
            const int built = ++generation;
            return std::vector<VornMenuElement>{
                VornMenuElement::item([built] { return QStringLiteral("Open %1").arg(built); }, "j",
                                      VornMenuModifier::command, nullptr, nullptr, false, [&ran, built] { ran.push_back(built); }),
                VornMenuElement::divider([] { return false; }),
                VornMenuElement::submenu([] { return QStringLiteral("Nested"); }, [built] {
                    return std::vector<VornMenuElement>{VornMenuElement::item(
                        [built] { return QStringLiteral("Inner %1").arg(built); }, "", VornMenuModifier::none, nullptr,
                        nullptr, false, [] {})};
                })};
        })});
    Host host(*controller);
    host.focusPlain();
    QMenu* recent = find(topMenus(*controller)[1], "Recent")->menu();
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(generation, 1);
    QPointer<QAction> first = recent->actions()[0];
    QPointer<QMenu> firstNested = recent->actions()[2]->menu();
    const std::size_t items = controller->registeredItemCount();
    const std::size_t menus = controller->registeredMenuCount();

    for (int opening = 2; opening <= 4; ++opening) {
        open(recent);
        EXPECT_EQ(generation, opening);
        EXPECT_EQ(titles(recent->actions()), QStringList({QStringLiteral("Open %1").arg(opening), "---", "Nested"}));
        // What the old items registered went with them.
        EXPECT_EQ(controller->registeredItemCount(), items);
        EXPECT_EQ(controller->registeredMenuCount(), menus);
    }
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(firstNested.isNull());

    // The shortcut reaches the newest closure, once.
    QTest::keyClick(host.plain, Qt::Key_J, Qt::ControlModifier);
    EXPECT_EQ(ran, std::vector<int>({4}));
}

TEST(VornAppMenuController, EditOverridesGiveWayToAFocusedTextInput) {
    int copies = 0;
    int duplicates = 0;
    int undos = 0;
    VornEditMenuOverrides overrides;
    overrides.copy = [&] { ++copies; };
    overrides.duplicate = [&] { ++duplicates; };
    overrides.undo = [&] { ++undos; };
    overrides.canUndo = [] { return false; };
    auto controller = makeController({}, overrides);
    Host host(*controller);
    QMenu* edit = topMenus(*controller)[1];

    host.field->setText(QStringLiteral("sled-backup"));
    host.field->selectAll();
    host.focusText();
    QApplication::clipboard()->clear();
    find(edit, "Copy")->trigger();
    EXPECT_EQ(copies, 0);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("sled-backup"));
    // Undo belongs to the field while it has focus, whatever the application could undo.
    EXPECT_TRUE(controller->validateMenuItem(find(edit, "Undo")));
    find(edit, "Duplicate")->trigger();
    EXPECT_EQ(duplicates, 1);

    host.focusPlain();
    find(edit, "Copy")->trigger();
    EXPECT_EQ(copies, 1);
    EXPECT_FALSE(controller->validateMenuItem(find(edit, "Undo")));
    find(edit, "Undo")->trigger();
    EXPECT_EQ(undos, 0);
    find(edit, "Duplicate")->trigger();
    EXPECT_EQ(duplicates, 2);

    // Without overrides the standard command reaches the text input.
    auto standard = makeController();
    Host standardHost(*standard);
    standardHost.field->setText(QStringLiteral("abc"));
    standardHost.focusText();
    standardHost.field->deselect();
    find(topMenus(*standard)[1], "Select All")->trigger();
    EXPECT_EQ(standardHost.field->selectedText(), QStringLiteral("abc"));
}

TEST(VornAppMenuController, TheLanguageSubmenuMarksTheChoiceAndStoresIt) {
    VornLanguage language = VornLanguage::en;
    std::vector<VornLanguage> selected;
    auto controller = makeController(
        {}, std::nullopt, nullptr,
        {VornCustomMenu(QStringLiteral("View"), {VornMenuElement::languageSubmenu(
                                                    [&] { return language; },
                                                    [&](VornLanguage chosen) {
                                                        // The owner applies the language as a picker would.
                                                        VornLanguage::setCurrent(chosen);
                                                        language = chosen;
                                                        selected.push_back(chosen);
                                                    })})});
    QMenu* submenu = topMenus(*controller)[2]->actions()[0]->menu();
    ASSERT_NE(submenu, nullptr);
    const auto checked = [&] {
        QStringList marked;
        for (QAction* action : submenu->actions()) {
            if (action->text().startsWith(QStringLiteral("✓ "))) marked << action->text();
        }
        return marked;
    };

    VornLanguage::setFollowSystem();
    open(submenu);
    ASSERT_EQ(submenu->actions().size(), 39);
    const QString systemName = QString::fromUtf8(VornLanguage::systemResolved().nativeName().data());
    EXPECT_EQ(checked(), QStringList({QStringLiteral("✓ System Language (%1)").arg(systemName)}));

    // Choosing Turkish stores it and marks it alone.
    find(submenu, QStringLiteral("Türkçe (Turkish)"))->trigger();
    EXPECT_EQ(selected, std::vector<VornLanguage>({VornLanguage::tr}));
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "tr");
    open(submenu);
    EXPECT_EQ(submenu->title(), QStringLiteral("Dil"));
    EXPECT_EQ(checked(), QStringList({QStringLiteral("✓ Türkçe (Turkish)")}));

    // Back to the system language: the owner's own setCurrent cannot store an explicit language.
    submenu->actions()[0]->trigger();
    EXPECT_EQ(VornLanguage::storedPreferenceCode(), "system");
    EXPECT_EQ(selected.back(), VornLanguage::systemResolved());
    open(submenu);
    EXPECT_EQ(checked().size(), 1);
    EXPECT_TRUE(checked().front().startsWith(QStringLiteral("✓ ")));
    EXPECT_TRUE(submenu->actions()[0]->text().startsWith(QStringLiteral("✓ ")));
}

namespace {

class RecordingDelegate : public VornApplicationDelegate {
public:
    void applicationDidFinishLaunching(VornAppMenuController& menu) override {
        launched = true;
        window = std::make_unique<QMainWindow>();
        window->setMenuBar(menu.mainMenu());
        menuTitles = titles(menu.mainMenu()->actions());
        window->show();
        // The Quit entry ends the application as the user would.
        QAction* quit = menu.mainMenu()->actions()[0]->menu()->actions().last();
        quitTitle = quit->text();
        quit->trigger();
    }
    void applicationWillTerminate() override { terminating = true; }

    bool launched = false;
    bool terminating = false;
    QStringList menuTitles;
    QString quitTitle;
    std::unique_ptr<QMainWindow> window;
};

}  // namespace

TEST(VornAppKitLauncher, RunsTheApplicationWithTheMenuBarUntilItQuits) {
    auto delegate = std::make_shared<RecordingDelegate>();
    const int code = VornAppKitLauncher::run("VornSled", delegate, [] { return VornLanguage::en; }, nullptr, nullptr,
                                             {}, std::nullopt, {VornCustomMenu(QStringLiteral("Go"), {})});
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(delegate->launched);
    EXPECT_TRUE(delegate->terminating);
    EXPECT_EQ(delegate->menuTitles, QStringList({"VornSled", "Edit", "Go", "Window"}));
    EXPECT_EQ(delegate->quitTitle, QStringLiteral("Quit VornSled"));
    // The launcher let go of its controller; the window that took the menu bar still has it.
    EXPECT_EQ(VornAppKitLauncher::menuController(), nullptr);
    EXPECT_EQ(delegate->window->menuBar()->actions().size(), 4);
}
