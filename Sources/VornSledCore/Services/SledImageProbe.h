#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

// The size in pixels of a decoded bitmap image.
struct SledImagePixelSize {
    std::int64_t width = 0;
    std::int64_t height = 0;

    friend bool operator==(const SledImagePixelSize&, const SledImagePixelSize&) = default;
};

// The one question the core asks of image decoding: do these bytes decode as a bitmap image, and to
// what size? The core links no toolkit, so whoever has a decoder (the application, on its toolkit's
// image reader) installs a probe here once at start-up. Until then nothing counts as an image.
class SledImageProbe {
public:
    // Gives the pixel size when `bytes` decode, nothing when they do not. It is called from any
    // thread, by several at once, and should not throw: bytes that are not an image are not an error.
    using Function = std::function<std::optional<SledImagePixelSize>(std::span<const std::byte> bytes)>;

    // Installs `probe` for the whole process in place of the one before, which is returned (so a
    // caller can put it back). An empty function removes the probe.
    static Function install(Function probe);

    // True while a probe is installed.
    static bool isInstalled();

    // What the installed probe says of `bytes`. Nothing without a probe, and nothing when the probe
    // reports a width or height below 1: an image without pixels cannot be shown.
    static std::optional<SledImagePixelSize> probe(std::span<const std::byte> bytes);
};
