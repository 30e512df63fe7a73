#include "LocalFileProvider.h"

#include "SledError.h"
#include "SledListingError.h"
#include "SledTemporaryFileName.h"
#include "VornChecksum.h"
#include "VornLocalizationStore.h"
#include "VornTaskCancelled.h"
#include "VornUniqueFd.h"

#include <gio/gio.h>
#include <openssl/evp.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::system_category()));
}

[[noreturn]] void throwErrno(const std::string& what, const fs::path& first, const fs::path& second, int error) {
    throw fs::filesystem_error(what, first, second, std::error_code(error, std::system_category()));
}

struct DirectoryCloser {
    void operator()(DIR* directory) const noexcept { ::closedir(directory); }
};

// Sockets, pipes and devices carry their mode as ls writes it ("srwxr-xr-x"), so a sync can
// tell them from files without asking the disk again; regular files, folders and links have none.
std::optional<std::string> specialFilePermissions(mode_t mode) {
    char type = 0;
    if (S_ISSOCK(mode)) {
        type = 's';
    } else if (S_ISFIFO(mode)) {
        type = 'p';
    } else if (S_ISCHR(mode)) {
        type = 'c';
    } else if (S_ISBLK(mode)) {
        type = 'b';
    } else {
        return std::nullopt;
    }
    std::string text(1, type);
    const char letters[] = {'r', 'w', 'x'};
    for (int bit = 8; bit >= 0; --bit) {
        text += (mode & (mode_t{1} << bit)) ? letters[(8 - bit) % 3] : '-';
    }
    return text;
}

// The text of a path with trailing separators dropped ("/a/b/" names the same item as "/a/b").
std::string withoutTrailingSlashes(std::string text) {
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// Moves the bytes of `in` to `out`. copy_file_range lets the kernel (or the file system, by
// sharing extents) do the work without a trip through user memory; where it is refused, a plain
// read/write loop takes over.
void copyContents(int in, int out, const fs::path& source, const fs::path& destination) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
            if (copied > 0) {
                continue;
            }
            if (copied == 0) {
                return;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EPERM) {
                kernelCopy = false;
                buffer.resize(std::size_t{1} << 20);
                continue;
            }
            throwErrno("cannot copy", source, destination, errno);
        }
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) {
            return;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno("cannot read", source, errno);
        }
        if (!vornWriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            throwErrno("cannot write", destination, errno);
        }
    }
}

struct OpenedSource {
    VornUniqueFd fd;
    struct stat status {};
};

// Opens a regular file to copy; a folder or a special file is refused.
OpenedSource openSource(const fs::path& source) {
    OpenedSource opened;
    // O_NONBLOCK keeps a FIFO from hanging the open; it changes nothing for regular files.
    opened.fd = VornUniqueFd(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!opened.fd) {
        throwErrno("cannot open the file to copy", source, errno);
    }
    if (::fstat(opened.fd.get(), &opened.status) != 0) {
        throwErrno("cannot read the attributes of", source, errno);
    }
    if (S_ISDIR(opened.status.st_mode)) {
        throwErrno("cannot copy a folder as a file", source, EISDIR);
    }
    if (!S_ISREG(opened.status.st_mode)) {
        throwErrno("cannot copy something that is not a regular file", source, EINVAL);
    }
    return opened;
}

// Writes the source's bytes, permission bits and modification time into `out`. Returns the size
// written.
std::int64_t fillCopy(const OpenedSource& in, const VornUniqueFd& out, const fs::path& source,
                      const fs::path& destination, bool durable) {
    copyContents(in.fd.get(), out.get(), source, destination);
    ::fchmod(out.get(), in.status.st_mode & 0777);
    const timespec times[2] = {in.status.st_atim, in.status.st_mtim};
    ::futimens(out.get(), times);
    // Replacing a file must not leave an empty one after a crash; a new file risks nothing.
    if (durable && ::fdatasync(out.get()) != 0) {
        throwErrno("cannot write", destination, errno);
    }
    struct stat written {};
    return ::fstat(out.get(), &written) == 0 ? written.st_size : 0;
}

// A copy made beside its destination, held (so seen in use by anyone sharing the folder) until it
// has its final name.
struct CopiedTemporary {
    SledHeldFile file;
    std::int64_t size = 0;
};

