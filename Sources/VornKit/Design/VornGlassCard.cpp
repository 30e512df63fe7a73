#include "VornGlassCard.h"

#include "VornGlassTokens.h"
#include "VornPainting.h"

#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

int margin(double padding) { return std::isfinite(padding) && padding > 0 ? int(std::lround(padding)) : 0; }

}  // namespace

VornGlassCard::VornGlassCard(double padding, double cornerRadius, QWidget* parent)
    : QWidget(parent), padding_(padding), cornerRadius_(cornerRadius), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(margin(padding), margin(padding), margin(padding), margin(padding));
    layout_->setSpacing(8);
}

void VornGlassCard::setPadding(double padding) {
    padding_ = padding;
    layout_->setContentsMargins(margin(padding), margin(padding), margin(padding), margin(padding));
}

void VornGlassCard::setCornerRadius(double cornerRadius) {
    cornerRadius_ = cornerRadius;
    update();
}

void VornGlassCard::setContent(QWidget* content) {
    if (content_ == content) {
        return;
    }
    if (content_) {
        layout_->removeWidget(content_);
        content_->deleteLater();
    }
    content_ = content;
    if (content_) {
        layout_->addWidget(content_);
    }
}

void VornGlassCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    vornPaintGlassRoundedRect(painter, QRectF(rect()), cornerRadius_, VornGlassTokens::surface1(),
                              VornGlassTokens::borderSubtle());
}
