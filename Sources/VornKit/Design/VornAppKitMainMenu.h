#pragma once

#include "VornLanguage.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QAction;
class QApplication;
class QMenu;
class QMenuBar;

using VornMenuTitle = std::function<QString()>;
using VornMenuCheck = std::function<bool()>;
using VornMenuAction = std::function<void()>;

// Shortcut modifiers of menu items. Command is the Control key on Linux (as Qt maps it everywhere);
// Option is Alt.
enum class VornMenuModifier : unsigned { none = 0, command = 1, shift = 2, option = 4, control = 8 };
inline VornMenuModifier operator|(VornMenuModifier a, VornMenuModifier b) {
    return VornMenuModifier(unsigned(a) | unsigned(b));
}
inline bool vornHasModifier(VornMenuModifier set, VornMenuModifier flag) { return (unsigned(set) & unsigned(flag)) != 0; }

// One declared menu element: an item with its own checks and action, a separator, or a submenu
// whose items are asked for again every time it opens.
class VornMenuElement {
public:
    enum class Kind { item, divider, submenu };

    static VornMenuElement item(VornMenuTitle title, std::string keyEquivalent, VornMenuModifier modifiers,
                                VornMenuCheck isEnabled, VornMenuCheck isHidden, bool skipWhenEditingText,
                                VornMenuAction action);
    static VornMenuElement divider(VornMenuCheck isHidden = nullptr);
    static VornMenuElement submenu(VornMenuTitle title, std::function<std::vector<VornMenuElement>()> items);
    // "Language": following the system language, then every language by English name; the
    // current choice carries a check mark. Choosing goes through the language store and is then
    // reported to `onSelect`.
    static VornMenuElement languageSubmenu(std::function<VornLanguage()> current,
                                           std::function<void(VornLanguage)> onSelect);

    Kind kind() const { return kind_; }
    const VornMenuTitle& title() const { return title_; }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    VornMenuModifier modifiers() const { return modifiers_; }
    const VornMenuCheck& isEnabled() const { return isEnabled_; }
    const VornMenuCheck& isHidden() const { return isHidden_; }
    bool skipWhenEditingText() const { return skipWhenEditingText_; }
    const VornMenuAction& action() const { return action_; }
    const std::function<std::vector<VornMenuElement>()>& items() const { return items_; }

private:
    explicit VornMenuElement(Kind kind) : kind_(kind) {}
    Kind kind_;
    VornMenuTitle title_;
    std::string keyEquivalent_;
    VornMenuModifier modifiers_ = VornMenuModifier::none;
    VornMenuCheck isEnabled_;
    VornMenuCheck isHidden_;
    bool skipWhenEditingText_ = false;
    VornMenuAction action_;
    std::function<std::vector<VornMenuElement>()> items_;
};

// An extra top-level menu between Edit and Window.
struct VornCustomMenu {
    VornCustomMenu(VornMenuTitle title, std::vector<VornMenuElement> elements)
        : title(std::move(title)), elements(std::move(elements)) {}
    VornCustomMenu(const QString& title, std::vector<VornMenuElement> elements)
        : title([title] { return title; }), elements(std::move(elements)) {}

    VornMenuTitle title;
    std::vector<VornMenuElement> elements;
};

// An application's own edit commands; each one left empty keeps the standard behaviour, which acts
// on the focused text input.
struct VornEditMenuOverrides {
    VornMenuAction undo;
    VornMenuCheck canUndo;
    VornMenuAction redo;
    VornMenuCheck canRedo;
    VornMenuAction cut;
    VornMenuAction copy;
    VornMenuAction paste;
    VornMenuAction duplicate;
    VornMenuAction selectAll;
};

// The standard commands that act on the application, its windows or the focused text input
// rather than on a closure of the application.
enum class VornStandardMenuAction {
    hide,
    hideOtherApplications,
    unhideAllApplications,
    terminate,
    performMiniaturize,
    performClose,
    arrangeInFront,
    undo,
    redo,
    cut,
    copy,
    paste,
    selectAll
};

// Builds a complete bilingual menu bar for an application of the suite: the application menu,
// File (when the application has items for it), Edit, the application's own menus and Window.
// Every title follows the `language` callback each time a menu opens; the application's items are
// validated when their menu opens and again when their shortcut is pressed; declared submenus are
// built afresh on every opening. Shortcuts work in every window of the application. GUI thread only.
class VornAppMenuController : public QObject {
public:
    VornAppMenuController(std::string appName, std::function<VornLanguage()> language,
                          VornMenuTitle settingsTitle, VornMenuAction onOpenSettings,
                          std::vector<VornMenuElement> fileMenuItems,
                          std::optional<VornEditMenuOverrides> editOverrides, std::vector<VornCustomMenu> customMenus,
                          std::string closeWindowKeyEquivalent = "w",
                          VornMenuModifier closeWindowModifiers = VornMenuModifier::command);
    ~VornAppMenuController() override;
    VornAppMenuController(const VornAppMenuController&) = delete;
    VornAppMenuController& operator=(const VornAppMenuController&) = delete;

