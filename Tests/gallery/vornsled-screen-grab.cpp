// Saves the X screen as a PNG: vornsled-screen-grab OUT.png [X Y WIDTH HEIGHT], the whole screen
// or the given part of it, in the screen's pixels. The screenshots script runs it beside the real
// program on the same virtual display.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: vornsled-screen-grab OUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "no screen\n");
        return 1;
    }
    QPixmap shot = screen->grabWindow(0);
    if (argc == 6) {
        const QRect part(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
        if (part.isEmpty()) {
            std::fprintf(stderr, "an empty part of the screen\n");
            return 2;
        }
        const double ratio = shot.devicePixelRatio();
        shot = shot.copy(QRect(part.topLeft() * ratio, part.size() * ratio));
    }
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
