#include "VornAppKitMainMenu.h"

#include "VornAppVersion.h"
#include "VornBundle.h"
#include "VornFeedbackService.h"
#include "VornLanguageControls.h"
#include "VornPainting.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cctype>

namespace {

QString fromStd(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A key equivalent ("z", ",", "Z") with its modifiers as a Qt shortcut. An upper-case letter
// carries Shift, as it does in the menus this kit follows. An empty key gives no shortcut and the
// modifiers are ignored.
QKeySequence shortcutFor(std::string_view key, VornMenuModifier modifiers) {
    if (key.empty()) {
        return {};
    }
    const QKeySequence parsed = QKeySequence::fromString(fromStd(key).toUpper(), QKeySequence::PortableText);
    // One key, and one Qt knows; anything else gives no shortcut rather than a surprising one.
    if (parsed.count() != 1 || parsed[0].key() == Qt::Key_unknown || parsed[0].keyboardModifiers() != Qt::NoModifier) {
        return {};
    }
    Qt::KeyboardModifiers qtModifiers;
    if (vornHasModifier(modifiers, VornMenuModifier::command)) qtModifiers |= Qt::ControlModifier;
    if (vornHasModifier(modifiers, VornMenuModifier::shift)) qtModifiers |= Qt::ShiftModifier;
    if (vornHasModifier(modifiers, VornMenuModifier::option)) qtModifiers |= Qt::AltModifier;
    // Control and Command are the same key here.
    if (vornHasModifier(modifiers, VornMenuModifier::control)) qtModifiers |= Qt::ControlModifier;
    if (key.size() == 1 && std::isupper(static_cast<unsigned char>(key.front()))) qtModifiers |= Qt::ShiftModifier;
    return QKeySequence(QKeyCombination(qtModifiers, parsed[0].key()));
}

QWidget* focusedWidget() {
    QWidget* window = QApplication::activeWindow();
    return window ? window->focusWidget() : nullptr;
}

// The slot of a text input that carries out an edit command.
const char* editSlot(VornStandardMenuAction action) {
    switch (action) {
    case VornStandardMenuAction::undo: return "undo";
    case VornStandardMenuAction::redo: return "redo";
    case VornStandardMenuAction::cut: return "cut";
    case VornStandardMenuAction::copy: return "copy";
    case VornStandardMenuAction::paste: return "paste";
    case VornStandardMenuAction::selectAll: return "selectAll";
    default: return nullptr;
    }
}

// The application's name put into a text that has "%1" where the name goes (each language places it
// in its own order).
QString withAppName(QString text, const QString& name) { return text.replace(QStringLiteral("%1"), name); }

std::vector<QWidget*> applicationWindows() {
    std::vector<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        // Menus, tool tips and other popups are not the application's windows.
        if (widget->isWindow() && !(widget->windowType() == Qt::Popup || widget->windowType() == Qt::ToolTip) &&
            !qobject_cast<QMenu*>(widget)) {
            windows.push_back(widget);
        }
    }
    return windows;
}

}  // namespace

// MARK: Elements

VornMenuElement VornMenuElement::item(VornMenuTitle title, std::string keyEquivalent, VornMenuModifier modifiers,
                                      VornMenuCheck isEnabled, VornMenuCheck isHidden, bool skipWhenEditingText,
                                      VornMenuAction action) {
    VornMenuElement element(Kind::item);
    element.title_ = std::move(title);
    element.keyEquivalent_ = std::move(keyEquivalent);
    element.modifiers_ = modifiers;
    element.isEnabled_ = std::move(isEnabled);
    element.isHidden_ = std::move(isHidden);
    element.skipWhenEditingText_ = skipWhenEditingText;
    element.action_ = std::move(action);
    return element;
}

VornMenuElement VornMenuElement::divider(VornMenuCheck isHidden) {
    VornMenuElement element(Kind::divider);
    element.isHidden_ = std::move(isHidden);
    return element;
}

VornMenuElement VornMenuElement::submenu(VornMenuTitle title, std::function<std::vector<VornMenuElement>()> items) {
    VornMenuElement element(Kind::submenu);
    element.title_ = std::move(title);
    element.items_ = std::move(items);
    return element;
}