// Copies the regular file `source` to a new temporary file named `temporary` (by
// sledHiddenSibling). On failure the temporary file is gone.
CopiedTemporary copyToTemporary(const fs::path& source, const fs::path& temporary, bool durable) {
    const OpenedSource in = openSource(source);
    CopiedTemporary copied;
    try {
        copied.file = sledCreateHeldFile(temporary, 0600);
    } catch (const fs::filesystem_error& error) {
        throwErrno("cannot create the copy", temporary, error.code().value());
    }
    // Written and closed through a second descriptor, so that closing it reports a delayed write
    // error while the holder keeps the lock.
    VornUniqueFd out(::fcntl(copied.file.holder.get(), F_DUPFD_CLOEXEC, 0));
    try {
        if (!out) {
            throwErrno("cannot create the copy", copied.file.path, errno);
        }
        copied.size = fillCopy(in, out, source, copied.file.path, durable);
        if (out.close() != 0) {
            throwErrno("cannot write", copied.file.path, errno);
        }
        return copied;
    } catch (...) {
        out.reset();
        ::unlink(copied.file.path.c_str());
        throw;
    }
}

// A copy to a place where nothing is yet, written into an unnamed file of the destination's folder
// and given its name only when complete: a failure (or a crash) leaves nothing behind, and the one
// folder operation per file keeps parallel copies into one folder from queueing on its lock.
// Nothing when the file system offers no unnamed files or the name was taken meanwhile; the caller
// then copies through a named temporary sibling.
std::optional<std::int64_t> copyToNewName(const fs::path& source, const fs::path& destination) {
    const OpenedSource in = openSource(source);
    const fs::path folder = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
    VornUniqueFd out(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!out) {
        return std::nullopt;
    }
    const std::int64_t size = fillCopy(in, out, source, destination, false);
    const std::string handle = vornDescriptorPath(out.get());
    if (::linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, destination.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return std::nullopt;
    }
    if (out.close() != 0) {
        const int error = errno;
        ::unlink(destination.c_str());
        throwErrno("cannot write", destination, error);
    }
    return size;
}

// The local copy behind both download and upload. Returns the size of the file now at
// `destination`.
std::int64_t copyIntoPlace(const fs::path& source, const fs::path& destination) {
    if (destination.has_parent_path()) {
        fs::create_directories(destination.parent_path());
    }
    struct stat existing {};
    const bool replacing = ::lstat(destination.c_str(), &existing) == 0;
    if (replacing && S_ISDIR(existing.st_mode)) {
        throw SledError::remoteCommandFailed(LocalFileProvider::alreadyExistsMessage(destination));
    }
    if (!replacing) {
        if (const std::optional<std::int64_t> size = copyToNewName(source, destination)) {
            return *size;
        }
    }
    sledRemoveStaleSiblings(destination);
    const CopiedTemporary copied = copyToTemporary(source, sledHiddenSibling(destination), replacing);
    if (::rename(copied.file.path.c_str(), destination.c_str()) != 0) {
        const int error = errno;
        ::unlink(copied.file.path.c_str());
        throwErrno("cannot put the copy in place", destination, error);
    }
    return copied.size;
}

// rename(2) that never replaces: EEXIST when `to` exists. Returns 0 or an errno value.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    return errno;
}

// A move between two file systems: the item is copied next to its target under a hidden name,
// put in place without replacing anything, and only then removed from where it was.
void moveAcrossFileSystems(const fs::path& from, const fs::path& to) {
    fs::path temporary = sledHiddenSibling(to);
    std::optional<CopiedTemporary> copied;
    try {
        struct stat status {};
        if (::lstat(from.c_str(), &status) != 0) {
            throwErrno("cannot move", from, errno);
        }
        if (S_ISREG(status.st_mode)) {
            copied.emplace(copyToTemporary(from, temporary, false));
            temporary = copied->file.path;
        } else {
            fs::copy(from, temporary, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        }
        if (const int error = renameNoReplace(temporary, to); error != 0) {
            if (error == EEXIST) {
                throw SledError::remoteCommandFailed(LocalFileProvider::alreadyExistsMessage(to));
            }
            throwErrno("cannot move", from, to, error);
        }
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(temporary, ignored);
        throw;
    }
    fs::remove_all(from);
}

std::error_code errorCodeOfTrash(const GError* error) {
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
            case G_IO_ERROR_NOT_FOUND: return std::make_error_code(std::errc::no_such_file_or_directory);
            case G_IO_ERROR_PERMISSION_DENIED: return std::make_error_code(std::errc::permission_denied);
            case G_IO_ERROR_NOT_SUPPORTED: return std::make_error_code(std::errc::not_supported);
            case G_IO_ERROR_NO_SPACE: return std::make_error_code(std::errc::no_space_on_device);
            default: break;
        }
    }
    return std::make_error_code(std::errc::io_error);
}

}  // namespace

