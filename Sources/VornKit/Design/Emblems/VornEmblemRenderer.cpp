#include "VornEmblemRenderer.h"

#include "VornEmblemArtworkMedia.h"
#include "VornEmblemArtworkProductivity.h"
#include "VornEmblemArtworkSystemNet.h"
#include "VornFlatDraw.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

// The renderer's one shared store: least recently used images go first once the limit is reached.
class EmblemImageCache {
public:
    std::shared_ptr<const VornEmblemImage> find(const QString& key) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(key.toStdString());
        if (found == entries_.end()) {
            return nullptr;
        }
        order_.splice(order_.begin(), order_, found->second.second);
        return found->second.first;
    }

    // Keeps the first image stored under a key, so racing callers end up with the same one.
    std::shared_ptr<const VornEmblemImage> insert(const QString& key, std::shared_ptr<const VornEmblemImage> image) {
        const std::lock_guard lock(mutex_);
        const std::string name = key.toStdString();
        if (const auto found = entries_.find(name); found != entries_.end()) {
            return found->second.first;
        }
        order_.push_front(name);
        entries_.emplace(name, std::make_pair(image, order_.begin()));
        while (entries_.size() > std::size_t(VornEmblemRenderer::cacheLimit)) {
            entries_.erase(order_.back());
            order_.pop_back();
        }
        return image;
    }

private:
    std::mutex mutex_;
    std::list<std::string> order_;
    std::unordered_map<std::string,
                       std::pair<std::shared_ptr<const VornEmblemImage>, std::list<std::string>::iterator>>
        entries_;
};

EmblemImageCache& emblemCache() {
    static EmblemImageCache cache;
    return cache;
}

// The fourth media identity is drawn here from the shared screen: a play triangle and a dot.
void drawInlineMediaEmblem(QPainter& painter, const VornEmblemTone& tone) {
    VornFlatDraw::displayFrame(painter, tone);
    QPainterPath triangle(QPointF(44, 36.5));
    triangle.lineTo(60, 44.5);
    triangle.lineTo(44, 52.5);
    triangle.closeSubpath();
    VornEmblemPaint::fill(painter, triangle, tone.primary());
    VornEmblemPaint::fillEllipse(painter, QRectF(27.8, 30.3, 6.4, 6.4), tone.accent());
}

bool drawMediaEmblem(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone) {
    using I = VornAppIdentity;
    using M = VornEmblemArtworkMedia;
    switch (identity) {
        case I::vornPhotos: M::drawVornPhotos(painter, tone); return true;
        case I::vornFrame: M::drawVornFrame(painter, tone); return true;
        case I::vornCut: M::drawVornCut(painter, tone); return true;
        case I::vornSound: drawInlineMediaEmblem(painter, tone); return true;
        case I::vornPodcast: M::drawVornPodcast(painter, tone); return true;
        case I::vornRadio: M::drawVornRadio(painter, tone); return true;
        case I::vornCast: M::drawVornCast(painter, tone); return true;
        case I::vornShot: M::drawVornShot(painter, tone); return true;
        case I::vornPixel: M::drawVornPixel(painter, tone); return true;
        case I::vornVector: M::drawVornVector(painter, tone); return true;
        case I::vornColor: M::drawVornColor(painter, tone); return true;
        case I::vornFonts: M::drawVornFonts(painter, tone); return true;
        case I::vornIcons: M::drawVornIcons(painter, tone); return true;
        case I::vornLoop: M::drawVornLoop(painter, tone); return true;
        case I::vornSubtitle: M::drawVornSubtitle(painter, tone); return true;
        case I::vornTune: M::drawVornTune(painter, tone); return true;
        default: return false;
    }
}

}  // namespace

bool VornEmblemRenderer::drawFlatEmblem(VornAppIdentity identity, QPainter& painter, const VornEmblemTone& tone) {
    if (VornEmblemArtworkProductivity::draw(identity, painter, tone)) {
        return true;
    }
    if (drawMediaEmblem(identity, painter, tone)) {
        return true;
    }
    return VornEmblemArtworkSystemNet::draw(identity, painter, tone);
}