    // The menu bar: the application puts it into its main window (QMainWindow::setMenuBar), which
    // then owns it; until then the controller does.
    QMenuBar* mainMenu() const { return mainMenu_; }
    QMenu* windowsMenu() const { return windowsMenu_; }

    // Applies the item's checks (title, hidden, editing text, enabled) and returns whether it is
    // enabled; items the controller did not bind are enabled.
    bool validateMenuItem(QAction* item);
    // What happens before `menu` opens: its title follows the language; a declared submenu is
    // built afresh; otherwise every item of it is validated and retitled.
    void menuNeedsUpdate(QMenu* menu);
    // Runs the item's action when the item is bound and, validated now, enabled.
    void handleMenuAction(QAction* item);

    // Whether the active window's focused widget takes text.
    static bool isTextInputFocused();
    // Sends a standard command where the platform would: the focused text input for the edit
    // commands, the application or its windows for the others. Returns whether something took it.
    static bool sendStandardAction(VornStandardMenuAction action);
    // Whether the platform can carry out the command at all (Linux cannot hide other applications).
    static bool isStandardActionAvailable(VornStandardMenuAction action);

    // Bookkeeping, for tests: how many items and menus are registered.
    std::size_t registeredItemCount() const;
    std::size_t registeredMenuCount() const { return menuTitleUpdaters_.size(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct ItemBinding {
        VornMenuTitle title;
        VornMenuCheck isEnabled;
        VornMenuCheck isHidden;
        bool skipWhenEditingText = false;
        VornMenuAction action;
    };

    QString localized(std::string_view en, std::string_view tr) const;
    QMenu* addTopLevelMenu(VornMenuTitle title);
    QAction* addStandardItem(QMenu* menu, VornMenuTitle title, std::string_view key, VornMenuModifier modifiers,
                             VornStandardMenuAction action);
    QAction* addBoundItem(QMenu* menu, VornMenuTitle title, std::string_view key, VornMenuModifier modifiers,
                          ItemBinding binding);
    void populateEditMenu(QMenu* menu, const std::optional<VornEditMenuOverrides>& overrides);
    void appendElements(const std::vector<VornMenuElement>& elements, QMenu* menu);
    void registerMenu(QMenu* menu, VornMenuTitle title);
    void unregisterBindings(QMenu* menu);
    void forget(QObject* object);
    // The item state rule; returns the enabled state it wrote.
    bool applyItemState(QAction* item, const ItemBinding& binding);
    // Brings every bound item whose shortcut is `shortcut` up to date before the key is matched.
    void revalidateShortcut(int keyCombination);

    std::string appName_;
    std::function<VornLanguage()> language_;
    QPointer<QMenuBar> mainMenu_;
    QMenu* windowsMenu_ = nullptr;
    std::unordered_map<const QObject*, ItemBinding> itemBindings_;
    std::unordered_map<const QObject*, VornMenuCheck> hiddenChecks_;
    std::unordered_map<const QObject*, VornMenuTitle> titleUpdaters_;
    std::unordered_map<const QObject*, VornMenuTitle> menuTitleUpdaters_;
    std::unordered_map<const QObject*, std::function<std::vector<VornMenuElement>()>> dynamicSubmenuBuilders_;
};

// What an application started by the launcher is told.
class VornApplicationDelegate {
public:
    virtual ~VornApplicationDelegate() = default;
    // The event loop runs; the menu bar is ready for the application's main window.
    virtual void applicationDidFinishLaunching(VornAppMenuController& menu) = 0;
    // The event loop is about to end.
    virtual void applicationWillTerminate() {}
};

// Starts an application of the suite with the kit's menu bar: keeps the delegate and the menu
// controller alive while the event loop runs and returns its exit code when it ends. The
// QApplication must exist.
struct VornAppKitLauncher {
    static int run(std::string appName, std::shared_ptr<VornApplicationDelegate> delegate,
                   std::function<VornLanguage()> language, VornMenuTitle settingsTitle, VornMenuAction onOpenSettings,
                   std::vector<VornMenuElement> fileMenuItems, std::optional<VornEditMenuOverrides> editOverrides,
                   std::vector<VornCustomMenu> customMenus, std::string closeWindowKeyEquivalent = "w",
                   VornMenuModifier closeWindowModifiers = VornMenuModifier::command);

    // The controller of the running launcher, while it runs.
    static VornAppMenuController* menuController();

private:
    static std::shared_ptr<VornApplicationDelegate>& strongDelegate();
    static std::unique_ptr<VornAppMenuController>& strongMenuController();
};
