#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

// The freedesktop base and user folders, read from the environment at each call so that tests
// (and a changed session) see the current values.
struct VornXDG {
    // $HOME, else the password database's home.
    static std::filesystem::path home();
    // $XDG_DATA_HOME when absolute, else ~/.local/share. Stands where the Mac has Application Support.
    static std::filesystem::path dataHome();
    // $XDG_CONFIG_HOME when absolute, else ~/.config.
    static std::filesystem::path configHome();
    // $XDG_CACHE_HOME when absolute, else ~/.cache.
    static std::filesystem::path cacheHome();
    // A user folder from user-dirs.dirs by its key without prefix and suffix ("DOWNLOAD",
    // "DESKTOP", ...); nothing when it is not set there.
    static std::optional<std::filesystem::path> userDirectory(std::string_view key);
    // The Downloads folder: XDG_DOWNLOAD_DIR, else ~/Downloads.
    static std::filesystem::path downloads();
    // The maker's folder inside dataHome(): "Vornworks".
    static std::filesystem::path makerFolder();
    // One private (0700) folder per process for temporary files, created on first use inside
    // $TMPDIR (else /tmp), and removed with its contents when the program ends normally (exit or
    // return from main; a forked child never removes its parent's), or by a later start once its
    // process has ended some other way. Throws
    // std::filesystem::filesystem_error when it cannot be made.
    static std::filesystem::path privateTemporaryDirectory();
    // The file inside that folder that marks it as the program's own (and, locked, as in use); the
    // one name in it that is not a temporary file of the program.
    static constexpr std::string_view privateFolderMarkName = ".vornsled-private-folder";
};
