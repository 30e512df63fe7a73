#pragma once

#include <QAbstractNativeEventFilter>

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QObject;

// One system-wide shortcut as it is stored: an X key code (8 to 255, the code the keyboard sends,
// as `xev` or `xdotool` show it) and a modifier mask in the suite's stored encoding.
//
// The mask keeps the encoding the suite's applications have always saved (command 256, shift 512,
// option 2048, control 4096; CapsLock 1024 is ignored) and reads it as Qt does on Linux: command is
// Ctrl, option is Alt, control is the Super key.
struct VornHotkeyDescriptor {
    std::uint32_t keyCode = 0;
    std::uint32_t carbonModifiers = 0;

    static constexpr std::uint32_t cmdKey = 256;
    static constexpr std::uint32_t shiftKey = 512;
    static constexpr std::uint32_t alphaLock = 1024;
    static constexpr std::uint32_t optionKey = 2048;
    static constexpr std::uint32_t controlKey = 4096;
    static constexpr std::uint32_t rightShiftKey = 8192;
    static constexpr std::uint32_t rightOptionKey = 16384;
    static constexpr std::uint32_t rightControlKey = 32768;

    static constexpr std::uint32_t cmdShiftFlag = cmdKey | shiftKey;     // 768
    static constexpr std::uint32_t cmdOptionFlag = cmdKey | optionKey;   // 2304

    VornHotkeyDescriptor() = default;
    VornHotkeyDescriptor(std::uint32_t keyCode, std::uint32_t carbonModifiers)
        : keyCode(keyCode), carbonModifiers(carbonModifiers) {}

    friend bool operator==(const VornHotkeyDescriptor&, const VornHotkeyDescriptor&) = default;
};

// {"keyCode": …, "carbonModifiers": …}; decoding needs both, each an unsigned 32-bit integer, and
// throws nlohmann::json::exception otherwise.
void to_json(nlohmann::json& json, const VornHotkeyDescriptor& descriptor);
void from_json(const nlohmann::json& json, VornHotkeyDescriptor& descriptor);

template <>
struct std::hash<VornHotkeyDescriptor> {
    std::size_t operator()(const VornHotkeyDescriptor& descriptor) const noexcept;
};

// System-wide shortcuts: each registration grabs its key combination on the X display through
// Qt's own connection (with every CapsLock and NumLock variant, so the key works whatever their
// state), and a native event filter on the GUI thread runs the action, queued, once the press has
// been handled. A key held down runs its action once: the keyboard's repeats are not presses.
//
// A combination that another X client, or another registration in this process, holds already is
// refused and nothing is grabbed. Under Wayland no program may grab keys for the whole desktop, so
// every registration is refused there; so it is without an X display (Qt's offscreen platform).
//
// Every call belongs on the GUI thread, after the QGuiApplication exists.
class VornGlobalHotkeyManager {
public:
    using Action = std::function<void()>;

    // The four-character code "VORN" that marks this framework's hot keys.
    static constexpr std::uint32_t signature = 0x564F524E;

    VornGlobalHotkeyManager();
    // Releases every key this manager holds; actions still queued do not run.
    ~VornGlobalHotkeyManager();
    VornGlobalHotkeyManager(const VornGlobalHotkeyManager&) = delete;
    VornGlobalHotkeyManager& operator=(const VornGlobalHotkeyManager&) = delete;

    // (Named so because `register` is a C++ keyword.) The new identifier, or nothing when the key
    // cannot be had. Each call takes the next identifier first, so a refused one is used up too;
    // after 4,294,967,295 identifiers every registration is refused rather than reusing one.
    std::optional<std::uint32_t> registerHotkey(const VornHotkeyDescriptor& descriptor, Action action);
    // Unknown or already removed identifiers do nothing.
    void unregister(std::uint32_t id);
    void unregisterAll();

    std::uint32_t nextID() const { return nextID_; }

private:
    struct Grab;
    class Filter : public QAbstractNativeEventFilter {
    public:
        explicit Filter(VornGlobalHotkeyManager& manager) : manager_(manager) {}
        bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    private:
        VornGlobalHotkeyManager& manager_;
    };

    // Whether a key is down, and when it was last let go, by key code: a held key's repeats are
    // told from new presses by them.
    struct KeyState {
        bool down = false;
        std::optional<std::uint32_t> releaseTime;
    };

    bool handleKeyPress(const void* event);
    void release(const Grab& grab);

    std::uint32_t nextID_ = 1;
    bool exhausted_ = false;
    std::map<std::uint32_t, std::shared_ptr<Grab>> hotKeyRefs_;
    std::map<std::uint32_t, Action> handlers_;
    std::map<std::uint8_t, KeyState> keyStates_;
    Filter filter_{*this};
    bool filterInstalled_ = false;
    // Queued actions run in this object's name; it goes with the manager, and so do they.
    std::unique_ptr<QObject> context_;
};
