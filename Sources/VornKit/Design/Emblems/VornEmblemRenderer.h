#pragma once

#include "VornAppIdentity.h"
#include "VornEmblemTone.h"

#include <QByteArray>
#include <QImage>
#include <QWidget>

#include <memory>

class QPainter;

// One rasterised emblem: the bitmap (its device pixel ratio maps its pixels onto `pointSize`
// points) and whether it is meant as a template, whose alpha masks the surrounding foreground
// colour. An empty image (null bitmap) stands for a size that cannot be drawn.
struct VornEmblemImage {
    QImage bitmap;
    double pointSize = 0;
    bool isTemplate = false;

    bool isEmpty() const { return bitmap.isNull(); }
};

// Turns an application identity into its emblem: picks the drawing from the three artwork
// families, rasterises it in white glass into a transparent square bitmap, caches the image and
// encodes PNG. The design space is 100 units square with y growing downward, the point (50, 50) at
// the bitmap's centre and the central 60 units spanning 88 % of the side.
struct VornEmblemRenderer {
    // The largest side a bitmap may have: a bigger one (16384² × 4 bytes would be a gigabyte) gives
    // an empty image rather than a failed or runaway allocation.
    static constexpr int maximumPixelSize = 8192;

    // Draws the identity into the painter as it finds it (no clearing, scaling or clipping); false
    // when no family has a drawing for it.
    static bool drawFlatEmblem(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone);

    // The cached image: the point size is at least 10, the scale is held to 1…3, the bitmap has
    // round(points × scale) pixels, at least 16. Requests that land on the same pixel size and
    // template flag share one image. A point size that is not finite, or a bitmap too large to
    // allocate, gives an empty image (never cached).
    static std::shared_ptr<const VornEmblemImage> image(VornAppIdentity identity, double pointSize, double scale,
                                                        bool asTemplate);

    // PNG bytes of the emblem at exactly `pixelSize` (no cache); empty for a size at or below zero,
    // above the maximum, or when encoding fails.
    static QByteArray pngData(VornAppIdentity identity, int pixelSize);

    // The key under which `image` caches a pixel size and template flag.
    static QString cacheKey(VornAppIdentity identity, int pixelSize, bool asTemplate);
    // How many images the cache may hold.
    static constexpr int cacheLimit = 256;

private:
    // A transparent, premultiplied n × n bitmap with the emblem in white glass; null when n is out
    // of range or the memory cannot be had.
    static QImage makeBitmapRep(VornAppIdentity identity, int pixelSize);
};

// Shows one emblem at `size` points, rendered at scale 2 and scaled smoothly into its square. As a
// template it shows the emblem's shape in the widget's foreground colour.
class VornAppEmblem : public QWidget {
public:
    VornAppEmblem(VornAppIdentity app, double size, bool asTemplate, QWidget* parent = nullptr);

    VornAppIdentity app() const { return app_; }
    double emblemSize() const { return size_; }
    bool asTemplate() const { return asTemplate_; }
    // The image the widget shows.
    std::shared_ptr<const VornEmblemImage> emblemImage() const;

    // Draws the emblem into `rect` the way the widget does; a template takes `tint` for its colour.
    static void paintEmblem(QPainter& painter, const QRectF& rect, VornAppIdentity app, double size, bool asTemplate,
                            const QColor& tint);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VornAppIdentity app_;
    double size_;
    bool asTemplate_;
};
