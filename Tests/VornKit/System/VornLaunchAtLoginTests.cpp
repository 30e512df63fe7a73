#include "VornLaunchAtLogin.h"
#include "VornPermissionCenter.h"
#include "VornTestSupport.h"

#include <gio/gdesktopappinfo.h>

#include <chrono>
#include <thread>

namespace fs = std::filesystem;

namespace {

class VornLaunchAtLoginTest : public ::testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv config{"XDG_CONFIG_HOME", (dir / "config").string()};
    VornScopedEnv system{"XDG_CONFIG_DIRS", (dir / "system").string()};
    fs::path systemEntry = dir / "system" / "autostart" / VornLaunchAtLogin::entryPath().filename();
};

// GLib's own desktop-entry reader, the one GNOME's session uses for autostart.
std::optional<std::string> executableSeenByGLib(const fs::path& entry) {
    GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());
    if (info == nullptr) {
        return std::nullopt;
    }
    gchar** argv = nullptr;
    gint argc = 0;
    std::optional<std::string> executable;
    char* exec = g_desktop_app_info_get_string(info, "Exec");
    if (exec != nullptr && g_shell_parse_argv(exec, &argc, &argv, nullptr) && argc == 1) {
        executable = argv[0];
    }
    g_strfreev(argv);
    g_free(exec);
    g_object_unref(info);
    return executable;
}

TEST_F(VornLaunchAtLoginTest, EnablingWritesAnEntryThatStartsThisProgram) {
    EXPECT_FALSE(VornLaunchAtLogin::isEnabled());
    ASSERT_TRUE(VornLaunchAtLogin::setEnabled(true));
    EXPECT_TRUE(VornLaunchAtLogin::isEnabled());
    const fs::path entry = dir / "config" / "autostart" / "com.vornworks.vornsled.desktop";
    EXPECT_EQ(VornLaunchAtLogin::entryPath(), entry);
    EXPECT_EQ(executableSeenByGLib(entry), fs::read_symlink("/proc/self/exe").string());

    ASSERT_TRUE(VornLaunchAtLogin::setEnabled(false));
    EXPECT_FALSE(VornLaunchAtLogin::isEnabled());
    EXPECT_FALSE(fs::exists(entry)) << "nothing of the system's to hide: the entry goes";
    EXPECT_TRUE(VornLaunchAtLogin::setEnabled(false)) << "turning off what is off succeeds";
}

TEST_F(VornLaunchAtLoginTest, HostileProgramPathsSurviveTheDesktopEntryQuoting) {
    const std::vector<std::string> folders = {
        "My Apps", "q\"uote/$HOME/`id`", "back\\slash", "tab\there;&|<>*?#()~'",
    };
    for (const std::string& folder : folders) {
        // GLib only reads entries whose program exists.
        const std::string program = dir.write("programs/" + folder + "/vornsled", "#!/bin/sh\n").string();
        fs::permissions(program, fs::perms::owner_all);
        const auto index = &folder - folders.data();
        const fs::path entry = dir.write("probe/" + std::to_string(index) + ".desktop",
                                         "[Desktop Entry]\nType=Application\nName=Probe\nExec=" +
                                             VornLaunchAtLogin::execValue(program) + "\n");
        EXPECT_EQ(executableSeenByGLib(entry), program) << VornLaunchAtLogin::execValue(program);
    }
    // GLib looks a program up before it expands field codes, so a literal % is checked here alone.
    EXPECT_EQ(VornLaunchAtLogin::execValue("/opt/100%/v"), "\"/opt/100%%/v\"");
    EXPECT_EQ(VornLaunchAtLogin::execValue("/opt/line\nbreak"), "");
    EXPECT_EQ(VornLaunchAtLogin::execValue(""), "");
}

TEST_F(VornLaunchAtLoginTest, TheUserEntryOverridesTheSystemsAndTurnsItOffByHiding) {
    dir.write(fs::relative(systemEntry, dir.path()), "[Desktop Entry]\nType=Application\nName=V\nExec=vornsled\n");
    EXPECT_TRUE(VornLaunchAtLogin::isEnabled());
    ASSERT_TRUE(VornLaunchAtLogin::setEnabled(false));
    EXPECT_FALSE(VornLaunchAtLogin::isEnabled());
    EXPECT_NE(vornReadFile(VornLaunchAtLogin::entryPath()).find("Hidden=true"), std::string::npos);
    EXPECT_TRUE(fs::exists(systemEntry)) << "the system's entry is never touched";
    ASSERT_TRUE(VornLaunchAtLogin::setEnabled(true));
    EXPECT_TRUE(VornLaunchAtLogin::isEnabled());
}

