#include "VornGlobalHotkeyManager.h"

#include "VornTestSupport.h"
#include "VornTestXSession.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <nlohmann/json.hpp>
#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr std::uint32_t keysymJ = 0x6a;
constexpr std::uint32_t keysymK = 0x6b;
constexpr std::uint32_t keysymL = 0x6c;
constexpr std::uint32_t keysymM = 0x6d;
constexpr std::uint16_t ctrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;


// Real key events through the X test extension, as a user typing them.
void press(const std::string& keys) {
    const VornShellResult result = vornShell("xdotool key " + keys);
    ASSERT_EQ(result.exitCode, 0) << result.output;
}

class VornGlobalHotkeyManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        VORN_REQUIRE_TOOL("Xvfb");
        VORN_REQUIRE_TOOL("openbox");
        VORN_REQUIRE_TOOL("xdotool");
        ASSERT_TRUE(vornTestXSession().display.ready()) << vornTestXSession().display.error();
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        keyJ = vornTestXSession().display.keyCode(keysymJ);
        keyK = vornTestXSession().display.keyCode(keysymK);
        keyL = vornTestXSession().display.keyCode(keysymL);
        keyM = vornTestXSession().display.keyCode(keysymM);
        ASSERT_NE(keyK, 0);
    }

    // A press of a sentinel key that `manager` holds, waited for: X delivers events in order, so
    // whatever an earlier press would have run has run by then.
    void settle(VornGlobalHotkeyManager& manager) {
        int sentinel = 0;
        const auto id = manager.registerHotkey({keyM, VornHotkeyDescriptor::cmdOptionFlag}, [&] { ++sentinel; });
        ASSERT_TRUE(id);
        press("ctrl+alt+m");
        ASSERT_TRUE(vornWaitFor([&] { return sentinel == 1; }));
        manager.unregister(*id);
    }

    std::uint8_t keyJ = 0, keyK = 0, keyL = 0, keyM = 0;
};

}  // namespace

