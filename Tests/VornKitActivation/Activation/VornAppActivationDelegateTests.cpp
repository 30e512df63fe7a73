#include "VornAppActivationDelegate.h"

#include "VornAppLogger.h"
#include "VornNotificationCenter.h"
#include "VornTestSupport.h"
#include "VornTestXSession.h"

#include <QGuiApplication>
#include <QRasterWindow>

#include <nlohmann/json.hpp>

#include <chrono>
#include <memory>
#include <thread>

#include <sys/utsname.h>

namespace {


// A plain window that paints itself, so the window manager maps and manages it like any other.
class TestWindow : public QRasterWindow {
public:
    explicit TestWindow(Qt::WindowType type, const QString& title) {
        setFlags(type);
        setTitle(title);
        resize(320, 200);
    }
};

// Minimizes `window` through the window manager, as a user clicking its button would.
bool minimizeThroughWindowManager(QWindow& window) {
    const VornShellResult result = vornShell("xdotool windowminimize " + std::to_string(window.winId()));
    if (result.exitCode != 0) {
        ADD_FAILURE() << result.output;
        return false;
    }
    return vornWaitFor([&] { return bool(window.windowStates() & Qt::WindowMinimized) && !window.isExposed(); });
}

class VornAppActivationDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        VORN_REQUIRE_TOOL("Xvfb");
        VORN_REQUIRE_TOOL("openbox");
        VORN_REQUIRE_TOOL("xdotool");
        ASSERT_TRUE(vornTestXSession().display.ready()) << vornTestXSession().display.error();
        reopened = VornNotificationCenter::defaultCenter().addObserver(
            std::string(vornReopenStudioWindow), [this](const VornNotification& notification) {
                ++reopenPosts;
                EXPECT_FALSE(notification.object.has_value());
            });
    }
    void TearDown() override { VornNotificationCenter::defaultCenter().removeObserver(reopened); }

    VornTestTempDir dir;
    VornScopedEnv data{"XDG_DATA_HOME", (dir / "data").string()};
    VornObserverToken reopened;
    int reopenPosts = 0;
};

VornBundle bundle(nlohmann::json info) {
    return VornBundle(std::string("com.vornworks.test"), std::move(info), std::filesystem::path());
}

}  // namespace

TEST_F(VornAppActivationDelegateTest, LaunchLogsNameVersionAndSystem) {
    struct Case {
        nlohmann::json info;
        std::string name;
        std::string version;
    };
    const std::string process = VornBundle::processName();
    const std::vector<Case> cases = {
        {{{"CFBundleDisplayName", "Notes"}, {"CFBundleName", "NotesApp"}, {"CFBundleShortVersionString", "2.1"},
          {"CFBundleVersion", "57"}},
         "Notes", "v2.1 (57)"},
        {{{"CFBundleName", "Ledger"}, {"CFBundleDisplayName", 42}, {"CFBundleShortVersionString", "3.0.1"}},
         "Ledger", "v3.0.1 (100)"},
        {{{"CFBundleDisplayName", nullptr}}, process, "v1.0.0 (100)"},
        // Taken as they are: no trimming, no test for emptiness.
        {{{"CFBundleDisplayName", " Spaced "}}, " Spaced ", "v1.0.0 (100)"},
    };
    const std::string system = VornAppActivationDelegate::operatingSystemVersionString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VornAppActivationDelegate delegate(bundle(c.info));
        EXPECT_EQ(delegate.applicationName(), c.name);
        delegate.applicationDidFinishLaunching();
        const auto entries = VornAppLogger::shared(c.name)->recentEntries(10, VornLogLevel::debug);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].level, VornLogLevel::info);
        EXPECT_EQ(entries[0].category, "lifecycle");
        EXPECT_EQ(entries[0].message, c.name + " " + c.version + " launched (Linux " + system + ")");
    }
    EXPECT_EQ(reopenPosts, 0);
}