VornMenuElement VornMenuElement::languageSubmenu(std::function<VornLanguage()> current,
                                                 std::function<void(VornLanguage)> onSelect) {
    auto title = [current] { return vornQText("Language", "Dil", current()); };
    auto items = [current, onSelect] {
        const VornLanguage language = current();
        const VornLanguage system = VornLanguage::systemResolved();
        const bool followsSystem = VornLanguage::isFollowingSystem();
        std::vector<VornMenuElement> elements;
        const QString systemTitle = (followsSystem ? QStringLiteral("✓ ") : QString()) +
                                    vornQText("System Language", "Sistem Dili", language) + QStringLiteral(" (") +
                                    fromStd(system.nativeName()) + QStringLiteral(")");
        elements.push_back(item([systemTitle] { return systemTitle; }, "", VornMenuModifier::none, nullptr, nullptr,
                                false, [system, onSelect] {
                                    VornLanguage::applyFollowSystem([&] {
                                        if (onSelect) onSelect(system);
                                    });
                                }));
        elements.push_back(divider());
        for (const VornLanguage candidate : VornLanguage::sortedCases()) {
            const QString name = fromStd(candidate.displayName());
            const QString entry = (candidate == language && !followsSystem) ? QStringLiteral("✓ ") + name : name;
            elements.push_back(item([entry] { return entry; }, "", VornMenuModifier::none, nullptr, nullptr, false,
                                    [candidate, onSelect] {
                                        VornLanguage::setCurrent(candidate);
                                        if (onSelect) onSelect(candidate);
                                    }));
        }
        return elements;
    };
    return submenu(std::move(title), std::move(items));
}

// MARK: Controller

VornAppMenuController::VornAppMenuController(std::string appName, std::function<VornLanguage()> language,
                                             VornMenuTitle settingsTitle, VornMenuAction onOpenSettings,
                                             std::vector<VornMenuElement> fileMenuItems,
                                             std::optional<VornEditMenuOverrides> editOverrides,
                                             std::vector<VornCustomMenu> customMenus,
                                             std::string closeWindowKeyEquivalent,
                                             VornMenuModifier closeWindowModifiers)
    : appName_(std::move(appName)), language_(std::move(language)) {
    if (!language_) {
        language_ = [] { return VornLanguage::current(); };
    }
    mainMenu_ = new QMenuBar;
    windowsMenu_ = new QMenu(localized("Window", "Pencere"), mainMenu_);

    // The application menu.
    const QString name = fromStd(appName_);
    QMenu* appMenu = addTopLevelMenu([name] { return name; });
    if (onOpenSettings) {
        VornMenuTitle title = settingsTitle ? settingsTitle : VornMenuTitle([this] { return localized("Settings…", "Ayarlar…"); });
        addBoundItem(appMenu, title, ",", VornMenuModifier::command,
                     ItemBinding{title, nullptr, nullptr, false, std::move(onOpenSettings)});
        appMenu->addSeparator();
    }
    const std::string feedbackAppName = appName_;
    VornMenuTitle feedbackTitle = [this] { return localized("Send Feedback & Ideas…", "Geri Bildirim & Fikir Gönder…"); };
    addBoundItem(appMenu, feedbackTitle, "", VornMenuModifier::none,
                 ItemBinding{feedbackTitle, nullptr, nullptr, false, [this, feedbackAppName] {
                                 const VornAppVersion version = VornAppVersion::current(VornBundle::main(), "1.0.0", "100");
                                 VornFeedbackService::openInBrowser(feedbackAppName, version, VornFeedbackKind::feature,
                                                                    language_(), std::nullopt);
                             }});
    appMenu->addSeparator();
    addStandardItem(appMenu, [this, name] { return withAppName(localized("Hide %1", "%1 Uygulamasını Gizle"), name); },
                    "h", VornMenuModifier::command, VornStandardMenuAction::hide);
    addStandardItem(appMenu, [this] { return localized("Hide Others", "Diğerlerini Gizle"); }, "h",
                    VornMenuModifier::command | VornMenuModifier::option, VornStandardMenuAction::hideOtherApplications);
    addStandardItem(appMenu, [this] { return localized("Show All", "Tümünü Göster"); }, "", VornMenuModifier::none,
                    VornStandardMenuAction::unhideAllApplications);
    appMenu->addSeparator();
    addStandardItem(appMenu, [this, name] { return withAppName(localized("Quit %1", "%1 Uygulamasından Çık"), name); },
                    "q", VornMenuModifier::command, VornStandardMenuAction::terminate);

    // File.
    if (!fileMenuItems.empty()) {
        QMenu* fileMenu = addTopLevelMenu([this] { return localized("File", "Dosya"); });
        appendElements(fileMenuItems, fileMenu);
    }

    // Edit.
    QMenu* editMenu = addTopLevelMenu([this] { return localized("Edit", "Düzen"); });
    populateEditMenu(editMenu, editOverrides);

    // The application's own menus.
    for (VornCustomMenu& custom : customMenus) {
        QMenu* menu = addTopLevelMenu(custom.title);
        appendElements(custom.elements, menu);
    }

    // Window, last.
    registerMenu(windowsMenu_, [this] { return localized("Window", "Pencere"); });
    windowsMenu_->setTitle(localized("Window", "Pencere"));
    addStandardItem(windowsMenu_, [this] { return localized("Minimize", "Küçült"); }, "m", VornMenuModifier::command,
                    VornStandardMenuAction::performMiniaturize);
    addStandardItem(windowsMenu_, [this] { return localized("Close Window", "Pencereyi Kapat"); },
                    closeWindowKeyEquivalent, closeWindowModifiers, VornStandardMenuAction::performClose);
    windowsMenu_->addSeparator();
    addStandardItem(windowsMenu_, [this] { return localized("Bring All to Front", "Tümünü Öne Getir"); }, "",
                    VornMenuModifier::none, VornStandardMenuAction::arrangeInFront);
    mainMenu_->addMenu(windowsMenu_);

    // Shortcuts are checked against the application's state at the moment they are pressed.
    qApp->installEventFilter(this);
}

