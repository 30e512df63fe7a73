#include "VornTestImageProbe.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

VornTestImageProbe::VornTestImageProbe() : previous_(SledImageProbe::install(&VornTestImageProbe::probe)) {}

VornTestImageProbe::~VornTestImageProbe() {
    SledImageProbe::install(std::move(previous_));
}

std::optional<SledImagePixelSize> VornTestImageProbe::probe(std::span<const std::byte> bytes) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QImageReader reader(&buffer);
    // A header alone proves little: the bytes count as an image only when they decode whole.
    const QImage image = reader.read();
    if (image.isNull()) {
        return std::nullopt;
    }
    return SledImagePixelSize{image.width(), image.height()};
}

std::string VornTestImageProbe::encodedImage(int width, int height, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 40 % 256, y * 60 % 256, 128));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image)) {
        return {};
    }
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
