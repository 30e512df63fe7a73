// Prints the text a picture shows, read by the framework's text recognition:
//   vornsled-picture-text PICTURE.png
// The screenshots script uses it to check that each picture shows what its name says.
#include "VornTestPictureText.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vornsled-picture-text PICTURE.png\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    const QImage picture(QString::fromLocal8Bit(argv[1]));
    if (picture.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    try {
        std::fputs(vornPictureText(picture).c_str(), stdout);
        std::fputc('\n', stdout);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
