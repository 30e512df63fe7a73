#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Handing things to the user's desktop: the default browser or application for an address or a
// file, and the file manager.
struct VornDesktop {
    // Starts `xdg-open target` detached (its exit is not awaited) and returns whether it could be
    // started. A target that is empty, holds a NUL or begins with "-" (which xdg-open would read as
    // an option) is refused.
    static bool open(std::string_view target);

    // Asks the file manager over the session bus (org.freedesktop.FileManager1.ShowItems) to show
    // `item` selected in its folder; when no file manager answers, opens the folder that holds it.
    static void revealInFileManager(const std::filesystem::path& item);

    // Starts `arguments` (the program first, found on $PATH unless it holds a '/') detached from
    // this process, its standard streams on /dev/null, and returns whether it could be started.
    static bool startDetached(const std::vector<std::string>& arguments);
};
