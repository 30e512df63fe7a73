#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// What the preview sheet shows for one file: its text, its image, or a hex dump of its first bytes.
// Two payloads are equal when they are the same kind with equal values (image bytes compared byte
// by byte).
class SledPreviewPayload {
public:
    enum class Kind { text, image, binary };

    // The decoded text of the file's first bytes.
    struct Text {
        std::string content;  // valid UTF-8
        std::int64_t lineCount = 0;
        bool isTruncated = false;  // the file holds more than the text shows
        friend bool operator==(const Text&, const Text&) = default;
    };
    // A decodable image: the whole file and its size in pixels.
    struct Image {
        std::vector<std::byte> data;
        std::int64_t width = 0;
        std::int64_t height = 0;
        friend bool operator==(const Image&, const Image&) = default;
    };
    // A hex dump of the file's first bytes.
    struct Binary {
        std::string hexPreview;
        friend bool operator==(const Binary&, const Binary&) = default;
    };

    static SledPreviewPayload text(std::string content, std::int64_t lineCount, bool isTruncated) {
        return SledPreviewPayload(Text{std::move(content), lineCount, isTruncated});
    }
    static SledPreviewPayload image(std::vector<std::byte> data, std::int64_t width, std::int64_t height) {
        return SledPreviewPayload(Image{std::move(data), width, height});
    }
    static SledPreviewPayload binary(std::string hexPreview) {
        return SledPreviewPayload(Binary{std::move(hexPreview)});
    }

    Kind kind() const noexcept { return static_cast<Kind>(value_.index()); }
    // The values of the payload's own kind; nullptr for the other kinds.
    const Text* asText() const noexcept { return std::get_if<Text>(&value_); }
    const Image* asImage() const noexcept { return std::get_if<Image>(&value_); }
    const Binary* asBinary() const noexcept { return std::get_if<Binary>(&value_); }

    friend bool operator==(const SledPreviewPayload&, const SledPreviewPayload&) = default;

private:
    // The alternatives stand in the order of Kind.
    using Value = std::variant<Text, Image, Binary>;
    explicit SledPreviewPayload(Value value) : value_(std::move(value)) {}

    Value value_;
};

// How a preview found the file, beyond its digest, so that a save can tell whether anyone changed
// it since and can give it back its permissions. Each back end fills what it can tell.
struct SledPreviewReadState {
    std::optional<std::string> eTag;                  // object storage: the object's entity tag
    std::optional<std::int64_t> sizeBytes;            // this disk: the size ...
    std::optional<std::int64_t> modifiedNanoseconds;  // ... and the modification time, to the nanosecond
    std::optional<unsigned> mode;                     // the permission bits (0777 at most)
    friend bool operator==(const SledPreviewReadState&, const SledPreviewReadState&) = default;
};

// One previewed or saved file: where it is, how big, its SHA-256, and what to show.
struct SledFilePreviewResult {
    std::string fileName;    // the entry's name
    std::string fullPath;    // the entry's path
    std::string sourceName;  // the provider's display name
    std::int64_t sizeBytes = 0;  // of the file that was read or written
    std::string sha256Hex;   // lower-case hexadecimal SHA-256 of that file
    SledPreviewPayload payload = SledPreviewPayload::text({}, 0, false);
    SledPreviewReadState readState;

    friend bool operator==(const SledFilePreviewResult&, const SledFilePreviewResult&) = default;
};
