#pragma once

// The text a picture of the interface shows, read by the framework's text recognition. Only
// programs that link VornKitVision and QtGui include it.

#include "VornVisionServices.h"

#include <QImage>

#include <cstring>
#include <string>

// The interface is light text on a dark ground and the recognizer reads dark on light: the picture
// is turned to black text on white and, when small, doubled first. Throws VornVisionError when
// the recognizer cannot run.
inline std::string vornPictureText(QImage picture) {
    picture = picture.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            row[x] = row[x] > 150 ? 0 : 255;
        }
    }
    // Small interface text reads better at twice its size; a picture taken at scale 2 already is.
    if (picture.width() < 2000) {
        picture = picture.scaled(picture.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    picture = picture.convertToFormat(QImage::Format_RGBA8888);
    VornBitmapImage bitmap(picture.width(), picture.height());
    for (int y = 0; y < picture.height(); ++y) {
        std::memcpy(bitmap.pixels.data() + std::size_t(y) * bitmap.bytesPerRow, picture.constScanLine(y),
                    std::size_t(picture.width()) * 4);
    }
    return VornVisionServices::recognizeText(bitmap, {"eng", "tur"}, false).fullText();
}
