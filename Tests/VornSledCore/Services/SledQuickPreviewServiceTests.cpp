#include "SledQuickPreviewService.h"

#include "QuickPreviewTestSupport.h"
#include "LocalFileProvider.h"
#include "SledError.h"
#include "SledImageProbe.h"
#include "VornChecksum.h"
#include "VornFileIO.h"
#include "VornTaskCancelled.h"
#include "VornTestForwardingProvider.h"
#include "VornTestMemoryProvider.h"
#include "VornTestSupport.h"
#include "VornUUID.h"
#include "VornXDG.h"
#if VORN_TEST_IMAGE_PROBE
#include "VornTestImageProbe.h"
#endif

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::span<const std::byte> bytesOf(std::string_view text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

// A temporary file's name taken apart: "vornsled-" + kind + "-" + UUID in upper case + "-" + safe name.
struct TemporaryName {
    std::string kind;
    std::string safeName;
};

std::optional<TemporaryName> parseTemporaryName(const std::string& name) {
    for (const std::string kind : {"preview", "edit"}) {
        const std::string prefix = "vornsled-" + kind + "-";
        if (!name.starts_with(prefix) || name.size() < prefix.size() + 37 || name[prefix.size() + 36] != '-') {
            continue;
        }
        const std::string uuid = name.substr(prefix.size(), 36);
        const auto parsed = VornUUID::fromString(uuid);
        if (!parsed || parsed->uuidString() != uuid) {
            return std::nullopt;
        }
        return TemporaryName{kind, name.substr(prefix.size() + 37)};
    }
    return std::nullopt;
}

// The in-memory back end, seen through a window: it remembers where each download was left and,
// when told to, fails right after the download has written its file (as a connection lost at the
// end of a transfer would).
class WatchedProvider final : public VornTestForwardingProvider {
public:
    using VornTestForwardingProvider::VornTestForwardingProvider;

    mutable std::vector<fs::path> downloadedTo;
    std::exception_ptr failAfterDownload;

    SledDownloadResult downloadFile(const std::string& remotePath, const fs::path& to,
                                    const SledProgressCallback& onProgress, std::stop_token stop) const override {
        downloadedTo.push_back(to);
        SledDownloadResult result = store().downloadFile(remotePath, to, onProgress, stop);
        if (failAfterDownload) {
            std::rethrow_exception(failAfterDownload);
        }
        return result;
    }
};

SledPreviewPayload classify(const VornTestTempDir& dir, const std::string& name, const std::string& bytes) {
    const fs::path file = dir.write(name, bytes);
    return SledQuickPreviewService::classifyAndRead(file, name, static_cast<std::int64_t>(bytes.size()));
}

// 600,000 bytes of Turkish text, lines of it, placed so that the 512 KiB prefix ends inside a
// two-byte character. Gives the text and the length of the prefix that holds whole characters.
std::pair<std::string, std::size_t> turkishTextCutInsideACharacter() {
    const std::string line = "Çığ düştü; öğle güneşi şöyle ısıttı, İzmir'e gidiyoruz.\n";
    std::string text;
    while (text.size() < 600'000) {
        text += line;
    }
    const auto cut = static_cast<std::size_t>(SledQuickPreviewService::maxTextPreviewBytes);
    // Shift with ASCII until the byte after the cut continues a character begun before it.
    while ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80) {
        text.insert(0, "-");
    }
    std::size_t whole = cut;
    while ((static_cast<unsigned char>(text[whole]) & 0xC0) == 0x80) {
        --whole;
    }
    text.resize(600'000);
    while ((static_cast<unsigned char>(text.back()) & 0x80) != 0) {  // end on a whole character
        text.back() = '.';
    }
    return {text, whole};
}

}  // namespace