VornAppMenuController::~VornAppMenuController() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
    // A menu bar that no window took is still ours. One a window holds stays there, and nothing it
    // reports any longer reaches this controller (every connection has it as context).
    if (mainMenu_ && !mainMenu_->parent()) {
        delete mainMenu_.data();
    }
}

QString VornAppMenuController::localized(std::string_view en, std::string_view tr) const {
    return vornQText(en, tr, language_());
}

QMenu* VornAppMenuController::addTopLevelMenu(VornMenuTitle title) {
    auto* menu = new QMenu(title(), mainMenu_);
    registerMenu(menu, std::move(title));
    mainMenu_->addMenu(menu);
    return menu;
}

void VornAppMenuController::registerMenu(QMenu* menu, VornMenuTitle title) {
    menuTitleUpdaters_[menu] = std::move(title);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuNeedsUpdate(menu); });
    connect(menu, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
}

QAction* VornAppMenuController::addStandardItem(QMenu* menu, VornMenuTitle title, std::string_view key,
                                                VornMenuModifier modifiers, VornStandardMenuAction action) {
    auto* item = new QAction(vornEscapeMnemonic(title()), menu);
    item->setShortcut(shortcutFor(key, modifiers));
    item->setShortcutContext(Qt::ApplicationShortcut);
    // What the platform cannot do stays in the menu, visibly unavailable.
    item->setEnabled(isStandardActionAvailable(action));
    connect(item, &QAction::triggered, item, [action] { sendStandardAction(action); });
    connect(item, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
    titleUpdaters_[item] = std::move(title);
    menu->addAction(item);
    return item;
}

QAction* VornAppMenuController::addBoundItem(QMenu* menu, VornMenuTitle title, std::string_view key,
                                             VornMenuModifier modifiers, ItemBinding binding) {
    auto* item = new QAction(vornEscapeMnemonic(title()), menu);
    item->setShortcut(shortcutFor(key, modifiers));
    item->setShortcutContext(Qt::ApplicationShortcut);
    connect(item, &QAction::triggered, this, [this, item] { handleMenuAction(item); });
    connect(item, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
    itemBindings_[item] = std::move(binding);
    menu->addAction(item);
    return item;
}

void VornAppMenuController::populateEditMenu(QMenu* menu, const std::optional<VornEditMenuOverrides>& overrides) {
    struct Command {
        std::string_view en, tr, key;
        VornMenuModifier modifiers;
        VornStandardMenuAction standard;
        VornMenuAction override;
        VornMenuCheck canRun;
    };
    const VornEditMenuOverrides none;
    const VornEditMenuOverrides& given = overrides ? *overrides : none;
    const auto add = [&](const Command& command) {
        VornMenuTitle title = [this, en = command.en, tr = command.tr] { return localized(en, tr); };
        if (!command.override) {
            addStandardItem(menu, title, command.key, command.modifiers, command.standard);
            return;
        }
        // While text is being edited the command belongs to the text input, whatever the
        // application would do with it.
        const VornStandardMenuAction standard = command.standard;
        VornMenuCheck enabled;
        if (standard == VornStandardMenuAction::undo || standard == VornStandardMenuAction::redo) {
            enabled = [canRun = command.canRun] { return isTextInputFocused() || !canRun || canRun(); };
        }
        VornMenuAction run = [standard, override = command.override] {
            if (isTextInputFocused()) {
                sendStandardAction(standard);
            } else {
                override();
            }
        };
        addBoundItem(menu, title, command.key, command.modifiers, ItemBinding{title, enabled, nullptr, false, run});
    };
    add({"Undo", "Geri Al", "z", VornMenuModifier::command, VornStandardMenuAction::undo, given.undo, given.canUndo});
    add({"Redo", "Yinele", "z", VornMenuModifier::command | VornMenuModifier::shift, VornStandardMenuAction::redo,
         given.redo, given.canRedo});
    menu->addSeparator();
    add({"Cut", "Kes", "x", VornMenuModifier::command, VornStandardMenuAction::cut, given.cut, nullptr});
    add({"Copy", "Kopyala", "c", VornMenuModifier::command, VornStandardMenuAction::copy, given.copy, nullptr});
    add({"Paste", "Yapıştır", "v", VornMenuModifier::command, VornStandardMenuAction::paste, given.paste, nullptr});
    if (given.duplicate) {
        VornMenuTitle title = [this] { return localized("Duplicate", "Çoğalt"); };
        addBoundItem(menu, title, "d", VornMenuModifier::command,
                     ItemBinding{title, nullptr, nullptr, false, given.duplicate});
    }
    add({"Select All", "Tümünü Seç", "a", VornMenuModifier::command, VornStandardMenuAction::selectAll, given.selectAll,
         nullptr});
}

void VornAppMenuController::appendElements(const std::vector<VornMenuElement>& elements, QMenu* menu) {
    for (const VornMenuElement& element : elements) {
        switch (element.kind()) {
        case VornMenuElement::Kind::item: {
            QAction* item = addBoundItem(menu, element.title(), element.keyEquivalent(), element.modifiers(),
                                         ItemBinding{element.title(), element.isEnabled(), element.isHidden(),
                                                     element.skipWhenEditingText(), element.action()});
            if (element.isHidden()) {
                item->setVisible(!element.isHidden()());
            }
            break;
        }
        case VornMenuElement::Kind::divider: {
            QAction* separator = menu->addSeparator();
            if (element.isHidden()) {
                separator->setVisible(!element.isHidden()());
                hiddenChecks_[separator] = element.isHidden();
                connect(separator, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
            }
            break;
        }
        case VornMenuElement::Kind::submenu: {
            const VornMenuTitle& title = element.title();
            auto* submenu = new QMenu(title ? title() : QString(), menu);
            registerMenu(submenu, title);
            dynamicSubmenuBuilders_[submenu] = element.items();
            QAction* item = submenu->menuAction();
            titleUpdaters_[item] = title;
            connect(item, &QObject::destroyed, this, [this](QObject* object) { forget(object); });
            if (element.items()) {
                appendElements(element.items()(), submenu);
            }
            menu->addMenu(submenu);
            break;
        }
        }
    }
}

bool VornAppMenuController::applyItemState(QAction* item, const ItemBinding& binding) {
    if (binding.title) {
        item->setText(vornEscapeMnemonic(binding.title()));
    }
    bool enabled = true;
    if (binding.isHidden) {
        const bool hidden = binding.isHidden();
        item->setVisible(!hidden);
        if (hidden) {
            enabled = false;
        }
    } else {
        item->setVisible(true);
    }
    if (enabled && binding.skipWhenEditingText && isTextInputFocused()) {
        enabled = false;
    } else if (enabled && binding.isEnabled) {
        enabled = binding.isEnabled();
    }
    item->setEnabled(enabled);
    return enabled;
}

bool VornAppMenuController::validateMenuItem(QAction* item) {
    const auto found = itemBindings_.find(item);
    if (found == itemBindings_.end()) {
        return true;
    }
    // The binding is copied: a check may rebuild menus and so replace the stored one.
    const ItemBinding binding = found->second;
    return applyItemState(item, binding);
}

void VornAppMenuController::menuNeedsUpdate(QMenu* menu) {
    if (const auto title = menuTitleUpdaters_.find(menu); title != menuTitleUpdaters_.end() && title->second) {
        menu->setTitle(vornEscapeMnemonic(title->second()));
    }
    if (const auto builder = dynamicSubmenuBuilders_.find(menu); builder != dynamicSubmenuBuilders_.end()) {
        const auto build = builder->second;
        unregisterBindings(menu);
        // The old items go for good (clear() deletes the ones the menu owns, nested menus go
        // below): an item kept alive would keep its shortcut and its old closure.
        menu->clear();
        for (QMenu* nested : menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
            delete nested;
        }
        if (build) {
            appendElements(build(), menu);
        }
        return;
    }
    for (QAction* item : menu->actions()) {
        if (const auto binding = itemBindings_.find(item); binding != itemBindings_.end()) {
            const ItemBinding copy = binding->second;
            applyItemState(item, copy);
            continue;
        }
        if (const auto title = titleUpdaters_.find(item); title != titleUpdaters_.end() && title->second) {
            item->setText(vornEscapeMnemonic(title->second()));
        }
        if (const auto hidden = hiddenChecks_.find(item); hidden != hiddenChecks_.end() && hidden->second) {
            item->setVisible(!hidden->second());
        }
    }
}

void VornAppMenuController::unregisterBindings(QMenu* menu) {
    for (QAction* item : menu->actions()) {
        if (QMenu* submenu = item->menu()) {
            unregisterBindings(submenu);
            menuTitleUpdaters_.erase(submenu);
            dynamicSubmenuBuilders_.erase(submenu);
        }
        forget(item);
    }
}

void VornAppMenuController::forget(QObject* object) {
    itemBindings_.erase(object);
    hiddenChecks_.erase(object);
    titleUpdaters_.erase(object);
    menuTitleUpdaters_.erase(object);
    dynamicSubmenuBuilders_.erase(object);
}

void VornAppMenuController::handleMenuAction(QAction* item) {
    const auto found = itemBindings_.find(item);
    if (found == itemBindings_.end()) {
        return;
    }
    const ItemBinding binding = found->second;
    // A shortcut may arrive long after the menu was last opened: the item's checks decide now.
    if (!applyItemState(item, binding) || !binding.action) {
        return;
    }
    binding.action();
}

bool VornAppMenuController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        revalidateShortcut(key->keyCombination().toCombined());
    }
    return QObject::eventFilter(watched, event);
}

void VornAppMenuController::revalidateShortcut(int keyCombination) {
    std::vector<std::pair<QAction*, ItemBinding>> matching;
    for (const auto& [object, binding] : itemBindings_) {
        auto* item = static_cast<QAction*>(const_cast<QObject*>(object));
        const QKeySequence shortcut = item->shortcut();
        if (!shortcut.isEmpty() && shortcut[0].toCombined() == keyCombination) {
            matching.emplace_back(item, binding);
        }
    }
    for (const auto& [item, binding] : matching) {
        applyItemState(item, binding);
    }
}

std::size_t VornAppMenuController::registeredItemCount() const {
    return itemBindings_.size() + hiddenChecks_.size() + titleUpdaters_.size();
}

bool VornAppMenuController::isTextInputFocused() {
    QWidget* focus = focusedWidget();
    if (!focus) {
        return false;
    }
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QTextEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus) ||
        qobject_cast<QAbstractSpinBox*>(focus)) {
        return true;
    }
    auto* combo = qobject_cast<QComboBox*>(focus);
    return combo && combo->isEditable();
}

