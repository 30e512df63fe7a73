#include "VornGroundBackground.h"

#include "VornPainting.h"

#include <QPainter>

VornGroundBackground::VornGroundBackground(VornProductPalette palette, QWidget* parent)
    : QWidget(parent), palette_(palette) {
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void VornGroundBackground::setPalette(VornProductPalette palette) {
    if (palette_ != palette) {
        palette_ = palette;
        update();
    }
}

void VornGroundBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    vornPaintGround(painter, QRectF(rect()), palette_);
}
