#pragma once

#include "VornTestSupport.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

// The browser that the real xdg-open uses outside a desktop session ($BROWSER): a script that
// records the address or folder it was given. Installs itself in the environment for its
// lifetime, with no session bus and no desktop, so nothing on the machine is opened.
class VornTestBrowser {
public:
    explicit VornTestBrowser(const VornTestTempDir& dir)
        : record_(dir / "opened.txt"),
          script_(dir.write("browser.sh", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " +
                                              vornShellQuote(record_.string()) + "\n")) {
        std::filesystem::permissions(script_, std::filesystem::perms::owner_all);
        browser_.emplace("BROWSER", script_.string());
    }

    // What xdg-open handed over last; waits for it since xdg-open runs detached. Empty when
    // nothing arrived within a minute.
    std::string awaitOpened() const {
        for (int i = 0; i < 1200 && !std::filesystem::exists(record_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return vornReadFile(record_);
    }

    void forget() const { std::filesystem::remove(record_); }

private:
    std::filesystem::path record_;
    std::filesystem::path script_;
    VornScopedEnv bus_{"DBUS_SESSION_BUS_ADDRESS", std::string("unix:path=/nonexistent/vorn-test-bus")};
    VornScopedEnv display_{"DISPLAY", std::nullopt};
    VornScopedEnv wayland_{"WAYLAND_DISPLAY", std::nullopt};
    VornScopedEnv desktop_{"XDG_CURRENT_DESKTOP", std::nullopt};
    VornScopedEnv session_{"DESKTOP_SESSION", std::nullopt};
    std::optional<VornScopedEnv> browser_;
};
