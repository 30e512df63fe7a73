#include "SledQuickPreviewService.h"

#include "LANNetworkHelpers.h"
#include "LocalFileProvider.h"
#include "S3R2StorageProvider.h"
#include "SFTPStorageProvider.h"
#include "SledImageProbe.h"
#include "SledTemporaryFileName.h"
#include "VornChecksum.h"
#include "VornFileIO.h"
#include "VornLocalizationStore.h"
#include "VornTemporaryFile.h"
#include "VornUniqueFd.h"
#include "VornUnicode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <stdexcept>
#include <system_error>
#include <typeinfo>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t digestChunkSize = 1'048'576;

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Only a regular file is read: a folder cannot be, and a pipe or a device would never end.
void requireRegularFile(const struct stat& info, const fs::path& path) {
    if (S_ISDIR(info.st_mode)) {
        fail("cannot preview a folder", path, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        fail("cannot preview what is not a regular file", path, EINVAL);
    }
}

// At most `maxBytes` bytes from the start of the regular file at `path`.
std::string readPrefix(const fs::path& path, std::size_t maxBytes) {
    // Non-blocking, so that opening a pipe that slipped in returns at once and fails the check below.
    const VornUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        fail("cannot open the file for preview", path, errno);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        fail("cannot read the file's attributes", path, errno);
    }
    requireRegularFile(info, path);
    std::string bytes;
    // Sized for the file as it is now; a file that grows meanwhile is read on, up to the cap.
    bytes.resize(std::min<std::size_t>(maxBytes, static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 1));
    std::size_t filled = 0;
    while (filled < maxBytes) {
        if (filled == bytes.size()) {
            bytes.resize(std::min(maxBytes, bytes.size() * 2));
        }
        const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read the file for preview", path, errno);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

// The atomic writer puts its bytes first in a sibling named "." + name + ".XXXXXX"; the edit file's
// name leaves room for that.
constexpr std::size_t atomicSiblingExtraBytes = 8;

// The extension by the platform's path rules ("a.tar.gz" gives "gz"; ".gitignore" and "Makefile"
// give none), lower-cased without the dot.
std::string lowerExtension(std::string_view fileName) {
    const std::string extension = fs::path(fileName).extension().string();
    return extension.empty() ? std::string() : VornUnicode::lowercased(std::string_view(extension).substr(1));
}

bool nameSaysText(const std::string& extension, const std::string& lowerName) {
    return SledQuickPreviewService::textExtensions().contains(extension) || lowerName == "dockerfile" ||
           lowerName == "makefile" || lowerName == "readme" || lowerName.starts_with(".env");
}

// A prefix cut from a longer file may end inside a character. Its incomplete last character (a
// valid lead byte with fewer continuation bytes than it needs: at most 3 bytes) is dropped so that
// the strict decode judges the text, not the cut. Anything else ill-formed stays and fails it.
std::string_view withoutCutCharacter(std::string_view bytes) {
    const std::size_t lookBack = std::min<std::size_t>(bytes.size(), 3);
    for (std::size_t back = 1; back <= lookBack; ++back) {
        const std::size_t start = bytes.size() - back;
        const auto byte = static_cast<unsigned char>(bytes[start]);
        if ((byte & 0xC0) == 0x80) {
            continue;  // a continuation byte: its lead byte is further back
        }
        const VornCodePoint point = VornUnicode::decodeUTF8(bytes, start);
        // The whole rest is one ill-formed subpart only when it is the valid beginning of a
        // character that the end of the bytes cut short.
        if (!point.valid && point.length == back && byte >= 0xC2 && byte <= 0xF4) {
            return bytes.substr(0, start);
        }
        break;
    }
    return bytes;
}

// The permission bits of an `ls -l` mode text ("-rw-r--r--" → 0644); nothing unless it is one.
std::optional<unsigned> permissionBits(const std::optional<std::string>& text) {
    if (!text || text->size() < 10) {
        return std::nullopt;
    }
    unsigned bits = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        const char c = (*text)[1 + i];
        const char set = "rwxrwxrwx"[i];
        const bool executable = i % 3 == 2 && (c == 's' || c == 't');
        if (c == set || executable) {
            bits |= 1u << (8 - i);
        } else if (c != '-' && !(i % 3 == 2 && (c == 'S' || c == 'T'))) {
            return std::nullopt;
        }
    }
    return bits;
}

// The folder holding `path` and the name in it, as the providers' listings take and give them.
std::pair<std::string, std::string> parentAndName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {"", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The object's entity tag as its folder lists it now; nothing when it is not there.
std::optional<std::string> listedETag(const SledFileEntry& entry, const SledStorageProvider& provider,
                                      std::stop_token stop) {
    const auto [folder, name] = parentAndName(entry.path);
    for (const SledFileEntry& listed : provider.listDirectory(folder, stop)) {
        if (listed.name == name && !listed.isDirectory) {
            return listed.eTag;
        }
    }
    return std::nullopt;
}

// The blocking file work of a preview. It runs to its end whatever the caller's stop token says:
// once the file is here, reading it is cheaper than abandoning it. `attributes`, when given, gets
// the file's attributes as they were before it was read.
SledFilePreviewResult examine(const fs::path& file, const SledFileEntry& entry, const SledStorageProvider& provider,
                              struct stat* attributes = nullptr) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        fail("cannot read the file's attributes", file, errno);
    }
    requireRegularFile(info, file);
    if (attributes != nullptr) {
        *attributes = info;
    }
    const std::int64_t size = info.st_size;
    std::string digest = VornChecksum::sha256(file, digestChunkSize);
    SledPreviewPayload payload = SledQuickPreviewService::classifyAndRead(file, entry.name, size);
    return {entry.name, entry.path, provider.displayName(), size, std::move(digest), std::move(payload), {}};
}