bool VornAppMenuController::isStandardActionAvailable(VornStandardMenuAction action) {
    // Linux gives no application a way to hide the others' windows.
    return action != VornStandardMenuAction::hideOtherApplications;
}

bool VornAppMenuController::sendStandardAction(VornStandardMenuAction action) {
    if (const char* slot = editSlot(action)) {
        QWidget* focus = focusedWidget();
        if (!focus) {
            return false;
        }
        QObject* receiver = focus;
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus); spin && action != VornStandardMenuAction::selectAll) {
            receiver = spin->findChild<QLineEdit*>();
        } else if (auto* combo = qobject_cast<QComboBox*>(focus); combo && combo->isEditable()) {
            receiver = combo->lineEdit();
        }
        if (!receiver) {
            return false;
        }
        const QByteArray signature = QByteArray(slot) + "()";
        if (receiver->metaObject()->indexOfMethod(signature.constData()) < 0) {
            return false;
        }
        return QMetaObject::invokeMethod(receiver, slot);
    }
    QWidget* active = QApplication::activeWindow();
    switch (action) {
    case VornStandardMenuAction::hide:
        // The nearest thing to hiding an application: every window of it goes to the task bar.
        for (QWidget* window : applicationWindows()) {
            if (window->isVisible()) window->showMinimized();
        }
        return true;
    case VornStandardMenuAction::hideOtherApplications:
        return false;
    case VornStandardMenuAction::unhideAllApplications:
        for (QWidget* window : applicationWindows()) {
            if (window->isMinimized()) window->showNormal();
        }
        return true;
    case VornStandardMenuAction::terminate:
        QApplication::closeAllWindows();
        QCoreApplication::quit();
        return true;
    case VornStandardMenuAction::performMiniaturize:
        if (!active) return false;
        active->showMinimized();
        return true;
    case VornStandardMenuAction::performClose:
        if (!active) return false;
        active->close();
        return true;
    case VornStandardMenuAction::arrangeInFront:
        for (QWidget* window : applicationWindows()) {
            if (window->isVisible() && !window->isMinimized()) window->raise();
        }
        if (active) active->activateWindow();
        return true;
    default:
        return false;
    }
}