TEST(VornAppActivationDelegateSystemTest, TheSystemNameComesFromOsRelease) {
    VornTestTempDir dir;
    struct Case {
        std::string content;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"# comment\nNAME=Fedora\nVERSION='40 (Workstation Edition)'\n", "Fedora 40 (Workstation Edition)"},
        {"PRETTY_NAME=\"Quoted \\\"name\\\" \\\\ \\$HOME\"\n", "Quoted \"name\" \\ $HOME"},
        {"PRETTY_NAME=\"Evil\x1b[2J\tname\rx\"\n", "Evil [2J name x"},
        {"PRETTY_NAME=\nNAME=Arch Linux\n", "Arch Linux"},
        {"garbage without equals\n=novalue\n", "Linux"},
        {"PRETTY_NAME=\"Big\"\n" + std::string(1 << 20, 'x') + "\nPRETTY_NAME=\"beyond the cap\"\n", "Big"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].expected);
        const auto file = dir.write("os-release-" + std::to_string(i), cases[i].content);
        EXPECT_EQ(VornAppActivationDelegate::operatingSystemVersionString({file}), cases[i].expected);
    }
    // The first file that exists wins; with none, the kernel's release.
    const auto second = dir.write("usr-lib-os-release", "PRETTY_NAME=\"From usr/lib\"\n");
    EXPECT_EQ(VornAppActivationDelegate::operatingSystemVersionString({dir / "missing", second}), "From usr/lib");
    utsname system{};
    ASSERT_EQ(::uname(&system), 0);
    EXPECT_EQ(VornAppActivationDelegate::operatingSystemVersionString({dir / "missing"}), system.release);
    EXPECT_FALSE(VornAppActivationDelegate::operatingSystemVersionString().empty());
}

TEST_F(VornAppActivationDelegateTest, ReopenWithoutVisibleWindowsPostsOnceAndFrontsNothing) {
    TestWindow hidden(Qt::Window, QStringLiteral("hidden main"));
    hidden.create();
    VornAppActivationDelegate delegate(bundle({{"CFBundleName", "Reopener"}}));
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_EQ(reopenPosts, 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(hidden.isVisible()) << "a hidden window is the application's to show again";

    TestWindow main(Qt::Window, QStringLiteral("main"));
    main.show();
    ASSERT_TRUE(vornWaitFor([&] { return main.isExposed(); }));
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(true));
    EXPECT_EQ(reopenPosts, 1) << "visible windows: nothing is posted";
    EXPECT_TRUE(vornWaitFor([&] { return QGuiApplication::focusWindow() == &main; }));
    EXPECT_FALSE(hidden.isVisible());
}

TEST_F(VornAppActivationDelegateTest, AMinimizedMainWindowIsRestoredAndActivatedButNeverAPanel) {
    // The panels come first in the window order, and one has the focus.
    TestWindow panel(Qt::Tool, QStringLiteral("floating panel"));
    TestWindow popup(Qt::Dialog, QStringLiteral("dialog"));
    TestWindow unmanaged(Qt::Window, QStringLiteral("unmanaged, like a tray icon's"));
    unmanaged.setFlag(Qt::X11BypassWindowManagerHint);
    TestWindow attached(Qt::Window, QStringLiteral("attached to the panel"));
    attached.setTransientParent(&panel);
    panel.show();
    popup.show();
    unmanaged.show();
    attached.show();
    TestWindow main(Qt::Window, QStringLiteral("main"));
    main.show();
    ASSERT_TRUE(vornWaitFor([&] {
        return main.isExposed() && panel.isExposed() && popup.isExposed() && unmanaged.isExposed() &&
               attached.isExposed();
    })) << main.isExposed() << panel.isExposed() << popup.isExposed() << unmanaged.isExposed() << attached.isExposed();
    ASSERT_EQ(QGuiApplication::topLevelWindows().indexOf(&panel), 0);

    VornAppActivationDelegate delegate(bundle({{"CFBundleName", "Fronter"}}));
    // At reopen.
    ASSERT_TRUE(minimizeThroughWindowManager(main));
    panel.requestActivate();
    ASSERT_TRUE(vornWaitFor([&] { return QGuiApplication::focusWindow() == &panel; }));
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(true));
    EXPECT_TRUE(vornWaitFor([&] {
        return main.isExposed() && !(main.windowStates() & Qt::WindowMinimized) &&
               QGuiApplication::focusWindow() == &main;
    }));
    EXPECT_EQ(reopenPosts, 0);

    // At launch, a tenth of a second later.
    ASSERT_TRUE(minimizeThroughWindowManager(main));
    panel.requestActivate();
    ASSERT_TRUE(vornWaitFor([&] { return QGuiApplication::focusWindow() == &panel; }));
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(main.windowStates() & Qt::WindowMinimized) << "not before the delay";
    EXPECT_TRUE(vornWaitFor([&] {
        return main.isExposed() && !(main.windowStates() & Qt::WindowMinimized) &&
               QGuiApplication::focusWindow() == &main;
    }));
    EXPECT_TRUE(panel.isVisible());
    EXPECT_FALSE(panel.windowStates() & Qt::WindowMinimized);
}
