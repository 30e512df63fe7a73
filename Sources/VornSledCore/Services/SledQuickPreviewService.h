#pragma once

#include "SledFileEntry.h"
#include "SledPreviewPayload.h"
#include "SledStorageProvider.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

// A save refused because the file is no longer the one the preview read: someone else changed it.
class SledPreviewChangedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A look at one file of any pane without copying it by hand, and saving an edited text back.
// Static operations only; nothing is kept between calls, and any number may run at once.
//
// A remote file is downloaded whole into a temporary copy in the process's private temporary
// folder; a file of the local provider is read where it is. The copy, and the file an edited text
// is uploaded from, are removed when the operation ends, however it ends.
//
// Image decoding goes through SledImageProbe: without an installed probe, no file is an image.
struct SledQuickPreviewService {
    // How many bytes are read for the text-or-binary decision and for the text.
    static constexpr std::int64_t maxTextPreviewBytes = 524'288;
    // The largest file that is tried as an image.
    static constexpr std::int64_t maxImagePreviewBytes = 26'214'400;
    // How many bytes the hex dump of a binary file shows.
    static constexpr std::size_t hexPreviewBytes = 256;

    using ExtensionSet = std::set<std::string, std::less<>>;
    // Lower case, without the dot. Built once, on first use.
    static const ExtensionSet& imageExtensions();
    static const ExtensionSet& textExtensions();

    // Fetches the file of `entry` through `provider` (a LocalFileProvider reads the path in place),
    // hashes it and classifies it. Provider, attribute, hashing and read failures pass on
    // unchanged; so does VornTaskCancelled when `stop` ends the download. A path that is not a
    // regular file (a folder, a pipe, a device) fails with std::filesystem::filesystem_error
    // rather than being read.
    static SledFilePreviewResult loadPreview(const SledFileEntry& entry, const SledStorageProvider& provider,
                                             std::stop_token stop = {});

    // Uploads `text` as UTF-8 to the entry's own path, with its SHA-256 so that providers that check
    // uploads can verify it. The result describes the saved text.
    //
    // With `openedAs` (the preview the text was edited in) the file must still be as that preview
    // read it, checked just before the upload: on an SFTP server its SHA-256, in object storage its
    // entity tag, on this disk its size and nanosecond modification time (elsewhere: a fresh
    // download's SHA-256). Otherwise SledPreviewChangedError is thrown and nothing is written. The
    // saved file keeps the permission bits the preview found.
    static SledFilePreviewResult saveEditedText(std::string_view text, const SledFileEntry& entry,
                                                const SledStorageProvider& provider, std::stop_token stop = {},
                                                const SledFilePreviewResult* openedAs = nullptr);

    // Classifies the local file `url` by `fileName` and its bytes:
    // - an image when the name's extension is an image one, `sizeBytes` is at most
    //   maxImagePreviewBytes and the whole file decodes;
    // - else text when the name says text (or the first maxTextPreviewBytes bytes hold no zero
    //   byte) and those bytes are strict UTF-8. When a longer file's prefix ends inside a
    //   character, that incomplete character (at most 3 bytes) is left out of the text;
    // - else binary, with the hex dump of the first hexPreviewBytes bytes.
    // Open and read failures throw std::filesystem::filesystem_error.
    static SledPreviewPayload classifyAndRead(const std::filesystem::path& url, std::string_view fileName,
                                              std::int64_t sizeBytes);

    // Rows of 16 bytes: "%04x  <hex column padded to 47>  |<printable ASCII, else '.'>|", joined by
    // line feeds, none after the last; no bytes give the empty text.
    static std::string formatHexDump(std::span<const std::byte> bytes);

    // The number of lines of `text`: 0 when it is empty, else one more than its line breaks
    // (U+000A to U+000D, U+0085, U+2028, U+2029; CR LF counts as two).
    static std::int64_t lineCount(std::string_view text);

    // Names of the temporary files: the prefix, a new UUID in upper case, "-" and the made-safe
    // name of the entry, cut to the longest name file systems accept.
    static std::string previewCopyName(std::string_view entryName);
    static std::string editFileName(std::string_view entryName);
};
