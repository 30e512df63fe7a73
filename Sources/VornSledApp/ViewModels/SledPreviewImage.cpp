#include "SledPreviewImage.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

QImage sledDecodePreviewImage(std::span<const std::byte> bytes) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return {};
    }
    QImageReader reader(&buffer);
    reader.setAllocationLimit(sledPreviewImageAllocationLimitMB);
    return reader.read();
}
