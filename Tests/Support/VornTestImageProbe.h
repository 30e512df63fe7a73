#pragma once

#include "SledImageProbe.h"

#include <string>

// The image probe that the application installs, made from QtGui's QImageReader (with the format
// plugins of the system), for core tests that need real decoding. Installed for the life of the
// object; the probe before it comes back afterwards.
class VornTestImageProbe {
public:
    VornTestImageProbe();
    ~VornTestImageProbe();
    VornTestImageProbe(const VornTestImageProbe&) = delete;
    VornTestImageProbe& operator=(const VornTestImageProbe&) = delete;

    // Decodes `bytes` fully; the size in pixels when they are an image.
    static std::optional<SledImagePixelSize> probe(std::span<const std::byte> bytes);

    // The bytes of a real `width` × `height` image in `format` ("PNG", "TIFF", "WEBP", ...),
    // encoded by Qt; empty when Qt cannot write that format.
    static std::string encodedImage(int width, int height, const char* format);

private:
    SledImageProbe::Function previous_;
};