bool isLocal(const SledStorageProvider& provider) {
    // Exactly the local provider, not something built on it: only its paths are this disk's paths.
    return typeid(provider) == typeid(LocalFileProvider);
}

// This disk's view of a file, for the preview's read state: size, nanosecond time, permissions.
SledPreviewReadState localReadState(const struct stat& info) {
    SledPreviewReadState state;
    state.sizeBytes = info.st_size;
    state.modifiedNanoseconds = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    state.mode = static_cast<unsigned>(info.st_mode & 0777);
    return state;
}

// Whether the file is still the one `openedAs` describes. Throws what the back end throws.
bool unchangedSince(const SledFilePreviewResult& openedAs, const SledFileEntry& entry,
                    const SledStorageProvider& provider, std::stop_token stop) {
    if (isLocal(provider)) {
        struct stat info {};
        // As the preview read it: through a link, as the load did.
        if (::stat(entry.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
        const SledPreviewReadState now = localReadState(info);
        return now.sizeBytes == openedAs.readState.sizeBytes &&
               now.modifiedNanoseconds == openedAs.readState.modifiedNanoseconds;
    }
    if (dynamic_cast<const S3R2StorageProvider*>(&provider) != nullptr && openedAs.readState.eTag) {
        return listedETag(entry, provider, stop) == openedAs.readState.eTag;
    }
    if (const auto* sftp = dynamic_cast<const SFTPStorageProvider*>(&provider)) {
        if (const std::optional<std::string> digest = sftp->computeRemoteSHA256(entry.path, stop)) {
            return *digest == openedAs.sha256Hex;
        }
    }
    // No cheaper word from the back end: the file itself, fetched and hashed.
    const VornTemporaryFile copy =
        VornTemporaryFile::inPrivateDirectory(SledQuickPreviewService::previewCopyName(entry.name));
    provider.downloadFile(entry.path, copy.path(), {}, stop);
    return VornChecksum::sha256(copy.path(), digestChunkSize) == openedAs.sha256Hex;
}

// Gives the saved file on this disk back the permission bits it had (the copy lands as 0600).
void restoreLocalMode(const std::string& path, unsigned mode) {
    const VornUniqueFd file(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    if (::chmod(vornDescriptorPath(file.get()).c_str(), mode) != 0) {
        fail("cannot keep the file's permissions", path, errno);
    }
}

}  // namespace

const SledQuickPreviewService::ExtensionSet& SledQuickPreviewService::imageExtensions() {
    static const ExtensionSet extensions{"png", "jpg", "jpeg", "webp", "gif", "heic",
                                         "heif", "tiff", "tif", "bmp", "ico"};
    return extensions;
}

const SledQuickPreviewService::ExtensionSet& SledQuickPreviewService::textExtensions() {
    static const ExtensionSet extensions{
        "txt",  "md",  "markdown", "json", "yaml", "yml", "xml",  "toml", "ini",  "env",       "conf",
        "cfg",  "swift", "ts",     "tsx",  "js",   "jsx", "mjs",  "cjs",  "py",   "rb",        "go",
        "rs",   "php", "java",     "kt",   "c",    "h",   "cpp",  "hpp",  "cs",   "sh",        "bash",
        "zsh",  "sql", "html",     "htm",  "css",  "scss", "svg", "csv",  "log",  "gitignore", "dockerfile",
        "makefile", "lock", "plist"};
    return extensions;
}

SledFilePreviewResult SledQuickPreviewService::loadPreview(const SledFileEntry& entry,
                                                           const SledStorageProvider& provider,
                                                           std::stop_token stop) {
    if (isLocal(provider)) {
        struct stat before {};
        SledFilePreviewResult result = examine(fs::path(entry.path), entry, provider, &before);
        result.readState = localReadState(before);
        return result;
    }
    SledPreviewReadState state;
    state.mode = permissionBits(entry.permissions);
    if (dynamic_cast<const S3R2StorageProvider*>(&provider) != nullptr) {
        // Read before the bytes: should the object change in between, a save is refused rather
        // than allowed over a change nobody saw.
        state.eTag = listedETag(entry, provider, stop);
    }
    // Declared before the download, so that whatever a failed download left is removed too.
    const VornTemporaryFile copy = VornTemporaryFile::inPrivateDirectory(previewCopyName(entry.name));
    provider.downloadFile(entry.path, copy.path(), {}, stop);
    SledFilePreviewResult result = examine(copy.path(), entry, provider);
    result.readState = std::move(state);
    return result;
}

SledFilePreviewResult SledQuickPreviewService::saveEditedText(std::string_view text, const SledFileEntry& entry,
                                                              const SledStorageProvider& provider,
                                                              std::stop_token stop,
                                                              const SledFilePreviewResult* openedAs) {
    // What is uploaded comes back as the text payload, which is always well-formed UTF-8.
    if (!VornUnicode::isValidUTF8(text)) {
        throw std::invalid_argument(vornText("The edited text of " + entry.name + " is not valid UTF-8; nothing was saved.",
                                              entry.name + " dosyasının düzenlenen metni geçerli UTF-8 değil; hiçbir şey kaydedilmedi."));
    }
    const VornTemporaryFile editFile = VornTemporaryFile::inPrivateDirectory(editFileName(entry.name));
    vornWriteFileAtomically(editFile.path(), text, 0600);
    std::string digest = VornChecksum::sha256(editFile.path(), digestChunkSize);
    const std::optional<unsigned> mode = openedAs ? openedAs->readState.mode : permissionBits(entry.permissions);
    if (mode) {
        // An SFTP upload hands the server the local file's permissions: the edit file carries the
        // original's. It lies in the private folder, so what it grants reaches no one else.
        fs::permissions(editFile.path(), static_cast<fs::perms>(*mode | 0400), fs::perm_options::replace);
    }
    // As close to the upload as the back end allows; a change in the moment between is not seen.
    if (openedAs && !unchangedSince(*openedAs, entry, provider, stop)) {
        throw SledPreviewChangedError("The file " + entry.name +
                                      " changed since the preview opened; the edit was not saved.");
    }
    // On this disk the preview read through a link to its file, so the edit goes to that file and
    // the link stays a link.
    std::string savedTo = entry.path;
    if (isLocal(provider)) {
        std::error_code error;
        if (fs::is_symlink(entry.path, error)) {
            const fs::path target = fs::canonical(entry.path, error);
            if (error) {
                fail("cannot follow the link", entry.path, error.value());
            }
            savedTo = target.string();
        }
    }
    provider.uploadFile(editFile.path(), savedTo, digest, {}, stop);
    if (mode && isLocal(provider)) {
        restoreLocalMode(savedTo, *mode);
    }
    return {entry.name,
            entry.path,
            provider.displayName(),
            static_cast<std::int64_t>(text.size()),
            std::move(digest),
            SledPreviewPayload::text(std::string(text), lineCount(text), false),
            {}};
}

SledPreviewPayload SledQuickPreviewService::classifyAndRead(const fs::path& url, std::string_view fileName,
                                                            std::int64_t sizeBytes) {
    const std::string extension = lowerExtension(fileName);
    const std::string lowerName = VornUnicode::lowercased(fileName);

    std::string prefix;
    bool haveRead = false;
    if (imageExtensions().contains(extension) && sizeBytes <= maxImagePreviewBytes) {
        // A file that grew past the cap since its size was taken is not decoded: no more than the
        // cap is ever held for an image.
        std::error_code error;
        std::optional<std::string> whole =
            vornReadFileCapped(url, static_cast<std::size_t>(maxImagePreviewBytes), error);
        if (whole) {
            const auto bytes = std::as_bytes(std::span(whole->data(), whole->size()));
            if (const auto size = SledImageProbe::probe(bytes)) {
                return SledPreviewPayload::image(std::vector<std::byte>(bytes.begin(), bytes.end()), size->width,
                                                 size->height);
            }
            whole->resize(std::min(whole->size(), static_cast<std::size_t>(maxTextPreviewBytes)));
            prefix = std::move(*whole);
            haveRead = true;
        } else if (error != std::errc::file_too_large) {
            throw fs::filesystem_error(error == std::errc::invalid_argument
                                           ? "cannot preview what is not a regular file"
                                           : "cannot read the file for preview",
                                       url, error);
        }
    }
    if (!haveRead) {
        prefix = readPrefix(url, static_cast<std::size_t>(maxTextPreviewBytes));
    }

    const bool isTruncated = sizeBytes > maxTextPreviewBytes;
    if (nameSaysText(extension, lowerName) || prefix.find('\0') == std::string::npos) {
        std::string_view candidate(prefix);
        if (isTruncated && candidate.size() == static_cast<std::size_t>(maxTextPreviewBytes)) {
            candidate = withoutCutCharacter(candidate);
        }
        if (VornUnicode::isValidUTF8(candidate)) {
            return SledPreviewPayload::text(std::string(candidate), lineCount(candidate), isTruncated);
        }
    }
    const std::size_t dumped = std::min(prefix.size(), hexPreviewBytes);
    return SledPreviewPayload::binary(formatHexDump(std::as_bytes(std::span(prefix.data(), dumped))));
}

std::string SledQuickPreviewService::formatHexDump(std::span<const std::byte> bytes) {
    constexpr std::size_t rowBytes = 16;
    constexpr std::size_t hexColumnWidth = 47;  // 16 bytes: 16 × 2 digits + 15 spaces
    constexpr char hexDigits[] = "0123456789abcdef";
    std::string dump;
    for (std::size_t offset = 0; offset < bytes.size(); offset += rowBytes) {
        const auto row = bytes.subspan(offset, std::min(rowBytes, bytes.size() - offset));
        if (offset != 0) {
            dump += '\n';
        }
        // The offset in lower-case hexadecimal, at least four digits.
        char digits[2 * sizeof(std::size_t)];
        const auto end = std::to_chars(digits, digits + sizeof digits, offset, 16).ptr;
        dump.append(4 - std::min<std::size_t>(4, static_cast<std::size_t>(end - digits)), '0');
        dump.append(digits, end);
        dump += "  ";

        const std::size_t hexStart = dump.size();
        std::string printable;
        for (const std::byte b : row) {
            const auto value = std::to_integer<unsigned>(b);
            if (dump.size() != hexStart) {
                dump += ' ';
            }
            dump += hexDigits[value >> 4];
            dump += hexDigits[value & 0x0F];
            printable += value >= 32 && value <= 126 ? static_cast<char>(value) : '.';
        }
        dump.append(hexColumnWidth - (dump.size() - hexStart), ' ');
        dump += "  |";
        dump += printable;
        dump += '|';
    }
    return dump;
}

std::int64_t SledQuickPreviewService::lineCount(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    std::int64_t lines = 1;
    VornUnicode::forEachCodePoint(text, [&](const VornCodePoint& point) {
        if (point.valid && VornUnicode::isNewline(point.value)) {
            ++lines;
        }
    });
    return lines;
}

std::string SledQuickPreviewService::previewCopyName(std::string_view entryName) {
    return sledTemporaryFileName("vornsled-preview-", entryName);
}

std::string SledQuickPreviewService::editFileName(std::string_view entryName) {
    return sledTemporaryFileName("vornsled-edit-", entryName,
                                 LANNetworkHelpers::maximumFileNameBytes - atomicSiblingExtraBytes);
}
