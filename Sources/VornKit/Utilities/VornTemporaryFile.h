#pragma once

#include <filesystem>
#include <string_view>

#include <sys/types.h>

// A file that belongs to one operation: removed when the operation ends, however it ends, unless it
// was given up. Removal ignores errors (a file that cannot be removed is left behind). Move-only;
// a default-made or released owner owns nothing.
class VornTemporaryFile {
public:
    VornTemporaryFile() = default;
    explicit VornTemporaryFile(std::filesystem::path path) noexcept : path_(std::move(path)) {}

    // Owns `name` inside VornXDG::privateTemporaryDirectory(); nothing is created yet.
    static VornTemporaryFile inPrivateDirectory(std::string_view name);
    // Creates "<prefix><new UUID><suffix>" inside VornXDG::privateTemporaryDirectory(), holding
    // `contents`, with exactly the permission bits `mode` from the first moment (the umask does
    // not apply, and no one else can open it in between). Throws std::filesystem::filesystem_error
    // after removing whatever was made.
    static VornTemporaryFile create(std::string_view prefix, std::string_view suffix, std::string_view contents,
                                    mode_t mode);

    VornTemporaryFile(VornTemporaryFile&& other) noexcept;
    VornTemporaryFile& operator=(VornTemporaryFile&& other) noexcept;
    VornTemporaryFile(const VornTemporaryFile&) = delete;
    VornTemporaryFile& operator=(const VornTemporaryFile&) = delete;
    ~VornTemporaryFile() { remove(); }

    const std::filesystem::path& path() const noexcept { return path_; }
    // Removes the file now, errors ignored; the owner then owns nothing.
    void remove() noexcept;
    // Gives the file up (it was moved into place, say): it stays where it is.
    void release() noexcept { path_.clear(); }

private:
    std::filesystem::path path_;
};