QImage VornEmblemRenderer::makeBitmapRep(VornAppIdentity identity, int pixelSize) {
    if (pixelSize <= 0 || pixelSize > maximumPixelSize) {
        return {};
    }
    QImage bitmap(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull()) {
        return {};
    }
    // The bitmap starts empty, so it serves as the transparent layer: a cutout erases only the
    // emblem drawn so far.
    bitmap.fill(Qt::transparent);
    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const double n = pixelSize;
    const double s = 0.88 * n / 60.0;
    painter.translate(n / 2, n / 2);
    painter.scale(s, s);
    painter.translate(-50, -50);
    drawFlatEmblem(identity, painter, VornEmblemTone::whiteGlass());
    painter.end();
    return bitmap;
}

QString VornEmblemRenderer::cacheKey(VornAppIdentity identity, int pixelSize, bool asTemplate) {
    return QString::fromUtf8(rawValue(identity).data(), qsizetype(rawValue(identity).size())) + QLatin1Char('_') +
           QString::number(pixelSize) + QLatin1Char('_') +
           (asTemplate ? QStringLiteral("tpl") : QStringLiteral("glass"));
}

std::shared_ptr<const VornEmblemImage> VornEmblemRenderer::image(VornAppIdentity identity, double pointSize,
                                                                 double scale, bool asTemplate) {
    if (!std::isfinite(pointSize)) {
        return std::make_shared<const VornEmblemImage>();
    }
    const double points = std::max(pointSize, 10.0);
    // A scale that is not a number draws at 1; infinities are held like any other scale.
    const double held = std::isnan(scale) ? 1.0 : std::clamp(scale, 1.0, 3.0);
    const double wanted = points * held;
    if (wanted > double(maximumPixelSize)) {
        return std::make_shared<const VornEmblemImage>();
    }
    const int pixels = std::max(int(std::lround(wanted)), 16);
    const QString key = cacheKey(identity, pixels, asTemplate);
    if (auto cached = emblemCache().find(key)) {
        return cached;
    }
    auto made = std::make_shared<VornEmblemImage>();
    made->bitmap = makeBitmapRep(identity, pixels);
    if (made->bitmap.isNull()) {
        return std::make_shared<const VornEmblemImage>();
    }
    made->bitmap.setDevicePixelRatio(double(pixels) / points);
    made->pointSize = points;
    made->isTemplate = asTemplate;
    return emblemCache().insert(key, std::move(made));
}

QByteArray VornEmblemRenderer::pngData(VornAppIdentity identity, int pixelSize) {
    const QImage bitmap = makeBitmapRep(identity, pixelSize);
    if (bitmap.isNull()) {
        return {};
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !bitmap.save(&buffer, "PNG")) {
        return {};
    }
    return bytes;
}

VornAppEmblem::VornAppEmblem(VornAppIdentity app, double size, bool asTemplate, QWidget* parent)
    : QWidget(parent), app_(app), size_(std::isfinite(size) && size > 0 ? size : 0), asTemplate_(asTemplate) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
}

std::shared_ptr<const VornEmblemImage> VornAppEmblem::emblemImage() const {
    return VornEmblemRenderer::image(app_, size_, 2, asTemplate_);
}

QSize VornAppEmblem::sizeHint() const {
    const int side = int(std::ceil(size_));
    return QSize(side, side);
}

void VornAppEmblem::paintEmblem(QPainter& painter, const QRectF& rect, VornAppIdentity app, double size,
                                bool asTemplate, const QColor& tint) {
    if (!rect.isValid() || !std::isfinite(rect.width()) || !std::isfinite(rect.height())) {
        return;
    }
    const auto image = VornEmblemRenderer::image(app, size, 2, asTemplate);
    if (image->isEmpty()) {
        return;
    }
    QImage shown = image->bitmap;
    shown.setDevicePixelRatio(1);  // drawn by its pixels into `rect`
    if (image->isTemplate) {
        // The emblem's alpha masks the foreground colour.
        QImage tinted(shown.size(), QImage::Format_ARGB32_Premultiplied);
        tinted.fill(Qt::transparent);
        QPainter mask(&tinted);
        mask.drawImage(QPointF(0, 0), shown);
        mask.setCompositionMode(QPainter::CompositionMode_SourceIn);
        mask.fillRect(tinted.rect(), tint);
        mask.end();
        shown = tinted;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawImage(rect, shown, QRectF(QPointF(0, 0), QSizeF(shown.size())));
    painter.restore();
}

void VornAppEmblem::paintEvent(QPaintEvent*) {
    const double side = std::min({double(width()), double(height()), size_});
    if (side <= 0) {
        return;
    }
    QPainter painter(this);
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    paintEmblem(painter, square, app_, size_, asTemplate_, palette().color(foregroundRole()));
}