// MARK: Launcher

std::shared_ptr<VornApplicationDelegate>& VornAppKitLauncher::strongDelegate() {
    static std::shared_ptr<VornApplicationDelegate> delegate;
    return delegate;
}

std::unique_ptr<VornAppMenuController>& VornAppKitLauncher::strongMenuController() {
    static std::unique_ptr<VornAppMenuController> controller;
    return controller;
}

VornAppMenuController* VornAppKitLauncher::menuController() { return strongMenuController().get(); }

int VornAppKitLauncher::run(std::string appName, std::shared_ptr<VornApplicationDelegate> delegate,
                            std::function<VornLanguage()> language, VornMenuTitle settingsTitle,
                            VornMenuAction onOpenSettings, std::vector<VornMenuElement> fileMenuItems,
                            std::optional<VornEditMenuOverrides> editOverrides, std::vector<VornCustomMenu> customMenus,
                            std::string closeWindowKeyEquivalent, VornMenuModifier closeWindowModifiers) {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!application) {
        return 1;
    }
    strongDelegate() = std::move(delegate);
    strongMenuController() = std::make_unique<VornAppMenuController>(
        std::move(appName), std::move(language), std::move(settingsTitle), std::move(onOpenSettings),
        std::move(fileMenuItems), std::move(editOverrides), std::move(customMenus),
        std::move(closeWindowKeyEquivalent), closeWindowModifiers);
    // Told once the event loop runs, as an application learns that it finished launching.
    QTimer::singleShot(0, application, [] {
        if (strongDelegate() && strongMenuController()) {
            strongDelegate()->applicationDidFinishLaunching(*strongMenuController());
        }
    });
    const QMetaObject::Connection aboutToQuit = QObject::connect(application, &QCoreApplication::aboutToQuit, [] {
        if (strongDelegate()) strongDelegate()->applicationWillTerminate();
    });
    const int code = QApplication::exec();
    QObject::disconnect(aboutToQuit);
    strongMenuController().reset();
    strongDelegate().reset();
    return code;
}
