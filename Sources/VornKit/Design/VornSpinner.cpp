#include "VornSpinner.h"

#include "VornGlassTokens.h"

#include <QConicalGradient>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

VornSpinner::VornSpinner(int diameter, QWidget* parent)
    : QWidget(parent), diameter_(std::max(1, diameter)), color_(VornGlassTokens::textPrimary()), timer_(new QTimer(this)) {
    timer_->setInterval(16);
    connect(timer_, &QTimer::timeout, this, [this] { setAngle(angle_ - 6.0); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
}

void VornSpinner::setDiameter(int diameter) {
    diameter_ = std::max(1, diameter);
    updateGeometry();
    update();
}

void VornSpinner::setColor(const QColor& color) {
    color_ = color;
    update();
}

void VornSpinner::start() {
    running_ = true;
    syncTimer();
}

void VornSpinner::stop() {
    running_ = false;
    syncTimer();
}

void VornSpinner::setAngle(double degrees) {
    angle_ = std::isfinite(degrees) ? std::fmod(degrees, 360.0) : 0.0;
    update();
}

QSize VornSpinner::sizeHint() const { return QSize(diameter_, diameter_); }

void VornSpinner::showEvent(QShowEvent*) { syncTimer(); }
void VornSpinner::hideEvent(QHideEvent*) { syncTimer(); }

void VornSpinner::syncTimer() {
    if (running_ && isVisible()) {
        timer_->start();
    } else {
        timer_->stop();
    }
}

void VornSpinner::paintEvent(QPaintEvent*) {
    const double side = std::min(width(), height());
    if (side < 2) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double lineWidth = std::max(1.5, side / 8.0);
    const QRectF circle(QRectF(rect()).center().x() - side / 2 + lineWidth / 2,
                        QRectF(rect()).center().y() - side / 2 + lineWidth / 2, side - lineWidth, side - lineWidth);
    QColor track = color_;
    track.setAlphaF(track.alphaF() * 0.18f);
    painter.setPen(QPen(track, lineWidth));
    painter.drawEllipse(circle);

    // The arc fades towards its tail, which reads as motion even in a still picture.
    QConicalGradient sweep(circle.center(), angle_);
    QColor head = color_;
    QColor tail = color_;
    tail.setAlphaF(0.0f);
    sweep.setColorAt(0.0, head);
    sweep.setColorAt(0.72, tail);
    sweep.setColorAt(1.0, tail);
    QPen arc(QBrush(sweep), lineWidth, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    // Counter-clockwise from the head, so the tail trails behind the clockwise turn.
    painter.drawArc(circle, int(angle_ * 16), int(0.72 * 360 * 16));
}
