#pragma once

// Helpers for interface tests (header-only: only tests that link Qt include it).

#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdlib>
#include <string>

// Renders the widget (resized to `size`, or to its size hint) into an opaque black image, so
// translucent fills have known values: white at opacity a reads as 255 * a in every channel.
inline QImage vornRenderOnBlack(QWidget& widget, QSize size = QSize()) {
    widget.ensurePolished();
    widget.resize(size.isValid() ? size : widget.sizeHint());
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The folder of the pictures a person can look at after a run.
inline QString vornArtefactsDirectory() {
#ifdef VORN_TEST_ARTEFACTS_DIR
    return QStringLiteral(VORN_TEST_ARTEFACTS_DIR);
#else
    return QDir::current().filePath(QStringLiteral("artefacts"));
#endif
}

// Saves `image` as <artefacts>/<name>.png and returns the path (empty when it could not be written).
inline QString vornSaveArtefact(const QImage& image, const QString& name) {
    const QString directory = vornArtefactsDirectory();
    if (!QDir().mkpath(directory)) {
        return {};
    }
    const QString path = QDir(directory).filePath(name + QStringLiteral(".png"));
    return image.save(path, "PNG") ? path : QString();
}

// Each channel within `tolerance` of the expected colour (alpha ignored: the image is opaque).
inline bool vornColorNear(const QColor& actual, const QColor& expected, int tolerance = 2) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// What white at `opacity` over black reads as.
inline QColor vornWhiteOverBlack(double opacity) {
    const int level = int(opacity * 255.0 + 0.5);
    return QColor(level, level, level);
}