TEST(SledQuickPreviewService, ConstantsAndExtensionSets) {
    EXPECT_EQ(SledQuickPreviewService::maxTextPreviewBytes, 524'288);
    EXPECT_EQ(SledQuickPreviewService::maxImagePreviewBytes, 26'214'400);
    EXPECT_EQ(SledQuickPreviewService::imageExtensions().size(), 11u);
    EXPECT_EQ(SledQuickPreviewService::textExtensions().size(), 47u);
    for (const auto* set : {&SledQuickPreviewService::imageExtensions(), &SledQuickPreviewService::textExtensions()}) {
        for (const std::string& extension : *set) {
            EXPECT_FALSE(extension.empty() || extension.starts_with('.')) << extension;
            EXPECT_TRUE(std::none_of(extension.begin(), extension.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
                << extension;
        }
    }
    EXPECT_TRUE(SledQuickPreviewService::imageExtensions().contains("heic"));
    EXPECT_TRUE(SledQuickPreviewService::textExtensions().contains("dockerfile"));
}

TEST(SledQuickPreviewService, HexDumpRows) {
    const std::string twenty("ABCDEFGHIJKLMNOP\x00\x7f\x80\xff", 20);
    struct Case {
        std::string bytes;
        std::string dump;
    } cases[] = {
        {"", ""},
        {"Hi\n", "0000  48 69 0a" + std::string(39, ' ') + "  |Hi.|"},
        {twenty,
         "0000  41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50  |ABCDEFGHIJKLMNOP|\n"
         "0010  00 7f 80 ff" + std::string(36, ' ') + "  |....|"},
        {" ~\x1f", "0000  20 7e 1f" + std::string(39, ' ') + "  | ~.|"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SledQuickPreviewService::formatHexDump(bytesOf(c.bytes)), c.dump);
    }
    // Offsets keep growing past four digits; no line feed ends the dump.
    const std::string big(0x10010, 'z');
    const std::string dump = SledQuickPreviewService::formatHexDump(bytesOf(big));
    EXPECT_NE(dump.find("\n10000  7a 7a"), std::string::npos);
    EXPECT_NE(dump.back(), '\n');
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 0x1000);
}

TEST(SledQuickPreviewService, LineCountCutsAtEveryLineBreakCharacter) {
    struct Case {
        std::string text;
        std::int64_t lines;
    } cases[] = {
        {"", 0},
        {"a", 1},
        {"a\nb\n", 3},
        {"a\r\nb", 3},  // CR and LF are two breaks with an empty line between them
        {"\n", 2},
        {"a\vb\fc\rd", 4},
        {"a\u0085b\u2028c\u2029d", 4},
        {"ğ\u00a0ş", 1},  // no-break space is no line break
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SledQuickPreviewService::lineCount(c.text), c.lines) << c.text;
    }
}

TEST(SledQuickPreviewService, ClassifiesByNameAndBytes) {
    VornTestTempDir dir;
#if VORN_TEST_IMAGE_PROBE
    const VornTestImageProbe probe;  // so that notes.png is really tried as an image
#endif
    const std::string withZero("line one\n\0line two\n", 19);
    using Kind = SledPreviewPayload::Kind;
    struct Case {
        std::string name;
        std::string bytes;
        Kind kind;
    } cases[] = {
        {"Makefile", withZero, Kind::text},  // whole names that say text
        {"README", withZero, Kind::text},
        {"Dockerfile", withZero, Kind::text},
        {".env.local", withZero, Kind::text},  // the ".env" rule
        {".ENV", withZero, Kind::text},
        {"main.CPP", withZero, Kind::text},  // extensions compared in lower case
        {"x.gitignore", withZero, Kind::text},
        {"data", withZero, Kind::binary},  // a zero byte and nothing in the name
        {"Makefile.bak", withZero, Kind::binary},
        {".gitignore", "build/\n", Kind::text},  // no extension, but no zero byte either
        {"blob.bin", "\xff\xfe not UTF-8", Kind::binary},
        {"notes.txt", "caf\xc3", Kind::binary},  // a short file cut inside a character is not text
        {"notes.png", "plain words, not a picture\n", Kind::text},
    };
    for (const Case& c : cases) {
        const SledPreviewPayload payload = classify(dir, c.name, c.bytes);
        EXPECT_EQ(payload.kind(), c.kind) << c.name;
        if (c.kind == Kind::text) {
            ASSERT_NE(payload.asText(), nullptr);
            EXPECT_EQ(payload.asText()->content, c.bytes) << c.name;
            EXPECT_FALSE(payload.asText()->isTruncated);
        } else {
            ASSERT_NE(payload.asBinary(), nullptr);
            EXPECT_EQ(payload.asBinary()->hexPreview, SledQuickPreviewService::formatHexDump(bytesOf(c.bytes)));
        }
    }
}

TEST(SledQuickPreviewService, EmptyFileIsEmptyText) {
    VornTestTempDir dir;
    EXPECT_EQ(classify(dir, "empty", ""), SledPreviewPayload::text("", 0, false));
}

TEST(SledQuickPreviewService, TwentyBinaryBytesDumpInTwoRows) {
    VornTestTempDir dir;
    std::string bytes;
    for (int i = 0; i < 20; ++i) {
        bytes.push_back(static_cast<char>(i * 13));
    }
    const SledPreviewPayload payload = classify(dir, "firmware.img", bytes);
    ASSERT_NE(payload.asBinary(), nullptr);
    EXPECT_EQ(payload.asBinary()->hexPreview,
              "0000  00 0d 1a 27 34 41 4e 5b 68 75 82 8f 9c a9 b6 c3  |...'4AN[hu......|\n"
              "0010  d0 dd ea f7" + std::string(36, ' ') + "  |....|");
}

TEST(SledQuickPreviewService, LongTurkishTextCutInsideACharacterStillPreviewsAsText) {
    VornTestTempDir dir;
    const auto [text, whole] = turkishTextCutInsideACharacter();
    ASSERT_EQ(text.size(), 600'000u);
    const std::string shown = text.substr(0, whole);
    ASSERT_LT(whole, 524'288u);
    ASSERT_GE(whole, 524'288u - 3);

    for (const std::string name : {"kitap.txt", "kitap"}) {
        const SledPreviewPayload payload = classify(dir, name, text);
        ASSERT_NE(payload.asText(), nullptr) << name;
        EXPECT_EQ(payload.asText()->content, shown);
        EXPECT_TRUE(payload.asText()->isTruncated);
        EXPECT_EQ(payload.asText()->lineCount, std::count(shown.begin(), shown.end(), '\n') + 1);
    }
}

TEST(SledQuickPreviewService, OnlyACutCharacterIsForgivenAtTheEndOfALongPrefix) {
    VornTestTempDir dir;
    const auto cut = static_cast<std::size_t>(SledQuickPreviewService::maxTextPreviewBytes);
    struct Case {
        std::string tail;  // the last bytes of the prefix
        bool isText;
    } cases[] = {
        {"ab\xc3", true},            // two-byte character cut after its lead
        {"a\xe2\x82", true},         // three-byte character cut after two bytes
        {"\xf0\x9f\x98", true},      // four-byte character cut after three bytes
        {"ab\xff", false},           // never a lead byte
        {"ab\xf5", false},           // beyond U+10FFFF
        {"a\xe0\x80", false},        // an overlong form, not a cut
        {"a\x80\x80", false},        // continuation bytes without a lead
        {"\xc3\xa7" "a", true},      // a whole character, nothing cut
    };
    for (const Case& c : cases) {
        std::string bytes(cut - c.tail.size(), 'x');
        bytes += c.tail;
        bytes += "\xa7 and more text after the preview's end";
        const SledPreviewPayload payload = classify(dir, "long.log", bytes);
        EXPECT_EQ(payload.kind() == SledPreviewPayload::Kind::text, c.isText) << testing::PrintToString(c.tail);
    }
    // A file of exactly the preview's length is whole: its cut character is a real fault.
    std::string exact(cut - 1, 'x');
    exact += "\xc3";
    EXPECT_EQ(classify(dir, "exact.log", exact).kind(), SledPreviewPayload::Kind::binary);
}

TEST(SledQuickPreviewService, ImageProbeDecidesAndIsHeldToSensibleSizes) {
    VornTestTempDir dir;
    const std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    std::atomic<int> calls = 0;
    std::optional<SledImagePixelSize> answer;
    const auto previous = SledImageProbe::install([&](std::span<const std::byte> probed) {
        ++calls;
        EXPECT_EQ(probed.size(), 16u);
        return answer;
    });
    answer = SledImagePixelSize{640, 480};
    EXPECT_EQ(classify(dir, "a.PNG", bytes), SledPreviewPayload::image(std::vector(bytesOf(bytes).begin(),
                                                                                   bytesOf(bytes).end()),
                                                                       640, 480));
    answer = SledImagePixelSize{0, 480};  // decodes to nothing to show
    EXPECT_EQ(classify(dir, "b.png", bytes).kind(), SledPreviewPayload::Kind::binary);
    classify(dir, "c.txt", bytes);
    EXPECT_EQ(calls, 2) << "a name without an image extension is never tried as an image";

    SledImageProbe::install({});
    EXPECT_FALSE(SledImageProbe::isInstalled());
    EXPECT_EQ(classify(dir, "d.png", bytes).kind(), SledPreviewPayload::Kind::binary) << "no probe, no image";
    SledImageProbe::install(previous);
}

#if VORN_TEST_IMAGE_PROBE

TEST(SledQuickPreviewService, RealImagesDecodeThroughTheImageReader) {
    VornTestTempDir dir;
    const VornTestImageProbe probe;
    for (const char* format : {"PNG", "TIFF", "WEBP", "BMP"}) {
        const std::string bytes = VornTestImageProbe::encodedImage(7, 3, format);
        ASSERT_FALSE(bytes.empty()) << format << " cannot be written here";
        const std::string name = std::string("picture.") + format;
        const SledPreviewPayload payload = classify(dir, name, bytes);
        ASSERT_NE(payload.asImage(), nullptr) << format;
        EXPECT_EQ(payload.asImage()->width, 7);
        EXPECT_EQ(payload.asImage()->height, 3);
        EXPECT_EQ(payload.asImage()->data, std::vector(bytesOf(bytes).begin(), bytesOf(bytes).end()));
    }
    // A PNG cut short does not decode: it falls back to the dump of its first bytes.
    const std::string png = VornTestImageProbe::encodedImage(40, 40, "PNG");
    const SledPreviewPayload broken = classify(dir, "broken.png", png.substr(0, png.size() / 2));
    ASSERT_NE(broken.asBinary(), nullptr);
    EXPECT_TRUE(broken.asBinary()->hexPreview.starts_with("0000  89 50 4e 47 0d 0a 1a 0a"));
}

TEST(SledQuickPreviewService, ImagesAbove25MiBAreNotTriedAsImages) {
    VornTestTempDir dir;
    // A real PNG head followed by zeros up to 30 MiB: too big to be tried, so it is a binary file.
    std::string head = VornTestImageProbe::encodedImage(2, 2, "PNG");
    const fs::path photo = dir.write("photo.png", head);
    fs::resize_file(photo, 30 * 1024 * 1024);
    std::atomic<int> calls = 0;
    const auto previous = SledImageProbe::install([&](std::span<const std::byte> bytes) {
        ++calls;
        return VornTestImageProbe::probe(bytes);
    });
    const SledPreviewPayload payload =
        SledQuickPreviewService::classifyAndRead(photo, "photo.png", static_cast<std::int64_t>(fs::file_size(photo)));
    SledImageProbe::install(previous);
    EXPECT_EQ(calls, 0);
    head.resize(256, '\0');
    EXPECT_EQ(payload, SledPreviewPayload::binary(SledQuickPreviewService::formatHexDump(bytesOf(head))));
}

#endif

TEST(SledQuickPreviewService, LocalPreviewReadsInPlaceWithoutATemporaryCopy) {
    VornTestTempDir dir;
    const std::string text = "first\r\nsecond\n";
    const fs::path file = dir.write("notes.md", text);
    const auto before = vornPreviewTemporaryFiles();

    const LocalFileProvider provider("Disk");
    const SledFilePreviewResult result = SledQuickPreviewService::loadPreview(vornPreviewEntry(file.string(), 999), provider);
    SledFilePreviewResult expected{"notes.md", file.string(), "Disk", 14, VornSHA256::hexDigest(text),
                                   SledPreviewPayload::text(text, 4, false)};
    // What a later save checks the file against: this disk's size, time and permissions.
    EXPECT_EQ(result.readState.sizeBytes, 14);
    EXPECT_TRUE(result.readState.modifiedNanoseconds.has_value());
    EXPECT_EQ(result.readState.mode, static_cast<unsigned>(fs::status(file).permissions()) & 0777);
    expected.readState = result.readState;
    EXPECT_EQ(result, expected) << "the size is the file's own, not the listing's";
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST(SledQuickPreviewService, LocalPreviewRefusesWhatIsNotARegularFile) {
    VornTestTempDir dir;
    fs::create_directories(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    const LocalFileProvider provider;
    for (const std::string name : {"folder", "pipe", "missing"}) {
        EXPECT_THROW(SledQuickPreviewService::loadPreview(vornPreviewEntry((dir / name).string()), provider),
                     fs::filesystem_error)
            << name;
        // The public classification refuses the same, rather than waiting on a pipe forever.
        EXPECT_THROW(SledQuickPreviewService::classifyAndRead(dir / name, name, 0), fs::filesystem_error) << name;
        EXPECT_THROW(SledQuickPreviewService::classifyAndRead(dir / name, name + ".png", 0), fs::filesystem_error)
            << name << " as an image";
    }
}

TEST(SledQuickPreviewService, RemotePreviewWorksOnACopyThatIsGoneAfterwards) {
    VornTestMemoryProvider store("Bucket");
    const std::string text = "key = value\n";
    store.addFile("/deploy/.env.production", text);
    WatchedProvider provider(store);
    const auto before = vornPreviewTemporaryFiles();

    const SledFileEntry entry = vornPreviewEntry("/deploy/.env.production");
    const SledFilePreviewResult result = SledQuickPreviewService::loadPreview(entry, provider);
    EXPECT_EQ(result, (SledFilePreviewResult{".env.production", entry.path, "Bucket", 12, VornSHA256::hexDigest(text),
                                             SledPreviewPayload::text(text, 2, false)}));

    ASSERT_EQ(provider.downloadedTo.size(), 1u);
    const fs::path copy = provider.downloadedTo[0];
    EXPECT_EQ(copy.parent_path(), VornXDG::privateTemporaryDirectory());
    const auto copyName = parseTemporaryName(copy.filename().string());
    ASSERT_TRUE(copyName) << copy;
    EXPECT_EQ(copyName->kind, "preview");
    EXPECT_EQ(copyName->safeName, "env.production") << "made safe: no leading dots";
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST(SledQuickPreviewService, RemotePreviewRemovesTheCopyWhenItFails) {
    VornTestMemoryProvider store;
    store.addFile("/a/report.txt", "partial");
    WatchedProvider provider(store);
    const auto before = vornPreviewTemporaryFiles();

    // The download wrote its file, then the connection broke.
    provider.failAfterDownload = std::make_exception_ptr(SledError::connectionFailed("reset by peer"));
    try {
        SledQuickPreviewService::loadPreview(vornPreviewEntry("/a/report.txt"), provider);
        ADD_FAILURE() << "no error";
    } catch (const SledError& error) {
        EXPECT_EQ(error.kind(), SledError::Kind::connectionFailed);
        EXPECT_EQ(error.message(), "reset by peer");
    }
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    // The caller gave up while the download was waiting.
    provider.failAfterDownload = nullptr;
    store.setScript(VornTestMemoryProvider::Operation::download, "/a/report.txt", {.waitForStop = true});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(SledQuickPreviewService::loadPreview(vornPreviewEntry("/a/report.txt"), provider, stop.get_token()),
                 VornTaskCancelled);
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    // A file that is not there.
    EXPECT_ANY_THROW(SledQuickPreviewService::loadPreview(vornPreviewEntry("/a/missing.txt"), provider));
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST(SledQuickPreviewService, SaveUploadsTheTextWithItsDigest) {
    VornTestMemoryProvider store("Server");
    store.addFile("/srv/app/config.yml", "old: 1\n");
    const auto before = vornPreviewTemporaryFiles();
    const std::string text = "a\n";

    std::string seenName;
    std::string seenContent;
    unsigned seenMode = 0;
    store.setScript(VornTestMemoryProvider::Operation::upload, "/srv/app/config.yml",
                    {.onStart = [&] {
                        for (const auto& item : fs::directory_iterator(VornXDG::privateTemporaryDirectory())) {
                            if (item.path().filename() == VornXDG::privateFolderMarkName) {
                                continue;
                            }
                            seenName = item.path().filename().string();
                            seenContent = vornReadFile(item.path());
                            seenMode = static_cast<unsigned>(item.status().permissions()) & 0777;
                        }
                    }});
    const SledFileEntry entry = vornPreviewEntry("/srv/app/config.yml", 7);
    const SledFilePreviewResult result = SledQuickPreviewService::saveEditedText(text, entry, store);

    EXPECT_EQ(result, (SledFilePreviewResult{"config.yml", "/srv/app/config.yml", "Server", 2,
                                             VornSHA256::hexDigest(text), SledPreviewPayload::text(text, 2, false)}));
    EXPECT_EQ(store.file("/srv/app/config.yml"), text);
    EXPECT_EQ(store.receivedDigest("/srv/app/config.yml"), std::optional(std::optional(VornSHA256::hexDigest(text))));

    const auto editName = parseTemporaryName(seenName);
    ASSERT_TRUE(editName) << seenName;
    EXPECT_EQ(editName->kind, "edit");
    EXPECT_EQ(editName->safeName, "config.yml");
    EXPECT_EQ(seenContent, text);
    EXPECT_EQ(seenMode, 0600u);
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST(SledQuickPreviewService, SaveFailuresPassOnAndLeaveNoEditFile) {
    VornTestMemoryProvider store("Server");
    const auto before = vornPreviewTemporaryFiles();
    const SledFileEntry entry = vornPreviewEntry("/srv/notes.txt");

    // A back end that finds a different digest on its side says so; the error comes through as it is.
    store.setScript(VornTestMemoryProvider::Operation::upload, "/srv/notes.txt",
                    {.error = std::make_exception_ptr(SledError::checksumMismatch("notes.txt", "aa", "bb"))});
    try {
        SledQuickPreviewService::saveEditedText("text", entry, store);
        ADD_FAILURE() << "no error";
    } catch (const SledError& error) {
        EXPECT_EQ(error.kind(), SledError::Kind::checksumMismatch);
        EXPECT_EQ(error.fileName(), "notes.txt");
    }
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);

    // Bytes that are not UTF-8 are no text: nothing is written or uploaded.
    const auto callsBefore = store.calls().size();
    EXPECT_THROW(SledQuickPreviewService::saveEditedText("caf\xc3", entry, store), std::invalid_argument);
    EXPECT_EQ(store.calls().size(), callsBefore);
    EXPECT_EQ(vornPreviewTemporaryFiles(), before);
}

TEST(SledQuickPreviewService, SaveThroughTheLocalProviderThenPreviewAgain) {
    VornTestTempDir dir;
    const fs::path file = dir.write("Dockerfile", "FROM debian:12\n");
    const LocalFileProvider provider;
    const std::string text = "FROM debian:12\nRUN apt-get update\u2028\n";
    const SledFilePreviewResult saved = SledQuickPreviewService::saveEditedText(text, vornPreviewEntry(file.string()), provider);
    EXPECT_EQ(vornReadFile(file), text);
    EXPECT_EQ(saved.payload, SledPreviewPayload::text(text, 4, false));

    SledFilePreviewResult loaded = SledQuickPreviewService::loadPreview(vornPreviewEntry(file.string()), provider);
    EXPECT_EQ(loaded.readState.sizeBytes, static_cast<std::int64_t>(text.size()));
    loaded.readState = {};  // the save describes the text, not the file's state on disk
    EXPECT_EQ(loaded, saved);
}

TEST(SledQuickPreviewService, TemporaryNamesAreSafeAndFitTheFileSystem) {
    struct Case {
        std::string entryName;
        std::string safe;
    } cases[] = {
        {"report.pdf", "report.pdf"},
        {"..\\..\\windows\\evil.exe", "evil.exe"},
        {"a:b*c?.txt", "a_b_c_.txt"},
        {"", "sleded-file.bin"},
        {"...", "sleded-file.bin"},
    };
    for (const Case& c : cases) {
        const std::string name = SledQuickPreviewService::previewCopyName(c.entryName);
        const auto parsed = parseTemporaryName(name);
        ASSERT_TRUE(parsed) << name;
        EXPECT_EQ(parsed->kind, "preview");
        EXPECT_EQ(parsed->safeName, c.safe);
    }
    EXPECT_NE(SledQuickPreviewService::editFileName("x"), SledQuickPreviewService::editFileName("x"));

    // A long name (each "ş" two bytes) is cut on a character boundary so that the file, and the
    // sibling the edit file is first written to, fit in 255 bytes.
    std::string longName;
    for (int i = 0; i < 200; ++i) {
        longName += "ş";
    }
    const std::string preview = SledQuickPreviewService::previewCopyName(longName);
    EXPECT_LE(preview.size(), 255u);
    EXPECT_GE(preview.size(), 254u);
    EXPECT_LE(SledQuickPreviewService::editFileName(longName).size(), 255u - 8);

    VornTestMemoryProvider store;
    store.addFile("/long/" + longName, "x");
    const SledFileEntry entry = vornPreviewEntry("/long/" + longName);
    EXPECT_EQ(SledQuickPreviewService::loadPreview(entry, store).payload, SledPreviewPayload::text("x", 1, false));
    EXPECT_EQ(SledQuickPreviewService::saveEditedText("y", entry, store).sizeBytes, 1);
    EXPECT_EQ(store.file("/long/" + longName), "y");
}

// Saving from a preview of a file on this disk: the file keeps its permissions, and a change made
// after the preview opened (same size, only the time moved) refuses the save and stays.
TEST(SledQuickPreviewService, ALocalSaveKeepsTheModeAndRefusesOverAChangeMadeSinceThePreview) {
    const VornTestTempDir folder;
    const fs::path script = folder.write("script.sh", "#!/bin/sh\necho one\n");
    fs::permissions(script, static_cast<fs::perms>(0755), fs::perm_options::replace);
    const LocalFileProvider provider;
    const SledFileEntry entry = vornPreviewEntry(script.string(), 20);
    const SledFilePreviewResult opened = SledQuickPreviewService::loadPreview(entry, provider);
    EXPECT_EQ(opened.readState.mode, 0755u);

    SledQuickPreviewService::saveEditedText("#!/bin/sh\necho two\n", entry, provider, {}, &opened);
    EXPECT_EQ(vornReadFile(script), "#!/bin/sh\necho two\n");
    EXPECT_EQ(static_cast<unsigned>(fs::status(script).permissions()) & 07777, 0755u);

    const SledFilePreviewResult reopened = SledQuickPreviewService::loadPreview(entry, provider);
    vornWriteFileAtomically(script, "#!/bin/sh\necho TWO\n", 0755);  // another program's edit, same size
    EXPECT_THROW(SledQuickPreviewService::saveEditedText("mine\n", entry, provider, {}, &reopened),
                 SledPreviewChangedError);
    EXPECT_EQ(vornReadFile(script), "#!/bin/sh\necho TWO\n");
}

// A link previewed on this disk shows its file; the saved edit goes to that file, and the link
// stays a link leading there.
TEST(SledQuickPreviewService, ALocalSaveThroughALinkEditsItsFileAndKeepsTheLink) {
    const VornTestTempDir folder;
    const fs::path real = folder.write("dotfiles/app.conf", "port 1\n");
    fs::permissions(real, static_cast<fs::perms>(0640), fs::perm_options::replace);
    const fs::path link = folder / "app.conf";
    fs::create_symlink("dotfiles/app.conf", link);
    const LocalFileProvider provider;
    const SledFileEntry entry = vornPreviewEntry(link.string(), 7);
    const SledFilePreviewResult opened = SledQuickPreviewService::loadPreview(entry, provider);

    SledQuickPreviewService::saveEditedText("port 2\n", entry, provider, {}, &opened);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("dotfiles/app.conf"));
    EXPECT_EQ(vornReadFile(real), "port 2\n");
    EXPECT_EQ(static_cast<unsigned>(fs::status(real).permissions()) & 07777, 0640u);
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder / "dotfiles")) names.push_back(item.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"app.conf"});  // no copy left beside it
}
