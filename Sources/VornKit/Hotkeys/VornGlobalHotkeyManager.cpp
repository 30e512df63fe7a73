#include "VornGlobalHotkeyManager.h"

#include "VornHash.h"
#include "VornPermissionCenter.h"

#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QtGui/qguiapplication_platform.h>

#include <nlohmann/json.hpp>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

constexpr std::uint32_t knownModifiers =
    VornHotkeyDescriptor::cmdKey | VornHotkeyDescriptor::shiftKey | VornHotkeyDescriptor::alphaLock |
    VornHotkeyDescriptor::optionKey | VornHotkeyDescriptor::controlKey | VornHotkeyDescriptor::rightShiftKey |
    VornHotkeyDescriptor::rightOptionKey | VornHotkeyDescriptor::rightControlKey;

// The modifiers that choose a combination; the lock keys and mouse buttons do not.
constexpr std::uint16_t chordModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

std::optional<std::uint16_t> xModifiers(std::uint32_t carbon) {
    if ((carbon & ~knownModifiers) != 0) {
        return std::nullopt;
    }
    std::uint16_t mask = 0;
    if (carbon & VornHotkeyDescriptor::cmdKey) {
        mask |= XCB_MOD_MASK_CONTROL;
    }
    if (carbon & (VornHotkeyDescriptor::shiftKey | VornHotkeyDescriptor::rightShiftKey)) {
        mask |= XCB_MOD_MASK_SHIFT;
    }
    if (carbon & (VornHotkeyDescriptor::optionKey | VornHotkeyDescriptor::rightOptionKey)) {
        mask |= XCB_MOD_MASK_1;
    }
    if (carbon & (VornHotkeyDescriptor::controlKey | VornHotkeyDescriptor::rightControlKey)) {
        mask |= XCB_MOD_MASK_4;
    }
    return mask;
}

xcb_connection_t* xConnection() {
    if (qGuiApp == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    // Wayland gives no program the whole desktop's keys; under XWayland a grab would only see the
    // keys typed into X windows, which is not what a global hot key promises.
    if (VornPermissionCenter::sessionType() == VornSessionType::wayland) {
        return nullptr;
    }
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 == nullptr ? nullptr : x11->connection();
}

std::vector<xcb_window_t> roots(xcb_connection_t* connection) {
    std::vector<xcb_window_t> windows;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem > 0; xcb_screen_next(&it)) {
        windows.push_back(it.data->root);
    }
    return windows;
}

// The modifier bit NumLock sets on this display (Mod2 on most), from the keyboard's own mapping.
std::uint16_t numLockMask(xcb_connection_t* connection) {
    constexpr xcb_keysym_t numLock = 0xff7f;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const auto count = std::uint8_t(setup->max_keycode - setup->min_keycode + 1);
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> keyboard(
        xcb_get_keyboard_mapping_reply(connection,
                                       xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr),
        &std::free);
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> modifiers(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr), &std::free);
    if (!keyboard || !modifiers) {
        return XCB_MOD_MASK_2;
    }
    std::vector<xcb_keycode_t> numLockCodes;
    const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    const int perCode = keyboard->keysyms_per_keycode;
    const int total = xcb_get_keyboard_mapping_keysyms_length(keyboard.get());
    for (int i = 0; i < total; ++i) {
        if (symbols[i] == numLock && perCode > 0) {
            numLockCodes.push_back(xcb_keycode_t(setup->min_keycode + i / perCode));
        }
    }
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t code = codes[modifier * perModifier + k];
            if (code != 0 && std::find(numLockCodes.begin(), numLockCodes.end(), code) != numLockCodes.end()) {
                return std::uint16_t(1u << modifier);
            }
        }
    }
    return XCB_MOD_MASK_2;
}

struct Combination {
    xcb_keycode_t keyCode;
    std::uint16_t modifiers;
    auto operator<=>(const Combination&) const = default;
};

struct Owner {
    const void* manager;
    std::uint32_t id;
};

// Every combination this process holds, whichever manager registered it: the display would let
// one client grab a combination twice, and the platform's hot keys never allow that.
std::map<Combination, Owner>& heldCombinations() {
    static std::map<Combination, Owner> held;
    return held;
}

}  // namespace

void to_json(nlohmann::json& json, const VornHotkeyDescriptor& descriptor) {
    json = nlohmann::json{{"keyCode", descriptor.keyCode}, {"carbonModifiers", descriptor.carbonModifiers}};
}

void from_json(const nlohmann::json& json, VornHotkeyDescriptor& descriptor) {
    auto field = [&](const char* key) {
        const nlohmann::json& value = json.at(key);
        if (!value.is_number_integer() ||
            (value.is_number_unsigned() ? value.get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max()
                                        : value.get<std::int64_t>() < 0 ||
                                              value.get<std::int64_t>() > std::numeric_limits<std::uint32_t>::max())) {
            throw nlohmann::json::type_error::create(
                302, std::string(key) + " must be an unsigned 32-bit integer", &value);
        }
        return std::uint32_t(value.get<std::uint64_t>());
    };
    descriptor = VornHotkeyDescriptor(field("keyCode"), field("carbonModifiers"));
}

std::size_t std::hash<VornHotkeyDescriptor>::operator()(const VornHotkeyDescriptor& descriptor) const noexcept {
    return vornHashOf(descriptor.keyCode, descriptor.carbonModifiers);
}

struct VornGlobalHotkeyManager::Grab {
    Combination combination;
    // Every (root window, modifier variant) pair grabbed for it.
    std::vector<std::pair<xcb_window_t, std::uint16_t>> grabbed;
};

