// Prints the text a picture shows, read by the framework's text recognition:
//   vornsled-picture-text PICTURE.png
// The screenshots script uses it to check that each picture shows what its name says. The
// interface is light text on a dark ground; the recognizer reads dark on light, so the picture is
// turned to black text on white and, when small, doubled first.
#include "VornVisionServices.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vornsled-picture-text PICTURE.png\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    QImage picture(QString::fromLocal8Bit(argv[1]));
    if (picture.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    // Light text becomes black on white; the ground's gradient and glass turn white.
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
    try {
        const VornOCRResult result = VornVisionServices::recognizeText(bitmap, {"eng", "tur"}, false);
        std::fputs(result.fullText().c_str(), stdout);
        std::fputc('\n', stdout);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
