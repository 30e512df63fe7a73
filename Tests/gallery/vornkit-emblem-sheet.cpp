// The emblems' contact sheet: every application's emblem in white glass on the window ground and in
// a flat tone on a light card, at 256 and 64 pixels, in one PNG for a person to review.

#include "VornAppIdentity.h"
#include "VornEmblemRenderer.h"
#include "VornPainting.h"
#include "VornTestUI.h"
#include "VornTypography.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int big = 256;
constexpr int small = 64;
constexpr int pad = 14;
constexpr int labelHeight = 28;
constexpr int cellWidth = pad + big + pad + big + pad + small + pad;
constexpr int cellHeight = labelHeight + big + pad;
constexpr int columns = 5;

// A flat pair per family, so the sheet also shows how the drawings read in two colours.
VornEmblemTone flatTone(VornAppFamily family) {
    switch (family) {
        case VornAppFamily::productivity: return VornEmblemTone::flatLight(QColor(0x2F, 0x5B, 0xE8), QColor(0xFF, 0x8A, 0x3D));
        case VornAppFamily::media: return VornEmblemTone::flatLight(QColor(0x7A, 0x3C, 0xF0), QColor(0xF0, 0x3E, 0x8C));
        case VornAppFamily::systemAndNetwork:
            return VornEmblemTone::flatLight(QColor(0x0C, 0x7C, 0x6E), QColor(0xF5, 0xA0, 0x1A));
    }
    return VornEmblemTone::flatLight(Qt::black, Qt::gray);
}

// The flat drawing at `pixels`, with the renderer's framing of the design space.
QImage flatImage(VornAppIdentity identity, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double s = 0.88 * pixels / 60.0;
    painter.translate(pixels / 2.0, pixels / 2.0);
    painter.scale(s, s);
    painter.translate(-50, -50);
    VornEmblemRenderer::drawFlatEmblem(identity, painter, flatTone(VornAppIdentities::info(identity).family));
    return image;
}

QImage glassImage(VornAppIdentity identity, int pixels) {
    return QImage::fromData(VornEmblemRenderer::pngData(identity, pixels), "PNG");
}

void paintCell(QPainter& painter, const QRect& cell, const VornAppIdentityInfo& info) {
    const QRect glassBig(cell.left() + pad, cell.top() + labelHeight, big, big);
    const QRect flatBig(glassBig.right() + 1 + pad, glassBig.top(), big, big);
    const QRect glassSmall(flatBig.right() + 1 + pad, glassBig.top() + 40, small, small);
    const QRect flatSmall(glassSmall.left(), glassSmall.bottom() + 1 + pad + 30, small, small);

    painter.setPen(QColor(255, 255, 255, 235));
    painter.setFont(vornFont(15, QFont::DemiBold));
    painter.drawText(QRect(cell.left() + pad, cell.top(), cellWidth - 2 * pad, labelHeight),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("%1  %2").arg(int(info.identity)).arg(QString::fromUtf8(info.displayName.data(),
                                                                                            qsizetype(info.displayName.size()))));

    vornPaintGlassRoundedRect(painter, glassBig, 28, QColor(255, 255, 255, 14), QColor(255, 255, 255, 36));
    painter.drawImage(glassBig, glassImage(info.identity, big));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xF7, 0xF8, 0xFB));
    painter.drawRoundedRect(flatBig, 28, 28);
    painter.drawImage(flatBig, flatImage(info.identity, big));

    vornPaintGlassRoundedRect(painter, glassSmall.adjusted(-6, -6, 6, 6), 12, QColor(255, 255, 255, 14),
                              QColor(255, 255, 255, 36));
    painter.drawImage(glassSmall, glassImage(info.identity, small));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xF7, 0xF8, 0xFB));
    painter.drawRoundedRect(flatSmall.adjusted(-6, -6, 6, 6), 12, 12);
    painter.drawImage(flatSmall, flatImage(info.identity, small));
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QT_SCALE_FACTOR", "1", 1);
    QApplication application(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));

    const QString target = argc > 1 ? QString::fromLocal8Bit(argv[1]) : vornArtefactsDirectory();
    if (!QDir().mkpath(target)) {
        std::fprintf(stderr, "vornkit-emblem-sheet: cannot create %s\n", qPrintable(target));
        return 1;
    }
    const auto& catalogue = VornAppIdentities::catalogue();
    const int rows = (int(catalogue.size()) + columns - 1) / columns;
    QImage sheet(columns * cellWidth + pad, rows * cellHeight + pad, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    vornPaintGround(painter, QRectF(sheet.rect()), VornProductPalette::deepCoral);
    for (std::size_t index = 0; index < catalogue.size(); ++index) {
        const int column = int(index) % columns;
        const int row = int(index) / columns;
        paintCell(painter, QRect(pad / 2 + column * cellWidth, pad / 2 + row * cellHeight, cellWidth, cellHeight),
                  catalogue[index]);
    }
    painter.end();
    const QString path = QDir(target).filePath(QStringLiteral("emblem-sheet.png"));
    if (!sheet.save(path, "PNG")) {
        std::fprintf(stderr, "vornkit-emblem-sheet: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s\n", qPrintable(path));
    return 0;
}