TEST(VornHotkeyDescriptorTest, CodesExactlyTheTwoKeysAndNeedsBoth) {
    EXPECT_EQ(VornHotkeyDescriptor::cmdShiftFlag, 768u);
    EXPECT_EQ(VornHotkeyDescriptor::cmdOptionFlag, 2304u);
    const nlohmann::json json = VornHotkeyDescriptor(45, VornHotkeyDescriptor::cmdShiftFlag);
    EXPECT_EQ(json, nlohmann::json::parse(R"({"keyCode":45,"carbonModifiers":768})"));
    EXPECT_EQ(json.size(), 2u);
    EXPECT_EQ(json.get<VornHotkeyDescriptor>(), VornHotkeyDescriptor(45, 768));
    EXPECT_EQ(nlohmann::json::parse(R"({"carbonModifiers":0,"keyCode":4294967295,"extra":1})").get<VornHotkeyDescriptor>(),
              VornHotkeyDescriptor(4294967295u, 0));
    for (const char* bad : {R"({"keyCode":45})", R"({"carbonModifiers":768})", R"({})", R"([45,768])",
                            R"({"keyCode":-1,"carbonModifiers":768})", R"({"keyCode":4294967296,"carbonModifiers":0})",
                            R"({"keyCode":45.5,"carbonModifiers":0})", R"({"keyCode":"45","carbonModifiers":0})",
                            R"({"keyCode":45,"carbonModifiers":null})"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(nlohmann::json::parse(bad).get<VornHotkeyDescriptor>(), nlohmann::json::exception);
    }
    const std::hash<VornHotkeyDescriptor> hash;
    EXPECT_EQ(hash({45, 768}), hash({45, 768}));
    EXPECT_NE(hash({45, 768}), hash({768, 45}));
    EXPECT_NE(VornHotkeyDescriptor(45, 768), VornHotkeyDescriptor(45, 2304));
}

TEST_F(VornGlobalHotkeyManagerTest, APressRunsItsActionOnceOnTheGuiThreadWhateverTheLocks) {
    VornGlobalHotkeyManager manager;
    int runs = 0;
    bool onGuiThread = false;
    const auto id = manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] {
        ++runs;
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    ASSERT_EQ(id, std::optional<std::uint32_t>(1));

    press("ctrl+shift+k");
    ASSERT_TRUE(vornWaitFor([&] { return runs == 1; }));
    EXPECT_TRUE(onGuiThread);
    settle(manager);
    EXPECT_EQ(runs, 1) << "one press, one run";

    // CapsLock or NumLock on: still the same hot key.
    press("Caps_Lock ctrl+shift+k Caps_Lock");
    ASSERT_TRUE(vornWaitFor([&] { return runs == 2; }));
    press("Num_Lock ctrl+shift+k Num_Lock");
    ASSERT_TRUE(vornWaitFor([&] { return runs == 3; }));
    press("Num_Lock Caps_Lock ctrl+shift+k Caps_Lock Num_Lock");
    ASSERT_TRUE(vornWaitFor([&] { return runs == 4; }));

    // Held down long enough for the keyboard to repeat: still one press.
    const VornShellResult held = vornShell("xdotool keydown ctrl+shift+k sleep 1.5 keyup ctrl+shift+k");
    ASSERT_EQ(held.exitCode, 0) << held.output;
    ASSERT_TRUE(vornWaitFor([&] { return runs >= 5; })) << runs;
    settle(manager);
    EXPECT_EQ(runs, 5) << "a held key repeats, and a repeat is no new press";

    // Other modifiers make another combination.
    press("ctrl+k shift+k ctrl+alt+shift+k k");
    settle(manager);
    EXPECT_EQ(runs, 5);
}

TEST_F(VornGlobalHotkeyManagerTest, AKeyAnotherClientHoldsIsRefusedAndNothingChanges) {
    VornGlobalHotkeyManager manager;
    int ours = 0;
    ASSERT_EQ(manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++ours; }),
              std::optional<std::uint32_t>(1));
    {
        VornTestXGrabber other(keyJ, ctrlShift);
        ASSERT_TRUE(other.holdsGrab());
        int stolen = 0;
        EXPECT_EQ(manager.registerHotkey({keyJ, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++stolen; }), std::nullopt);
        // The refused registration used up 2.
        EXPECT_EQ(manager.registerHotkey({keyL, VornHotkeyDescriptor::cmdShiftFlag}, [] {}),
                  std::optional<std::uint32_t>(3));
        press("ctrl+shift+j");
        EXPECT_TRUE(other.waitForPress()) << "the other client keeps its key";
        press("ctrl+shift+k");
        ASSERT_TRUE(vornWaitFor([&] { return ours == 1; }));
        EXPECT_EQ(stolen, 0);
    }
    {
        // The other client holds only the CapsLock variant: the whole registration is refused, and
        // the variants grabbed before the refusal are let go again.
        VornTestXGrabber capsOnly(keyJ, ctrlShift | XCB_MOD_MASK_LOCK);
        ASSERT_TRUE(capsOnly.holdsGrab());
        EXPECT_EQ(manager.registerHotkey({keyJ, VornHotkeyDescriptor::cmdShiftFlag}, [] {}), std::nullopt);
        VornTestXGrabber plain(keyJ, ctrlShift);
        EXPECT_TRUE(plain.holdsGrab()) << "the refused registration left a grab behind";
    }
}

TEST_F(VornGlobalHotkeyManagerTest, UnregisteringFreesTheKeyAndIdentifiersAreNeverReused) {
    VornGlobalHotkeyManager manager;
    int runs = 0;
    const auto first = manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++runs; });
    ASSERT_EQ(first, std::optional<std::uint32_t>(1));
    {
        VornTestXGrabber other(keyK, ctrlShift);
        EXPECT_FALSE(other.holdsGrab()) << "a registered key is reserved on the display";
    }
    manager.unregister(*first);
    manager.unregister(*first);
    manager.unregister(999);
    {
        VornTestXGrabber other(keyK, ctrlShift);
        ASSERT_TRUE(other.holdsGrab()) << "an unregistered key is free again";
        press("ctrl+shift+k");
        EXPECT_TRUE(other.waitForPress());
    }
    settle(manager);  // takes identifier 2
    EXPECT_EQ(runs, 0);

    ASSERT_EQ(manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++runs; }),
              std::optional<std::uint32_t>(3));
    ASSERT_EQ(manager.registerHotkey({keyJ, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++runs; }),
              std::optional<std::uint32_t>(4));
    manager.unregisterAll();
    {
        VornTestXGrabber k(keyK, ctrlShift);
        VornTestXGrabber j(keyJ, ctrlShift);
        EXPECT_TRUE(k.holdsGrab());
        EXPECT_TRUE(j.holdsGrab());
    }
    EXPECT_EQ(manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++runs; }),
              std::optional<std::uint32_t>(5));
    press("ctrl+shift+k");
    ASSERT_TRUE(vornWaitFor([&] { return runs == 1; }));
}