LocalFileProvider::LocalFileProvider(std::string displayName) : displayName_(std::move(displayName)) {}

std::string LocalFileProvider::displayName() const {
    return displayName_;
}

VornDate LocalFileProvider::modificationDate(const timespec& time) {
    using namespace std::chrono;
    return VornDate(duration_cast<microseconds>(seconds(time.tv_sec) + nanoseconds(time.tv_nsec)));
}

std::string LocalFileProvider::alreadyExistsMessage(const fs::path& target) {
    const std::string name = fs::path(withoutTrailingSlashes(target.string())).filename().string();
    return vornText("An item named '" + name + "' already exists.", "'" + name + "' adlı bir öğe zaten var.");
}

std::vector<SledFileEntry> LocalFileProvider::listDirectory(const std::string& at, std::stop_token) const {
    return listing(at, false).entries;
}

SledListing LocalFileProvider::listDirectoryWithSkipped(const std::string& at, std::stop_token) const {
    return listing(at, true);
}

SledListing LocalFileProvider::listing(const std::string& at, bool withHidden) {
    std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(at.c_str()));
    if (!directory) {
        throwErrno("cannot list the folder", at, errno);
    }
    const int directoryFD = ::dirfd(directory.get());
    const fs::path base(at);
    std::vector<SledFileEntry> entries;
    std::vector<SledSkippedEntry> hidden;
    std::optional<std::string> unreadable;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(directory.get());
        if (item == nullptr) {
            if (errno != 0) {
                throwErrno("cannot list the folder", at, errno);
            }
            break;
        }
        const std::string name = item->d_name;
        if (name.empty() || name == "." || name == "..") {
            continue;
        }
        if (name.front() == '.') {
            if (withHidden) {
                struct stat status {};
                if (::fstatat(directoryFD, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
                    continue;
                }
                hidden.push_back({name, (base / name).string(), S_ISDIR(status.st_mode), sledHiddenItemReason(),
                                  SledSkippedEntry::Why::hidden});
            }
            continue;
        }
        SledFileEntry entry;
        entry.name = name;
        entry.path = (base / name).string();
        struct stat status {};
        // Not following links: a link to a folder is not a folder of this one.
        if (::fstatat(directoryFD, item->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue;  // gone since the folder was read: nothing is there to list
            }
            // A folder that can be read but not entered names its children without telling what
            // they are. Guessing "an empty file" would let a mirror delete the other side's real
            // files, so the listing as a whole is refused; a pane that only browses can still show
            // what was understood.
            if (!unreadable) {
                unreadable = name;
            }
            continue;
        }
        entry.isDirectory = S_ISDIR(status.st_mode);
        entry.isSymbolicLink = S_ISLNK(status.st_mode);
        entry.permissions = specialFilePermissions(status.st_mode);
        entry.sizeBytes = entry.isDirectory ? 0 : static_cast<std::int64_t>(status.st_size);
        entry.modifiedAt = modificationDate(status.st_mtim);
        entries.push_back(std::move(entry));
    }
    sortListing(entries);
    if (unreadable) {
        throw SledListingError::unreadableEntry(at, *unreadable, std::move(entries));
    }
    std::sort(hidden.begin(), hidden.end(),
              [](const SledSkippedEntry& a, const SledSkippedEntry& b) { return a.name < b.name; });
    return SledListing{std::move(entries), std::move(hidden)};
}

SledDownloadResult LocalFileProvider::downloadFile(const std::string& remotePath, const fs::path& to,
                                                   const SledProgressCallback& onProgress, std::stop_token) const {
    const std::int64_t size = copyIntoPlace(remotePath, to);
    if (onProgress) {
        onProgress(size, size);
    }
    SledDownloadResult result;
    result.bytes = size;
    try {
        result.remoteSHA256 = VornChecksum::sha256(remotePath, 1'048'576);
    } catch (const std::exception&) {
        // A source that cannot be hashed leaves the comparison to the caller's own digest.
    }
    return result;
}