TEST_F(VornLaunchAtLoginTest, EntriesSwitchedOffOrUnreadableReadAsOff) {
    const std::vector<std::pair<std::string, bool>> entries = {
        {"[Desktop Entry]\nType=Application\nExec=x\n", true},
        {"[Desktop Entry]\nExec=x\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled = false\r\n", false},
        {"[Other Group]\nHidden=true\n[Desktop Entry]\nExec=x\n", true},
        {"[Desktop Entry]\nExec=x\n[Desktop Action hide]\nHidden=true\n", true},
        {"not an entry at all", false},
        {std::string(70 * 1024, '#'), false},
    };
    for (const auto& [text, expected] : entries) {
        dir.write(fs::relative(VornLaunchAtLogin::entryPath(), dir.path()), text);
        EXPECT_EQ(VornLaunchAtLogin::isEnabled(), expected) << text.substr(0, 80);
    }
    fs::remove(VornLaunchAtLogin::entryPath());
    ASSERT_EQ(::mkfifo(VornLaunchAtLogin::entryPath().c_str(), 0600), 0);
    EXPECT_FALSE(VornLaunchAtLogin::isEnabled()) << "a FIFO in its place neither hangs nor counts";
}

TEST(VornPermissionCenterTest, SettingsLinksAndRawValuesAreKeptExactly) {
    EXPECT_EQ(rawValue(VornSystemPermissionKind::screenRecording), "screenRecording");
    EXPECT_EQ(fromRawValue<VornSystemPermissionKind>("systemAudio"), VornSystemPermissionKind::systemAudio);
    EXPECT_EQ(fromRawValue<VornSystemPermissionKind>("SystemAudio"), std::nullopt);
    EXPECT_EQ(settingsURL(VornSystemPermissionKind::accessibility),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
    EXPECT_EQ(settingsURL(VornSystemPermissionKind::screenRecording),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
    EXPECT_EQ(settingsURL(VornSystemPermissionKind::systemAudio),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture");
}

TEST(VornPermissionCenterTest, GrantsFollowTheSessionType) {
    struct Case {
        std::optional<std::string> sessionType, wayland, display;
        VornSessionType expected;
    };
    const std::vector<Case> cases = {
        {"x11", std::nullopt, ":0", VornSessionType::x11},
        {"wayland", "wayland-0", ":0", VornSessionType::wayland},  // Xwayland's DISPLAY does not make it X11
        {std::nullopt, "wayland-0", ":0", VornSessionType::wayland},
        {std::nullopt, std::nullopt, ":1", VornSessionType::x11},
        {"tty", std::nullopt, std::nullopt, VornSessionType::none},
    };
    for (const Case& c : cases) {
        VornScopedEnv session("XDG_SESSION_TYPE", c.sessionType);
        VornScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        VornScopedEnv display("DISPLAY", c.display);
        EXPECT_EQ(VornPermissionCenter::sessionType(), c.expected);
        const bool granted = c.expected == VornSessionType::x11;
        EXPECT_EQ(VornPermissionCenter::isAccessibilityGranted(false), granted);
        EXPECT_EQ(VornPermissionCenter::isAccessibilityGranted(true), granted);
        EXPECT_EQ(VornPermissionCenter::isScreenRecordingGranted(), granted);
    }
}

TEST(VornPermissionCenterTest, OpeningSettingsStartsTheDesktopsProgramOrNothing) {
    VornTestTempDir dir;
    const fs::path record = dir / "started";
    // Stand-ins for the desktops' settings programs, which a test machine has none of: each
    // records how it was started.
    for (const char* program : {"gnome-control-center", "xfce4-settings-manager"}) {
        const fs::path script = dir.write(std::string("bin/") + program,
                                          "#!/bin/sh\necho \"${0##*/} $*\" >> '" + record.string() + "'\n");
        fs::permissions(script, fs::perms::owner_all);
    }
    auto started = [&] {
        for (int i = 0; i < 100 && !fs::exists(record); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const std::string text = fs::exists(record) ? vornReadFile(record) : "";
        fs::remove(record);
        return text;
    };
    {
        VornScopedEnv path("PATH", (dir / "bin").string());
        VornScopedEnv desktop("XDG_CURRENT_DESKTOP", "XFCE");
        VornPermissionCenter::openSystemSettings(VornSystemPermissionKind::systemAudio);
        EXPECT_EQ(started(), "xfce4-settings-manager \n");
    }
    {
        VornScopedEnv path("PATH", (dir / "bin").string());
        VornScopedEnv desktop("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        VornPermissionCenter::openSystemSettings(VornSystemPermissionKind::accessibility);
        EXPECT_EQ(started(), "gnome-control-center privacy\n");
    }
    {
        VornScopedEnv path("PATH", (dir / "empty").string());
        VornScopedEnv desktop("XDG_CURRENT_DESKTOP", "GNOME");
        VornPermissionCenter::openSystemSettings(VornSystemPermissionKind::screenRecording);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(fs::exists(record));
    }
}

}  // namespace