VornGlobalHotkeyManager::VornGlobalHotkeyManager() : context_(std::make_unique<QObject>()) {
    if (qGuiApp != nullptr) {
        qGuiApp->installNativeEventFilter(&filter_);
        filterInstalled_ = true;
    }
}

VornGlobalHotkeyManager::~VornGlobalHotkeyManager() {
    if (filterInstalled_ && qGuiApp != nullptr) {
        qGuiApp->removeNativeEventFilter(&filter_);
    }
    unregisterAll();
}

std::optional<std::uint32_t> VornGlobalHotkeyManager::registerHotkey(const VornHotkeyDescriptor& descriptor,
                                                                     Action action) {
    if (exhausted_) {
        return std::nullopt;
    }
    const std::uint32_t id = nextID_;
    if (nextID_ == std::numeric_limits<std::uint32_t>::max()) {
        exhausted_ = true;
    } else {
        ++nextID_;
    }

    xcb_connection_t* connection = xConnection();
    const std::optional<std::uint16_t> modifiers = xModifiers(descriptor.carbonModifiers);
    if (connection == nullptr || !modifiers || descriptor.keyCode < 8 || descriptor.keyCode > 255 || !action) {
        return std::nullopt;
    }
    auto grab = std::make_shared<Grab>();
    grab->combination = Combination{xcb_keycode_t(descriptor.keyCode), *modifiers};
    if (heldCombinations().contains(grab->combination)) {
        return std::nullopt;
    }

    const std::uint16_t numLock = numLockMask(connection);
    const std::array<std::uint16_t, 4> variants{0, XCB_MOD_MASK_LOCK, numLock,
                                                std::uint16_t(XCB_MOD_MASK_LOCK | numLock)};
    std::vector<std::pair<std::pair<xcb_window_t, std::uint16_t>, xcb_void_cookie_t>> requests;
    for (const xcb_window_t root : roots(connection)) {
        for (const std::uint16_t variant : variants) {
            const std::uint16_t mask = std::uint16_t(*modifiers | variant);
            // Not owner events: the press goes to the root, even when one of our own windows has
            // the focus, so Qt never takes it for typing.
            requests.push_back({{root, mask},
                                xcb_grab_key_checked(connection, 0, root, mask, grab->combination.keyCode,
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
        }
    }
    bool refused = false;
    for (const auto& [target, cookie] : requests) {
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            // BadAccess: another client holds this combination (or one of its lock variants).
            std::free(error);
            refused = true;
        } else {
            grab->grabbed.push_back(target);
        }
    }
    if (refused) {
        // Leave the display as it was: what was grabbed before the refusal is let go.
        release(*grab);
        return std::nullopt;
    }
    heldCombinations()[grab->combination] = Owner{this, id};
    hotKeyRefs_[id] = std::move(grab);
    handlers_[id] = std::move(action);
    return id;
}

void VornGlobalHotkeyManager::release(const Grab& grab) {
    xcb_connection_t* connection = xConnection();
    if (connection == nullptr) {
        return;
    }
    for (const auto& [root, mask] : grab.grabbed) {
        xcb_ungrab_key(connection, grab.combination.keyCode, root, mask);
    }
    xcb_flush(connection);
}

void VornGlobalHotkeyManager::unregister(std::uint32_t id) {
    if (const auto found = hotKeyRefs_.find(id); found != hotKeyRefs_.end()) {
        release(*found->second);
        heldCombinations().erase(found->second->combination);
        hotKeyRefs_.erase(found);
    }
    handlers_.erase(id);
}

void VornGlobalHotkeyManager::unregisterAll() {
    for (const auto& [id, grab] : hotKeyRefs_) {
        release(*grab);
        heldCombinations().erase(grab->combination);
    }
    hotKeyRefs_.clear();
    handlers_.clear();
}

bool VornGlobalHotkeyManager::Filter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || message == nullptr) {
        return false;
    }
    return manager_.handleKeyPress(message);
}

bool VornGlobalHotkeyManager::handleKeyPress(const void* message) {
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    // Press and release events share one layout.
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    if (type == XCB_KEY_RELEASE) {
        // The modifiers may have been let go first, so a release counts for its key alone.
        if (const auto state = keyStates_.find(key->detail); state != keyStates_.end()) {
            state->second.down = false;
            state->second.releaseTime = key->time;
        }
        return false;
    }
    const Combination combination{key->detail, std::uint16_t(key->state & chordModifiers)};
    const auto held = heldCombinations().find(combination);
    // Keys grabbed by other code of this process, or by another manager, are theirs to handle.
    if (held == heldCombinations().end() || held->second.manager != this) {
        return false;
    }
    KeyState& state = keyStates_[key->detail];
    // A held key repeats: as presses without releases where the client asked the keyboard to say
    // so, else as a release and a press at the same instant. Neither is a new press.
    const bool repeat = state.down || (state.releaseTime && *state.releaseTime == key->time);
    state.down = true;
    if (repeat) {
        return true;
    }
    const std::uint32_t id = held->second.id;
    // The action runs after this handler has returned, and only if the key is still registered.
    QMetaObject::invokeMethod(
        context_.get(),
        [this, id] {
            const auto handler = handlers_.find(id);
            if (handler != handlers_.end()) {
                // A copy: the action may unregister itself.
                const Action action = handler->second;
                action();
            }
        },
        Qt::QueuedConnection);
    return true;
}