namespace {

// The digest of the regular file at `path`, opened without following a link; nothing when it
// cannot be read whole.
std::optional<std::string> digestOfFile(const std::string& path, SledContentDigest kind, const std::stop_token& stop) {
    const VornUniqueFd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context ||
        EVP_DigestInit_ex(context.get(), kind == SledContentDigest::md5 ? EVP_md5() : EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    std::vector<unsigned char> buffer(static_cast<std::size_t>(
        std::clamp<std::int64_t>(status.st_size, 1, VornChecksum::defaultChunkSize)));
    for (;;) {
        if (stop.stop_requested()) {
            throw VornTaskCancelled();
        }
        const ssize_t got = ::read(file.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(got));
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        return std::nullopt;
    }
    return vornHexLower(std::span<const std::uint8_t>(digest.data(), length));
}

}  // namespace

std::map<std::string, std::string> LocalFileProvider::contentDigests(const std::vector<SledFileEntry>& files,
                                                                    SledContentDigest kind, std::stop_token stop) const {
    std::map<std::string, std::string> digests;
    for (const SledFileEntry& file : files) {
        if (std::optional<std::string> digest = digestOfFile(file.path, kind, stop)) {
            digests.emplace(file.path, std::move(*digest));
        }
    }
    return digests;
}

SledUploadResult LocalFileProvider::uploadFile(const fs::path& localURL, const std::string& to,
                                               const std::optional<std::string>& sha256Hex,
                                               const SledProgressCallback& onProgress, std::stop_token) const {
    const std::int64_t size = copyIntoPlace(localURL, to);
    if (onProgress) {
        onProgress(size, size);
    }
    SledUploadResult result;
    if (sha256Hex && !sha256Hex->empty()) {
        // The caller wants the copy checked: the bytes are read back from where they landed.
        try {
            result.storedSHA256 = VornChecksum::sha256(to, 1'048'576);
        } catch (const std::exception&) {
            // Unreadable after landing: the copy stands, unchecked.
        }
    }
    return result;
}

void LocalFileProvider::createDirectory(const std::string& at, std::stop_token) const {
    std::error_code error;
    fs::create_directories(at, error);
    if (error) {
        throw fs::filesystem_error("cannot create the folder", at, error);
    }
    if (!fs::is_directory(at)) {
        throw fs::filesystem_error("cannot create the folder", at, std::make_error_code(std::errc::file_exists));
    }
}

void LocalFileProvider::deleteItem(const std::string& at, bool isDirectory, std::stop_token) const {
    // The item goes only while it is still the kind that was listed: a file replaced by a folder
    // of the same name (or the other way round) is someone else's, and stays.
    struct stat status {};
    if (::lstat(at.c_str(), &status) == 0 && S_ISDIR(status.st_mode) != isDirectory) {
        const std::string name = fs::path(withoutTrailingSlashes(at)).filename().string();
        throw SledError::remoteCommandFailed(
            isDirectory ? vornText("'" + name + "' is no longer the folder that was listed; it is not deleted.",
                                   "'" + name + "' artık listelenen klasör değil; silinmedi.")
                        : vornText("'" + name + "' is no longer the file that was listed; it is not deleted.",
                                   "'" + name + "' artık listelenen dosya değil; silinmedi."));
    }
    GFile* file = g_file_new_for_path(at.c_str());
    GError* error = nullptr;
    const gboolean trashed = g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    if (!trashed) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        const std::error_code code =
            error != nullptr ? errorCodeOfTrash(error) : std::make_error_code(std::errc::io_error);
        if (error != nullptr) {
            g_error_free(error);
        }
        throw fs::filesystem_error("cannot move to the Trash (" + message + ")", at, code);
    }
}

void LocalFileProvider::renameItem(const std::string& from, const std::string& to, bool, std::stop_token) const {
    const fs::path source(withoutTrailingSlashes(from));
    const fs::path target(withoutTrailingSlashes(to));
    if (source.lexically_normal() == target.lexically_normal()) {
        return;
    }
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        throw SledError::remoteCommandFailed(alreadyExistsMessage(target));
    }
    int error = renameNoReplace(source, target);
    if (error == EINVAL && ::lstat(source.c_str(), &existing) == 0) {
        // Some file systems do not know RENAME_NOREPLACE; the target was checked just above.
        // (Moving a folder into itself also gives EINVAL; rename reports that again.)
        error = ::rename(source.c_str(), target.c_str()) == 0 ? 0 : errno;
    }
    if (error == 0) {
        return;
    }
    if (error == EEXIST || error == ENOTEMPTY) {
        throw SledError::remoteCommandFailed(alreadyExistsMessage(target));
    }
    if (error == EXDEV) {
        moveAcrossFileSystems(source, target);
        return;
    }
    throwErrno("cannot rename", source, target, error);
}

void LocalFileProvider::testConnection(std::stop_token) const {}