TEST_F(VornGlobalHotkeyManagerTest, KeysOfOtherCodeInTheProcessAreNotHandledHere) {
    VornGlobalHotkeyManager manager;
    int ours = 0;
    ASSERT_TRUE(manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++ours; }));

    // Another manager of the same process cannot take the same combination, and its own key is
    // handled by it alone.
    VornGlobalHotkeyManager second;
    int theirs = 0;
    EXPECT_EQ(second.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++theirs; }), std::nullopt);
    ASSERT_TRUE(second.registerHotkey({keyL, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++theirs; }));

    // Code that grabs a key on Qt's connection itself, without a manager.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_grab_key_checked(connection, 0, root, ctrlShift, keyJ, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(error, nullptr);

    press("ctrl+shift+j ctrl+shift+l");
    ASSERT_TRUE(vornWaitFor([&] { return theirs == 1; }));
    settle(manager);
    EXPECT_EQ(ours, 0);
    EXPECT_EQ(theirs, 1);
    xcb_ungrab_key(connection, keyJ, root, ctrlShift);
    xcb_flush(connection);
}

TEST_F(VornGlobalHotkeyManagerTest, UnusableCombinationsAndWaylandAreRefused) {
    VornGlobalHotkeyManager manager;
    EXPECT_EQ(manager.registerHotkey({keyK, 1u << 20}, [] {}), std::nullopt) << "an unknown modifier bit";
    EXPECT_EQ(manager.registerHotkey({7, VornHotkeyDescriptor::cmdShiftFlag}, [] {}), std::nullopt);
    EXPECT_EQ(manager.registerHotkey({256, VornHotkeyDescriptor::cmdShiftFlag}, [] {}), std::nullopt);
    EXPECT_EQ(manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, {}), std::nullopt) << "no action";
    {
        VornScopedEnv wayland("XDG_SESSION_TYPE", "wayland");
        EXPECT_EQ(manager.registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [] {}), std::nullopt);
    }
    EXPECT_EQ(manager.nextID(), 6u);
    // None of them holds anything on the display.
    VornTestXGrabber other(keyK, ctrlShift);
    EXPECT_TRUE(other.holdsGrab());
}

TEST_F(VornGlobalHotkeyManagerTest, ADestroyedManagerLetsItsKeysGoAndRunsNothingMore) {
    int runs = 0;
    auto manager = std::make_unique<VornGlobalHotkeyManager>();
    ASSERT_TRUE(manager->registerHotkey({keyK, VornHotkeyDescriptor::cmdShiftFlag}, [&] { ++runs; }));
    // One key's action destroys the manager; the press of the other, right behind it, is either
    // queued already (and then dropped with the manager) or arrives after it is gone.
    ASSERT_TRUE(manager->registerHotkey({keyL, VornHotkeyDescriptor::cmdShiftFlag}, [&] { manager.reset(); }));
    press("ctrl+shift+l ctrl+shift+k");
    ASSERT_TRUE(vornWaitFor([&] { return manager == nullptr; }));

    VornGlobalHotkeyManager other;
    settle(other);
    EXPECT_EQ(runs, 0);
    VornTestXGrabber grabber(keyK, ctrlShift);
    EXPECT_TRUE(grabber.holdsGrab()) << "the destroyed manager still holds its key";
    press("ctrl+shift+k");
    EXPECT_TRUE(grabber.waitForPress());
    EXPECT_EQ(runs, 0);
}
